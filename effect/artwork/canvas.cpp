// The generator's float drawing surface.
#include "effect/artwork/canvas.h"

#include <algorithm>
#include <cmath>

namespace velmora::artgen {

using korvo::HeapPtr;
using korvo::IntRect;
using korvo::OwnedImage;
using korvo::RGBA;

float RoundBox::distance(float x, float y) const noexcept {
    const float cx = 0.5f * (x0 + x1), cy = 0.5f * (y0 + y1);
    const float qx = std::fabs(x - cx) - (0.5f * (x1 - x0) - radius);
    const float qy = std::fabs(y - cy) - (0.5f * (y1 - y0) - radius);
    const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - radius;
}

float Circle::distance(float x, float y) const noexcept {
    const float dx = x - cx, dy = y - cy;
    return std::sqrt(dx * dx + dy * dy) - r;
}

float Ring::distance(float x, float y) const noexcept {
    const float dx = x - cx, dy = y - cy;
    return std::fabs(std::sqrt(dx * dx + dy * dy) - r) - half;
}

float Segment::distance(float x, float y) const noexcept {
    const float vx = x1 - x0, vy = y1 - y0;
    const float len2 = vx * vx + vy * vy;
    float t = len2 > 0.0f ? ((x - x0) * vx + (y - y0) * vy) / len2 : 0.0f;
    t = std::clamp(t, 0.0f, 1.0f);
    const float dx = x - (x0 + t * vx), dy = y - (y0 + t * vy);
    return std::sqrt(dx * dx + dy * dy) - half;
}

float coverageOf(float d) noexcept {
    return std::clamp(0.5f - d, 0.0f, 1.0f);
}

float smooth01(float t) noexcept {
    t = std::clamp(t, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

float hashNoise(std::int32_t x, std::int32_t y, std::uint32_t seed) noexcept {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8da6b343u ^
                      static_cast<std::uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    h *= 0x297a2d39u;
    h ^= h >> 15;
    return static_cast<float>(h & 0xffffu) / 32767.5f - 1.0f;
}

float valueNoise(float x, float y, std::uint32_t seed) noexcept {
    const float fx = std::floor(x), fy = std::floor(y);
    const auto ix = static_cast<std::int32_t>(fx), iy = static_cast<std::int32_t>(fy);
    const float tx = smooth01(x - fx), ty = smooth01(y - fy);
    const float a = hashNoise(ix, iy, seed), b = hashNoise(ix + 1, iy, seed);
    const float c = hashNoise(ix, iy + 1, seed), d = hashNoise(ix + 1, iy + 1, seed);
    const float top = a + (b - a) * tx, bottom = c + (d - c) * tx;
    return top + (bottom - top) * ty;
}

std::uint8_t toByte(float v) noexcept {
    const float r = std::floor(v + 0.5f);
    return static_cast<std::uint8_t>(std::clamp(r, 0.0f, 255.0f));
}

Canvas::Canvas(std::int32_t baseW, std::int32_t baseH, float scale, const std::atomic<bool>* cancel)
    : cancel_(cancel),
      baseW_(baseW),
      baseH_(baseH),
      scale_(scale),
      w_(korvo::scaleCoord(baseW, scale)),
      h_(korvo::scaleCoord(baseH, scale)),
      color_(static_cast<std::size_t>(w_) * static_cast<std::size_t>(h_)),
      emissive_(color_.size(), 0.0f),
      height_(color_.size(), 128.0f),
      material_(color_.size()) {}

IntRect Canvas::toDevice(IntRect base) const noexcept {
    if (scale_ == 1.0f) return base;
    const double s = scale_;
    return IntRect{{static_cast<std::int32_t>(std::floor(base.min.x * s)),
                    static_cast<std::int32_t>(std::floor(base.min.y * s))},
                   {static_cast<std::int32_t>(std::ceil(base.max.x * s)),
                    static_cast<std::int32_t>(std::ceil(base.max.y * s))}};
}

IntRect Canvas::toBase(IntRect device) const noexcept {
    if (scale_ == 1.0f) return device;
    const double s = scale_;
    return IntRect{{static_cast<std::int32_t>(std::floor(device.min.x / s)),
                    static_cast<std::int32_t>(std::floor(device.min.y / s))},
                   {static_cast<std::int32_t>(std::ceil(device.max.x / s)),
                    static_cast<std::int32_t>(std::ceil(device.max.y / s))}};
}

IntRect Canvas::clip(IntRect r) const noexcept {
    if (cancelled()) return IntRect{};
    return toDevice(r).intersection(IntRect{{0, 0}, {w_, h_}});
}

void Canvas::paintColor(IntRect bounds, const Cover& cover, Color3 c, float alpha) {
    const IntRect r = clip(bounds);
    for (std::int32_t y = r.min.y; y < r.max.y; ++y)
        for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
            const float k = cover(x, y) * alpha;
            if (k <= 0.0f) continue;
            Color3& p = color_[index(x, y)];
            p.r += (c.r - p.r) * k;
            p.g += (c.g - p.g) * k;
            p.b += (c.b - p.b) * k;
        }
}

void Canvas::paintEmissive(IntRect bounds, const Cover& cover, float e) {
    const IntRect r = clip(bounds);
    for (std::int32_t y = r.min.y; y < r.max.y; ++y)
        for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
            const float k = cover(x, y);
            if (k <= 0.0f) continue;
            float& p = emissive_[index(x, y)];
            p += (e - p) * k;
        }
}

void Canvas::paintMaterial(IntRect bounds, const Cover& cover, Material m) {
    const IntRect r = clip(bounds);
    for (std::int32_t y = r.min.y; y < r.max.y; ++y)
        for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
            const float k = cover(x, y);
            if (k <= 0.0f) continue;
            Material& p = material_[index(x, y)];
            p.rough += (m.rough - p.rough) * k;
            p.metal += (m.metal - p.metal) * k;
            p.shine += (m.shine - p.shine) * k;
        }
}

