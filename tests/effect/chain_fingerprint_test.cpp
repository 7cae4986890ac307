// The chain's exact output, pinned: every scenario below is rendered through the client as a host
// drives it and the bits of every output sample are hashed. The hashes were taken from the chain
// as it was before any of its speed work (the settled scenario from the settled start as it is
// now), so a faster form that changes a single bit (a sign of zero included) fails here. The
// scenarios cover what the fast paths distinguish: settled and gliding coefficients, delays, gains
// and widths, identity filter stages, every stage active with the LFO, parameter automation
// between blocks, odd block sizes, mono input, silence tails, bad input samples and other rates.
// (The random LFO shape is left out: its seed is the instance's address.)
//
// A scenario that fails is run again with every stage in its plain per-frame form. When those
// give the pinned bits, each stage's fast form is tried alone among the plain ones, and the test
// names the stage whose fast form differs and its first differing sample. When the plain forms
// differ too, the sound itself has changed (a building block or a plain form), and the test says
// so, naming the first sample where the fast and the plain chains part if they do.
//
// Should the chain's sound be changed on purpose, regenerate the table (one per platform: the C
// runtimes' exp, sin and pow differ in their last bits) from the values these print:
//   VELMORA_PRINT_FINGERPRINTS=1 build/linux/tests/effect_tests --gtest_filter='ChainFingerprint.*'
//   VELMORA_PRINT_FINGERPRINTS=1 cmake/wine-run build/windows/tests/effect_tests.exe
//   --gtest_filter='ChainFingerprint.*'
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "effect/main.h"
#include "korvo/core/fpcontrol.h"

