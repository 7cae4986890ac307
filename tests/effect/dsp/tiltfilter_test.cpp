// Tilt filter: measured response around the 650 Hz pivot, exact transparency at 0 dB, glide.
#include "effect/dsp/tiltfilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "tests/effect/dsp/signal_util.h"

namespace {

using velmora::TiltFilter;
namespace t = velmora::test;

// Steady-state gain in dB of a sine at `hz` through the filter at `tiltDb` (after the 20 ms glide).
double responseDb(float rate, float tiltDb, double hz) {
    TiltFilter filter;
    filter.reset(rate, 512);
    const int frames = static_cast<int>(rate * 0.3f);
    std::vector<float> left = t::sine(hz, rate, frames), right = left;
    const std::vector<float> input = left;
    t::inBlocks(left, right, 512, [&](float* l, float* r, int n) { filter.processBlock(l, r, tiltDb, n); });
    const size_t from = static_cast<size_t>(frames / 2), count = static_cast<size_t>(frames - frames / 2);
    return t::toDb(t::rms(left, from, count) / t::rms(input, from, count));
}

std::vector<float> noise(int frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> dist(-0.7f, 0.7f);
    std::vector<float> v(static_cast<size_t>(frames));
    for (float& x : v) x = dist(generator);
    return v;
}

TEST(TiltFilter, PositiveTiltLiftsHighsLowersLowsAndKeepsThePivot) {
    for (float rate : {44100.0f, 48000.0f}) {
        SCOPED_TRACE(rate);
        EXPECT_NEAR(responseDb(rate, 6.0f, 100.0), -5.6, 0.4);
        EXPECT_NEAR(responseDb(rate, 6.0f, 650.0), 0.0, 0.3);
        EXPECT_NEAR(responseDb(rate, 6.0f, 8000.0), 5.5, 0.5);
        EXPECT_NEAR(responseDb(rate, 6.0f, 30.0), -6.0, 0.1);  // the full 6 dB far below the pivot
        // Half the tilt, half the decibels.
        EXPECT_NEAR(responseDb(rate, 3.0f, 100.0), 0.5 * responseDb(rate, 6.0f, 100.0), 0.15);
    }
}

TEST(TiltFilter, NegativeTiltMirrorsPositiveTilt) {
    for (double hz : {100.0, 650.0, 8000.0})
        EXPECT_NEAR(responseDb(48000.0f, -6.0f, hz), -responseDb(48000.0f, 6.0f, hz), 0.01) << hz;
}

TEST(TiltFilter, ZeroDbReturnsTheInputBitForBit) {
    TiltFilter filter;
    filter.reset(48000.0f, 512);
    std::vector<float> left = noise(48000, 1), right = noise(48000, 2);
    const std::vector<float> inLeft = left, inRight = right;
    // From reset at 0 dB: untouched from the first sample.
    t::inBlocks(left, right, 512, [&](float* l, float* r, int n) { filter.processBlock(l, r, 0.0f, n); });
    EXPECT_EQ(left, inLeft);
    EXPECT_EQ(right, inRight);

    // After a tilt, back at 0 dB once the glide has ended (0.5 s is 25 time constants).
    std::vector<float> l2 = noise(9600, 3), r2 = l2;
    t::inBlocks(l2, r2, 480, [&](float* l, float* r, int n) { filter.processBlock(l, r, 4.5f, n); });
    std::vector<float> l3 = noise(48000, 4), r3 = noise(48000, 5);
    const std::vector<float> in3 = l3;
    t::inBlocks(l3, r3, 512, [&](float* l, float* r, int n) { filter.processBlock(l, r, 0.0f, n); });
    EXPECT_EQ(filter.gainA().current, 0.0f);
    EXPECT_EQ(filter.gainB().current, 0.0f);
    EXPECT_EQ(std::vector<float>(l3.end() - 4800, l3.end()), std::vector<float>(in3.end() - 4800, in3.end()));
}

TEST(TiltFilter, GainsGlidePerSampleWhateverTheBlockSize) {
    std::vector<float> reference;
    for (int block : {1, 7, 64, 512}) {
        TiltFilter filter;
        filter.reset(48000.0f, 512);
        std::vector<float> left = noise(4800, 7), right = noise(4800, 8);
        t::inBlocks(left, right, block,
                    [&](float* l, float* r, int n) { filter.processBlock(l, r, 6.0f, n); });
        if (reference.empty())
            reference = left;
        else
            EXPECT_EQ(left, reference) << block;
    }
}

// Gliding, stalled and settled tilts, glides that snap onto their targets or cross 0 dB, odd and even block
// sizes, signed zeros and subnormal input: every block's output and the glides' values carry the
// plain form's bits.
TEST(TiltFilter, EveryPathGivesThePlainRecursionsBits) {
    for (float rate : {44100.0f, 96000.0f}) {
        TiltFilter filter, plain;
        filter.reset(rate, 512);
        plain.reset(rate, 512);
        std::mt19937 random(static_cast<unsigned>(rate));
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        const int sizes[] = {1, 2, 3, 5, 64, 63, 511, 512, 128, 7};
        float tilt = 3.0f;
        for (int block = 0; block < 1200; ++block) {
            const float roll = unit(random);
            const bool flatStretch = block % 400 >= 250;  // long enough for the glides to snap onto 0
            if (flatStretch) {
                tilt = block % 800 >= 650 ? 0.004f : 0.0f;  // a tiny tilt snaps onto its target as well
            } else if (block % 150 == 149) {
                filter.settle(tilt);
                plain.settle(tilt);
            } else if (roll < 0.5f) {
                tilt = std::clamp(tilt + (unit(random) - 0.5f) * 0.2f, -6.0f, 6.0f);  // a moving tilt
            } else if (roll < 0.6f) {
                tilt = unit(random) * 12.0f - 6.0f;  // a jump, perhaps across 0 dB
            } else if (roll < 0.65f) {
                tilt = 0.0f;  // back to flat: the glides end by snapping onto 0
            }                 // otherwise the tilt holds and the glides run on or stall
            const int n = flatStretch ? 512 : sizes[block % 10];
            std::vector<float> left = noise(n, static_cast<unsigned>(block)), right = noise(n, 9000u + block);
            if (block % 7 == 3)
                for (int i = 0; i < n; i += 2) {
                    left[static_cast<size_t>(i)] = i % 4 == 0 ? -0.0f : 0.0f;
                    right[static_cast<size_t>(i)] = i % 3 == 0 ? -1e-41f : 1e-42f;
                }
            std::vector<float> plainLeft = left, plainRight = right;
            filter.processBlock(left.data(), right.data(), tilt, n);
            plain.processBlockPlain(plainLeft.data(), plainRight.data(), tilt, n);
            ASSERT_EQ(std::memcmp(left.data(), plainLeft.data(), sizeof(float) * static_cast<size_t>(n)), 0)
                << "block " << block << " rate " << rate;
            ASSERT_EQ(std::memcmp(right.data(), plainRight.data(), sizeof(float) * static_cast<size_t>(n)), 0)
                << "block " << block << " rate " << rate;
            ASSERT_EQ(filter.gainA().current, plain.gainA().current);
            ASSERT_EQ(filter.gainB().current, plain.gainB().current);
        }
    }
}

}  // namespace
