#include "tessary/dsp/interpbiquad.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace tessary {

void InterpolatedBiquad::initialise(float sampleRate) noexcept {
    chunkShift = 5;
    stalledFraction = -1.0f;
    x1 = x2 = y1 = y2 = 0.0;
    const korvo::BiquadCoeffs identity = korvo::BiquadCoeffs::identity();
    b0 = identity.b0;
    b1 = identity.b1;
    b2 = identity.b2;
    a1 = identity.a1;
    a2 = identity.a2;
    // A run of k samples moves as far as a 40 ms one-pole glide updated once every k samples.
    const double timeConstant = static_cast<double>(0.04f);
    for (int k = 1; k <= kChunkSize; ++k) {
        const float updateRate = sampleRate / static_cast<float>(k);
        glideAlpha[k - 1] =
            static_cast<float>(1.0 - std::exp(-1.0 / (static_cast<double>(updateRate) * timeConstant)));
    }
}

namespace {
bool sameBits(double a, double b) noexcept {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
bool sameBits(const korvo::BiquadCoeffs& a, const korvo::BiquadCoeffs& b) noexcept {
    return sameBits(a.b0, b.b0) && sameBits(a.b1, b.b1) && sameBits(a.b2, b.b2) && sameBits(a.a1, b.a1) &&
           sameBits(a.a2, b.a2);
}

// One glide step of five coefficients and the glide's memory. A glide is a function of the
// coefficients, the target and the fraction only: one that left the coefficients as they were is
// skipped when it comes again.
[[gnu::always_inline]] inline void glideStep(double& b0, double& b1, double& b2, double& a1, double& a2,
                                             korvo::BiquadCoeffs& stalledTarget, float& stalledFraction,
                                             const korvo::BiquadCoeffs& target, float fraction) noexcept {
    if (fraction == stalledFraction && sameBits(target, stalledTarget)) return;
    const double f = static_cast<double>(fraction);
    const korvo::BiquadCoeffs before{b0, b1, b2, a1, a2};
    b0 = b0 + (target.b0 - b0) * f;
    b1 = b1 + (target.b1 - b1) * f;
    b2 = b2 + (target.b2 - b2) * f;
    a1 = a1 + (target.a1 - a1) * f;
    a2 = a2 + (target.a2 - a2) * f;
    if (sameBits(before, korvo::BiquadCoeffs{b0, b1, b2, a1, a2})) {
        stalledTarget = target;
        stalledFraction = fraction;
    } else {
        stalledFraction = -1.0f;
    }
}

// A filter's coefficients and glide memory, for gliding ahead without touching the filter.
struct GlideState {
    korvo::BiquadCoeffs c;
    korvo::BiquadCoeffs stalledTarget;
    float stalledFraction;

    explicit GlideState(const InterpolatedBiquad& f) noexcept
        : c(f.coefficients()), stalledTarget(f.stalledTarget), stalledFraction(f.stalledFraction) {}
    // True when a glide to target by fraction is known to leave the coefficients as they are.
    bool stallsAt(const korvo::BiquadCoeffs& target, float fraction) const noexcept {
        return fraction == stalledFraction && sameBits(target, stalledTarget);
    }
    void step(const korvo::BiquadCoeffs& target, float fraction) noexcept {
        glideStep(c.b0, c.b1, c.b2, c.a1, c.a2, stalledTarget, stalledFraction, target, fraction);
    }
    void storeInto(InterpolatedBiquad& f) const noexcept {
        f.snapTo(c);
        f.stalledTarget = stalledTarget;
        f.stalledFraction = stalledFraction;
    }
};

}  // namespace

void InterpolatedBiquad::settle(const korvo::BiquadCoeffs& target) noexcept {
    // A glide moves each coefficient monotonically toward its target and stops where the step
    // rounds away; the bound only guards against a target that is not a number.
    constexpr int kMaxChunks = 1 << 20;
    for (int i = 0; i < kMaxChunks; ++i) {
        const korvo::BiquadCoeffs before = coefficients();
        glide(target, glideAlpha[kChunkSize - 1]);
        if (sameBits(before, coefficients())) return;
    }
}

void InterpolatedBiquad::glide(const korvo::BiquadCoeffs& target, float fraction) noexcept {
    glideStep(b0, b1, b2, a1, a2, stalledTarget, stalledFraction, target, fraction);
}

void InterpolatedBiquad::filter(const float* input, float* output, std::int32_t count) noexcept {
    for (std::int32_t j = 0; j < count; ++j) {
        const double x = static_cast<double>(input[j]);
        const double y = (b0 * x + b1 * x1 - a1 * y1) + (b2 * x2 - a2 * y2);
        output[j] = static_cast<float>(y);
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
}

void InterpolatedBiquad::passThrough(const float* input, float* output, std::int32_t count) noexcept {
    if (count <= 0) return;
    if (output != input) std::memmove(output, input, static_cast<std::size_t>(count) * sizeof(float));
    // With identity coefficients each output equals its input, so the state follows the inputs.
    const double last = static_cast<double>(input[count - 1]);
    if (count >= 2) {
        x2 = y2 = static_cast<double>(input[count - 2]);
    } else {
        x2 = x1;
        y2 = y1;
    }
    x1 = y1 = last;
}

void InterpolatedBiquad::processSeparately(InterpolatedBiquad& f, const float* inF, float* outF,
                                           InterpolatedBiquad& g, const float* inG, float* outG,
                                           std::int32_t count) noexcept {
    if (f.isIdentity())
        f.passThrough(inF, outF, count);
    else
        f.filter(inF, outF, count);
    if (g.isIdentity())
        g.passThrough(inG, outG, count);
    else
        g.filter(inG, outG, count);
}

namespace {

// K stereo stages, all active, frame by frame: left in the low lane, right in the high lane. Each
// lane performs the scalar recursion's operations in the same order, and a stage hands the next
// one its output rounded to float, as the buffers between separate passes would.
template <int K>
void runStages(InterpolatedBiquad* const* left, InterpolatedBiquad* const* right, const float* inL,
               const float* inR, float* outL, float* outR, std::int32_t count) noexcept {
    InterpolatedBiquad::PairState states[K];
#pragma GCC unroll 3
    for (int k = 0; k < K; ++k) states[k].load(*left[k], *right[k]);
    for (std::int32_t j = 0; j < count; ++j) {
        __m128d x = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(inL + j), _mm_load_ss(inR + j)));
        __m128 rounded = _mm_setzero_ps();
#pragma GCC unroll 3
        for (int k = 0; k < K; ++k) {
            rounded = states[k].step(x);
            if (k + 1 < K) x = _mm_cvtps_pd(rounded);
        }
        _mm_store_ss(outL + j, rounded);
        _mm_store_ss(outR + j, _mm_shuffle_ps(rounded, rounded, 1));
    }
#pragma GCC unroll 3
    for (int k = 0; k < K; ++k) states[k].store(*left[k], *right[k]);
}

// A first-order stage: b1, b2 and a2 are zero (the distance model's lowpass and low-cut).
bool isFirstOrder(const korvo::BiquadCoeffs& c) noexcept {
    return c.b1 == 0.0 && c.b2 == 0.0 && c.a2 == 0.0;
}
bool isFirstOrder(const InterpolatedBiquad& f) noexcept {
    return isFirstOrder(f.coefficients());
}

// One frame through K first-order stages in both lanes: y = b0 x - a1 y1 per stage, each stage's
// smallest output magnitude kept (one running minimum per stage: a shared one would chain them),
// each later stage fed the earlier one's output rounded to float.
template <int K>
[[gnu::always_inline]] inline void firstOrderFrame(const __m128d* b0, const __m128d* a1, __m128d* y1,
                                                   __m128d* y2, __m128d* smallest, const float* inL,
                                                   const float* inR, float* outL, float* outR,
                                                   std::int32_t j) noexcept {
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
    __m128d x = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(inL + j), _mm_load_ss(inR + j)));
    __m128 rounded = _mm_setzero_ps();
