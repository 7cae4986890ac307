#include "effect/main.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "korvo/core/fpcontrol.h"
#include "tests/support/realtime.h"

using velmora::VelmoraClient;
namespace v = velmora;

namespace {

struct Stereo {
    std::vector<float> left, right;
};

// Drives the client as a host does: reset, then host blocks through processAudioFromHost.
Stereo render(VelmoraClient& client, const std::vector<float>& inLeft, const std::vector<float>* inRight,
              double rate = 48000.0, int block = 512) {
    const int numInputs = inRight ? 2 : 1;
    client.resetFromHost(rate, block, numInputs, 2);
    const auto frames = static_cast<int>(inLeft.size());
    Stereo out{std::vector<float>(frames), std::vector<float>(frames)};
    korvo::HostTiming timing;
    for (int start = 0; start < frames; start += block) {
        const int n = std::min(block, frames - start);
        const float* ins[2] = {inLeft.data() + start, inRight ? inRight->data() + start : nullptr};
        float* outs[2] = {out.left.data() + start, out.right.data() + start};
        client.processAudioFromHost(ins, numInputs, outs, 2, n, timing);
    }
    return out;
}

void setPlain(VelmoraClient& client, int index, const char* text) {
    const auto parsed = client.parameter(index).parseToNormalized(text);
    ASSERT_TRUE(parsed.ok) << text;
    client.parameter(index).setNormalizedFromHost(parsed.normalized);
}

std::vector<float> impulseTrain(int frames, int spacing, float height = 1.0f) {
    std::vector<float> x(frames, 0.0f);
    for (int i = spacing; i < frames; i += spacing) x[i] = height;
    return x;
}

std::vector<float> sine(int frames, double hz, double rate, float amplitude = 0.25f) {
    std::vector<float> x(frames);
    for (int i = 0; i < frames; ++i) x[i] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / rate));
    return x;
}

double rms(const std::vector<float>& x, int from) {
    double sum = 0;
    for (size_t i = from; i < x.size(); ++i) sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(x.size() - from));
}

double db(double ratio) {
    return 20.0 * std::log10(ratio);
}

}  // namespace

TEST(VelmoraClientDescription, DeclaresTheEffect) {
    VelmoraClient client;
    const auto& d = client.description();
    EXPECT_EQ(d.vendorName, "Tessary");
    EXPECT_EQ(d.vendorUniqueID, "Tsry");
    EXPECT_EQ(d.pluginName, "Velmora");
    EXPECT_EQ(d.pluginUniqueID, "@v17");
    EXPECT_EQ(d.packedVersion(), 0x00010400);
    EXPECT_TRUE(d.hasGUI);
    EXPECT_FALSE(d.receivesMIDI);
    EXPECT_EQ(d.category, 5);
    ASSERT_EQ(client.channelConfigs().length(), 2u);
    EXPECT_EQ(client.channelConfigs()[0].numInputs, 1);
    EXPECT_EQ(client.channelConfigs()[1].numInputs, 2);
    EXPECT_EQ(client.maxInputs(), 2);
    EXPECT_EQ(client.maxOutputs(), 2);
    EXPECT_EQ(client.latencySamples(96000.0), 3);
    EXPECT_FLOAT_EQ(client.tailSizeInSeconds(), 0.2f);
    EXPECT_EQ(client.cachedMaxFramesInProcess(), 512);
}

