#include "effect/dsp/psypan.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tessary/dsp/iir.h"

namespace velmora {

namespace {
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kQuarterPi = 0.7853981633974483;
constexpr double kMaxInterauralDelaySeconds = 0.000653;  // at head size 100 %
constexpr float kBaseDelay = static_cast<float>(PsychoacousticPanner::kBaseDelaySamples);
constexpr float kDelayReserveSeconds = 0.002f;
constexpr double kShelfCornerRadPerSecond = 25333.803158548093;  // 2 pi x 4032 Hz
constexpr double kShelfAlphaDivisor = 1.04;                      // 2Q, Q = 0.52
constexpr double kFarShelfDb = -11.25;
constexpr double kNearShelfDb = 3.0;
constexpr float kLevelDifferenceDb = 7.95f;
constexpr float kDbToNeper = 0.115129255f;  // ln(10) / 20
constexpr float kSqrt2 = 1.4142135f;
}  // namespace

void PsychoacousticPanner::reset(float rate, std::int32_t maxFrames) noexcept {
    sampleRate = rate;
    // Room for the largest inter-aural delay plus one whole block, which is fed before it is read.
    const float reserve = std::max(std::min(kDelayReserveSeconds * rate, 1.0e9f), 0.0f);  // inside int32
    const std::int64_t length =
        static_cast<std::int64_t>(static_cast<std::int32_t>(reserve)) + std::max<std::int32_t>(maxFrames, 0);
    const std::int32_t clamped =
        static_cast<std::int32_t>(std::min<std::int64_t>(length, std::numeric_limits<std::int32_t>::max()));
    delayLeft.resize(clamped);
    delayRight.resize(clamped);
    restart();
}

void PsychoacousticPanner::restart() noexcept {
    const float rate = sampleRate;
    delayLeft.clear();
    delayRight.clear();
    delaySmootherLeft.initialise(2.0f, 0.05f, rate);
    delaySmootherRight.initialise(2.0f, 0.05f, rate);
    gainSmootherLeft.initialise(0.5f, 0.04f, rate);
    gainSmootherRight.initialise(0.5f, 0.04f, rate);
    shelfLeft.initialise(rate);
    shelfRight.initialise(rate);
    lastDelayTargetLeft = lastDelayTargetRight = kBaseDelay;
    lastGainTargetLeft = lastGainTargetRight = 0.5f;
}

void PsychoacousticPanner::shelfGainsDb(float p, float spectralPan, double& leftDb,
                                        double& rightDb) noexcept {
    leftDb =
        static_cast<double>(p) * (p < 0.0f ? -kNearShelfDb : kFarShelfDb) * static_cast<double>(spectralPan);
    rightDb =
        (p < 0.0f ? -kFarShelfDb : kNearShelfDb) * static_cast<double>(p) * static_cast<double>(spectralPan);
}

void PsychoacousticPanner::delayTargets(float p, float headSize, float& left, float& right) const noexcept {
    // cos((p - 1) pi/2) = sin(p pi/2): +1 full right, -1 full left.
    const float itd =
        static_cast<float>(static_cast<double>(headSize) *
                           (std::cos((static_cast<double>(p) - 1.0) * kHalfPi) * kMaxInterauralDelaySeconds));
    const float offsetLeft = (itd * 0.5f) * sampleRate;
    const float offsetRight = (itd * -0.5f) * sampleRate;
    const float m = std::min(offsetLeft, offsetRight);
    // Whole-sample targets (trunc in float avoids an out-of-range integer conversion).
    left = std::trunc(offsetLeft + 0.5f - m) + kBaseDelay;
    right = std::trunc(offsetRight + 0.5f - m) + kBaseDelay;
}

void PsychoacousticPanner::shelfTargets(float p, float spectralPan, korvo::BiquadCoeffs& left,
                                        korvo::BiquadCoeffs& right) const noexcept {
    double gainLeftDb = 0.0, gainRightDb = 0.0;
    shelfGainsDb(p, spectralPan, gainLeftDb, gainRightDb);
    left = gainLeftDb != 0.0f ? tessary::designHighShelf(kShelfCornerRadPerSecond, kShelfAlphaDivisor,
                                                         gainLeftDb, sampleRate)
                              : korvo::BiquadCoeffs::identity();
    right = gainRightDb != 0.0f ? tessary::designHighShelf(kShelfCornerRadPerSecond, kShelfAlphaDivisor,
                                                           gainRightDb, sampleRate)
                                : korvo::BiquadCoeffs::identity();
}

void PsychoacousticPanner::gainTargets(float p, float levelPan, float gain, float& left,
                                       float& right) noexcept {
    const float k = std::exp(levelPan * kLevelDifferenceDb * kDbToNeper);
    const float f = kSqrt2 / (k - 1.0f + kSqrt2);
    const float e = (1.0f - f) * kSqrt2;
    const double cosLeft = std::cos(static_cast<double>(p + 1.0f) * kQuarterPi);
    const double cosRight = std::cos(static_cast<double>(p - 1.0f) * kQuarterPi);
    left = static_cast<float>(cosLeft * e + f) * gain;
    right = static_cast<float>(cosRight * e + f) * gain;
}

void PsychoacousticPanner::settle(float pan, float headSize, float spectralPan, float levelPan,
                                  float gain) noexcept {
    const float p = std::max(std::min(pan, 1.0f), -1.0f);
    delayTargets(p, headSize, lastDelayTargetLeft, lastDelayTargetRight);
    delaySmootherLeft.current = lastDelayTargetLeft;
    delaySmootherRight.current = lastDelayTargetRight;
    gainTargets(p, levelPan, gain, lastGainTargetLeft, lastGainTargetRight);
    gainSmootherLeft.current = lastGainTargetLeft;
    gainSmootherRight.current = lastGainTargetRight;
    korvo::BiquadCoeffs left, right;
    shelfTargets(p, spectralPan, left, right);
    shelfLeft.snapTo(left);
    shelfRight.snapTo(right);
}

void PsychoacousticPanner::processBlock(float* left, float* right, float pan, float headSize,
                                        float spectralPan, float levelPan, float gain,
                                        std::int32_t frames) noexcept {
    const float p = std::max(std::min(pan, 1.0f), -1.0f);
    frames = std::max<std::int32_t>(frames, 0);
    const bool haveDelay = !delayLeft.isEmpty() && !delayRight.isEmpty();

    // Delay pan: the whole block goes into the history first, then each sample is read back at its
    // glided delay plus its distance from the block's end.
    if (haveDelay) {
        delayLeft.feedBlock(left, frames);
        delayRight.feedBlock(right, frames);
    }
    if (frames > 0) {
        float targetLeft, targetRight;
        delayTargets(p, headSize, targetLeft, targetRight);
        lastDelayTargetLeft = targetLeft;
        lastDelayTargetRight = targetRight;
        if (haveDelay) {
            // Four frames at a time through the four-lane read (the same bits as one by one).
            std::int32_t i = 0;
            for (; i + 4 <= frames; i += 4) {
                float delaysLeft[4], delaysRight[4];
                for (std::int32_t k = 0; k < 4; ++k) {
                    const float back = static_cast<float>(frames - 1 - (i + k));
                    delaysLeft[k] = delaySmootherLeft.nextSample(targetLeft) + back;
                    delaysRight[k] = delaySmootherRight.nextSample(targetRight) + back;
                }
                delayLeft.readFractional4(delaysLeft, left + i);
                delayRight.readFractional4(delaysRight, right + i);
            }
            for (; i < frames; ++i) {
                const float dl = delaySmootherLeft.nextSample(targetLeft);
                const float dr = delaySmootherRight.nextSample(targetRight);
                const float back = static_cast<float>(frames - 1 - i);
                left[i] = delayLeft.readFractional(dl + back);
                right[i] = delayRight.readFractional(dr + back);
            }
        }
    }

    // Spectral pan: head-shadow high shelves, designed every block (even an empty one).
    korvo::BiquadCoeffs coefficientsLeft, coefficientsRight;
    shelfTargets(p, spectralPan, coefficientsLeft, coefficientsRight);
    tessary::InterpolatedBiquad::processPair(shelfLeft, left, left, coefficientsLeft, shelfRight, right, right,
                                             coefficientsRight, frames);

    // Level pan and output gain. The law is unity on both sides at the centre for every amount; at
    // full pan the near side gets e + f and the far side f, whose ratio is k.
    if (frames > 0) {
        float targetLeft, targetRight;
        gainTargets(p, levelPan, gain, targetLeft, targetRight);
        lastGainTargetLeft = targetLeft;
        lastGainTargetRight = targetRight;
        if (gainSmootherLeft.isStalled(targetLeft) && gainSmootherRight.isStalled(targetRight)) {
            // Settled gains: the smoothers would return their current values for the whole block.
            const float gl = gainSmootherLeft.current, gr = gainSmootherRight.current;
            for (std::int32_t i = 0; i < frames; ++i) left[i] = left[i] * gl;
            for (std::int32_t i = 0; i < frames; ++i) right[i] = right[i] * gr;
        } else {
            for (std::int32_t i = 0; i < frames; ++i) {
                left[i] = left[i] * gainSmootherLeft.nextSample(targetLeft);
                right[i] = right[i] * gainSmootherRight.nextSample(targetRight);
            }
        }
    }
}

}  // namespace velmora