#pragma GCC unroll 3
    for (int k = 0; k < K; ++k) {
        const __m128d y = _mm_sub_pd(_mm_mul_pd(b0[k], x), _mm_mul_pd(a1[k], y1[k]));
        smallest[k] = _mm_min_pd(smallest[k], _mm_and_pd(y, magnitude));
        y2[k] = y1[k];
        y1[k] = y;
        rounded = _mm_cvtpd_ps(y);
        if (k + 1 < K) x = _mm_cvtps_pd(rounded);
    }
    _mm_store_ss(outL + j, rounded);
    _mm_store_ss(outR + j, _mm_shuffle_ps(rounded, rounded, 1));
}

// True when a stage's smallest output magnitude is zero or subnormal.
template <int K>
bool anyTiny(__m128d* smallest) noexcept {
#pragma GCC unroll 3
    for (int k = 1; k < K; ++k) smallest[0] = _mm_min_pd(smallest[0], smallest[k]);
    return _mm_movemask_pd(_mm_cmplt_pd(smallest[0], _mm_set1_pd(2.2250738585072014e-308))) != 0;
}

// runStages<K> for K first-order stages in both lanes, computed as b0 x - a1 y1. The dropped terms
// b1 x1, b2 x2 and a2 y2 are zeros (the states are finite), and adding a zero to a normal number
// leaves it as it is, so wherever that shorter result is a normal number it has the full
// expression's bits. Should any result of the run be zero or subnormal (where signs of zero and
// flush-to-zero modes can tell the two forms apart), the run is done again in the full form from
// the states before it, which the filters still hold. Runs of at most kChunkSize frames.
template <int K>
void runFirstOrderStages(InterpolatedBiquad* const* left, InterpolatedBiquad* const* right, const float* inL,
                         const float* inR, float* outL, float* outR, std::int32_t count) noexcept {
    constexpr std::int32_t kMax = InterpolatedBiquad::kChunkSize;
    if (count <= 0) return;
    if (count > kMax) {
        runStages<K>(left, right, inL, inR, outL, outR, count);
        return;
    }
    // The input survives the run for the full form (the outputs may overwrite it).
    float keptL[kMax], keptR[kMax];
    if (inL == outL || inL == outR || inR == outL || inR == outR) {
        std::int32_t j = 0;
        for (; j + 4 <= count; j += 4) {
            _mm_storeu_ps(keptL + j, _mm_loadu_ps(inL + j));
            _mm_storeu_ps(keptR + j, _mm_loadu_ps(inR + j));
        }
        for (; j < count; ++j) {
            keptL[j] = inL[j];
            keptR[j] = inR[j];
        }
        inL = keptL;
        inR = keptR;
    }
    __m128d b0[K], a1[K], y1[K], y2[K];
#pragma GCC unroll 3
    for (int k = 0; k < K; ++k) {
        b0[k] = _mm_set_pd(right[k]->b0, left[k]->b0);
        a1[k] = _mm_set_pd(right[k]->a1, left[k]->a1);
        y1[k] = _mm_set_pd(right[k]->y1, left[k]->y1);
        y2[k] = _mm_set_pd(right[k]->y2, left[k]->y2);
    }
    __m128d smallest[K];
#pragma GCC unroll 3
    for (int k = 0; k < K; ++k) smallest[k] = _mm_set1_pd(1.0);
    for (std::int32_t j = 0; j < count; ++j)
        firstOrderFrame<K>(b0, a1, y1, y2, smallest, inL, inR, outL, outR, j);
    if (anyTiny<K>(smallest)) [[unlikely]] {
        runStages<K>(left, right, inL, inR, outL, outR, count);
        return;
    }
    // The histories the full form would leave: each stage's last two inputs are the run's last two
    // input samples (stage 0) or the previous stage's last two outputs rounded to float.
    const auto throughFloat = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
    __m128d x1 = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(inL + count - 1), _mm_load_ss(inR + count - 1)));
    __m128d x2 =
        count >= 2 ? _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(inL + count - 2), _mm_load_ss(inR + count - 2)))
                   : _mm_set_pd(right[0]->x1, left[0]->x1);
