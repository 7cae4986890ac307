#include "effect/dsp/tiltfilter.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>

#include "effect/dsp/rest.h"

namespace velmora {

namespace {
constexpr double kSplitRadPerSecond = 4084.070449666731;  // 2 pi x 650 Hz
constexpr double kPivotHz = 650.0;
constexpr double kTwoPi = 6.283185307179586;
constexpr float kDbToNeper = 0.115129255f;  // ln(10) / 20
}  // namespace

void TiltFilter::reset(float sampleRate, std::int32_t) noexcept {
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

    restart();
}

void TiltFilter::restart() noexcept {
    state[0] = state[1] = 0.0;
    gainSmootherA.initialise(0.0f, 0.02f, rate);
    gainSmootherB.initialise(0.0f, 0.02f, rate);
}

void TiltFilter::settle(float tiltDb) noexcept {
    runToRest(gainSmootherA, std::exp(-tiltDb * kDbToNeper) - 1.0f);
    runToRest(gainSmootherB, std::exp(tiltDb * kDbToNeper) - 1.0f);
}

namespace {

// The factors of one frame, each in both lanes (left and right).
struct FrameFactors {
    __m128d feed, keep, k, h;
};

// The split's recursion over two frames: left and right in the two lanes of one register, each lane
// with the scalar operations in their order:
//   low = feed in + keep low   (the loop solved for the new low value: (g in + p low) / (1 + g (k - 1)))
//   out = pivot low + h (in - k low)
// Both frames' samples are loaded and stored together.
inline void splitPair(float* left, float* right, const FrameFactors& first, const FrameFactors& second,
                      __m128d pivot, __m128d& lows) noexcept {
    const __m128 samples =
        _mm_unpacklo_ps(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(left)),
                        _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(right)));
    const __m128d in0 = _mm_cvtps_pd(samples);                          // L0 R0
    const __m128d in1 = _mm_cvtps_pd(_mm_movehl_ps(samples, samples));  // L1 R1
    lows = _mm_add_pd(_mm_mul_pd(first.feed, in0), _mm_mul_pd(first.keep, lows));
    const __m128d out0 =
        _mm_add_pd(_mm_mul_pd(pivot, lows), _mm_mul_pd(first.h, _mm_sub_pd(in0, _mm_mul_pd(first.k, lows))));
    lows = _mm_add_pd(_mm_mul_pd(second.feed, in1), _mm_mul_pd(second.keep, lows));
    const __m128d out1 = _mm_add_pd(_mm_mul_pd(pivot, lows),
                                    _mm_mul_pd(second.h, _mm_sub_pd(in1, _mm_mul_pd(second.k, lows))));
    const __m128 both = _mm_movelh_ps(_mm_cvtpd_ps(out0), _mm_cvtpd_ps(out1));    // L0 R0 L1 R1
    const __m128 channels = _mm_shuffle_ps(both, both, _MM_SHUFFLE(3, 1, 2, 0));  // L0 L1 R0 R1
    _mm_storel_pi(reinterpret_cast<__m64*>(left), channels);
    _mm_storeh_pi(reinterpret_cast<__m64*>(right), channels);
}

// The same for one frame.
inline void splitOne(float* left, float* right, const FrameFactors& f, __m128d pivot,
                     __m128d& lows) noexcept {
    const __m128d in = _mm_cvtps_pd(_mm_unpacklo_ps(_mm_load_ss(left), _mm_load_ss(right)));
    lows = _mm_add_pd(_mm_mul_pd(f.feed, in), _mm_mul_pd(f.keep, lows));
    const __m128d out =
        _mm_add_pd(_mm_mul_pd(pivot, lows), _mm_mul_pd(f.h, _mm_sub_pd(in, _mm_mul_pd(f.k, lows))));
    const __m128 rounded = _mm_cvtpd_ps(out);
    _mm_store_ss(left, rounded);
    _mm_store_ss(right, _mm_shuffle_ps(rounded, rounded, 1));
}

