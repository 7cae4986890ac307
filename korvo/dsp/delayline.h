#pragma once
// Delayline: a power-of-two ring of floats, fed a block at a time and read at fractional delays with
// a 6-point, 5th-order polynomial.
//
// Owners size it with resize() as the longest delay they read plus the largest block they feed, feed
// each block whole with feedBlock() and then read it back with readFractional(); a block therefore
// never overwrites samples still to be read. The ring is owned by the Delayline and released by its
// destructor. Single-threaded: resize belongs to the owner's reset, the rest to its audio path.
//
// A ring that cannot be allocated (a length beyond what an int32 mask can address) is left empty:
// capacity() is 0, feedBlock ignores its input and readFractional returns 0. Owners check isEmpty().

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

namespace korvo {

class Delayline {
public:
    Delayline() noexcept = default;
    ~Delayline();
    Delayline(const Delayline&) = delete;
    Delayline& operator=(const Delayline&) = delete;

    // Makes room for numSamples of history: the capacity becomes the smallest power of two strictly
    // greater than numSamples (0 -> 1, 1023 -> 1024, 1024 -> 2048). The contents are cleared and the
    // first sample fed lands in element 0. A negative length is a programming error and ends the
    // process. Allocates, except when the capacity stays the same (then it only clears).
    // [main-thread or audio-thread reset]
    void resize(std::int32_t numSamples) noexcept;

    // Zeroes the history and puts the write position back where resize leaves it. Allocates
    // nothing. [audio-thread]
    void clear() noexcept;

    // Appends n samples in ring order (n <= capacity; of a longer block only the newest capacity
    // samples are kept). At most two bulk copies. [audio-thread]
    void feedBlock(const float* samples, std::int32_t n) noexcept;

    // The sample written `delaySamples` samples ago (0 = the newest), interpolated between integer
    // delays; integer delays return the stored sample exactly. The read touches samples from
    // delay - 3 to delay + 3, so owners keep delays >= 3 after a block has been fed. All arithmetic
    // is single precision. [audio-thread]
    float readFractional(float delaySamples) const noexcept;

    // A cheaper read for modulation effects: 4-point cubic (Catmull-Rom) interpolation, exact at
    // integer delays, touching samples down to delay - 2. [audio-thread]
    float readCubic(float delaySamples) const noexcept;
    // The sample written `delay` samples ago (delay >= 0 and below the capacity). [audio-thread]
    float readWhole(std::int32_t delay) const noexcept {
        return data == nullptr ? 0.0f : data[(index - delay) & mask];
    }
    // acc[i] += sign * readWhole(firstDelay - i) for i in [0, n): a run of consecutive stored samples,
    // oldest first, added in at most two straight passes (firstDelay - n + 1 >= 0). [audio-thread]
    void addWholeRun(std::int32_t firstDelay, std::int32_t n, float sign, float* acc) const noexcept {
        if (data == nullptr || n <= 0) return;
        std::int32_t position = (index - firstDelay) & mask;
        while (n > 0) {
            const std::int32_t straight = std::min(n, mask + 1 - position);
            const float* source = data + position;
            const __m128 signs = _mm_set1_ps(sign);
            std::int32_t i = 0;
            for (; i + 4 <= straight; i += 4)
                _mm_storeu_ps(acc + i,
                              _mm_add_ps(_mm_loadu_ps(acc + i), _mm_mul_ps(signs, _mm_loadu_ps(source + i))));
            for (; i < straight; ++i) acc[i] += sign * source[i];
            acc += straight;
            n -= straight;
            position = 0;
        }
    }
    // out[i] = readWhole(firstDelay - i) for i in [0, n): a run of consecutive stored samples, oldest
    // first, copied in at most two straight passes (firstDelay - n + 1 >= 0). [audio-thread]
    void copyWholeRun(std::int32_t firstDelay, std::int32_t n, float* out) const noexcept {
        if (n <= 0) return;
        if (data == nullptr) {
            for (std::int32_t i = 0; i < n; ++i) out[i] = 0.0f;
            return;
        }
        std::int32_t position = (index - firstDelay) & mask;
        while (n > 0) {
            const std::int32_t straight = std::min(n, mask + 1 - position);
            const float* source = data + position;
            for (std::int32_t i = 0; i < straight; ++i) out[i] = source[i];
            out += straight;
            n -= straight;
            position = 0;
        }
    }
    // The run copyWholeRun(firstDelay, n, ...) would copy, in place: a pointer to its oldest sample
    // when the run lies straight in the ring (no wrap), otherwise (or while empty) nullptr. Valid
    // until the next feed. With `fed` > 0 the delays count from where the write position will be
    // once `fed` more samples have been fed (the run must then lie more than `fed` samples back:
    // firstDelay - n + 1 >= fed), so the run can be read before that feed. [audio-thread]
    const float* straightRun(std::int32_t firstDelay, std::int32_t n, std::int32_t fed = 0) const noexcept {
        if (data == nullptr) return nullptr;
        const auto position =
            static_cast<std::int32_t>((static_cast<std::uint32_t>(index) + static_cast<std::uint32_t>(fed) -
                                       static_cast<std::uint32_t>(firstDelay)) &
                                      static_cast<std::uint32_t>(mask));
        return n <= mask + 1 - position ? data + position : nullptr;
    }
    // Four readCubic calls at once (the same bits per lane). [audio-thread]
    void readCubic4(const float* delaySamples, float* out) const noexcept;

