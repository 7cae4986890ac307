#pragma once
// Preview of the artwork as the editor will show it: the effect's real editor (VelmoraGUI, its
// widgets at the parameters' defaults, the first subtitle) rendered through the headless window,
// with the background layers and the skybox decoded from the given files instead of the embedded
// ones (the logo stays the embedded one). Without widgets only the lit background and the colour
// correction remain; the widget, hint and slope boxes can be outlined on top.
//
// Thread contract: [main-thread].

#include "korvo/core/nogc.h"
#include "korvo/graphics/image.h"
#include "tools/artgen/encode.h"

namespace velmora::artgen {

struct PreviewOptions {
    bool widgets = true;    // show the editor's widgets
    bool outlines = false;  // outline widget boxes (magenta) and hint boxes (yellow)
};

korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> renderPreview(const EncodedArtwork& files,
                                                             const PreviewOptions& options);

// Nearest-neighbour enlargement of a part of an image (for looking at details).
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> enlarge(const korvo::ImageView<korvo::RGBA>& image,
                                                       korvo::IntRect part, std::int32_t factor);

}  // namespace velmora::artgen
