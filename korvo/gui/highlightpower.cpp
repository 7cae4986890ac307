// Specular powers: double-precision log and exp with an exact-float guard.
#include "korvo/gui/highlightpower.h"

#include <emmintrin.h>

#include <cmath>
#include <cstdint>

namespace korvo {

namespace {

class SpecularPower {
public:
    static void computeRow(const float* s, const float* e, const int* masks, int groups,
                           float* out) noexcept {
        for (int g = 0; g < groups; ++g) {
            const int mask = masks[g];
            if (mask == 0) continue;
            const int i = 4 * g;
            // Inactive lanes compute 0.5^1.
            const __m128 active = laneMask(mask);
            const __m128 base =
                _mm_or_ps(_mm_and_ps(active, _mm_loadu_ps(s + i)), _mm_andnot_ps(active, _mm_set1_ps(0.5f)));
            const __m128 exponent =
                _mm_or_ps(_mm_and_ps(active, _mm_loadu_ps(e + i)), _mm_andnot_ps(active, _mm_set1_ps(1.0f)));
            // base = 2^k m, m in [1, 2); the table entry from m's top 7 bits.
            const __m128i bits = _mm_castps_si128(base);
            const __m128i k = _mm_sub_epi32(_mm_srli_epi32(bits, 23), _mm_set1_epi32(127));
            const __m128 m = _mm_castsi128_ps(
                _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x7FFFFF)), _mm_set1_epi32(0x3F800000)));
            alignas(16) std::int32_t index[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(index),
                            _mm_and_si128(_mm_srli_epi32(bits, 16), _mm_set1_epi32(0x7F)));
            const __m128d lo =
                pair(_mm_cvtps_pd(m), _mm_cvtepi32_pd(k), _mm_cvtps_pd(exponent), index[0], index[1]);
            const __m128d hi = pair(_mm_cvtps_pd(_mm_movehl_ps(m, m)),
                                    _mm_cvtepi32_pd(_mm_shuffle_epi32(k, _MM_SHUFFLE(1, 0, 3, 2))),
                                    _mm_cvtps_pd(_mm_movehl_ps(exponent, exponent)), index[2], index[3]);
            // Lanes too close to a rounding boundary, or flagged (negative), take std::pow.
            const __m128 value = _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
            const __m128 below = _mm_movelh_ps(_mm_cvtpd_ps(_mm_mul_pd(lo, _mm_set1_pd(kBelow))),
                                               _mm_cvtpd_ps(_mm_mul_pd(hi, _mm_set1_pd(kBelow))));
            const __m128 above = _mm_movelh_ps(_mm_cvtpd_ps(_mm_mul_pd(lo, _mm_set1_pd(kAbove))),
                                               _mm_cvtpd_ps(_mm_mul_pd(hi, _mm_set1_pd(kAbove))));
            _mm_storeu_ps(out + i, value);
            const int undecided = mask & (_mm_movemask_ps(_mm_cmpneq_ps(below, above)) |
                                          _mm_movemask_ps(_mm_cmplt_ps(value, _mm_setzero_ps())));
            if (undecided != 0)
                for (int l = 0; l < 4; ++l)
                    if (undecided & (1 << l))
                        out[i + l] = static_cast<float>(
                            std::pow(static_cast<double>(s[i + l]), static_cast<double>(e[i + l])));
        }
    }

    static __m128 laneMask(int mask) noexcept {
        return _mm_castsi128_ps(_mm_cmpgt_epi32(
            _mm_and_si128(_mm_set1_epi32(mask), _mm_setr_epi32(1, 2, 4, 8)), _mm_setzero_si128()));
    }

