#include "korvo/graphics/mipmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "korvo/core/nogc.h"

namespace korvo {
namespace {

HeapPtr<OwnedImage<RGBA>> randomImage(int w, int h, unsigned seed) {
    auto image = makeHeap<OwnedImage<RGBA>>(w, h);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto v = rng();
            *image->pixelAt(x, y) =
                RGBA{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                     static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        }
    return image;
}

bool sameLevels(Mipmap<RGBA>& a, Mipmap<RGBA>& b) {
    if (a.numLevels() != b.numLevels()) return false;
    for (int i = 0; i < a.numLevels(); ++i) {
        if (a.level(i).w() != b.level(i).w() || a.level(i).h() != b.level(i).h()) return false;
        if (std::memcmp(a.level(i).pixels(), b.level(i).pixels(),
                        static_cast<std::size_t>(a.level(i).pixelCount()) * 4) != 0)
            return false;
    }
    return true;
}

TEST(MipmapSize, LevelCountStopsAtTheFirstEmptySize) {
    Mipmap<RGBA> mip;
    mip.setSize(10, 5, 3);
    ASSERT_EQ(mip.numLevels(), 2);
    EXPECT_EQ(mip.level(0).w(), 5);
    EXPECT_EQ(mip.level(0).h(), 3);
    EXPECT_EQ(mip.level(1).w(), 2);
    EXPECT_EQ(mip.level(1).h(), 1);

    mip.setSize(0, 763, 494);
    EXPECT_EQ(mip.numLevels(), 1);
    mip.setSize(-1, 763, 494);
    EXPECT_EQ(mip.numLevels(), 0);
    mip.setSize(20, 763, 494);  // 763 x 494 down to 2 x 1
    EXPECT_EQ(mip.numLevels(), 9);
    EXPECT_EQ(mip.level(8).w(), 2);
    EXPECT_EQ(mip.level(8).h(), 1);
    mip.setSize(3, 763, 494);  // fewer levels: the surplus images are destroyed
    EXPECT_EQ(mip.numLevels(), 4);
    EXPECT_EQ(mip.level(3).w(), 95);

    Mipmap<L16> tall;
    tall.setSize(100, 1, 1 << 20);
    EXPECT_EQ(tall.numLevels(), 1);
    tall.setSize(100, 1 << 16, 1 << 15);  // at most 14 levels
    EXPECT_EQ(tall.numLevels(), 14);
    tall.setSize(100, 0, 0);
    EXPECT_EQ(tall.numLevels(), 0);
}

TEST(MipmapUpdateRect, GrowsHalvesAndClips) {
    Mipmap<RGBA> mip;
    mip.setSize(5, 16, 16);
    EXPECT_EQ(mip.updateLevel(Filter::box, IntRect{{3, 3}, {5, 5}}, 1), (IntRect{{1, 1}, {3, 3}}));
    EXPECT_EQ(mip.updateLevel(Filter::cubic, IntRect{{3, 3}, {5, 5}}, 1), (IntRect{{1, 1}, {3, 3}}));
    // Halving rounds toward zero: -1 / 2 = 0.
    EXPECT_EQ(mip.updateLevel(Filter::cubic, IntRect{{0, 0}, {1, 1}}, 1), (IntRect{{0, 0}, {1, 1}}));
    EXPECT_EQ(mip.updateLevel(Filter::premultipliedBox, IntRect{{-100, 10}, {1000, 1000}}, 1),
              (IntRect{{0, 5}, {8, 8}}));
    EXPECT_EQ(mip.updateLevel(Filter::box, IntRect{{14, 14}, {16, 16}}, 2), (IntRect{{4, 4}, {4, 4}}));
    // Extreme rectangles do not overflow.
    EXPECT_EQ(mip.updateLevel(Filter::cubic, IntRect{{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}}, 1),
              (IntRect{{0, 0}, {8, 8}}));
    // A filter value above 3, or a level that does not exist, regenerates nothing.
    EXPECT_TRUE(mip.updateLevel(static_cast<Filter>(4), IntRect{{0, 0}, {16, 16}}, 1).empty());
    EXPECT_TRUE(mip.updateLevel(Filter::box, IntRect{{0, 0}, {16, 16}}, 0).empty());
    EXPECT_TRUE(mip.updateLevel(Filter::box, IntRect{{0, 0}, {16, 16}}, 5).empty());
}

TEST(MipmapFilters, BoxAndPremultipliedValues) {
    OwnedImage<RGBA> src(2, 2), dst(1, 1);
    *src.pixelAt(0, 0) = RGBA{10, 255, 0, 255};
    *src.pixelAt(1, 0) = RGBA{20, 255, 0, 255};
    *src.pixelAt(0, 1) = RGBA{30, 255, 0, 255};
    *src.pixelAt(1, 1) = RGBA{41, 255, 1, 255};
    downsample(Filter::box, src.view(), dst.view(), IntRect{{0, 0}, {1, 1}});
    EXPECT_EQ(*dst.pixelAt(0, 0), (RGBA{25, 255, 0, 255}));  // (101 + 2) >> 2 = 25, (1 + 2) >> 2 = 0
}

TEST(MipmapFilters, PremultipliedOpaqueWhiteGives254) {
    OwnedImage<RGBA> src(2, 2), dst(1, 1);
    fill(src.view(), RGBA{255, 255, 255, 255});
    downsample(Filter::premultipliedBox, src.view(), dst.view(), IntRect{{0, 0}, {1, 1}});
    EXPECT_EQ(*dst.pixelAt(0, 0), (RGBA{254, 254, 254, 254}));
    fill(src.view(), RGBA{255, 0, 100, 0});
    downsample(Filter::premultipliedBox, src.view(), dst.view(), IntRect{{0, 0}, {1, 1}});
    EXPECT_EQ(*dst.pixelAt(0, 0), (RGBA{0, 0, 0, 0}));
}

TEST(MipmapFilters, AlphaWeightedBoxIgnoresTransparentColour) {
    OwnedImage<RGBA> src(2, 2), dst(1, 1);
    fill(src.view(), RGBA{0, 0, 0, 0});
    *src.pixelAt(1, 1) = RGBA{200, 100, 50, 255};
    downsample(Filter::alphaWeightedBox, src.view(), dst.view(), IntRect{{0, 0}, {1, 1}});
    EXPECT_EQ(*dst.pixelAt(0, 0), (RGBA{200, 100, 50, 64}));
}

TEST(MipmapFilters, CubicClampsItsTapsAtTheEdges) {
    // A one-pixel-wide source: all four column taps read column 0.
    OwnedImage<L16> src(1, 4), dst(1, 2);
    const std::uint16_t v[4] = {0, 64, 128, 192};
    for (int y = 0; y < 4; ++y) *src.pixelAt(0, y) = L16{v[y]};
    downsample(Filter::cubic, src.view(), dst.view(), IntRect{{0, 0}, {1, 2}});
    // Rows -1 -> 0, 0, 1, 2 with weights 1 3 3 1 (times 8 from the columns): (8 * 320 + 32) >> 6.
    EXPECT_EQ(dst.pixelAt(0, 0)->l, 40);
    // Rows 1, 2, 3, 4 -> 3.
    EXPECT_EQ(dst.pixelAt(0, 1)->l, (8 * (64 + 3 * 128 + 3 * 192 + 192) + 32) >> 6);
}

// The two RGBA filters of the renderer's diffuse pyramid, from their formulas with clamped taps.
RGBA premultipliedFormula(const ImageView<RGBA>& s, int x, int y) {
    auto at = [&](int cx, int cy) { return s.at(std::min(cx, s.w - 1), std::min(cy, s.h - 1)); };
    const RGBA taps[4] = {at(2 * x, 2 * y), at(2 * x + 1, 2 * y), at(2 * x, 2 * y + 1),
                          at(2 * x + 1, 2 * y + 1)};
    unsigned sum[4] = {};
    for (const RGBA& p : taps) {
        sum[0] += p.r * p.a, sum[1] += p.g * p.a, sum[2] += p.b * p.a, sum[3] += p.a * p.a;
    }
    auto out = [](unsigned v) { return static_cast<std::uint8_t>(std::min(255u, (v + 512) >> 10)); };
    return RGBA{out(sum[0]), out(sum[1]), out(sum[2]), out(sum[3])};
}
RGBA cubicFormula(const ImageView<RGBA>& s, int x, int y) {
    static constexpr unsigned kWeights[4] = {1, 3, 3, 1};
    unsigned sum[4] = {};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const RGBA p = s.at(std::clamp(2 * x - 1 + i, 0, s.w - 1), std::clamp(2 * y - 1 + j, 0, s.h - 1));
            const unsigned w = kWeights[i] * kWeights[j];
            sum[0] += w * p.r, sum[1] += w * p.g, sum[2] += w * p.b, sum[3] += w * p.a;
        }
    return RGBA{static_cast<std::uint8_t>((sum[0] + 32) >> 6), static_cast<std::uint8_t>((sum[1] + 32) >> 6),
                static_cast<std::uint8_t>((sum[2] + 32) >> 6), static_cast<std::uint8_t>((sum[3] + 32) >> 6)};
}

TEST(MipmapFilters, RGBAFiltersMatchTheirFormulasAtEveryWidthAndOffset) {
    // Widths around the multiples of the runs, rectangles starting and ending anywhere: the
    // interior runs and the clamped edges must join without a seam.
    for (int w = 1; w <= 23; ++w)
        for (int h : {1, 2, 5}) {
            auto src = randomImage(w, h, static_cast<unsigned>(w * 31 + h));
            const int dw = std::max(w / 2, 1), dh = std::max(h / 2, 1);
            for (Filter f : {Filter::premultipliedBox, Filter::cubic})
                for (int x0 = 0; x0 < dw; ++x0) {
                    OwnedImage<RGBA> dst(dw, dh);
                    fill(dst.view(), RGBA{7, 7, 7, 7});
                    downsample(f, src->view(), dst.view(), IntRect{{x0, 0}, {dw, dh}});
                    for (int y = 0; y < dh; ++y)
                        for (int x = 0; x < dw; ++x) {
                            const RGBA want = x < x0               ? RGBA{7, 7, 7, 7}
                                              : f == Filter::cubic ? cubicFormula(src->view(), x, y)
                                                                   : premultipliedFormula(src->view(), x, y);
                            ASSERT_EQ(*dst.pixelAt(x, y), want) << "width " << w << " x " << x << " y " << y
                                                                << " from " << x0 << " filter " << int(f);
                        }
                }
        }
}

TEST(MipmapBuild, LevelsUseBoxThenCubic) {
    HeapPtr<OwnedImage<RGBA>> source = randomImage(64, 40, 7);
    OwnedImage<RGBA>* raw = source.release();
    Mipmap<RGBA> mip(10, raw);
    ASSERT_EQ(mip.numLevels(), 6);  // 64x40 ... 2x1
    EXPECT_EQ(&mip.level(0), raw);
    for (int i = 1; i < mip.numLevels(); ++i) {
        OwnedImage<RGBA> expected(mip.level(i).w(), mip.level(i).h());
        downsample(i >= 3 ? Filter::cubic : Filter::box, mip.level(i - 1).view(), expected.view(),
                   IntRect{{0, 0}, {expected.w(), expected.h()}});
        EXPECT_EQ(std::memcmp(expected.pixels(), mip.level(i).pixels(),
                              static_cast<std::size_t>(expected.pixelCount()) * 4),
                  0)
            << "level " << i;
    }
}

TEST(MipmapBuild, ChainedUpdatesMatchAFullRebuild) {
    for (Filter filter : {Filter::box, Filter::cubic, Filter::premultipliedBox}) {
        HeapPtr<OwnedImage<RGBA>> a = randomImage(90, 70, 3);
        Mipmap<RGBA> partial(10, a.release());
        for (int i = 1; i < partial.numLevels(); ++i)
            partial.updateLevel(filter, IntRect{{0, 0}, {partial.level(i - 1).w(), partial.level(i - 1).h()}},
                                i);
        // Change a small area of level 0 and regenerate only what it affects.
        const IntRect changed{{37, 20}, {45, 23}};
        fillBox(partial.level(0).view(), changed, RGBA{255, 0, 128, 200});
        IntRect r = changed;
        for (int i = 1; i < partial.numLevels(); ++i) r = partial.updateLevel(filter, r, i);

        HeapPtr<OwnedImage<RGBA>> b = makeHeap<OwnedImage<RGBA>>(90, 70);
        copyBox(partial.level(0).view(), b->view());
        Mipmap<RGBA> full(10, b.release());
        for (int i = 1; i < full.numLevels(); ++i)
            full.updateLevel(filter, IntRect{{0, 0}, {full.level(i - 1).w(), full.level(i - 1).h()}}, i);
        EXPECT_TRUE(sameLevels(partial, full)) << "filter " << static_cast<int>(filter);
    }
}

TEST(MipmapSample, BilinearIsExactAtPixelCentresAndClampsOutside) {
    auto image = makeHeap<OwnedImage<RGBA>>(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            *image->pixelAt(x, y) =
                RGBA{static_cast<std::uint8_t>(x * 40), static_cast<std::uint8_t>(y * 40), 7, 255};
    Mipmap<RGBA> mip(0, image.release());
    RGBAf s = mip.sampleBilinear(0, 1.5f, 2.5f);
    EXPECT_FLOAT_EQ(s.r, 40.0f);
    EXPECT_FLOAT_EQ(s.g, 80.0f);
    s = mip.sampleBilinear(0, 2.0f, 1.5f);  // halfway between columns 1 and 2
    EXPECT_FLOAT_EQ(s.r, 60.0f);
    s = mip.sampleBilinear(0, -100.0f, -1e30f);
    EXPECT_FLOAT_EQ(s.r, 0.0f);
    EXPECT_FLOAT_EQ(s.g, 0.0f);
    s = mip.sampleBilinear(0, 1e30f, std::numeric_limits<float>::infinity());
    EXPECT_NEAR(s.r, 120.0f, 0.1f);  // clamped to w - 1.001
    EXPECT_NEAR(s.g, 120.0f, 0.1f);
    s = mip.sampleBilinear(5, std::numeric_limits<float>::quiet_NaN(), 0.0f);  // level clamped, NaN -> edge
    EXPECT_FLOAT_EQ(s.r, 0.0f);
    EXPECT_FLOAT_EQ(s.b, 7.0f);
}

TEST(MipmapSample, UpperLevelsScaleThePosition) {
    auto image = makeHeap<OwnedImage<RGBA>>(8, 2);
    fill(image->view(), RGBA{0, 0, 0, 0});
    Mipmap<RGBA> mip(5, image.release());
    ASSERT_EQ(mip.numLevels(), 2);
    fill(mip.level(1).view(), RGBA{0, 0, 0, 0});
    *mip.level(1).pixelAt(2, 0) = RGBA{100, 0, 0, 0};
    // Level 1 pixel 2 has its centre at level-0 x = 5: (5 * 0.5 - 0.5) = 2.
    EXPECT_FLOAT_EQ(mip.sampleBilinear(1, 5.0f, 1.0f).r, 100.0f);
    EXPECT_FLOAT_EQ(mip.sampleBilinear(1, 6.0f, 1.0f).r, 50.0f);
    // A single-pixel-high level still samples inside (h - 1.001 clamps to 0).
    EXPECT_FLOAT_EQ(mip.sampleBilinear(1, 5.0f, 100.0f).r, 100.0f);

    Mipmap<L16> depth;
    EXPECT_EQ(depth.sampleBilinear(0, 1.0f, 1.0f), 0.0f);  // empty pyramid
}

}  // namespace
}  // namespace korvo