    std::int32_t capacity() const noexcept { return mask + 1; }            // [audio-thread]
    bool isEmpty() const noexcept { return data == nullptr; }              // [audio-thread]
    std::int32_t requestedSamples() const noexcept { return numSamples; }  // [audio-thread]

    // Four readFractional calls at once, in two halves, for owners that interleave the reads with
    // other work: the terms of four reads (what depends on the stored samples, and the fractions),
    // then the polynomial of those terms, four lanes wide. Each lane has readFractional's
    // arithmetic in its order (the same bits). The ring must not be empty. [audio-thread]
    struct ReadTerms {
        __m128 t, x0, c1, c2, c3, c4, c5;
    };
    ReadTerms readTerms4(const float* delaySamples) const noexcept;
    static __m128 readPolynomial4(const ReadTerms& terms) noexcept;

private:
    void release() noexcept;

    float* data = nullptr;        // ring of capacity floats
    std::int32_t index = 0;       // element holding the most recently written sample
    std::int32_t mask = -1;       // capacity - 1 (-1 while empty)
    std::int32_t numSamples = 0;  // length asked for at resize (kept, not used for reading)
};

// The reads are inline: owners call them once per sample and channel.
inline float Delayline::readFractional(float delaySamples) const noexcept {
    if (data == nullptr) return 0.0f;
    const std::int32_t cap = mask + 1;
    // Adding two capacities keeps the position positive for every delay the ring can hold.
    const float pos =
        static_cast<float>(index) - delaySamples + static_cast<float>(2 * static_cast<std::int64_t>(cap));
    const std::int32_t i = static_cast<std::int32_t>(pos);
    const float t = pos - static_cast<float>(i);

    const float xm2 = data[(i - 2) & mask];
    const float xm1 = data[(i - 1) & mask];
    const float x0 = data[i & mask];
    const float x1 = data[(i + 1) & mask];
    const float x2 = data[(i + 2) & mask];
    const float x3 = data[(i + 3) & mask];

    const float c1 = 16.0f * (x1 - xm1) + 2.0f * (xm2 - x2);
    const float c2 = 16.0f * (xm1 + x1) - xm2 - 30.0f * x0 - x2;
    const float c3 = 66.0f * x1 - 70.0f * x0 - 33.0f * x2 + 39.0f * xm1 + 7.0f * x3 - 9.0f * xm2;
    const float c4 = 126.0f * x0 - 124.0f * x1 + 61.0f * x2 - 64.0f * xm1 - 12.0f * x3 + 13.0f * xm2;
    const float c5 = 50.0f * (x1 - x0) + 5.0f * (x3 - xm2) + 25.0f * (xm1 - x2);

    return x0 + (0.041666668f * t) * (c1 + t * (c2 + t * (c3 + t * (c4 + t * c5))));
}

namespace detail {
// The read polynomial's constants, four lanes each: 2, 5, 7, 9, 12, 13, 16, 25, 30, 33, 39, 50, 61,
// 64, 66, 70, 124, 126 and 1/24.
enum ReadConstant {
    kTwo,
    kFive,
    kSeven,
    kNine,
    kTwelve,
    kThirteen,
    kSixteen,
    kTwentyFive,
    kThirty,
    kThirtyThree,
    kThirtyNine,
    kFifty,
    kSixtyOne,
    kSixtyFour,
    kSixtySix,
    kSeventy,
    kHundredTwentyFour,
    kHundredTwentySix,
    kTwentyFourth,
    kReadConstantCount
};
alignas(16) inline constexpr float kReadConstants[kReadConstantCount][4] = {
    {2.0f, 2.0f, 2.0f, 2.0f},
    {5.0f, 5.0f, 5.0f, 5.0f},
    {7.0f, 7.0f, 7.0f, 7.0f},
    {9.0f, 9.0f, 9.0f, 9.0f},
    {12.0f, 12.0f, 12.0f, 12.0f},
    {13.0f, 13.0f, 13.0f, 13.0f},
    {16.0f, 16.0f, 16.0f, 16.0f},
    {25.0f, 25.0f, 25.0f, 25.0f},
    {30.0f, 30.0f, 30.0f, 30.0f},
    {33.0f, 33.0f, 33.0f, 33.0f},
    {39.0f, 39.0f, 39.0f, 39.0f},
    {50.0f, 50.0f, 50.0f, 50.0f},
    {61.0f, 61.0f, 61.0f, 61.0f},
    {64.0f, 64.0f, 64.0f, 64.0f},
    {66.0f, 66.0f, 66.0f, 66.0f},
    {70.0f, 70.0f, 70.0f, 70.0f},
    {124.0f, 124.0f, 124.0f, 124.0f},
    {126.0f, 126.0f, 126.0f, 126.0f},
    {0.041666668f, 0.041666668f, 0.041666668f, 0.041666668f}};
alignas(16) inline constexpr std::int32_t kSteps[4] = {0, 1, 2, 3};
}  // namespace detail

// One four-frame read split in two: what depends on the stored samples (the sample at the integer
// position and the polynomial's five coefficients) and the fraction, then the polynomial itself.
// Runs compute the first part for many frames before the second, so the polynomial's long chain
// of dependent steps overlaps the next frames' coefficients.
[[gnu::always_inline]] inline Delayline::ReadTerms Delayline::readTerms4(
    const float* delaySamples) const noexcept {
    const __m128 twoCapacities = _mm_set1_ps(static_cast<float>(2 * static_cast<std::int64_t>(mask + 1)));
    const __m128 pos = _mm_add_ps(
        _mm_sub_ps(_mm_set1_ps(static_cast<float>(index)), _mm_loadu_ps(delaySamples)), twoCapacities);
    const __m128i whole = _mm_cvttps_epi32(pos);  // positions are positive: truncation as for int32
    ReadTerms terms;
    terms.t = _mm_sub_ps(pos, _mm_cvtepi32_ps(whole));
    // Four consecutive frames usually stand on consecutive samples: then each of the six taps is one
    // unaligned load of four neighbours (when the window does not wrap around the ring).
    const std::int32_t first = _mm_cvtsi128_si32(whole);
    const __m128i steps = _mm_load_si128(reinterpret_cast<const __m128i*>(detail::kSteps));
    const std::int32_t base = first & mask;
    const bool consecutive = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(
                                 whole, _mm_add_epi32(_mm_set1_epi32(first), steps)))) == 0xF &&
                             base >= 2 && base + 6 <= mask;
    __m128 xm2, xm1, x0, x1, x2, x3;
    if (consecutive) [[likely]] {
        const float* at = data + base;
        xm2 = _mm_loadu_ps(at - 2);
        xm1 = _mm_loadu_ps(at - 1);
        x0 = _mm_loadu_ps(at);
        x1 = _mm_loadu_ps(at + 1);
        x2 = _mm_loadu_ps(at + 2);
        x3 = _mm_loadu_ps(at + 3);
    } else {
        alignas(16) std::int32_t lane[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lane), whole);
        auto tap = [&](int offset) {
            return _mm_setr_ps(data[(lane[0] + offset) & mask], data[(lane[1] + offset) & mask],
                               data[(lane[2] + offset) & mask], data[(lane[3] + offset) & mask]);
        };
        xm2 = tap(-2);
        xm1 = tap(-1);
        x0 = tap(0);
        x1 = tap(1);
        x2 = tap(2);
        x3 = tap(3);
    }
    // The table's address passes through an empty asm statement, so the compiler cannot rebuild
    // the constants from their values (a scalar spread over a register before every use): the
    // arithmetic takes them straight from memory.
    const float(*table)[4] = detail::kReadConstants;
    asm("" : "+r"(table));
    auto k = [table](detail::ReadConstant c) { return _mm_load_ps(table[c]); };
    auto mul = [](__m128 a, __m128 b) { return _mm_mul_ps(a, b); };
    auto add = [](__m128 a, __m128 b) { return _mm_add_ps(a, b); };
    auto sub = [](__m128 a, __m128 b) { return _mm_sub_ps(a, b); };
    using namespace detail;
    terms.x0 = x0;
    terms.c1 = add(mul(k(kSixteen), sub(x1, xm1)), mul(k(kTwo), sub(xm2, x2)));
    terms.c2 = sub(sub(sub(mul(k(kSixteen), add(xm1, x1)), xm2), mul(k(kThirty), x0)), x2);
    terms.c3 = sub(add(add(sub(sub(mul(k(kSixtySix), x1), mul(k(kSeventy), x0)), mul(k(kThirtyThree), x2)),
                           mul(k(kThirtyNine), xm1)),
                       mul(k(kSeven), x3)),
                   mul(k(kNine), xm2));
    terms.c4 = add(sub(sub(add(sub(mul(k(kHundredTwentySix), x0), mul(k(kHundredTwentyFour), x1)),
                               mul(k(kSixtyOne), x2)),
                           mul(k(kSixtyFour), xm1)),
                       mul(k(kTwelve), x3)),
                   mul(k(kThirteen), xm2));
    terms.c5 =
        add(add(mul(k(kFifty), sub(x1, x0)), mul(k(kFive), sub(x3, xm2))), mul(k(kTwentyFive), sub(xm1, x2)));
    return terms;
}