// The two gain glides (low band, high band) stepped together in the two low lanes of one register,
// each lane exactly as ExpSmoother::nextSample: current + (target - current) alpha, except that a
// difference below the snap threshold (0 included) hands the frame to the scalar form. Without
// `kChecked` that test is left out (2 % of the chain's time while the LFO moves the tilt): the
// caller has made sure no such difference can occur except 0, where the step adds +0 to a nonzero
// value and changes nothing either.
template <bool kChecked>
struct GainGlides {
    korvo::ExpSmoother& lowGlide;
    korvo::ExpSmoother& highGlide;
    float lowTarget, highTarget;
    __m128 current, targets, alphas;

    GainGlides(korvo::ExpSmoother& low, korvo::ExpSmoother& high, float lowTarget_,
               float highTarget_) noexcept
        : lowGlide(low),
          highGlide(high),
          lowTarget(lowTarget_),
          highTarget(highTarget_),
          current(_mm_setr_ps(low.current, high.current, 0.0f, 0.0f)),
          targets(_mm_setr_ps(lowTarget_, highTarget_, 0.0f, 0.0f)),
          alphas(_mm_setr_ps(low.alpha, high.alpha, 0.0f, 0.0f)) {}

    // One frame: the two band gains 1 + deviation, as doubles (low, high).
    __attribute__((always_inline)) __m128d next() noexcept {
        const __m128 diff = _mm_sub_ps(targets, current);
        if constexpr (kChecked) {
            const __m128 magnitude = _mm_and_ps(diff, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff)));
            if ((_mm_movemask_ps(_mm_cmplt_ps(magnitude, _mm_set1_ps(1e-10f))) & 3) != 0) {
                store();
                lowGlide.nextSample(lowTarget);
                highGlide.nextSample(highTarget);
                current = _mm_setr_ps(lowGlide.current, highGlide.current, 0.0f, 0.0f);
                return _mm_add_pd(_mm_set1_pd(1.0), _mm_cvtps_pd(current));
            }
        }
        current = _mm_add_ps(current, _mm_mul_ps(diff, alphas));
        return _mm_add_pd(_mm_set1_pd(1.0), _mm_cvtps_pd(current));
    }

    void store() noexcept {
        lowGlide.current = _mm_cvtss_f32(current);
        highGlide.current = _mm_cvtss_f32(_mm_shuffle_ps(current, current, 1));
    }
};

// The gliding case. The glides and the divisions (two frames per register) run a few frames ahead of
// the split's recursion: the split finds its factors ready, so the long chain from a glide through both
// divisions never holds up the recursion, and the glides' own recursion overlaps with the split's.
template <bool kChecked>
void glideBlock(float* left, float* right, std::int32_t frames, korvo::ExpSmoother& lowGain,
                korvo::ExpSmoother& highGain, float targetLow, float targetHigh, double g, double p,
                double pivot, __m128d& lowsInOut) noexcept {
    __m128d lows = lowsInOut;  // a local, so the recursion stays in registers
    GainGlides<kChecked> glides(lowGain, highGain, targetLow, targetHigh);
    const __m128d one = _mm_set1_pd(1.0), gLanes = _mm_set1_pd(g), pLanes = _mm_set1_pd(p);
    const __m128d pivotLanes = _mm_set1_pd(pivot);
    constexpr std::int32_t kRingPairs = 8, kAheadPairs = 4;
    FrameFactors ring[2 * kRingPairs];
    // Factors of frames 2 q and 2 q + 1 into the ring.
    auto design = [&](std::int32_t q) __attribute__((always_inline)) {
        const __m128d gains0 = glides.next(), gains1 = glides.next();  // (low, high) per frame
        const __m128d k = _mm_div_pd(pivotLanes, _mm_unpacklo_pd(gains0, gains1));
        const __m128d reciprocal = _mm_div_pd(one, _mm_add_pd(one, _mm_mul_pd(gLanes, _mm_sub_pd(k, one))));
        const __m128d feed = _mm_mul_pd(gLanes, reciprocal), keep = _mm_mul_pd(pLanes, reciprocal);
        FrameFactors* f = ring + 2 * (q & (kRingPairs - 1));
        f[0] = {_mm_unpacklo_pd(feed, feed), _mm_unpacklo_pd(keep, keep), _mm_unpacklo_pd(k, k),
                _mm_unpackhi_pd(gains0, gains0)};
        f[1] = {_mm_unpackhi_pd(feed, feed), _mm_unpackhi_pd(keep, keep), _mm_unpackhi_pd(k, k),
                _mm_unpackhi_pd(gains1, gains1)};
    };
    auto split = [&](std::int32_t q) __attribute__((always_inline)) {
        const FrameFactors* f = ring + 2 * (q & (kRingPairs - 1));
        splitPair(left + 2 * q, right + 2 * q, f[0], f[1], pivotLanes, lows);
    };
    const std::int32_t pairs = frames / 2;
    const std::int32_t ahead = std::min(kAheadPairs, pairs);
    for (std::int32_t q = 0; q < ahead; ++q) design(q);
    std::int32_t q = 0;
    for (; q + ahead < pairs; ++q) {
        design(q + ahead);
        split(q);
    }
    for (; q < pairs; ++q) split(q);
    if (frames % 2 != 0) {
        const __m128d gains = glides.next();
        const double k = pivot / _mm_cvtsd_f64(gains);
        const double reciprocal = 1.0 / (1.0 + g * (k - 1.0));
        const FrameFactors f{_mm_set1_pd(g * reciprocal), _mm_set1_pd(p * reciprocal), _mm_set1_pd(k),
                             _mm_unpackhi_pd(gains, gains)};
        splitOne(left + frames - 1, right + frames - 1, f, pivotLanes, lows);
    }
    glides.store();
    lowsInOut = lows;
}

}  // namespace

