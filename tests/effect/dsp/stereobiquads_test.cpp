#include "effect/dsp/stereobiquads.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "korvo/core/fpcontrol.h"
#include "tessary/dsp/iir.h"
#include "tessary/dsp/interpbiquad.h"

using tessary::InterpolatedBiquad;

namespace {
bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}
}  // namespace

// The stereo loop, the identity short cut and the pair fed by a source just in time are speed-ups
// only: over targets that switch between shelves and the identity, in odd block lengths, they give
// the same bits as one filter at a time. The source writes every frame once, in order.
TEST(InterpolatedBiquadPair, MatchesTwoSeparateFiltersBitForBit) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    InterpolatedBiquad pairL, pairR, soloL, soloR, fedL, fedR;
    for (auto* f : {&pairL, &pairR, &soloL, &soloR, &fedL, &fedR}) f->initialise(48000.0f);
    const korvo::BiquadCoeffs identity = korvo::BiquadCoeffs::identity();
    const korvo::BiquadCoeffs bright = tessary::designHighShelf(25333.803158548093, 1.04, 6.0, 48000.0f);
    const korvo::BiquadCoeffs dark =
        tessary::designLowShelf(1570.7963267948965, 1.4142135623730951, -9.0, 48000.0f);
    const int lengths[] = {7, 512, 1, 33, 64, 300, 2, 512, 31};
    int step = 0;
    for (int round = 0; round < 40; ++round) {
        const int n = lengths[round % 9];
        // Identity for long enough that a switch back to it happens from settled states too.
        const korvo::BiquadCoeffs& targetL = (round / 6) % 3 == 0 ? identity : bright;
        const korvo::BiquadCoeffs& targetR = (round / 4) % 2 == 0 ? dark : identity;
        std::vector<float> inL(n), inR(n);
        for (int i = 0; i < n; ++i) inL[i] = noise(random), inR[i] = noise(random);
        std::vector<float> pairOutL(n), pairOutR(n), soloOutL(n), soloOutR(n);
        velmora::StereoBiquads::processPair(pairL, inL.data(), pairOutL.data(), targetL, pairR, inR.data(),
                                            pairOutR.data(), targetR, n);
        soloL.processBlock(inL.data(), soloOutL.data(), n, targetL);
        soloR.processBlock(inR.data(), soloOutR.data(), n, targetR);
        std::vector<float> fedOutL(n, 99.0f), fedOutR(n, 99.0f);
        int written = 0;
        velmora::StereoBiquads::processPairFrom(
            fedL, targetL, fedR, targetR, fedOutL.data(), fedOutR.data(), n,
            [&](std::int32_t at, std::int32_t count, float* toL, float* toR) {
                ASSERT_EQ(at, written);
                ASSERT_TRUE(count >= 1 && count <= 4 && at + count <= n);
                std::memcpy(toL, inL.data() + at, count * sizeof(float));
                std::memcpy(toR, inR.data() + at, count * sizeof(float));
                written += count;
            });
        ASSERT_EQ(written, n);
        ASSERT_TRUE(sameBits(pairOutL, soloOutL)) << "round " << round;
        ASSERT_TRUE(sameBits(pairOutR, soloOutR)) << "round " << round;
        ASSERT_TRUE(sameBits(fedOutL, soloOutL)) << "round " << round;
        ASSERT_TRUE(sameBits(fedOutR, soloOutR)) << "round " << round;
        step += n;
    }
    EXPECT_EQ(pairL.y1, soloL.y1);
    EXPECT_EQ(pairR.y2, soloR.y2);
    EXPECT_EQ(fedL.y1, soloL.y1);
    EXPECT_EQ(fedR.x2, soloR.x2);
}

// The identity short cut must hand on the same history as the full recursion, also after a block of
// one sample, so that the filter continues identically when its target changes.
TEST(InterpolatedBiquadPair, IdentityKeepsTheHistoryTheRecursionWouldKeep) {
    InterpolatedBiquad filter;
    filter.initialise(44100.0f);
    const korvo::BiquadCoeffs identity = korvo::BiquadCoeffs::identity();
    float a[2] = {0.25f, -0.5f}, out[2];
    filter.processBlock(a, out, 2, identity);
    filter.processBlock(a, out, 1, identity);
    EXPECT_EQ(filter.x1, 0.25);
    EXPECT_EQ(filter.x2, -0.5);
    EXPECT_EQ(filter.y1, 0.25);
    EXPECT_EQ(filter.y2, -0.5);
    EXPECT_EQ(out[0], 0.25f);
}

