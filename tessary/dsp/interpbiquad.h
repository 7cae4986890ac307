#pragma once
// InterpolatedBiquad: a double-precision biquad on float samples whose five coefficients glide toward
// target values once per 32-sample chunk.
//
// Every processBlock call names its target coefficients; before each full chunk of 32 samples the
// coefficients move one 40 ms one-pole step toward the target, and a shorter remainder (or a block
// shorter than 32) moves by a step sized for its own length, so the glide speed does not depend on
// how the host cuts its blocks beyond the 32-sample granularity. Plain value, no arrays; the glide
// factors are precomputed by initialise so no exp runs on the audio path. Single-threaded.

#include <emmintrin.h>

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

    // One step of the coefficients' glide: each moves by `fraction` of its way to the target.
    // [audio-thread]
    void glide(const korvo::BiquadCoeffs& target, float fraction) noexcept;
    bool isIdentity() const noexcept { return b0 == 1.0 && b1 == 0.0 && b2 == 0.0 && a1 == 0.0 && a2 == 0.0; }

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

    // processPair in place on outFirst and outSecond, whose input samples `source` writes just in
    // time: source(start, count, first, second) writes frames [start, start + count) of both
    // inputs to first[0..count) and second[0..count), four frames at a time (fewer at the end of
    // a chunk). Where both filters are active, each four frames are filtered right after they are
    // written, so the recursions overlap the work of the source. The bits are those of the source
    // writing every frame first and processPair running after it. [audio-thread]
    template <class Source>
    static void processPairFrom(InterpolatedBiquad& first, const korvo::BiquadCoeffs& firstTarget,
                                InterpolatedBiquad& second, const korvo::BiquadCoeffs& secondTarget,
                                float* outFirst, float* outSecond, std::int32_t frames,
                                Source&& source) noexcept;

    // The coefficients and histories of two filters (typically left and right) in the two lanes of
    // registers, the first in the low lane, stepped one frame at a time. [audio-thread]
    struct PairState;

private:
    // One chunk of one stage as processPair runs it when a filter of the pair is the identity.
    static void processSeparately(InterpolatedBiquad& f, const float* inF, float* outF, InterpolatedBiquad& g,
                                  const float* inG, float* outG, std::int32_t count) noexcept;
    void filter(const float* input, float* output, std::int32_t count) noexcept;
    // The identity filter's output is its input (a float widened to double and back); only the
    // state has to follow.
    void passThrough(const float* input, float* output, std::int32_t count) noexcept;
};

struct InterpolatedBiquad::PairState {
    __m128d b0, b1, b2, a1, a2, x1, x2, y1, y2;

    void load(const InterpolatedBiquad& l, const InterpolatedBiquad& r) noexcept {
        loadCoefficients(l, r);
        x1 = _mm_set_pd(r.x1, l.x1);
        x2 = _mm_set_pd(r.x2, l.x2);
        y1 = _mm_set_pd(r.y1, l.y1);
        y2 = _mm_set_pd(r.y2, l.y2);
    }

    void loadCoefficients(const InterpolatedBiquad& l, const InterpolatedBiquad& r) noexcept {
        b0 = _mm_set_pd(r.b0, l.b0);
        b1 = _mm_set_pd(r.b1, l.b1);
        b2 = _mm_set_pd(r.b2, l.b2);
        a1 = _mm_set_pd(r.a1, l.a1);
        a2 = _mm_set_pd(r.a2, l.a2);
    }

    // One frame: (b0 x + b1 x1 - a1 y1) + (b2 x2 - a2 y2) in each lane, the output rounded to float.
    [[gnu::always_inline]] __m128 step(__m128d x) noexcept {
        const __m128d feed =
            _mm_sub_pd(_mm_add_pd(_mm_mul_pd(b0, x), _mm_mul_pd(b1, x1)), _mm_mul_pd(a1, y1));
        const __m128d y = _mm_add_pd(feed, _mm_sub_pd(_mm_mul_pd(b2, x2), _mm_mul_pd(a2, y2)));
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return _mm_cvtpd_ps(y);
    }

    void store(InterpolatedBiquad& l, InterpolatedBiquad& r) const noexcept {
        l.x1 = _mm_cvtsd_f64(x1);
        r.x1 = _mm_cvtsd_f64(_mm_unpackhi_pd(x1, x1));
        l.x2 = _mm_cvtsd_f64(x2);
        r.x2 = _mm_cvtsd_f64(_mm_unpackhi_pd(x2, x2));
        l.y1 = _mm_cvtsd_f64(y1);
        r.y1 = _mm_cvtsd_f64(_mm_unpackhi_pd(y1, y1));
        l.y2 = _mm_cvtsd_f64(y2);
        r.y2 = _mm_cvtsd_f64(_mm_unpackhi_pd(y2, y2));
    }
};

template <class Source>
void InterpolatedBiquad::processPairFrom(InterpolatedBiquad& f, const korvo::BiquadCoeffs& targetF,
                                         InterpolatedBiquad& g, const korvo::BiquadCoeffs& targetG,
                                         float* outF, float* outG, std::int32_t frames,
                                         Source&& source) noexcept {
    if (frames <= 0) return;
    // The source runs this many frames ahead of the recursion, so the recursion rarely waits
    // for the source's latency.
    constexpr std::int32_t kAhead = 8;
    std::int32_t produced = 0;
    const auto produceUntil = [&](std::int32_t until) __attribute__((always_inline)) {
        if (until > frames) until = frames;
        while (produced < until) {
            const std::int32_t count = frames - produced < 4 ? frames - produced : 4;
            source(produced, count, outF + produced, outG + produced);
            produced += count;
        }
    };
    const std::int32_t chunk = std::int32_t{1} << f.chunkShift;
    // The histories stay in registers from one active chunk to the next; only the glided
    // coefficients are loaded anew.
    PairState state{};
    bool inRegisters = false;
    for (std::int32_t start = 0; start < frames; start += chunk) {
        const std::int32_t n = frames - start < chunk ? frames - start : chunk;
        f.glide(targetF, f.glideAlpha[n - 1]);
        g.glide(targetG, g.glideAlpha[n - 1]);
        float* l = outF + start;
        float* r = outG + start;
        if (f.isIdentity() || g.isIdentity()) {
            if (inRegisters) state.store(f, g);
            inRegisters = false;
            produceUntil(start + n);
            processSeparately(f, l, l, g, r, r, n);
            continue;
        }
        if (inRegisters)
            state.loadCoefficients(f, g);
        else
            state.load(f, g);
        inRegisters = true;
        for (std::int32_t j = 0; j < n; j += 4) {
            const std::int32_t count = n - j < 4 ? n - j : 4;
            produceUntil(start + j + count + kAhead);
            for (std::int32_t i = j; i < j + count; ++i) {
                const __m128 y =
                    state.step(_mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(l + i), _mm_load_ss(r + i))));
                _mm_store_ss(l + i, y);
                _mm_store_ss(r + i, _mm_shuffle_ps(y, y, 1));
            }
        }
    }
    if (inRegisters) state.store(f, g);
}

}  // namespace tessary