#pragma GCC unroll 3
    for (int k = 0; k < K; ++k) {
        InterpolatedBiquad& l = *left[k];
        InterpolatedBiquad& r = *right[k];
        if (k > 0) {
            x1 = throughFloat(y1[k - 1]);
            x2 = count >= 2 ? throughFloat(y2[k - 1]) : _mm_set_pd(r.x1, l.x1);
        }
        l.x1 = _mm_cvtsd_f64(x1);
        r.x1 = _mm_cvtsd_f64(_mm_unpackhi_pd(x1, x1));
        l.x2 = _mm_cvtsd_f64(x2);
        r.x2 = _mm_cvtsd_f64(_mm_unpackhi_pd(x2, x2));
        l.y1 = _mm_cvtsd_f64(y1[k]);
        r.y1 = _mm_cvtsd_f64(_mm_unpackhi_pd(y1[k], y1[k]));
        l.y2 = _mm_cvtsd_f64(y2[k]);
        r.y2 = _mm_cvtsd_f64(_mm_unpackhi_pd(y2[k], y2[k]));
    }
}

// The output histories of P stages in both lanes, and each stage's running minimum of its output
// magnitudes started.
template <int P>
[[gnu::always_inline]] inline void loadHistories(const InterpolatedBiquad::StereoStage* stages, __m128d* y1,
                                                 __m128d* y2, __m128d* smallest) noexcept {
#pragma GCC unroll 3
    for (int k = 0; k < P; ++k) {
        y1[k] = _mm_set_pd(stages[k].right->y1, stages[k].left->y1);
        y2[k] = _mm_set_pd(stages[k].right->y2, stages[k].left->y2);
        smallest[k] = _mm_set1_pd(1.0);
    }
}

