// Mipmap pyramids: level sizing, the four downsampling filters and bilinear sampling.
#include "korvo/graphics/mipmap.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "korvo/core/nogc.h"

namespace korvo {

namespace {

constexpr float kLevelScale[Mipmap<RGBA>::kMaxLevels] = {
    1.0f,       0.5f,        0.25f,        0.125f,        0.0625f,        0.03125f,        0.015625f,
    0.0078125f, 0.00390625f, 0.001953125f, 0.0009765625f, 0.00048828125f, 0.000244140625f, 0.0001220703125f};

inline std::int32_t clampIndex(std::int32_t i, std::int32_t size) noexcept {
    return i < 0 ? 0 : i >= size ? size - 1 : i;
}

// Per-format channel access for the filters.
template <class COLOR>
struct Channels;
template <>
struct Channels<RGBA> {
    static constexpr int kCount = 4;
    static std::uint32_t get(const RGBA& p, int c) noexcept {
        return c == 0 ? p.r : c == 1 ? p.g : c == 2 ? p.b : p.a;
    }
    static void set(RGBA& p, int c, std::uint32_t v) noexcept {
        const auto b = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        if (c == 0)
            p.r = b;
        else if (c == 1)
            p.g = b;
        else if (c == 2)
            p.b = b;
        else
            p.a = b;
    }
};
template <>
struct Channels<L16> {
    static constexpr int kCount = 1;
    static std::uint32_t get(const L16& p, int) noexcept { return p.l; }
    static void set(L16& p, int, std::uint32_t v) noexcept {
        p.l = static_cast<std::uint16_t>(v > 65535 ? 65535 : v);
    }
};

template <class COLOR>
void boxPixel(const ImageView<COLOR>& s, std::int32_t x, std::int32_t y, COLOR& out) noexcept {
    const std::int32_t x0 = clampIndex(2 * x, s.w), x1 = clampIndex(2 * x + 1, s.w);
    const std::int32_t y0 = clampIndex(2 * y, s.h), y1 = clampIndex(2 * y + 1, s.h);
    const COLOR& a = s.at(x0, y0);
    const COLOR& b = s.at(x1, y0);
    const COLOR& c = s.at(x0, y1);
    const COLOR& d = s.at(x1, y1);
    for (int ch = 0; ch < Channels<COLOR>::kCount; ++ch) {
        using C = Channels<COLOR>;
        C::set(out, ch, (C::get(a, ch) + C::get(b, ch) + C::get(c, ch) + C::get(d, ch) + 2) >> 2);
    }
}

template <class COLOR>
void cubicPixel(const ImageView<COLOR>& s, std::int32_t x, std::int32_t y, COLOR& out) noexcept {
    static constexpr std::uint32_t kWeights[4] = {1, 3, 3, 1};
    const std::int32_t xs[4] = {clampIndex(2 * x - 1, s.w), clampIndex(2 * x, s.w),
                                clampIndex(2 * x + 1, s.w), clampIndex(2 * x + 2, s.w)};
    const std::int32_t ys[4] = {clampIndex(2 * y - 1, s.h), clampIndex(2 * y, s.h),
                                clampIndex(2 * y + 1, s.h), clampIndex(2 * y + 2, s.h)};
    using C = Channels<COLOR>;
    std::uint32_t sums[C::kCount] = {};
    for (int j = 0; j < 4; ++j) {
        const COLOR* row = s.row(ys[j]);
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t w = kWeights[i] * kWeights[j];
            for (int ch = 0; ch < C::kCount; ++ch) sums[ch] += w * C::get(row[xs[i]], ch);
        }
    }
    for (int ch = 0; ch < C::kCount; ++ch) C::set(out, ch, (sums[ch] + 32) >> 6);
}

// The RGBA form of the cubic filter, written out per channel (the hot path of pyramid updates).
template <>
void cubicPixel<RGBA>(const ImageView<RGBA>& s, std::int32_t x, std::int32_t y, RGBA& out) noexcept {
    static constexpr std::uint32_t kWeights[4] = {1, 3, 3, 1};
    const std::int32_t xs[4] = {clampIndex(2 * x - 1, s.w), clampIndex(2 * x, s.w),
                                clampIndex(2 * x + 1, s.w), clampIndex(2 * x + 2, s.w)};
    std::uint32_t r = 0, g = 0, b = 0, a = 0;
    for (int j = 0; j < 4; ++j) {
        const RGBA* row = s.row(clampIndex(2 * y - 1 + j, s.h));
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t w = kWeights[i] * kWeights[j];
            const RGBA p = row[xs[i]];
            r += w * p.r;
            g += w * p.g;
            b += w * p.b;
            a += w * p.a;
        }
    }
    // At most 64 x 255 + 32 before the shift: the results fit in a byte.
    out = RGBA{static_cast<std::uint8_t>((r + 32) >> 6), static_cast<std::uint8_t>((g + 32) >> 6),
               static_cast<std::uint8_t>((b + 32) >> 6), static_cast<std::uint8_t>((a + 32) >> 6)};
}