[[gnu::always_inline]] inline __m128 Delayline::readPolynomial4(const ReadTerms& r) noexcept {
    const __m128 t = r.t;
    const __m128 horner = _mm_add_ps(
        r.c1,
        _mm_mul_ps(
            t, _mm_add_ps(
                   r.c2,
                   _mm_mul_ps(t, _mm_add_ps(r.c3, _mm_mul_ps(t, _mm_add_ps(r.c4, _mm_mul_ps(t, r.c5))))))));
    const __m128 twentyFourth = _mm_load_ps(detail::kReadConstants[detail::kTwentyFourth]);
    return _mm_add_ps(r.x0, _mm_mul_ps(_mm_mul_ps(twentyFourth, t), horner));
}

inline float Delayline::readCubic(float delaySamples) const noexcept {
    if (data == nullptr) return 0.0f;
    const float pos = static_cast<float>(index) - delaySamples +
                      static_cast<float>(2 * static_cast<std::int64_t>(mask + 1));
    const std::int32_t i = static_cast<std::int32_t>(pos);
    const float t = pos - static_cast<float>(i);
    const float xm1 = data[(i - 1) & mask];
    const float x0 = data[i & mask];
    const float x1 = data[(i + 1) & mask];
    const float x2 = data[(i + 2) & mask];
    const float c1 = 0.5f * (x1 - xm1);
    const float c2 = xm1 - 2.5f * x0 + 2.0f * x1 - 0.5f * x2;
    const float c3 = 0.5f * (x2 - xm1) + 1.5f * (x0 - x1);
    return x0 + t * (c1 + t * (c2 + t * c3));
}