namespace {

using velmora::VelmoraClient;
namespace v = velmora;

struct Scenario {
    const char* name;
    double rate;
    int block;
    bool mono;
    // Called before every block with the block's first frame; sets parameters as a host would.
    std::function<void(VelmoraClient&, int)> automate;
    // The input at frame i of `frames` for channel c.
    std::function<float(int i, int c)> input;
    int frames;
    bool settled = false;  // settle() after the reset, as an export after its pre-roll starts
};

void set(VelmoraClient& client, int index, const char* text) {
    const auto parsed = client.parameter(index).parseToNormalized(text);
    ASSERT_TRUE(parsed.ok) << text;
    client.setParameterFromHost(index, static_cast<float>(parsed.normalized));
}

// Decorrelated noise of a quarter of full scale from a fixed linear congruential sequence.
float noiseAt(int i, int c) {
    std::uint32_t s =
        static_cast<std::uint32_t>(i) * 2654435761u + static_cast<std::uint32_t>(c) * 40503u + 1u;
    s ^= s >> 15;
    s *= 2246822519u;
    s ^= s >> 13;
    return static_cast<float>(static_cast<std::int32_t>(s)) * (0.25f / 2147483648.0f);
}

void fullChain(VelmoraClient& c) {
    set(c, v::kPan, "45");
    set(c, v::kDistance, "-12");
    set(c, v::kHeadSize, "200");
    set(c, v::kSpectralPan, "200");
    set(c, v::kLevelPan, "200");
    set(c, v::kStereoWidth, "150");
    set(c, v::kOutputLevel, "-3");
    set(c, v::kDryWet, "70");
}

void allStages(VelmoraClient& c) {
    set(c, v::kPan, "45");
    set(c, v::kDistance, "-12");
    set(c, v::kStereoWidth, "150");
    set(c, v::kMtoSAmount, "50");
    set(c, v::kTilt, "3");
    set(c, v::kLfoToPan, "50");
    set(c, v::kLfoToDistance, "50");
    set(c, v::kLfoToGain, "50");
    set(c, v::kLfoToTilt, "50");
}

struct Rendered {
    std::uint64_t hash = 14695981039346656037ull;
    std::vector<float> samples;  // interleaved left, right
};

// The scenario through a client whose `plainStages` run their plain forms.
Rendered render(const Scenario& s, unsigned plainStages = 0) {
    korvo::FPControl guard;
    auto client = korvo::makeHeap<VelmoraClient>();
    client->setPlainStages(plainStages);
    const int inputs = s.mono ? 1 : 2;
    client->resetFromHost(s.rate, s.block, inputs, 2);
    if (s.settled) {
        if (s.automate) s.automate(*client, 0);
        client->settle();
    }
    std::vector<float> inLeft(static_cast<std::size_t>(s.block)), inRight(inLeft.size());
    std::vector<float> outLeft(inLeft.size()), outRight(inLeft.size());
    korvo::HostTiming timing{120.0, 0, true};
    Rendered out;
    out.samples.reserve(2 * static_cast<std::size_t>(s.frames));
    for (int start = 0; start < s.frames; start += s.block) {
        const int n = std::min(s.block, s.frames - start);
        if (s.automate) s.automate(*client, start);
        for (int i = 0; i < n; ++i) {
            inLeft[static_cast<std::size_t>(i)] = s.input(start + i, 0);
            inRight[static_cast<std::size_t>(i)] = s.input(start + i, 1);
        }
        const float* ins[2] = {inLeft.data(), inRight.data()};
        float* outs[2] = {outLeft.data(), outRight.data()};
        client->processAudioFromHost(ins, inputs, outs, 2, n, timing);
        timing.timeInSamples += n;
        for (const std::vector<float>* channel : {&outLeft, &outRight})
            for (int i = 0; i < n; ++i) {
                std::uint32_t bits;
                std::memcpy(&bits, channel->data() + i, sizeof bits);
                out.hash = (out.hash ^ bits) * 1099511628211ull;
            }
        for (int i = 0; i < n; ++i) {
            out.samples.push_back(outLeft[static_cast<std::size_t>(i)]);
            out.samples.push_back(outRight[static_cast<std::size_t>(i)]);
        }
    }
    return out;
}

// The first sample at which two renders differ in their bits, as "frame F, left: A (bits) against
// B", or empty.
std::string firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        std::uint32_t x, y;
        std::memcpy(&x, &a[i], sizeof x);
        std::memcpy(&y, &b[i], sizeof y);
        if (x == y) continue;
        char text[160];
        std::snprintf(text, sizeof text, "frame %zu, %s: %.9g (0x%08x) against %.9g (0x%08x)", i / 2,
                      i % 2 == 0 ? "left" : "right", static_cast<double>(a[i]), x, static_cast<double>(b[i]),
                      y);
        return text;
    }
    return a.size() == b.size() ? "" : "the lengths differ";
}

struct StageName {
    unsigned stage;
    const char* name;
};
constexpr StageName kStages[] = {{VelmoraClient::kPlainDistance, "distance model"},
                                 {VelmoraClient::kPlainTilt, "tilt filter"},
                                 {VelmoraClient::kPlainGenerator, "stereo generator"},
                                 {VelmoraClient::kPlainWidth, "width"},
                                 {VelmoraClient::kPlainPanner, "panner"},
                                 {VelmoraClient::kPlainLfo, "LFO (skipped blocks, tremolo)"}};

// Why a scenario's hash is not `expected`: which stage's fast form parts from its plain form, and
// where; or that the plain forms give other bits too.
std::string diagnose(const Scenario& s, const Rendered& fast, std::uint64_t expected) {
    const Rendered plain = render(s, VelmoraClient::kPlainEvery);
    if (plain.hash != expected) {
        const std::string parting = firstDifference(fast.samples, plain.samples);
        return "the plain forms give other bits too: the chain's sound has changed (regenerate the table "
               "if that was meant); " +
               (parting.empty() ? std::string("the fast and the plain chains agree")
                                : "the fast and the plain chains part at " + parting);
    }
    std::string found;
    for (const StageName& stage : kStages) {
        const Rendered alone = render(s, VelmoraClient::kPlainEvery & ~stage.stage);
        const std::string where = firstDifference(alone.samples, plain.samples);
        if (!where.empty())
            found += std::string(found.empty() ? "" : "; ") + stage.name + "'s fast form, at " + where;
    }
    return found.empty() ? "every stage's fast form alone gives the plain bits; together they do not: " +
                               firstDifference(fast.samples, plain.samples)
                         : "differs from the plain form: " + found;
}

