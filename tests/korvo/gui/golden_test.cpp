// The demo scene compared with its stored picture.
//
// To regenerate tests/data/gui_demo_scene.png after an intended change of the renderer or the
// scene, run the Linux test binary with KORVO_UPDATE_GOLDEN=1:
//   KORVO_UPDATE_GOLDEN=1 build/<dir>/tests/korvo_gui_tests --gtest_filter=GoldenImage.*
// and look at the new picture before committing it.
#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "korvo/graphics/decode.h"
#include "korvo/gui/demoscene.h"
#include "korvo/window/screenshot.h"

namespace korvo {
namespace {

const char* goldenPath() {
    return KORVO_TEST_DATA_DIR "/gui_demo_scene.png";
}

std::vector<std::uint8_t> readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writePNG(const char* path, ImageView<RGBA> image) {
    std::vector<std::uint8_t> bytes;
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(context);
        out->insert(out->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    };
    ASSERT_NE(stbi_write_png_to_func(append, &bytes, image.w, image.h, 4, image.pixels,
                                     static_cast<int>(image.pitch)),
              0);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

TEST(GoldenImage, DemoSceneMatchesTheStoredPicture) {
    auto picture = renderDemoScreenshot(DemoScene::kDefaultWidth, DemoScene::kDefaultHeight);
    const ImageView<RGBA> rendered = picture->view();
    if (std::getenv("KORVO_UPDATE_GOLDEN") != nullptr) {
        writePNG(goldenPath(), rendered);
        GTEST_SKIP() << "wrote " << goldenPath();
    }
    const std::vector<std::uint8_t> png = readFile(goldenPath());
    ASSERT_FALSE(png.empty()) << "missing " << goldenPath();
    const DecodedImage golden = decodeImage(png.data(), png.size(), 4);
    ASSERT_EQ(golden.w, rendered.w);
    ASSERT_EQ(golden.h, rendered.h);
    // The lighting is exact single-precision arithmetic everywhere except the specular power,
    // which uses the C runtime's pow (its last bit may differ between runtimes): one step per
    // channel is allowed, and only on a few pixels.
    int differing = 0, worst = 0;
    for (std::int32_t y = 0; y < rendered.h; ++y) {
        for (std::int32_t x = 0; x < rendered.w; ++x) {
            const RGBA r = rendered.at(x, y);
            const std::uint8_t* g = golden.pixels + (static_cast<std::size_t>(y) * golden.w + x) * 4;
            const int d[4] = {std::abs(r.r - g[0]), std::abs(r.g - g[1]), std::abs(r.b - g[2]),
                              std::abs(r.a - g[3])};
            int m = 0;
            for (int c : d) m = c > m ? c : m;
            differing += m != 0;
            worst = m > worst ? m : worst;
        }
    }
    if (differing != 0)
        std::printf("demo scene: %d pixels differ by one step from the stored picture\n", differing);
    EXPECT_LE(worst, 1);
    EXPECT_LE(differing, rendered.w * rendered.h / 100);
}

TEST(GoldenImage, RenderingIsRepeatable) {
    auto a = renderDemoScreenshot(96, 64);
    auto b = renderDemoScreenshot(96, 64);
    ASSERT_EQ(a->pixelCount(), b->pixelCount());
    EXPECT_EQ(std::memcmp(a->pixels(), b->pixels(), static_cast<std::size_t>(a->pixelCount()) * 4), 0);
    EXPECT_EQ(a->view().at(0, 0).a, 255);
}

}  // namespace
}  // namespace korvo