// After a run of `frames` (at least 2) through P active first-order stages and identity stages
// after them: the histories the chunked form leaves. Each stage's last two inputs are the run's
// last two input samples (stage 0) or the previous stage's last two outputs rounded to float; an
// identity stage's outputs are its inputs. storeGlide(stage, lane, filter) puts the stage's
// glided coefficients and glide memory into the filter.
template <int P, class StoreGlide>
void storeHistories(const InterpolatedBiquad::StereoStage* stages, int stageCount, const float* inL,
                    const float* inR, std::int32_t frames, const __m128d* y1, const __m128d* y2,
                    StoreGlide&& storeGlide) noexcept {
    const auto throughFloat = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
    __m128d x1 = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(inL + frames - 1), _mm_load_ss(inR + frames - 1)));
    __m128d x2 = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(inL + frames - 2), _mm_load_ss(inR + frames - 2)));
    for (int s = 0; s < stageCount; ++s) {
        InterpolatedBiquad* f[2] = {stages[s].left, stages[s].right};
        if (s > 0) {
            const int k = s - 1 < P ? s - 1 : P - 1;
            x1 = throughFloat(y1[k]);
            x2 = throughFloat(y2[k]);
        }
        const __m128d ys1 = s < P ? y1[s] : x1, ys2 = s < P ? y2[s] : x2;
        for (int lane = 0; lane < 2; ++lane) {
            InterpolatedBiquad& g = *f[lane];
            storeGlide(s, lane, g);
            const auto pick = [lane](__m128d v) {
                return _mm_cvtsd_f64(lane == 0 ? v : _mm_unpackhi_pd(v, v));
            };
            g.x1 = pick(x1);
            g.x2 = pick(x2);
            g.y1 = pick(ys1);
            g.y2 = pick(ys2);
        }
    }
}

