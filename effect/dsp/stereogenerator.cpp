#include "effect/dsp/stereogenerator.h"

#include <algorithm>
#include <limits>

#include "korvo/core/nogc.h"

namespace velmora {

namespace {
constexpr std::size_t kScratchAlignment = 16;
}

StereoGenerator::~StereoGenerator() {
    korvo::alignedRelease(scratch, kScratchAlignment);
}

void StereoGenerator::reset(float rate, float maxTapSeconds, std::int32_t maxFrames) noexcept {
    sampleRate = rate;
    maxFrames = std::max<std::int32_t>(maxFrames, 0);
    const std::int64_t length =
        static_cast<std::int64_t>(static_cast<std::int32_t>(maxTapSeconds * rate * 6.0f + 1.5f)) + maxFrames;
    history.resize(
        static_cast<std::int32_t>(std::min<std::int64_t>(length, std::numeric_limits<std::int32_t>::max())));
    for (korvo::ExpSmoother& tapSmoother : tapSmoothers) tapSmoother.initialise(3.0f, 0.05f, rate);
    amountSmoother.initialise(0.0f, 0.03f, rate);
    filterState[0] = filterState[1] = 0.0;

    korvo::alignedRelease(scratch, kScratchAlignment);
    scratch = nullptr;
    scratchSize = 0;
    if (maxFrames > 0) {
        scratch = static_cast<float*>(
            korvo::alignedAlloc(static_cast<std::size_t>(maxFrames) * sizeof(float), kScratchAlignment));
        std::fill(scratch, scratch + maxFrames, 0.0f);
        scratchSize = maxFrames;
    }
}

void StereoGenerator::processBlock(float* /*left*/, float* /*right*/, float /*amount*/, float /*delayMs*/,
                                   float /*lowpassHz*/, std::int32_t /*frames*/) noexcept {
    // No side signal is generated yet: the stage is transparent.
}

}  // namespace velmora
