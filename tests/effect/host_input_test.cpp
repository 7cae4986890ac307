// What hosts may hand the effect beyond the usual: every sample rate from 8 kHz to 384 kHz with every
// preset and parameter extreme, and samples that are not finite or absurdly large.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "effect/main.h"
#include "korvo/core/fpcontrol.h"

namespace {

using velmora::VelmoraClient;
namespace v = velmora;

struct Stereo {
    std::vector<float> left, right;
};

std::vector<float> noise(std::size_t frames, unsigned seed, float amplitude) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> uniform(-amplitude, amplitude);
    std::vector<float> x(frames);
    for (float& s : x) s = uniform(random);
    return x;
}

// Host blocks of 512 (cut to the client's limit by processAudioFromHost), as the plug-in runs them.
Stereo run(VelmoraClient& client, const std::vector<float>& left, const std::vector<float>& right,
           double rate) {
    korvo::FPControl guard;
    client.resetFromHost(rate, 512, 2, 2);
    Stereo out{std::vector<float>(left.size()), std::vector<float>(left.size())};
    korvo::HostTiming timing{120.0, 0, true};
    for (std::size_t start = 0; start < left.size(); start += 512) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(512, left.size() - start));
        const float* ins[2] = {left.data() + start, right.data() + start};
        float* outs[2] = {out.left.data() + start, out.right.data() + start};
        client.processAudioFromHost(ins, 2, outs, 2, n, timing);
    }
    return out;
}

// Largest magnitude, or infinity when anything is not finite.
float peak(const Stereo& s) {
    float worst = 0.0f;
    for (const auto* channel : {&s.left, &s.right})
        for (float x : *channel) worst = std::isfinite(x) ? std::max(worst, std::fabs(x)) : INFINITY;
    return worst;
}

// A filter corner at or above half the rate (the head-shadow shelf's 4032 Hz at 8000 Hz and 8062 Hz)
// used to make the output diverge; every corner is now held below it. Each case: 0.2 s of noise of
// peak 0.5, then silence for the tail, from a preset or with one parameter at one end of its range
// (or all of them at once), at every rate hosts use.
TEST(HostRates, OutputStaysFiniteAndBoundedForEveryPresetAndExtremeAtEveryRate) {
    const double rates[] = {8000, 8062, 11025, 22050, 44100, 48000, 96000, 192000, 384000};
    struct Case {
        int preset;     // -1: none
        int parameter;  // -1: none, -2: every parameter
        double value;
    };
    std::vector<Case> cases;
    for (int p = 0; p < 12; ++p) cases.push_back({p, -1, 0.0});
    for (int i = 0; i <= v::kLevelPan; ++i)
        for (double value : {0.0, 1.0}) cases.push_back({-1, i, value});
    cases.push_back({-1, -2, 0.0});
    cases.push_back({-1, -2, 1.0});
    for (double rate : rates) {
        const auto frames = static_cast<std::size_t>(rate * 0.15);
        std::vector<float> left = noise(frames, 1, 0.5f), right = noise(frames, 2, 0.5f);
        for (std::size_t i = frames * 4 / 5; i < frames; ++i) left[i] = right[i] = 0.0f;
        for (const Case& c : cases) {
            VelmoraClient client;
            if (c.preset >= 0) client.presetBank().selectPresetFromHost(c.preset);
            // Panned, so the head-shadow shelves are designed.
            client.parameter(v::kPan).setNormalizedFromHost(0.9);
            for (int i = 0; i < client.parameterCount(); ++i)
                if (c.parameter == i || c.parameter == -2) client.parameter(i).setNormalizedFromHost(c.value);
            // The random wave draws from a sequence seeded by the instance's address, so how loud a
            // fully modulated random wave leaves the sound differs from run to run: with every depth
            // at its end the square wave stands in (the random wave at the default depths is the
            // single-parameter case).
            if (c.parameter == -2 && c.value == 1.0) client.parameter(v::kLfoWave).setNormalizedFromHost(0.5);
            const Stereo out = run(client, left, right, rate);
            ASSERT_LT(peak(out), 20.0f)
                << rate << " Hz, preset " << c.preset << ", parameter " << c.parameter << " at " << c.value;
            // Not merely silenced by the last-resort guard: sound comes out (except where "Output
            // Level" is at minus infinity).
            const bool muted = c.value == 0.0 && (c.parameter == v::kOutputLevel || c.parameter == -2);
            double energy = 0.0;
            for (std::size_t i = frames / 5; i < frames * 4 / 5; ++i)
                energy += double(out.left[i]) * out.left[i];
            if (!muted) {
                ASSERT_GT(energy / double(frames) * 5.0 / 3.0, 1e-4)
                    << rate << " Hz, preset " << c.preset << ", parameter " << c.parameter << " at "
                    << c.value;
            }
        }
    }
}

// A sample that is not finite is silence to the chain: the output equals that of the same input with
// zeros in its place, bit for bit, through filters that hold state ("Far-Left" panned right, a
// generated side and a tilt), and no later block is touched. Magnitudes beyond 1e6 are held at 1e6.
TEST(BadSamples, NonFiniteInputIsSilenceAndHugeInputIsHeld) {
    const std::size_t frames = 48000;
    std::vector<float> left = noise(frames, 3, 0.3f), right = noise(frames, 4, 0.3f);
    std::vector<float> badLeft = left, badRight = right;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::size_t holes[] = {7, 5000, 5001, 20000, 33333};
    for (std::size_t i : holes) {
        badLeft[i] = i % 2 ? nan : INFINITY;
        badRight[i + 3] = -INFINITY;
        left[i] = 0.0f;
        right[i + 3] = 0.0f;
    }
    badLeft[40000] = 3e38f;
    badRight[40001] = -3e38f;
    left[40000] = 1e6f;
    right[40001] = -1e6f;
    auto configure = [](VelmoraClient& client) {
        client.presetBank().selectPresetFromHost(7);
        client.parameter(v::kPan).setNormalizedFromHost(0.8);
        client.parameter(v::kMtoSAmount).setNormalizedFromHost(0.5);
        client.parameter(v::kTilt).setNormalizedFromHost(0.7);
    };
    VelmoraClient clean, bad;
    configure(clean);
    configure(bad);
    const Stereo expected = run(clean, left, right, 48000.0);
    const Stereo got = run(bad, badLeft, badRight, 48000.0);
    ASSERT_TRUE(std::isfinite(peak(got)));
    EXPECT_EQ(got.left, expected.left);
    EXPECT_EQ(got.right, expected.right);
}

}  // namespace