// A whole block of a cascade whose first P stages are active first-order filters in both lanes in
// every chunk, and whose remaining stages are the identity in both lanes in every chunk (the distance
// model far away: lowpass and low-cut on, shelf off). The coefficients glide chunk by chunk as
// processCascade glides them, but the recursions run through the whole block in one loop, without
// handing their states through the filters between chunks. Returns false, having changed nothing
// but the outputs, when the block does not have that form or when an output comes out zero or
// subnormal (then the chunked form must run, from `inL`/`inR`, which the caller keeps intact).
constexpr std::int32_t kBlockChunks = 16;

template <int P>
bool runFirstOrderBlock(const InterpolatedBiquad::StereoStage* stages, int stageCount, const float* inL,
                        const float* inR, float* outL, float* outR, std::int32_t frames) noexcept {
    constexpr std::int32_t kChunk = InterpolatedBiquad::kChunkSize;
    const std::int32_t chunks = (frames + kChunk - 1) / kChunk;
    // Every chunk's coefficients, glided ahead in copies of the filters; the identity stages glide
    // too (their bits must end as the chunked form leaves them).
    GlideState glided[InterpolatedBiquad::kMaxStages][2] = {
        {GlideState(*stages[0].left), GlideState(*stages[0].right)},
        {GlideState(*stages[stageCount > 1 ? 1 : 0].left), GlideState(*stages[stageCount > 1 ? 1 : 0].right)},
        {GlideState(*stages[stageCount > 2 ? 2 : 0].left),
         GlideState(*stages[stageCount > 2 ? 2 : 0].right)}};
    // Whole chunks whose every glide is known to stall (a settled distance): the coefficients are
    // the same in every chunk, so they are taken once and the recursions run through the block.
    bool stalled = frames % kChunk == 0;
    for (int s = 0; s < stageCount && stalled; ++s)
        stalled = glided[s][0].stallsAt(*stages[s].leftTarget, stages[s].left->glideAlpha[kChunk - 1]) &&
                  glided[s][1].stallsAt(*stages[s].rightTarget, stages[s].right->glideAlpha[kChunk - 1]);
    __m128d b0[kBlockChunks][P], a1[kBlockChunks][P];
    for (std::int32_t c = 0; c < (stalled ? 1 : chunks); ++c) {
        const std::int32_t n = std::min(kChunk, frames - c * kChunk);
        for (int s = 0; s < stageCount; ++s) {
            const korvo::BiquadCoeffs* targets[2] = {stages[s].leftTarget, stages[s].rightTarget};
            const InterpolatedBiquad* filters[2] = {stages[s].left, stages[s].right};
            for (int lane = 0; lane < 2; ++lane) {
                GlideState& g = glided[s][lane];
                g.step(*targets[lane], filters[lane]->glideAlpha[n - 1]);
                const bool identity = g.c == korvo::BiquadCoeffs::identity();
                if (s < P ? identity || !isFirstOrder(g.c) : !identity) return false;
            }
            if (s < P) {
                b0[c][s] = _mm_set_pd(glided[s][1].c.b0, glided[s][0].c.b0);
                a1[c][s] = _mm_set_pd(glided[s][1].c.a1, glided[s][0].c.a1);
            }
        }
    }
    __m128d y1[P], y2[P], smallest[P];
    loadHistories<P>(stages, y1, y2, smallest);
    if (stalled) {
        for (std::int32_t j = 0; j < frames; ++j)
            firstOrderFrame<P>(b0[0], a1[0], y1, y2, smallest, inL, inR, outL, outR, j);
    } else {
        for (std::int32_t c = 0; c < chunks; ++c) {
            const std::int32_t end = std::min(frames, (c + 1) * kChunk);
            for (std::int32_t j = c * kChunk; j < end; ++j)
                firstOrderFrame<P>(b0[c], a1[c], y1, y2, smallest, inL, inR, outL, outR, j);
        }
    }
    if (anyTiny<P>(smallest)) [[unlikely]]
        return false;
    // The coefficients and histories the chunked form leaves.
    storeHistories<P>(stages, stageCount, inL, inR, frames, y1, y2,
                      [&](int s, int lane, InterpolatedBiquad& g) { glided[s][lane].storeInto(g); });
    return true;
}

