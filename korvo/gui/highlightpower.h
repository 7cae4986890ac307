#pragma once
// Powers for the compositor's specular term: s^e rounded to float, four lanes at a time, giving
// exactly the float that (float)std::pow(s, e) gives with the C runtime's pow, several times
// faster.
//
// log and exp are evaluated in double precision (table-driven reductions, short polynomials)
// with a relative error far below 2^-38. Where the result lies within 2^-38 of the boundary
// between two floats, or in the float subnormal range, the lane takes std::pow itself, so the
// float never depends on the approximation. Below e^-104 the float is 0 whatever the runtime.
//
// Thread contract: [any-thread]; only constant tables are shared.

namespace korvo {

// For every group g < groups and every lane i whose bit (1 << i) is set in masks[g]:
// out[4 g + i] = (float)std::pow(s[4 g + i], e[4 g + i]). Other lanes of a group with a non-zero
// mask receive unspecified values; groups whose mask is 0 are not touched. Active bases must lie
// in [FLT_MIN, 2], exponents in [0, 256].
void specularPowers(const float* s, const float* e, const int* masks, int groups, float* out) noexcept;

}  // namespace korvo
