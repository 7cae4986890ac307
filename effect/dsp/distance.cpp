#include "effect/dsp/distance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "effect/dsp/stereobiquads.h"
#include "tessary/dsp/iir.h"

namespace velmora {

namespace {
constexpr float kDbToNeper = 0.115129255f;  // ln(10) / 20
constexpr float kFartherDbPerUnit = 1.32f;
constexpr float kCloserDbPerUnit = 0.8f;
constexpr float kNormalise = -0.041666668f;  // u = -d / 24
constexpr double kLowpassBaseHz = 1552.0;
constexpr float kLowpassRatio = 14.207474f;  // 22050 / 1552
constexpr float kLowcutRatio = 82.85f;
constexpr float kLowcutScaleHz = 20.0f;
constexpr double kShelfCornerRadPerSecond = 1570.7963267948965;  // 2 pi x 250 Hz
constexpr double kShelfAlphaDivisor = 1.4142135623730951;        // 2Q, Q = 0.7071
constexpr float kShelfDbPerUnit = -10.8f;                        // +2.7 dB at u = -0.25

double throughFloat(double value) noexcept {
    return static_cast<double>(static_cast<float>(value));
}
}  // namespace

void DistanceModel::reset(float rate) noexcept {
    sampleRate = rate;
    lowpassLeft.initialise(rate);
    lowpassRight.initialise(rate);
    lowcutLeft.initialise(rate);
    lowcutRight.initialise(rate);
    shelfLeft.initialise(rate);
    shelfRight.initialise(rate);
}

DistanceModel::Targets DistanceModel::designTargets(float d, float rate) noexcept {
    Targets targets;
    const float gainDb = d * (d > 0.0f ? kCloserDbPerUnit : kFartherDbPerUnit);
    targets.gain = std::exp(gainDb * kDbToNeper);

    const float u = d * kNormalise;
    if (u > 0.0f) {
        // Air absorption: y[n] = (1 - a) x[n] + a y[n-1].
        const float fl =
            static_cast<float>(kLowpassBaseHz * std::exp(std::log(static_cast<double>(kLowpassRatio)) *
                                                         (1.0 - static_cast<double>(u))));
        const float rl = std::min(0.5f, fl / rate);
        const double oneMinus = 1.0 - 2.0 * static_cast<double>(rl);
        const double a = oneMinus * oneMinus;
        targets.lowpass = korvo::BiquadCoeffs{throughFloat(1.0 - a), 0.0, 0.0, -throughFloat(a), 0.0};

        // Low-cut: y[n] = (1 - q) x[n] - q y[n-1]; the pole at -q keeps the treble at unity.
        const float fc = static_cast<float>(
                             static_cast<double>(kLowcutScaleHz) *
                             std::exp(std::log(static_cast<double>(kLowcutRatio)) * static_cast<double>(u))) -
                         kLowcutScaleHz;
        const float rc = std::min(0.5f, fc / rate);
        const double twoR = 2.0 * static_cast<double>(rc);
        const double q = twoR * twoR;
        targets.lowcut = korvo::BiquadCoeffs{throughFloat(1.0 - q), 0.0, 0.0, throughFloat(q), 0.0};
    }
    if (u < 0.0f) {
        targets.shelf =
            tessary::designLowShelf(kShelfCornerRadPerSecond, kShelfAlphaDivisor, u * kShelfDbPerUnit, rate);
    }
    return targets;
}

float DistanceModel::settle(float distance) noexcept {
    const Targets targets = designTargets(distance, sampleRate);
    lowpassLeft.settle(targets.lowpass);
    lowpassRight.settle(targets.lowpass);
    lowcutLeft.settle(targets.lowcut);
    lowcutRight.settle(targets.lowcut);
    shelfLeft.settle(targets.shelf);
    shelfRight.settle(targets.shelf);
    return targets.gain;
}

float DistanceModel::processBlock(const float* inLeft, const float* inRight, float distance, float* outLeft,
                                  float* outRight, std::int32_t frames) noexcept {
    const Targets targets = designTargets(distance, sampleRate);
    // The three stereo stages as one cascade: the same bits as one stage after the other.
    using Stage = StereoBiquads::StereoStage;
    const Stage stages[3] = {{&lowpassLeft, &lowpassRight, &targets.lowpass, &targets.lowpass},
                             {&lowcutLeft, &lowcutRight, &targets.lowcut, &targets.lowcut},
                             {&shelfLeft, &shelfRight, &targets.shelf, &targets.shelf}};
    StereoBiquads::processCascade(stages, 3, inLeft, inRight, outLeft, outRight, frames);
    return targets.gain;
}

float DistanceModel::processBlockPlain(const float* inLeft, const float* inRight, float distance,
                                       float* outLeft, float* outRight, std::int32_t frames) noexcept {
    const Targets targets = designTargets(distance, sampleRate);
    if (inRight == outLeft) {
        lowpassRight.processBlock(inRight, outRight, frames, targets.lowpass);
        lowpassLeft.processBlock(inLeft, outLeft, frames, targets.lowpass);
    } else {
        lowpassLeft.processBlock(inLeft, outLeft, frames, targets.lowpass);
        lowpassRight.processBlock(inRight, outRight, frames, targets.lowpass);
    }
    lowcutLeft.processBlock(outLeft, outLeft, frames, targets.lowcut);
    lowcutRight.processBlock(outRight, outRight, frames, targets.lowcut);
    shelfLeft.processBlock(outLeft, outLeft, frames, targets.shelf);
    shelfRight.processBlock(outRight, outRight, frames, targets.shelf);
    return targets.gain;
}

}  // namespace velmora