// A short block (two to four whole chunks, as the LFO's 64-frame cells give) of the same form as
// runFirstOrderBlock's: the first P stages active first-order filters in both lanes, the rest the
// identity in both lanes with glides known to stall. A first-order filter and its target have +0
// for b1, b2 and a2, which a glide leaves +0 (0 + (0 - 0) f), so only b0 and a1 are glided, in
// locals, with the glide's memory kept as glideStep keeps it; the identity stages are not touched
// but for their histories. Returns false, having changed nothing but the outputs, when the block
// does not have that form or when an output comes out zero or subnormal.
constexpr std::int32_t kCellChunks = 4;

bool positiveZero(double v) noexcept {
    return std::bit_cast<std::uint64_t>(v) == 0;
}

// One filter's glide over the chunks of a short block: b0 and a1 only.
struct FirstOrderGlide {
    double b0, a1;
    float stalledFraction;
    bool stalledOnTarget;  // the glide's memory holds this block's target
    bool stalledHere;      // a glide of this block stalled (its target goes into the memory)

    void start(const InterpolatedBiquad& f, const korvo::BiquadCoeffs& target) noexcept {
        b0 = f.b0;
        a1 = f.a1;
        stalledFraction = f.stalledFraction;
        stalledOnTarget = sameBits(target, f.stalledTarget);
        stalledHere = false;
    }

    // Both have +0 for b1, b2 and a2.
    static bool fits(const InterpolatedBiquad& f, const korvo::BiquadCoeffs& t) noexcept {
        return positiveZero(f.b1) && positiveZero(f.b2) && positiveZero(f.a2) && positiveZero(t.b1) &&
               positiveZero(t.b2) && positiveZero(t.a2);
    }

    // glideStep for b0 and a1; false when the filter comes out as the identity.
    [[gnu::always_inline]] bool step(const korvo::BiquadCoeffs& target, float fraction) noexcept {
        if (!(fraction == stalledFraction && stalledOnTarget)) {
            const double f = static_cast<double>(fraction);
            const double nextB0 = b0 + (target.b0 - b0) * f;
            const double nextA1 = a1 + (target.a1 - a1) * f;
            if (sameBits(nextB0, b0) && sameBits(nextA1, a1)) {
                stalledFraction = fraction;
                stalledOnTarget = stalledHere = true;
            } else {
                stalledFraction = -1.0f;
            }
            b0 = nextB0;
            a1 = nextA1;
        }
        return !(b0 == 1.0 && a1 == 0.0);
    }

    void storeInto(InterpolatedBiquad& f, const korvo::BiquadCoeffs& target) const noexcept {
        f.b0 = b0;
        f.a1 = a1;
        f.stalledFraction = stalledFraction;
        if (stalledHere) f.stalledTarget = target;
    }
};

