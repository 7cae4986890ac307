#pragma once
// TiltFilter: the tilt equaliser's state ("Tilt", -6..+6 dB around a one-pole band split whose analog
// corner is 650 Hz): the split memory, the split coefficients, two per-block band buffers sized by
// reset for the largest block, and the two glided band gains (20 ms). The tilting itself is not
// implemented yet: processBlock leaves the signal unchanged, which is also what 0 dB must do.
// Owned by the effect client; reset and processBlock belong to its audio path.

#include <cstdint>

#include "korvo/dsp/smooth.h"

namespace velmora {

class TiltFilter {
public:
    TiltFilter() noexcept = default;
    ~TiltFilter();
    TiltFilter(const TiltFilter&) = delete;
    TiltFilter& operator=(const TiltFilter&) = delete;

    // Clears the split memory, computes the split for sampleRate (Hz), restarts both gain glides at 0
    // and sizes the band buffers to maxFrames doubles (none for 0). Allocates. [audio-thread, reset only]
    void reset(float sampleRate, std::int32_t maxFrames) noexcept;

    // Processes both channels in place; tiltDb in -6..+6. Currently a pass-through. [audio-thread]
    void processBlock(float* left, float* right, float tiltDb, std::int32_t frames) noexcept;

    // The split lowpass is y[n] = splitGain * x[n] + splitPole * y[n-1]. [audio-thread]
    double gainOfSplit() const noexcept { return splitGain; }
    double poleOfSplit() const noexcept { return splitPole; }
    std::int32_t bufferFrames() const noexcept { return bufferSize; }
    const korvo::ExpSmoother& gainA() const noexcept { return gainSmootherA; }
    const korvo::ExpSmoother& gainB() const noexcept { return gainSmootherB; }

private:
    double state[2] = {0.0, 0.0};  // one-pole memory per channel
    double splitGain = 0.0;
    double splitPole = 0.0;
    double* bufferA = nullptr;
    double* bufferB = nullptr;
    std::int32_t bufferSize = 0;
    korvo::ExpSmoother gainSmootherA, gainSmootherB;
};

}  // namespace velmora
