#include "tessary/dsp/iir.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>

namespace tessary {

namespace {

constexpr double kMaxCornerRadPerSample = 0.9 * 3.141592653589793;  // 0.45 x the sample rate

double throughFloat(double value) noexcept {
    return static_cast<double>(static_cast<float>(value));
}

korvo::BiquadCoeffs normalise(double b0, double b1, double b2, double a0, double a1, double a2) noexcept {
    return korvo::BiquadCoeffs{throughFloat(b0 / a0), throughFloat(b1 / a0), throughFloat(b2 / a0),
                               throughFloat(a1 / a0), throughFloat(a2 / a0)};
}

struct ShelfTerms {
    double A, cs, k;
};

ShelfTerms shelfTerms(const ShelfCorner& corner, double gainDb) noexcept {
    const double A = std::pow(10.0, gainDb / 40.0);
    const double k = 2.0 * std::sqrt(A) * corner.alpha;
    return ShelfTerms{A, corner.cs, k};
}

ShelfTerms shelfTerms(double f0TimesTwoPi, double alphaDivisor, double gainDb, float sampleRate) noexcept {
    return shelfTerms(shelfCorner(f0TimesTwoPi, alphaDivisor, sampleRate), gainDb);
}

}  // namespace

ShelfCorner shelfCorner(double f0TimesTwoPi, double alphaDivisor, float sampleRate) noexcept {
    // A corner at or above half the rate has no digital counterpart (beyond it the design's poles
    // leave the unit circle): it is held at 0.45 x the rate, which leaves every corner used at
    // 11025 Hz and above untouched.
    const double w0 = std::min(f0TimesTwoPi / static_cast<double>(sampleRate), kMaxCornerRadPerSample);
    return ShelfCorner{std::cos(w0), std::sin(w0) / alphaDivisor};
}

korvo::BiquadCoeffs designHighShelf(double f0TimesTwoPi, double alphaDivisor, double gainDb,
                                    float sampleRate) noexcept {
    return designHighShelf(shelfCorner(f0TimesTwoPi, alphaDivisor, sampleRate), gainDb);
}

korvo::BiquadCoeffs designHighShelf(const ShelfCorner& corner, double gainDb) noexcept {
    const auto [A, cs, k] = shelfTerms(corner, gainDb);
    const double b0 = A * ((A + 1.0) + (A - 1.0) * cs + k);
    const double b1 = -2.0 * A * ((A - 1.0) + (A + 1.0) * cs);
    const double b2 = A * ((A + 1.0) + (A - 1.0) * cs - k);
    const double a0 = (A + 1.0) - (A - 1.0) * cs + k;
    const double a1 = 2.0 * ((A - 1.0) - (A + 1.0) * cs);
    const double a2 = (A + 1.0) - (A - 1.0) * cs - k;
    return normalise(b0, b1, b2, a0, a1, a2);
}

void designHighShelfPair(const ShelfCorner& corner, double gainDbFirst, double gainDbSecond,
                         korvo::BiquadCoeffs& first, korvo::BiquadCoeffs& second) noexcept {
    // designHighShelf's operations in their order, one design per lane.
    const __m128d A = _mm_set_pd(std::pow(10.0, gainDbSecond / 40.0), std::pow(10.0, gainDbFirst / 40.0));
    const __m128d one = _mm_set1_pd(1.0), cs = _mm_set1_pd(corner.cs);
    const __m128d k = _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(2.0), _mm_sqrt_pd(A)), _mm_set1_pd(corner.alpha));
    const __m128d plus = _mm_add_pd(A, one), minus = _mm_sub_pd(A, one);
    const __m128d upper = _mm_add_pd(plus, _mm_mul_pd(minus, cs));  // (A + 1) + (A - 1) cs
    const __m128d lower = _mm_sub_pd(plus, _mm_mul_pd(minus, cs));  // (A + 1) - (A - 1) cs
    const __m128d b0 = _mm_mul_pd(A, _mm_add_pd(upper, k));
    const __m128d b1 = _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(-2.0), A), _mm_add_pd(minus, _mm_mul_pd(plus, cs)));
    const __m128d b2 = _mm_mul_pd(A, _mm_sub_pd(upper, k));
    const __m128d a0 = _mm_add_pd(lower, k);
    const __m128d a1 = _mm_mul_pd(_mm_set1_pd(2.0), _mm_sub_pd(minus, _mm_mul_pd(plus, cs)));
    const __m128d a2 = _mm_sub_pd(lower, k);
    // normalise's quotients, each rounded through float.
    const auto normalised = [a0](__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(_mm_div_pd(v, a0))); };
    alignas(16) double lanes[5][2];
    _mm_store_pd(lanes[0], normalised(b0));
    _mm_store_pd(lanes[1], normalised(b1));
    _mm_store_pd(lanes[2], normalised(b2));
    _mm_store_pd(lanes[3], normalised(a1));
    _mm_store_pd(lanes[4], normalised(a2));
    first = korvo::BiquadCoeffs{lanes[0][0], lanes[1][0], lanes[2][0], lanes[3][0], lanes[4][0]};
    second = korvo::BiquadCoeffs{lanes[0][1], lanes[1][1], lanes[2][1], lanes[3][1], lanes[4][1]};
}

korvo::BiquadCoeffs designLowShelf(double f0TimesTwoPi, double alphaDivisor, double gainDb,
                                   float sampleRate) noexcept {
    const auto [A, cs, k] = shelfTerms(f0TimesTwoPi, alphaDivisor, gainDb, sampleRate);
    const double b0 = A * ((A + 1.0) - (A - 1.0) * cs + k);
    const double b1 = 2.0 * A * ((A - 1.0) - (A + 1.0) * cs);
    const double b2 = A * ((A + 1.0) - (A - 1.0) * cs - k);
    const double a0 = (A + 1.0) + (A - 1.0) * cs + k;
    const double a1 = -2.0 * ((A - 1.0) + (A + 1.0) * cs);
    const double a2 = (A + 1.0) + (A - 1.0) * cs - k;
    return normalise(b0, b1, b2, a0, a1, a2);
}

}  // namespace tessary
