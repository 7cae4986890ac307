#include "korvo/graphics/image.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "korvo/core/nogc.h"

namespace korvo {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A w x h view in the middle of a larger buffer whose border must never be written.
template <class COLOR>
struct Guarded {
    static constexpr int kBorder = 3;
    int w, h, stride;
    std::vector<COLOR> buffer;
    COLOR guard;

    Guarded(int w_, int h_, COLOR fillColor, COLOR guardColor)
        : w(w_),
          h(h_),
          stride(w_ + 2 * kBorder),
          buffer(static_cast<std::size_t>(stride * (h_ + 2 * kBorder)), guardColor),
          guard(guardColor) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) at(x, y) = fillColor;
    }
    COLOR& at(int x, int y) { return buffer[static_cast<std::size_t>((y + kBorder) * stride + x + kBorder)]; }
    ImageView<COLOR> view() {
        return ImageView<COLOR>{w, h, static_cast<std::ptrdiff_t>(stride * sizeof(COLOR)), &at(0, 0)};
    }
    bool guardIntact() {
        for (int y = -kBorder; y < h + kBorder; ++y)
            for (int x = -kBorder; x < w + kBorder; ++x) {
                const bool inside = x >= 0 && y >= 0 && x < w && y < h;
                if (!inside && !(at(x, y) == guard)) return false;
            }
        return true;
    }
};

const RGBA kBlack{0, 0, 0, 0};
const RGBA kWhite{255, 255, 255, 255};
const RGBA kGuardRGBA{1, 2, 3, 4};

std::uint8_t expectedBlend8(int old, int color, int a) {
    return static_cast<std::uint8_t>((old * (255 - a) + color * a) / 255);
}

TEST(Blending, RGBAFollowsTheIntegerFormulaForEveryCoverage) {
    for (int a = 0; a <= 255; ++a) {
        Guarded<RGBA> img(1, 1, RGBA{200, 13, 0, 255}, kGuardRGBA);
        const RGBA color{17, 250, 255, 0};
        blendBox(img.view(), IntRect{{0, 0}, {1, 1}}, color, a);
        const RGBA p = img.at(0, 0);
        ASSERT_EQ(p.r, expectedBlend8(200, 17, a)) << a;
        ASSERT_EQ(p.g, expectedBlend8(13, 250, a)) << a;
        ASSERT_EQ(p.b, expectedBlend8(0, 255, a)) << a;
        ASSERT_EQ(p.a, expectedBlend8(255, 0, a)) << a;
    }
}

TEST(Blending, L16UsesTruncatingDivisionBy65535) {
    Guarded<L16> img(3, 1, L16{40000}, L16{7});
    blendBox(img.view(), IntRect{{0, 0}, {1, 1}}, L16{1000}, 12345);
    blendBox(img.view(), IntRect{{1, 0}, {2, 1}}, L16{1000}, 0.5f);  // 0.5 * 65535 + 0.5 -> 32768
    blendBox(img.view(), IntRect{{2, 0}, {3, 1}}, L16{1000}, 65535);
    EXPECT_EQ(img.at(0, 0).l, (40000u * (65535u - 12345u) + 1000u * 12345u) / 65535u);
    EXPECT_EQ(img.at(1, 0).l, (40000u * (65535u - 32768u) + 1000u * 32768u) / 65535u);
    EXPECT_EQ(img.at(2, 0).l, 1000);
}

TEST(Blending, FloatAlphaConvertsWithRounding) {
    Guarded<RGBA> img(1, 1, kBlack, kGuardRGBA);
    blendBox(img.view(), IntRect{{0, 0}, {1, 1}}, kWhite, 0.5f);  // trunc(127.5 + 0.5) = 128
    EXPECT_EQ(img.at(0, 0).r, expectedBlend8(0, 255, 128));
    blendBox(img.view(), IntRect{{0, 0}, {1, 1}}, kWhite, kNaN);  // NaN counts as 0
    EXPECT_EQ(img.at(0, 0).r, expectedBlend8(0, 255, 128));
}

