// Reset state of the stereo generator, the tilt filter and the LFO.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "effect/dsp/lfo.h"
#include "effect/dsp/stereogenerator.h"
#include "effect/dsp/tiltfilter.h"

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

TEST(TiltFilter, ResetComputesTheSplitAndSizesBuffers) {
    TiltFilter t;
    t.reset(44100.0f, 512);
    EXPECT_NEAR(t.poleOfSplit(), 0.94011, 1e-5);
    EXPECT_NEAR(t.gainOfSplit(), 0.05989, 1e-5);
    EXPECT_NEAR(t.poleOfSplit() + t.gainOfSplit(), 1.0, 1e-15);
    EXPECT_EQ(t.bufferFrames(), 512);
    EXPECT_EQ(t.gainA().current, 0.0f);
    EXPECT_EQ(t.gainB().alpha, alphaFor(0.02f, 44100.0f));
    t.reset(96000.0f, 0);
    EXPECT_EQ(t.bufferFrames(), 0);
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

}  // namespace
