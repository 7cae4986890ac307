// LFO: shapes, synced periods, lock to the host position, block-size independence, random sequence.
#include "effect/dsp/lfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <set>
#include <vector>

namespace {

using velmora::LFO;
using velmora::LFOSegment;
using velmora::LFOSettings;
using velmora::LFOWave;

constexpr float kRate = 48000.0f;

// Runs the oscillator over `frames` frames in host blocks of `block` and returns its per-frame ramp.
// playing: the host plays from `start`; otherwise the position stays at `start`.
std::vector<float> run(LFO& lfo, const LFOSettings& settings, std::int64_t frames, int block, bool playing,
                       double tempo = 120.0, std::int64_t start = 0) {
    std::vector<float> out;
    out.reserve(static_cast<size_t>(frames));
    korvo::HostTiming timing{tempo, start, playing};
    for (std::int64_t done = 0; done < frames;) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(block, frames - done));
        lfo.beginBlock(settings, timing, n);
        for (std::int32_t inBlock = 0; inBlock < n;) {
            const LFOSegment segment = lfo.nextSegment(settings, n - inBlock);
            for (std::int32_t k = 0; k < segment.frames; ++k) out.push_back(segment.rampAt(k));
            inBlock += segment.frames;
        }
        if (playing)  // the host's position wraps rather than overflowing
            timing.timeInSamples = static_cast<std::int64_t>(
                static_cast<std::uint64_t>(timing.timeInSamples) + static_cast<std::uint64_t>(n));
        done += n;
    }
    return out;
}

// Mean distance in frames between upward zero crossings (interpolated), from the second crossing on.
double period(const std::vector<float>& v) {
    std::vector<double> crossings;
    for (size_t i = 1; i < v.size(); ++i)
        if (v[i - 1] < 0.0f && v[i] >= 0.0f)
            crossings.push_back(static_cast<double>(i - 1) + v[i - 1] / (v[i - 1] - v[i]));
    if (crossings.size() < 3) return 0.0;
    return (crossings.back() - crossings[1]) / static_cast<double>(crossings.size() - 2);
}

LFOSettings synced(int tempoIndex, LFOWave wave = LFOWave::sine) {
    LFOSettings s;
    s.wave = wave;
    s.synced = true;
    s.tempoIndex = tempoIndex;
    return s;
}

TEST(LFO, ShapesStartUpwardLikeASine) {
    const LFOWave waves[] = {LFOWave::sine, LFOWave::triangle, LFOWave::square, LFOWave::saw};
    for (LFOWave w : waves) {
        EXPECT_GT(LFO::shape(w, 0.2, 0.0, 0.0, 0, 0), 0.0f);
        EXPECT_LT(LFO::shape(w, 0.7, 0.0, 0.0, 0, 0), 0.0f) << int(w);
    }
    EXPECT_NEAR(LFO::shape(LFOWave::sine, 0.25, 0, 0, 0, 0), 1.0f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::triangle, 0.25, 0, 0, 0, 0), 1.0f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::square, 0.3, 0.05, 0, 0, 0), 1.0f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::square, 0.9, 0.05, 0, 0, 0), -1.0f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::square, 0.525, 0.05, 0, 0, 0), 0.0f, 1e-6f);  // half way down its edge
    EXPECT_NEAR(LFO::shape(LFOWave::saw, 0.0, 0.0, 0, 0, 0), 0.0f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::saw, 0.25, 0.0, 0, 0, 0), 0.5f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::saw, 0.4, 0.1, 0, 0, 0), 1.0f, 1e-6f);  // top, then the softened fall
    EXPECT_NEAR(LFO::shape(LFOWave::saw, 0.45, 0.1, 0, 0, 0), 0.0f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::saw, 0.5, 0.1, 0, 0, 0), -1.0f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::random, 0.0, 0.2, 0.2, -0.5f, 0.5f), -0.5f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::random, 0.1, 0.2, 0.2, -0.5f, 0.5f), 0.0f, 1e-6f);
    EXPECT_NEAR(LFO::shape(LFOWave::random, 0.6, 0.2, 0.2, -0.5f, 0.5f), 0.5f, 1e-6f);
}