// A cascade of three stereo stages gives the bits of the three filters of each side run one after
// the other, block by block: stages switching between active and identity (alone, in pairs, all
// three), left and right on different targets, odd block lengths, and a mono input that is also
// the left output.
TEST(InterpolatedBiquadCascade, MatchesOneFilterAfterTheOtherBitForBit) {
    std::mt19937 random(23);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    InterpolatedBiquad cascade[2][3], solo[2][3];
    for (auto* bank : {&cascade, &solo})
        for (auto& side : *bank)
            for (auto& f : side) f.initialise(44100.0f);
    const korvo::BiquadCoeffs identity = korvo::BiquadCoeffs::identity();
    const korvo::BiquadCoeffs choices[] = {
        identity,
        tessary::designHighShelf(25333.803158548093, 1.04, -11.0, 44100.0f),
        tessary::designLowShelf(1570.7963267948965, 1.4142135623730951, 2.5, 44100.0f),
        korvo::BiquadCoeffs{0.25, 0.0, 0.0, -0.75, 0.0},
    };
    const int lengths[] = {64, 5, 512, 32, 1, 100, 33};
    for (int round = 0; round < 60; ++round) {
        const int n = lengths[round % 7];
        const bool mono = round % 5 == 3;
        korvo::BiquadCoeffs targets[2][3];
        for (int side = 0; side < 2; ++side)
            for (int s = 0; s < 3; ++s) targets[side][s] = choices[(round / (2 + s) + side * (s == 1)) % 4];
        std::vector<float> inL(static_cast<std::size_t>(n)), inR(inL.size());
        for (int i = 0; i < n; ++i) inL[i] = noise(random), inR[i] = noise(random);
        std::vector<float> soloL(inL.size()), soloR(inL.size());
        const std::vector<float>& soloInR = mono ? inL : inR;
        for (int s = 0; s < 3; ++s) {
            solo[0][s].processBlock(s == 0 ? inL.data() : soloL.data(), soloL.data(), n, targets[0][s]);
            solo[1][s].processBlock(s == 0 ? soloInR.data() : soloR.data(), soloR.data(), n, targets[1][s]);
        }
        velmora::StereoBiquads::StereoStage stages[3];
        for (int s = 0; s < 3; ++s)
            stages[s] = {&cascade[0][s], &cascade[1][s], &targets[0][s], &targets[1][s]};
        std::vector<float> outR(inL.size());
        if (mono) {
            // In place on the left: the mono input is the left output.
            velmora::StereoBiquads::processCascade(stages, 3, inL.data(), inL.data(), inL.data(), outR.data(),
                                                   n);
            ASSERT_TRUE(sameBits(inL, soloL)) << "round " << round;
        } else {
            std::vector<float> outL(inL.size());
            velmora::StereoBiquads::processCascade(stages, 3, inL.data(), inR.data(), outL.data(),
                                                   outR.data(), n);
            ASSERT_TRUE(sameBits(outL, soloL)) << "round " << round;
        }
        ASSERT_TRUE(sameBits(outR, soloR)) << "round " << round;
    }
    for (int s = 0; s < 3; ++s) {
        EXPECT_EQ(cascade[0][s].coefficients(), solo[0][s].coefficients());
        EXPECT_EQ(cascade[1][s].y1, solo[1][s].y1);
        EXPECT_EQ(cascade[1][s].x2, solo[1][s].x2);
    }
}

