// The four-lane compositor against the plain per-pixel form: the same bytes on varied layers
// (cliffs in and past the shadow fade band, metal and non-metal, specular and none, emissive
// patches, image edges, tails of rows that are not a multiple of four, areas over chunk seams).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "compositor_reference.h"
#include "korvo/core/nogc.h"
#include "korvo/gui/compositor.h"

namespace korvo {
namespace {

struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    std::int32_t below(std::int32_t n) {
        return static_cast<std::int32_t>(next() % static_cast<std::uint32_t>(n));
    }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }
};

struct Scene {
    std::int32_t w, h;
    Mipmap<RGBA> diffuse, material, sky;
    Mipmap<L16> depth;

    Scene(std::int32_t width, std::int32_t height, std::uint32_t seed, int diffuseTop = 5, int depthTop = 4)
        : w(width), h(height) {
        diffuse.setSize(diffuseTop, w, h);
        depth.setSize(depthTop, w, h);
        material.setSize(0, w, h);
        sky.setSize(13, 64, 32);
        Random rnd{seed};
        const ImageView<RGBA> d = diffuse.level(0).view(), m = material.level(0).view();
        const ImageView<L16> z = depth.level(0).view();
        fill(d, RGBA{120, 130, 140, 0});
        fill(m, RGBA{200, 0, 30, 255});
        // A gentle slope, then boxes at heights that make shadow steps fall before, inside and
        // past the fade band, with their own colour, material and emission.
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x)
                z.at(x, y) = L16{static_cast<std::uint16_t>(20000 + 37 * x + 11 * y)};
        for (int i = 0; i < 40; ++i) {
            const std::int32_t x0 = rnd.below(w), y0 = rnd.below(h);
            const IntRect box{{x0, y0}, {x0 + 1 + rnd.below(40), y0 + 1 + rnd.below(30)}};
            static constexpr std::int32_t kSteps[6] = {300, 4000, 12000, 15500, 24000, -9000};
            const std::int32_t step = kSteps[rnd.below(6)];
            fillBox(z, box, L16{static_cast<std::uint16_t>(26000 + step)});
            const std::uint8_t alpha =
                rnd.below(4) == 0 ? static_cast<std::uint8_t>(128 + rnd.below(128)) : 0;
            fillBox(d, box, RGBA{rnd.byte(), rnd.byte(), rnd.byte(), alpha});
            const std::uint8_t metal = rnd.below(3) == 0 ? rnd.byte() : 0;
            const std::uint8_t specular = rnd.below(3) == 0 ? 0 : rnd.byte();
            fillBox(m, box, RGBA{rnd.byte(), metal, specular, 255});
        }
        // A rough patch: every pixel different.
        for (std::int32_t y = h / 2; y < h / 2 + 12 && y < h; ++y)
            for (std::int32_t x = 5; x < 45 && x < w; ++x) {
                z.at(x, y) = L16{static_cast<std::uint16_t>(rnd.next())};
                m.at(x, y) = RGBA{rnd.byte(), rnd.byte(), rnd.byte(), 255};
            }
        IntRect r{{0, 0}, {w, h}};
        for (int i = 1; i < diffuse.numLevels(); ++i)
            r = diffuse.updateLevel(i == 1 ? Filter::premultipliedBox : Filter::cubic, r, i);
        r = IntRect{{0, 0}, {w, h}};
        for (int i = 1; i < depth.numLevels(); ++i)
            r = depth.updateLevel(i <= 2 ? Filter::box : Filter::cubic, r, i);
        // A skybox with detail at every level.
        const ImageView<RGBA> s = sky.level(0).view();
        for (std::int32_t y = 0; y < s.h; ++y)
            for (std::int32_t x = 0; x < s.w; ++x)
                s.at(x, y) =
                    RGBA{static_cast<std::uint8_t>(4 * x), static_cast<std::uint8_t>(8 * y), rnd.byte(), 255};
        r = IntRect{{0, 0}, {s.w, s.h}};
        for (int i = 1; i < sky.numLevels(); ++i) r = sky.updateLevel(Filter::cubic, r, i);
    }

    HeapPtr<OwnedImage<RGBA>> lit(const PBRCompositor& c, IntRect area, bool reference) {
        auto out = makeHeap<OwnedImage<RGBA>>(w, h);
        fill(out->view(), RGBA{1, 2, 3, 4});
        if (reference)
            referenceLightTile(c, out->view(), area, diffuse, material, depth, sky);
        else
            const_cast<PBRCompositor&>(c).lightTile(out->view(), PixelOrder::BGRA8, area, diffuse, material,
                                                    depth, sky);
        return out;
    }
};

// Counts the pixels whose bytes differ and reports the first one.
int differingPixels(const OwnedImage<RGBA>& a, const OwnedImage<RGBA>& b) {
    int count = 0;
    for (std::int32_t y = 0; y < a.h(); ++y)
        for (std::int32_t x = 0; x < a.w(); ++x) {
            const RGBA p = a.view().at(x, y), q = b.view().at(x, y);
            if (p == q) continue;
            if (count++ == 0)
                ADD_FAILURE() << "first difference at " << x << "," << y << ": " << int(p.r) << " "
                              << int(p.g) << " " << int(p.b) << " " << int(p.a) << " vs " << int(q.r) << " "
                              << int(q.g) << " " << int(q.b) << " " << int(q.a);
        }
    return count;
}