TEST(LFO, SyncedPeriodFollowsTheTempoChoice) {
    struct Case {
        int tempoIndex;
        double bpm, expectedFrames;
    };
    // 8/4: eight quarter notes; 1/4: one; 3/16: three sixteenth notes.
    const Case cases[] = {{5, 120.0, 192000.0}, {5, 90.0, 256000.0},  {9, 120.0, 24000.0},
                          {9, 90.0, 32000.0},   {10, 120.0, 18000.0}, {10, 90.0, 24000.0}};
    for (const Case& c : cases) {
        LFO lfo;
        lfo.reset(kRate, 1u);
        const auto frames = static_cast<std::int64_t>(c.expectedFrames * 3.2);
        const double measured = period(run(lfo, synced(c.tempoIndex), frames, 512, true, c.bpm));
        EXPECT_NEAR(measured, c.expectedFrames, 0.05) << c.tempoIndex << " at " << c.bpm;
    }
}

TEST(LFO, StoppedHostFreeRunsAtItsTempoOrAtOneHundredTwentyBpm) {
    for (double tempo : {90.0, 0.0, -5.0, std::nan("")}) {
        LFO lfo;
        lfo.reset(kRate, 1u);
        const double expected = tempo > 0.0 ? 32000.0 : 24000.0;  // one quarter note
        EXPECT_NEAR(period(run(lfo, synced(9), 120000, 333, false, tempo)), expected, 0.5) << tempo;
    }
    LFOSettings free;
    free.synced = false;
    free.freqHz = 10.0f;
    LFO lfo;
    lfo.reset(kRate, 1u);
    EXPECT_NEAR(period(run(lfo, free, 48000, 512, true)), 4800.0, 0.5);  // the host plays: ignored
}

TEST(LFO, PlayingHostLocksThePhaseToItsPosition) {
    // One cycle per second (1/4 at 60 BPM); +90 degrees: a sine that starts at its top.
    LFOSettings settings = synced(9);
    settings.phaseDegrees = 90.0f;
    const double cycleFrames = 48000.0;

    // A bounce from the song's start, in 512-frame blocks.
    LFO bounce;
    bounce.reset(kRate, 7u);
    const std::vector<float> a = run(bounce, settings, 200000, 512, true, 60.0);
    constexpr int cell = velmora::LFO::kCellFrames;
    EXPECT_NEAR(a[cell - 1], std::cos(2.0 * std::numbers::pi * cell / cycleFrames), 1e-6);

    // Real time: the host idles stopped for a while (free-running), then plays from position 70003
    // in 100-frame blocks. From the first whole cell on, it matches the bounce at the same positions.
    LFO live;
    live.reset(kRate, 7u);
    run(live, settings, 12345, 256, false, 60.0);
    const std::vector<float> b = run(live, settings, 100000, 100, true, 60.0, 70003);
    const size_t firstCell = cell - 70003 % cell;
    for (size_t i = firstCell; i < b.size(); ++i) ASSERT_EQ(b[i], a[70003 + i]) << i;
    // Even the partial first cell starts on the value at its position.
    EXPECT_NEAR(b[0], std::cos(2.0 * std::numbers::pi * 70004.0 / cycleFrames), 2e-3);
}

TEST(LFO, BlockSizeDoesNotChangeTheModulation) {
    LFOSettings free;
    free.synced = false;
    free.freqHz = 7.3f;
    free.wave = LFOWave::random;
    const LFOSettings locked = synced(10, LFOWave::triangle);
    for (bool playing : {false, true}) {
        const LFOSettings& settings = playing ? locked : free;
        std::vector<float> reference;
        for (int block : {512, 1, 7, 64, 100}) {
            LFO lfo;
            lfo.reset(kRate, 99u);
            const std::vector<float> v = run(lfo, settings, 30000, block, playing, 133.0);
            if (reference.empty())
                reference = v;
            else
                EXPECT_EQ(v, reference) << "block " << block << (playing ? " playing" : " free");
        }
    }
}

