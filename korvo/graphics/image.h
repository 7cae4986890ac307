#pragma once
// Pixels, image views, owned images and the drawing primitives.
//
// Pixel formats: RGBA (four unsigned bytes r, g, b, a in that order), L16 (one unsigned 16-bit
// value; for depth 0 is deepest and 65535 nearest the viewer) and L8 (one byte: glyph coverage,
// masks).
//
// ImageView is a non-owning window on pixels: row y starts at pixels + y * pitch bytes.
// CroppedView looks into an ImageView through a crop box; coordinates given to a primitive drawing
// into a cropped view are relative to the box's corner, and the drawing is clipped to the box (and
// to the image, if the box reaches outside it). OwnedImage owns its pixels in one 128-byte aligned
// block with packed rows.
//
// Drawing primitives are free functions. Each one clips to its target whatever the arguments:
// coordinates and radii may be negative, huge, infinite or NaN (values derived from host audio end
// up here) and nothing is ever written outside the view; a NaN position or size draws nothing.
// No primitive allocates.
//
// Blending arithmetic, shared by every primitive:
//   RGBA: coverage a in 0..255 (a float coverage c becomes trunc(c * 255 + 0.5)); each of the four
//         channels becomes (old * (255 - a) + color * a) / 255, the division done as a
//         multiplication by 0x8081 and a shift right by 23. a = 255 stores the colour, a = 0
//         leaves the pixel.
//   L16:  coverage a in 0..65535 (trunc(c * 65535 + 0.5)); (old * (65535 - a) + color * a) / 65535
//         with truncating integer division.
//   L8:   as one RGBA channel.
// Coverage is evaluated at the integer pixel coordinates (no half-pixel offset).
//
// Thread contract: [any-thread]. Views carry no lock; several threads may draw into disjoint
// parts of one image at once.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "korvo/graphics/rect.h"

namespace korvo {

struct RGBA {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const RGBA&, const RGBA&) = default;
};
struct L16 {
    std::uint16_t l = 0;
    friend bool operator==(const L16&, const L16&) = default;
};
struct L8 {
    std::uint8_t l = 0;
    friend bool operator==(const L8&, const L8&) = default;
};
static_assert(sizeof(RGBA) == 4 && sizeof(L16) == 2 && sizeof(L8) == 1);

// Non-owning view: w x h pixels, rows `pitch` bytes apart.
template <class COLOR>
struct ImageView {
    std::int32_t w = 0;
    std::int32_t h = 0;
    std::ptrdiff_t pitch = 0;  // bytes between the starts of two rows (may exceed w * pixel size)
    COLOR* pixels = nullptr;   // pixel (0, 0)

    bool empty() const noexcept { return w <= 0 || h <= 0 || pixels == nullptr; }
    IntRect bounds() const noexcept { return IntRect{{0, 0}, {w, h}}; }
    // Row y, unchecked.
    COLOR* row(std::int32_t y) const noexcept {
        return reinterpret_cast<COLOR*>(reinterpret_cast<std::uint8_t*>(pixels) + y * pitch);
    }
    // Pixel (x, y), unchecked.
    COLOR& at(std::int32_t x, std::int32_t y) const noexcept { return row(y)[x]; }
    // The view of box b clipped to this view (same pitch; empty when they do not meet).
    ImageView sub(const IntRect& b) const noexcept {
        const IntRect c = b.intersection(bounds());
        if (c.empty()) return ImageView{0, 0, pitch, pixels};
        return ImageView{c.width(), c.height(), pitch, row(c.min.y) + c.min.x};
    }
};

// A view into `image` through `crop`: pixel (x, y) of the cropped view is pixel
// (crop.min.x + x, crop.min.y + y) of the image; drawing is clipped to the crop box.
template <class COLOR>
struct CroppedView {
    ImageView<COLOR> image;
    IntRect crop;

    std::int32_t w() const noexcept { return crop.width(); }
    std::int32_t h() const noexcept { return crop.height(); }
};

// Heap-owned image with packed rows (pitch = w * pixel size) in a 128-byte aligned block.
// Created with heapNew; instances for RGBA, L16 and L8.
template <class COLOR>
class OwnedImage final {
public:
    static constexpr std::size_t kAlignment = 128;