TEST(Blending, VectorRowMatchesScalarFormula) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int trial = 0; trial < 2000; ++trial) {
        const int n = trial % 41;
        std::vector<RGBA> a(static_cast<std::size_t>(n) + 1), b;
        for (auto& p : a)
            p = RGBA{static_cast<std::uint8_t>(byte(rng)), static_cast<std::uint8_t>(byte(rng)),
                     static_cast<std::uint8_t>(byte(rng)), static_cast<std::uint8_t>(byte(rng))};
        b = a;
        const RGBA color{static_cast<std::uint8_t>(byte(rng)), static_cast<std::uint8_t>(byte(rng)),
                         static_cast<std::uint8_t>(byte(rng)), static_cast<std::uint8_t>(byte(rng))};
        const int alpha = 1 + byte(rng) % 254;
        // Odd start offset: the vector loop must not rely on alignment.
        detail::blendRow(a.data() + (trial & 1), n - (trial & 1) > 0 ? n - (trial & 1) : 0, color, alpha);
        detail::blendRowScalar(b.data() + (trial & 1), n - (trial & 1) > 0 ? n - (trial & 1) : 0, color,
                               alpha);
        ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(RGBA)), 0) << "trial " << trial;
    }
}

TEST(Boxes, FillBoxClipsAnyBox) {
    Guarded<RGBA> img(5, 4, kBlack, kGuardRGBA);
    fillBox(img.view(), IntRect{{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}}, kWhite);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) ASSERT_EQ(img.at(x, y), kWhite);
    EXPECT_TRUE(img.guardIntact());

    Guarded<L16> depth(5, 4, L16{0}, L16{9});
    fillBox(depth.view(), IntRect{{3, -10}, {100, 2}}, L16{500});
    fillBox(depth.view(), IntRect{{4, 4}, {2, 9}}, L16{600});  // inverted box: nothing
    blendBox(depth.view(), IntRect{{-5, 3}, {1, 50}}, L16{1000}, 65535);
    EXPECT_EQ(depth.at(3, 0).l, 500);
    EXPECT_EQ(depth.at(4, 1).l, 500);
    EXPECT_EQ(depth.at(2, 0).l, 0);
    EXPECT_EQ(depth.at(3, 2).l, 0);
    EXPECT_EQ(depth.at(0, 3).l, 1000);
    EXPECT_EQ(depth.at(1, 3).l, 0);
    EXPECT_TRUE(depth.guardIntact());
}

TEST(Boxes, CroppedViewOffsetsAndClipsToItsBox) {
    Guarded<L8> img(6, 6, L8{0}, L8{77});
    const CroppedView<L8> crop{img.view(), IntRect{{2, 1}, {5, 4}}};
    fill(crop, L8{9});
    fillBox(crop, IntRect{{0, 0}, {1, 1}}, L8{200});  // the crop's corner is image pixel (2, 1)
    int nines = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 4;
            if (x == 2 && y == 1)
                EXPECT_EQ(img.at(x, y).l, 200);
            else if (inside)
                nines += img.at(x, y).l == 9;
            else
                EXPECT_EQ(img.at(x, y).l, 0) << x << "," << y;
        }
    EXPECT_EQ(nines, 8);

    // A crop box reaching outside the image keeps its coordinates: (0, 0) of the crop is image (-2, -2).
    Guarded<L8> img2(4, 4, L8{0}, L8{77});
    const CroppedView<L8> outside{img2.view(), IntRect{{-2, -2}, {3, 3}}};
    fillBox(outside, IntRect{{2, 2}, {3, 3}}, L8{50});
    EXPECT_EQ(img2.at(0, 0).l, 50);
    softDisc(outside, 4.0f, 4.0f, 2.0f, 3.0f, L8{255}, 1.0f);
    EXPECT_EQ(img2.at(2, 2).l, 255);
    EXPECT_EQ(img2.at(3, 3).l, 0);  // outside the crop box
    EXPECT_TRUE(img2.guardIntact());
}

TEST(FillBoxAA, PartialEdgesGetFractionalCoverage) {
    Guarded<L16> img(4, 3, L16{0}, L16{1});
    fillBoxAA(img.view(), 2.5f, 1.0f, 0.5f, 0.25f, L16{65535}, 1.0f);  // corners in either order
    // Columns 0, 1, 2 are covered 0.5, 1, 0.5; row 0 is covered 0.75.
    EXPECT_EQ(img.at(0, 0).l, 24576);  // trunc(0.375 * 65535 + 0.5)
    EXPECT_EQ(img.at(1, 0).l, 49151);  // trunc(0.75 * 65535 + 0.5)
    EXPECT_EQ(img.at(2, 0).l, 24576);
    EXPECT_EQ(img.at(3, 0).l, 0);
    EXPECT_EQ(img.at(1, 1).l, 0);  // y2 = 1.0 exactly: row 1 is not covered
    EXPECT_TRUE(img.guardIntact());
}

