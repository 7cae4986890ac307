// The chain's exact output, pinned: every scenario below is rendered through the client as a host
// drives it and the bits of every output sample are hashed. The hashes were taken from the chain
// as it was before any of its speed work, so a faster form that changes a single bit (a sign of
// zero included) fails here. The scenarios cover what the fast paths distinguish: settled and
// gliding coefficients, delays, gains and widths, identity filter stages, every stage active with
// the LFO, parameter automation between blocks, odd block sizes, mono input, silence tails, bad
// input samples and other rates. (The random LFO shape is left out: its seed is the instance's
// address.)
//
// Should the chain's sound be changed on purpose, print the new values with
// VELMORA_PRINT_FINGERPRINTS=1 and replace the table (one per platform: the C runtimes' exp, sin and
// pow differ in their last bits).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
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

std::uint64_t render(const Scenario& s) {
    korvo::FPControl guard;
    auto client = korvo::makeHeap<VelmoraClient>();
    const int inputs = s.mono ? 1 : 2;
    client->resetFromHost(s.rate, s.block, inputs, 2);
    if (s.settled) {
        if (s.automate) s.automate(*client, 0);
        client->settle();
    }
    std::vector<float> inLeft(static_cast<std::size_t>(s.block)), inRight(inLeft.size());
    std::vector<float> outLeft(inLeft.size()), outRight(inLeft.size());
    korvo::HostTiming timing{120.0, 0, true};
    std::uint64_t hash = 14695981039346656037ull;
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
                hash = (hash ^ bits) * 1099511628211ull;
            }
    }
    return hash;
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
        const std::uint64_t hash = render(list[i]);
        if (print)
            std::printf("    0x%016llxull,  // %s\n", static_cast<unsigned long long>(hash), list[i].name);
        if (i < std::size(kExpected)) {
            EXPECT_EQ(hash, kExpected[i]) << list[i].name;
        }
    }
    EXPECT_EQ(list.size(), std::size(kExpected));
}

}  // namespace