template <>
void boxPixel<RGBA>(const ImageView<RGBA>& s, std::int32_t x, std::int32_t y, RGBA& out) noexcept {
    const std::int32_t x0 = clampIndex(2 * x, s.w), x1 = clampIndex(2 * x + 1, s.w);
    const RGBA* top = s.row(clampIndex(2 * y, s.h));
    const RGBA* bottom = s.row(clampIndex(2 * y + 1, s.h));
    const RGBA p = top[x0], q = top[x1], u = bottom[x0], v = bottom[x1];
    out = RGBA{static_cast<std::uint8_t>((p.r + q.r + u.r + v.r + 2) >> 2),
               static_cast<std::uint8_t>((p.g + q.g + u.g + v.g + 2) >> 2),
               static_cast<std::uint8_t>((p.b + q.b + u.b + v.b + 2) >> 2),
               static_cast<std::uint8_t>((p.a + q.a + u.a + v.a + 2) >> 2)};
}

void premultipliedPixel(const ImageView<RGBA>& s, std::int32_t x, std::int32_t y, RGBA& out) noexcept {
    const std::int32_t x0 = clampIndex(2 * x, s.w), x1 = clampIndex(2 * x + 1, s.w);
    const std::int32_t y0 = clampIndex(2 * y, s.h), y1 = clampIndex(2 * y + 1, s.h);
    const RGBA* taps[4] = {&s.at(x0, y0), &s.at(x1, y0), &s.at(x0, y1), &s.at(x1, y1)};
    std::uint32_t r = 0, g = 0, b = 0, a = 0;
    for (const RGBA* p : taps) {
        r += std::uint32_t{p->r} * p->a;
        g += std::uint32_t{p->g} * p->a;
        b += std::uint32_t{p->b} * p->a;
        a += std::uint32_t{p->a} * p->a;
    }
    auto out8 = [](std::uint32_t sum) {
        return static_cast<std::uint8_t>(((sum + 512) >> 10) > 255 ? 255 : (sum + 512) >> 10);
    };
    out = RGBA{out8(r), out8(g), out8(b), out8(a)};
}

void alphaWeightedPixel(const ImageView<RGBA>& s, std::int32_t x, std::int32_t y, RGBA& out) noexcept {
    const std::int32_t x0 = clampIndex(2 * x, s.w), x1 = clampIndex(2 * x + 1, s.w);
    const std::int32_t y0 = clampIndex(2 * y, s.h), y1 = clampIndex(2 * y + 1, s.h);
    const RGBA* taps[4] = {&s.at(x0, y0), &s.at(x1, y0), &s.at(x0, y1), &s.at(x1, y1)};
    std::uint32_t r = 0, g = 0, b = 0, a = 0;
    for (const RGBA* p : taps) {
        r += std::uint32_t{p->r} * p->a;
        g += std::uint32_t{p->g} * p->a;
        b += std::uint32_t{p->b} * p->a;
        a += p->a;
    }
    if (a == 0) {  // fully transparent block: plain average
        boxPixel(s, x, y, out);
        return;
    }
    out = RGBA{static_cast<std::uint8_t>((r + a / 2) / a), static_cast<std::uint8_t>((g + a / 2) / a),
               static_cast<std::uint8_t>((b + a / 2) / a), static_cast<std::uint8_t>((a + 2) >> 2)};
}

// The RGBA filters on the columns whose taps all lie inside the source row, in SSE2 integer
// lanes: the same sums as the per-pixel forms, so the same bytes. Each returns the first column
// it did not do.

