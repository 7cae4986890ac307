#pragma once
// The artwork generator's drawing surface: the editor background as float planes (colour,
// emissive, height, material), painted with shapes given by signed distance functions, and turned
// into the 8-bit images the plug-in embeds at the end.
//
// Units: colour, emissive and material channels 0..255; height in the depth image's 8-bit steps
// (the panel sits near 128; 1 step is 257 in the editor's 16-bit depth). Shapes, bounds and ramps
// are given on the editor's base grid (its pixels at 100 %); the canvas holds scale x base pixels
// each way and evaluates shapes at its pixels' centres in base units, cx(x) = (x + 0.5) / scale, so
// at scale 1 a box from x0 to x1 covers pixels x0 .. x1 - 1 exactly. Anti-aliasing: a pixel whose
// centre lies d device pixels outside a shape is covered clamp(0.5 - d, 0, 1), so edges stay one
// device pixel soft at every scale. Ramps (bevels, walls) keep their width in base pixels.
//
// Thread contract: plain values, single-threaded use. Everything is deterministic: the same calls
// give the same bits (no time, no randomness, no threads).

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "korvo/core/nogc.h"
#include "korvo/graphics/image.h"

namespace velmora::artgen {

struct Color3 {
    float r = 0, g = 0, b = 0;
};
// Roughness, metalness, specular amount (0..255 each).
struct Material {
    float rough = 0, metal = 0, shine = 0;
};

// Signed distance, negative inside. Shapes are small value types with a distance(x, y) member.
struct RoundBox {
    float x0, y0, x1, y1, radius;
    float distance(float x, float y) const noexcept;
};
struct Circle {
    float cx, cy, r;
    float distance(float x, float y) const noexcept;
};
// A band of half-width `half` centred on a circle of radius r (negative inside the band).
struct Ring {
    float cx, cy, r, half;
    float distance(float x, float y) const noexcept;
};
// A band of half-width `half` around the segment (x0, y0)-(x1, y1), with round ends.
struct Segment {
    float x0, y0, x1, y1, half;
    float distance(float x, float y) const noexcept;
};

// Coverage of a pixel whose centre is d pixels outside a shape.
float coverageOf(float d) noexcept;
// Hermite smoothstep of t clamped to [0, 1].
float smooth01(float t) noexcept;

// Integer hash noise in [-1, 1] of a lattice point, and smooth value noise over a scaled grid.
float hashNoise(std::int32_t x, std::int32_t y, std::uint32_t seed) noexcept;
float valueNoise(float x, float y, std::uint32_t seed) noexcept;

class Canvas {
public:
    // A canvas for a picture of baseW x baseH base pixels drawn at `scale` (round(base x scale)
    // pixels each way). Once `cancel` (if given) is set, every paint operation does nothing.
    Canvas(std::int32_t baseW, std::int32_t baseH, float scale = 1.0f,
           const std::atomic<bool>* cancel = nullptr);
    bool cancelled() const noexcept { return cancel_ != nullptr && cancel_->load(std::memory_order_relaxed); }

    // Size in pixels of the canvas (device pixels).
    std::int32_t w() const noexcept { return w_; }
    std::int32_t h() const noexcept { return h_; }
    std::int32_t baseW() const noexcept { return baseW_; }
    std::int32_t baseH() const noexcept { return baseH_; }
    float scale() const noexcept { return scale_; }
    // Base coordinate of pixel x's centre, and of its left (top) edge.
    float cx(std::int32_t x) const noexcept { return (static_cast<float>(x) + 0.5f) / scale_; }
    float bx(std::int32_t x) const noexcept { return static_cast<float>(x) / scale_; }
    // Coverage of a pixel whose centre lies d base pixels outside a shape.
    float coverage(float d) const noexcept { return coverageOf(d * scale_); }
    // The pixels a base box covers (rounded outward).
    korvo::IntRect toDevice(korvo::IntRect base) const noexcept;
    // The base box that covers a box of pixels (rounded outward).
    korvo::IntRect toBase(korvo::IntRect device) const noexcept;
    std::size_t index(std::int32_t x, std::int32_t y) const noexcept {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(x);
    }

    // ---- Whole-pixel access ----
    Color3& color(std::int32_t x, std::int32_t y) noexcept { return color_[index(x, y)]; }
    float& emissive(std::int32_t x, std::int32_t y) noexcept { return emissive_[index(x, y)]; }
    float& height(std::int32_t x, std::int32_t y) noexcept { return height_[index(x, y)]; }
    Material& material(std::int32_t x, std::int32_t y) noexcept { return material_[index(x, y)]; }

    // ---- Painting with a coverage field ----
    // `cover(x, y)` returns 0..1 for each pixel (x, y) of the canvas inside `bounds` (base units,
    // clipped to the canvas); the paint operations blend towards their value by that coverage.
    using Cover = std::function<float(std::int32_t x, std::int32_t y)>;
    void paintColor(korvo::IntRect bounds, const Cover& cover, Color3 c, float alpha = 1.0f);
    void paintEmissive(korvo::IntRect bounds, const Cover& cover, float e);
    void paintMaterial(korvo::IntRect bounds, const Cover& cover, Material m);
    // Height: blend towards an absolute level, or add an offset scaled by the coverage.
    void setHeight(korvo::IntRect bounds, const Cover& cover, float level);
    void addHeight(korvo::IntRect bounds, const Cover& cover, float offset);

    // ---- Shapes ----
    // Coverage of a shape with anti-aliased edges.
    template <class Shape>
    Cover fillOf(Shape s) const {
        return [s, this](std::int32_t x, std::int32_t y) { return coverage(s.distance(cx(x), cx(y))); };
    }
    // A ramp: 0 at the shape's edge rising to 1 `ramp` base pixels inside (smoothstep), for bevels.
    template <class Shape>
    Cover rampOf(Shape s, float ramp) const {
        return [s, ramp, this](std::int32_t x, std::int32_t y) {
            const float d = s.distance(cx(x), cx(y));
            return smooth01((0.5f - d) / (ramp + 1.0f));
        };
    }

    // ---- Output ----
    // Colour as RGBA (alpha 255), emissive as grey RGBA, material as RGBA (alpha 255), height as
    // grey RGBA whose three channels sum to round(height * 3) (a third of a step of resolution:
    // the editor reads the depth as (R + G + B) * 257 / 3).
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> colorImage() const;
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> emissiveImage() const;
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> materialImage() const;
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> depthImage() const;

private:
    korvo::IntRect clip(korvo::IntRect r) const noexcept;

    const std::atomic<bool>* cancel_;
    std::int32_t baseW_;
    std::int32_t baseH_;
    float scale_;
    std::int32_t w_;
    std::int32_t h_;
    std::vector<Color3> color_;
    std::vector<float> emissive_;
    std::vector<float> height_;
    std::vector<Material> material_;
};

// Rounds and clamps a channel value to a byte.
std::uint8_t toByte(float v) noexcept;

}  // namespace velmora::artgen