TEST(VelmoraClientParameters, MatchTheTable) {
    VelmoraClient client;
    ASSERT_EQ(client.parameterCount(), 42);
    const char* names[42] = {"Distance", "Stereo Width", "M-to-S Amount.", "M-to-S Delay", "M-to-S Lowpass", "Tilt",
                             "Pan", "Head size", "Spectral Pan", "LFO Wave", "LFO Synced", "LFO Tempo", "LFO Phase",
                             "LFO Freq", "LFO > Pan", "LFO > Distance", "LFO > Gain", "LFO > Tilt", "Output Level",
                             "Dry / Wet", "Test Mono", "Reserved #0", "Level pan"};
    for (int i = 0; i < 23; ++i) EXPECT_EQ(client.parameter(i).name(), names[i]) << i;
    for (int i = 23; i < 42; ++i) EXPECT_EQ(client.parameter(i).name(), "Reserved #" + std::to_string(i - 21));
    EXPECT_EQ(client.parameter(v::kPan).label(), "\xC2\xB0");
    EXPECT_EQ(client.parameter(v::kLfoPhase).label(), "\xC2\xB0");
    EXPECT_EQ(client.parameter(v::kOutputLevel).label(), "dB");
    EXPECT_EQ(client.parameter(v::kMtoSLowpass).label(), "kHz");
    EXPECT_EQ(client.parameter(v::kLfoWave).label(), "");

    // Single-precision constants widened to double.
    auto& lowpass = static_cast<korvo::FloatParameter&>(client.parameter(v::kMtoSLowpass));
    EXPECT_EQ(lowpass.minValue(), 0.20000000298023224);
    EXPECT_EQ(lowpass.defaultValue(), static_cast<double>(2.1f));
    auto& lfoFreq = static_cast<korvo::FloatParameter&>(client.parameter(v::kLfoFreq));
    EXPECT_EQ(lfoFreq.minValue(), static_cast<double>(0.05f));

    EXPECT_NEAR(client.parameter(v::kOutputLevel).getNormalizedDefault(), 0.3548, 1e-4);
    auto& tempo = static_cast<korvo::EnumParameter&>(client.parameter(v::kLfoTempo));
    ASSERT_EQ(tempo.possibleValueCount(), 12);
    EXPECT_EQ(tempo.possibleValue(0), "128/4");
    EXPECT_EQ(tempo.possibleValue(11), "2/16");
    EXPECT_EQ(tempo.value(), 5);
    EXPECT_EQ(static_cast<korvo::EnumParameter&>(client.parameter(v::kLfoWave)).possibleValue(4), "random");
    EXPECT_TRUE(static_cast<korvo::BoolParameter&>(client.parameter(v::kLfoSynced)).value());
    EXPECT_TRUE(static_cast<korvo::BoolParameter&>(client.parameter(31)).value());
    EXPECT_EQ(static_cast<korvo::IntegerParameter&>(client.parameter(39)).minValue(), 1);
    EXPECT_EQ(static_cast<korvo::IntegerParameter&>(client.parameter(39)).value(), 6);
}

TEST(VelmoraClientPresets, AreTheThirtyTwoFactoryPresetsInOrder) {
    VelmoraClient client;
    const auto& bank = client.presetBank();
    ASSERT_EQ(bank.count(), 32);
    const char* names[12] = {"Default",    "Left 75%",       "Left 25%",          "Right 25% ",
                             "Right 75% ", "Delay Pan Only", "Spectral Pan Only", "Far-Left",
                             "Far-Center", "Far-Right",      "Left Brain",        "Right Brain"};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(bank.presetName(i), names[i]);
    for (int i = 12; i < 32; ++i) EXPECT_EQ(bank.presetName(i), "Default");
    EXPECT_EQ(bank.presetName(3).size(), 10u);

    const auto& leftBrain = bank.preset(10).normalizedValues;
    ASSERT_GE(leftBrain.length(), 42u);
    EXPECT_FLOAT_EQ(leftBrain[v::kDistance], 0.93f);
    EXPECT_FLOAT_EQ(leftBrain[v::kPan], 0.0f);
    EXPECT_FLOAT_EQ(leftBrain[v::kOutputLevel], 0.32f);
    EXPECT_FLOAT_EQ(leftBrain[v::kDryWet], 1.0f);
    EXPECT_FLOAT_EQ(leftBrain[v::kTestMono], 0.0f);
    EXPECT_FLOAT_EQ(leftBrain[v::kHeadSize], 0.5f) << "unlisted values keep their defaults";
    const auto& delayOnly = bank.preset(5).normalizedValues;
    EXPECT_FLOAT_EQ(delayOnly[v::kHeadSize], 0.75f);
    EXPECT_FLOAT_EQ(delayOnly[v::kSpectralPan], 0.0f);

    client.presetBank().selectPresetFromHost(8);  // "Far-Center"
    EXPECT_NEAR(static_cast<korvo::FloatParameter&>(client.parameter(v::kDistance)).value(), -18.0, 1e-5);
    EXPECT_NEAR(static_cast<korvo::FloatParameter&>(client.parameter(v::kOutputLevel)).value(), 18.0, 1e-9);
}

