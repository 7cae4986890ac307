// The widget gallery compared with its stored picture.
//
// To regenerate tests/data/widget_gallery.png after an intended change of a widget, the renderer
// or the gallery, run the Linux test binary with KORVO_UPDATE_GOLDEN=1:
//   KORVO_UPDATE_GOLDEN=1 build/linux/tests/gallery_tests --gtest_filter=WidgetGallery.*
// and look at the new picture before committing it.
#include "tools/gallery/gallery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "tests/support/golden.h"

namespace velmora::gallery {
namespace {

TEST(WidgetGallery, MatchesTheStoredPictureWithinOneLevelPerChannel) {
    auto picture = renderWidgetGallery();
    const korvo::ImageView<korvo::RGBA> rendered = picture->view();
    ASSERT_EQ(rendered.w, WidgetGallery::kWidth);
    ASSERT_EQ(rendered.h, WidgetGallery::kHeight);
    // Widgets draw with exact integer and single-precision arithmetic; the lighting's specular
    // power goes through the C runtime's pow, and a vectorised compositor may round differently:
    // one level per channel is allowed anywhere, nothing more.
    EXPECT_LE(korvo::test::compareWithGolden("widget_gallery.png", rendered).worst, 1);
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
    EXPECT_FALSE(pan[2]->isMouseOver());  // hovered in the picture; the hover left with the window

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
