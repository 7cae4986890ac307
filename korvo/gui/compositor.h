#pragma once
// The PBR compositor: turns the three PBR layers (diffuse colour with emissive alpha, 16-bit depth,
// material: roughness, metalness, specular) and a skybox into the lit colour of every pixel of a
// tile. Normals come from the depth (Sobel), shadows are cast from an upper light by a ten-step
// walk on the depth, ambient occlusion and glow come from the depth and diffuse pyramids, and
// metallic surfaces reflect the skybox (blurred by roughness and curvature).
//
// The lighting fields are filled with defaults by the constructor and may be overwritten by the
// editor once, before its first frame; during rendering they are only read.
//
// Glow alone: the glow is the last term added to a pixel's colour, so when only the diffuse
// pyramid's upper levels changed around a pixel, its colour before the glow (kept by lightTile in a
// GlowBase) plus the glow of the new levels is exactly what lighting it again would give.
// relightGlow does that at a fraction of the cost.
//
// Thread contract: lightTile and relightGlow are [any-thread] and read only the pyramids and the
// fields; several disjoint tiles may be lit at once.

#include <cstdint>

#include "korvo/graphics/image.h"
#include "korvo/graphics/mipmap.h"
#include "korvo/graphics/rect.h"
#include "korvo/gui/element.h"

namespace korvo {

struct Vec3f {
    float x = 0, y = 0, z = 0;
};

// The colour of every pixel before its glow, as three float planes (red, green, blue) of w x h,
// `pitch` floats apart row to row.
struct GlowBase {
    float* planes[3] = {nullptr, nullptr, nullptr};
    std::ptrdiff_t pitch = 0;
    std::int32_t w = 0, h = 0;
};

class ICompositor {
public:
    virtual ~ICompositor() = default;
    // Lights every pixel of `area` and stores (r, g, b, 255) into wfb at the same coordinates.
    // The pixel order is not used: the output is always RGBA. The layers' level 0 is the window
    // size; the area is clipped to it.
    virtual void lightTile(ImageView<RGBA> wfb, PixelOrder pixelOrder, IntRect area,
                           const Mipmap<RGBA>& diffuse, const Mipmap<RGBA>& material,
                           const Mipmap<L16>& depth, const Mipmap<RGBA>& skybox) noexcept = 0;
};

class PBRCompositor final : public ICompositor {
public:
    static constexpr int kShadowSteps = 10;
    static constexpr int kMaxOcclusionLevels = 5;
    static constexpr int kMaxGlowLevels = 6;

    // Pyramid levels a blur samples from `first` on, with each level's weight (weighted: the
    // weight is not exactly 1 and is multiplied in).
    struct LevelBlend {
        int first = 1;
        int count = 0;
        float weights[kMaxGlowLevels] = {};
        bool weighted[kMaxGlowLevels] = {};
        int last() const noexcept { return first + count - 1; }
    };

    PBRCompositor() noexcept;

    // Device pixels per base pixel of the layers (1: the editor at 100 %, whose lighting is the
    // reference). Every reach of the lighting in pixels follows it, so a picture drawn at scale s
    // lights like the 100 % picture scaled: the shadow walk's steps are round(s k) pixels apart,
    // the normals and the skybox's curvature blur see the relief's slope per base pixel, and
    // occlusion and glow sample log2(s) pyramid levels higher (a fraction blends two levels).
    // A scale that is not a positive finite number counts as 1. [main-thread], between frames.
    void setScale(float scale) noexcept;
    float scale() const noexcept { return scale_; }
    // Pixels up (and to each side) of the shadow walk's step k (1 to kShadowSteps); the last is
    // how far a pixel's lighting reads the depth besides its 3 x 3 neighbourhood.
    std::int32_t shadowOffset(int step) const noexcept { return shadowOffsets_[step - 1]; }
    std::int32_t shadowReach() const noexcept { return shadowOffsets_[kShadowSteps - 1]; }
    // The depth levels ambient occlusion samples and the diffuse levels the glow samples.
    const LevelBlend& occlusionLevels() const noexcept { return occlusion_; }
    const LevelBlend& glowLevels() const noexcept { return glow_; }

    void lightTile(ImageView<RGBA> wfb, PixelOrder pixelOrder, IntRect area, const Mipmap<RGBA>& diffuse,
                   const Mipmap<RGBA>& material, const Mipmap<L16>& depth,
                   const Mipmap<RGBA>& skybox) noexcept override;
    // The same, also storing every lit pixel's colour before the glow into `keep` (when not null
    // and the pixel lies inside it).
    void lightTile(ImageView<RGBA> wfb, IntRect area, const Mipmap<RGBA>& diffuse,
                   const Mipmap<RGBA>& material, const Mipmap<L16>& depth, const Mipmap<RGBA>& skybox,
                   const GlowBase* keep) noexcept;
    // Pixels of `area` from their kept colour before the glow plus the glow of the diffuse
    // pyramid as it is now: the bytes lightTile would store, provided nothing but the diffuse
    // levels 1 to 5 changed since the pixel was lit with `base`. The area is clipped to the base
    // and to wfb.
    void relightGlow(ImageView<RGBA> wfb, IntRect area, const Mipmap<RGBA>& diffuse,
                     const GlowBase& base) noexcept;

    // Lighting set-up (colours are linear factors, directions unit vectors).
    Vec3f shadowLightColor{0.325f, 0.325f, 0.325f};
    Vec3f diffuseLightDir{0.0f, 0.99503719f, 0.099503719f};  // (0, 1, 0.1) normalised
    Vec3f diffuseLightColor{0.481f, 0.481f, 0.481f};
    Vec3f specularLightDir{0.0f, 0.99503719f, 0.099503719f};
    Vec3f specularLightColor{0.26f, 0.26f, 0.26f};
    float ambientAmount = 0.08125f;
    float skyboxStrength = 0.52f;

    // Specular exponent per roughness byte k: 0.8 * e^(5.5 * (1 - k / 255)).
    float specularExponents[256];

private:
    float scale_ = 1.0f;
    std::int32_t shadowOffsets_[kShadowSteps] = {};
    float normalZ_ = 0.0f, normalZSquared_ = 0.0f, curvatureFactor_ = 1.0f;
    LevelBlend occlusion_, glow_;
};

}  // namespace korvo