TEST(VelmoraClientReset, PreparesEveryProcessorForTheRate) {
    VelmoraClient client;
    client.resetFromHost(44100.0, 4096, 2, 2);
    EXPECT_FLOAT_EQ(client.sampleRate(), 44100.0f);
    EXPECT_EQ(client.silenceLimit(), 8820);
    EXPECT_EQ(client.silentFrames(), 0);
    EXPECT_EQ(client.widthSmoother().current, 1.0f);
    EXPECT_EQ(client.widthSmoother().alpha,
              static_cast<float>(1.0 - std::exp(-1.0 / (double(0.04f) * 44100.0))));
    EXPECT_EQ(client.lfo().randomState, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&client)));
    EXPECT_EQ(client.stereoGenerator().scratchFrames(), 512);
    client.resetFromHost(48000.0, 256, 2, 2);
    EXPECT_EQ(client.silenceLimit(), 9600);
    EXPECT_EQ(client.stereoGenerator().scratchFrames(), 256);
}

// In steady state the default chain is a pure delay of 3 samples at unity on both channels (the
// single-precision delay smoother settles a few ten-thousandths of a sample short of 3).
TEST(VelmoraClientChain, DefaultSettingsDelayByThreeSamplesAtUnity) {
    VelmoraClient client;
    const int frames = 48000;
    const auto in = impulseTrain(frames, 4800);
    const auto out = render(client, in, &in);
    for (int k = 5; k < 10; ++k) {
        const int at = k * 4800 + 3;
        EXPECT_NEAR(out.left[at], 1.0f, 2e-3f) << at;
        EXPECT_NEAR(out.right[at], 1.0f, 2e-3f) << at;
        EXPECT_NEAR(out.left[at - 1], 0.0f, 2e-3f);
        EXPECT_NEAR(out.left[at + 1], 0.0f, 2e-3f);
    }
}

TEST(VelmoraClientChain, DryWetZeroLeavesOnlyTheThreeSampleDelay) {
    VelmoraClient client;
    setPlain(client, v::kDryWet, "0");
    setPlain(client, v::kPan, "-90");
    setPlain(client, v::kDistance, "-24");
    setPlain(client, v::kStereoWidth, "0");
    setPlain(client, v::kOutputLevel, "-30");
    setPlain(client, v::kSpectralPan, "200");
    const int frames = 48000;
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) left[i] = noise(random), right[i] = noise(random);
    const auto out = render(client, left, &right);
    for (int i = 24000; i < frames; ++i) {
        ASSERT_NEAR(out.left[i], left[i - 3], 2e-3f) << i;
        ASSERT_NEAR(out.right[i], right[i - 3], 2e-3f) << i;
    }
}

TEST(VelmoraClientChain, DistancePlusSixRemovesThePanCuesAndBoostsWithAShelf) {
    const int frames = 48000;
    auto measure = [&](const char* distance, double hz) {
        VelmoraClient client;
        setPlain(client, v::kPan, "-90");
        setPlain(client, v::kDistance, distance);
        const auto in = sine(frames, hz, 48000.0);
        const auto out = render(client, in, nullptr);
        return std::pair<double, double>(rms(out.left, 24000), rms(out.right, 24000));
    };
    const auto nearHigh = measure("6", 8000.0);
    EXPECT_NEAR(nearHigh.first, nearHigh.second, 1e-4) << "a mono source stays centred";
    const auto nearLow = measure("6", 40.0);
    // Reference: distance 0 without pan (the cues would change the level).
    VelmoraClient centre;
    const auto in = sine(frames, 8000.0, 48000.0);
    const auto ref = render(centre, in, nullptr);
    const double refLevel = rms(ref.left, 24000);
    EXPECT_NEAR(db(nearHigh.first / refLevel), 4.8, 0.05);
    EXPECT_NEAR(db(nearLow.first / refLevel), 4.8 + 2.7, 0.15);
}

