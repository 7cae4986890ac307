// Mono-to-stereo generator: decorrelation of a mono source, untouched mono sum, clean glides.
#include "effect/dsp/stereogenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "korvo/dsp/delayline.h"
#include "tests/effect/dsp/signal_util.h"

namespace {

using velmora::StereoGenerator;
namespace t = velmora::test;

std::vector<float> noise(int frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    std::vector<float> v(static_cast<size_t>(frames));
    for (float& x : v) x = dist(generator);
    return v;
}

// Normalised inter-channel correlation over [from, end).
double correlation(const std::vector<float>& a, const std::vector<float>& b, size_t from) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = from; i < a.size(); ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return ab / std::sqrt(aa * bb);
}

struct Out {
    std::vector<float> left, right;
};

// A mono source through the generator in blocks of `block`.
Out generate(const std::vector<float>& mono, float amount, float delayMs, float lowpassHz, int block = 512) {
    StereoGenerator g;
    g.reset(48000.0f, 0.04f, 512);
    Out out{mono, mono};
    t::inBlocks(out.left, out.right, block,
                [&](float* l, float* r, int n) { g.processBlock(l, r, amount, delayMs, lowpassHz, n); });
    return out;
}

TEST(StereoGenerator, FullAmountDecorrelatesAMonoSourceZeroLeavesItAlone) {
    const std::vector<float> mono = noise(48000, 11);
    const Out none = generate(mono, 0.0f, 6.0f, 2100.0f);
    EXPECT_EQ(none.left, mono);
    EXPECT_EQ(none.right, mono);

    // Broadband source, lowpass open: the side carries about the mid's power.
    const Out wide = generate(mono, 1.0f, 6.0f, 22000.0f);
    EXPECT_LT(std::fabs(correlation(wide.left, wide.right, 9600)), 0.25);
    // Default lowpass (2.1 kHz) on a source whose energy lies below it: still a strong image.
    std::vector<float> dark(mono.size());
    double state = 0;
    for (size_t i = 0; i < mono.size(); ++i) dark[i] = static_cast<float>(state += (mono[i] - state) * 0.08);
    const Out image = generate(dark, 1.0f, 6.0f, 2100.0f);
    EXPECT_LT(correlation(image.left, image.right, 9600), 0.5);
    // Half the amount, clearly narrower than full.
    const Out half = generate(dark, 0.5f, 6.0f, 2100.0f);
    EXPECT_GT(correlation(half.left, half.right, 9600), correlation(image.left, image.right, 9600) + 0.2);
}

TEST(StereoGenerator, TheMonoSumIsUnchanged) {
    const std::vector<float> left = noise(24000, 21), right = noise(24000, 22);
    Out out{left, right};
    StereoGenerator g;
    g.reset(48000.0f, 0.04f, 512);
    t::inBlocks(out.left, out.right, 300,
                [&](float* l, float* r, int n) { g.processBlock(l, r, 1.0f, 9.0f, 22000.0f, n); });
    double sideChange = 0;
    for (size_t i = 0; i < left.size(); ++i) {
        EXPECT_NEAR(out.left[i] + out.right[i], left[i] + right[i], 2e-7f) << i;
        sideChange =
            std::max(sideChange, double(std::fabs((out.left[i] - out.right[i]) - (left[i] - right[i]))));
    }
    EXPECT_GT(sideChange, 0.1);  // the side did change
}

TEST(StereoGenerator, BassStaysCentred) {
    // A 40 Hz tone gets far less side than the mid range (averaged over several tones, since a single
    // tone may sit in one of the taps' notches).
    auto sideDb = [](double hz) {
        const std::vector<float> mono = t::sine(hz, 48000.0, 48000);
        const Out out = generate(mono, 1.0f, 6.0f, 22000.0f);
        std::vector<float> side(out.left.size());
        for (size_t i = 0; i < side.size(); ++i) side[i] = 0.5f * (out.left[i] - out.right[i]);
        return t::toDb(t::rms(side, 24000, 24000) / t::rms(mono, 24000, 24000));
    };
    double mids = 0;
    for (double hz : {500.0, 700.0, 900.0, 1100.0, 1300.0, 1500.0}) mids += std::pow(10.0, sideDb(hz) / 10.0);
    const double midDb = 10.0 * std::log10(mids / 6.0);
    EXPECT_GT(midDb, -4.0);
    EXPECT_LT(sideDb(40.0), midDb - 10.0);
}

