#pragma once
// The artwork's files: the drawings of effect/artwork encoded as the plug-in embeds them
// (stb_image_write, into memory), and written to a folder.
//
// Thread contract: [main-thread].

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "effect/artwork/artwork.h"

namespace velmora::artgen {

// The six files, in the order of artwork.h's list:
//   background_color.jpg     baseline JPEG (RGB)
//   background_emissive.png  PNG (RGB, grey)
//   background_material.png  PNG (RGBA)
//   background_depth.png     PNG (RGBA, grey)
//   skybox.jpg               baseline JPEG (RGB)
//   logo.png                 PNG (RGBA)
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