TEST(FillBoxAA, SinglePixelSpanAndZeroAlpha) {
    Guarded<L16> img(3, 3, L16{0}, L16{1});
    fillBoxAA(img.view(), 1.25f, 1.0f, 1.75f, 2.0f, L16{65535}, 1.0f);
    EXPECT_EQ(img.at(1, 1).l, 32768);  // covered by 0.5 of its width
    Guarded<RGBA> rgba(3, 3, RGBA{5, 6, 7, 8}, kGuardRGBA);
    fillBoxAA(rgba.view(), -1.0f, -1.0f, 5.0f, 5.0f, kWhite, 0.0f);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(rgba.at(x, y), (RGBA{5, 6, 7, 8}));
}

TEST(Gradients, WeightsFollowTheCurve) {
    Guarded<L16> img(2, 4, L16{0}, L16{1});
    fillVerticalGradient(img.view(), IntRect{{0, 0}, {2, 4}}, L16{0}, L16{65535}, [](float t) { return t; });
    EXPECT_EQ(img.at(0, 0).l, 0);
    EXPECT_EQ(img.at(1, 1).l, 16384);  // trunc(0.25 * 65535 + 0.5)
    EXPECT_EQ(img.at(0, 2).l, 32768);
    EXPECT_EQ(img.at(1, 3).l, 49151);

    Guarded<RGBA> h(4, 1, kBlack, kGuardRGBA);
    // Box wider than the image: t still counts from the box's own start.
    fillHorizontalGradient(h.view(), IntRect{{-4, 0}, {4, 1}}, RGBA{0, 0, 0, 255}, RGBA{255, 255, 255, 255},
                           [](float t) { return t * t; });
    const float t = 6.0f / 8.0f;  // pixel 2
    const auto w = static_cast<std::uint32_t>(t * t * 65535.0f + 0.5f);
    EXPECT_EQ(h.at(2, 0).r, (255u * w) / 65535u);
    EXPECT_EQ(h.at(2, 0).a, 255);
    // A curve returning NaN or values beyond 0..1 is clamped.
    fillHorizontalGradient(h.view(), IntRect{{0, 0}, {4, 1}}, RGBA{10, 10, 10, 10}, kWhite,
                           [](float) { return kNaN; });
    EXPECT_EQ(h.at(3, 0), (RGBA{10, 10, 10, 10}));
    EXPECT_TRUE(h.guardIntact());
}

TEST(SoftDisc, FullCentreAndFadeToNothingAtOuterRadius) {
    Guarded<L16> img(11, 11, L16{0}, L16{1});
    softDisc(img.view(), 5.0f, 5.0f, 0.0f, 4.0f, L16{65535}, 1.0f);
    EXPECT_EQ(img.at(5, 5).l, 65535);
    // Distance 2: t = 4 / 16, coverage 1 - t^2.
    EXPECT_EQ(img.at(7, 5).l, static_cast<int>((1.0f - 0.0625f) * 65535.0f + 0.5f));
    EXPECT_EQ(img.at(9, 5).l, 0);  // distance 4: nothing
    EXPECT_EQ(img.at(8, 8).l, 0);  // distance 4.24
    EXPECT_GT(img.at(8, 7).l, 0);  // distance 3.6
    EXPECT_EQ(img.at(5, 5 - 4).l, 0);
    EXPECT_TRUE(img.guardIntact());
}

TEST(SoftDisc, UsesIntegerPixelPositionsAndAlpha) {
    Guarded<RGBA> img(4, 4, kBlack, kGuardRGBA);
    softDisc(img.view(), 1.0f, 1.0f, 1.0f, 2.0f, kWhite, 0.5f);
    EXPECT_EQ(img.at(1, 1).r, expectedBlend8(0, 255, 128));  // d2 = 0 < r1^2
    // (2, 1): d2 = 1 = r1^2: t = 0, coverage = alpha.
    EXPECT_EQ(img.at(2, 1).r, expectedBlend8(0, 255, 128));
    // (2, 2): d2 = 2, t = 1/3.
    const int a = static_cast<int>((1.0f - (1.0f / 3.0f) * (1.0f / 3.0f)) * 0.5f * 255.0f + 0.5f);
    EXPECT_EQ(img.at(2, 2).r, expectedBlend8(0, 255, a));
}

TEST(PointAA, WeightsOfTheFourPixels) {
    Guarded<RGBA> img(30, 30, kBlack, kGuardRGBA);
    pointAA(img.view(), 10.5f, 20.0f, kWhite, 255);
    // Weights 126 and 127, times alpha 255 >> 8: coverages 125 and 126.
    EXPECT_EQ(img.at(10, 20), (RGBA{125, 125, 125, 125}));
    EXPECT_EQ(img.at(11, 20), (RGBA{126, 126, 126, 126}));
    EXPECT_EQ(img.at(10, 21), kBlack);
    EXPECT_EQ(img.at(11, 21), kBlack);
    EXPECT_EQ(img.at(9, 20), kBlack);
}

