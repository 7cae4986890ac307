// The artwork as the editor shows it: lit by the compositor with the widgets in place, every
// control's name still stands out from the panel around it.
#include "tools/artgen/preview.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/artgen/artwork_fixture.h"

namespace velmora::artgen {
namespace {

int luma(korvo::RGBA p) {
    return (p.r * 3 + p.g * 6 + p.b) / 10;
}

TEST_F(ArtworkTest, LitLabelsStandOutFromThePanel) {
    const auto picture = renderPreview(encoded(), PreviewOptions{});
    ASSERT_EQ(picture->w(), kWidth);
    ASSERT_EQ(picture->h(), kHeight);
    const korvo::ImageView<korvo::RGBA> lit = picture->view();
    for (const LabelRecord& l : art().labels) {
        if (!l.isControlLabel) continue;
        // The brightest ink against the panel just around the label.
        int ink = 0;
        for (std::int32_t y = l.ink.min.y; y < l.ink.max.y; ++y)
            for (std::int32_t x = l.ink.min.x; x < l.ink.max.x; ++x) ink = std::max(ink, luma(lit.at(x, y)));
        int around = 0, n = 0;
        for (std::int32_t x = l.ink.min.x; x < l.ink.max.x; ++x)
            for (std::int32_t y : {l.ink.min.y - 2, l.ink.max.y + 1}) around += luma(lit.at(x, y)), ++n;
        around /= n;
        EXPECT_GE(ink - around, 45) << l.text << ": ink " << ink << ", panel " << around;
        EXPECT_GE(ink, 90) << l.text;
    }
}

TEST_F(ArtworkTest, BarePreviewShowsTheLitPanel) {
    const auto picture = renderPreview(encoded(), PreviewOptions{false, true});
    const korvo::ImageView<korvo::RGBA> lit = picture->view();
    // A plain stretch of panel is a dark blue-grey, neither black nor washed out.
    const korvo::RGBA panel = lit.at(120, 330);
    EXPECT_GT(luma(panel), 30);
    EXPECT_LT(luma(panel), 90);
    EXPECT_GE(panel.b, panel.r);
    // The outlines are drawn on top: the logo box's corner is magenta.
    const korvo::RGBA corner = lit.at(24, 6);
    EXPECT_GT(corner.r, corner.g + 60);
    EXPECT_GT(corner.b, corner.g + 60);
}

}  // namespace
}  // namespace velmora::artgen