// First-order stages (the distance model's lowpass and low-cut) take a shorter form while every
// result is a normal number. Silence after sound drives their histories through subnormals to
// zero (or, without flush-to-zero, to the smallest subnormal), and runs of signed zeros follow:
// with and without flush-to-zero the cascade keeps the bits of the filters run one after the
// other, for one, two and three stages, in place and not, gliding from the identity and settled
// on their coefficients from the start; and with identity stages after the first-order ones and
// targets that move every few blocks (the distance model's form under modulation).
TEST(InterpolatedBiquadCascade, FirstOrderStagesKeepTheBitsThroughZerosAndSubnormals) {
    const korvo::BiquadCoeffs firstOrder[3] = {korvo::BiquadCoeffs{0.25, 0.0, 0.0, -0.75, 0.0},
                                               korvo::BiquadCoeffs{0.875, 0.0, 0.0, 0.125, 0.0},
                                               korvo::BiquadCoeffs{0.5, 0.0, 0.0, -0.5, 0.0}};
    // Noise, then long silence of alternating signs, a few subnormal floats, and noise again.
    const auto input = [](int i, int side) {
        if (i >= 300 && i < 3600) return ((i + side) % 3 == 0) ? -0.0f : 0.0f;
        if (i >= 3600 && i < 3700) return (i % 2 ? 1.0e-42f : -1.0e-42f) * static_cast<float>(side + 1);
        if (i >= 3700 && i < 4800) return i % 5 == 0 ? 0.0f : -0.0f;
        const std::uint32_t s = static_cast<std::uint32_t>(i * 2 + side) * 2654435761u;
        return static_cast<float>(static_cast<std::int32_t>(s ^ (s >> 13))) * (0.5f / 2147483648.0f);
    };
    const int lengths[] = {32, 7, 64, 1, 512, 33, 100};
    for (const bool flushToZero : {false, true}) {
        korvo::FPControl control;                                // flush-to-zero and denormals-are-zero
        if (!flushToZero) korvo::FPControl::writeMXCSR(0x1F80);  // the processor's default
        for (int variant = 0; variant < 10; ++variant) {
            const int stageCount = variant < 6 ? 1 + variant % 3 : 3;
            const bool settled = variant >= 3 && variant < 6;
            // Variants 6 to 9: the last one or two stages glide to the identity, and from variant 8
            // on the first-order targets move every third block.
            const int active = variant < 6 ? stageCount : 1 + variant % 2;
            const bool moving = variant >= 8;
            korvo::BiquadCoeffs targets[3];
            for (const bool inPlace : {false, true}) {
                InterpolatedBiquad cascade[2][3], solo[2][3];
                for (auto* bank : {&cascade, &solo})
                    for (auto& side : *bank)
                        for (int s = 0; s < 3; ++s) {
                            side[s].initialise(48000.0f);
                            if (settled) side[s].snapTo(firstOrder[s]);
                        }
                velmora::StereoBiquads::StereoStage stages[3];
                for (int s = 0; s < 3; ++s)
                    stages[s] = {&cascade[0][s], &cascade[1][s], &targets[s], &targets[s]};
                int at = 0;
                for (int round = 0; at < 6000; ++round) {
                    const int n = moving ? (round % 4 == 3 ? 33 : 64) : lengths[round % 7];
                    for (int s = 0; s < 3; ++s)
                        targets[s] = s >= active               ? korvo::BiquadCoeffs::identity()
                                     : moving && round / 3 % 2 ? firstOrder[(s + 1) % 3]
                                                               : firstOrder[s];
                    std::vector<float> inL(static_cast<std::size_t>(n)), inR(inL.size());
                    for (int i = 0; i < n; ++i) inL[i] = input(at + i, 0), inR[i] = input(at + i, 1);
                    std::vector<float> soloL = inL, soloR = inR, outL(inL.size()), outR(inL.size());
                    for (int s = 0; s < stageCount; ++s) {
                        solo[0][s].processBlock(soloL.data(), soloL.data(), n, targets[s]);
                        solo[1][s].processBlock(soloR.data(), soloR.data(), n, targets[s]);
                    }
                    if (inPlace) {
                        velmora::StereoBiquads::processCascade(stages, stageCount, inL.data(), inR.data(),
                                                               inL.data(), inR.data(), n);
                        outL = inL;
                        outR = inR;
                    } else {
                        velmora::StereoBiquads::processCascade(stages, stageCount, inL.data(), inR.data(),
                                                               outL.data(), outR.data(), n);
                    }
                    ASSERT_TRUE(sameBits(outL, soloL))
                        << "ftz " << flushToZero << " variant " << variant << " at " << at;
                    ASSERT_TRUE(sameBits(outR, soloR))
                        << "ftz " << flushToZero << " variant " << variant << " at " << at;
                    at += n;
                }
                for (int side = 0; side < 2; ++side)
                    for (int s = 0; s < stageCount; ++s) {
                        const InterpolatedBiquad& a = cascade[side][s];
                        const InterpolatedBiquad& b = solo[side][s];
                        EXPECT_EQ(std::memcmp(&a.x1, &b.x1, 4 * sizeof(double)), 0) << "stage " << s;
                        EXPECT_EQ(a.coefficients(), b.coefficients()) << "stage " << s;
                        EXPECT_EQ(a.stalledFraction, b.stalledFraction) << "stage " << s;
                    }
            }
        }
    }
}
