#include "effect/dsp/stereobiquads.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace velmora {

namespace {

using Filter = tessary::InterpolatedBiquad;

// K stereo stages, all active, frame by frame (18 % of the chain's time while the LFO moves the
// distance, against each stage on its own): left in the low lane, right in the high lane. Each
// lane performs the scalar recursion's operations in the same order, and a stage hands the next
// one its output rounded to float, as the buffers between separate passes would.
template <int K>
void runStages(Filter* const* left, Filter* const* right, const float* inL, const float* inR, float* outL,
               float* outR, std::int32_t count) noexcept {
    BiquadPair states[K];
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
bool isFirstOrder(const Filter& f) noexcept {
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

// runStages<K> for K first-order stages in both lanes (4 % of the chain's time while the LFO moves
// the distance), computed as b0 x - a1 y1. The dropped terms
// b1 x1, b2 x2 and a2 y2 are zeros (the states are finite), and adding a zero to a normal number
// leaves it as it is, so wherever that shorter result is a normal number it has the full
// expression's bits. Should any result of the run be zero or subnormal (where signs of zero and
// flush-to-zero modes can tell the two forms apart), the run is done again in the full form from
// the states before it, which the filters still hold. Runs of at most kChunkSize frames.
template <int K>
void runFirstOrderStages(Filter* const* left, Filter* const* right, const float* inL, const float* inR,
                         float* outL, float* outR, std::int32_t count) noexcept {
    constexpr std::int32_t kMax = Filter::kChunkSize;
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
        Filter& l = *left[k];
        Filter& r = *right[k];
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
[[gnu::always_inline]] inline void loadHistories(const StereoBiquads::StereoStage* stages, __m128d* y1,
                                                 __m128d* y2, __m128d* smallest) noexcept {
#pragma GCC unroll 3
    for (int k = 0; k < P; ++k) {
        y1[k] = _mm_set_pd(stages[k].right->y1, stages[k].left->y1);
        y2[k] = _mm_set_pd(stages[k].right->y2, stages[k].left->y2);
        smallest[k] = _mm_set1_pd(1.0);
    }
}

// After a run of `frames` (at least 2) through P active first-order stages and identity stages
// after them: the filters as the chunked form leaves them, their glides from `glided` (copies of
// the filters that glided ahead) and their histories from the run. Each stage's last two inputs
// are the run's last two input samples (stage 0) or the previous stage's last two outputs rounded
// to float; an identity stage's outputs are its inputs.
template <int P>
void storeHistories(const StereoBiquads::StereoStage* stages, int stageCount, const float* inL,
                    const float* inR, std::int32_t frames, const __m128d* y1, const __m128d* y2,
                    const Filter (*glided)[2]) noexcept {
    const auto throughFloat = [](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); };
    __m128d x1 = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(inL + frames - 1), _mm_load_ss(inR + frames - 1)));
    __m128d x2 = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(inL + frames - 2), _mm_load_ss(inR + frames - 2)));
    for (int s = 0; s < stageCount; ++s) {
        Filter* f[2] = {stages[s].left, stages[s].right};
        if (s > 0) {
            const int k = s - 1 < P ? s - 1 : P - 1;
            x1 = throughFloat(y1[k]);
            x2 = throughFloat(y2[k]);
        }
        const __m128d ys1 = s < P ? y1[s] : x1, ys2 = s < P ? y2[s] : x2;
        for (int lane = 0; lane < 2; ++lane) {
            Filter& g = *f[lane];
            g = glided[s][lane];
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

// (6 % of the chain's time at a settled far distance.)
// A whole block of a cascade whose first P stages are active first-order filters in both lanes in
// every chunk, and whose remaining stages are the identity in both lanes in every chunk (the distance
// model far away: lowpass and low-cut on, shelf off). The coefficients glide chunk by chunk as
// processCascade glides them, but the recursions run through the whole block in one loop, without
// handing their states through the filters between chunks. Returns false, having changed nothing
// but the outputs, when the block does not have that form or when an output comes out zero or
// subnormal (then the chunked form must run, from `inL`/`inR`, which the caller keeps intact).
constexpr std::int32_t kBlockChunks = 16;

template <int P>
bool runFirstOrderBlock(const StereoBiquads::StereoStage* stages, int stageCount, const float* inL,
                        const float* inR, float* outL, float* outR, std::int32_t frames) noexcept {
    constexpr std::int32_t kChunk = Filter::kChunkSize;
    const std::int32_t chunks = (frames + kChunk - 1) / kChunk;
    // Every chunk's coefficients, glided ahead in copies of the filters by their own glide; the
    // identity stages glide too (their bits must end as the chunked form leaves them).
    Filter glided[StereoBiquads::kMaxStages][2] = {
        {*stages[0].left, *stages[0].right},
        {*stages[stageCount > 1 ? 1 : 0].left, *stages[stageCount > 1 ? 1 : 0].right},
        {*stages[stageCount > 2 ? 2 : 0].left, *stages[stageCount > 2 ? 2 : 0].right}};
    // Whole chunks whose every glide is known to stall (a settled distance): the coefficients are
    // the same in every chunk, so they are taken once and the recursions run through the block.
    bool stalled = frames % kChunk == 0;
    for (int s = 0; s < stageCount && stalled; ++s)
        stalled = glided[s][0].glideStalls(*stages[s].leftTarget, glided[s][0].glideAlpha[kChunk - 1]) &&
                  glided[s][1].glideStalls(*stages[s].rightTarget, glided[s][1].glideAlpha[kChunk - 1]);
    __m128d b0[kBlockChunks][P], a1[kBlockChunks][P];
    for (std::int32_t c = 0; c < (stalled ? 1 : chunks); ++c) {
        const std::int32_t n = std::min(kChunk, frames - c * kChunk);
        for (int s = 0; s < stageCount; ++s) {
            const korvo::BiquadCoeffs* targets[2] = {stages[s].leftTarget, stages[s].rightTarget};
            for (int lane = 0; lane < 2; ++lane) {
                Filter& g = glided[s][lane];
                g.glide(*targets[lane], g.glideAlpha[n - 1]);
                const bool identity = g.isIdentity();
                if (s < P ? identity || !isFirstOrder(g) : !identity) return false;
            }
            if (s < P) {
                b0[c][s] = _mm_set_pd(glided[s][1].b0, glided[s][0].b0);
                a1[c][s] = _mm_set_pd(glided[s][1].a1, glided[s][0].a1);
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
    storeHistories<P>(stages, stageCount, inL, inR, frames, y1, y2, glided);
    return true;
}

}  // namespace

void StereoBiquads::processPair(Filter& f, const float* inF, float* outF, const korvo::BiquadCoeffs& targetF,
                                Filter& g, const float* inG, float* outG, const korvo::BiquadCoeffs& targetG,
                                std::int32_t frames) noexcept {
    const StereoStage stage{&f, &g, &targetF, &targetG};
    processCascade(&stage, 1, inF, inG, outF, outG, frames);
}

void StereoBiquads::processCascade(const StereoStage* stages, int stageCount, const float* inL,
                                   const float* inR, float* outL, float* outR, std::int32_t frames) noexcept {
    if (frames <= 0 || stageCount <= 0) return;
    if (stageCount > kMaxStages) stageCount = kMaxStages;
    const std::int32_t chunk = std::int32_t{1} << stages[0].left->chunkShift;
    // A block of first-order stages (then only identity stages) in one loop when it has that form;
    // the input is kept aside first when an output overwrites it, for the chunked form below.
    float keptL[kBlockChunks * Filter::kChunkSize], keptR[kBlockChunks * Filter::kChunkSize];
    if (chunk == Filter::kChunkSize && frames >= 4 * chunk && frames <= kBlockChunks * Filter::kChunkSize) {
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
                active == 1   ? runFirstOrderBlock<1>(stages, stageCount, inL, inR, outL, outR, frames)
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
                stage.left->runChunk(fromL, toL, n);
                stage.right->runChunk(fromR, toR, n);
                ++s;
            } else {
                Filter* left[kMaxStages];
                Filter* right[kMaxStages];
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

}  // namespace velmora
