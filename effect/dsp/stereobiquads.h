#pragma once
// StereoBiquads: the effect's forms of its filter pairs and cascades, left and right together.
//
// The panner's head-shadow shelves and the distance model's three stages are each a pair of
// tessary::InterpolatedBiquad, one per channel. These forms run a pair, or a cascade of pairs,
// with the two channels in the two lanes of one register and the stages' recursions overlapping,
// and give the bits of each filter's own processBlock (its plain form), one after the other: the
// same glide steps before the same chunks, the same operations on every sample. A filter that is
// the identity passes its samples through, as processBlock does. The filters belong to their
// owner (the panner or the distance model); these functions hold no state. [audio-thread]

#include <emmintrin.h>

#include <cstdint>

#include "korvo/dsp/iir.h"
#include "tessary/dsp/interpbiquad.h"

namespace velmora {

// The coefficients and histories of two filters (typically left and right) in the two lanes of
// registers, the first in the low lane, stepped one frame at a time. [audio-thread]
struct BiquadPair {
    __m128d b0, b1, b2, a1, a2, x1, x2, y1, y2;

    void load(const tessary::InterpolatedBiquad& l, const tessary::InterpolatedBiquad& r) noexcept {
        loadCoefficients(l, r);
        x1 = _mm_set_pd(r.x1, l.x1);
        x2 = _mm_set_pd(r.x2, l.x2);
        y1 = _mm_set_pd(r.y1, l.y1);
        y2 = _mm_set_pd(r.y2, l.y2);
    }

    void loadCoefficients(const tessary::InterpolatedBiquad& l,
                          const tessary::InterpolatedBiquad& r) noexcept {
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

    void store(tessary::InterpolatedBiquad& l, tessary::InterpolatedBiquad& r) const noexcept {
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

struct StereoBiquads {
    using Filter = tessary::InterpolatedBiquad;

    // Runs two independent filters over their own buffers (typically left and right), exactly as two
    // processBlock calls would. Both recursions run in one loop, so the processor overlaps them.
    // [audio-thread]
    static void processPair(Filter& first, const float* firstInput, float* firstOutput,
                            const korvo::BiquadCoeffs& firstTarget, Filter& second, const float* secondInput,
                            float* secondOutput, const korvo::BiquadCoeffs& secondTarget,
                            std::int32_t frames) noexcept;

    // One stereo stage of a cascade: two filters (left, right) and their targets.
    struct StereoStage {
        Filter* left;
        Filter* right;
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
    static void processPairFrom(Filter& first, const korvo::BiquadCoeffs& firstTarget, Filter& second,
                                const korvo::BiquadCoeffs& secondTarget, float* outFirst, float* outSecond,
                                std::int32_t frames, Source&& source) noexcept;
};

template <class Source>
void StereoBiquads::processPairFrom(Filter& f, const korvo::BiquadCoeffs& targetF, Filter& g,
                                    const korvo::BiquadCoeffs& targetG, float* outF, float* outG,
                                    std::int32_t frames, Source&& source) noexcept {
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
    BiquadPair state{};
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
            f.runChunk(l, l, n);
            g.runChunk(r, r, n);
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

}  // namespace velmora
