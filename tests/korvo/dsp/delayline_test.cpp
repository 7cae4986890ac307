#include "korvo/dsp/delayline.h"

#include <emmintrin.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "korvo/dsp/smooth.h"

namespace {

using korvo::Delayline;

std::vector<float> ramp(int n, float start = 1.0f) {
    std::vector<float> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = start + static_cast<float>(i);
    return v;
}

TEST(Delayline, CapacityIsNextPowerOfTwoAboveLength) {
    Delayline d;
    EXPECT_EQ(d.capacity(), 0);
    EXPECT_TRUE(d.isEmpty());
    d.resize(0);
    EXPECT_EQ(d.capacity(), 1);
    d.resize(96);
    EXPECT_EQ(d.capacity(), 128);
    d.resize(128);
    EXPECT_EQ(d.capacity(), 256);
    d.resize(1023);
    EXPECT_EQ(d.capacity(), 1024);
    d.resize(1024);
    EXPECT_EQ(d.capacity(), 2048);
    EXPECT_EQ(d.requestedSamples(), 1024);
}

TEST(Delayline, UnaddressableLengthLeavesItEmpty) {
    Delayline d;
    d.resize(1 << 30);  // would need a 2^31 ring
    EXPECT_TRUE(d.isEmpty());
    EXPECT_EQ(d.capacity(), 0);
    const float x[4] = {1, 2, 3, 4};
    d.feedBlock(x, 4);  // ignored
    EXPECT_EQ(d.readFractional(3.0f), 0.0f);
}

TEST(DelaylineDeathTest, NegativeLengthStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Delayline d;
    EXPECT_DEATH(d.resize(-1), "negative");
}

TEST(Delayline, ResizeClearsContents) {
    Delayline d;
    d.resize(15);
    const auto x = ramp(16);
    d.feedBlock(x.data(), 16);
    d.resize(15);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(d.readFractional(static_cast<float>(k)), 0.0f);
}

TEST(Delayline, IntegerDelaysReadTheStoredSampleExactly) {
    Delayline d;
    d.resize(60);  // capacity 64
    const std::vector<float> x = {0.3f, -1.7f, 2.25f, 1e-3f, 7.5f, -0.125f, 3.0f, 9.0f, -4.0f, 0.7f};
    d.feedBlock(x.data(), static_cast<int>(x.size()));
    for (int k = 0; k < static_cast<int>(x.size()); ++k)
        EXPECT_EQ(d.readFractional(static_cast<float>(k)), x[x.size() - 1 - static_cast<size_t>(k)]) << k;
}

TEST(Delayline, HalfSampleDelayOnARampGivesTheMidpoint) {
    Delayline d;
    d.resize(32);
    const auto x = ramp(20, 10.0f);  // newest 29, at delay 3: 26, delay 4: 25
    d.feedBlock(x.data(), 20);
    EXPECT_FLOAT_EQ(d.readFractional(3.5f), 25.5f);
    EXPECT_FLOAT_EQ(d.readFractional(7.25f), 21.75f);
}

TEST(Delayline, WrappingFeedEqualsSampleBySampleFeed) {
    Delayline bulk, single;
    bulk.resize(20);  // capacity 32
    single.resize(20);
    const auto x = ramp(200, -50.0f);
    size_t pos = 0;
    for (int n : {13, 25, 1, 32, 7, 30, 19, 32}) {  // several blocks straddle the ring's end
        bulk.feedBlock(x.data() + pos, n);
        for (int i = 0; i < n; ++i) single.feedBlock(x.data() + pos + i, 1);
        pos += static_cast<size_t>(n);
        for (int k = 0; k < 32; ++k) {
            ASSERT_EQ(bulk.readFractional(static_cast<float>(k)),
                      single.readFractional(static_cast<float>(k)));
            if (static_cast<size_t>(k) < pos) {
                ASSERT_EQ(bulk.readFractional(static_cast<float>(k)), x[pos - 1 - static_cast<size_t>(k)]);
            }
        }
    }
}

TEST(Delayline, OverlongBlockKeepsTheNewestSamples) {
    Delayline d;
    d.resize(7);  // capacity 8
    const auto x = ramp(21);
    d.feedBlock(x.data(), 21);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(d.readFractional(static_cast<float>(k)), x[20 - static_cast<size_t>(k)]);
}

TEST(Delayline, InterpolatesSmoothSignalsAccurately) {
    Delayline d;
    d.resize(256);
    std::vector<float> x(200);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
    d.feedBlock(x.data(), 200);
    for (float delay = 3.0f; delay < 100.0f; delay += 0.37f) {
        const double expected = std::sin(0.05 * (199.0 - static_cast<double>(delay)));
        EXPECT_NEAR(d.readFractional(delay), expected, 2e-5) << delay;
    }
}

}  // namespace

// The cubic read used by modulation effects: exact at whole delays and on straight lines.
TEST(Delayline, CubicReadIsExactAtWholeDelaysAndOnARamp) {
    korvo::Delayline line;
    line.resize(64);
    float ramp[40];
    for (int i = 0; i < 40; ++i) ramp[i] = static_cast<float>(i) * 0.25f;
    line.feedBlock(ramp, 40);
    for (int d = 2; d < 30; ++d) EXPECT_EQ(line.readCubic(static_cast<float>(d)), ramp[39 - d]);
    EXPECT_FLOAT_EQ(line.readCubic(3.5f), (ramp[36] + ramp[35]) * 0.5f);
    EXPECT_FLOAT_EQ(line.readCubic(10.25f), ramp[39 - 10] - 0.25f * 0.25f);
}

