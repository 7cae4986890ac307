#pragma once
// DistanceModel: makes a source sound farther away or closer.
//
// distance d is in the "Distance" parameter's units: 0 is neutral, negative values (down to -24) move
// the source away (1.32 dB less level per unit, a one-pole air-absorption lowpass whose corner falls
// from 22050 Hz towards 1552 Hz, a one-pole low-cut rising from 0 towards 1637 Hz), positive values
// (up to +6) bring it closer (0.8 dB more level per unit, a low shelf at 250 Hz of 0.45 dB per unit).
// The filters glide over 40 ms; the level is not applied here but returned, for the panner to apply
// with its own glide. No arrays. Owned by the effect client; reset and processBlock belong to its
// audio path, which never runs them concurrently.

#include <cstdint>

#include "korvo/dsp/iir.h"
#include "tessary/dsp/interpbiquad.h"

namespace velmora {

class DistanceModel {
public:
    // The coefficient targets for one distance at one rate.
    struct Targets {
        korvo::BiquadCoeffs lowpass, lowcut, shelf;
        float gain = 1.0f;  // linear level factor
    };

    // Puts all six filters at identity with cleared state for sampleRate (Hz). [audio-thread, reset only]
    void reset(float sampleRate) noexcept;

    // Filters inLeft/inRight into outLeft/outRight (frames samples, the outputs fully written; inLeft may
    // equal inRight for a mono source, and an output may even be its own input) and returns the linear
    // gain of this distance. The targets are designed even for frames = 0. [audio-thread]
    float processBlock(const float* inLeft, const float* inRight, float distance, float* outLeft,
                       float* outRight, std::int32_t frames) noexcept;

    // The plain form of processBlock: the targets designed, then the six filters one after the other
    // by InterpolatedBiquad::processBlock (the lowpasses input to output, the rest in place). A
    // mono input that is also the left output is filtered for the right channel first, so both
    // read the input. processBlock gives its bits; only the tests that hold it to them run this.
    // [audio-thread]
    float processBlockPlain(const float* inLeft, const float* inRight, float distance, float* outLeft,
                            float* outRight, std::int32_t frames) noexcept;

    // Runs all six filters' coefficient glides toward the targets of `distance` until they come to
    // rest, as they would if the model ran on that distance long enough; the filter state is kept.
    // Returns the distance's linear gain, as processBlock does. [audio-thread]
    float settle(float distance) noexcept;

    // The targets processBlock glides toward for `distance` at `sampleRate`. [any-thread]
    static Targets designTargets(float distance, float sampleRate) noexcept;

    // Inspection for tests. [audio-thread]
    const tessary::InterpolatedBiquad& lowpass(int channel) const noexcept {
        return channel == 0 ? lowpassLeft : lowpassRight;
    }
    const tessary::InterpolatedBiquad& lowcut(int channel) const noexcept {
        return channel == 0 ? lowcutLeft : lowcutRight;
    }
    const tessary::InterpolatedBiquad& shelf(int channel) const noexcept {
        return channel == 0 ? shelfLeft : shelfRight;
    }

private:
    float sampleRate = 44100.0f;
    tessary::InterpolatedBiquad lowpassLeft, lowpassRight;
    tessary::InterpolatedBiquad lowcutLeft, lowcutRight;
    tessary::InterpolatedBiquad shelfLeft, shelfRight;
};

}  // namespace velmora
