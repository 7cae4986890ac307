#pragma once
// Pictures in tests: PNG files read back, and where two pictures differ, for every test that
// compares a rendered or captured picture with another (a golden file, the off-screen editor, a
// real window's screenshot). Link korvo_graphics (decoding).
//
//   const PictureDifference d = comparePictures(pixelsOf(shot), pixelsOf(expected->view()),
//   Channels::colour); EXPECT_EQ(d.differing, 0) << "first at " << d.firstX << "," << d.firstY;
//
// Header-only, so the test support library does not need korvo_graphics.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "korvo/graphics/decode.h"
#include "korvo/graphics/image.h"
#include "korvo/graphics/rect.h"

namespace korvo::test {

// Four bytes a pixel (red, green, blue, alpha), rows `pitch` bytes apart, owned elsewhere.
struct RGBAPixels {
    std::int32_t w = 0, h = 0;
    std::ptrdiff_t pitch = 0;
    const std::uint8_t* bytes = nullptr;

    const std::uint8_t* at(std::int32_t x, std::int32_t y) const noexcept {
        return bytes + y * pitch + x * 4;
    }
};

inline RGBAPixels pixelsOf(ImageView<RGBA> image) {
    return {image.w, image.h, image.pitch, reinterpret_cast<const std::uint8_t*>(image.pixels)};
}
// A decoded picture with four components.
inline RGBAPixels pixelsOf(const DecodedImage& image) {
    return {image.w, image.h, std::ptrdiff_t{image.w} * 4, image.pixels};
}
// Tightly packed rows, as a host's screenshot holds them.
inline RGBAPixels pixelsOf(std::int32_t w, std::int32_t h, const std::vector<std::uint8_t>& rgba) {
    return {w, h, std::ptrdiff_t{w} * 4, rgba.data()};
}

// A file's bytes; none when it cannot be read.
inline std::vector<std::uint8_t> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A PNG file decoded to four components; an empty picture when the file is missing (decodeImage
// ends the process on a damaged one).
inline DecodedImage readPNG(const std::string& path) {
    const std::vector<std::uint8_t> png = readFileBytes(path);
    if (png.empty()) return DecodedImage{};
    return decodeImage(png.data(), png.size(), 4);
}

// Which channels count: colour only (a window's picture carries no meaningful alpha) or all four.
enum class Channels { colour, colourAndAlpha };

struct PictureDifference {
    int worst = 0;      // largest difference of a compared channel (255 when the sizes differ)
    int differing = 0;  // pixels with any difference
    // The first pixel (in rows from the top) whose difference exceeds the comparison's `reportAbove`,
    // and by how much; -1 when none does.
    std::int32_t firstX = -1, firstY = -1;
    int firstBy = 0;
};

// Compares a and b pixel by pixel inside `box` (the whole picture unless given), leaving out the
// pixels of `skip` (a part that may differ, say a subtitle). Pictures of different sizes differ
// everywhere by 255.
inline PictureDifference comparePictures(RGBAPixels a, RGBAPixels b, Channels channels,
                                         IntRect box = IntRect{{0, 0}, {INT32_MAX, INT32_MAX}},
                                         IntRect skip = IntRect{}, int reportAbove = 0) {
    if (a.w != b.w || a.h != b.h) return PictureDifference{255, a.w * a.h, 0, 0, 255};
    const IntRect area = box.intersection(IntRect{{0, 0}, {a.w, a.h}});
    const int count = channels == Channels::colour ? 3 : 4;
    PictureDifference d;
    for (std::int32_t y = area.min.y; y < area.max.y; ++y)
        for (std::int32_t x = area.min.x; x < area.max.x; ++x) {
            if (skip.contains(x, y)) continue;
            const std::uint8_t* p = a.at(x, y);
            const std::uint8_t* q = b.at(x, y);
            int m = 0;
            for (int c = 0; c < count; ++c) {
                const int diff = std::abs(p[c] - q[c]);
                m = diff > m ? diff : m;
            }
            d.differing += m != 0;
            if (m > reportAbove && d.firstX < 0) {
                d.firstX = x;
                d.firstY = y;
                d.firstBy = m;
            }
            d.worst = m > d.worst ? m : d.worst;
        }
    return d;
}

}  // namespace korvo::test
