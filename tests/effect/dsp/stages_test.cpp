// Reset state of the stereo generator, the tilt filter and the LFO; the width stage's bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "effect/dsp/lfo.h"
#include "effect/dsp/stereogenerator.h"
#include "effect/dsp/tiltfilter.h"
#include "effect/dsp/width.h"

namespace {

using velmora::LFO;
using velmora::StereoGenerator;
using velmora::TiltFilter;

float alphaFor(float seconds, float rate) {
    return static_cast<float>(1.0 - std::exp(-1.0 / (static_cast<double>(seconds) * rate)));
}

TEST(StereoGenerator, ResetSizesHistoryForSixTapsAndOneBlock) {
    StereoGenerator g;
    g.reset(48000.0f, 0.04f, 512);
    EXPECT_EQ(g.historyLine().requestedSamples(), 12033);  // 11521 + 512
    EXPECT_EQ(g.historyLine().capacity(), 16384);
    EXPECT_EQ(g.scratchFrames(), 512);
    for (int i = 0; i < StereoGenerator::kNumTaps; ++i) {
        EXPECT_EQ(g.tap(i).current, 3.0f);
        EXPECT_EQ(g.tap(i).alpha, alphaFor(0.05f, 48000.0f));
    }
    EXPECT_EQ(g.amount().current, 0.0f);
    EXPECT_EQ(g.amount().alpha, alphaFor(0.03f, 48000.0f));

    g.reset(44100.0f, 0.04f, 0);  // no block: no scratch
    EXPECT_EQ(g.scratchFrames(), 0);
    EXPECT_EQ(g.historyLine().requestedSamples(), 10585);
}

TEST(TiltFilter, ResetComputesTheSplit) {
    TiltFilter t;
    t.reset(44100.0f, 512);
    EXPECT_NEAR(t.poleOfSplit(), 0.94011, 1e-5);
    EXPECT_NEAR(t.gainOfSplit(), 0.05989, 1e-5);
    EXPECT_NEAR(t.poleOfSplit() + t.gainOfSplit(), 1.0, 1e-15);
    EXPECT_EQ(t.gainA().current, 0.0f);
    EXPECT_EQ(t.gainB().alpha, alphaFor(0.02f, 44100.0f));
    t.reset(96000.0f, 0);
    EXPECT_GT(t.poleOfSplit(), 0.97);

    std::vector<float> l(16, 0.5f), r(16, 0.25f);
    t.processBlock(l.data(), r.data(), 0.0f, 0);
    t.processBlock(l.data(), r.data(), 0.0f, 16);
    EXPECT_EQ(l, std::vector<float>(16, 0.5f));
}

TEST(LFO, ResetRestartsPhaseAndReseeds) {
    LFO lfo;
    lfo.phase = 2.0f;
    lfo.heldState = 99;
    lfo.reset(48000.0f, 0xDEADBEEFu);
    EXPECT_EQ(lfo.phaseIncrementPerHz, static_cast<float>(6.283185307179586 / 48000.0));
    EXPECT_NEAR(lfo.phaseIncrementPerHz, 0.00013089969f, 1e-12f);
    EXPECT_EQ(lfo.phase, 0.0f);
    EXPECT_EQ(lfo.heldState, 0u);
    EXPECT_EQ(lfo.randomState, 0xDEADBEEFu);
}

// The width stage against its plain per-frame form, with the factor gliding, stalled, at 0 and
// negative samples, signed zeros included, in blocks that end off the four-frame steps.
TEST(Width, EveryBlockGivesThePlainFormsBits) {
    korvo::ExpSmoother width, plainWidth;
    width.initialise(1.0f, 0.04f, 48000.0f);
    plainWidth = width;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    const float targets[] = {1.5f, 1.5f, 0.0f, 2.0f, 1.0f};
    for (int block = 0; block < 400; ++block) {
        const float target = targets[(block / 40) % 5];
        if (block % 40 == 20) width.current = plainWidth.current = target;  // settled from here on
        const int n = 1 + (block * 7) % 70;
        std::vector<float> left(static_cast<size_t>(n)), right(left.size());
        for (int i = 0; i < n; ++i) {
            left[static_cast<size_t>(i)] = i % 5 == 0 ? -0.0f : sample(random);
            right[static_cast<size_t>(i)] = i % 3 == 0 ? 0.0f : sample(random);
        }
        std::vector<float> plainLeft = left, plainRight = right;
        velmora::applyWidth(left.data(), right.data(), width, target, n);
        velmora::applyWidthPlain(plainLeft.data(), plainRight.data(), plainWidth, target, n);
        ASSERT_EQ(std::memcmp(left.data(), plainLeft.data(), sizeof(float) * left.size()), 0) << block;
        ASSERT_EQ(std::memcmp(right.data(), plainRight.data(), sizeof(float) * right.size()), 0) << block;
        ASSERT_EQ(width.current, plainWidth.current) << block;
    }
}

}  // namespace