    // A w x h image (negative sizes count as 0); pixel contents are undefined. [any-thread]
    explicit OwnedImage(std::int32_t w = 0, std::int32_t h = 0) noexcept;
    ~OwnedImage();
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;

    // Row y as a view of w x 1 pixels.
    virtual ImageView<COLOR> row(std::int32_t y) noexcept;
    // Address of pixel (x, y), unchecked.
    virtual COLOR* pixelAt(std::int32_t x, std::int32_t y) noexcept;
    // Stores one pixel; coordinates outside the image are ignored.
    virtual void setPixel(COLOR color, std::int32_t x, std::int32_t y) noexcept;
    // New size (negative counts as 0); the block is resized with alignedResize, the contents are
    // left in no defined arrangement. Allocates. [main-thread]
    virtual void setSize(std::int32_t newW, std::int32_t newH) noexcept;
    virtual std::int64_t pixelCount() const noexcept { return static_cast<std::int64_t>(w_) * h_; }

    ImageView<COLOR> view() noexcept {
        return ImageView<COLOR>{
            w_, h_, static_cast<std::ptrdiff_t>(w_) * static_cast<std::ptrdiff_t>(sizeof(COLOR)), pixels_};
    }
    // The same view from a const image (the view, like a pointer, does not carry constness).
    ImageView<COLOR> view() const noexcept { return const_cast<OwnedImage*>(this)->view(); }
    std::int32_t w() const noexcept { return w_; }
    std::int32_t h() const noexcept { return h_; }
    COLOR* pixels() noexcept { return pixels_; }
    const COLOR* pixels() const noexcept { return pixels_; }

private:
    std::int32_t w_ = 0;
    std::int32_t h_ = 0;
    COLOR* pixels_ = nullptr;
};

extern template class OwnedImage<RGBA>;
extern template class OwnedImage<L16>;
extern template class OwnedImage<L8>;

// ---------------------------------------------------------------------------------------------
// Drawing primitives. Each takes an ImageView or a CroppedView as its target; COLOR is RGBA, L16
// or L8 unless stated. Coordinates are pixels of the target.

// Every pixel.
template <class COLOR>
void fill(const ImageView<COLOR>& image, COLOR color) noexcept;
template <class COLOR>
void fill(const CroppedView<COLOR>& image, COLOR color) noexcept;

// Opaque fill of an integer box (max exclusive).
template <class COLOR>
void fillBox(const ImageView<COLOR>& image, IntRect box, COLOR color) noexcept;
template <class COLOR>
void fillBox(const CroppedView<COLOR>& image, IntRect box, COLOR color) noexcept;

// Blend of an integer box with a coverage: 0..255 for RGBA and L8, 0..65535 for L16 (larger values
// are clamped); alpha 0 draws nothing, full alpha stores the colour.
template <class COLOR>
void blendBox(const ImageView<COLOR>& image, IntRect box, COLOR color, int alpha) noexcept;
template <class COLOR>
void blendBox(const CroppedView<COLOR>& image, IntRect box, COLOR color, int alpha) noexcept;
// The same with alpha as a float 0..1 (converted with alpha * 255 + 0.5, resp. * 65535 + 0.5,
// truncated; NaN counts as 0).
template <class COLOR>
void blendBox(const ImageView<COLOR>& image, IntRect box, COLOR color, float alpha) noexcept;
template <class COLOR>
void blendBox(const CroppedView<COLOR>& image, IntRect box, COLOR color, float alpha) noexcept;

// Anti-aliased fill of the box with float corners (x1, y1)-(x2, y2), given in either order.
// Column i is covered by the length of [i, i + 1] inside [x1, x2] (1 - fraction at the start, the
// fraction at the end), rows likewise; a pixel's coverage is column coverage x row coverage x
// alpha (0..1). Alpha 0 draws nothing.
template <class COLOR>
void fillBoxAA(const ImageView<COLOR>& image, float x1, float y1, float x2, float y2, COLOR color,
               float alpha) noexcept;
template <class COLOR>
void fillBoxAA(const CroppedView<COLOR>& image, float x1, float y1, float x2, float y2, COLOR color,
               float alpha) noexcept;