TEST(PointAA, NegativePositionsLandLeftOfTheImage) {
    Guarded<RGBA> img(4, 4, kBlack, kGuardRGBA);
    pointAA(img.view(), -0.5f, 0.0f, kWhite, 255);  // column -1 (skipped) and column 0, fx = 128
    EXPECT_EQ(img.at(0, 0).r, (((128 * 255) >> 8) * 255) >> 8);
    EXPECT_TRUE(img.guardIntact());
    pointAA(img.view(), 3.75f, 3.75f, kWhite, 255);  // three of four pixels outside
    EXPECT_GT(img.at(3, 3).r, 0);
    EXPECT_TRUE(img.guardIntact());
}

TEST(LineAA, StepsAlongTheMajorAxis) {
    Guarded<RGBA> line(6, 4, kBlack, kGuardRGBA);
    Guarded<RGBA> points(6, 4, kBlack, kGuardRGBA);
    lineAA(line.view(), 0.0f, 0.0f, 3.0f, 1.0f, kWhite, 200);
    for (int i = 0; i <= 3; ++i)
        pointAA(points.view(), static_cast<float>(i), static_cast<float>(i) * 1.0f / 3.0f, kWhite, 200);
    EXPECT_EQ(line.buffer, points.buffer);
    EXPECT_GT(line.at(3, 1).r, 0);  // the end point is drawn
}

TEST(LineAA, EqualExtentsStepAlongYAndZeroLengthDrawsOnePoint) {
    Guarded<RGBA> line(6, 6, kBlack, kGuardRGBA);
    Guarded<RGBA> points(6, 6, kBlack, kGuardRGBA);
    lineAA(line.view(), 1.0f, 1.0f, 3.5f, 3.5f, kWhite, 255);
    for (float m = 1.0f; m <= 3.5f; m += 1.0f)
        pointAA(points.view(), (m - 1.0f) * 2.5f / 2.5f + 1.0f, m, kWhite, 255);
    EXPECT_EQ(line.buffer, points.buffer);

    Guarded<RGBA> dot(4, 4, kBlack, kGuardRGBA);
    Guarded<RGBA> ref(4, 4, kBlack, kGuardRGBA);
    lineAA(dot.view(), 1.25f, 2.5f, 1.25f, 2.5f, kWhite, 255);
    pointAA(ref.view(), 1.25f, 2.5f, kWhite, 255);
    EXPECT_EQ(dot.buffer, ref.buffer);
}

TEST(LineAA, LongLinesAreClippedWithoutChangingTheirPixels) {
    Guarded<RGBA> clipped(8, 8, kBlack, kGuardRGBA);
    Guarded<RGBA> reference(8, 8, kBlack, kGuardRGBA);
    lineAA(clipped.view(), -1000.0f, 2.0f, 1000.0f, 4.0f, kWhite, 255);
    for (float m = -1000.0f; m <= 1000.0f; m += 1.0f)
        pointAA(reference.view(), m, (m + 1000.0f) * 2.0f / 2000.0f + 2.0f, kWhite, 255);
    EXPECT_EQ(clipped.buffer, reference.buffer);
}

// A picture drawn piece by piece through cropped views (as dirty rectangles are) holds the pixels
// of the whole drawn at once, wherever the pieces start: lines with fractional ends crossing
// powers of two, from either end.
TEST(LineAA, PiecesDrawnAloneEqualTheWhole) {
    constexpr std::int32_t kW = 300, kH = 200;
    const float lines[][4] = {
        {3.37f, 190.61f, 287.93f, 7.19f}, {291.7f, 12.3f, 0.45f, 187.9f}, {150.13f, 199.2f, 151.7f, 0.61f}};
    korvo::OwnedImage<RGBA> whole(kW, kH), pieces(kW, kH);
    fill(whole.view(), kBlack);
    fill(pieces.view(), kBlack);
    for (const auto& l : lines) lineAA(whole.view(), l[0], l[1], l[2], l[3], kWhite, 150);
    for (std::int32_t y = 0; y < kH; y += 37)
        for (std::int32_t x = 0; x < kW; x += 53) {
            const korvo::IntRect piece{{x, y}, {std::min(x + 53, kW), std::min(y + 37, kH)}};
            const korvo::CroppedView<RGBA> view{pieces.view().sub(piece), korvo::IntRect{{-x, -y}, {kW, kH}}};
            for (const auto& l : lines) lineAA(view, l[0], l[1], l[2], l[3], kWhite, 150);
        }
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x)
            ASSERT_EQ(pieces.view().at(x, y), whole.view().at(x, y)) << x << "," << y;
}

