#pragma once
// InterpolatedBiquad: a double-precision biquad on float samples whose five coefficients glide toward
// target values once per 32-sample chunk.
//
// Every processBlock call names its target coefficients; before each full chunk of 32 samples the
// coefficients move one 40 ms one-pole step toward the target, and a shorter remainder (or a block
// shorter than 32) moves by a step sized for its own length, so the glide speed does not depend on
// how the host cuts its blocks beyond the 32-sample granularity. Plain value, no arrays; the glide
// factors are precomputed by initialise so no exp runs on the audio path. Single-threaded.

#include <bit>
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
    // The target and fraction of the last glide that left the coefficients as they were (fraction
    // < 0: none): the same glide would again leave them as they are, so it is skipped.
    korvo::BiquadCoeffs stalledTarget{};
    float stalledFraction = -1.0f;

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
        stalledFraction = -1.0f;
        b0 = target.b0;
        b1 = target.b1;
        b2 = target.b2;
        a1 = target.a1;
        a2 = target.a2;
    }

    // Glides the coefficients toward target by full 32-sample chunks until a step leaves them as
    // they are: where they come to rest when the filter runs on that target long enough. The state
    // is kept. [audio-thread]
    void settle(const korvo::BiquadCoeffs& target) noexcept;

    // The glide rule, one step: each coefficient moves by `fraction` of its way to the target. A
    // step that would leave the coefficients as they are (it rounds away; settled filters, 5 to 8 % of
    // the effect's time) is remembered with its
    // target and fraction, and the same step is skipped until one of the three changes.
    // [audio-thread] (Inlined where it is called: as a call per chunk and filter it cost the
    // full chain about 1.5 % of its time.)
    [[gnu::always_inline]] inline void glide(const korvo::BiquadCoeffs& target, float fraction) noexcept {
        // A glide is a function of the coefficients, the target and the fraction only: one that left
        // the coefficients as they were is skipped when it comes again.
        if (glideStalls(target, fraction)) return;
        const double f = static_cast<double>(fraction);
        const korvo::BiquadCoeffs before = coefficients();
        b0 = b0 + (target.b0 - b0) * f;
        b1 = b1 + (target.b1 - b1) * f;
        b2 = b2 + (target.b2 - b2) * f;
        a1 = a1 + (target.a1 - a1) * f;
        a2 = a2 + (target.a2 - a2) * f;
        if (sameBits(before, coefficients())) {
            stalledTarget = target;
            stalledFraction = fraction;
        } else {
            stalledFraction = -1.0f;
        }
    }
    // True when glide(target, fraction) is known to leave the coefficients as they are.
    // [audio-thread]
    bool glideStalls(const korvo::BiquadCoeffs& target, float fraction) const noexcept {
        return fraction == stalledFraction && sameBits(target, stalledTarget);
    }

    // True when a and b hold the same bits (a +0 is not a -0, a NaN is itself). [any-thread]
    static bool sameBits(const korvo::BiquadCoeffs& a, const korvo::BiquadCoeffs& b) noexcept {
        return std::bit_cast<Bits>(a) == std::bit_cast<Bits>(b);
    }

    bool isIdentity() const noexcept { return b0 == 1.0 && b1 == 0.0 && b2 == 0.0 && a1 == 0.0 && a2 == 0.0; }

    // The coefficients currently in use. [audio-thread]
    korvo::BiquadCoeffs coefficients() const noexcept { return korvo::BiquadCoeffs{b0, b1, b2, a1, a2}; }

    // Filters `count` samples (at most one chunk) with the current coefficients, taking no glide
    // step: the identity passes them through (its output is its input, bit for bit), any other
    // filter runs the difference equation per sample. processBlock is a glide step and this per
    // chunk. [audio-thread]
    void runChunk(const float* input, float* output, std::int32_t count) noexcept;

private:
    struct Bits {
        std::uint64_t b0, b1, b2, a1, a2;
        friend bool operator==(const Bits&, const Bits&) = default;
    };
    void filter(const float* input, float* output, std::int32_t count) noexcept;
    // The identity filter's output is its input (a float widened to double and back); only the
    // state has to follow.
    void passThrough(const float* input, float* output, std::int32_t count) noexcept;
};

}  // namespace tessary
