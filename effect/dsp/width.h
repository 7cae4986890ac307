#pragma once
// Stereo width: the mid/side stage between the generator and the panner.
//
// For each frame mid = L + R and side = (L - R) * s with the glided width factor s, then L = mid +
// side and R = mid - side, so s = 1 gives 2L and 2R (the panner's level halves it again), 0 gives
// mono and 2 twice the side. The factor glides per frame through the owner's smoother (40 ms);
// while it is stalled at its target the current value serves every frame. One pass, no buffers.
// Called from the effect client's audio path. [audio-thread]

#include <cstdint>

#include "korvo/dsp/smooth.h"

namespace velmora {

void applyWidth(float* left, float* right, korvo::ExpSmoother& width, float target,
                std::int32_t frames) noexcept;

// The plain per-frame form: one glide step and one mid/side frame at a time. applyWidth gives its
// bits; only the tests that hold it to them run this. [audio-thread]
void applyWidthPlain(float* left, float* right, korvo::ExpSmoother& width, float target,
                     std::int32_t frames) noexcept;

}  // namespace velmora