private:
    static constexpr double kBelow = 1.0 - 0x1p-38, kAbove = 1.0 + 0x1p-38;
    static constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2 with its low 21 bits zero
    static constexpr double kLn2Lo = 1.90821492927058770002e-10;  // ln 2 - kLn2Hi
    static constexpr double kInvLn2 = 1.44269504088896338700e+00;

    // log: m in [1 + j/128, 1 + (j+1)/128); r = m / c - 1 with 1/c from the table, |r| < 1/128.
    // exp: 2^(i/128) for the fraction of n = round(y 128 / ln 2).
    struct Tables {
        double inverse[128], logOfCentre[128], exp2[128];
        Tables() noexcept {
            for (int j = 0; j < 128; ++j) {
                inverse[j] = 1.0 / (1.0 + (j + 0.5) / 128.0);
                logOfCentre[j] = -std::log(inverse[j]);
                exp2[j] = std::exp2(j / 128.0);
            }
        }
    };
    static const Tables tables;

    // m^e 2^(k e) for two lanes; -1 where the float result would be subnormal, 0 where it is 0
    // anyway.
    static __m128d pair(__m128d m, __m128d k, __m128d e, std::int32_t j0, std::int32_t j1) noexcept {
        const __m128d inverse = _mm_setr_pd(tables.inverse[j0], tables.inverse[j1]);
        const __m128d logC = _mm_setr_pd(tables.logOfCentre[j0], tables.logOfCentre[j1]);
        const __m128d r = _mm_sub_pd(_mm_mul_pd(m, inverse), _mm_set1_pd(1.0));
        // log1p(r) to r^6 (|r| < 1/128: the next term is below 1e-14 r).
        __m128d p = _mm_set1_pd(-1.0 / 6.0);
        p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(1.0 / 5.0));
        p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(-1.0 / 4.0));
        p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(1.0 / 3.0));
        p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(-1.0 / 2.0));
        const __m128d log1p = _mm_add_pd(r, _mm_mul_pd(_mm_mul_pd(r, r), p));
        const __m128d lnS =
            _mm_add_pd(_mm_mul_pd(k, _mm_set1_pd(kLn2Hi)),
                       _mm_add_pd(_mm_mul_pd(k, _mm_set1_pd(kLn2Lo)), _mm_add_pd(logC, log1p)));
        const __m128d y = _mm_mul_pd(e, lnS);
        // y = n ln2 / 128 + t with n = trunc(y 128 / ln2 - 0.5), which does not depend on the
        // rounding mode: |t| <= ln2 / 256 for y <= 0, below 1.5 ln2 / 128 for the small positive y
        // of bases up to 2.
        const __m128i n =
            _mm_cvttpd_epi32(_mm_sub_pd(_mm_mul_pd(y, _mm_set1_pd(kInvLn2 * 128.0)), _mm_set1_pd(0.5)));
        const __m128d nd = _mm_cvtepi32_pd(n);
        const __m128d t = _mm_sub_pd(_mm_sub_pd(y, _mm_mul_pd(nd, _mm_set1_pd(kLn2Hi / 128.0))),
                                     _mm_mul_pd(nd, _mm_set1_pd(kLn2Lo / 128.0)));
        __m128d q = _mm_set1_pd(1.0 / 120.0);
        q = _mm_add_pd(_mm_mul_pd(q, t), _mm_set1_pd(1.0 / 24.0));
        q = _mm_add_pd(_mm_mul_pd(q, t), _mm_set1_pd(1.0 / 6.0));
        q = _mm_add_pd(_mm_mul_pd(q, t), _mm_set1_pd(1.0 / 2.0));
        q = _mm_add_pd(_mm_mul_pd(q, t), _mm_set1_pd(1.0));
        q = _mm_add_pd(_mm_mul_pd(q, t), _mm_set1_pd(1.0));
        alignas(16) std::int32_t ns[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(ns), n);
        const __m128d fraction = _mm_setr_pd(tables.exp2[ns[0] & 127], tables.exp2[ns[1] & 127]);
        // 2^(n >> 7) (n >= -128 * 127 in lanes that keep their value).
        const __m128i whole = _mm_srai_epi32(n, 7);
        const __m128i whole64 = _mm_unpacklo_epi32(whole, _mm_srai_epi32(whole, 31));
        const __m128d scale =
            _mm_castsi128_pd(_mm_slli_epi64(_mm_add_epi64(whole64, _mm_set1_epi64x(1023)), 52));
        __m128d result = _mm_mul_pd(_mm_mul_pd(q, fraction), scale);
        const __m128d underflow = _mm_cmplt_pd(y, _mm_set1_pd(-104.0));
        const __m128d subnormal = _mm_andnot_pd(underflow, _mm_cmplt_pd(y, _mm_set1_pd(-87.0)));
        result = _mm_andnot_pd(underflow, result);
        return _mm_or_pd(_mm_andnot_pd(subnormal, result), _mm_and_pd(subnormal, _mm_set1_pd(-1.0)));
    }
};
const SpecularPower::Tables SpecularPower::tables;

}  // namespace

void specularPowers(const float* s, const float* e, const int* masks, int groups, float* out) noexcept {
    SpecularPower::computeRow(s, e, masks, groups, out);
}

}  // namespace korvo
