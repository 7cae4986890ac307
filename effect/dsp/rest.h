#pragma once
// Where a glide comes to rest: the state a smoother reaches when it runs on one target long enough.
//
// A single-precision glide does not end on its target: once a step rounds away it stalls a little
// short of it (a delay gliding toward 34 samples stops about 0.005 samples short), and where it
// stops depends on where it started. Owners that start "settled" step their glides to that point,
// so they begin where the plug-in itself would be after running on the same settings, not on the
// exact targets. [audio-thread]

#include <cstdint>

#include "korvo/dsp/smooth.h"

namespace velmora {

// Steps `smoother` toward target one sample at a time until a step changes nothing. The bound only
// guards against a target that is not a number (such a glide never rests).
inline void runToRest(korvo::ExpSmoother& smoother, float target) noexcept {
    constexpr std::int64_t kMaxSteps = std::int64_t{1} << 24;
    for (std::int64_t i = 0; i < kMaxSteps && !smoother.isStalled(target); ++i) smoother.nextSample(target);
}

}  // namespace velmora