// premultipliedBox, two outputs per step: taps 2x .. 2x + 3 of two rows.
std::int32_t premultipliedRun(const ImageView<RGBA>& s, std::int32_t y, std::int32_t x, std::int32_t end,
                              RGBA* out) noexcept {
    const RGBA* top = s.row(clampIndex(2 * y, s.h));
    const RGBA* bottom = s.row(clampIndex(2 * y + 1, s.h));
    const __m128i zero = _mm_setzero_si128();
    // Each pixel's channels times its alpha, as 32-bit sums of the two pixels of a row pair.
    auto products = [zero](__m128i pixels16) {
        const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels16, 0xFF), 0xFF);
        const __m128i p = _mm_mullo_epi16(pixels16, alpha);  // at most 255 * 255: fits 16 bits unsigned
        return _mm_add_epi32(_mm_unpacklo_epi16(p, zero), _mm_unpackhi_epi16(p, zero));
    };
    for (; x + 2 <= end && 2 * x + 3 < s.w; x += 2) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x));
        const __m128i bias = _mm_set1_epi32(512);
        const __m128i first = _mm_srli_epi32(
            _mm_add_epi32(
                _mm_add_epi32(products(_mm_unpacklo_epi8(t, zero)), products(_mm_unpacklo_epi8(b, zero))),
                bias),
            10);
        const __m128i second = _mm_srli_epi32(
            _mm_add_epi32(
                _mm_add_epi32(products(_mm_unpackhi_epi8(t, zero)), products(_mm_unpackhi_epi8(b, zero))),
                bias),
            10);
        const __m128i packed = _mm_packs_epi32(first, second);  // at most 254: no clamping happens
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(packed, packed));
    }
    return x;
}

// cubic, one output per step: taps 2x - 1 .. 2x + 2 of four rows (rows clamped).
std::int32_t cubicRun(const ImageView<RGBA>& s, std::int32_t y, std::int32_t x, std::int32_t end,
                      RGBA* out) noexcept {
    if (x < 1) return x;
    const RGBA* rows[4];
    for (int j = 0; j < 4; ++j) rows[j] = s.row(clampIndex(2 * y - 1 + j, s.h));
    const __m128i zero = _mm_setzero_si128();
    const __m128i leftWeights = _mm_setr_epi16(1, 1, 1, 1, 3, 3, 3, 3);
    const __m128i rightWeights = _mm_setr_epi16(3, 3, 3, 3, 1, 1, 1, 1);
    for (; x < end && 2 * x + 2 < s.w; ++x) {
        __m128i v[4];
        for (int j = 0; j < 4; ++j)
            v[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + 2 * x - 1));
        // Rows weighted 1 3 3 1 (at most 8 x 255), then columns 1 3 | 3 1 (at most 64 x 255).
        auto column = [&](auto unpack) {
            const __m128i inner = _mm_add_epi16(unpack(v[1], zero), unpack(v[2], zero));
            return _mm_add_epi16(_mm_add_epi16(unpack(v[0], zero), unpack(v[3], zero)),
                                 _mm_add_epi16(inner, _mm_add_epi16(inner, inner)));
        };
        const __m128i left = column([](__m128i a, __m128i b) { return _mm_unpacklo_epi8(a, b); });
        const __m128i right = column([](__m128i a, __m128i b) { return _mm_unpackhi_epi8(a, b); });
        const __m128i halves =
            _mm_add_epi16(_mm_mullo_epi16(left, leftWeights), _mm_mullo_epi16(right, rightWeights));
        const __m128i sum = _mm_add_epi16(halves, _mm_srli_si128(halves, 8));
        const __m128i result = _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(32)), 6);
        const int bits = _mm_cvtsi128_si32(_mm_packus_epi16(result, result));
        std::memcpy(static_cast<void*>(out + x), &bits, 4);
    }
    return x;
}

}  // namespace

