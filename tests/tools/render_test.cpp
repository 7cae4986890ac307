// Rendering through the tool's library: presets, settings, channel configuration, tail, latency
// compensation, file formats and host block sizes.
#include "tools/velmora/render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "effect/main.h"
#include "korvo/core/fpcontrol.h"
#include "tests/tools/audio_helpers.h"
#include "tools/demo/demo.h"

namespace velmora::cli {
namespace {

using test::Audio;
using test::TempDir;

class Render : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.path().empty()); }

    // Writes `audio` as in.wav and renders it to `name` with extra arguments; returns the output.
    Audio renderFile(const Audio& audio, const std::string& name, std::vector<std::string> extra = {}) {
        const std::string in = dir.file("in.wav");
        EXPECT_TRUE(test::writeAudio(in, audio));
        extra.insert(extra.begin(), {in, dir.file(name)});
        return renderArgs(extra);
    }

    Audio renderArgs(const std::vector<std::string>& args) {
        RenderOptions options;
        std::string error;
        EXPECT_TRUE(parseRenderArguments(args, options, error)) << error;
        EXPECT_EQ(render(options, report, error), kExitOk) << error;
        return test::readAudio(options.outputPath);
    }

    TempDir dir;
    RenderReport report;
    Audio shortNoise = test::monoAudio(test::noise(12000, 0.5f), 48000);
};

TEST_F(Render, PresetByNameAndByIndexAreTheSame) {
    const Audio byName = renderFile(shortNoise, "a.wav", {"--preset", "Left 75%"});
    const Audio byIndex = renderFile(shortNoise, "b.wav", {"--preset", "1"});
    const Audio plain = renderFile(shortNoise, "c.wav");
    ASSERT_EQ(byName.frames(), plain.frames());
    EXPECT_EQ(byName.samples, byIndex.samples);
    EXPECT_NE(byName.samples, plain.samples);
    // Panned left: the left channel carries more energy than the right.
    double left = 0, right = 0;
    for (std::int64_t i = 0; i < byName.frames(); ++i) {
        left += byName.at(i, 0) * byName.at(i, 0);
        right += byName.at(i, 1) * byName.at(i, 1);
    }
    EXPECT_GT(left, 2.0 * right);
}

TEST_F(Render, SettingsUseTheParametersOwnTextForm) {
    auto client = korvo::makeHeap<VelmoraClient>();
    std::string error;
    ASSERT_TRUE(applySetting(*client, "Pan=-45", error)) << error;
    ASSERT_TRUE(applySetting(*client, "Test Mono=yes", error)) << error;
    ASSERT_TRUE(applySetting(*client, "LFO Wave=saw", error)) << error;
    ASSERT_TRUE(applySetting(*client, "Output Level=-6", error)) << error;
    ASSERT_TRUE(applySetting(*client, "LFO Tempo=3/16", error)) << error;
    ASSERT_TRUE(applySetting(*client, "spectral pan=150", error)) << error;  // unique, any case
    EXPECT_EQ(static_cast<korvo::FloatParameter&>(client->parameter(kPan)).value(), -45.0);
    EXPECT_TRUE(static_cast<korvo::BoolParameter&>(client->parameter(kTestMono)).value());
    EXPECT_EQ(static_cast<korvo::IntegerParameter&>(client->parameter(kLfoWave)).value(), 3);
    EXPECT_EQ(static_cast<korvo::IntegerParameter&>(client->parameter(kLfoTempo)).value(), 10);
    EXPECT_EQ(static_cast<korvo::FloatParameter&>(client->parameter(kSpectralPan)).value(), 150.0);
    // The host path carries a float normalized value, so the decibels land within float rounding.
    EXPECT_NEAR(static_cast<korvo::FloatParameter&>(client->parameter(kOutputLevel)).value(), -6.0, 1e-4);
    ASSERT_TRUE(applySetting(*client, "Output Level=-inf", error)) << error;
    EXPECT_EQ(static_cast<korvo::FloatParameter&>(client->parameter(kOutputLevel)).value(), -INFINITY);
}

