// The generator, tilt and LFO stages inside the effect's chain: exact transparency while inactive,
// and what a listener hears when they work (image width, mono sum, auto-pan, tremolo, ranges).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "effect/dsp/distance.h"
#include "effect/dsp/psypan.h"
#include "effect/main.h"
#include "korvo/dsp/smooth.h"

namespace v = velmora;
using velmora::VelmoraClient;

namespace {

constexpr double kRate = 48000.0;

struct Stereo {
    std::vector<float> left, right;
};

void setPlain(VelmoraClient& client, int index, const char* text) {
    const auto parsed = client.parameter(index).parseToNormalized(text);
    ASSERT_TRUE(parsed.ok) << text;
    client.parameter(index).setNormalizedFromHost(parsed.normalized);
}

float plainValue(const VelmoraClient& client, int index) {
    return static_cast<float>(static_cast<const korvo::FloatParameter&>(client.parameter(index)).value());
}

// Host blocks of `block` frames through processAudioFromHost; the host plays from position 0.
Stereo render(VelmoraClient& client, const std::vector<float>& inLeft, const std::vector<float>* inRight,
              int block = 512, bool reset = true, double tempo = 120.0) {
    const int numInputs = inRight ? 2 : 1;
    if (reset) client.resetFromHost(kRate, block, numInputs, 2);
    const auto frames = static_cast<int>(inLeft.size());
    Stereo out{std::vector<float>(frames), std::vector<float>(frames)};
    korvo::HostTiming timing{tempo, 0, true};
    for (int start = 0; start < frames; start += block) {
        const int n = std::min(block, frames - start);
        const float* ins[2] = {inLeft.data() + start, inRight ? inRight->data() + start : nullptr};
        float* outs[2] = {out.left.data() + start, out.right.data() + start};
        client.processAudioFromHost(ins, numInputs, outs, 2, n, timing);
    }
    return out;
}

std::vector<float> noise(int frames, unsigned seed, float amplitude = 0.3f) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> x(static_cast<size_t>(frames));
    for (float& s : x) s = dist(generator);
    return x;
}

std::vector<float> sine(int frames, double hz, float amplitude = 0.25f) {
    std::vector<float> x(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        x[static_cast<size_t>(i)] =
            amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / kRate));
    return x;
}

double rms(const std::vector<float>& x, size_t from, size_t count) {
    double sum = 0;
    for (size_t i = from; i < from + count; ++i) sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(count));
}

double correlation(const Stereo& s, size_t from) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = from; i < s.left.size(); ++i) {
        ab += double(s.left[i]) * s.right[i];
        aa += double(s.left[i]) * s.left[i];
        bb += double(s.right[i]) * s.right[i];
    }
    return ab / std::sqrt(aa * bb);
}

float largestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float d = 0;
    for (size_t i = 0; i < a.size(); ++i) d = std::max(d, std::fabs(a[i] - b[i]));
    return d;
}

// The chain without the generator, tilt and LFO stages: distance, width, panner, "Test Mono", with the
// parameters read exactly as the client reads them.
class ReferenceChain {
public:
    void reset(float rate, int maxFrames) {
        panner.reset(rate, maxFrames);
        distance.reset(rate);
        mid.assign(static_cast<size_t>(maxFrames), 0.0f);
        side.assign(static_cast<size_t>(maxFrames), 0.0f);
        width.initialise(1.0f, 0.04f, rate);
    }