// Gradients over a box, stored opaquely: for a row (resp. column) at position p,
// t = (p - box.min) / box height (resp. width), weight = trunc(curve(t) * 65535 + 0.5) clamped to
// 0..65535, colour = (c0 * (65535 - weight) + c1 * weight) / 65535 per channel. curve is any
// callable float(float), e.g. [](float t) { return t * t; }.
template <class COLOR, class Curve>
void fillVerticalGradient(const ImageView<COLOR>& image, IntRect box, COLOR c0, COLOR c1,
                          Curve&& curve) noexcept;
template <class COLOR, class Curve>
void fillHorizontalGradient(const ImageView<COLOR>& image, IntRect box, COLOR c0, COLOR c1,
                            Curve&& curve) noexcept;
template <class COLOR, class Curve>
void fillVerticalGradient(const CroppedView<COLOR>& image, IntRect box, COLOR c0, COLOR c1,
                          Curve&& curve) noexcept;
template <class COLOR, class Curve>
void fillHorizontalGradient(const CroppedView<COLOR>& image, IntRect box, COLOR c0, COLOR c1,
                            Curve&& curve) noexcept;

// Disc centred on (cx, cy): full coverage (alpha, 0..1) where the squared distance d² to the
// pixel is below r1², fading as (1 - t²) x alpha with t = (d² - r1²) / (r2² - r1²) up to r2, where
// it reaches nothing. The caller keeps r1 below r2. Only rows and columns from
// trunc(c - r2 - 1) to trunc(c + r2 + 1) (clipped) are visited.
template <class COLOR>
void softDisc(const ImageView<COLOR>& image, float cx, float cy, float r1, float r2, COLOR color,
              float alpha) noexcept;
template <class COLOR>
void softDisc(const CroppedView<COLOR>& image, float cx, float cy, float r1, float r2, COLOR color,
              float alpha) noexcept;

// RGBA only. A point at a fractional position spread over the 2 x 2 pixels around it with weights
// from the position's eighth-bit fractions (X = trunc(x * 256), column X >> 8, fraction X & 255),
// each pixel inside the target blended with coverage (weight * alpha) >> 8, alpha 0..255. All four
// channels, the alpha byte included, are blended.
void pointAA(const ImageView<RGBA>& image, float x, float y, RGBA color, int alpha) noexcept;
void pointAA(const CroppedView<RGBA>& image, float x, float y, RGBA color, int alpha) noexcept;

// RGBA only. A line from (x1, y1) to (x2, y2): one pointAA per pixel step along the major axis
// (the axis of the larger extent; y when they are equal), the minor coordinate interpolated
// linearly. The first point is the start; the end is drawn when the extent is a whole number. A
// line of zero length draws one point. A line with a non-finite end draws nothing.
void lineAA(const ImageView<RGBA>& image, float x1, float y1, float x2, float y2, RGBA color,
            int alpha) noexcept;
void lineAA(const CroppedView<RGBA>& image, float x1, float y1, float x2, float y2, RGBA color,
            int alpha) noexcept;

// Row-by-row copy between two views of the same format; copies the common size (the smaller
// width and height), so views of the same size copy whole.
template <class COLOR>
void copyBox(const ImageView<COLOR>& source, const ImageView<COLOR>& destination) noexcept;
// Copies the source view to (x, y) of the destination, clipped.
template <class COLOR>
void blit(const ImageView<COLOR>& source, const ImageView<COLOR>& destination, std::int32_t x,
          std::int32_t y) noexcept;