TEST_F(Render, SettingsApplyAfterThePreset) {
    auto client = korvo::makeHeap<VelmoraClient>();
    std::string error;
    ASSERT_TRUE(applyPreset(*client, "Far-Left", error));
    ASSERT_TRUE(applySetting(*client, "Pan=10", error));
    EXPECT_EQ(client->presetBank().current(), 7);
    EXPECT_NEAR(static_cast<korvo::FloatParameter&>(client->parameter(kPan)).value(), 10.0, 1e-4);
    EXPECT_NEAR(static_cast<korvo::FloatParameter&>(client->parameter(kDistance)).value(), -18.0, 1e-4);

    // A repeated name selects its first preset.
    ASSERT_TRUE(applyPreset(*client, "Default", error));
    EXPECT_EQ(client->presetBank().current(), 0);
}

TEST_F(Render, TestMonoFromTheCommandLineMakesBothChannelsEqual) {
    const Audio out = renderFile(shortNoise, "mono.wav", {"--preset", "Left 75%", "--set", "Test Mono=yes"});
    ASSERT_GT(out.frames(), 0);
    for (std::int64_t i = 0; i < out.frames(); ++i) ASSERT_EQ(out.at(i, 0), out.at(i, 1)) << i;
}

TEST_F(Render, MonoInputUsesTheOneInTwoOutConfiguration) {
    const Audio fromMono = renderFile(shortNoise, "m.wav", {"--preset", "Left 25%"});
    EXPECT_EQ(report.numInputs, 1);
    EXPECT_EQ(fromMono.channels, 2);
    // The effect reads its single input for both sides: the same as a stereo file with two equal
    // channels.
    const Audio twin = test::stereoAudio(shortNoise.samples, shortNoise.samples, 48000);
    const Audio fromStereo = renderFile(twin, "s.wav", {"--preset", "Left 25%"});
    EXPECT_EQ(report.numInputs, 2);
    EXPECT_EQ(fromMono.samples, fromStereo.samples);
}

TEST_F(Render, StereoChannelsStayOnTheirSides) {
    // Default settings pass each side straight through (3 samples late); nothing leaks across.
    const std::vector<float> silence(shortNoise.samples.size(), 0.0f);
    const Audio out = renderFile(test::stereoAudio(shortNoise.samples, silence, 48000), "lr.wav");
    double left = 0;
    for (std::int64_t i = 0; i < out.frames(); ++i) {
        ASSERT_EQ(out.at(i, 1), 0.0f) << i;
        left += std::fabs(out.at(i, 0));
    }
    EXPECT_GT(left, 100.0);
}

TEST_F(Render, OutputHoldsTheInputAndTheWholeTail) {
    const Audio at44 = test::monoAudio(test::noise(10000, 0.5f), 44100);
    const Audio out = renderFile(at44, "t.wav");
    EXPECT_EQ(out.sampleRate, 44100);
    EXPECT_EQ(report.inputFrames, 10000);
    EXPECT_EQ(report.tailFrames, 8820);  // 0.2 s
    EXPECT_EQ(out.frames(), 10000 + 8820);

    const Audio demo = renderArgs({dir.file("demo.wav"), "--rate", "32000"});
    EXPECT_EQ(demo.sampleRate, 32000);
    EXPECT_EQ(report.numInputs, 1);
    EXPECT_EQ(demo.frames(), static_cast<std::int64_t>(kDemoSeconds * 32000) + 6400);

    // An empty input still gets its tail.
    const Audio empty = renderFile(test::monoAudio({}, 48000), "e.wav");
    EXPECT_EQ(empty.frames(), 9600);
}

TEST_F(Render, CompensateLatencyAlignsTheOutputWithTheInput) {
    const Audio plain = renderFile(shortNoise, "p.wav", {"--preset", "Right 75% "});
    const Audio aligned = renderFile(shortNoise, "a.wav", {"--preset", "Right 75% ", "--compensate-latency"});
    EXPECT_EQ(report.latencySamples, 3);  // the panner's base delay: what the chain really delays
    ASSERT_EQ(aligned.frames(), plain.frames());
    for (std::int64_t i = 0; i + 3 < plain.frames(); ++i) {
        ASSERT_EQ(aligned.at(i, 0), plain.at(i + 3, 0)) << i;
        ASSERT_EQ(aligned.at(i, 1), plain.at(i + 3, 1)) << i;
    }
}

