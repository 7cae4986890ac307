#pragma once
// StereoGenerator: the mono-to-stereo generator ("M-to-S Amount.", "M-to-S Delay", "M-to-S Lowpass").
//
// It builds a side signal out of the mid signal and adds it to the side channel only: left gets +s,
// right -s, so the mono sum left + right is unchanged (up to one float rounding per sample). The side
// signal is the sum of six taps of the mid history at irregularly spread delays (1, 1.37, 1.81, 2.29,
// 2.73 and 3.17 times "M-to-S Delay", so 6 ms gives taps from 6 to 19 ms) with alternating signs and
// equal weights 1/sqrt(6). Irregular spacing gives a dense, irregular comb instead of one obvious
// comb; the weights give the side the mid's power on average, which at 100 % leaves a broadband mono
// source with an inter-channel correlation near 0. The side then loses its bass below 120 Hz (one-pole
// highpass: the low end stays centred and mono-compatible), passes a two-pole lowpass (two one-poles
// at "M-to-S Lowpass") and is scaled by the glided amount (0 adds nothing, 1 a strong image).
//
// Delay changes glide through the six tap smoothers (values in milliseconds, 50 ms time constant),
// so they never click; the amount glides over 30 ms. The history is fed and the taps glide even at
// amount 0, so the image fades in cleanly when the amount rises. While the amount and its glide are
// exactly 0 the samples are not touched.
//
// Owned by the effect client; reset and processBlock belong to its audio path and never run
// concurrently. If the history or the scratch buffer could not be allocated, the stage passes its
// input through.

#include <cstdint>
#include <limits>

#include "korvo/dsp/delayline.h"
#include "korvo/dsp/smooth.h"

namespace velmora {

class StereoGenerator {
public:
    static constexpr int kNumTaps = 6;
    // A block is read in runs of this many frames; a tap whose glide has stalled when a run starts
    // reads the whole sample it rests on for the run (a stalled glide rests within a few
    // hundredths of a sample of its whole-sample target), a gliding tap interpolates.
    static constexpr std::int32_t kTapRunFrames = 128;

    StereoGenerator() noexcept = default;
    ~StereoGenerator();
    StereoGenerator(const StereoGenerator&) = delete;
    StereoGenerator& operator=(const StereoGenerator&) = delete;

    // Sizes the history for six taps of maxTapSeconds (plus 1.5 samples) and maxFrames, restarts the
    // tap glides at 3.0 ms (50 ms) and the amount glide at 0 (30 ms), clears the lowpass memory and
    // sizes the scratch buffer to maxFrames floats (none for 0). Allocates only when a size changes.
    // [main-thread or audio-thread reset]
    void reset(float sampleRate, float maxTapSeconds, std::int32_t maxFrames) noexcept;

    // What reset does once the sizes are right (history cleared, glides restarted, lowpass memory
    // cleared), allocating nothing. [audio-thread]
    void restart() noexcept;

    // Processes both channels in place (frames <= the reset's maxFrames, otherwise nothing happens).
    // amount: 0..1; delayMs: 3..12 (tap delays are kept within maxTapSeconds); lowpassHz: 200..22000.
    // [audio-thread]
    void processBlock(float* left, float* right, float amount, float delayMs, float lowpassHz,
                      std::int32_t frames) noexcept;

    // The plain per-frame form of processBlock: the mid fed, then per frame each tap read (whole
    // samples for taps stalled at the start of their run, otherwise a glide step and an
    // interpolated read), the taps summed in order, the side filtered and added. processBlock gives
    // its bits; only the tests that hold it to them run this. [audio-thread]
    void processBlockPlain(float* left, float* right, float amount, float delayMs, float lowpassHz,
                           std::int32_t frames) noexcept;

    // Runs the tap delay and amount glides toward the targets these arguments give until they come
    // to rest, as they would if the generator ran on them long enough; the history is left as it
    // is. [audio-thread]
    void settle(float amount, float delayMs) noexcept;

    // Tap delay of tap i as a multiple of "M-to-S Delay". [any-thread]
    static float tapRatio(int i) noexcept;

    // Inspection for tests. [audio-thread]
    const korvo::Delayline& historyLine() const noexcept { return history; }
    std::int32_t scratchFrames() const noexcept { return scratchSize; }
    const korvo::ExpSmoother& tap(int i) const noexcept { return tapSmoothers[i]; }
    const korvo::ExpSmoother& amount() const noexcept { return amountSmoother; }

private:
    // Tap t's delay target in milliseconds (a whole number of samples). [audio-thread]
    float tapTarget(int t, float delayMs) const noexcept;
    // The mid signal of a block into the history. [audio-thread]
    void feedMid(const float* left, const float* right, std::int32_t frames) noexcept;
    // The tap targets for delayMs, the lowpass step for lowpassHz and a stalled tap's whole-sample
    // delay, each remembered for the value it was made from: the LFO's cells call the generator
    // eight times a block with the same values, and these save 2 to 3 % of the chain's time there.
    // [audio-thread]
    const float* targetsFor(float delayMs) noexcept;
    double lowpassFor(float lowpassHz) noexcept;
    std::int32_t wholeDelay(int t) noexcept;

    float sampleRate = 44100.0f;
    korvo::Delayline history;
    korvo::ExpSmoother amountSmoother;
    double filterState[3] = {0.0, 0.0, 0.0};  // side lowpass (two one-poles), then the bass one-pole
    float* scratch = nullptr;
    std::int32_t scratchSize = 0;
    korvo::ExpSmoother tapSmoothers[kNumTaps];
    float maxTapMs = 40.0f;
    double highpassCoefficient = 0.0;  // one-pole step of the 120 Hz bass filter
    // targetsFor's, lowpassFor's and wholeDelay's memories (NaN: none yet; restart forgets them,
    // the rate may have changed).
    float targetsDelayMs = std::numeric_limits<float>::quiet_NaN();
    float targetsMs[kNumTaps] = {};
    float lowpassStepHz = std::numeric_limits<float>::quiet_NaN();
    double lowpassStep = 0.0;
    float wholeFromMs[kNumTaps] = {};
    std::int32_t wholeSamples[kNumTaps] = {};
};

}  // namespace velmora
