// The widget gallery compared with its stored picture.
//
// To regenerate tests/data/widget_gallery.png after an intended change of a widget, the renderer
// or the gallery, run the Linux test binary with KORVO_UPDATE_GOLDEN=1:
//   KORVO_UPDATE_GOLDEN=1 build/linux/tests/gallery_tests --gtest_filter=WidgetGallery.*
// and look at the new picture before committing it.
#include "tools/gallery/gallery.h"

#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/graphics/decode.h"

namespace velmora::gallery {
namespace {

const char* goldenPath() {
    return KORVO_TEST_DATA_DIR "/widget_gallery.png";
}

std::vector<std::uint8_t> readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writePNG(const char* path, korvo::ImageView<korvo::RGBA> image) {
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

TEST(WidgetGallery, MatchesTheStoredPictureWithinOneLevelPerChannel) {
    auto picture = renderWidgetGallery();
    const korvo::ImageView<korvo::RGBA> rendered = picture->view();
    ASSERT_EQ(rendered.w, WidgetGallery::kWidth);
    ASSERT_EQ(rendered.h, WidgetGallery::kHeight);
    if (std::getenv("KORVO_UPDATE_GOLDEN") != nullptr) {
        writePNG(goldenPath(), rendered);
        GTEST_SKIP() << "wrote " << goldenPath();
    }
    const std::vector<std::uint8_t> png = readFile(goldenPath());
    ASSERT_FALSE(png.empty()) << "missing " << goldenPath();
    const korvo::DecodedImage golden = korvo::decodeImage(png.data(), png.size(), 4);
    ASSERT_EQ(golden.w, rendered.w);
    ASSERT_EQ(golden.h, rendered.h);
    // Widgets draw with exact integer and single-precision arithmetic; the lighting's specular
    // power goes through the C runtime's pow, and a vectorised compositor may round differently:
    // one level per channel is allowed anywhere, nothing more.
    int differing = 0, worst = 0;
    for (std::int32_t y = 0; y < rendered.h; ++y)
        for (std::int32_t x = 0; x < rendered.w; ++x) {
            const korvo::RGBA r = rendered.at(x, y);
            const std::uint8_t* g = golden.pixels + (static_cast<std::size_t>(y) * golden.w + x) * 4;
            const int d[4] = {std::abs(r.r - g[0]), std::abs(r.g - g[1]), std::abs(r.b - g[2]),
                              std::abs(r.a - g[3])};
            int m = 0;
            for (int c : d) m = c > m ? c : m;
            differing += m != 0;
            if (m > worst) {
                worst = m;
                if (m > 1) std::printf("first pixel off by %d at (%d, %d)\n", m, x, y);
            }
        }
    if (differing != 0) std::printf("widget gallery: %d pixels differ by one level\n", differing);
    EXPECT_LE(worst, 1);
}

// A regenerated golden image would also accept displays that lost their feed: the displays must
// show the demo signal as the effect plays it, whatever the picture.
TEST(WidgetGallery, DisplaysShowTheDemoSignalAsTheEffectPlaysIt) {
    WidgetGallery gallery;
    auto picture = renderWidgetGallery(gallery);
    const auto& pan = gallery.panoramas();
    ASSERT_EQ(pan.size(), 3u);
    EXPECT_EQ(pan[0]->zoomIndex(), 0);
    EXPECT_EQ(pan[1]->zoomIndex(), 1);
    EXPECT_EQ(pan[2]->zoomIndex(), 3);
    // "Dry / Wet" 50 % halves pan +20, distance -5 and tilt -5 on their way to the audio.
    EXPECT_NEAR(pan[1]->lastState().pan, 10.0f / 90.0f, 1e-4f);
    EXPECT_NEAR(pan[1]->lastState().distance, -2.5f, 1e-4f);
    EXPECT_NEAR(pan[1]->lastState().tilt, -2.5f, 1e-4f);
    // The LFO moves the first one's pan away from -50 and shrinks the third one's audio dot.
    EXPECT_GT(std::abs(pan[0]->lastState().pan + 50.0f / 90.0f), 0.02f);
    EXPECT_LT(pan[2]->lastState().gain, 0.95f);
    EXPECT_TRUE(pan[2]->isMouseOver());

    // Pixels the trace lights in each scope's box: its light is added to all three channels, so
    // they stand far above the dark screen, and the coloured indicator squares do not count.
    const auto& scopes = gallery.scopes();
    ASSERT_EQ(scopes.size(), 4u);
    std::vector<int> lit;
    for (const PhaseDisplay* scope : scopes) {
        const korvo::IntRect box = scope->position();
        int n = 0;
        for (std::int32_t y = box.min.y; y < box.max.y; ++y)
            for (std::int32_t x = box.min.x; x < box.max.x; ++x) {
                const korvo::RGBA p = picture->view().at(x, y);
                n += std::min({p.r, p.g, p.b}) > 40;
            }
        lit.push_back(n);
    }
    EXPECT_GT(lit[0], 100);
    EXPECT_GT(lit[1], lit[0]);  // bright mode
    EXPECT_GT(lit[2], 50);
    EXPECT_EQ(lit[3], 0);  // switched off
    EXPECT_FALSE(scopes[0]->isBright());
    EXPECT_TRUE(scopes[1]->isBright() && scopes[2]->isBright());
    EXPECT_TRUE(scopes[3]->isDisabled());
}

}  // namespace
}  // namespace velmora::gallery
