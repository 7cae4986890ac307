// Owned images and the drawing primitives. Every primitive first reduces its arguments to a range
// of pixels inside the target (in double precision, so huge, infinite or NaN values cannot overflow
// an integer) and then works on that range only.
#include "korvo/graphics/image.h"

#include <cmath>
#include <utility>

#include "korvo/core/nogc.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korvo {

// ---------------------------------------------------------------------------------------------
// OwnedImage

template <class COLOR>
OwnedImage<COLOR>::OwnedImage(std::int32_t w, std::int32_t h) noexcept {
    setSize(w, h);
}

template <class COLOR>
OwnedImage<COLOR>::~OwnedImage() {
    alignedRelease(pixels_, kAlignment);
}

template <class COLOR>
ImageView<COLOR> OwnedImage<COLOR>::row(std::int32_t y) noexcept {
    const auto pitch = static_cast<std::ptrdiff_t>(w_) * static_cast<std::ptrdiff_t>(sizeof(COLOR));
    return ImageView<COLOR>{w_, 1, pitch, pixels_ + static_cast<std::ptrdiff_t>(y) * w_};
}

template <class COLOR>
COLOR* OwnedImage<COLOR>::pixelAt(std::int32_t x, std::int32_t y) noexcept {
    return pixels_ + static_cast<std::ptrdiff_t>(y) * w_ + x;
}

template <class COLOR>
void OwnedImage<COLOR>::setPixel(COLOR color, std::int32_t x, std::int32_t y) noexcept {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
    *pixelAt(x, y) = color;
}

template <class COLOR>
void OwnedImage<COLOR>::setSize(std::int32_t newW, std::int32_t newH) noexcept {
    w_ = newW < 0 ? 0 : newW;
    h_ = newH < 0 ? 0 : newH;
    const std::size_t bytes = static_cast<std::size_t>(w_) * static_cast<std::size_t>(h_) * sizeof(COLOR);
    pixels_ = static_cast<COLOR*>(alignedResize(pixels_, bytes, kAlignment));
}

template class OwnedImage<RGBA>;
template class OwnedImage<L16>;
template class OwnedImage<L8>;