template <class COLOR>
void downsample(Filter quality, const ImageView<COLOR>& source, const ImageView<COLOR>& destination,
                IntRect rect) noexcept {
    const IntRect r = rect.intersection(destination.bounds());
    if (r.empty() || source.empty() || destination.empty()) return;
    for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
        COLOR* row = destination.row(y);
        for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
            if constexpr (std::is_same_v<COLOR, RGBA>) {
                // Columns whose taps need no clamping go in runs, the edges pixel by pixel.
                std::int32_t done = x;
                if (quality == Filter::premultipliedBox)
                    done = premultipliedRun(source, y, x, r.max.x, row);
                else if (quality == Filter::cubic)
                    done = cubicRun(source, y, x, r.max.x, row);
                if (done > x) {
                    x = done - 1;
                    continue;
                }
            }
            switch (quality) {
                case Filter::cubic:
                    cubicPixel(source, x, y, row[x]);
                    break;
                case Filter::premultipliedBox:
                    if constexpr (std::is_same_v<COLOR, RGBA>)
                        premultipliedPixel(source, x, y, row[x]);
                    else
                        boxPixel(source, x, y, row[x]);
                    break;
                case Filter::alphaWeightedBox:
                    if constexpr (std::is_same_v<COLOR, RGBA>)
                        alphaWeightedPixel(source, x, y, row[x]);
                    else
                        boxPixel(source, x, y, row[x]);
                    break;
                case Filter::box:
                default:
                    boxPixel(source, x, y, row[x]);
                    break;
            }
        }
    }
}

template <class COLOR>
Mipmap<COLOR>::Mipmap(int maxLevel, OwnedImage<COLOR>* image) noexcept {
    setSize(maxLevel, image->w(), image->h());
    if (levels_.empty()) {  // no level fits: the mipmap still owns the image
        heapDelete(image);
        return;
    }
    heapDelete(levels_[0]);
    levels_[0] = image;
    IntRect all{{0, 0}, {image->w(), image->h()}};
    for (int i = 1; i < numLevels(); ++i) all = updateLevel(i >= 3 ? Filter::cubic : Filter::box, all, i);
}

template <class COLOR>
Mipmap<COLOR>::~Mipmap() {
    for (OwnedImage<COLOR>* image : levels_) heapDelete(image);
}

template <class COLOR>
void Mipmap<COLOR>::setSize(int maxLevel, std::int32_t w, std::int32_t h) noexcept {
    int n = 0;
    if (maxLevel >= 0 && w > 0 && h > 0) {
        const int limit = maxLevel + 1 < kMaxLevels ? maxLevel + 1 : kMaxLevels;
        while (n < limit && (w >> n) > 0 && (h >> n) > 0) ++n;
    }
    const std::size_t count = static_cast<std::size_t>(n);
    for (std::size_t i = count; i < levels_.length(); ++i) heapDelete(levels_[i]);
    const std::size_t old = levels_.length() < count ? levels_.length() : count;
    levels_.resize(count);
    for (std::size_t i = old; i < count; ++i) levels_[i] = heapNew<OwnedImage<COLOR>>();
    for (std::size_t i = 0; i < count; ++i) levels_[i]->setSize(w >> i, h >> i);
}

template <class COLOR>
IntRect Mipmap<COLOR>::updateLevel(Filter quality, IntRect updateRect, int level) noexcept {
    if (level < 1 || level >= numLevels()) return IntRect{};
    if (static_cast<std::int32_t>(quality) < 0 || static_cast<std::int32_t>(quality) > 3) return IntRect{};
    OwnedImage<COLOR>& below = this->level(level - 1);
    const std::int64_t w = below.w(), h = below.h();
    // 64-bit arithmetic: the growth must not overflow for extreme rectangles.
    std::int64_t x0 = updateRect.min.x, y0 = updateRect.min.y, x1 = updateRect.max.x, y1 = updateRect.max.y;
    if (quality == Filter::cubic) {
        x0 -= 1, y0 -= 1, x1 += 2, y1 += 2;
    } else {
        x1 += 1, y1 += 1;
    }
    x0 /= 2, y0 /= 2, x1 /= 2, y1 /= 2;
    IntRect result;
    if (x1 <= x0 || y1 <= y0) {
        // Empty: returned as is (the halves of int32 values fit again).
        return IntRect{{static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0)},
                       {static_cast<std::int32_t>(x1), static_cast<std::int32_t>(y1)}};
    }
    if (w < 2 || h < 2) {
        result = IntRect{{0, 0}, {static_cast<std::int32_t>(w / 2), static_cast<std::int32_t>(h / 2)}};
    } else {
        auto clamp = [](std::int64_t v, std::int64_t hi) { return v < 0 ? 0 : v > hi ? hi : v; };
        const std::int64_t cx0 = clamp(x0, w / 2), cy0 = clamp(y0, h / 2);
        std::int64_t cx1 = clamp(x1, w / 2), cy1 = clamp(y1, h / 2);
        if (cx1 < cx0) cx1 = cx0;
        if (cy1 < cy0) cy1 = cy0;
        result = IntRect{{static_cast<std::int32_t>(cx0), static_cast<std::int32_t>(cy0)},
                         {static_cast<std::int32_t>(cx1), static_cast<std::int32_t>(cy1)}};
    }
    downsample(quality, below.view(), this->level(level).view(), result);
    return result;
}

