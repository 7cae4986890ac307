#include "tessary/dsp/interpbiquad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using korvo::BiquadCoeffs;
using tessary::InterpolatedBiquad;

std::vector<float> noise(int n, unsigned seed = 12345u) {
    std::vector<float> v(static_cast<size_t>(n));
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int>(seed >> 8) - (1 << 23)) / static_cast<float>(1 << 23);
    }
    return v;
}

const BiquadCoeffs kTarget{0.2, -0.3, 0.1, -0.5, 0.25};

TEST(InterpolatedBiquad, InitialiseGivesIdentityAndGlideTable) {
    InterpolatedBiquad f;
    f.x1 = 3.0;
    f.y2 = 4.0;
    f.b1 = 0.7;
    f.initialise(48000.0f);
    EXPECT_EQ(f.chunkShift, 5);
    EXPECT_EQ(f.coefficients(), BiquadCoeffs::identity());
    EXPECT_EQ(f.x1, 0.0);
    EXPECT_EQ(f.y2, 0.0);
    for (int k = 1; k <= 32; ++k) {
        const float expected = static_cast<float>(
            1.0 -
            std::exp(-1.0 / (static_cast<double>(48000.0f / static_cast<float>(k)) * 0.03999999910593033)));
        EXPECT_EQ(f.glideAlpha[k - 1], expected) << k;
    }
    EXPECT_LT(f.glideAlpha[0], f.glideAlpha[31]);
}

// A glide that has stopped moving is skipped while nothing else changes; a snap or a new target
// moves the coefficients again, exactly as an unskipped glide does.
TEST(InterpolatedBiquad, StalledGlidesAreSkippedOnlyWhileTheyWouldNotMove) {
    InterpolatedBiquad f;
    f.initialise(48000.0f);
    for (int i = 0; i < 20000; ++i) f.glide(kTarget, f.glideAlpha[31]);
    const BiquadCoeffs stalled = f.coefficients();
    f.glide(kTarget, f.glideAlpha[31]);
    EXPECT_EQ(f.coefficients(), stalled);
    EXPECT_GE(f.stalledFraction, 0.0f);
    const auto glidedByHand = [](BiquadCoeffs c, const BiquadCoeffs& t, float fraction) {
        const double k = static_cast<double>(fraction);
        return BiquadCoeffs{c.b0 + (t.b0 - c.b0) * k, c.b1 + (t.b1 - c.b1) * k, c.b2 + (t.b2 - c.b2) * k,
                            c.a1 + (t.a1 - c.a1) * k, c.a2 + (t.a2 - c.a2) * k};
    };
    f.snapTo(BiquadCoeffs::identity());
    f.glide(kTarget, f.glideAlpha[31]);
    EXPECT_EQ(f.coefficients(), glidedByHand(BiquadCoeffs::identity(), kTarget, f.glideAlpha[31]));
    for (int i = 0; i < 20000; ++i) f.glide(kTarget, f.glideAlpha[31]);
    const BiquadCoeffs before = f.coefficients();
    f.glide(kTarget, f.glideAlpha[0]);  // another fraction
    EXPECT_EQ(f.coefficients(), glidedByHand(before, kTarget, f.glideAlpha[0]));
    const BiquadCoeffs other{0.5, 0.0, 0.0, -0.25, 0.0};
    f.glide(other, f.glideAlpha[31]);  // another target
    EXPECT_NE(f.coefficients(), before);
}

TEST(InterpolatedBiquad, IdentityIsBitExact) {
    InterpolatedBiquad f;
    f.initialise(44100.0f);
    auto in = noise(1000);
    in[3] = 1e-38f;  // tiny values survive the double round trip too
    in[4] = -3.4e38f;
    std::vector<float> out(in.size());
    f.processBlock(in.data(), out.data(), 1000, BiquadCoeffs::identity());
    EXPECT_EQ(std::memcmp(in.data(), out.data(), in.size() * sizeof(float)), 0);
}

TEST(InterpolatedBiquad, ShortBlockGlidesByItsOwnLength) {
    InterpolatedBiquad f;
    f.initialise(48000.0f);
    std::vector<float> buf(7, 0.0f);
    f.processBlock(buf.data(), buf.data(), 7, kTarget);
    const double a = static_cast<double>(f.glideAlpha[6]);
    EXPECT_EQ(f.b0, 1.0 + (kTarget.b0 - 1.0) * a);
    EXPECT_EQ(f.b1, 0.0 + (kTarget.b1 - 0.0) * a);
    EXPECT_EQ(f.a2, 0.0 + (kTarget.a2 - 0.0) * a);
    // A block of zero frames does not move them.
    const BiquadCoeffs before = f.coefficients();
    f.processBlock(buf.data(), buf.data(), 0, BiquadCoeffs::identity());
    EXPECT_EQ(f.coefficients(), before);
}

