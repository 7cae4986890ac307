#pragma once
// Pixel helpers shared by the widgets: per-pixel coverage blends with the widget set's rounding,
// the frame in which a widget paints one dirty rectangle, and value sanitising.
//
// Blends: a coverage c in 0..1 becomes k = round(c * 255) (RGBA) or round(c * 65535) (L16); an
// RGBA pixel's every channel, alpha included, becomes (colour * k + old * (255 - k)) / 255 and a
// depth (old * (65535 - k) + value * k) / 65535, both rounded down. NaN coverage draws nothing.
//
// Thread contract: [any-thread]; plain functions on the caller's pixels.

#include <cmath>
#include <cstdint>

#include "korvo/graphics/image.h"

namespace korvo::widgets {

inline void blendCoverage(RGBA& p, RGBA c, float coverage) noexcept {
    const std::uint32_t k = static_cast<std::uint32_t>(detail::coverage255(coverage));
    if (k == 0) return;
    auto mix = [k](std::uint32_t color, std::uint32_t old) {
        return static_cast<std::uint8_t>((color * k + old * (255u - k)) / 255u);
    };
    p = RGBA{mix(c.r, p.r), mix(c.g, p.g), mix(c.b, p.b), mix(c.a, p.a)};
}

inline void blendDepth(L16& p, std::uint16_t value, float coverage) noexcept {
    const std::uint32_t k = static_cast<std::uint32_t>(detail::coverage65535(coverage));
    if (k == 0) return;
    p.l = static_cast<std::uint16_t>((std::uint32_t{p.l} * (65535u - k) + std::uint32_t{value} * k) / 65535u);
}

// A normalized value as drawn: NaN counts as 0, the rest is clamped to [0, 1].
inline double sanitizeUnit(double v) noexcept {
    if (!(v > 0.0)) return 0.0;
    return v > 1.0 ? 1.0 : v;
}

inline std::uint8_t addAlpha(std::uint8_t a, int add) noexcept {
    const int v = a + add;
    return static_cast<std::uint8_t>(v > 255 ? 255 : (v < 0 ? 0 : v));
}

// Per-channel mix (1 - t) * a + t * b, truncated.
inline RGBA lerpColor(RGBA a, RGBA b, float t) noexcept {
    auto m = [t](std::uint8_t x, std::uint8_t y) {
        const float v = static_cast<float>(x) * (1.0f - t) + static_cast<float>(y) * t;
        return static_cast<std::uint8_t>(v <= 0.0f ? 0.0f : (v >= 255.0f ? 255.0f : v));
    };
    return RGBA{m(a.r, b.r), m(a.g, b.g), m(a.b, b.b), m(a.a, b.a)};
}

// One dirty rectangle of a widget's draw call: `box` in the maps' pixels, and the element
// coordinates of the maps' pixel (0, 0) (the element's draw offset). A shape given in element
// coordinates is painted by visiting the pixels of its bounding box that fall inside `box`.
struct PaintFrame {
    IntRect box;
    IntPoint offset;

    // Pixels of `box` whose element coordinates lie within [x0, x1) x [y0, y1) (floats widened
    // outward); calls f(mapX, mapY, elementX, elementY). NaN bounds visit nothing.
    template <class F>
    void forEach(float x0, float y0, float x1, float y1, F&& f) const {
        if (!(x0 <= x1) || !(y0 <= y1)) return;
        const IntRect shape{{clampCoord(std::floor(x0)) - offset.x, clampCoord(std::floor(y0)) - offset.y},
                            {clampCoord(std::ceil(x1)) - offset.x, clampCoord(std::ceil(y1)) - offset.y}};
        const IntRect c = shape.intersection(box);
        for (std::int32_t y = c.min.y; y < c.max.y; ++y)
            for (std::int32_t x = c.min.x; x < c.max.x; ++x) f(x, y, x + offset.x, y + offset.y);
    }

    static std::int32_t clampCoord(float v) noexcept {
        if (!(v > -1.0e8f)) return -100000000;
        return v > 1.0e8f ? 100000000 : static_cast<std::int32_t>(v);
    }
};

}  // namespace korvo::widgets
