#include "effect/dsp/tiltfilter.h"

#include <algorithm>

#include "korvo/core/nogc.h"

namespace velmora {

namespace {
constexpr std::size_t kBufferAlignment = 16;
constexpr double kSplitRadPerSecond = 4084.070449666731;  // 2 pi x 650 Hz
}  // namespace

TiltFilter::~TiltFilter() {
    korvo::alignedRelease(bufferA, kBufferAlignment);
    korvo::alignedRelease(bufferB, kBufferAlignment);
}

void TiltFilter::reset(float sampleRate, std::int32_t maxFrames) noexcept {
    state[0] = state[1] = 0.0;
    // A one-pole split with 3 x rate in place of the bilinear 2 x rate; splitGain + splitPole = 1.
    const double t = static_cast<double>(3.0f * sampleRate);
    splitGain = (2.0 * kSplitRadPerSecond) * 1.0 / (kSplitRadPerSecond + t);
    splitPole = (t - kSplitRadPerSecond) * 1.0 / (kSplitRadPerSecond + t);
    gainSmootherA.initialise(0.0f, 0.02f, sampleRate);
    gainSmootherB.initialise(0.0f, 0.02f, sampleRate);

    korvo::alignedRelease(bufferA, kBufferAlignment);
    korvo::alignedRelease(bufferB, kBufferAlignment);
    bufferA = bufferB = nullptr;
    bufferSize = 0;
    if (maxFrames > 0) {
        const std::size_t bytes = static_cast<std::size_t>(maxFrames) * sizeof(double);
        bufferA = static_cast<double*>(korvo::alignedAlloc(bytes, kBufferAlignment));
        bufferB = static_cast<double*>(korvo::alignedAlloc(bytes, kBufferAlignment));
        std::fill(bufferA, bufferA + maxFrames, 0.0);
        std::fill(bufferB, bufferB + maxFrames, 0.0);
        bufferSize = maxFrames;
    }
}

void TiltFilter::processBlock(float* /*left*/, float* /*right*/, float /*tiltDb*/,
                              std::int32_t /*frames*/) noexcept {
    // No tilt is applied yet: the stage is transparent.
}

}  // namespace velmora
