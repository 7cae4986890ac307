#pragma once
// The artwork generator's drawing: the editor's six images (background colour, its emissive
// mask, material, depth relief, skybox and logo) with our own drawing code and the plug-in's
// embedded fonts. tools/artgen encodes them as the files the plug-in embeds (tools/artgen/encode.h);
// the editor also draws the panel and the logo at run time for a scale it does not embed.
//   background colour     763 x 494 RGB
//   background emissive   763 x 494 grey: the emissive amount
//   background material   763 x 494 RGBA: roughness, metalness, specular, 255
//   background depth      763 x 494 grey height (the editor reads (R + G + B) / 3)
//   skybox                1024 x 768 RGB
//   logo                  64 x 56 RGBA, alpha = shape
// The same program version always produces the same bytes.
//
// Thread contract: any one thread per drawing (each call uses its own fonts and canvas); a drawing
// may be stopped early through `cancel`, and then returns nothing usable.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "korvo/core/nogc.h"
#include "korvo/graphics/font.h"
#include "korvo/graphics/image.h"

namespace velmora::artgen {

// Where a line of text was printed on the panel.
struct LabelRecord {
    std::string text;
    korvo::IntRect ink;           // window pixels
    std::int32_t capHeight = 0;   // pixels, as capHeightPixels measures it at the label's size
    bool isControlLabel = false;  // names a control (as opposed to titles, scale marks, glass marks)
};

struct Artwork {
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> color;     // alpha 255
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> emissive;  // grey, alpha 255
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> material;  // alpha 255
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> depth;     // grey, alpha 255
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> skybox;    // alpha 255
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> logo;      // alpha = shape
    std::vector<LabelRecord> labels;
};

// Draws everything with the embedded fonts; the panel and the logo at `scale`.
Artwork drawArtwork(float scale = 1.0f);
// The panel and the logo at `scale` with fonts of its own (no skybox): what the editor draws at
// run time. A set `cancel` stops it at the next row; the result is then incomplete.
Artwork drawScaledPanelAndLogo(float scale, const std::atomic<bool>* cancel = nullptr);

// Pieces, for tests and the preview. The panel and the logo at a scale are the same drawing at
// round(size x scale) pixels (labels' ink boxes in those pixels); the skybox has one size.
Artwork drawPanel(korvo::Font& labelFont, korvo::Font& titleFont, float scale = 1.0f,
                  const std::atomic<bool>* cancel = nullptr);  // fills color .. depth, labels
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> drawSkybox();
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> drawLogo(float scale = 1.0f);

}  // namespace velmora::artgen
