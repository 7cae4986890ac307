#pragma once
// Preview of the artwork as the editor will show it: the encoded files are decoded as the plug-in
// decodes them, the depth slopes and the editor's lighting set-up are applied, and the frame is
// lit by the real PBR compositor through GUIGraphics and the headless window, then colour
// corrected like the editor's last child. The effect's panorama and phase displays and simple
// stand-ins of the other widgets (knobs, sliders, switches, radio lights, the drop-down header,
// the bow game, the logo) can be drawn at their boxes, and the widget and hint boxes outlined.
//
// Thread contract: [main-thread].

#include "korvo/core/nogc.h"
#include "korvo/graphics/image.h"
#include "tools/artgen/artwork.h"

namespace velmora::artgen {

struct PreviewOptions {
    bool standIns = true;   // draw the widgets (displays real, the others as stand-ins)
    bool outlines = false;  // outline widget boxes (magenta) and hint boxes (yellow)
};

korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> renderPreview(const EncodedArtwork& files,
                                                             const PreviewOptions& options);

// Nearest-neighbour enlargement of a part of an image (for looking at details).
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> enlarge(const korvo::ImageView<korvo::RGBA>& image,
                                                       korvo::IntRect part, std::int32_t factor);

}  // namespace velmora::artgen
