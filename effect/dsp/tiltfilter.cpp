#include "effect/dsp/tiltfilter.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>

#include "korvo/core/nogc.h"

namespace velmora {

namespace {
constexpr std::size_t kBufferAlignment = 16;
constexpr double kSplitRadPerSecond = 4084.070449666731;  // 2 pi x 650 Hz
constexpr double kPivotHz = 650.0;
constexpr double kTwoPi = 6.283185307179586;
constexpr float kDbToNeper = 0.115129255f;  // ln(10) / 20
}  // namespace

TiltFilter::~TiltFilter() {
    korvo::alignedRelease(bufferA, kBufferAlignment);
    korvo::alignedRelease(bufferB, kBufferAlignment);
}

void TiltFilter::reset(float sampleRate, std::int32_t maxFrames) noexcept {
    rate = sampleRate;
    // A one-pole split with 3 x rate in place of the bilinear 2 x rate; splitGain + splitPole = 1.
    const double t = static_cast<double>(3.0f * sampleRate);
    splitGain = (2.0 * kSplitRadPerSecond) * 1.0 / (kSplitRadPerSecond + t);
    splitPole = (t - kSplitRadPerSecond) * 1.0 / (kSplitRadPerSecond + t);

    // The split's digital -3 dB frequency: |g / (1 - p e^-jw)|^2 = 1/2.
    pivot = 1.0;
    const double cosCorner = (1.0 + splitPole * splitPole - 2.0 * splitGain * splitGain) / (2.0 * splitPole);
    if (splitPole > 0.0 && cosCorner > -1.0 && cosCorner < 1.0) {
        const double cornerHz = std::acos(cosCorner) * static_cast<double>(sampleRate) / kTwoPi;
        if (cornerHz > 0.0) pivot = kPivotHz / cornerHz;
    }

    maxFrames = std::max<std::int32_t>(maxFrames, 0);
    if (maxFrames != bufferSize) {
        korvo::alignedRelease(bufferA, kBufferAlignment);
        korvo::alignedRelease(bufferB, kBufferAlignment);
        bufferA = bufferB = nullptr;
        bufferSize = 0;
        if (maxFrames > 0) {
            const std::size_t bytes = static_cast<std::size_t>(maxFrames) * sizeof(double);
            bufferA = static_cast<double*>(korvo::alignedAlloc(bytes, kBufferAlignment));
            bufferB = static_cast<double*>(korvo::alignedAlloc(bytes, kBufferAlignment));
            bufferSize = maxFrames;
        }
    }
    restart();
}

void TiltFilter::restart() noexcept {
    state[0] = state[1] = 0.0;
    gainSmootherA.initialise(0.0f, 0.02f, rate);
    gainSmootherB.initialise(0.0f, 0.02f, rate);
    if (bufferA != nullptr) std::fill(bufferA, bufferA + bufferSize, 0.0);
    if (bufferB != nullptr) std::fill(bufferB, bufferB + bufferSize, 0.0);
}

void TiltFilter::settle(float tiltDb) noexcept {
    gainSmootherA.current = std::exp(-tiltDb * kDbToNeper) - 1.0f;
    gainSmootherB.current = std::exp(tiltDb * kDbToNeper) - 1.0f;
}

namespace {

// The split's recursion over frames [from, to): left and right in the two lanes of one register,
// each lane with the scalar operations in their order. feed, keep, k and h are per frame, or one
// value for all when `perFrame` is false.
void runSplit(float* left, float* right, double* low, const double* feed, const double* keep, const double* k,
              const double* h, bool perFrame, double pivot, std::int32_t from, std::int32_t to) noexcept {
    const __m128d pivotLanes = _mm_set1_pd(pivot);
    __m128d lows = _mm_set_pd(low[1], low[0]);
    for (std::int32_t i = from; i < to; ++i) {
        const std::int32_t j = perFrame ? i - from : 0;
        const __m128d in = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(left + i), _mm_load_ss(right + i)));
        // low = (g in + p low) / (1 + g (k - 1)), as feed in + keep low.
        lows = _mm_add_pd(_mm_mul_pd(_mm_load1_pd(feed + j), in), _mm_mul_pd(_mm_load1_pd(keep + j), lows));
        // out = pivot low + h (in - k low)
        const __m128d out = _mm_add_pd(
            _mm_mul_pd(pivotLanes, lows),
            _mm_mul_pd(_mm_load1_pd(h + j), _mm_sub_pd(in, _mm_mul_pd(_mm_load1_pd(k + j), lows))));
        const __m128 rounded = _mm_cvtpd_ps(out);
        _mm_store_ss(left + i, rounded);
        _mm_store_ss(right + i, _mm_shuffle_ps(rounded, rounded, 1));
    }
    low[0] = _mm_cvtsd_f64(lows);
    low[1] = _mm_cvtsd_f64(_mm_unpackhi_pd(lows, lows));
}

}  // namespace

