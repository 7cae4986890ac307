#pragma once
// Second-order high and low shelving filter designs (bilinear transform, shelf slope set by Q),
// computed in double precision.
//
// f0TimesTwoPi is the corner as an angular frequency (2*pi*f0 in rad/s, passed as one constant),
// alphaDivisor is 2Q, gainDb the shelf gain in decibels and sampleRate in Hz. The five coefficients
// are normalised by a0 and rounded through single precision, so equal requests give equal targets on
// every build. Callers pass the exact identity instead of designing a 0 dB shelf: the design is only
// transparent up to rounding there. A corner above 0.45 x sampleRate is designed at 0.45 x
// sampleRate, so the filter stays stable at every rate (4032 Hz at 8000 Hz becomes 3600 Hz).
// [any-thread]

#include "korvo/dsp/iir.h"

namespace tessary {

korvo::BiquadCoeffs designHighShelf(double f0TimesTwoPi, double alphaDivisor, double gainDb,
                                    float sampleRate) noexcept;

// The corner's part of a design (its cosine and the slope term), worked out once for owners that
// design many shelves at one corner, slope and rate; the designs from it have the same bits.
struct ShelfCorner {
    double cs, alpha;
};
ShelfCorner shelfCorner(double f0TimesTwoPi, double alphaDivisor, float sampleRate) noexcept;
korvo::BiquadCoeffs designHighShelf(const ShelfCorner& corner, double gainDb) noexcept;
korvo::BiquadCoeffs designLowShelf(double f0TimesTwoPi, double alphaDivisor, double gainDb,
                                   float sampleRate) noexcept;

}  // namespace tessary