// Every primitive, fed with hostile values, must return promptly and write inside its view only.
TEST(OutOfRange, EveryPrimitiveClipsWhateverItsArguments) {
    const float values[] = {kNaN,  kInf,          -kInf, 1e30f, -1e30f, 3e9f,
                            -3e9f, 2147483648.0f, -0.5f, 2.5f,  7.0f,   1e-30f};
    const auto start = std::chrono::steady_clock::now();
    Guarded<RGBA> rgba(7, 5, kBlack, kGuardRGBA);
    Guarded<L16> depth(7, 5, L16{0}, L16{3});
    const CroppedView<RGBA> crop{rgba.view(), IntRect{{-3, 2}, {5, 40}}};
    for (float a : values)
        for (float b : values) {
            fillBoxAA(rgba.view(), a, b, 3.0f, 2.0f, kWhite, 1.0f);
            fillBoxAA(depth.view(), 1.0f, a, b, 4.0f, L16{60000}, a);
            softDisc(rgba.view(), a, 2.0f, 1.0f, b, kWhite, 1.0f);
            softDisc(depth.view(), 3.0f, b, a, 1e30f, L16{100}, 0.5f);
            softDisc(crop, a, b, 0.0f, 3.0f, kWhite, 1.0f);
            pointAA(rgba.view(), a, b, kWhite, 255);
            pointAA(crop, a, b, kWhite, 1000);
            lineAA(rgba.view(), a, b, 3.0f, 3.0f, kWhite, 255);
            lineAA(rgba.view(), 2.0f, 2.0f, a, b, kWhite, 255);
            lineAA(crop, a, 1.0f, b, 2.0f, kWhite, 255);
            blendBox(depth.view(), IntRect{{-5, -5}, {100, 100}}, L16{7}, a);
        }
    // The whole sweep of ~1700 calls finishes quickly: no primitive walks an unbounded range.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(rgba.guardIntact());
    EXPECT_TRUE(depth.guardIntact());
}

TEST(OutOfRange, HugeButFiniteLineStillDrawsItsVisiblePart) {
    Guarded<RGBA> img(8, 4, kBlack, kGuardRGBA);
    lineAA(img.view(), -1e30f, 2.0f, 1e30f, 2.0f, kWhite, 255);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(img.at(x, 2).r, (255 * 255 >> 8) * 255 >> 8) << x;
    EXPECT_TRUE(img.guardIntact());
}

TEST(Copies, CopyBoxAndBlitClip) {
    Guarded<L8> src(3, 2, L8{0}, L8{99});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) src.at(x, y) = L8{static_cast<std::uint8_t>(10 * y + x + 1)};
    Guarded<L8> dst(4, 4, L8{0}, L8{98});
    copyBox(src.view(), dst.view());
    EXPECT_EQ(dst.at(2, 1).l, 13);
    EXPECT_EQ(dst.at(3, 1).l, 0);
    Guarded<L8> dst2(4, 4, L8{0}, L8{98});
    blit(src.view(), dst2.view(), 2, 3);
    EXPECT_EQ(dst2.at(2, 3).l, 1);
    EXPECT_EQ(dst2.at(3, 3).l, 2);
    blit(src.view(), dst2.view(), -2, -1);
    EXPECT_EQ(dst2.at(0, 0).l, 13);
    blit(src.view(), dst2.view(), INT32_MAX, INT32_MIN);
    EXPECT_TRUE(dst2.guardIntact());
}

TEST(OwnedImage, AlignedPackedRowsAndSafePixelAccess) {
    HeapPtr<OwnedImage<RGBA>> image = makeHeap<OwnedImage<RGBA>>(5, 3);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image->pixels()) % 128, 0u);
    EXPECT_EQ(image->view().pitch, 20);
    EXPECT_EQ(image->pixelCount(), 15);
    image->setPixel(RGBA{1, 2, 3, 4}, 4, 2);
    image->setPixel(RGBA{9, 9, 9, 9}, 5, 2);   // ignored
    image->setPixel(RGBA{9, 9, 9, 9}, -1, 0);  // ignored
    EXPECT_EQ(*image->pixelAt(4, 2), (RGBA{1, 2, 3, 4}));
    EXPECT_EQ(image->row(2).pixels + 4, image->pixelAt(4, 2));
    EXPECT_EQ(image->row(2).w, 5);
    image->setSize(763, 494);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image->pixels()) % 128, 0u);
    EXPECT_EQ(image->pixelCount(), 763 * 494);
    image->setSize(-4, 7);
    EXPECT_EQ(image->pixelCount(), 0);
}

}  // namespace
}  // namespace korvo
