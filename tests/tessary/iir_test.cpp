#include "tessary/dsp/iir.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>

namespace {

using korvo::BiquadCoeffs;

double magnitudeDb(const BiquadCoeffs& c, double hz, double rate) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / rate);
    const std::complex<double> z2 = z1 * z1;
    const auto h = (c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2);
    return 20.0 * std::log10(std::abs(h));
}

bool roundedThroughFloat(double v) {
    return static_cast<double>(static_cast<float>(v)) == v;
}

TEST(ShelfDesign, HighShelfReachesItsGainAboveTheCorner) {
    const BiquadCoeffs c = tessary::designHighShelf(25333.803158548093, 1.04, -11.25, 48000.0f);
    EXPECT_NEAR(magnitudeDb(c, 20.0, 48000.0), 0.0, 0.01);
    EXPECT_NEAR(magnitudeDb(c, 20000.0, 48000.0), -11.25, 0.1);
    EXPECT_NEAR(magnitudeDb(c, 4032.0, 48000.0), -11.25 / 2, 0.3);  // half the gain at the corner
    for (double v : {c.b0, c.b1, c.b2, c.a1, c.a2}) EXPECT_TRUE(roundedThroughFloat(v));
}

TEST(ShelfDesign, LowShelfReachesItsGainBelowTheCorner) {
    const BiquadCoeffs c = tessary::designLowShelf(1570.7963267948965, std::sqrt(2.0), 2.7, 44100.0f);
    EXPECT_NEAR(magnitudeDb(c, 10.0, 44100.0), 2.7, 0.01);
    EXPECT_NEAR(magnitudeDb(c, 250.0, 44100.0), 1.35, 0.01);
    EXPECT_NEAR(magnitudeDb(c, 10000.0, 44100.0), 0.0, 0.01);
    for (double v : {c.b0, c.b1, c.b2, c.a1, c.a2}) EXPECT_TRUE(roundedThroughFloat(v));
}

TEST(ShelfDesign, TinyGainIsDesignedNotTheIdentity) {
    // Callers pass BiquadCoeffs::identity() for exactly 0 dB; a 0.001 dB request is designed.
    const BiquadCoeffs c = tessary::designHighShelf(25333.803158548093, 1.04, 0.001, 48000.0f);
    EXPECT_NE(c, BiquadCoeffs::identity());
    EXPECT_NE(c.b1, 0.0);
    EXPECT_NEAR(c.b1, c.a1, 1e-3);  // nearly a pole-zero cancellation
    EXPECT_NEAR(magnitudeDb(c, 20000.0, 48000.0), 0.001, 1e-3);
    EXPECT_EQ(BiquadCoeffs::identity(), (BiquadCoeffs{1.0, 0.0, 0.0, 0.0, 0.0}));
}

// Two designs side by side have the bits of one design after the other, over the gains the
// panner asks for (a far and a near ear, small and large), at three rates (at 8 kHz the corner is
// held below half the rate).

}  // namespace