template <int P>
bool runFirstOrderCell(const InterpolatedBiquad::StereoStage* stages, int stageCount, const float* inL,
                       const float* inR, float* outL, float* outR, std::int32_t frames) noexcept {
    constexpr std::int32_t kChunk = InterpolatedBiquad::kChunkSize;
    const std::int32_t chunks = frames / kChunk;
    const float fraction = stages[0].left->glideAlpha[kChunk - 1];
    // The identity stages' glides stall at every chunk: they are left as they are.
    for (int s = P; s < stageCount; ++s) {
        const InterpolatedBiquad& l = *stages[s].left;
        const InterpolatedBiquad& r = *stages[s].right;
        if (!(l.stalledFraction == fraction && r.stalledFraction == fraction &&
              l.glideAlpha[kChunk - 1] == fraction && r.glideAlpha[kChunk - 1] == fraction &&
              sameBits(*stages[s].leftTarget, l.stalledTarget) &&
              sameBits(*stages[s].rightTarget, r.stalledTarget)))
            return false;
    }
    FirstOrderGlide glides[P][2];
    __m128d b0[kCellChunks][P], a1[kCellChunks][P];
    for (int k = 0; k < P; ++k) {
        const InterpolatedBiquad* f[2] = {stages[k].left, stages[k].right};
        const korvo::BiquadCoeffs* t[2] = {stages[k].leftTarget, stages[k].rightTarget};
        for (int lane = 0; lane < 2; ++lane) {
            if (!FirstOrderGlide::fits(*f[lane], *t[lane]) || f[lane]->glideAlpha[kChunk - 1] != fraction)
                return false;
            glides[k][lane].start(*f[lane], *t[lane]);
        }
        for (std::int32_t c = 0; c < chunks; ++c) {
            if (!glides[k][0].step(*t[0], fraction) || !glides[k][1].step(*t[1], fraction)) return false;
            b0[c][k] = _mm_set_pd(glides[k][1].b0, glides[k][0].b0);
            a1[c][k] = _mm_set_pd(glides[k][1].a1, glides[k][0].a1);
        }
    }
    __m128d y1[P], y2[P], smallest[P];
    loadHistories<P>(stages, y1, y2, smallest);
    for (std::int32_t c = 0; c < chunks; ++c)
        for (std::int32_t j = c * kChunk; j < (c + 1) * kChunk; ++j)
            firstOrderFrame<P>(b0[c], a1[c], y1, y2, smallest, inL, inR, outL, outR, j);
    if (anyTiny<P>(smallest)) [[unlikely]]
        return false;
    // The coefficients, glide memories and histories the chunked form leaves; the identity stages
    // keep their coefficients and memories.
    storeHistories<P>(
        stages, stageCount, inL, inR, frames, y1, y2, [&](int s, int lane, InterpolatedBiquad& g) {
            if (s < P)
                glides[s][lane].storeInto(g, lane == 0 ? *stages[s].leftTarget : *stages[s].rightTarget);
        });
    return true;
}

}  // namespace

void InterpolatedBiquad::processPair(InterpolatedBiquad& f, const float* inF, float* outF,
                                     const korvo::BiquadCoeffs& targetF, InterpolatedBiquad& g,
                                     const float* inG, float* outG, const korvo::BiquadCoeffs& targetG,
                                     std::int32_t frames) noexcept {
    const StereoStage stage{&f, &g, &targetF, &targetG};
    processCascade(&stage, 1, inF, inG, outF, outG, frames);
}