// The plug-in driven directly, as a host does: reset, then 512-frame blocks under the plug-in's
// floating-point setting; `preroll` frames of noise 120 dB down come first (and are dropped), so the
// glides settle the way a host's pre-roll lets them settle before an export.
std::vector<float> hostRender(const Audio& in, const std::vector<std::string>& settings, int preroll) {
    korvo::FPControl guard;
    auto client = korvo::makeHeap<VelmoraClient>();
    std::string error;
    for (const std::string& setting : settings) EXPECT_TRUE(applySetting(*client, setting, error)) << error;
    client->resetFromHost(48000.0, 512, 1, 2);
    const std::vector<float> hiss = test::noise(static_cast<std::size_t>(preroll), 1e-6f);
    std::vector<float> input(hiss);
    for (std::int64_t i = 0; i < in.frames(); ++i) input.push_back(in.at(i, 0));
    input.resize(input.size() + 9600, 0.0f);  // the tail
    std::vector<float> left(input.size()), right(input.size()), out;
    korvo::HostTiming timing{120.0, 0, true};
    for (std::size_t start = 0; start < input.size(); start += 512) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(512, input.size() - start));
        const float* ins[1] = {input.data() + start};
        float* outs[2] = {left.data() + start, right.data() + start};
        timing.timeInSamples = static_cast<std::int64_t>(start);
        client->processAudioFromHost(ins, 1, outs, 2, n, timing);
    }
    for (std::size_t i = static_cast<std::size_t>(preroll); i < input.size(); ++i) {
        out.push_back(left[i]);
        out.push_back(right[i]);
    }
    return out;
}