TEST(VelmoraClientChain, TestMonoGivesTheAverageOnBothChannels) {
    VelmoraClient client;
    setPlain(client, v::kPan, "60");
    const int frames = 24000;
    const auto left = sine(frames, 440.0, 48000.0), right = sine(frames, 1000.0, 48000.0, 0.1f);
    VelmoraClient stereoClient;
    setPlain(stereoClient, v::kPan, "60");
    const auto stereo = render(stereoClient, left, &right);
    setPlain(client, v::kTestMono, "yes");
    const auto mono = render(client, left, &right);
    for (int i = 0; i < frames; ++i) {
        ASSERT_EQ(mono.left[i], mono.right[i]);
        ASSERT_EQ(mono.left[i], (stereo.left[i] + stereo.right[i]) * 0.5f);
    }
}

TEST(VelmoraClientChain, MonoInputFeedsBothSidesOfThePanner) {
    VelmoraClient client;
    setPlain(client, v::kPan, "45");
    const int frames = 48000;
    const auto in = sine(frames, 500.0, 48000.0);
    const auto out = render(client, in, nullptr);
    const double l = rms(out.left, 24000), r = rms(out.right, 24000);
    EXPECT_GT(l, 0.05);
    EXPECT_GT(r, l) << "panned right";
}

TEST(VelmoraClientChain, OutputLevelMinusInfinityIsSilentUnlessDry) {
    const int frames = 48000;
    const auto in = sine(frames, 300.0, 48000.0);
    VelmoraClient wet;
    wet.parameter(v::kOutputLevel).setNormalizedFromHost(0.0);
    const auto silent = render(wet, in, &in);
    EXPECT_LT(rms(silent.left, 36000), 1e-6) << "after the 40 ms gain glide";
    VelmoraClient dry;
    dry.parameter(v::kOutputLevel).setNormalizedFromHost(0.0);
    setPlain(dry, v::kDryWet, "0");
    const auto unity = render(dry, in, &in);
    EXPECT_NEAR(rms(unity.left, 36000), rms(in, 36000), 1e-4);
}

// Every glide of the chain, named, as the bits it holds: delays, gains and shelves of the panner,
// the distance model's filters, the tilt's band gains, the generator's taps and amount, the width
// and the tremolo depth.
std::vector<std::pair<std::string, std::uint64_t>> glideBits(const VelmoraClient& c) {
    std::vector<std::pair<std::string, std::uint64_t>> bits;
    const auto value = [&](const std::string& name, float x) {
        bits.emplace_back(name, std::bit_cast<std::uint32_t>(x));
    };
    const auto filter = [&](const std::string& name, const tessary::InterpolatedBiquad& f) {
        const korvo::BiquadCoeffs k = f.coefficients();
        for (const double x : {k.b0, k.b1, k.b2, k.a1, k.a2})
            bits.emplace_back(name, std::bit_cast<std::uint64_t>(x));
    };
    const v::PsychoacousticPanner& panner = c.panner();
    value("delay left", panner.currentDelayLeft());
    value("delay right", panner.currentDelayRight());
    value("gain left", panner.currentGainLeft());
    value("gain right", panner.currentGainRight());
    filter("shelf left", panner.leftShelf());
    filter("shelf right", panner.rightShelf());
    for (int channel = 0; channel < 2; ++channel) {
        filter("distance lowpass", c.distanceModel().lowpass(channel));
        filter("distance low-cut", c.distanceModel().lowcut(channel));
        filter("distance shelf", c.distanceModel().shelf(channel));
    }
    value("tilt low band", c.tiltFilter().gainA().current);
    value("tilt high band", c.tiltFilter().gainB().current);
    for (int t = 0; t < v::StereoGenerator::kNumTaps; ++t)
        value("generator tap " + std::to_string(t), c.stereoGenerator().tap(t).current);
    value("generator amount", c.stereoGenerator().amount().current);
    value("width", c.widthSmoother().current);
    value("tremolo depth", c.lfo().gainDepth.current);
    return bits;
}