// Blocks that use no modulation skip the values: whatever mix of skipped and used blocks, with the
// phase offset moving while skipping, every used segment is bit for bit what it would have been.
TEST(LFO, SkippedBlocksLeaveTheLaterSegmentsAsTheyWouldHaveBeen) {
    for (const LFOWave wave :
         {LFOWave::sine, LFOWave::triangle, LFOWave::square, LFOWave::saw, LFOWave::random})
        for (const bool playing : {false, true}) {
            LFOSettings settings = synced(9, wave);
            settings.synced = playing;
            settings.freqHz = 9.1f;
            LFO walked, skipping;
            walked.reset(kRate, 7u);
            skipping.reset(kRate, 7u);
            korvo::HostTiming timing{127.0, 1000, playing};
            const int blocks[] = {100, 64, 1, 300, 7, 512, 33};
            for (int b = 0; b < 70; ++b) {
                const std::int32_t n = blocks[b % 7];
                settings.phaseDegrees = static_cast<float>((b * 37) % 360 - 180);
                walked.beginBlock(settings, timing, n);
                skipping.beginBlock(settings, timing, n);
                const bool skipped = (b / 3) % 2 == 0;
                for (std::int32_t done = 0; done < n;) {
                    const LFOSegment a = walked.nextSegment(settings, n - done);
                    if (!skipped) {
                        const LFOSegment c = skipping.nextSegment(settings, n - done);
                        ASSERT_EQ(c.frames, a.frames);
                        ASSERT_EQ(c.value, a.value) << "block " << b;
                        ASSERT_EQ(c.rampStart, a.rampStart) << "block " << b;
                        ASSERT_EQ(c.rampStep, a.rampStep) << "block " << b;
                        ASSERT_EQ(c.rampDone, a.rampDone);
                    }
                    done += a.frames;
                }
                if (skipped) skipping.skip(settings, n);
                timing.timeInSamples += n;
            }
            EXPECT_EQ(skipping.randomState, walked.randomState);
            EXPECT_EQ(skipping.phase, walked.phase);
        }
}

TEST(LFO, RandomRepeatsAfterResetWithANewValuePerCycle) {
    LFOSettings settings;
    settings.synced = false;
    settings.freqHz = 10.0f;
    settings.wave = LFOWave::random;
    LFO lfo;
    lfo.reset(kRate, 0x1234567u);
    const std::vector<float> first = run(lfo, settings, 48000, 512, false);
    lfo.reset(kRate, 0x1234567u);
    EXPECT_EQ(run(lfo, settings, 48000, 512, false), first);
    LFO other;
    other.reset(kRate, 0x7654321u);
    EXPECT_NE(run(other, settings, 48000, 512, false), first);

    // Ten cycles: the value held in the middle of each cycle differs from cycle to cycle.
    std::set<float> held;
    for (int cycle = 0; cycle < 10; ++cycle) held.insert(first[static_cast<size_t>(cycle * 4800 + 4000)]);
    EXPECT_EQ(held.size(), 10u);
    for (float x : first) {
        EXPECT_GE(x, -1.0f);
        EXPECT_LE(x, 1.0f);
    }
    // A seed of 0 still gives a moving sequence.
    LFO zero;
    zero.reset(kRate, 0u);
    const std::vector<float> z = run(zero, settings, 9600, 512, false);
    EXPECT_NE(z[4000], z[8800]);
}

TEST(LFO, JumpsAreSoftenedAtTheFastestRate) {
    // At 10 Hz the ramp never moves by more than a few hundredths per frame (a hard edge would be 2).
    for (LFOWave wave : {LFOWave::square, LFOWave::saw, LFOWave::random}) {
        LFOSettings settings;
        settings.synced = false;
        settings.freqHz = 10.0f;
        settings.wave = wave;
        LFO lfo;
        lfo.reset(kRate, 5u);
        const std::vector<float> v = run(lfo, settings, 24000, 512, false);
        float largest = 0;
        for (size_t i = 1; i < v.size(); ++i) largest = std::max(largest, std::fabs(v[i] - v[i - 1]));
        EXPECT_LT(largest, 0.01f) << int(wave);
        EXPECT_GT(*std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end()), 0.5f);
    }
}

TEST(LFO, AbsurdHostPositionsAndRatesStayInRange) {
    for (std::int64_t start : {std::int64_t{9223372036854775000}, std::int64_t{-9223372036854775000}}) {
        LFO lfo;
        lfo.reset(kRate, 3u);
        for (float x : run(lfo, synced(0, LFOWave::random), 3000, 512, true, 1e12, start)) {
            EXPECT_GE(x, -1.0f);
            EXPECT_LE(x, 1.0f);
        }
    }
}

}  // namespace