    void process(const VelmoraClient& c, const float* inL, const float* inR, float* outL, float* outR,
                 int n) {
        const float wet = plainValue(c, v::kDryWet) * 0.01f;
        const float w = plainValue(c, v::kStereoWidth) * 0.01f;
        const float pan = (plainValue(c, v::kPan) * wet) / 90.0f;
        const float dist = plainValue(c, v::kDistance) * wet;
        const float headSize = plainValue(c, v::kHeadSize) * 0.01f;
        const float spectral = plainValue(c, v::kSpectralPan) * 0.01f;
        const float levelPan = plainValue(c, v::kLevelPan) * 0.01f;
        const float outputGain = std::exp(plainValue(c, v::kOutputLevel) * 0.115129255f);
        const bool testMono = static_cast<const korvo::BoolParameter&>(c.parameter(v::kTestMono)).value();
        const float outBlend = outputGain + (1.0f - outputGain) * (1.0f - wet);
        const float psyScale = 1.0f - std::max(0.0f, dist / 6.0f);
        const float distanceGain = distance.processBlock(inL, inR, dist, outL, outR, n);
        const float levelGain = distanceGain * 0.5f * outBlend;
        for (int i = 0; i < n; ++i) mid[i] = outL[i] + outR[i];
        const float widthTarget = w + (1.0f - w) * (1.0f - wet);
        for (int i = 0; i < n; ++i) side[i] = (outL[i] - outR[i]) * width.nextSample(widthTarget);
        for (int i = 0; i < n; ++i) {
            outL[i] = mid[i] + side[i];
            outR[i] = mid[i] - side[i];
        }
        panner.processBlock(outL, outR, pan, headSize * psyScale, spectral * psyScale, levelPan * psyScale,
                            levelGain, n);
        if (testMono)
            for (int i = 0; i < n; ++i) outL[i] = outR[i] = (outL[i] + outR[i]) * 0.5f;
    }

private:
    v::DistanceModel distance;
    v::PsychoacousticPanner panner;
    korvo::ExpSmoother width;
    std::vector<float> mid, side;
};

TEST(StagesChain, InactiveStagesLeaveTheChainBitIdentical) {
    const int frames = 36000;
    std::vector<float> left = noise(frames, 1), right = noise(frames, 2);
    const std::vector<float> toneA = sine(frames, 220.0), toneB = sine(frames, 3100.0, 0.1f);
    for (int i = 0; i < frames; ++i) {
        left[i] += toneA[i];
        right[i] = right[i] * (i < frames / 2 ? 0.2f : 1.0f) + toneB[i];
        if (i % 5000 == 7) left[i] = 0.9f;  // clicks
    }
    struct Setting {
        std::vector<std::pair<int, const char*>> values;
    };
    const Setting settings[] = {
        // Defaults, with every inactive control of the stages moved away from its default.
        {{{v::kMtoSDelay, "11"},
          {v::kMtoSLowpass, "5"},
          {v::kLfoWave, "random"},
          {v::kLfoSynced, "no"},
          {v::kLfoFreq, "7"},
          {v::kLfoPhase, "45"}}},
        {{{v::kPan, "-40"},
          {v::kDistance, "-9"},
          {v::kStereoWidth, "160"},
          {v::kHeadSize, "150"},
          {v::kSpectralPan, "60"},
          {v::kLevelPan, "130"},
          {v::kOutputLevel, "-4"},
          {v::kDryWet, "80"},
          {v::kLfoTempo, "3/16"},
          {v::kLfoWave, "square"}}},
        {{{v::kPan, "75"},
          {v::kDistance, "4"},
          {v::kStereoWidth, "30"},
          {v::kTestMono, "yes"},
          {v::kDryWet, "55"},
          {v::kLfoWave, "saw"},
          {v::kMtoSDelay, "3"}}},
    };
    for (const Setting& setting : settings) {
        VelmoraClient client;
        for (const auto& [index, text] : setting.values) setPlain(client, index, text);
        const int hostBlock = 1300;  // cut into 512, 512 and 276 frames
        const Stereo actual = render(client, left, &right, hostBlock);

        ReferenceChain reference;
        reference.reset(static_cast<float>(kRate), 512);
        Stereo expected{std::vector<float>(frames), std::vector<float>(frames)};
        for (int start = 0; start < frames; start += hostBlock)
            for (int chunk = start; chunk < std::min(start + hostBlock, frames); chunk += 512) {
                const int n = std::min({512, start + hostBlock - chunk, frames - chunk});
                reference.process(client, left.data() + chunk, right.data() + chunk,
                                  expected.left.data() + chunk, expected.right.data() + chunk, n);
            }
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.right, expected.right);
    }
}

TEST(StagesChain, DryWetZeroSilencesTheNewStagesToo) {
    const std::vector<float> in = noise(12000, 3);
    VelmoraClient plain;
    setPlain(plain, v::kDryWet, "0");
    const Stereo reference = render(plain, in, &in);
    VelmoraClient busy;
    setPlain(busy, v::kDryWet, "0");
    for (int index : {v::kMtoSAmount, v::kLfoToPan, v::kLfoToDistance, v::kLfoToGain, v::kLfoToTilt})
        setPlain(busy, index, "100");
    setPlain(busy, v::kTilt, "6");
    const Stereo out = render(busy, in, &in);
    EXPECT_EQ(out.left, reference.left);
    EXPECT_EQ(out.right, reference.right);
}