// settle() leaves every glide where the plug-in's own come to rest: an instance run from its reset
// on the same settings for four seconds (faint noise, so the chain never sleeps) holds the same
// bits in every glide, in host blocks of 512, 500 and 37 frames. Single-precision glides stall
// short of their targets, at a point that depends on where they started; a settled start that put
// them on their targets would leave a delay a few thousandths of a sample away from the plug-in's.
TEST(VelmoraClientSettle, GlidesRestWhereARunningInstanceComesToRest) {
    const std::vector<std::vector<std::pair<int, const char*>>> cases = {
        {{v::kPan, "-45"},
         {v::kDistance, "-12"},
         {v::kMtoSAmount, "40"},
         {v::kTilt, "3"},
         {v::kStereoWidth, "150"}},
        {{v::kPan, "60"},
         {v::kDistance, "4"},
         {v::kTilt, "-4"},
         {v::kStereoWidth, "40"},
         {v::kMtoSAmount, "70"},
         {v::kMtoSDelay, "10"},
         {v::kHeadSize, "150"},
         {v::kLevelPan, "50"},
         {v::kOutputLevel, "-6"},
         {v::kDryWet, "80"},
         {v::kLfoToGain, "-50"}},
        {{v::kPan, "-90"},
         {v::kDistance, "-24"},
         {v::kSpectralPan, "200"},
         {v::kMtoSAmount, "100"},
         {v::kMtoSDelay, "3"},
         {v::kMtoSLowpass, "0.5"}},
    };
    korvo::FPControl guard;  // as a host entry runs
    std::mt19937 random(9);
    std::vector<float> hiss(48000 * 4);
    for (float& x : hiss) x = std::uniform_real_distribution<float>(-1e-3f, 1e-3f)(random);
    for (std::size_t k = 0; k < cases.size(); ++k) {
        for (const int block : {512, 500, 37}) {
            SCOPED_TRACE("case " + std::to_string(k) + ", blocks of " + std::to_string(block));
            VelmoraClient settled, running;
            for (const auto& [index, text] : cases[k]) {
                setPlain(settled, index, text);
                setPlain(running, index, text);
            }
            settled.resetFromHost(48000.0, block, 1, 2);
            settled.settle();
            render(running, hiss, nullptr, 48000.0, block);
            const auto expected = glideBits(running), actual = glideBits(settled);
            ASSERT_EQ(actual.size(), expected.size());
            for (std::size_t i = 0; i < actual.size(); ++i)
                EXPECT_EQ(actual[i].second, expected[i].second) << actual[i].first;
        }
    }
    // The settings moved the glides: a settle that did nothing would not pass.
    VelmoraClient fresh;
    fresh.resetFromHost(48000.0, 512, 1, 2);
    VelmoraClient moved;
    for (const auto& [index, text] : cases[0]) setPlain(moved, index, text);
    moved.resetFromHost(48000.0, 512, 1, 2);
    moved.settle();
    EXPECT_NE(glideBits(fresh), glideBits(moved));
}

TEST(VelmoraClientSilence, TheTwentiethSilentBlockIsTheFirstZeroed) {
    VelmoraClient client;
    client.resetFromHost(48000.0, 512, 2, 2);
    std::vector<float> zeros(512, 0.0f), outL(512, 1.0f), outR(512, 1.0f);
    korvo::HostTiming timing;
    auto block = [&](const std::vector<float>& in) {
        const float* ins[2] = {in.data(), in.data()};
        float* outs[2] = {outL.data(), outR.data()};
        client.processAudioFromHost(ins, 2, outs, 2, 512, timing);
    };
    // After a reset the panner's delay glides from 2 toward 3 samples: it moves while the
    // processors run and stands still once they stop.
    for (int k = 1; k <= 19; ++k) {
        const float before = client.panner().currentDelayLeft();
        block(zeros);
        EXPECT_NE(client.panner().currentDelayLeft(), before) << "silent block " << k << " still runs";
        EXPECT_FALSE(client.isAsleep()) << k;
    }
    const float pannerDelay = client.panner().currentDelayLeft();
    std::fill(outL.begin(), outL.end(), 1.0f);
    block(zeros);  // the 20th
    for (int i = 0; i < 512; ++i) ASSERT_EQ(outL[i], 0.0f);
    EXPECT_TRUE(client.isAsleep()) << "adapters may let the host stop calling";
    EXPECT_EQ(client.panner().currentDelayLeft(), pannerDelay) << "processors keep their state";
    block(zeros);
    EXPECT_EQ(client.panner().currentDelayLeft(), pannerDelay);
    // One non-zero sample restarts processing in the same block.
    std::vector<float> click(512, 0.0f);
    click[100] = 1.0f;
    block(click);
    EXPECT_FALSE(client.isAsleep());
    EXPECT_EQ(client.silentFrames(), 0);
    EXPECT_NE(client.panner().currentDelayLeft(), pannerDelay);
    float energy = 0;
    for (float x : outL) energy += x * x;
    EXPECT_GT(energy, 0.0f);
}