inline void Delayline::readCubic4(const float* delaySamples, float* out) const noexcept {
    if (data == nullptr) {
        out[0] = out[1] = out[2] = out[3] = 0.0f;
        return;
    }
    const __m128 pos =
        _mm_add_ps(_mm_sub_ps(_mm_set1_ps(static_cast<float>(index)), _mm_loadu_ps(delaySamples)),
                   _mm_set1_ps(static_cast<float>(2 * static_cast<std::int64_t>(mask + 1))));
    const __m128i whole = _mm_cvttps_epi32(pos);
    const __m128 t = _mm_sub_ps(pos, _mm_cvtepi32_ps(whole));
    alignas(16) std::int32_t lane[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lane), whole);
    auto tap = [&](int offset) {
        return _mm_setr_ps(data[(lane[0] + offset) & mask], data[(lane[1] + offset) & mask],
                           data[(lane[2] + offset) & mask], data[(lane[3] + offset) & mask]);
    };
    const __m128 xm1 = tap(-1), x0 = tap(0), x1 = tap(1), x2 = tap(2);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 c1 = _mm_mul_ps(half, _mm_sub_ps(x1, xm1));
    const __m128 c2 = _mm_sub_ps(
        _mm_add_ps(_mm_sub_ps(xm1, _mm_mul_ps(_mm_set1_ps(2.5f), x0)), _mm_mul_ps(_mm_set1_ps(2.0f), x1)),
        _mm_mul_ps(half, x2));
    const __m128 c3 =
        _mm_add_ps(_mm_mul_ps(half, _mm_sub_ps(x2, xm1)), _mm_mul_ps(_mm_set1_ps(1.5f), _mm_sub_ps(x0, x1)));
    const __m128 horner = _mm_add_ps(c1, _mm_mul_ps(t, _mm_add_ps(c2, _mm_mul_ps(t, c3))));
    _mm_storeu_ps(out, _mm_add_ps(x0, _mm_mul_ps(t, horner)));
}

}  // namespace korvo
