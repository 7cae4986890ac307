#include "korvo/gui/compositor.h"

#include <gtest/gtest.h>

#include <cmath>

namespace korvo {
namespace {

// The three PBR pyramids and a skybox, sized like the renderer sizes them.
struct Layers {
    Mipmap<RGBA> diffuse, material, sky;
    Mipmap<L16> depth;
    std::int32_t w, h;

    Layers(std::int32_t width, std::int32_t height, RGBA base, std::uint16_t flatDepth, RGBA mat)
        : w(width), h(height) {
        diffuse.setSize(5, w, h);
        depth.setSize(4, w, h);
        material.setSize(0, w, h);
        sky.setSize(3, 8, 8);
        fill(diffuse.level(0).view(), base);
        fill(depth.level(0).view(), L16{flatDepth});
        fill(material.level(0).view(), mat);
        setSky(RGBA{0, 0, 0, 255});
    }
    void setSky(RGBA c) {
        for (int i = 0; i < sky.numLevels(); ++i) fill(sky.level(i).view(), c);
    }
    // Regenerates the upper levels the way the renderer does.
    void finish() {
        IntRect r{{0, 0}, {w, h}};
        for (int i = 1; i < diffuse.numLevels(); ++i)
            r = diffuse.updateLevel(i == 1 ? Filter::premultipliedBox : Filter::cubic, r, i);
        r = IntRect{{0, 0}, {w, h}};
        for (int i = 1; i < depth.numLevels(); ++i)
            r = depth.updateLevel(i <= 2 ? Filter::box : Filter::cubic, r, i);
    }
    HeapPtr<OwnedImage<RGBA>> light(PBRCompositor& c, IntRect area) {
        auto out = makeHeap<OwnedImage<RGBA>>(w, h);
        fill(out->view(), RGBA{1, 2, 3, 4});
        c.lightTile(out->view(), PixelOrder::BGRA8, area, diffuse, material, depth, sky);
        return out;
    }
};

TEST(PBRCompositor, DefaultsAndExponentTable) {
    PBRCompositor c;
    EXPECT_FLOAT_EQ(c.ambientAmount, 0.08125f);
    EXPECT_FLOAT_EQ(c.skyboxStrength, 0.52f);
    EXPECT_FLOAT_EQ(c.diffuseLightDir.y, 0.99503719f);
    EXPECT_FLOAT_EQ(c.specularExponents[0], static_cast<float>(0.8 * std::exp(5.5)));
    EXPECT_FLOAT_EQ(c.specularExponents[255], 0.8f);
    EXPECT_FLOAT_EQ(c.specularExponents[51], static_cast<float>(0.8 * std::exp(5.5 * 0.8)));
}

TEST(PBRCompositor, FlatDepthGivesAmbientPlusFullShadowLightPlusDiffuse) {
    // N = (0, 0, 1), cavity 1, all shadow light passes: C = B (0.08125 + 0.325 + 0.481 f) with
    // f = (0.5 + 0.5 * 0.0995037 - 0.24) / 0.76; material 0 adds no specular and no skybox, and a
    // diffuse alpha of 0 gives no glow. B = (200, 100, 50) / 255 -> 120.9, 60.5, 30.2.
    Layers layers(24, 20, RGBA{200, 100, 50, 0}, 30000, RGBA{0, 0, 0, 0});
    layers.setSky(RGBA{255, 255, 255, 255});  // must not matter with metalness 0
    layers.finish();
    PBRCompositor c;
    c.specularLightColor = Vec3f{5, 5, 5};  // must not matter with specular 0
    auto out = layers.light(c, IntRect{{0, 0}, {24, 20}});
    // Every pixel, the edge ones included (they read clamped neighbours), gets the same value.
    for (std::int32_t y = 0; y < 20; ++y)
        for (std::int32_t x = 0; x < 24; ++x)
            ASSERT_EQ(out->view().at(x, y), (RGBA{120, 60, 30, 255})) << x << "," << y;
}

TEST(PBRCompositor, EmissiveDiffuseGlowsAndAlphaIsAlways255) {
    // Premultiplied level 1 of (200, 100, 50, 255) is (199, 100, 50); the glow weights sum to
    // 1.5 / 255: r saturates, g = 0.2362 + 0.5882 -> 211, b = 0.1181 + 0.2941 -> 105.
    Layers layers(16, 16, RGBA{200, 100, 50, 255}, 30000, RGBA{0, 0, 0, 0});
    layers.finish();
    PBRCompositor c;
    auto out = layers.light(c, IntRect{{4, 4}, {8, 8}});
    EXPECT_EQ(out->view().at(5, 5), (RGBA{255, 211, 105, 255}));
    EXPECT_EQ(out->view().at(3, 3), (RGBA{1, 2, 3, 4}));  // outside the tile: untouched
    EXPECT_EQ(out->view().at(8, 5), (RGBA{1, 2, 3, 4}));
}

// Depth 10000 from row 16 down, `step` higher above it; lights pixel (16, 16) with and without
// shadow light and reports whether the shadow light reached it.
bool shadowLightReaches(std::int32_t step) {
    Layers layers(32, 32, RGBA{128, 128, 128, 0}, 10000, RGBA{128, 0, 0, 255});
    fillBox(layers.depth.level(0).view(), IntRect{{0, 0}, {32, 16}},
            L16{static_cast<std::uint16_t>(10000 + step)});
    layers.finish();
    PBRCompositor lit, dark;
    lit.shadowLightColor = Vec3f{1, 1, 1};
    dark.shadowLightColor = Vec3f{0, 0, 0};
    const IntRect pixel{{16, 16}, {17, 17}};
    auto a = layers.light(lit, pixel);
    auto b = layers.light(dark, pixel);
    return !(a->view().at(16, 16) == b->view().at(16, 16));
}

TEST(PBRCompositor, NoShadowLightPastTheFadeDistance) {
    // Blockers more than 15360 + k + 1 above the pixel at every step block all light...
    EXPECT_FALSE(shadowLightReaches(15400));
    EXPECT_FALSE(shadowLightReaches(20000));
    // ...lower ones let some through.
    EXPECT_TRUE(shadowLightReaches(15000));
    EXPECT_TRUE(shadowLightReaches(0));
}

TEST(PBRCompositor, MetalReflectsTheSkyboxAndSpecularNeedsItsByte) {
    Layers layers(16, 16, RGBA{200, 200, 200, 0}, 30000, RGBA{0, 255, 0, 255});
    layers.finish();
    PBRCompositor c;
    const IntRect area{{0, 0}, {16, 16}};
    const RGBA dark = layers.light(c, area)->view().at(8, 8);
    layers.setSky(RGBA{255, 0, 0, 255});
    const RGBA red = layers.light(c, area)->view().at(8, 8);
    EXPECT_GT(red.r, dark.r);
    EXPECT_EQ(red.g, dark.g);
}

TEST(PBRCompositor, SpecularNeedsItsByte) {
    // Near the top edge the eye looks up toward the reflected upper light.
    Layers layers(16, 16, RGBA{200, 200, 200, 0}, 30000, RGBA{200, 0, 0, 255});
    layers.finish();
    PBRCompositor c;
    const IntRect area{{0, 0}, {16, 16}};
    const RGBA plain = layers.light(c, area)->view().at(8, 0);
    c.specularLightColor = Vec3f{3, 3, 3};
    EXPECT_EQ(layers.light(c, area)->view().at(8, 0), plain);  // specular byte 0: no specular term
    fill(layers.material.level(0).view(), RGBA{200, 0, 255, 255});
    EXPECT_GT(layers.light(c, area)->view().at(8, 0).g, plain.g);
}

TEST(PBRCompositor, EdgesOfRoughTerrainStayInsideTheLayers) {
    // Random depth over a tiny image: every pixel, corners included, is lit from clamped
    // neighbours (the sanitizer build catches any read outside), with alpha 255.
    Layers layers(5, 3, RGBA{90, 180, 40, 77}, 0, RGBA{30, 200, 220, 255});
    std::uint32_t seed = 7;
    for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 0; x < 5; ++x) {
            seed = seed * 1664525u + 1013904223u;
            layers.depth.level(0).view().at(x, y) = L16{static_cast<std::uint16_t>(seed >> 16)};
        }
    layers.finish();
    PBRCompositor c;
    // An area larger than the image is clipped to it.
    auto out = layers.light(c, IntRect{{-10, -10}, {50, 50}});
    for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 0; x < 5; ++x) EXPECT_EQ(out->view().at(x, y).a, 255);
}

}  // namespace
}  // namespace korvo
