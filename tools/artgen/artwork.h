#pragma once
// The artwork generator: draws the editor's six images (background colour, its emissive mask,
// material, depth relief, skybox and logo) with our own drawing code and the plug-in's embedded
// fonts, and encodes them as the files the plug-in embeds:
//   background_color.jpg     763 x 494 baseline JPEG (RGB)
//   background_emissive.png  763 x 494 PNG (RGB, grey: the emissive amount)
//   background_material.png  763 x 494 PNG (RGBA: roughness, metalness, specular, 255)
//   background_depth.png     763 x 494 PNG (RGBA: grey height, the editor reads (R + G + B) / 3)
//   skybox.jpg               1024 x 768 baseline JPEG (RGB)
//   logo.png                 64 x 56 PNG (RGBA, alpha = shape)
// The same program version always produces the same bytes.
//
// Thread contract: [main-thread].

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
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

// Pieces, for tests and the preview. The panel and the logo at a scale are the same drawing at
// round(size x scale) pixels (labels' ink boxes in those pixels); the skybox has one size.
Artwork drawPanel(korvo::Font& labelFont, korvo::Font& titleFont,
                  float scale = 1.0f);  // fills color .. depth, labels
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> drawSkybox();
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> drawLogo(float scale = 1.0f);

// The six files, in the order of the list above.
inline constexpr std::array<std::string_view, 6> kFileNames{"background_color.jpg",
                                                            "background_emissive.png",
                                                            "background_material.png",
                                                            "background_depth.png",
                                                            "skybox.jpg",
                                                            "logo.png"};
using EncodedArtwork = std::array<std::vector<std::uint8_t>, 6>;

// JPEG quality of the two photographs-like images.
inline constexpr int kJpegQuality = 94;

EncodedArtwork encodeArtwork(const Artwork& art);
// Writes the files into `directory`; false with a message when one cannot be written.
bool writeArtwork(const EncodedArtwork& files, const std::string& directory, std::string& error);

// The plug-in also embeds the panel and the logo drawn at twice the size (for HiDPI screens; the
// editor resamples the nearer set for other scales): these five files, the same formats.
inline constexpr float kScaledArtworkScale = 2.0f;
inline constexpr std::array<std::string_view, 5> kScaledFileNames{
    "background_color_2x.jpg", "background_emissive_2x.png", "background_material_2x.png",
    "background_depth_2x.png", "logo_2x.png"};
using EncodedScaledArtwork = std::array<std::vector<std::uint8_t>, 5>;
// `art` drawn at kScaledArtworkScale (its skybox is not used).
EncodedScaledArtwork encodeScaledArtwork(const Artwork& art);
bool writeScaledArtwork(const EncodedScaledArtwork& files, const std::string& directory, std::string& error);

// Encoders (stb_image_write, into memory).
std::vector<std::uint8_t> encodePNG(const korvo::ImageView<korvo::RGBA>& image, int components);
std::vector<std::uint8_t> encodeJPEG(const korvo::ImageView<korvo::RGBA>& image, int quality);

}  // namespace velmora::artgen