namespace detail {

// ---------------------------------------------------------------------------------------------
// Rows

void blendRowScalar(RGBA* row, std::int32_t n, RGBA color, int a) noexcept {
    for (std::int32_t i = 0; i < n; ++i) PixelTraits<RGBA>::blend(row[i], color, a);
}

void blendRow(RGBA* row, std::int32_t n, RGBA color, int a) noexcept {
    std::int32_t i = 0;
#if defined(__SSE2__)
    // Four pixels per step in 16-bit lanes: old * (255 - a) + color * a stays below 65536, and
    // (x * 0x8081) >> 23 is the high half of the 16-bit product shifted right by 7.
    const __m128i zero = _mm_setzero_si128();
    const __m128i inverse = _mm_set1_epi16(static_cast<short>(255 - a));
    const __m128i magic = _mm_set1_epi16(static_cast<short>(0x8081));
    const auto ua = static_cast<short>(a);
    const __m128i colorTimesA = _mm_setr_epi16(
        static_cast<short>(color.r * ua), static_cast<short>(color.g * ua), static_cast<short>(color.b * ua),
        static_cast<short>(color.a * ua), static_cast<short>(color.r * ua), static_cast<short>(color.g * ua),
        static_cast<short>(color.b * ua), static_cast<short>(color.a * ua));
    for (; i + 4 <= n; i += 4) {
        __m128i* p = reinterpret_cast<__m128i*>(row + i);
        const __m128i old = _mm_loadu_si128(p);
        __m128i lo = _mm_unpacklo_epi8(old, zero);
        __m128i hi = _mm_unpackhi_epi8(old, zero);
        lo = _mm_add_epi16(_mm_mullo_epi16(lo, inverse), colorTimesA);
        hi = _mm_add_epi16(_mm_mullo_epi16(hi, inverse), colorTimesA);
        lo = _mm_srli_epi16(_mm_mulhi_epu16(lo, magic), 7);
        hi = _mm_srli_epi16(_mm_mulhi_epu16(hi, magic), 7);
        _mm_storeu_si128(p, _mm_packus_epi16(lo, hi));
    }
#endif
    blendRowScalar(row + i, n - i, color, a);
}

bool clipSpan(double lo, double hi, std::int32_t size, std::int32_t& first, std::int32_t& end) noexcept {
    if (!(lo < hi)) return false;  // empty or NaN
    if (lo < 0.0) lo = 0.0;
    if (hi > static_cast<double>(size)) hi = static_cast<double>(size);
    if (!(lo < hi)) return false;
    first = static_cast<std::int32_t>(lo);
    end = static_cast<std::int32_t>(hi);
    return first < end;
}

namespace {

// Stores or blends one pixel with integer coverage a (0..max).
template <class COLOR>
inline void put(COLOR& p, COLOR color, int a) noexcept {
    if (a <= 0) return;
    if (a >= PixelTraits<COLOR>::kMaxAlpha)
        p = color;
    else
        PixelTraits<COLOR>::blend(p, color, a);
}

template <class COLOR>
inline void putRow(COLOR* row, std::int32_t n, COLOR color, int a) noexcept {
    if (a <= 0 || n <= 0) return;
    if (a >= PixelTraits<COLOR>::kMaxAlpha) {
        for (std::int32_t i = 0; i < n; ++i) row[i] = color;
    } else {
        blendRow(row, n, color, a);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Boxes

template <class COLOR>
void fillImpl(const Target<COLOR>& t, COLOR color) noexcept {
    fillBoxImpl(t, t.view.bounds().translated(t.ox, t.oy), color);
}

template <class COLOR>
void fillBoxImpl(const Target<COLOR>& t, IntRect box, COLOR color) noexcept {
    const IntRect local = box.translated(-t.ox, -t.oy).intersection(t.view.bounds());
    if (local.empty() || t.view.empty()) return;
    for (std::int32_t y = local.min.y; y < local.max.y; ++y) {
        COLOR* row = t.view.row(y);
        for (std::int32_t x = local.min.x; x < local.max.x; ++x) row[x] = color;
    }
}

template <class COLOR>
void blendBoxImpl(const Target<COLOR>& t, IntRect box, COLOR color, int alpha) noexcept {
    const IntRect local = box.translated(-t.ox, -t.oy).intersection(t.view.bounds());
    if (local.empty() || t.view.empty() || alpha <= 0) return;
    for (std::int32_t y = local.min.y; y < local.max.y; ++y)
        putRow(t.view.row(y) + local.min.x, local.width(), color, alpha);
}

namespace {
// Coverage of pixel i by the span [a, b] (a <= b, both not NaN), whose first pixel is floor(a)
// and whose last is ceil(b) - 1.
inline float spanCoverage(std::int32_t i, float a, float b, double floorA, double floorB) noexcept {
    const bool first = static_cast<double>(i) == floorA;
    const bool last = static_cast<double>(i) == floorB;
    if (first && last) return b - a;
    if (first) return 1.0f - (a - static_cast<float>(floorA));
    if (last) return b - static_cast<float>(floorB);
    return 1.0f;
}
}  // namespace

template <class COLOR>
void fillBoxAAImpl(const Target<COLOR>& t, float x1, float y1, float x2, float y2, COLOR color,
                   float alpha) noexcept {
    if (!(alpha > 0.0f) || t.view.empty()) return;
    if (std::isnan(x1) || std::isnan(y1) || std::isnan(x2) || std::isnan(y2)) return;
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    const double fx1 = std::floor(static_cast<double>(x1)), fx2 = std::floor(static_cast<double>(x2));
    const double fy1 = std::floor(static_cast<double>(y1)), fy2 = std::floor(static_cast<double>(y2));
    std::int32_t c0, c1, r0, r1;
    if (!clipSpan(fx1 - t.ox, std::ceil(static_cast<double>(x2)) - t.ox, t.view.w, c0, c1)) return;
    if (!clipSpan(fy1 - t.oy, std::ceil(static_cast<double>(y2)) - t.oy, t.view.h, r0, r1)) return;
    for (std::int32_t y = r0; y < r1; ++y) {
        const float rowCoverage = spanCoverage(y + t.oy, y1, y2, fy1, fy2);
        COLOR* row = t.view.row(y);
        std::int32_t x = c0;
        // Partial columns at the start and the end; the run between them has one coverage.
        std::int32_t runEnd = c1;
        if (static_cast<double>(c1 - 1 + t.ox) == fx2) runEnd = c1 - 1;
        if (static_cast<double>(x + t.ox) == fx1 && x < c1) {
            const float c = spanCoverage(x + t.ox, x1, x2, fx1, fx2);
            put(row[x], color, PixelTraits<COLOR>::coverage(c * rowCoverage * alpha));
            ++x;
        }
        if (x < runEnd)
            putRow(row + x, runEnd - x, color, PixelTraits<COLOR>::coverage(1.0f * rowCoverage * alpha));
        for (x = x > runEnd ? x : runEnd; x < c1; ++x) {
            const float c = spanCoverage(x + t.ox, x1, x2, fx1, fx2);
            put(row[x], color, PixelTraits<COLOR>::coverage(c * rowCoverage * alpha));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Discs, points, lines

template <class COLOR>
void softDiscImpl(const Target<COLOR>& t, float cx, float cy, float r1, float r2, COLOR color,
                  float alpha) noexcept {
    if (!(alpha > 0.0f) || t.view.empty()) return;
    const double dcx = cx, dcy = cy, dr2 = r2;
    std::int32_t c0, c1, row0, row1;
    if (!clipSpan(std::trunc(dcx - dr2 - 1.0) - t.ox, std::trunc(dcx + dr2 + 1.0) - t.ox, t.view.w, c0, c1))
        return;
    if (!clipSpan(std::trunc(dcy - dr2 - 1.0) - t.oy, std::trunc(dcy + dr2 + 1.0) - t.oy, t.view.h, row0,
                  row1))
        return;
    const float r1s = r1 * r1;
    const float r2s = r2 * r2;
    const float fadeRange = r2s - r1s;
    const int full = PixelTraits<COLOR>::coverage(alpha);
    for (std::int32_t y = row0; y < row1; ++y) {
        const float dy = cy - static_cast<float>(y + t.oy);
        const float dy2 = dy * dy;
        COLOR* row = t.view.row(y);
        for (std::int32_t x = c0; x < c1; ++x) {
            const float dx = cx - static_cast<float>(x + t.ox);
            const float d2 = dx * dx + dy2;
            if (d2 < r1s) {
                put(row[x], color, full);
            } else if (d2 < r2s) {
                const float tt = (d2 - r1s) / fadeRange;
                put(row[x], color, PixelTraits<COLOR>::coverage((1.0f - tt * tt) * alpha));
            }
        }
    }
}

void pointAAImpl(const Target<RGBA>& t, float x, float y, RGBA color, int alpha) noexcept {
    if (t.view.empty() || alpha <= 0) return;
    if (alpha > 255) alpha = 255;
    // Anything two pixels or more outside the target touches nothing (this also rejects NaN).
    if (!(x > static_cast<float>(t.ox) - 2.0f && x < static_cast<float>(t.ox + t.view.w) + 2.0f)) return;
    if (!(y > static_cast<float>(t.oy) - 2.0f && y < static_cast<float>(t.oy + t.view.h) + 2.0f)) return;
    const auto X = static_cast<std::int64_t>(x * 256.0f);
    const auto Y = static_cast<std::int64_t>(y * 256.0f);
    const std::int64_t column = X >> 8, rowIndex = Y >> 8;
    const int fx = static_cast<int>(X & 255), fy = static_cast<int>(Y & 255);
    const int weights[4] = {((255 - fx) * (255 - fy)) >> 8, (fx * (255 - fy)) >> 8, ((255 - fx) * fy) >> 8,
                            (fx * fy) >> 8};
    for (int k = 0; k < 4; ++k) {
        const std::int64_t px = column + (k & 1) - t.ox;
        const std::int64_t py = rowIndex + (k >> 1) - t.oy;
        if (px < 0 || py < 0 || px >= t.view.w || py >= t.view.h) continue;
        const int a = (weights[k] * alpha) >> 8;
        PixelTraits<RGBA>::blend(t.view.at(static_cast<std::int32_t>(px), static_cast<std::int32_t>(py)),
                                 color, a);
    }
}

void lineAAImpl(const Target<RGBA>& t, float x1, float y1, float x2, float y2, RGBA color,
                int alpha) noexcept {
    if (t.view.empty() || alpha <= 0) return;
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) return;
    const float extentX = x2 - x1, extentY = y2 - y1;
    if (extentX == 0.0f && extentY == 0.0f) {
        pointAAImpl(t, x1, y1, color, alpha);
        return;
    }
    const bool majorIsX = std::fabs(extentX) > std::fabs(extentY);
    const float start = majorIsX ? x1 : y1, end = majorIsX ? x2 : y2;
    const float minorStart = majorIsX ? y1 : x1, minorEnd = majorIsX ? y2 : x2;
    const float step = end > start ? 1.0f : -1.0f;

    // Only major positions within two pixels of the target can touch it: skip whole steps up to
    // there and stop past it, so a long or far-away line costs at most the target's size.
    const std::int32_t origin = majorIsX ? t.ox : t.oy;
    const std::int32_t size = majorIsX ? t.view.w : t.view.h;
    const double lo = static_cast<double>(origin) - 2.0, hi = static_cast<double>(origin) + size + 2.0;
    double skip = 0.0;
    if (step > 0.0f && start < lo) skip = std::ceil(lo - start);
    if (step < 0.0f && start > hi) skip = std::ceil(start - hi);
    if (skip > std::fabs(static_cast<double>(end) - start) + 1.0) return;
    // Skipped steps are walked as drawn ones are (m += step), so the positions a line visits do
    // not depend on where the target starts: a part of a picture drawn alone equals that part of
    // the whole drawn at once. Beyond 2^16 steps (a line far outside any window) they are jumped.
    float m = start;
    if (skip > 65536.0)
        m = static_cast<float>(static_cast<double>(start) + step * skip);
    else
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(skip); ++i) m += step;

    const std::int64_t maxSteps = static_cast<std::int64_t>(size) + 8;
    for (std::int64_t n = 0; n <= maxSteps; ++n) {
        if (step > 0.0f ? (m > end || m > hi) : (m < end || m < lo)) break;
        const float minor = (m - start) * (minorEnd - minorStart) / (end - start) + minorStart;
        if (majorIsX)
            pointAAImpl(t, m, minor, color, alpha);
        else
            pointAAImpl(t, minor, m, color, alpha);
        m += step;
    }
}

#define KORVO_INSTANTIATE_DRAWING(COLOR)                                                        \
    template void fillImpl<COLOR>(const Target<COLOR>&, COLOR) noexcept;                        \
    template void fillBoxImpl<COLOR>(const Target<COLOR>&, IntRect, COLOR) noexcept;            \
    template void blendBoxImpl<COLOR>(const Target<COLOR>&, IntRect, COLOR, int) noexcept;      \
    template void fillBoxAAImpl<COLOR>(const Target<COLOR>&, float, float, float, float, COLOR, \
                                       float) noexcept;                                         \
    template void softDiscImpl<COLOR>(const Target<COLOR>&, float, float, float, float, COLOR,  \
                                      float) noexcept;
KORVO_INSTANTIATE_DRAWING(RGBA)
KORVO_INSTANTIATE_DRAWING(L16)
KORVO_INSTANTIATE_DRAWING(L8)
#undef KORVO_INSTANTIATE_DRAWING

}  // namespace detail
}  // namespace korvo
