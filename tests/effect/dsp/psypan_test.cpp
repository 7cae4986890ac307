#include "effect/dsp/psypan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "tessary/dsp/iir.h"
#include "tests/effect/dsp/signal_util.h"
#include "tests/support/realtime.h"

namespace {

using velmora::PsychoacousticPanner;
namespace vt = velmora::test;

struct Cues {
    float pan = 0.0f, headSize = 1.0f, spectral = 1.0f, level = 1.0f, gain = 1.0f;
};

// Runs `frames` frames of silence so that the glides after a reset settle.
void settle(PsychoacousticPanner& panner, const Cues& c, int frames, int block = 512) {
    std::vector<float> l(static_cast<size_t>(block)), r(static_cast<size_t>(block));
    for (int pos = 0; pos < frames; pos += block) {
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
        panner.processBlock(l.data(), r.data(), c.pan, c.headSize, c.spectral, c.level, c.gain, block);
    }
}

void run(PsychoacousticPanner& panner, const Cues& c, std::vector<float>& l, std::vector<float>& r,
         int block = 512) {
    vt::inBlocks(l, r, block, [&](float* pl, float* pr, int n) {
        panner.processBlock(pl, pr, c.pan, c.headSize, c.spectral, c.level, c.gain, n);
    });
}

// The delay glide in single precision stops a few ten-thousandths of a sample short of a 3-sample
// target (the step rounds away), so delayed impulses are slightly smeared.
constexpr float kDelayStall = 5e-4f;

TEST(PsychoacousticPanner, CentreDelaysBothChannelsByThreeSamplesAtUnity) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 512);
    const Cues c;  // pan 0, all cues at 100 %, gain 1
    settle(panner, c, 48000);
    EXPECT_EQ(panner.delayTargetLeft(), 3.0f);
    EXPECT_EQ(panner.delayTargetRight(), 3.0f);
    EXPECT_NEAR(panner.currentDelayLeft(), 3.0f, kDelayStall);
    EXPECT_LT(panner.currentDelayLeft(), 3.0f);
    EXPECT_EQ(panner.leftShelf().coefficients(), korvo::BiquadCoeffs::identity());
    EXPECT_NEAR(panner.gainTargetLeft(), 1.0f, 1e-6f);
    EXPECT_NEAR(panner.gainTargetRight(), 1.0f, 1e-6f);

    std::vector<float> l(512, 0.0f), r(512, 0.0f);
    l[100] = 1.0f;
    r[200] = -0.5f;
    run(panner, c, l, r);
    for (size_t i = 0; i < l.size(); ++i) {
        EXPECT_NEAR(l[i], i == 103 ? 1.0f : 0.0f, 2e-3f) << i;
        EXPECT_NEAR(r[i], i == 203 ? -0.5f : 0.0f, 1e-3f) << i;
    }
}

TEST(PsychoacousticPanner, DelayGlidesUpFromTwoSamplesAfterReset) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 512);
    EXPECT_EQ(panner.currentDelayLeft(), 2.0f);
    std::vector<float> l(2400, 0.0f), r(2400, 0.0f);  // one 50 ms time constant
    run(panner, Cues{}, l, r);
    EXPECT_NEAR(panner.currentDelayLeft(), 3.0f - std::exp(-1.0f), 1e-3f);
}

TEST(PsychoacousticPanner, FullRightDelaysTheLeftEarByTheHeadWidth) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 512);
    Cues c;
    c.pan = 1.0f;
    c.spectral = 0.0f;
    c.level = 0.0f;
    settle(panner, c, 48000);
    // itd 0.653 ms = 31.344 samples, offsets +-15.672: trunc(31.844) + 3 and trunc(0.5) + 3.
    EXPECT_EQ(panner.delayTargetLeft(), 34.0f);
    EXPECT_EQ(panner.delayTargetRight(), 3.0f);

    std::vector<float> l(512, 0.0f), r(512, 0.0f);
    l[50] = r[50] = 1.0f;
    run(panner, c, l, r);
    EXPECT_EQ(vt::peakIndex(l), 84u);
    EXPECT_EQ(vt::peakIndex(r), 53u);
    EXPECT_NEAR(l[84], 1.0f, 1e-2f);
    EXPECT_NEAR(r[53], 1.0f, 2e-3f);
}

