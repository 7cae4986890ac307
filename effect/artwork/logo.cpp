// Our mark: a half-disc with two arcs and a source dot, echoing the panorama display. Its alpha is
// its shape; the editor draws it over the badge on the panel and makes it glow under the pointer.
#include <algorithm>
#include <cmath>

#include "effect/artwork/artwork.h"
#include "effect/artwork/canvas.h"
#include "effect/artwork/layout.h"

namespace velmora::artgen {

using korvo::HeapPtr;
using korvo::OwnedImage;
using korvo::RGBA;

namespace {

struct Premultiplied {
    float r = 0, g = 0, b = 0, a = 0;
    // Paints `c` over with coverage k.
    void over(Color3 c, float k) {
        r = c.r * k + r * (1.0f - k);
        g = c.g * k + g * (1.0f - k);
        b = c.b * k + b * (1.0f - k);
        a = k + a * (1.0f - k);
    }
};

}  // namespace

HeapPtr<OwnedImage<RGBA>> drawLogo(float scale) {
    constexpr Color3 kSteel{206, 218, 228};
    constexpr Color3 kCyan{150, 226, 242};
    constexpr Color3 kAmber{255, 190, 80};
    const float cx = 32.0f, cy = 45.0f;  // the listener: middle of the base line
    // Drawn in base units at pixel centres; edges one pixel soft at any scale.
    const Canvas grid(kLogoWidth, kLogoHeight, scale);
    const auto coverage = [&grid](float d) { return grid.coverage(d); };
    auto logo = korvo::makeHeap<OwnedImage<RGBA>>(grid.w(), grid.h());
    for (std::int32_t y = 0; y < grid.h(); ++y)
        for (std::int32_t x = 0; x < grid.w(); ++x) {
            const float px = grid.cx(x), py = grid.cx(y);
            const float dx = px - cx, dy = py - cy;
            const float angle = std::atan2(dx, -dy);  // 0 straight up
            // Upper half only, with an anti-aliased cut along the base line.
            const float upper = std::clamp((cy + 0.5f / scale - py) * scale, 0.0f, 1.0f);
            Premultiplied p;
            p.over(kSteel, coverage(Circle{cx, cy, 12.5f}.distance(px, py)) * upper);
            // Two arcs, shorter as they go out, with rounded ends.
            const float spans[] = {1.25f, 1.05f};
            const float radii[] = {19.0f, 25.5f};
            for (int i = 0; i < 2; ++i) {
                const float along =
                    std::clamp((spans[i] - std::fabs(angle)) * radii[i] * scale + 0.5f, 0.0f, 1.0f);
                p.over(kCyan, coverage(Ring{cx, cy, radii[i], 1.3f}.distance(px, py)) * along);
            }
            // The base line, and the source: a dot out on the right.
            p.over(kSteel, coverage(RoundBox{4.0f, cy + 2.0f, 60.0f, cy + 4.5f, 1.25f}.distance(px, py)));
            const float sa = 0.62f, sr = 30.5f;
            p.over(kAmber,
                   coverage(Circle{cx + std::sin(sa) * sr, cy - std::cos(sa) * sr, 3.4f}.distance(px, py)));
            const float a = p.a;
            *logo->pixelAt(x, y) =
                a > 0.0f ? RGBA{toByte(p.r / a), toByte(p.g / a), toByte(p.b / a), toByte(a * 255.0f)}
                         : RGBA{0, 0, 0, 0};
        }
    return logo;
}

}  // namespace velmora::artgen