void TiltFilter::processBlock(float* left, float* right, float tiltDb, std::int32_t frames) noexcept {
    if (frames <= 0 || frames > bufferSize) return;
    // Flat and settled: the samples are not touched (bit-exact pass-through).
    if (!isActive(tiltDb)) return;

    // Targets once per block: low band 1/G, high band G, as deviations from unity.
    const float targetLow = std::exp(-tiltDb * kDbToNeper) - 1.0f;
    const float targetHigh = std::exp(tiltDb * kDbToNeper) - 1.0f;
    const double g = splitGain;
    const double p = splitPole;

    // The split fed in - (k - 1) * low, solved for the new low value (no delay in the loop): per
    // frame k = pivot / lowGain, the high gain h, and the reciprocal of the loop's denominator
    // 1 + g (k - 1) folded into two factors, so the recursion itself is one multiply and one add.
    if (gainSmootherA.isStalled(targetLow) && gainSmootherB.isStalled(targetHigh)) {
        // Stalled glides give their current values for every frame: the factors once.
        const double k = pivot / (1.0 + static_cast<double>(gainSmootherA.current));
        const double h = 1.0 + static_cast<double>(gainSmootherB.current);
        const double reciprocal = 1.0 / (1.0 + g * (k - 1.0));
        const double feed = g * reciprocal, keep = p * reciprocal;
        runSplit(left, right, state, &feed, &keep, &k, &h, false, pivot, 0, frames);
        return;
    }
    // The gliding case, two frames per step: both glides advance a frame at a time (in registers),
    // the two frames' divisions share one register, and the recursion takes the frames in order.
    korvo::ExpSmoother lowGain = gainSmootherA, highGain = gainSmootherB;
    const __m128d one = _mm_set1_pd(1.0), gLanes = _mm_set1_pd(g), pLanes = _mm_set1_pd(p);
    const __m128d pivotLanes = _mm_set1_pd(pivot);
    __m128d lows = _mm_set_pd(state[1], state[0]);
    auto split = [&](float* l, float* r, __m128d feed, __m128d keep, __m128d k, __m128d h) {
        const __m128d in = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(l), _mm_load_ss(r)));
        lows = _mm_add_pd(_mm_mul_pd(feed, in), _mm_mul_pd(keep, lows));
        const __m128d out =
            _mm_add_pd(_mm_mul_pd(pivotLanes, lows), _mm_mul_pd(h, _mm_sub_pd(in, _mm_mul_pd(k, lows))));
        const __m128 rounded = _mm_cvtpd_ps(out);
        _mm_store_ss(l, rounded);
        _mm_store_ss(r, _mm_shuffle_ps(rounded, rounded, 1));
    };
    std::int32_t i = 0;
    for (; i + 2 <= frames; i += 2) {
        const double low0 = 1.0 + static_cast<double>(lowGain.nextSample(targetLow));
        const double high0 = 1.0 + static_cast<double>(highGain.nextSample(targetHigh));
        const double low1 = 1.0 + static_cast<double>(lowGain.nextSample(targetLow));
        const double high1 = 1.0 + static_cast<double>(highGain.nextSample(targetHigh));
        const __m128d k = _mm_div_pd(pivotLanes, _mm_set_pd(low1, low0));
        const __m128d reciprocal = _mm_div_pd(one, _mm_add_pd(one, _mm_mul_pd(gLanes, _mm_sub_pd(k, one))));
        const __m128d feed = _mm_mul_pd(gLanes, reciprocal), keep = _mm_mul_pd(pLanes, reciprocal);
        split(left + i, right + i, _mm_unpacklo_pd(feed, feed), _mm_unpacklo_pd(keep, keep),
              _mm_unpacklo_pd(k, k), _mm_set1_pd(high0));
        split(left + i + 1, right + i + 1, _mm_unpackhi_pd(feed, feed), _mm_unpackhi_pd(keep, keep),
              _mm_unpackhi_pd(k, k), _mm_set1_pd(high1));
    }
    if (i < frames) {
        const double k = pivot / (1.0 + static_cast<double>(lowGain.nextSample(targetLow)));
        const double h = 1.0 + static_cast<double>(highGain.nextSample(targetHigh));
        const double reciprocal = 1.0 / (1.0 + g * (k - 1.0));
        split(left + i, right + i, _mm_set1_pd(g * reciprocal), _mm_set1_pd(p * reciprocal), _mm_set1_pd(k),
              _mm_set1_pd(h));
    }
    state[0] = _mm_cvtsd_f64(lows);
    state[1] = _mm_cvtsd_f64(_mm_unpackhi_pd(lows, lows));
    gainSmootherA = lowGain;
    gainSmootherB = highGain;
}

}  // namespace velmora