float largestDifference(const std::vector<float>& a, const std::vector<float>& b, std::size_t from,
                        std::size_t to) {
    float worst = 0.0f;
    for (std::size_t i = from; i < to && i < a.size() && i < b.size(); ++i)
        worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

// By default a render starts settled at its settings, as a host's export does after its pre-roll:
// its glides start where the plug-in's own come to rest (a delay glide stalls a few thousandths of
// a sample short of its whole-sample target, and so does the render's), so it matches a host that
// ran two seconds of pre-roll first far below the block-grid spread of 1e-4, from the first sample
// on; --cold-start is the plug-in's own start after a reset, bit for bit, whose glides take the
// first few hundred milliseconds.
TEST_F(Render, StartsSettledUnlessAColdStartIsAsked) {
    const Audio voice = test::monoAudio(test::noise(48000, 0.5f), 48000);
    const std::vector<std::string> settings = {"Pan=-45", "Distance=-12", "M-to-S Amount.=40", "Tilt=3"};
    std::vector<std::string> args = {"--set", "Pan=-45",           "--set", "Distance=-12",
                                     "--set", "M-to-S Amount.=40", "--set", "Tilt=3"};
    const Audio settled = renderFile(voice, "settled.wav", args);
    args.push_back("--cold-start");
    const Audio cold = renderFile(voice, "cold.wav", args);
    const std::vector<float> afterPreroll = hostRender(voice, settings, 96000);
    const std::vector<float> plugin = hostRender(voice, settings, 0);

    EXPECT_EQ(cold.samples, plugin);
    const std::size_t firstHalfSecond = 2 * 24000, total = settled.samples.size();
    const float settledEarly = largestDifference(settled.samples, afterPreroll, 0, firstHalfSecond);
    const float settledLate = largestDifference(settled.samples, afterPreroll, firstHalfSecond, total);
    const float coldEarly = largestDifference(cold.samples, afterPreroll, 0, firstHalfSecond);
    const float coldLate = largestDifference(cold.samples, afterPreroll, 2 * 48000, total);
    std::printf(
        "against a host after 2 s of pre-roll: settled start %g (first 0.5 s), %g (after); "
        "cold start %g (first 0.5 s), %g (after 1 s)\n",
        double(settledEarly), double(settledLate), double(coldEarly), double(coldLate));
    EXPECT_LT(settledEarly, 2e-5f);
    EXPECT_LT(settledLate, 2e-5f);
    EXPECT_GT(coldEarly, 0.1f);
}

// A settled render is the plug-in a host has run on the same settings: an instance driven from its
// reset in 512-frame blocks, with the render's input from its first frame, matches the default
// render from 0.5 s on within the block-grid spread of 1e-4, at several settings. By then the
// instance's own glides (time constants of 20 to 50 ms) have moved to within 1e-4 of where they
// rest; before, the two differ as much as the glides move. The LFO stays off: with a depth set, a
// render and an instance are modulated alike only at the same host positions and tempo, and a
// settled start leaves the modulation out, so the glides would still follow it after 0.5 s.
TEST_F(Render, SettledRenderMatchesAnInstanceStartedColdFromHalfASecondOn) {
    const Audio voice = test::monoAudio(test::noise(2 * 48000, 0.5f, 8), 48000);
    const std::vector<std::vector<std::string>> cases = {
        {"Pan=-45", "Distance=-12", "M-to-S Amount.=40", "Tilt=3", "Stereo Width=150"},
        {"Pan=60", "Distance=-5", "Tilt=-4", "Stereo Width=40", "M-to-S Amount.=70", "M-to-S Delay=10"},
        {"Pan=-80", "Distance=2", "Head size=150", "Level pan=50", "Output Level=-6", "Dry / Wet=80"},
        {"Pan=90", "Distance=-20", "Spectral Pan=200", "M-to-S Amount.=100", "M-to-S Delay=3", "Tilt=6"},
    };
    const std::size_t halfSecond = 2 * 24000;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(k);
        std::vector<std::string> args;
        for (const std::string& setting : cases[k]) args.insert(args.end(), {"--set", setting});
        const Audio settled = renderFile(voice, "settled" + std::to_string(k) + ".wav", args);
        const std::vector<float> instance = hostRender(voice, cases[k], 0);
        ASSERT_EQ(settled.samples.size(), instance.size());
        const float early = largestDifference(settled.samples, instance, 0, halfSecond / 10);
        const float late = largestDifference(settled.samples, instance, halfSecond, instance.size());
        std::printf("case %zu against an instance started cold: %g in the first 50 ms, %g from 0.5 s on\n", k,
                    double(early), double(late));
        EXPECT_GT(early, 0.01f);  // the instance's glides are still moving
        EXPECT_LT(late, 1e-4f);
    }
}

