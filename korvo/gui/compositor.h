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
    PBRCompositor() noexcept;

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
};

}  // namespace korvo
