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
#include <iterator>
#include <string>
#include <vector>

#include "korvo/graphics/decode.h"
#include "korvo/graphics/image.h"

namespace korvo::test {

struct GoldenDifference {
    int worst = 0;      // largest difference of a channel (255 when missing or of another size)
    int differing = 0;  // pixels with any difference
};

inline std::string goldenPath(const std::string& name) {
    return std::string(KORVO_TEST_DATA_DIR) + "/" + name;
}

inline std::vector<std::uint8_t> readGoldenFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
    const std::vector<std::uint8_t> png = readGoldenFile(path);
    EXPECT_FALSE(png.empty()) << "missing " << path;
    if (png.empty()) return GoldenDifference{255, rendered.w * rendered.h};
    const DecodedImage golden = decodeImage(png.data(), png.size(), 4);
    EXPECT_EQ(golden.w, rendered.w) << name;
    EXPECT_EQ(golden.h, rendered.h) << name;
    if (golden.w != rendered.w || golden.h != rendered.h)
        return GoldenDifference{255, rendered.w * rendered.h};
    GoldenDifference d;
    for (std::int32_t y = 0; y < rendered.h; ++y)
        for (std::int32_t x = 0; x < rendered.w; ++x) {
            const RGBA r = rendered.at(x, y);
            const std::uint8_t* g = golden.pixels + (static_cast<std::size_t>(y) * golden.w + x) * 4;
            const int channels[4] = {std::abs(r.r - g[0]), std::abs(r.g - g[1]), std::abs(r.b - g[2]),
                                     std::abs(r.a - g[3])};
            int m = 0;
            for (const int c : channels) m = c > m ? c : m;
            d.differing += m != 0;
            if (m > 1 && d.worst <= 1)
                std::printf("%s: first pixel off by %d at (%d, %d)\n", name.c_str(), m, x, y);
            d.worst = m > d.worst ? m : d.worst;
        }
    if (d.differing != 0)
        std::printf("%s: %d pixels differ, by at most %d\n", name.c_str(), d.differing, d.worst);
    return d;
}

}  // namespace korvo::test