TEST(StagesChain, GeneratorWidensAMonoSourceAndKeepsTheMonoSum) {
    const std::vector<float> mono = noise(48000, 4);
    VelmoraClient narrow;
    const Stereo dry = render(narrow, mono, nullptr);
    EXPECT_EQ(dry.left, dry.right);  // a centred mono source stays mono

    VelmoraClient wide;
    setPlain(wide, v::kMtoSAmount, "100");
    setPlain(wide, v::kMtoSLowpass, "22");
    const Stereo out = render(wide, mono, nullptr);
    EXPECT_LT(std::fabs(correlation(out, 9600)), 0.3);

    // "Test Mono": the generated side cancels in the fold, up to float rounding.
    setPlain(narrow, v::kTestMono, "yes");
    setPlain(wide, v::kTestMono, "yes");
    const Stereo foldedDry = render(narrow, mono, nullptr);
    const Stereo foldedWide = render(wide, mono, nullptr);
    EXPECT_LT(largestDifference(foldedDry.left, foldedWide.left), 1e-6f);

    // "Stereo Width" 0 % comes after the generator and removes its image too.
    setPlain(wide, v::kTestMono, "no");
    setPlain(wide, v::kStereoWidth, "0");
    const Stereo collapsed = render(wide, mono, nullptr);
    EXPECT_LT(largestDifference(std::vector<float>(collapsed.left.begin() + 24000, collapsed.left.end()),
                                std::vector<float>(collapsed.right.begin() + 24000, collapsed.right.end())),
              1e-5f);  // the 40 ms width glide is within 1e-5 of 0 after half a second
}

TEST(StagesChain, TiltBrightensOrDarkensThroughTheClient) {
    auto levelDb = [](const char* tilt, double hz) {
        VelmoraClient client;
        setPlain(client, v::kTilt, tilt);
        const Stereo out = render(client, sine(24000, hz), nullptr);
        return 20.0 * std::log10(rms(out.left, 12000, 12000) / rms(sine(24000, hz), 12000, 12000));
    };
    EXPECT_NEAR(levelDb("6", 8000.0) - levelDb("0", 8000.0), 5.5, 0.5);
    EXPECT_NEAR(levelDb("6", 100.0) - levelDb("0", 100.0), -5.6, 0.4);
    EXPECT_NEAR(levelDb("-6", 650.0) - levelDb("0", 650.0), 0.0, 0.3);
}

// Left-minus-right level in dB per 20 ms window.
std::vector<double> balance(const Stereo& s) {
    std::vector<double> b;
    for (size_t from = 0; from + 960 <= s.left.size(); from += 960)
        b.push_back(20.0 * std::log10(rms(s.left, from, 960) / rms(s.right, from, 960)));
    return b;
}

TEST(StagesChain, LfoOnPanSweepsTheWholeFieldAndNegativeDepthInverts) {
    const std::vector<float> mono = noise(96000, 5);
    auto sweep = [&](const char* depth) {
        VelmoraClient client;
        setPlain(client, v::kLfoSynced, "no");
        setPlain(client, v::kLfoFreq, "1");
        setPlain(client, v::kLfoToPan, depth);
        return balance(render(client, mono, nullptr));
    };
    const std::vector<double> up = sweep("100"), down = sweep("-100");
    const auto [low, high] = std::minmax_element(up.begin() + 10, up.end());
    EXPECT_LT(*low, -15.0);  // full right ...
    EXPECT_GT(*high, 15.0);  // ... and full left within a cycle
    // A quarter cycle in (250 ms), a sine on positive depth pans right, on negative depth left.
    EXPECT_LT(up[12], -10.0);
    EXPECT_GT(down[12], 10.0);
}