void InterpolatedBiquad::processCascade(const StereoStage* stages, int stageCount, const float* inL,
                                        const float* inR, float* outL, float* outR,
                                        std::int32_t frames) noexcept {
    if (frames <= 0 || stageCount <= 0) return;
    if (stageCount > kMaxStages) stageCount = kMaxStages;
    const std::int32_t chunk = std::int32_t{1} << stages[0].left->chunkShift;
    // A block of first-order stages (then only identity stages) in one loop when it has that form;
    // the input is kept aside first when an output overwrites it, for the chunked form below.
    float keptL[kBlockChunks * kChunkSize], keptR[kBlockChunks * kChunkSize];
    const bool cell =
        frames % kChunkSize == 0 && frames >= 2 * kChunkSize && frames <= kCellChunks * kChunkSize;
    if (chunk == kChunkSize && (cell || frames >= 4 * chunk) && frames <= kBlockChunks * kChunkSize) {
        int active = 0;
        while (active < stageCount && !stages[active].left->isIdentity() &&
               !stages[active].right->isIdentity() && isFirstOrder(*stages[active].left) &&
               isFirstOrder(*stages[active].right))
            ++active;
        bool restIdentity = true;
        for (int s = active; s < stageCount; ++s)
            restIdentity = restIdentity && stages[s].left->isIdentity() && stages[s].right->isIdentity();
        if (active > 0 && restIdentity) {
            if (inL == outL || inL == outR || inR == outL || inR == outR) {
                std::memcpy(keptL, inL, static_cast<std::size_t>(frames) * sizeof(float));
                std::memcpy(keptR, inR, static_cast<std::size_t>(frames) * sizeof(float));
                inL = keptL;
                inR = keptR;
            }
            const bool done =
                cell
                    ? (active == 1   ? runFirstOrderCell<1>(stages, stageCount, inL, inR, outL, outR, frames)
                       : active == 2 ? runFirstOrderCell<2>(stages, stageCount, inL, inR, outL, outR, frames)
                                     : runFirstOrderCell<3>(stages, stageCount, inL, inR, outL, outR, frames))
                : active == 1 ? runFirstOrderBlock<1>(stages, stageCount, inL, inR, outL, outR, frames)
                : active == 2 ? runFirstOrderBlock<2>(stages, stageCount, inL, inR, outL, outR, frames)
                              : runFirstOrderBlock<3>(stages, stageCount, inL, inR, outL, outR, frames);
            if (done) return;
        }
    }
    for (std::int32_t start = 0; start < frames; start += chunk) {
        const std::int32_t n = frames - start < chunk ? frames - start : chunk;
        for (int s = 0; s < stageCount; ++s) {
            const StereoStage& stage = stages[s];
            stage.left->glide(*stage.leftTarget, stage.left->glideAlpha[n - 1]);
            stage.right->glide(*stage.rightTarget, stage.right->glideAlpha[n - 1]);
        }
        // Runs of stages with both filters active go through the register loop together; a stage
        // with an identity filter runs on its own, as processPair runs it.
        const float* fromL = inL + start;
        const float* fromR = inR + start;
        float* toL = outL + start;
        float* toR = outR + start;
        for (int s = 0; s < stageCount;) {
            const StereoStage& stage = stages[s];
            if (stage.left->isIdentity() || stage.right->isIdentity()) {
                processSeparately(*stage.left, fromL, toL, *stage.right, fromR, toR, n);
                ++s;
            } else {
                InterpolatedBiquad* left[kMaxStages];
                InterpolatedBiquad* right[kMaxStages];
                int run = 0;
                while (s + run < stageCount && !stages[s + run].left->isIdentity() &&
                       !stages[s + run].right->isIdentity()) {
                    left[run] = stages[s + run].left;
                    right[run] = stages[s + run].right;
                    ++run;
                }
                bool firstOrder = true;
                for (int k = 0; k < run; ++k)
                    firstOrder = firstOrder && isFirstOrder(*left[k]) && isFirstOrder(*right[k]);
                if (run == 1)
                    (firstOrder ? runFirstOrderStages<1> : runStages<1>)(left, right, fromL, fromR, toL, toR,
                                                                         n);
                else if (run == 2)
                    (firstOrder ? runFirstOrderStages<2> : runStages<2>)(left, right, fromL, fromR, toL, toR,
                                                                         n);
                else
                    (firstOrder ? runFirstOrderStages<3> : runStages<3>)(left, right, fromL, fromR, toL, toR,
                                                                         n);
                s += run;
            }
            fromL = toL;
            fromR = toR;
        }
    }
}

void InterpolatedBiquad::processBlock(const float* input, float* output, std::int32_t frames,
                                      const korvo::BiquadCoeffs& target) noexcept {
    if (frames <= 0) return;
    const std::int32_t chunk = std::int32_t{1} << chunkShift;
    const std::int32_t fullChunks = frames >> chunkShift;
    const std::int32_t rest = frames - chunk * fullChunks;
    for (std::int32_t c = 0; c < fullChunks; ++c) {
        glide(target, glideAlpha[chunk - 1]);
        if (isIdentity())
            passThrough(input + c * chunk, output + c * chunk, chunk);
        else
            filter(input + c * chunk, output + c * chunk, chunk);
    }
    if (rest > 0) {
        glide(target, glideAlpha[rest - 1]);
        if (isIdentity())
            passThrough(input + fullChunks * chunk, output + fullChunks * chunk, rest);
        else
            filter(input + fullChunks * chunk, output + fullChunks * chunk, rest);
    }
}

}  // namespace tessary