// Renders `total` frames in blocks of `block` and records the coefficients at every multiple of 512.
std::vector<BiquadCoeffs> coefficientsAt512(int block, int total, std::vector<float>* output = nullptr) {
    InterpolatedBiquad f;
    f.initialise(48000.0f);
    const auto in = noise(total);
    std::vector<float> out(static_cast<size_t>(total));
    std::vector<BiquadCoeffs> marks;
    for (int pos = 0; pos < total; pos += block) {
        const int n = std::min(block, total - pos);
        f.processBlock(in.data() + pos, out.data() + pos, n, kTarget);
        if ((pos + n) % 512 == 0) marks.push_back(f.coefficients());
    }
    if (output) *output = out;
    return marks;
}

TEST(InterpolatedBiquad, GlideDoesNotDependOnBlockSizeAtChunkBoundaries) {
    std::vector<float> out32, out64, out512;
    const auto c32 = coefficientsAt512(32, 48000 / 512 * 512, &out32);
    const auto c64 = coefficientsAt512(64, 48000 / 512 * 512, &out64);
    const auto c512 = coefficientsAt512(512, 48000 / 512 * 512, &out512);
    ASSERT_EQ(c32.size(), c512.size());
    for (size_t i = 0; i < c32.size(); ++i) {
        EXPECT_EQ(c32[i], c512[i]) << i;
        EXPECT_EQ(c64[i], c512[i]) << i;
    }
    EXPECT_EQ(out32, out512);
    EXPECT_EQ(out64, out512);
    // Within a few hundred milliseconds (here ~1 s, 25 time constants) the target is reached.
    EXPECT_NEAR(c512.back().b0, kTarget.b0, 1e-9);
    EXPECT_NEAR(c512.back().a1, kTarget.a1, 1e-9);
    // After 0.2 s (5 time constants) the remaining distance is about e^-5.
    const double remaining = (c512[18].b0 - kTarget.b0) / (1.0 - kTarget.b0);  // 19 x 512 samples ~ 0.203 s
    EXPECT_NEAR(remaining, std::exp(-19.0 * 512.0 / (48000.0 * 0.04)), 2e-3);
}

TEST(InterpolatedBiquad, OddBlockSizesGlideAtAComparableSpeed) {
    const auto reference = coefficientsAt512(512, 9 * 512);
    for (int block : {1, 7}) {
        InterpolatedBiquad f;
        f.initialise(48000.0f);
        std::vector<float> buf(static_cast<size_t>(block), 0.25f);
        for (int pos = 0; pos < 9 * 512; pos += block) f.processBlock(buf.data(), buf.data(), block, kTarget);
        // Per-sample glides are a little faster than per-chunk ones but follow the same time constant.
        const double ref = (reference.back().b0 - kTarget.b0) / (1.0 - kTarget.b0);
        const double got = (f.b0 - kTarget.b0) / (1.0 - kTarget.b0);
        EXPECT_GT(got, 0.0) << block;
        EXPECT_NEAR(got, ref, 0.1 * ref) << block;
    }
}

TEST(InterpolatedBiquad, FiltersWithTheDifferenceEquation) {
    InterpolatedBiquad f;
    f.initialise(44100.0f);
    f.b0 = kTarget.b0;
    f.b1 = kTarget.b1;
    f.b2 = kTarget.b2;
    f.a1 = kTarget.a1;
    f.a2 = kTarget.a2;
    const auto in = noise(100);
    std::vector<float> out(in);  // in place
    f.processBlock(out.data(), out.data(), 100, kTarget);
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t j = 0; j < in.size(); ++j) {
        const double x = in[j];
        const double y =
            (kTarget.b0 * x + kTarget.b1 * x1 - kTarget.a1 * y1) + (kTarget.b2 * x2 - kTarget.a2 * y2);
        ASSERT_EQ(out[j], static_cast<float>(y)) << j;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
    EXPECT_EQ(f.y1, y1);  // the state keeps full double precision
}

}  // namespace