TEST(CompositorExactness, SameBytesAsThePerPixelFormOnVariedLayers) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        Scene scene(203, 141, seed);
        PBRCompositor c;
        const IntRect areas[] = {
            {{0, 0}, {203, 141}},      // the whole image in one call: a chunk seam at x = 128
            {{0, 0}, {128, 128}},      // the renderer's tiles
            {{128, 0}, {203, 128}},    //
            {{0, 128}, {128, 141}},    //
            {{3, 5}, {74, 9}},         // odd corners and a row tail of 3
            {{202, 140}, {203, 141}},  // the last pixel alone
            {{-20, -20}, {9, 400}},    // clipped to the image
        };
        for (const IntRect& area : areas) {
            auto fast = scene.lit(c, area, false);
            auto plain = scene.lit(c, area, true);
            EXPECT_EQ(differingPixels(*fast, *plain), 0)
                << "seed " << seed << " area " << area.min.x << "," << area.min.y << " - " << area.max.x
                << "," << area.max.y;
        }
    }
}

// Emission alone changes (the alpha of level 0, so only the glow levels differ): adding the new
// glow to the colours kept before the glow gives the bytes of lighting everything again, over
// tiles, odd corners, row tails and a chunk seam.
TEST(CompositorExactness, RedoingOnlyTheGlowGivesTheBytesOfLightingAgain) {
    for (std::uint32_t seed : {4u, 5u}) {
        Scene scene(203, 141, seed);
        PBRCompositor c;
        Vec<float> storage;
        storage.resize(3 * 203 * 141);
        const GlowBase base{
            {storage.data(), storage.data() + 203 * 141, storage.data() + 2 * 203 * 141}, 203, 203, 141};
        auto out = makeHeap<OwnedImage<RGBA>>(203, 141);
        c.lightTile(out->view(), IntRect{{0, 0}, {203, 141}}, scene.diffuse, scene.material, scene.depth,
                    scene.sky, &base);
        Random rnd{seed};
        const ImageView<RGBA> d = scene.diffuse.level(0).view();
        for (int i = 0; i < 12; ++i) {
            const std::int32_t x0 = rnd.below(203), y0 = rnd.below(141);
            for (std::int32_t y = y0; y < y0 + 20 && y < 141; ++y)
                for (std::int32_t x = x0; x < x0 + 30 && x < 203; ++x) d.at(x, y).a = rnd.byte();
        }
        IntRect r{{0, 0}, {203, 141}};
        for (int i = 1; i < scene.diffuse.numLevels(); ++i)
            r = scene.diffuse.updateLevel(i == 1 ? Filter::premultipliedBox : Filter::cubic, r, i);
        const IntRect areas[] = {
            {{0, 0}, {128, 128}}, {{128, 0}, {203, 128}}, {{0, 128}, {128, 141}}, {{128, 128}, {203, 141}}};
        for (const IntRect& area : areas) c.relightGlow(out->view(), area, scene.diffuse, base);
        auto again = scene.lit(c, IntRect{{0, 0}, {203, 141}}, false);
        EXPECT_EQ(differingPixels(*out, *again), 0) << "seed " << seed;
        // Odd areas, the whole image with its seam at x = 128, and one clipped to the image.
        fill(out->view(), RGBA{});
        for (const IntRect& area :
             {IntRect{{3, 5}, {74, 9}}, IntRect{{0, 0}, {203, 141}}, IntRect{{-20, -20}, {9, 400}}}) {
            c.relightGlow(out->view(), area, scene.diffuse, base);
            for (std::int32_t y = area.min.y < 0 ? 0 : area.min.y; y < area.max.y && y < 141; ++y)
                for (std::int32_t x = area.min.x < 0 ? 0 : area.min.x; x < area.max.x && x < 203; ++x)
                    ASSERT_EQ(out->view().at(x, y), again->view().at(x, y)) << x << ", " << y;
        }
    }
}

// At other scales the same: the walk's offsets, the deeper levels and the blends of two levels.
TEST(CompositorExactness, SameBytesAsThePerPixelFormAtOtherScales) {
    for (const float scale : {2.0f, 1.5f, 0.75f, 3.0f}) {
        PBRCompositor c;
        c.setScale(scale);
        Scene scene(203, 141, 7, c.glowLevels().last(), c.occlusionLevels().last());
        for (const IntRect& area : {IntRect{{0, 0}, {203, 141}}, IntRect{{3, 5}, {74, 9}}}) {
            auto fast = scene.lit(c, area, false);
            auto plain = scene.lit(c, area, true);
            EXPECT_EQ(differingPixels(*fast, *plain), 0) << "scale " << scale;
        }
    }
}

TEST(CompositorExactness, SameBytesWithOtherLightsAndTinyImages) {
    PBRCompositor c;
    c.shadowLightColor = Vec3f{0.9f, 0.2f, 0.5f};
    c.diffuseLightDir = Vec3f{0.6f, 0.64f, 0.48f};
    c.diffuseLightColor = Vec3f{0.3f, 0.7f, 0.1f};
    c.specularLightDir = Vec3f{-0.48f, 0.6f, 0.64f};
    c.specularLightColor = Vec3f{1.5f, 0.2f, 0.9f};
    c.ambientAmount = 0.3f;
    c.skyboxStrength = 1.7f;
    for (const auto& size : {std::pair{203, 141}, std::pair{5, 3}, std::pair{1, 1}, std::pair{13, 40}}) {
        Scene scene(size.first, size.second, 99);
        const IntRect all{{0, 0}, {size.first, size.second}};
        auto fast = scene.lit(c, all, false);
        auto plain = scene.lit(c, all, true);
        EXPECT_EQ(differingPixels(*fast, *plain), 0) << size.first << " x " << size.second;
    }
}

}  // namespace
}  // namespace korvo