namespace {
// Shared part of the bilinear samplers: the four taps and the weights.
struct BilinearTaps {
    std::int32_t x0, y0, x1, y1;
    float u, v;
};
inline BilinearTaps bilinearTaps(int level, float x, float y, std::int32_t w, std::int32_t h) noexcept {
    const float scale = kLevelScale[level];
    auto clampPos = [](float p, std::int32_t size) {
        if (std::isnan(p)) return 0.0f;
        float v = p;
        const float hi = static_cast<float>(size) - 1.001f;
        if (v > hi) v = hi;
        if (!(v >= 0.0f)) v = 0.0f;
        return v;
    };
    const float fx = clampPos(x * scale - 0.5f, w);
    const float fy = clampPos(y * scale - 0.5f, h);
    const auto ix = static_cast<std::int32_t>(fx), iy = static_cast<std::int32_t>(fy);
    return BilinearTaps{ix,
                        iy,
                        ix + 1 < w ? ix + 1 : w - 1,
                        iy + 1 < h ? iy + 1 : h - 1,
                        fx - static_cast<float>(ix),
                        fy - static_cast<float>(iy)};
}
}  // namespace

template <class COLOR>
RGBAf Mipmap<COLOR>::sampleBilinear(int level, float x,
                                    float y) const noexcept requires std::is_same_v<COLOR, RGBA> {
    if (levels_.empty()) return RGBAf{};
    if (level < 0) level = 0;
    if (level >= numLevels()) level = numLevels() - 1;
    const OwnedImage<RGBA>& image = this->level(level);
    if (image.w() <= 0 || image.h() <= 0) return RGBAf{};
    const BilinearTaps t = bilinearTaps(level, x, y, image.w(), image.h());
    const ImageView<RGBA> v = image.view();
    const RGBA& p00 = v.at(t.x0, t.y0);
    const RGBA& p10 = v.at(t.x1, t.y0);
    const RGBA& p01 = v.at(t.x0, t.y1);
    const RGBA& p11 = v.at(t.x1, t.y1);
    auto lerp2 = [&](float a, float b, float c, float d) {
        const float top = a + (b - a) * t.u;
        const float bottom = c + (d - c) * t.u;
        return top + (bottom - top) * t.v;
    };
    return RGBAf{lerp2(p00.r, p10.r, p01.r, p11.r), lerp2(p00.g, p10.g, p01.g, p11.g),
                 lerp2(p00.b, p10.b, p01.b, p11.b), lerp2(p00.a, p10.a, p01.a, p11.a)};
}

template <class COLOR>
float Mipmap<COLOR>::sampleBilinear(int level, float x,
                                    float y) const noexcept requires std::is_same_v<COLOR, L16> {
    if (levels_.empty()) return 0.0f;
    if (level < 0) level = 0;
    if (level >= numLevels()) level = numLevels() - 1;
    const OwnedImage<L16>& image = this->level(level);
    if (image.w() <= 0 || image.h() <= 0) return 0.0f;
    const BilinearTaps t = bilinearTaps(level, x, y, image.w(), image.h());
    const ImageView<L16> v = image.view();
    const float a = v.at(t.x0, t.y0).l, b = v.at(t.x1, t.y0).l, c = v.at(t.x0, t.y1).l,
                d = v.at(t.x1, t.y1).l;
    const float top = a + (b - a) * t.u;
    const float bottom = c + (d - c) * t.u;
    return top + (bottom - top) * t.v;
}

template class Mipmap<RGBA>;
template class Mipmap<L16>;
template void downsample<RGBA>(Filter, const ImageView<RGBA>&, const ImageView<RGBA>&, IntRect) noexcept;
template void downsample<L16>(Filter, const ImageView<L16>&, const ImageView<L16>&, IntRect) noexcept;

}  // namespace korvo