void Canvas::setHeight(IntRect bounds, const Cover& cover, float level) {
    const IntRect r = clip(bounds);
    for (std::int32_t y = r.min.y; y < r.max.y; ++y)
        for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
            const float k = cover(x, y);
            if (k <= 0.0f) continue;
            float& p = height_[index(x, y)];
            p += (level - p) * k;
        }
}

void Canvas::addHeight(IntRect bounds, const Cover& cover, float offset) {
    const IntRect r = clip(bounds);
    for (std::int32_t y = r.min.y; y < r.max.y; ++y)
        for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
            const float k = cover(x, y);
            if (k != 0.0f) height_[index(x, y)] += offset * k;
        }
}

HeapPtr<OwnedImage<RGBA>> Canvas::colorImage() const {
    auto image = korvo::makeHeap<OwnedImage<RGBA>>(w_, h_);
    for (std::int32_t y = 0; y < h_; ++y)
        for (std::int32_t x = 0; x < w_; ++x) {
            const Color3& c = color_[index(x, y)];
            *image->pixelAt(x, y) = RGBA{toByte(c.r), toByte(c.g), toByte(c.b), 255};
        }
    return image;
}

HeapPtr<OwnedImage<RGBA>> Canvas::emissiveImage() const {
    auto image = korvo::makeHeap<OwnedImage<RGBA>>(w_, h_);
    for (std::int32_t y = 0; y < h_; ++y)
        for (std::int32_t x = 0; x < w_; ++x) {
            const std::uint8_t e = toByte(emissive_[index(x, y)]);
            *image->pixelAt(x, y) = RGBA{e, e, e, 255};
        }
    return image;
}

HeapPtr<OwnedImage<RGBA>> Canvas::materialImage() const {
    auto image = korvo::makeHeap<OwnedImage<RGBA>>(w_, h_);
    for (std::int32_t y = 0; y < h_; ++y)
        for (std::int32_t x = 0; x < w_; ++x) {
            const Material& m = material_[index(x, y)];
            *image->pixelAt(x, y) = RGBA{toByte(m.rough), toByte(m.metal), toByte(m.shine), 255};
        }
    return image;
}

HeapPtr<OwnedImage<RGBA>> Canvas::depthImage() const {
    auto image = korvo::makeHeap<OwnedImage<RGBA>>(w_, h_);
    for (std::int32_t y = 0; y < h_; ++y)
        for (std::int32_t x = 0; x < w_; ++x) {
            // Three channels whose sum is the height in thirds of a step, spread as evenly as
            // possible so the picture stays grey.
            const float thirds = std::clamp(std::floor(height_[index(x, y)] * 3.0f + 0.5f), 0.0f, 765.0f);
            const int sum = static_cast<int>(thirds);
            const int base = sum / 3, extra = sum % 3;
            const auto c = [&](int i) { return static_cast<std::uint8_t>(base + (i < extra ? 1 : 0)); };
            *image->pixelAt(x, y) = RGBA{c(0), c(1), c(2), 255};
        }
    return image;
}

}  // namespace velmora::artgen
