#pragma once
// IntRect: the integer box used by images, drawing and the GUI (dirty rectangles, element
// positions). min is inclusive, max exclusive; the box is empty when it has no width or no height.
//
// Thread contract: plain values, [any-thread].

#include <cmath>
#include <cstdint>

namespace korvo {

struct IntPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const IntPoint&, const IntPoint&) = default;
};

struct IntRect {
    IntPoint min;
    IntPoint max;

    static constexpr IntRect fromXYWH(std::int32_t x, std::int32_t y, std::int32_t w,
                                      std::int32_t h) noexcept {
        return IntRect{{x, y}, {saturate(std::int64_t{x} + w), saturate(std::int64_t{y} + h)}};
    }

    constexpr std::int32_t width() const noexcept { return max.x - min.x; }
    constexpr std::int32_t height() const noexcept { return max.y - min.y; }
    constexpr bool empty() const noexcept { return max.x <= min.x || max.y <= min.y; }
    constexpr bool contains(std::int32_t x, std::int32_t y) const noexcept {
        return x >= min.x && x < max.x && y >= min.y && y < max.y;
    }

    // Max of the mins, min of the maxes; a max that would fall below its min is raised to it.
    constexpr IntRect intersection(const IntRect& o) const noexcept {
        IntRect r{{min.x > o.min.x ? min.x : o.min.x, min.y > o.min.y ? min.y : o.min.y},
                  {max.x < o.max.x ? max.x : o.max.x, max.y < o.max.y ? max.y : o.max.y}};
        if (r.max.x < r.min.x) r.max.x = r.min.x;
        if (r.max.y < r.min.y) r.max.y = r.min.y;
        return r;
    }

    // Smallest box holding both (an empty box counts as nothing).
    constexpr IntRect expandedBy(const IntRect& o) const noexcept {
        if (o.empty()) return *this;
        if (empty()) return o;
        return IntRect{{min.x < o.min.x ? min.x : o.min.x, min.y < o.min.y ? min.y : o.min.y},
                       {max.x > o.max.x ? max.x : o.max.x, max.y > o.max.y ? max.y : o.max.y}};
    }

    // The box moved by (dx, dy); coordinates saturate at the int32 range instead of wrapping.
    constexpr IntRect translated(std::int32_t dx, std::int32_t dy) const noexcept {
        return IntRect{{saturate(std::int64_t{min.x} + dx), saturate(std::int64_t{min.y} + dy)},
                       {saturate(std::int64_t{max.x} + dx), saturate(std::int64_t{max.y} + dy)}};
    }

    friend bool operator==(const IntRect&, const IntRect&) = default;

    static constexpr std::int32_t saturate(std::int64_t v) noexcept {
        return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(v);
    }
};

// A coordinate of the editor's base grid in device pixels: v * scale rounded to the nearest integer
// (halves up), saturating. The same rounding everywhere keeps neighbouring boxes flush at any scale.
inline std::int32_t scaleCoord(std::int32_t v, double scale) noexcept {
    const double d = std::floor(static_cast<double>(v) * scale + 0.5);
    if (!(d > -2147483648.0)) return INT32_MIN;
    return d > 2147483647.0 ? INT32_MAX : static_cast<std::int32_t>(d);
}
inline IntRect scaleRect(const IntRect& r, double scale) noexcept {
    return IntRect{{scaleCoord(r.min.x, scale), scaleCoord(r.min.y, scale)},
                   {scaleCoord(r.max.x, scale), scaleCoord(r.max.y, scale)}};
}

}  // namespace korvo