TEST_F(Render, FormatsAndFileTypes) {
    struct Case {
        std::string name;
        std::vector<std::string> extra;
        int format;
    };
    const Case cases[] = {
        {"f.wav", {}, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"i24.wav", {"--format", "pcm24"}, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"i16.wav", {"--format", "pcm16"}, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"x.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"y.flac", {"--format", "pcm16"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"z.aiff", {}, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"w.AIF", {"--format", "pcm24"}, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {"noextension", {"--format", "pcm16"}, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    };
    const Audio reference = renderFile(shortNoise, "reference.wav");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Audio out = renderFile(shortNoise, c.name, c.extra);
        EXPECT_EQ(out.format, c.format);
        EXPECT_EQ(out.channels, 2);
        ASSERT_EQ(out.frames(), reference.frames());
        const bool is16 = (c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
        const bool is24 = (c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24;
        // Quantisation: half a step of rounding plus the 32767-versus-32768 scale difference.
        const float step = is16 ? 1.5f / 32768.0f : is24 ? 1.5f / 8388608.0f : 0.0f;
        for (std::size_t i = 0; i < out.samples.size(); ++i) {
            ASSERT_NEAR(out.samples[i], reference.samples[i], step) << i;
        }
    }
}

TEST_F(Render, IntegerFormatsClipInsteadOfWrapping) {
    std::vector<float> sine(12000);
    for (std::size_t i = 0; i < sine.size(); ++i) sine[i] = 0.5f * std::sin(0.013f * static_cast<float>(i));
    const Audio loud = renderFile(test::monoAudio(sine, 48000), "loud.wav",
                                  {"--set", "Output Level=18", "--format", "pcm16"});
    float peak = 0, lowest = 0;
    for (float s : loud.samples) {
        peak = std::max(peak, s);
        lowest = std::min(lowest, s);
    }
    EXPECT_GE(peak, 32767.0f / 32768.0f);
    EXPECT_LE(lowest, -32767.0f / 32768.0f);
    // A slow sine moves little between neighbours; wrapped samples would jump across full scale.
    for (std::int64_t i = 1; i < 11900; ++i) {
        ASSERT_LT(std::fabs(loud.at(i, 0) - loud.at(i - 1, 0)), 0.5f) << i;
    }
}

TEST_F(Render, HostBlockSizesCutTheSameContinuousStream) {
    // Stereo input, a mix of settings and the tail. Host blocks that are multiples of 512 reach the
    // effect as the same 512-frame chunks: the output is identical to the bit. Other sizes give the
    // effect other chunks; its filters glide once per 32-sample run within each chunk, so while
    // they glide (after the reset) the outputs differ slightly, and once they have settled the
    // difference is far below audibility. A tool that lost, repeated or swapped samples at a block
    // boundary would be off by the signal's own size.
    const Audio stereo = test::stereoAudio(test::noise(48000, 0.5f, 3), test::noise(48000, 0.3f, 4), 48000);
    const std::vector<std::string> settings = {"--set", "Pan=30",           "--set", "Distance=-7",
                                               "--set", "Stereo Width=150", "--set", "Dry / Wet=80"};
    auto with = [&](const char* block) {
        std::vector<std::string> extra = settings;
        extra.insert(extra.end(), {"--block", block});
        return renderFile(stereo, std::string("b") + block + ".wav", extra);
    };
    const Audio at512 = with("512");
    ASSERT_EQ(at512.frames(), 48000 + 9600);
    for (const char* block : {"1024", "1536", "4096"}) {
        SCOPED_TRACE(block);
        EXPECT_EQ(with(block).samples, at512.samples);
    }
    for (const char* block : {"1", "7", "1000"}) {
        SCOPED_TRACE(block);
        const Audio other = with(block);
        ASSERT_EQ(other.samples.size(), at512.samples.size());
        double worst = 0, worstSettled = 0;
        for (std::size_t i = 0; i < other.samples.size(); ++i) {
            const double d = std::fabs(other.samples[i] - at512.samples[i]);
            worst = std::max(worst, d);
            if (i >= 2 * 24000) worstSettled = std::max(worstSettled, d);
        }
        EXPECT_LT(worst, 0.01);         // -40 dB, during the first glides only
        EXPECT_LT(worstSettled, 1e-4);  // -80 dB after half a second
    }
}

TEST(DemoSignal, HasEverySectionBelowFullScale) {
    const std::vector<float> demo = makeDemoSignal(48000);
    ASSERT_EQ(demo.size(), static_cast<std::size_t>(kDemoSeconds * 48000));
    const auto peak = [&](double from, double to) {
        float p = 0;
        for (std::size_t i = static_cast<std::size_t>(from * 48000); i < static_cast<std::size_t>(to * 48000);
             ++i) {
            p = std::max(p, std::fabs(demo[i]));
        }
        return p;
    };
    EXPECT_GT(peak(0.0, 1.5), 0.3f);    // clicks
    EXPECT_GT(peak(1.5, 3.5), 0.2f);    // tones
    EXPECT_GT(peak(3.5, 5.5), 0.2f);    // noise bursts
    EXPECT_EQ(peak(5.5, 6.0), 0.0f);    // room for the tail
    EXPECT_LT(peak(0.0, 6.0), 0.708f);  // below -3 dBFS
    EXPECT_EQ(makeDemoSignal(48000), demo);
}

}  // namespace
}  // namespace velmora::cli