// The four-lane read in its two halves is a speed-up only: the same bits as four single reads, at
// whole, fractional and wrapping positions.
TEST(Delayline, FourLaneReadGivesTheSameBitsAsSingleReads) {
    korvo::Delayline line;
    line.resize(300);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f), delay(3.0f, 290.0f);
    float block[97];
    for (int round = 0; round < 30; ++round) {
        for (float& x : block) x = sample(random);
        line.feedBlock(block, 97);
        for (int k = 0; k < 50; ++k) {
            const float d = delay(random);
            // Scattered lanes, and four frames in a row as the panner reads them (one sample apart,
            // including windows that wrap around the ring's end).
            const float scattered[4] = {d, std::floor(delay(random)), delay(random), 3.0f + 0.5f * k};
            const float inARow[4] = {d, d - 1.0f, d - 2.0f, d - 3.0f};
            for (const float* delays : {scattered, inARow}) {
                float lanes[4];
                _mm_storeu_ps(lanes, korvo::Delayline::readPolynomial4(line.readTerms4(delays)));
                for (int lane = 0; lane < 4; ++lane) {
                    const float single = line.readFractional(delays[lane]);
                    ASSERT_EQ(std::memcmp(&single, &lanes[lane], sizeof(float)), 0) << delays[lane];
                }
            }
        }
    }
}

TEST(ExpSmootherStall, IsStalledExactlyWhenTheNextStepChangesNothing) {
    korvo::ExpSmoother s;
    s.initialise(2.0f, 0.05f, 48000.0f);
    int steps = 0;
    while (!s.isStalled(3.0f) && steps < 1000000) {
        const float before = s.current;
        s.nextSample(3.0f);
        ASSERT_NE(s.current, before) << "not stalled, so it must move";
        ++steps;
    }
    ASSERT_LT(steps, 1000000);
    const float stalled = s.current;
    for (int i = 0; i < 1000; ++i) s.nextSample(3.0f);
    EXPECT_EQ(s.current, stalled);
    EXPECT_FALSE(s.isStalled(4.0f));
    s.current = 0.0f;  // 5e-11 away: within the snap threshold, so the next step moves it
    EXPECT_FALSE(s.isStalled(5e-11f));
}

TEST(Delayline, FourLaneCubicReadGivesTheSameBitsAsSingleReads) {
    korvo::Delayline line;
    line.resize(200);
    std::mt19937 random(9);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f), delay(2.0f, 190.0f);
    float block[61];
    for (int round = 0; round < 30; ++round) {
        for (float& x : block) x = sample(random);
        line.feedBlock(block, 61);
        float delays[4] = {delay(random), delay(random), std::floor(delay(random)), delay(random)};
        float lanes[4];
        line.readCubic4(delays, lanes);
        for (int lane = 0; lane < 4; ++lane) {
            const float single = line.readCubic(delays[lane]);
            ASSERT_EQ(std::memcmp(&single, &lanes[lane], sizeof(float)), 0) << delays[lane];
        }
    }
}

TEST(Delayline, WholeRunsAddTheSameSamplesAsSingleReadsAcrossTheWrap) {
    korvo::Delayline line;
    line.resize(60);  // 64-sample ring
    float block[50];
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 50; ++i) block[i] = static_cast<float>(round * 50 + i);
        line.feedBlock(block, 50);
        for (int first : {49, 20, 63}) {
            float acc[50], expected[50];
            for (int i = 0; i < 50; ++i) acc[i] = expected[i] = 0.5f * static_cast<float>(i);
            const int n = std::min(50, first + 1);
            line.addWholeRun(first, n, -1.0f, acc);
            for (int i = 0; i < n; ++i) expected[i] += -1.0f * line.readWhole(first - i);
            for (int i = 0; i < 50; ++i) ASSERT_EQ(acc[i], expected[i]) << first << " " << i;
        }
    }
}

// Runs of reads: the four-lane halves used as the panner uses them (every group's terms first,
// then every group's polynomial, single reads for the tail) as single reads (lengths that leave a
// tail, windows across the ring's end), and the whole-sample copy as readWhole, both bit for bit.
TEST(Delayline, ReadRunsGiveTheSameBitsAsSingleReads) {
    korvo::Delayline line;
    line.resize(100);  // 128-sample ring
    std::mt19937 random(9);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f), offset(0.0f, 1.0f);
    float block[45];
    for (int round = 0; round < 12; ++round) {
        for (float& x : block) x = sample(random);
        line.feedBlock(block, 45);
        for (int n : {1, 7, 45}) {
            const float base = 3.0f + offset(random) * 40.0f;
            float delays[45], run[45], copy[45];
            for (int i = 0; i < n; ++i) delays[i] = base + static_cast<float>(n - 1 - i);
            korvo::Delayline::ReadTerms terms[11];
            const int groups = n / 4;
            for (int g = 0; g < groups; ++g) terms[g] = line.readTerms4(delays + 4 * g);
            for (int g = 0; g < groups; ++g)
                _mm_storeu_ps(run + 4 * g, korvo::Delayline::readPolynomial4(terms[g]));
            for (int i = 4 * groups; i < n; ++i) run[i] = line.readFractional(delays[i]);
            for (int i = 0; i < n; ++i) {
                const float single = line.readFractional(delays[i]);
                ASSERT_EQ(std::memcmp(&single, &run[i], sizeof(float)), 0) << n << " " << i;
            }
            const int first = 3 + n - 1 + round;
            line.copyWholeRun(first, n, copy);
            for (int i = 0; i < n; ++i) ASSERT_EQ(copy[i], line.readWhole(first - i)) << n << " " << i;
        }
    }
}
