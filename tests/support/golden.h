#pragma once
// Golden pictures: a rendered picture compared with a PNG stored in tests/data, or (with the
// environment's KORVO_UPDATE_GOLDEN set) stored there anew, for a person to look at before
// committing it. Link korvo_stb_write (PNG writing) and korvo_graphics (decoding).
//
//   const GoldenDifference d = compareWithGolden("editor_default.png", picture->view());
//   EXPECT_LE(d.worst, 1);
//
// Header-only, so the test support library needs neither.
#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "korvo/graphics/decode.h"
#include "korvo/graphics/image.h"
#include "tests/support/pictures.h"

namespace korvo::test {

// `worst`: the largest difference of a channel (255 when missing or of another size); `differing`:
// the pixels with any difference.
using GoldenDifference = PictureDifference;

inline std::string goldenPath(const std::string& name) {
    return std::string(KORVO_TEST_DATA_DIR) + "/" + name;
}

inline bool writeGoldenPNG(const std::string& path, ImageView<RGBA> image) {
    std::vector<std::uint8_t> bytes;
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(context);
        out->insert(out->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    };
    if (stbi_write_png_to_func(append, &bytes, image.w, image.h, 4, image.pixels,
                               static_cast<int>(image.pitch)) == 0)
        return false;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

// Compares (or, with KORVO_UPDATE_GOLDEN, stores) tests/data/<name>; prints where it differs.
inline GoldenDifference compareWithGolden(const std::string& name, ImageView<RGBA> rendered) {
    const std::string path = goldenPath(name);
    if (std::getenv("KORVO_UPDATE_GOLDEN") != nullptr) {
        EXPECT_TRUE(writeGoldenPNG(path, rendered)) << "cannot write " << path;
        std::printf("wrote %s\n", path.c_str());
        return GoldenDifference{};
    }
    const std::vector<std::uint8_t> png = readFileBytes(path);
    EXPECT_FALSE(png.empty()) << "missing " << path;
    if (png.empty()) return GoldenDifference{255, rendered.w * rendered.h};
    const DecodedImage golden = decodeImage(png.data(), png.size(), 4);
    EXPECT_EQ(golden.w, rendered.w) << name;
    EXPECT_EQ(golden.h, rendered.h) << name;
    const GoldenDifference d = comparePictures(pixelsOf(rendered), pixelsOf(golden), Channels::colourAndAlpha,
                                               IntRect{{0, 0}, {rendered.w, rendered.h}}, IntRect{}, 1);
    if (d.firstX >= 0)
        std::printf("%s: first pixel off by %d at (%d, %d)\n", name.c_str(), d.firstBy, d.firstX, d.firstY);
    if (d.differing != 0)
        std::printf("%s: %d pixels differ, by at most %d\n", name.c_str(), d.differing, d.worst);
    return d;
}

}  // namespace korvo::test
