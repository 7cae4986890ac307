// Resampling a picture to another size: area averages when shrinking, linear when growing.
#include "korvo/graphics/resample.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(Resample, ShrinkingAveragesTheAreaEachPixelCoversAndGrowingInterpolates) {
    // Halving a checkerboard of 0 and 200 gives its average everywhere; by 3 to 2, the shares
    // of whole and half pixels.
    OwnedImage<RGBA> checker(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            *checker.pixelAt(x, y) = ((x + y) & 1) ? RGBA{200, 200, 200, 200} : RGBA{};
    OwnedImage<RGBA> half(2, 2);
    resample(checker.view(), half.view());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(half.view().at(x, y), (RGBA{100, 100, 100, 100}));
    OwnedImage<L16> row(3, 1), shrunk(2, 1);
    const std::uint16_t values[3] = {0, 30000, 60000};
    for (int x = 0; x < 3; ++x) *row.pixelAt(x, 0) = L16{values[x]};
    resample(row.view(), shrunk.view());
    // [0, 1.5) holds 0 and half of 30000; [1.5, 3) half of 30000 and 60000.
    EXPECT_EQ(shrunk.view().at(0, 0).l, 10000);
    EXPECT_EQ(shrunk.view().at(1, 0).l, 50000);
    // Doubling interpolates between pixel centres and keeps the ends.
    OwnedImage<L16> grown(6, 1);
    resample(row.view(), grown.view());
    const std::uint16_t want[6] = {0, 7500, 22500, 37500, 52500, 60000};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(grown.view().at(x, 0).l, want[x]) << x;
    // The same size copies.
    OwnedImage<L16> same(3, 1);
    resample(row.view(), same.view());
    for (int x = 0; x < 3; ++x) EXPECT_EQ(same.view().at(x, 0).l, values[x]);
}

}  // namespace
}  // namespace korvo