void TiltFilter::processBlock(float* left, float* right, float tiltDb, std::int32_t frames) noexcept {
    // Flat and settled: the samples are not touched (bit-exact pass-through).
    if (frames <= 0 || !isActive(tiltDb)) return;

    // Targets once per block: low band 1/G, high band G, as deviations from unity.
    const float targetLow = std::exp(-tiltDb * kDbToNeper) - 1.0f;
    const float targetHigh = std::exp(tiltDb * kDbToNeper) - 1.0f;
    const double g = splitGain;
    const double p = splitPole;
    __m128d lows = _mm_set_pd(state[1], state[0]);

    // The split fed in - (k - 1) * low, solved for the new low value (no delay in the loop): per
    // frame k = pivot / lowGain, the high gain h, and the reciprocal of the loop's denominator
    // 1 + g (k - 1) folded into two factors, so the recursion itself is one multiply and one add.
    if (gainSmootherA.stepsPlainlyTo(targetLow) && gainSmootherB.stepsPlainlyTo(targetHigh))
        glideBlock<false>(left, right, frames, gainSmootherA, gainSmootherB, targetLow, targetHigh, g, p,
                          pivot, lows);
    else
        glideBlock<true>(left, right, frames, gainSmootherA, gainSmootherB, targetLow, targetHigh, g, p,
                         pivot, lows);
    state[0] = _mm_cvtsd_f64(lows);
    state[1] = _mm_cvtsd_f64(_mm_unpackhi_pd(lows, lows));
}

void TiltFilter::processBlockPlain(float* left, float* right, float tiltDb, std::int32_t frames) noexcept {
    if (frames <= 0 || !isActive(tiltDb)) return;
    const float targetLow = std::exp(-tiltDb * kDbToNeper) - 1.0f;
    const float targetHigh = std::exp(tiltDb * kDbToNeper) - 1.0f;
    const double g = splitGain, p = splitPole;
    for (std::int32_t i = 0; i < frames; ++i) {
        // The split fed in - (k - 1) low, solved for the new low value: (g in + p low) / (1 + g (k - 1)).
        const double k = pivot / (1.0 + static_cast<double>(gainSmootherA.nextSample(targetLow)));
        const double h = 1.0 + static_cast<double>(gainSmootherB.nextSample(targetHigh));
        const double reciprocal = 1.0 / (1.0 + g * (k - 1.0));
        float* channel[2] = {left + i, right + i};
        for (int c = 0; c < 2; ++c) {
            const double in = static_cast<double>(*channel[c]);
            state[c] = (g * reciprocal) * in + (p * reciprocal) * state[c];
            *channel[c] = static_cast<float>(pivot * state[c] + h * (in - k * state[c]));
        }
    }
}

}  // namespace velmora