// ---------------------------------------------------------------------------------------------
// Implementation detail: blending of single pixels and rows, shared with the font and mipmap code.
namespace detail {

// Float coverage 0..1 to integer coverage; NaN and negatives give 0, values above 1 the maximum.
inline int coverage255(float c) noexcept {
    const float v = c * 255.0f + 0.5f;
    if (!(v >= 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<int>(v);
}
inline int coverage65535(float c) noexcept {
    const float v = c * 65535.0f + 0.5f;
    if (!(v >= 0.0f)) return 0;
    if (v >= 65535.0f) return 65535;
    return static_cast<int>(v);
}

inline std::uint8_t blend8(std::uint32_t old, std::uint32_t color, std::uint32_t a) noexcept {
    return static_cast<std::uint8_t>(((old * (255u - a) + color * a) * 0x8081u) >> 23);
}

template <class COLOR>
struct PixelTraits;
template <>
struct PixelTraits<RGBA> {
    static constexpr int kMaxAlpha = 255;
    static int coverage(float c) noexcept { return coverage255(c); }
    static void blend(RGBA& p, RGBA c, int a) noexcept {
        const auto ua = static_cast<std::uint32_t>(a);
        p.r = blend8(p.r, c.r, ua);
        p.g = blend8(p.g, c.g, ua);
        p.b = blend8(p.b, c.b, ua);
        p.a = blend8(p.a, c.a, ua);
    }
    static RGBA mix16(RGBA c0, RGBA c1, std::uint32_t w) noexcept {
        auto m = [w](std::uint32_t a, std::uint32_t b) {
            return static_cast<std::uint8_t>((a * (65535u - w) + b * w) / 65535u);
        };
        return RGBA{m(c0.r, c1.r), m(c0.g, c1.g), m(c0.b, c1.b), m(c0.a, c1.a)};
    }
};
template <>
struct PixelTraits<L16> {
    static constexpr int kMaxAlpha = 65535;
    static int coverage(float c) noexcept { return coverage65535(c); }
    static void blend(L16& p, L16 c, int a) noexcept {
        const auto ua = static_cast<std::uint32_t>(a);
        p.l = static_cast<std::uint16_t>((p.l * (65535u - ua) + c.l * ua) / 65535u);
    }
    static L16 mix16(L16 c0, L16 c1, std::uint32_t w) noexcept {
        return L16{static_cast<std::uint16_t>((c0.l * (65535u - w) + c1.l * w) / 65535u)};
    }
};
template <>
struct PixelTraits<L8> {
    static constexpr int kMaxAlpha = 255;
    static int coverage(float c) noexcept { return coverage255(c); }
    static void blend(L8& p, L8 c, int a) noexcept { p.l = blend8(p.l, c.l, static_cast<std::uint32_t>(a)); }
    static L8 mix16(L8 c0, L8 c1, std::uint32_t w) noexcept {
        return L8{static_cast<std::uint8_t>((c0.l * (65535u - w) + c1.l * w) / 65535u)};
    }
};

// Blends n pixels of a row with one colour and one coverage (0 < a < max). The RGBA form uses SSE2;
// blendRowScalar is the reference formula it must match byte for byte.
void blendRow(RGBA* row, std::int32_t n, RGBA color, int a) noexcept;
void blendRowScalar(RGBA* row, std::int32_t n, RGBA color, int a) noexcept;
template <class COLOR>
inline void blendRow(COLOR* row, std::int32_t n, COLOR color, int a) noexcept {
    for (std::int32_t i = 0; i < n; ++i) PixelTraits<COLOR>::blend(row[i], color, a);
}

// A drawing target: the clipped view and the target coordinates of its pixel (0, 0).
template <class COLOR>
struct Target {
    ImageView<COLOR> view;
    std::int32_t ox = 0, oy = 0;
};
template <class COLOR>
inline Target<COLOR> targetOf(const ImageView<COLOR>& v) noexcept {
    if (v.empty()) return Target<COLOR>{ImageView<COLOR>{0, 0, v.pitch, v.pixels}, 0, 0};
    return Target<COLOR>{v, 0, 0};
}
template <class COLOR>
inline Target<COLOR> targetOf(const CroppedView<COLOR>& c) noexcept {
    const IntRect crop = c.crop;
    const IntRect clipped = crop.intersection(c.image.bounds());
    // A crop corner beyond +-2^30 would overflow the offsets; such a box is treated as empty.
    constexpr std::int32_t kLimit = 1 << 30;
    const bool sane =
        crop.min.x > -kLimit && crop.min.x < kLimit && crop.min.y > -kLimit && crop.min.y < kLimit;
    if (!sane || clipped.empty() || c.image.pixels == nullptr)
        return Target<COLOR>{ImageView<COLOR>{0, 0, 0, nullptr}, 0, 0};
    return Target<COLOR>{c.image.sub(clipped), clipped.min.x - crop.min.x, clipped.min.y - crop.min.y};
}

// Clamps a float range [lo, hi) of pixel indices to [0, size): returns false when empty or NaN.
bool clipSpan(double lo, double hi, std::int32_t size, std::int32_t& first, std::int32_t& end) noexcept;

template <class COLOR>
void fillImpl(const Target<COLOR>& t, COLOR color) noexcept;
template <class COLOR>
void fillBoxImpl(const Target<COLOR>& t, IntRect box, COLOR color) noexcept;
template <class COLOR>
void blendBoxImpl(const Target<COLOR>& t, IntRect box, COLOR color, int alpha) noexcept;
template <class COLOR>
void fillBoxAAImpl(const Target<COLOR>& t, float x1, float y1, float x2, float y2, COLOR color,
                   float alpha) noexcept;
template <class COLOR>
void softDiscImpl(const Target<COLOR>& t, float cx, float cy, float r1, float r2, COLOR color,
                  float alpha) noexcept;
void pointAAImpl(const Target<RGBA>& t, float x, float y, RGBA color, int alpha) noexcept;
void lineAAImpl(const Target<RGBA>& t, float x1, float y1, float x2, float y2, RGBA color,
                int alpha) noexcept;

template <class COLOR, class Curve>
void gradientImpl(const Target<COLOR>& t, IntRect box, COLOR c0, COLOR c1, Curve& curve,
                  bool vertical) noexcept {
    const IntRect local = box.translated(-t.ox, -t.oy).intersection(t.view.bounds());
    if (local.empty()) return;
    const std::int64_t extent = vertical ? box.height() : box.width();
    const std::int32_t start = vertical ? box.min.y : box.min.x;
    auto weightAt = [&](std::int32_t p) {
        const float tt = static_cast<float>(static_cast<double>(p - start) / static_cast<double>(extent));
        return static_cast<std::uint32_t>(coverage65535(curve(tt)));
    };
    for (std::int32_t y = local.min.y; y < local.max.y; ++y) {
        COLOR* row = t.view.row(y);
        if (vertical) {
            const COLOR c = PixelTraits<COLOR>::mix16(c0, c1, weightAt(y + t.oy));
            for (std::int32_t x = local.min.x; x < local.max.x; ++x) row[x] = c;
        } else {
            for (std::int32_t x = local.min.x; x < local.max.x; ++x)
                row[x] = PixelTraits<COLOR>::mix16(c0, c1, weightAt(x + t.ox));
        }
    }
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Thin forwarding of the public overloads.

template <class COLOR>
void fill(const ImageView<COLOR>& image, COLOR color) noexcept {
    detail::fillImpl(detail::targetOf(image), color);
}
template <class COLOR>
void fill(const CroppedView<COLOR>& image, COLOR color) noexcept {
    detail::fillImpl(detail::targetOf(image), color);
}
template <class COLOR>
void fillBox(const ImageView<COLOR>& image, IntRect box, COLOR color) noexcept {
    detail::fillBoxImpl(detail::targetOf(image), box, color);
}
template <class COLOR>
void fillBox(const CroppedView<COLOR>& image, IntRect box, COLOR color) noexcept {
    detail::fillBoxImpl(detail::targetOf(image), box, color);
}
template <class COLOR>
void blendBox(const ImageView<COLOR>& image, IntRect box, COLOR color, int alpha) noexcept {
    detail::blendBoxImpl(detail::targetOf(image), box, color, alpha);
}
template <class COLOR>
void blendBox(const CroppedView<COLOR>& image, IntRect box, COLOR color, int alpha) noexcept {
    detail::blendBoxImpl(detail::targetOf(image), box, color, alpha);
}
template <class COLOR>
void blendBox(const ImageView<COLOR>& image, IntRect box, COLOR color, float alpha) noexcept {
    detail::blendBoxImpl(detail::targetOf(image), box, color, detail::PixelTraits<COLOR>::coverage(alpha));
}
template <class COLOR>
void blendBox(const CroppedView<COLOR>& image, IntRect box, COLOR color, float alpha) noexcept {
    detail::blendBoxImpl(detail::targetOf(image), box, color, detail::PixelTraits<COLOR>::coverage(alpha));
}
template <class COLOR>
void fillBoxAA(const ImageView<COLOR>& image, float x1, float y1, float x2, float y2, COLOR color,
               float alpha) noexcept {
    detail::fillBoxAAImpl(detail::targetOf(image), x1, y1, x2, y2, color, alpha);
}
template <class COLOR>
void fillBoxAA(const CroppedView<COLOR>& image, float x1, float y1, float x2, float y2, COLOR color,
               float alpha) noexcept {
    detail::fillBoxAAImpl(detail::targetOf(image), x1, y1, x2, y2, color, alpha);
}
template <class COLOR, class Curve>
void fillVerticalGradient(const ImageView<COLOR>& image, IntRect box, COLOR c0, COLOR c1,
                          Curve&& curve) noexcept {
    detail::gradientImpl(detail::targetOf(image), box, c0, c1, curve, true);
}
template <class COLOR, class Curve>
void fillHorizontalGradient(const ImageView<COLOR>& image, IntRect box, COLOR c0, COLOR c1,
                            Curve&& curve) noexcept {
    detail::gradientImpl(detail::targetOf(image), box, c0, c1, curve, false);
}
template <class COLOR, class Curve>
void fillVerticalGradient(const CroppedView<COLOR>& image, IntRect box, COLOR c0, COLOR c1,
                          Curve&& curve) noexcept {
    detail::gradientImpl(detail::targetOf(image), box, c0, c1, curve, true);
}
template <class COLOR, class Curve>
void fillHorizontalGradient(const CroppedView<COLOR>& image, IntRect box, COLOR c0, COLOR c1,
                            Curve&& curve) noexcept {
    detail::gradientImpl(detail::targetOf(image), box, c0, c1, curve, false);
}
template <class COLOR>
void softDisc(const ImageView<COLOR>& image, float cx, float cy, float r1, float r2, COLOR color,
              float alpha) noexcept {
    detail::softDiscImpl(detail::targetOf(image), cx, cy, r1, r2, color, alpha);
}
template <class COLOR>
void softDisc(const CroppedView<COLOR>& image, float cx, float cy, float r1, float r2, COLOR color,
              float alpha) noexcept {
    detail::softDiscImpl(detail::targetOf(image), cx, cy, r1, r2, color, alpha);
}
inline void pointAA(const ImageView<RGBA>& image, float x, float y, RGBA color, int alpha) noexcept {
    detail::pointAAImpl(detail::targetOf(image), x, y, color, alpha);
}
inline void pointAA(const CroppedView<RGBA>& image, float x, float y, RGBA color, int alpha) noexcept {
    detail::pointAAImpl(detail::targetOf(image), x, y, color, alpha);
}
inline void lineAA(const ImageView<RGBA>& image, float x1, float y1, float x2, float y2, RGBA color,
                   int alpha) noexcept {
    detail::lineAAImpl(detail::targetOf(image), x1, y1, x2, y2, color, alpha);
}
inline void lineAA(const CroppedView<RGBA>& image, float x1, float y1, float x2, float y2, RGBA color,
                   int alpha) noexcept {
    detail::lineAAImpl(detail::targetOf(image), x1, y1, x2, y2, color, alpha);
}
template <class COLOR>
void copyBox(const ImageView<COLOR>& source, const ImageView<COLOR>& destination) noexcept {
    if (source.empty() || destination.empty()) return;
    const std::int32_t w = source.w < destination.w ? source.w : destination.w;
    const std::int32_t h = source.h < destination.h ? source.h : destination.h;
    for (std::int32_t y = 0; y < h; ++y)
        std::memmove(destination.row(y), source.row(y), static_cast<std::size_t>(w) * sizeof(COLOR));
}
template <class COLOR>
void blit(const ImageView<COLOR>& source, const ImageView<COLOR>& destination, std::int32_t x,
          std::int32_t y) noexcept {
    if (source.empty() || destination.empty()) return;
    const IntRect placed = IntRect{{0, 0}, {source.w, source.h}}.translated(x, y);
    const IntRect clipped = placed.intersection(destination.bounds());
    if (clipped.empty()) return;
    // The clipped box lies inside the placed source, so these offsets are within the source.
    const auto sx = static_cast<std::int32_t>(std::int64_t{clipped.min.x} - x);
    const auto sy = static_cast<std::int32_t>(std::int64_t{clipped.min.y} - y);
    copyBox(source.sub(IntRect::fromXYWH(sx, sy, clipped.width(), clipped.height())),
            destination.sub(clipped));
}

}  // namespace korvo