TEST(StagesChain, ModulatedValuesStayInTheirRanges) {
    const std::vector<float> mono = noise(48000, 6);
    for (const char* depth : {"100", "-100"}) {
        VelmoraClient client;
        setPlain(client, v::kPan, "80");
        setPlain(client, v::kDistance, "-20");
        setPlain(client, v::kTilt, "5");
        setPlain(client, v::kLfoWave, "square");
        setPlain(client, v::kLfoSynced, "no");
        setPlain(client, v::kLfoFreq, "10");
        for (int index : {v::kLfoToPan, v::kLfoToDistance, v::kLfoToGain, v::kLfoToTilt})
            setPlain(client, index, depth);
        client.resetFromHost(kRate, 64, 1, 2);
        float panLow = 1, panHigh = -1, distanceLow = 6, distanceHigh = -24, tiltLow = 6, tiltHigh = -6;
        float gainLow = 1, gainHigh = 0;
        std::vector<float> outL(64), outR(64);
        korvo::HostTiming timing;
        for (int start = 0; start + 64 <= 48000; start += 64) {
            const float* ins[1] = {mono.data() + start};
            float* outs[2] = {outL.data(), outR.data()};
            client.processAudioFromHost(ins, 1, outs, 2, 64, timing);
            const auto p = client.lastPanoramaState();
            panLow = std::min(panLow, p.pan), panHigh = std::max(panHigh, p.pan);
            distanceLow = std::min(distanceLow, p.distance),
            distanceHigh = std::max(distanceHigh, p.distance);
            tiltLow = std::min(tiltLow, p.tilt), tiltHigh = std::max(tiltHigh, p.tilt);
            gainLow = std::min(gainLow, p.gain), gainHigh = std::max(gainHigh, p.gain);
        }
        SCOPED_TRACE(depth);
        EXPECT_NEAR(panLow, -1.0f, 1e-3f);  // the whole field, never beyond
        EXPECT_NEAR(panHigh, 1.0f, 1e-3f);
        EXPECT_NEAR(distanceLow, -24.0f + 0.25f * 4.0f, 0.05f);  // three quarters of the way to each end
        EXPECT_NEAR(distanceHigh, -20.0f + 0.75f * 26.0f, 0.05f);
        EXPECT_NEAR(tiltLow, -6.0f, 1e-3f);
        EXPECT_NEAR(tiltHigh, 6.0f, 1e-3f);
        EXPECT_LT(gainLow, 0.01f);
        EXPECT_LE(gainHigh, 1.0f);
    }
}

TEST(StagesChain, TremoloNeverRaisesTheLevel) {
    const std::vector<float> tone = sine(48000, 440.0);
    auto levels = [&](const char* depth) {
        VelmoraClient client;
        setPlain(client, v::kLfoSynced, "no");
        setPlain(client, v::kLfoFreq, "4");
        setPlain(client, v::kLfoToGain, depth);
        const Stereo out = render(client, tone, nullptr);
        std::vector<double> l;
        for (size_t from = 4800; from + 480 <= out.left.size(); from += 480)
            l.push_back(rms(out.left, from, 480));
        return l;
    };
    const std::vector<double> plain = levels("0");
    for (const char* depth : {"100", "-100", "40"}) {
        const std::vector<double> moved = levels(depth);
        double lowest = 1e9;
        for (size_t i = 0; i < plain.size(); ++i) {
            EXPECT_LE(moved[i], plain[i] * 1.0001) << depth << " window " << i;
            lowest = std::min(lowest, moved[i] / plain[i]);
        }
        if (std::string(depth) == "40")
            EXPECT_NEAR(lowest, 0.6, 0.03);
        else
            EXPECT_LT(lowest, 0.05) << depth;  // a deep tremolo
    }
}

TEST(StagesChain, ModulatedOutputDoesNotDependOnTheHostBlockSize) {
    const std::vector<float> in = noise(30000, 7);
    auto renderWith = [&](int block) {
        VelmoraClient client;
        setPlain(client, v::kLfoTempo, "1/4");
        setPlain(client, v::kLfoWave, "tri");
        setPlain(client, v::kMtoSAmount, "50");
        for (int index : {v::kLfoToPan, v::kLfoToDistance, v::kLfoToGain, v::kLfoToTilt})
            setPlain(client, index, "100");
        return render(client, in, &in, block, true, 150.0);
    };
    const Stereo reference = renderWith(512);
    for (int block : {64, 100, 333}) {
        const Stereo other = renderWith(block);
        // The modulation values are the same for every block size (exactly: see the LFO's tests); only
        // where a host block cuts an LFO cell do the filters take their coefficient step a few
        // frames earlier, and the delay lines round their read positions differently: about -50 dB.
        EXPECT_LT(largestDifference(other.left, reference.left), 2e-3f) << block;
        EXPECT_LT(largestDifference(other.right, reference.right), 2e-3f) << block;
    }
}

}  // namespace
