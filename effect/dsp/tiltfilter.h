#pragma once
// TiltFilter: the tilt equaliser ("Tilt", -6..+6 dB). It tilts the spectrum around a pivot near
// 650 Hz: positive tilt lifts the highs and lowers the lows by the same number of decibels, negative
// tilt does the opposite, and the pivot itself stays close to unchanged.
//
// Structure: the one-pole split y[n] = splitGain * x[n] + splitPole * y[n-1] (analog corner 650 Hz)
// divides its input into a low band (y) and a high band (input - y). For a tilt of T dB with
// G = 10^(T/20) the low band gain is 1/G and the high band gain G. Mixed on a fixed split, these gains
// would lift the pivot by up to 3 dB (the bands overlap in phase quadrature there), so the split runs
// inside a loop that moves its corner with the gains: the split is fed x - (k - 1) * low with
// k = P / lowGain, and the output is P * low + highGain * (x - k * low). In analog terms the response
// is (highGain s + P wc) / (s + k wc); for the gains 1/G and G that is (G s + P wc) / (s + G P wc):
// 1/G at DC, G at the top and exactly 1 at the pivot P wc, the geometric mean of its zero and pole.
// P, fixed at reset, is 650 Hz over the split's own digital corner, so the pivot sits at 650 Hz (the
// split's digital corner lies below its analog 650 Hz because of the 3 x rate design).
// Measured at 48 kHz with +6 dB: -6.0 dB at 30 Hz, -5.6 dB at 100 Hz, -0.14 dB at 650 Hz, +5.4 dB
// at 8 kHz (the split's lowpass has no zero at the Nyquist frequency, so the top stays about half a
// decibel short of the full 6 dB); -6 dB mirrors this exactly.
//
// The two band gains glide over 20 ms; their smoothers hold the deviation of each gain from unity
// (both start at 0, no tilt). While both deviations are exactly 0 and the requested tilt is 0 dB, the
// stage does not touch the samples at all: it returns its input bit for bit. At unity gains the
// output does not depend on the split memory, so a tilt that starts later needs no warm-up.
//
// Owned by the effect client; reset and processBlock belong to its audio path and never run
// concurrently. It holds no arrays.

#include <cstdint>

#include "korvo/dsp/smooth.h"

namespace velmora {

class TiltFilter {
public:
    // Clears the split memory, computes the split and the pivot factor for sampleRate (Hz) and
    // restarts both gain glides at 0. Any block length works (maxFrames is the owner's largest
    // block, kept for the owners' common reset shape). Allocates nothing.
    // [main-thread or audio-thread reset]
    void reset(float sampleRate, std::int32_t maxFrames) noexcept;

    // What reset does for the same rate (split memory cleared, glides at 0). [audio-thread]
    void restart() noexcept;

    // Processes both channels in place. tiltDb: -6..+6, positive is brighter. [audio-thread]
    void processBlock(float* left, float* right, float tiltDb, std::int32_t frames) noexcept;

    // The plain per-frame form of processBlock: per frame both gain glides step, then the split's
    // loop runs for each channel in double precision (a flat, settled filter leaves the samples
    // alone). processBlock gives its bits; only the tests that hold it to them run this.
    // [audio-thread]
    void processBlockPlain(float* left, float* right, float tiltDb, std::int32_t frames) noexcept;

    // Runs both band gain glides toward the targets of tiltDb until they come to rest, as they would
    // if the filter ran on that tilt long enough. [audio-thread]
    void settle(float tiltDb) noexcept;

    // True while the stage changes the signal (a tilt is requested or the gains still glide).
    // [audio-thread]
    bool isActive(float tiltDb) const noexcept {
        return tiltDb != 0.0f || gainSmootherA.current != 0.0f || gainSmootherB.current != 0.0f;
    }

    // The split lowpass is y[n] = splitGain * x[n] + splitPole * y[n-1]. [audio-thread]
    double gainOfSplit() const noexcept { return splitGain; }
    double poleOfSplit() const noexcept { return splitPole; }
    double pivotFactor() const noexcept { return pivot; }
    // Glided deviations from unity of the low band gain (A) and the high band gain (B).
    const korvo::ExpSmoother& gainA() const noexcept { return gainSmootherA; }
    const korvo::ExpSmoother& gainB() const noexcept { return gainSmootherB; }

private:
    double state[2] = {0.0, 0.0};  // split memory (the low band's previous value) per channel
    double splitGain = 0.0;
    double splitPole = 0.0;
    korvo::ExpSmoother gainSmootherA, gainSmootherB;
    double pivot = 1.0;  // P: pivot frequency over the split's digital corner
    float rate = 44100.0f;
};

}  // namespace velmora