// Automation that sets a whole state before the first block and nothing after.
std::function<void(VelmoraClient&, int)> atStart(void (*setState)(VelmoraClient&)) {
    return [setState](VelmoraClient& c, int at) {
        if (at == 0) setState(c);
    };
}

std::vector<Scenario> scenarios() {
    const auto noise = [](int i, int c) { return noiseAt(i, c); };
    std::vector<Scenario> list;
    list.push_back({"defaults", 48000.0, 512, false, nullptr, noise, 24000});
    list.push_back({"full chain", 48000.0, 512, false, atStart(fullChain), noise, 48000});
    list.push_back({"all stages", 48000.0, 512, false, atStart(allStages), noise, 48000});
    // Every target moves now and then: glides start from settled values, closer distances bring
    // the low shelf in, the LFO shapes change, the generator's taps and lowpass move.
    list.push_back({"automation", 48000.0, 100, false,
                    [](VelmoraClient& c, int at) {
                        const int step = at / 4800;
                        if (at % 4800 >= 100) return;
                        static const char* pans[] = {"0", "-90", "30", "90", "-20", "0", "60", "-75"};
                        static const char* distances[] = {"0", "6", "-24", "3", "-6", "0", "-18", "1.5"};
                        static const char* tilts[] = {"0", "6", "-6", "0", "2", "0", "-3", "0"};
                        static const char* widths[] = {"100", "0", "200", "100", "50", "100", "180", "100"};
                        static const char* amounts[] = {"0", "100", "30", "0", "80", "0", "50", "0"};
                        static const char* delays[] = {"6", "12", "3", "8", "5", "6", "10", "4"};
                        static const char* waves[] = {"sine", "tri", "square", "saw",
                                                      "sine", "tri", "square", "saw"};
                        static const char* depths[] = {"0", "100", "-60", "0", "40", "0", "-100", "0"};
                        const int k = step % 8;
                        set(c, v::kPan, pans[k]);
                        set(c, v::kDistance, distances[k]);
                        set(c, v::kTilt, tilts[k]);
                        set(c, v::kStereoWidth, widths[k]);
                        set(c, v::kMtoSAmount, amounts[k]);
                        set(c, v::kMtoSDelay, delays[k]);
                        set(c, v::kMtoSLowpass, k % 2 ? "2" : "18");
                        set(c, v::kLfoWave, waves[k]);
                        set(c, v::kLfoToPan, depths[k]);
                        set(c, v::kLfoToDistance, depths[(k + 3) % 8]);
                        set(c, v::kLfoToGain, depths[(k + 5) % 8]);
                        set(c, v::kLfoToTilt, depths[(k + 6) % 8]);
                        set(c, v::kHeadSize, k % 3 ? "100" : "200");
                        set(c, v::kSpectralPan, k % 3 == 1 ? "0" : "150");
                        set(c, v::kLevelPan, k % 4 ? "100" : "0");
                        set(c, v::kOutputLevel, k % 2 ? "-6" : "0");
                        set(c, v::kDryWet, k == 5 ? "0" : "100");
                        set(c, v::kTestMono, k == 6 ? "yes" : "no");
                    },
                    noise, 4800 * 9});
    // One frame per block, then odd sizes.
    list.push_back({"single frames", 48000.0, 1, false, atStart(allStages), noise, 3000});
    list.push_back({"odd blocks", 44100.0, 37, true, atStart(fullChain), noise, 20000});
    // A burst, then digital silence long enough for the tails to reach exact zeros and the chain to
    // stop, then sound again.
    list.push_back(
        {"silence tails", 48000.0, 256, false,
         [](VelmoraClient& c, int at) {
             if (at == 0) {
                 fullChain(c);
                 set(c, v::kTilt, "-4");
                 set(c, v::kMtoSAmount, "60");
             }
         },
         [](int i, int c) { return i < 6000 || i >= 40000 ? noiseAt(i, c) : (i % 2 ? 0.0f : -0.0f); },
         48000});
    // Stretches of signed zeros and subnormals between sounds, short of the silence limit: the
    // whole-sample paths must keep every sign of zero the interpolating ones give.
    list.push_back({"signed zeros", 48000.0, 512, false,
                    [](VelmoraClient& c, int at) {
                        if (at == 15360) set(c, v::kPan, "30");
                        if (at == 30720) set(c, v::kSpectralPan, "0");
                    },
                    [](int i, int c) {
                        const int k = i % 15360;
                        if (k >= 4000 && k < 6000) return -0.0f;
                        if (k >= 7000 && k < 8000) return (i + c) % 3 ? -0.0f : 0.0f;
                        if (k >= 9000 && k < 9500) return (i % 2 ? -1.0f : 1.0f) * 1.0e-40f;
                        return noiseAt(i, c);
                    },
                    46080});
    // The same from a settled start: delays rest on whole samples from the first block.
    list.push_back(list.back());
    list.back().name = "signed zeros, settled";
    list.back().settled = true;
    // Samples that are not finite or absurdly large among ordinary ones.
    list.push_back({"bad samples", 96000.0, 512, false, atStart(allStages),
                    [](int i, int c) {
                        if (i % 997 == 5) return std::numeric_limits<float>::quiet_NaN();
                        if (i % 1511 == 7 + c) return 3.0e7f;
                        if (i % 2003 == 11) return -std::numeric_limits<float>::infinity();
                        return noiseAt(i, c);
                    },
                    30000});
    return list;
}

