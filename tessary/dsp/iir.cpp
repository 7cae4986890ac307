#include "tessary/dsp/iir.h"

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
