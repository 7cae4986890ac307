#pragma once
// Preview of the artwork as the editor will show it: the encoded files are decoded as the plug-in
// decodes them, the depth slopes and the editor's lighting set-up are applied, and the frame is
// lit by the real PBR compositor through GUIGraphics and the headless window, then colour
// corrected like the editor's last child. The widgets (knobs, sliders, switches, the radio set,
// the drop-down, the displays, the bow game, the logo and the subtitle) can be placed at their
// boxes with the editor's style settings and the parameters' defaults, and the widget and hint
// boxes outlined. (The value hints are left out: at rest they draw nothing.)
//
// Thread contract: [main-thread].

#include "korvo/core/nogc.h"
#include "korvo/graphics/image.h"
#include "tools/artgen/artwork.h"

namespace velmora::artgen {

struct PreviewOptions {
    bool widgets = true;    // place the editor's widgets
    bool outlines = false;  // outline widget boxes (magenta) and hint boxes (yellow)
};

korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> renderPreview(const EncodedArtwork& files,
                                                             const PreviewOptions& options);

// Nearest-neighbour enlargement of a part of an image (for looking at details).
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> enlarge(const korvo::ImageView<korvo::RGBA>& image,
                                                       korvo::IntRect part, std::int32_t factor);

}  // namespace velmora::artgen