TEST(VelmoraClientRealtime, ProcessingAllocatesNothingAndNeverBlocks) {
    // The chain alone, and with the generator, tilt and every LFO target active while the LFO's
    // shape changes under it.
    for (bool allStages : {false, true}) {
        VelmoraClient client;
        setPlain(client, v::kPan, "45");
        setPlain(client, v::kDistance, "-12");
        if (allStages) {
            setPlain(client, v::kMtoSAmount, "50");
            setPlain(client, v::kTilt, "3");
            for (int index : {v::kLfoToPan, v::kLfoToDistance, v::kLfoToGain, v::kLfoToTilt})
                setPlain(client, index, "70");
        }
        client.resetFromHost(48000.0, 1024, 2, 2);
        std::vector<float> in = sine(1300, 700.0, 48000.0), outL(1300), outR(1300);
        korvo::HostTiming timing{128.0, 0, true};
        korvo::test::RealtimeProbe probe;
        for (int k = 0; k < 20; ++k) {
            const float* ins[2] = {in.data(), in.data()};
            float* outs[2] = {outL.data(), outR.data()};
            client.processAudioFromHost(ins, 2, outs, 2, 1300, timing);
            client.setParameterFromHost(v::kPan, 0.1f * float(k % 10));
            if (allStages) client.setParameterFromHost(v::kLfoWave, 0.25f * float(k % 5));
        }
        EXPECT_EQ(probe.allocations(), 0u) << allStages;
        EXPECT_EQ(probe.blockingLocks(), 0u) << allStages;
    }
}

// resetState is the reset a host's restart asks for in the audio thread: it allocates nothing, and
// afterwards the chain gives what a freshly reset one gives. A reset at unchanged sizes allocates
// nothing either.
TEST(VelmoraClientRealtime, ResetStateAllocatesNothingAndStartsAfresh) {
    std::vector<float> in = sine(6000, 700.0, 48000.0);
    std::vector<float> noise(6000);
    std::mt19937 random(5);
    for (float& x : noise) x = std::uniform_real_distribution<float>(-0.3f, 0.3f)(random);
    auto configure = [](VelmoraClient& c) {
        setPlain(c, v::kPan, "-60");
        setPlain(c, v::kDistance, "-9");
        setPlain(c, v::kMtoSAmount, "40");
        setPlain(c, v::kTilt, "2");
        setPlain(c, v::kLfoToGain, "30");
    };
    VelmoraClient fresh, used;
    configure(fresh);
    configure(used);
    render(used, noise, &noise);
    korvo::test::RealtimeProbe probe;
    used.resetState();
    used.resetFromHost(48000.0, 512, 2, 2);
    EXPECT_EQ(probe.allocations(), 0u);
    const Stereo a = render(fresh, in, &in), b = render(used, in, &in);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
}

TEST(VelmoraClientRealtime, NonFiniteInputNeverCrashes) {
    VelmoraClient client;
    std::vector<float> in(4096, 0.0f);
    in[10] = std::nanf("");
    in[20] = INFINITY;
    const auto out = render(client, in, &in);
    EXPECT_EQ(out.left.size(), 4096u);
}
