#include "effect/dsp/tiltfilter.h"

#include <algorithm>
#include <cmath>

#include "korvo/core/nogc.h"

namespace velmora {

namespace {
constexpr std::size_t kBufferAlignment = 16;
constexpr double kSplitRadPerSecond = 4084.070449666731;  // 2 pi x 650 Hz
constexpr double kPivotHz = 650.0;
constexpr double kTwoPi = 6.283185307179586;
constexpr float kDbToNeper = 0.115129255f;  // ln(10) / 20
}  // namespace

TiltFilter::~TiltFilter() {
    korvo::alignedRelease(bufferA, kBufferAlignment);
    korvo::alignedRelease(bufferB, kBufferAlignment);
}

void TiltFilter::reset(float sampleRate, std::int32_t maxFrames) noexcept {
    rate = sampleRate;
    // A one-pole split with 3 x rate in place of the bilinear 2 x rate; splitGain + splitPole = 1.
    const double t = static_cast<double>(3.0f * sampleRate);
    splitGain = (2.0 * kSplitRadPerSecond) * 1.0 / (kSplitRadPerSecond + t);
    splitPole = (t - kSplitRadPerSecond) * 1.0 / (kSplitRadPerSecond + t);

    // The split's digital -3 dB frequency: |g / (1 - p e^-jw)|^2 = 1/2.
    pivot = 1.0;
    const double cosCorner = (1.0 + splitPole * splitPole - 2.0 * splitGain * splitGain) / (2.0 * splitPole);
    if (splitPole > 0.0 && cosCorner > -1.0 && cosCorner < 1.0) {
        const double cornerHz = std::acos(cosCorner) * static_cast<double>(sampleRate) / kTwoPi;
        if (cornerHz > 0.0) pivot = kPivotHz / cornerHz;
    }

    maxFrames = std::max<std::int32_t>(maxFrames, 0);
    if (maxFrames != bufferSize) {
        korvo::alignedRelease(bufferA, kBufferAlignment);
        korvo::alignedRelease(bufferB, kBufferAlignment);
        bufferA = bufferB = nullptr;
        bufferSize = 0;
        if (maxFrames > 0) {
            const std::size_t bytes = static_cast<std::size_t>(maxFrames) * sizeof(double);
            bufferA = static_cast<double*>(korvo::alignedAlloc(bytes, kBufferAlignment));
            bufferB = static_cast<double*>(korvo::alignedAlloc(bytes, kBufferAlignment));
            bufferSize = maxFrames;
        }
    }
    restart();
}

void TiltFilter::restart() noexcept {
    state[0] = state[1] = 0.0;
    gainSmootherA.initialise(0.0f, 0.02f, rate);
    gainSmootherB.initialise(0.0f, 0.02f, rate);
    if (bufferA != nullptr) std::fill(bufferA, bufferA + bufferSize, 0.0);
    if (bufferB != nullptr) std::fill(bufferB, bufferB + bufferSize, 0.0);
}

void TiltFilter::settle(float tiltDb) noexcept {
    gainSmootherA.current = std::exp(-tiltDb * kDbToNeper) - 1.0f;
    gainSmootherB.current = std::exp(tiltDb * kDbToNeper) - 1.0f;
}

void TiltFilter::processBlock(float* left, float* right, float tiltDb, std::int32_t frames) noexcept {
    if (frames <= 0 || frames > bufferSize) return;
    // Flat and settled: the samples are not touched (bit-exact pass-through).
    if (!isActive(tiltDb)) return;

    // Targets once per block: low band 1/G, high band G, as deviations from unity.
    const float targetLow = std::exp(-tiltDb * kDbToNeper) - 1.0f;
    const float targetHigh = std::exp(tiltDb * kDbToNeper) - 1.0f;
    // Per frame: k = pivot / lowGain (kept in bufferA), the high gain (bufferB, scaled below) and the
    // reciprocal of the loop's denominator 1 + g (k - 1), so the recursion itself has no division.
    const double g = splitGain;
    const double p = splitPole;
    for (std::int32_t i = 0; i < frames; ++i) {
        bufferA[i] = 1.0 + static_cast<double>(gainSmootherA.nextSample(targetLow));
        bufferB[i] = 1.0 + static_cast<double>(gainSmootherB.nextSample(targetHigh));
    }
    // Divisions in loops of their own, so they pipeline instead of waiting on the glides or on the
    // recursion: k = pivot / lowGain, and the reciprocal of the loop's denominator 1 + g (k - 1).
    for (std::int32_t i = 0; i < frames; ++i) bufferA[i] = pivot / bufferA[i];
    double lowLeft = state[0], lowRight = state[1];
    constexpr std::int32_t kChunk = 64;
    double feed[kChunk], keep[kChunk];
    for (std::int32_t start = 0; start < frames; start += kChunk) {
        const std::int32_t m = std::min(kChunk, frames - start);
        // low = (g in + p low) / (1 + g (k - 1)), with the division folded into two per-frame
        // factors so the recursion is one multiply and one add.
        for (std::int32_t j = 0; j < m; ++j) {
            const double reciprocal = 1.0 / (1.0 + g * (bufferA[start + j] - 1.0));
            feed[j] = g * reciprocal;
            keep[j] = p * reciprocal;
        }
        for (std::int32_t j = 0; j < m; ++j) {
            const std::int32_t i = start + j;
            const double k = bufferA[i];
            const double h = bufferB[i];
            // The split fed in - (k - 1) * low, solved for the new low value (no delay in the loop);
            // both channels side by side.
            const double inLeft = static_cast<double>(left[i]);
            const double inRight = static_cast<double>(right[i]);
            lowLeft = feed[j] * inLeft + keep[j] * lowLeft;
            lowRight = feed[j] * inRight + keep[j] * lowRight;
            left[i] = static_cast<float>(pivot * lowLeft + h * (inLeft - k * lowLeft));
            right[i] = static_cast<float>(pivot * lowRight + h * (inRight - k * lowRight));
        }
    }
    state[0] = lowLeft;
    state[1] = lowRight;
}

}  // namespace velmora