TEST(PsychoacousticPanner, FullLeftMirrorsAndHeadSizeScalesTheDelay) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 512);
    std::vector<float> l(64), r(64);
    panner.processBlock(l.data(), r.data(), -1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 64);
    EXPECT_EQ(panner.delayTargetLeft(), 3.0f);
    EXPECT_EQ(panner.delayTargetRight(), 34.0f);
    panner.processBlock(l.data(), r.data(), -1.0f, 2.0f, 0.0f, 0.0f, 1.0f, 64);
    EXPECT_EQ(panner.delayTargetRight(), 66.0f);  // trunc(62.688 + 0.5) + 3
    for (float pan : {-1.0f, -0.4f, 0.3f, 1.0f}) {
        panner.processBlock(l.data(), r.data(), pan, 0.0f, 0.0f, 0.0f, 1.0f, 64);
        EXPECT_EQ(panner.delayTargetLeft(), 3.0f) << pan;
        EXPECT_EQ(panner.delayTargetRight(), 3.0f) << pan;
    }
}

TEST(PsychoacousticPanner, DelayJumpGlidesOverFiftyMilliseconds) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 512);
    Cues c;
    settle(panner, c, 48000);
    c.pan = 1.0f;
    std::vector<float> l(2400, 0.0f), r(2400, 0.0f);
    run(panner, c, l, r, 480);
    EXPECT_NEAR(panner.currentDelayLeft(), 34.0f - 31.0f * std::exp(-1.0f), 0.01f);
}

TEST(PsychoacousticPanner, LevelLawAtFullLeftWithDoubleAmount) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 512);
    Cues c;
    c.pan = -1.0f;
    c.headSize = 0.0f;
    c.spectral = 0.0f;
    c.level = 2.0f;
    c.gain = 0.5f;
    settle(panner, c, 48000);
    EXPECT_NEAR(panner.gainTargetLeft(), 1.326f * 0.5f, 1e-3f);
    EXPECT_NEAR(panner.gainTargetRight(), 0.2126f * 0.5f, 1e-4f);
    EXPECT_NEAR(vt::toDb(panner.gainTargetLeft() / panner.gainTargetRight()), 15.9, 1e-3);

    std::vector<float> l(512, 1.0f), r(512, 1.0f);
    run(panner, c, l, r);
    EXPECT_NEAR(l[511], 1.326f * 0.5f, 1e-3f);
    EXPECT_NEAR(r[511], 0.2126f * 0.5f, 1e-4f);
}

TEST(PsychoacousticPanner, LevelLawIsUnityAtCentreAndWithoutAmount) {
    PsychoacousticPanner panner;
    panner.reset(44100.0f, 256);
    std::vector<float> l(32), r(32);
    for (float amount : {0.5f, 1.0f, 2.0f}) {
        panner.processBlock(l.data(), r.data(), 0.0f, 1.0f, 1.0f, amount, 0.8f, 32);
        EXPECT_NEAR(panner.gainTargetLeft(), 0.8f, 1e-6f);
        EXPECT_NEAR(panner.gainTargetRight(), 0.8f, 1e-6f);
    }
    for (float pan : {-1.0f, -0.3f, 0.6f, 1.0f}) {
        panner.processBlock(l.data(), r.data(), pan, 1.0f, 1.0f, 0.0f, 0.8f, 32);
        EXPECT_EQ(panner.gainTargetLeft(), 0.8f) << pan;
        EXPECT_EQ(panner.gainTargetRight(), 0.8f) << pan;
    }
    // Amount 1 at full right: near side +1.68 dB, far side -6.27 dB.
    panner.processBlock(l.data(), r.data(), 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 32);
    EXPECT_NEAR(vt::toDb(panner.gainTargetRight()), 1.68, 0.01);
    EXPECT_NEAR(vt::toDb(panner.gainTargetLeft()), -6.27, 0.01);
}

