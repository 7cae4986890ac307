// The skybox the metal parts reflect: a soft studio, cool and desaturated. A bright ceiling light
// above, two tall soft panels at the sides, a darker floor; no recognisable imagery.
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

// 1 inside a rounded rectangle (unit coordinates), fading to 0 over `soft` outside it.
float softPanel(float u, float v, float u0, float v0, float u1, float v1, float soft) {
    const RoundBox box{u0, v0, u1, v1, soft};
    return 1.0f - smooth01(box.distance(u, v) / soft + 0.5f);
}

Color3 mix(Color3 a, Color3 b, float t) {
    return Color3{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

}  // namespace

HeapPtr<OwnedImage<RGBA>> drawSkybox() {
    auto sky = korvo::makeHeap<OwnedImage<RGBA>>(kSkyWidth, kSkyHeight);
    constexpr Color3 kCeiling{168, 174, 182};
    constexpr Color3 kWall{98, 104, 112};
    constexpr Color3 kFloor{24, 26, 30};
    constexpr Color3 kLight{246, 249, 252};
    constexpr Color3 kPanelLight{196, 202, 210};
    for (std::int32_t y = 0; y < kSkyHeight; ++y) {
        const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(kSkyHeight);
        for (std::int32_t x = 0; x < kSkyWidth; ++x) {
            const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(kSkyWidth);
            // Walls: bright near the ceiling, darker towards a soft horizon, then the floor.
            Color3 c = v < 0.55f ? mix(kCeiling, kWall, smooth01(v / 0.55f))
                                 : mix(kWall, kFloor, smooth01((v - 0.55f) / 0.25f));
            // Broad, slow variation so large reflections are not flat.
            const float drift = 6.0f * valueNoise(u * 5.0f, v * 4.0f, 3u);
            c = Color3{c.r + drift, c.g + drift, c.b + drift};
            // The ceiling light, a wide soft box above, and the two side panels.
            c = mix(c, kLight, softPanel(u, v, 0.22f, 0.04f, 0.78f, 0.19f, 0.05f));
            c = mix(c, kPanelLight, 0.9f * softPanel(u, v, 0.05f, 0.26f, 0.15f, 0.58f, 0.035f));
            c = mix(c, kPanelLight, 0.75f * softPanel(u, v, 0.85f, 0.30f, 0.94f, 0.56f, 0.035f));
            *sky->pixelAt(x, y) = RGBA{toByte(c.r), toByte(c.g), toByte(c.b), 255};
        }
    }
    return sky;
}

}  // namespace velmora::artgen