#if defined(_WIN32)
constexpr std::uint64_t kExpected[] = {
    0x6dd0208430141f9full,  // defaults
    0x7205f8231f135b9aull,  // full chain
    0x90c9d77a2cb90b03ull,  // all stages
    0x5cb152bc12c9ca70ull,  // automation
    0xc319a25c0bf4f32full,  // single frames
    0xfd28fdc642e29f28ull,  // odd blocks
    0xa77a1967feee8ffbull,  // silence tails
    0xa5af9176a76b6ee8ull,  // signed zeros
    0x8ce1e93e588ee7f4ull,  // signed zeros, settled
    0x669194027a865349ull,  // bad samples
};
#else
constexpr std::uint64_t kExpected[] = {
    0x6dd0208430141f9full,  // defaults
    0x7205f8231f135b9aull,  // full chain
    0x61390bd6fe6d2401ull,  // all stages
    0x5cb152bc12c9ca70ull,  // automation
    0xc319a25c0bf4f32full,  // single frames
    0xfd28fdc642e29f28ull,  // odd blocks
    0xa77a1967feee8ffbull,  // silence tails
    0xa5af9176a76b6ee8ull,  // signed zeros
    0x8ce1e93e588ee7f4ull,  // signed zeros, settled
    0x669194027a865349ull,  // bad samples
};
#endif

TEST(ChainFingerprint, EveryScenarioGivesTheSameBitsAsBefore) {
    const std::vector<Scenario> list = scenarios();
    const bool print = std::getenv("VELMORA_PRINT_FINGERPRINTS") != nullptr;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Rendered fast = render(list[i]);
        if (print)
            std::printf("    0x%016llxull,  // %s\n", static_cast<unsigned long long>(fast.hash),
                        list[i].name);
        if (i < std::size(kExpected) && fast.hash != kExpected[i])
            ADD_FAILURE() << list[i].name << ": " << diagnose(list[i], fast, kExpected[i]);
    }
    EXPECT_EQ(list.size(), std::size(kExpected));
}