TEST(StereoGenerator, DelayChangesGlideWithoutClicks) {
    // A 300 Hz tone at full amount; the delay jumps from 3 to 12 ms halfway.
    const std::vector<float> mono = t::sine(300.0, 48000.0, 48000, 0.4);
    StereoGenerator g;
    g.reset(48000.0f, 0.04f, 512);
    Out out{mono, mono};
    int position = 0;
    t::inBlocks(out.left, out.right, 256, [&](float* l, float* r, int n) {
        g.processBlock(l, r, 1.0f, position < 24000 ? 3.0f : 12.0f, 22000.0f, n);
        position += n;
    });
    auto largestStep = [&](size_t from, size_t to) {
        float step = 0;
        for (size_t i = from; i < to; ++i) step = std::max(step, std::fabs(out.left[i] - out.left[i - 1]));
        return step;
    };
    // The taps slide (a short pitch glide) instead of jumping: no step comes near the jump a hard switch
    // of the delay would make (up to twice the tone's amplitude, 0.8); the tone alone steps by 0.016.
    EXPECT_LT(largestStep(12000, 24000), 0.06f);
    EXPECT_LT(largestStep(24000, 36000), 0.06f);
    EXPECT_GT(g.tap(0).current, 11.9f);  // glided to the new delay
    EXPECT_NEAR(g.tap(5).current, 12.0f * StereoGenerator::tapRatio(5), 0.1f);
}

TEST(StereoGenerator, AmountGlidesAndBlockSizeDoesNotMatter) {
    const std::vector<float> mono = noise(9600, 31);
    const Out reference = generate(mono, 0.8f, 7.5f, 5000.0f, 512);
    // Glides run per sample; only the rounding of the fractional read positions (single precision on
    // a 16384-sample ring: steps of 1/256 sample) depends on the block.
    for (int block : {1, 7, 64}) {
        const Out other = generate(mono, 0.8f, 7.5f, 5000.0f, block);
        float largest = 0;
        for (size_t i = 0; i < mono.size(); ++i)
            largest = std::max(largest, std::fabs(other.left[i] - reference.left[i]));
        EXPECT_LT(largest, 1e-3f) << block;
    }
    // The image fades in: the first millisecond carries almost no side.
    float early = 0;
    for (size_t i = 0; i < 48; ++i)
        early = std::max(early, std::fabs(reference.left[i] - reference.right[i]));
    EXPECT_LT(early, 0.05f);
}

// Settled and gliding taps, reads straight in the ring and across its end, the amount settled,
// gliding and off, block sizes around the four-frame steps and the 128-frame chunks, signed zeros:
// every block carries the plain form's bits.
TEST(StereoGenerator, EveryPathGivesThePlainFormsBits) {
    for (float rate : {48000.0f, 44100.0f}) {
        StereoGenerator generator, plain;
        generator.reset(rate, 0.04f, 512);
        plain.reset(rate, 0.04f, 512);
        std::mt19937 random(static_cast<unsigned>(rate));
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        const int sizes[] = {64, 1, 3, 4, 129, 512, 64, 7, 511, 200};
        float amount = 0.5f, delayMs = 6.0f, lowpassHz = 2100.0f;
        for (int block = 0; block < 1200; ++block) {
            const float roll = unit(random);
            const bool tapsHold = block % 300 < 180;  // settled taps, read straight or across the end
            if (block % 300 == 0) {
                generator.settle(amount, delayMs);
                plain.settle(amount, delayMs);
            }
            if (roll < 0.04f && !tapsHold)
                delayMs = 3.0f + 9.0f * unit(random);  // the taps glide
            else if (roll < 0.08f)
                amount = unit(random);  // the amount glides
            else if (roll < 0.10f)
                amount = 0.0f;
            else if (roll < 0.12f)
                lowpassHz = 200.0f + 21800.0f * unit(random);
            const int n = sizes[block % 10];
            std::vector<float> left = noise(n, static_cast<unsigned>(block)), right = noise(n, 7000u + block);
            if (block % 9 == 4)
                for (int i = 0; i < n; i += 3)
                    left[static_cast<size_t>(i)] = right[static_cast<size_t>(i)] = -0.0f;
            std::vector<float> plainLeft = left, plainRight = right;
            generator.processBlock(left.data(), right.data(), amount, delayMs, lowpassHz, n);
            plain.processBlockPlain(plainLeft.data(), plainRight.data(), amount, delayMs, lowpassHz, n);
            ASSERT_EQ(std::memcmp(left.data(), plainLeft.data(), sizeof(float) * static_cast<size_t>(n)), 0)
                << "block " << block << " rate " << rate;
            ASSERT_EQ(std::memcmp(right.data(), plainRight.data(), sizeof(float) * static_cast<size_t>(n)), 0)
                << "block " << block << " rate " << rate;
        }
    }
}

}  // namespace