TEST(PsychoacousticPanner, SpectralPanShelvesTheFarEarDownAndTheNearEarUp) {
    const float rate = 48000.0f;
    PsychoacousticPanner panner;
    panner.reset(rate, 512);
    Cues c;
    c.pan = 1.0f;
    c.headSize = 0.0f;
    c.spectral = 2.0f;
    c.level = 0.0f;
    settle(panner, c, 48000);
    const auto far = tessary::designHighShelf(25333.803158548093, 1.04, -22.5, rate);
    const auto near = tessary::designHighShelf(25333.803158548093, 1.04, 6.0, rate);
    EXPECT_NEAR(panner.leftShelf().b0, far.b0, 1e-9);
    EXPECT_NEAR(panner.leftShelf().a1, far.a1, 1e-9);
    EXPECT_NEAR(panner.rightShelf().b0, near.b0, 1e-9);

    // Measured well above the 4032 Hz corner, and far below it.
    for (auto [hz, leftDb, rightDb, tolerance] :
         {std::tuple{20000.0, -22.5, 6.0, 0.3}, {50.0, 0.0, 0.0, 0.05}}) {
        std::vector<float> l = vt::sine(hz, rate, 9600), r = l;
        const auto in = l;
        run(panner, c, l, r);
        const double ref = vt::rms(in, 4800, 4800);
        EXPECT_NEAR(vt::toDb(vt::rms(l, 4800, 4800) / ref), leftDb, tolerance) << hz;
        EXPECT_NEAR(vt::toDb(vt::rms(r, 4800, 4800) / ref), rightDb, tolerance) << hz;
    }
}

TEST(PsychoacousticPanner, ShelfGainsMirrorBetweenTheEars) {
    double left = 0, right = 0;
    PsychoacousticPanner::shelfGainsDb(1.0f, 1.0f, left, right);
    EXPECT_EQ(left, -11.25);
    EXPECT_EQ(right, 3.0);
    PsychoacousticPanner::shelfGainsDb(-1.0f, 1.0f, left, right);
    EXPECT_EQ(left, 3.0);
    EXPECT_EQ(right, -11.25);
    PsychoacousticPanner::shelfGainsDb(-0.5f, 2.0f, left, right);
    EXPECT_EQ(left, 3.0);
    EXPECT_EQ(right, -11.25);
    PsychoacousticPanner::shelfGainsDb(0.0f, 2.0f, left, right);
    EXPECT_EQ(left, 0.0);
    EXPECT_EQ(right, 0.0);
}

TEST(PsychoacousticPanner, PanBeyondFullBehavesAsFull) {
    PsychoacousticPanner a, b;
    a.reset(44100.0f, 512);
    b.reset(44100.0f, 512);
    std::vector<float> la = vt::sine(700.0, 44100.0, 8000), ra = vt::sine(3100.0, 44100.0, 8000);
    std::vector<float> lb = la, rb = ra;
    Cues ca, cb;
    ca.pan = 1.7f;
    cb.pan = 1.0f;
    run(a, ca, la, ra);
    run(b, cb, lb, rb);
    EXPECT_EQ(la, lb);
    EXPECT_EQ(ra, rb);
    ca.pan = -3.0f;
    cb.pan = -1.0f;
    run(a, ca, la, ra);
    run(b, cb, lb, rb);
    EXPECT_EQ(la, lb);
    EXPECT_EQ(ra, rb);
}

TEST(PsychoacousticPanner, OutputDoesNotDependOnBlockSize) {
    // With the shelves at identity every remaining glide is per sample, so any cut gives the same
    // samples up to the single-precision read position (which rounds differently for a sample far
    // from its block's end); this pins the read position of each sample inside its block.
    std::vector<float> reference;
    for (int block : {512, 64, 7, 1}) {
        PsychoacousticPanner panner;
        panner.reset(48000.0f, 512);
        Cues c;
        c.pan = 0.6f;
        c.spectral = 0.0f;
        std::vector<float> l = vt::sine(440.0, 48000.0, 6000), r = vt::sine(1200.0, 48000.0, 6000);
        run(panner, c, l, r, block);
        l.insert(l.end(), r.begin(), r.end());
        if (reference.empty())
            reference = l;
        else
            for (size_t i = 0; i < l.size(); ++i) ASSERT_NEAR(l[i], reference[i], 1e-4f) << block << " " << i;
    }
}