// The whole chain in its fast forms against its plain forms on random settings: every parameter
// the processing reads jumps, creeps or holds (long enough for the glides to stall), in host blocks
// of 1, 7, 64, 333, 512 and 1300 frames in random order, with the host playing, jumping and
// stopping. Every block must carry the same bits.
TEST(ChainFingerprint, FastFormsGiveThePlainFormsBitsOnRandomAutomation) {
    korvo::FPControl guard;
    constexpr int kSizes[] = {1, 7, 64, 333, 512, 1300};
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto fast = korvo::makeHeap<VelmoraClient>(), plain = korvo::makeHeap<VelmoraClient>();
    plain->setPlainStages(VelmoraClient::kPlainEvery);
    for (VelmoraClient* c : {fast.get(), plain.get()}) c->resetFromHost(48000.0, 1300, 2, 2);
    // The parameters the processing reads ("LFO Wave" kept off "random": its seed is the address).
    const int automated[] = {
        v::kDistance,    v::kStereoWidth, v::kMtoSAmount,  v::kMtoSDelay,     v::kMtoSLowpass, v::kTilt,
        v::kPan,         v::kHeadSize,    v::kSpectralPan, v::kLfoWave,       v::kLfoSynced,   v::kLfoTempo,
        v::kLfoPhase,    v::kLfoFreq,     v::kLfoToPan,    v::kLfoToDistance, v::kLfoToGain,   v::kLfoToTilt,
        v::kOutputLevel, v::kDryWet,      v::kTestMono,    v::kLevelPan};
    std::vector<float> inL(1300), inR(1300), fastL(1300), fastR(1300), plainL(1300), plainR(1300);
    korvo::HostTiming timing{120.0, 0, true};
    for (int block = 0; block < 260; ++block) {
        const bool holding = block % 100 >= 40;
        for (int index : automated) {
            if (holding || unit(random) > 0.15f) continue;
            float normalized = unit(random) < 0.3f ? (unit(random) < 0.5f ? 0.0f : 1.0f) : unit(random);
            if (index == v::kLfoWave) normalized = std::floor(unit(random) * 4.0f) / 4.0f;  // sine .. saw
            if (index == v::kDryWet && unit(random) < 0.5f) normalized = 1.0f;
            for (VelmoraClient* c : {fast.get(), plain.get()}) c->setParameterFromHost(index, normalized);
        }
        if (!holding && unit(random) < 0.05f) timing.hostIsPlaying = !timing.hostIsPlaying;
        if (!holding && unit(random) < 0.05f) timing.timeInSamples += 96000;
        const int n = kSizes[block % 6 == 0 ? 4 : static_cast<int>(unit(random) * 6.0f) % 6];
        for (int i = 0; i < n; ++i) {
            inL[static_cast<std::size_t>(i)] = block % 17 == 3 ? -0.0f : noiseAt(block * 1300 + i, 0);
            inR[static_cast<std::size_t>(i)] = noiseAt(block * 1300 + i, 1);
        }
        // The client advances the channel pointers and the timing as it splits a block: one set per
        // call.
        const float* fastIn[2] = {inL.data(), inR.data()};
        const float* plainIn[2] = {inL.data(), inR.data()};
        float* fastOut[2] = {fastL.data(), fastR.data()};
        float* plainOut[2] = {plainL.data(), plainR.data()};
        korvo::HostTiming fastTiming = timing, plainTiming = timing;
        fast->processAudioFromHost(fastIn, 2, fastOut, 2, n, fastTiming);
        plain->processAudioFromHost(plainIn, 2, plainOut, 2, n, plainTiming);
        timing.timeInSamples += n;
        ASSERT_EQ(std::memcmp(fastL.data(), plainL.data(), sizeof(float) * static_cast<std::size_t>(n)), 0)
            << "block " << block;
        ASSERT_EQ(std::memcmp(fastR.data(), plainR.data(), sizeof(float) * static_cast<std::size_t>(n)), 0)
            << "block " << block;
    }
}

}  // namespace
