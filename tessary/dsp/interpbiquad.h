#pragma once
// InterpolatedBiquad: a double-precision biquad on float samples whose five coefficients glide toward
// target values once per 32-sample chunk.
//
// Every processBlock call names its target coefficients; before each full chunk of 32 samples the
// coefficients move one 40 ms one-pole step toward the target, and a shorter remainder (or a block
// shorter than 32) moves by a step sized for its own length, so the glide speed does not depend on
// how the host cuts its blocks beyond the 32-sample granularity. Plain value, no arrays; the glide
// factors are precomputed by initialise so no exp runs on the audio path. Single-threaded.

#include <cstdint>

#include "korvo/dsp/iir.h"

namespace tessary {

struct InterpolatedBiquad {
    static constexpr int kChunkSize = 32;

    std::int32_t chunkShift = 5;  // log2 of the coefficient update period
    double x1 = 0.0, x2 = 0.0;    // previous two inputs
    double y1 = 0.0, y2 = 0.0;    // previous two outputs (kept in full double precision)
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;  // current coefficients, a0 = 1
    float glideAlpha[kChunkSize] = {};  // glideAlpha[k-1]: glide fraction for a run of k samples

    // Clears the state, puts the coefficients at the identity and computes the glide factors for
    // sampleRate (Hz). [audio-thread, reset only]
    void initialise(float sampleRate) noexcept;

    // Filters `frames` samples from input to output (output may equal input), gliding the coefficients
    // toward target as described above. frames = 0 moves nothing. [audio-thread]
    void processBlock(const float* input, float* output, std::int32_t frames,
                      const korvo::BiquadCoeffs& target) noexcept;

    // Puts the coefficients at target at once, as a finished glide would; the state is kept.
    // [audio-thread]
    void snapTo(const korvo::BiquadCoeffs& target) noexcept {
        b0 = target.b0;
        b1 = target.b1;
        b2 = target.b2;
        a1 = target.a1;
        a2 = target.a2;
    }

    // The coefficients currently in use. [audio-thread]
    korvo::BiquadCoeffs coefficients() const noexcept { return korvo::BiquadCoeffs{b0, b1, b2, a1, a2}; }

    // Runs two independent filters over their own buffers (typically left and right), exactly as two
    // processBlock calls would, but with both recursions in one loop so the processor overlaps them.
    // [audio-thread]
    static void processPair(InterpolatedBiquad& first, const float* firstInput, float* firstOutput,
                            const korvo::BiquadCoeffs& firstTarget, InterpolatedBiquad& second,
                            const float* secondInput, float* secondOutput,
                            const korvo::BiquadCoeffs& secondTarget, std::int32_t frames) noexcept;

    // One stereo stage of a cascade: two filters (left, right) and their targets.
    struct StereoStage {
        InterpolatedBiquad* left;
        InterpolatedBiquad* right;
        const korvo::BiquadCoeffs* leftTarget;
        const korvo::BiquadCoeffs* rightTarget;
    };
    static constexpr int kMaxStages = 3;

    // Runs up to kMaxStages stereo stages one after the other: the first filters the inputs into the
    // outputs, each later one filters the outputs in place. The bits are those of one processPair
    // per stage in order, but each chunk runs frame by frame through every stage whose two filters
    // are both active, left and right in the two lanes of one register, so the stages' recursions
    // overlap instead of waiting for each other. An output may be its own input; the inputs may be
    // one buffer (mono), which may also be the left output while the first stage's two filters
    // follow the same targets. [audio-thread]
    static void processCascade(const StereoStage* stages, int stageCount, const float* inputLeft,
                               const float* inputRight, float* outputLeft, float* outputRight,
                               std::int32_t frames) noexcept;

private:
    // One chunk of one stage as processPair runs it when a filter of the pair is the identity.
    static void processSeparately(InterpolatedBiquad& f, const float* inF, float* outF, InterpolatedBiquad& g,
                                  const float* inG, float* outG, std::int32_t count) noexcept;
    void glide(const korvo::BiquadCoeffs& target, float fraction) noexcept;
    void filter(const float* input, float* output, std::int32_t count) noexcept;
    bool isIdentity() const noexcept { return b0 == 1.0 && b1 == 0.0 && b2 == 0.0 && a1 == 0.0 && a2 == 0.0; }
    // The identity filter's output is its input (a float widened to double and back); only the
    // state has to follow.
    void passThrough(const float* input, float* output, std::int32_t count) noexcept;
};

}  // namespace tessary