// The delay and gain glides, stepped four frames at a time in one register while the pan moves
// every block, end each block on the bits of four smoothers stepped one frame at a time toward the
// block's targets: short and odd blocks, pieces with a tail, glides that stall.
TEST(PsychoacousticPanner, GlidesKeepTheBitsOfOneStepPerFrame) {
    for (float rate : {48000.0f, 44100.0f}) {
        PsychoacousticPanner panner;
        panner.reset(rate, 512);
        korvo::ExpSmoother delays[2], gains[2];
        for (korvo::ExpSmoother& d : delays) d.initialise(2.0f, 0.05f, rate);
        for (korvo::ExpSmoother& g : gains) g.initialise(0.5f, 0.04f, rate);
        const int sizes[] = {64, 64, 7, 130, 64, 1, 33, 512, 64, 64};
        for (int block = 0; block < 400; ++block) {
            const int n = sizes[block % 10];
            const float pan = block < 300 ? 0.9f * std::sin(0.05f * static_cast<float>(block)) : 0.4f;
            const float gain = block % 50 < 25 ? 0.7f : 0.35f;
            std::vector<float> l = vt::sine(300.0, rate, n), r = vt::sine(700.0, rate, n);
            panner.processBlock(l.data(), r.data(), pan, 1.5f, 1.0f, 1.0f, gain, n);
            const float delayTargets[2] = {panner.delayTargetLeft(), panner.delayTargetRight()};
            const float gainTargets[2] = {panner.gainTargetLeft(), panner.gainTargetRight()};
            for (int i = 0; i < n; ++i)
                for (int side = 0; side < 2; ++side) {
                    delays[side].nextSample(delayTargets[side]);
                    gains[side].nextSample(gainTargets[side]);
                }
            ASSERT_EQ(panner.currentDelayLeft(), delays[0].current) << "block " << block;
            ASSERT_EQ(panner.currentDelayRight(), delays[1].current) << "block " << block;
            ASSERT_EQ(panner.currentGainLeft(), gains[0].current) << "block " << block;
            ASSERT_EQ(panner.currentGainRight(), gains[1].current) << "block " << block;
        }
    }
}

TEST(PsychoacousticPanner, EmptyBlockMovesNothing) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 512);
    panner.processBlock(nullptr, nullptr, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0);
    EXPECT_EQ(panner.leftShelf().coefficients(), korvo::BiquadCoeffs::identity());
    EXPECT_EQ(panner.currentDelayLeft(), 2.0f);
}

TEST(PsychoacousticPanner, UnallocatableDelayPassesTheInputThrough) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 1 << 30);  // a ring that large cannot be addressed
    std::vector<float> l = vt::sine(300.0, 48000.0, 1024), r = vt::sine(900.0, 48000.0, 1024);
    const auto inL = l, inR = r;
    Cues c;
    c.pan = 0.8f;
    c.spectral = 0.0f;
    c.level = 0.0f;
    c.gain = 0.5f;  // the gain glide starts at 0.5, so the output is exactly half the input
    run(panner, c, l, r);
    for (size_t i = 0; i < l.size(); ++i) {
        ASSERT_EQ(l[i], inL[i] * 0.5f) << i;
        ASSERT_EQ(r[i], inR[i] * 0.5f) << i;
    }
}

TEST(PsychoacousticPanner, ProcessBlockNeitherAllocatesNorLocks) {
    PsychoacousticPanner panner;
    panner.reset(48000.0f, 512);
    std::vector<float> l = vt::sine(300.0, 48000.0, 512), r = l;
    korvo::test::RealtimeProbe probe;
    for (int i = 0; i < 8; ++i)
        panner.processBlock(l.data(), r.data(), -0.3f * static_cast<float>(i % 3), 1.5f, 2.0f, 1.0f, 0.7f,
                            512 - i);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    EXPECT_EQ(probe.tryLocks(), 0u);
}

}  // namespace
