#pragma once
// BiquadCoeffs: the five coefficients of a normalised biquad (a0 = 1), for the difference equation
//   y[n] = b0*x[n] + b1*x[n-1] + b2*x[n-2] - a1*y[n-1] - a2*y[n-2].
// A plain value; the default is the identity (1, 0, 0, 0, 0).

namespace korvo {

struct BiquadCoeffs {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;

    // The transparent filter. [any-thread]
    static constexpr BiquadCoeffs identity() noexcept { return BiquadCoeffs{1.0, 0.0, 0.0, 0.0, 0.0}; }

    friend constexpr bool operator==(const BiquadCoeffs&, const BiquadCoeffs&) = default;
};

}  // namespace korvo
