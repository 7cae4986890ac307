// The demo scene compared with its stored picture.
//
// To regenerate tests/data/gui_demo_scene.png after an intended change of the renderer or the
// scene, run the Linux test binary with KORVO_UPDATE_GOLDEN=1:
//   KORVO_UPDATE_GOLDEN=1 build/<dir>/tests/korvo_gui_tests --gtest_filter=GoldenImage.*
// and look at the new picture before committing it.
#include "tests/support/golden.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tools/offscreen/demoscene.h"
#include "tools/offscreen/screenshot.h"

namespace korvo {
namespace {

TEST(GoldenImage, DemoSceneMatchesTheStoredPicture) {
    auto picture = renderDemoScreenshot(DemoScene::kDefaultWidth, DemoScene::kDefaultHeight);
    const ImageView<RGBA> rendered = picture->view();
    // The lighting is exact single-precision arithmetic everywhere except the specular power,
    // which uses the C runtime's pow (its last bit may differ between runtimes): one step per
    // channel is allowed, and only on a few pixels.
    const test::GoldenDifference d = test::compareWithGolden("gui_demo_scene.png", rendered);
    EXPECT_LE(d.worst, 1);
    EXPECT_LE(d.differing, rendered.w * rendered.h / 100);
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
