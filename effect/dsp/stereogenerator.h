#pragma once
// StereoGenerator: the mono-to-stereo generator's state ("M-to-S Amount.", "M-to-S Delay",
// "M-to-S Lowpass"): a delay history holding up to six taps of maxTapSeconds, the glided amount and
// tap values, a lowpass memory and a per-block scratch buffer, all sized by reset for the largest
// block. The generating itself is not implemented yet: processBlock leaves the signal unchanged,
// which is also what an amount of 0 must do. Owned by the effect client; reset and processBlock
// belong to its audio path and never run concurrently.

#include <cstdint>

#include "korvo/dsp/delayline.h"
#include "korvo/dsp/smooth.h"

namespace velmora {

class StereoGenerator {
public:
    static constexpr int kNumTaps = 6;

    StereoGenerator() noexcept = default;
    ~StereoGenerator();
    StereoGenerator(const StereoGenerator&) = delete;
    StereoGenerator& operator=(const StereoGenerator&) = delete;

    // Sizes the history for six taps of maxTapSeconds (plus 1.5 samples) and maxFrames, restarts the
    // tap glides at 3.0 (50 ms) and the amount glide at 0 (30 ms), clears the lowpass memory and sizes
    // the scratch buffer to maxFrames floats (none for 0). Allocates. [audio-thread, reset only]
    void reset(float sampleRate, float maxTapSeconds, std::int32_t maxFrames) noexcept;

    // Processes both channels in place. amount: 0..1 (0 leaves the signal unchanged); delayMs: 3..12;
    // lowpassHz: 200..22000. Currently a pass-through. [audio-thread]
    void processBlock(float* left, float* right, float amount, float delayMs, float lowpassHz,
                      std::int32_t frames) noexcept;

    // Inspection for tests. [audio-thread]
    const korvo::Delayline& historyLine() const noexcept { return history; }
    std::int32_t scratchFrames() const noexcept { return scratchSize; }
    const korvo::ExpSmoother& tap(int i) const noexcept { return tapSmoothers[i]; }
    const korvo::ExpSmoother& amount() const noexcept { return amountSmoother; }

private:
    float sampleRate = 44100.0f;
    korvo::Delayline history;
    korvo::ExpSmoother amountSmoother;
    double filterState[2] = {0.0, 0.0};  // lowpass memory, one per channel
    float* scratch = nullptr;
    std::int32_t scratchSize = 0;
    korvo::ExpSmoother tapSmoothers[kNumTaps];
};

}  // namespace velmora
