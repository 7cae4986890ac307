#pragma once
// The compositor's lighting terms, each on four neighbouring pixels in SSE2 lanes: the per-pixel
// formula with the same single-precision operations in the same order (no fused operations, no
// reordered sums), so the bytes are those of the one-pixel form. The compositor calls them in
// their order for every group of four pixels of a tile row; the numbers in the comments are
// that order. Terms that add nothing are skipped (no specular where the specular byte is 0, no
// division in the shadow walk where no step lies in its fade band).
//
// Internal to the compositor: included by compositor.cpp only.

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "korvo/graphics/image.h"
#include "korvo/gui/compositor.h"

// Every term is inlined into the compositor's loop: as calls, their lanes would go through memory.
#define KORVO_LANES_INLINE inline __attribute__((always_inline))

namespace korvo::lighting {

constexpr int kShadowSteps = PBRCompositor::kShadowSteps;
constexpr int kMaxOcclusionLevels = PBRCompositor::kMaxOcclusionLevels;

KORVO_LANES_INLINE std::int32_t clampTo(std::int32_t v, std::int32_t lo, std::int32_t hi) noexcept {
    return v < lo ? lo : v > hi ? hi : v;
}

// 11. Output of `lanes` pixels at out: min(C, 1) x 255.99, truncated; alpha 255.
KORVO_LANES_INLINE void storeOutput(RGBA* out, std::int32_t lanes, __m128 cr, __m128 cg, __m128 cb) noexcept {
    const __m128 one = _mm_set1_ps(1.0f), scale = _mm_set1_ps(255.99f);
    const __m128i r8 = _mm_cvttps_epi32(_mm_mul_ps(_mm_min_ps(cr, one), scale));
    const __m128i g8 = _mm_cvttps_epi32(_mm_mul_ps(_mm_min_ps(cg, one), scale));
    const __m128i b8 = _mm_cvttps_epi32(_mm_mul_ps(_mm_min_ps(cb, one), scale));
    const __m128i pixels =
        _mm_or_si128(_mm_or_si128(r8, _mm_slli_epi32(g8, 8)),
                     _mm_or_si128(_mm_slli_epi32(b8, 16), _mm_set1_epi32(static_cast<int>(0xFF000000u))));
    if (lanes == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixels);
    } else {
        alignas(16) std::uint32_t bits[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(bits), pixels);
        std::memcpy(out, bits, static_cast<std::size_t>(lanes) * 4);
    }
}

// Four consecutive floats of a plane (fewer at the area's end; the rest 0).
KORVO_LANES_INLINE __m128 loadLanes(const float* p, std::int32_t lanes) noexcept {
    if (lanes == 4) return _mm_loadu_ps(p);
    alignas(16) float v[4] = {};
    std::memcpy(v, p, static_cast<std::size_t>(lanes) * sizeof(float));
    return _mm_load_ps(v);
}
KORVO_LANES_INLINE void storeLanes(float* p, std::int32_t lanes, __m128 v) noexcept {
    if (lanes == 4) {
        _mm_storeu_ps(p, v);
        return;
    }
    alignas(16) float bits[4];
    _mm_store_ps(bits, v);
    std::memcpy(p, bits, static_cast<std::size_t>(lanes) * sizeof(float));
}

// Four consecutive depth values as int32 lanes.
KORVO_LANES_INLINE __m128i loadDepth4(const L16* p) noexcept {
    return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
// Depth values at columns x .. x + 3, each clamped into [0, maxX].
KORVO_LANES_INLINE __m128i gatherDepth4(const L16* row, std::int32_t x, std::int32_t maxX) noexcept {
    return _mm_setr_epi32(row[clampTo(x, 0, maxX)].l, row[clampTo(x + 1, 0, maxX)].l,
                          row[clampTo(x + 2, 0, maxX)].l, row[clampTo(x + 3, 0, maxX)].l);
}
// Pixels x .. x + 3 of an RGBA row as int32 lanes, columns clamped to maxX.
KORVO_LANES_INLINE __m128i gatherPixels4(const RGBA* row, std::int32_t x, std::int32_t maxX) noexcept {
    std::int32_t bits[4];
    for (int i = 0; i < 4; ++i) std::memcpy(&bits[i], row + (x + i < maxX ? x + i : maxX), 4);
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bits));
}

KORVO_LANES_INLINE __m128i byteOf(__m128i pixels, int shift) noexcept {
    return _mm_and_si128(_mm_srli_epi32(pixels, shift), _mm_set1_epi32(0xFF));
}
// byte / 255 (the correctly rounded quotient, as the scalar division).
KORVO_LANES_INLINE __m128 unitOf(__m128i bytes) noexcept {
    return _mm_div_ps(_mm_cvtepi32_ps(bytes), _mm_set1_ps(255.0f));
}

KORVO_LANES_INLINE __m128 select(__m128 mask, __m128 a) noexcept {
    return _mm_and_ps(mask, a);
}

KORVO_LANES_INLINE __m128 dot3(__m128 ax, __m128 ay, __m128 az, __m128 bx, __m128 by, __m128 bz) noexcept {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(ax, bx), _mm_mul_ps(ay, by)), _mm_mul_ps(az, bz));
}

constexpr float kShadowNormalisation = 0.181000292f;  // 1 / the largest possible lightPassed
constexpr float kShadowFade = 15360.0f;               // a blocker this much higher casts full shadow
constexpr float kCavityFade = 23040.0f;

// How much light a shadow step lets through, for blocker margins t (blocker height minus the
// pixel's height minus the step, negated): 1 at t >= 0, 0 below -15360, linear in between.
// Clamping t into [-15360, 0] first gives the same three cases with one formula.
KORVO_LANES_INLINE __m128 shadowFactor(__m128 t) noexcept {
    const __m128 fade = _mm_set1_ps(kShadowFade);
    const __m128 c = _mm_min_ps(_mm_max_ps(t, _mm_set1_ps(-kShadowFade)), _mm_setzero_ps());
    return _mm_div_ps(_mm_add_ps(c, fade), fade);
}
KORVO_LANES_INLINE bool inFadeBand(__m128 t) noexcept {
    return _mm_movemask_ps(_mm_and_ps(_mm_cmplt_ps(t, _mm_setzero_ps()),
                                      _mm_cmpgt_ps(t, _mm_set1_ps(-kShadowFade)))) != 0;
}

// log2 approximation: biased exponent e and mantissa m give (e - 128) + 1.m.
KORVO_LANES_INLINE __m128 fastLog2(__m128 v) noexcept {
    const __m128i bits = _mm_castps_si128(v);
    const __m128i e =
        _mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(bits, 23), _mm_set1_epi32(0xFF)), _mm_set1_epi32(128));
    const __m128 mantissa = _mm_castsi128_ps(
        _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x7FFFFF)), _mm_set1_epi32(0x3F800000)));
    return _mm_add_ps(_mm_cvtepi32_ps(e), mantissa);
}

KORVO_LANES_INLINE __m128 laneMask(int mask) noexcept {
    return _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_and_si128(_mm_set1_epi32(mask), _mm_setr_epi32(1, 2, 4, 8)),
                                            _mm_setzero_si128()));
}

// Three colour channels of four pixels.
struct Colour {
    __m128 r, g, b;
};
// A direction (or a normal) at each of four pixels.
struct Direction {
    __m128 x, y, z;
};

// The light set-up in lanes, made once per tile.
struct Lights {
    Colour shadow, diffuse, specular;
    Direction diffuseDir, toSpecular;  // toSpecular: the specular light's direction negated
    __m128 ambient;
    __m128 skyWMinus1, skyHMinus1, curvatureScale, skyStrength;
    float normalZ, normalZSquared;
    const float* specularExponents;  // per roughness byte
};

// The shadow walk: each step's offset in pixels and weight, and the walk's sum when every step
// lets all the light through (the same operations in order).
struct ShadowWalk {
    std::int32_t offsets[kShadowSteps];
    __m128 weights[kShadowSteps];
    __m128 allLightPassed;

    explicit ShadowWalk(const std::int32_t* stepOffsets) noexcept {
        float p = 1.0f;
        for (int k = 0; k < kShadowSteps; ++k) {
            offsets[k] = stepOffsets[k];
            p *= 0.78f;
            weights[k] = _mm_set1_ps(p);
        }
        const __m128 one = _mm_set1_ps(1.0f), seventenths = _mm_set1_ps(0.7f);
        allLightPassed = _mm_setzero_ps();
        for (int k = 0; k < kShadowSteps; ++k)
            allLightPassed = _mm_add_ps(
                allLightPassed, _mm_mul_ps(_mm_add_ps(one, _mm_mul_ps(seventenths, one)), weights[k]));
    }
};

// The depth rows a tile row reads: its 3 x 3 neighbourhood and the shadow walk's rows (raised to
// at least row 0).
struct DepthRows {
    const L16* up;
    const L16* mid;
    const L16* down;
    const L16* above[kShadowSteps];
};

// Ambient occlusion's samples for a tile row: per level, the level's two rows interpolated at the
// chunk's columns and the weight of the lower one.
struct OcclusionRow {
    const float* top[kMaxOcclusionLevels];
    const float* bottom[kMaxOcclusionLevels];
    float v[kMaxOcclusionLevels];
};

// 1. A group's 3 x 3 depth patch and its diffuse and material pixels. Interior: the whole group
// and its shadow walk lie inside, nothing is clamped. Otherwise lanes past lastX read column
// lastX (computed, never stored) and the patch's columns are clamped into the depth's width.
struct PixelGroup {
    __m128i uL, uC, uR, mL, mC, mR, dL, dC, dR;
    __m128i diffuse, material;
};
KORVO_LANES_INLINE PixelGroup readGroup(const DepthRows& depth, const RGBA* diffuse, const RGBA* material,
                                        std::int32_t x, bool interior, std::int32_t lastX,
                                        std::int32_t depthW) noexcept {
    PixelGroup g;
    if (interior) {
        g.uL = loadDepth4(depth.up + x - 1), g.uC = loadDepth4(depth.up + x),
        g.uR = loadDepth4(depth.up + x + 1);
        g.mL = loadDepth4(depth.mid + x - 1), g.mC = loadDepth4(depth.mid + x),
        g.mR = loadDepth4(depth.mid + x + 1);
        g.dL = loadDepth4(depth.down + x - 1), g.dC = loadDepth4(depth.down + x),
        g.dR = loadDepth4(depth.down + x + 1);
        g.diffuse = _mm_loadu_si128(reinterpret_cast<const __m128i*>(diffuse + x));
        g.material = _mm_loadu_si128(reinterpret_cast<const __m128i*>(material + x));
        return g;
    }
    std::int32_t xs[4];
    for (int i = 0; i < 4; ++i) xs[i] = x + i <= lastX ? x + i : lastX;
    auto patch = [&](const L16* r, int dx) {
        return _mm_setr_epi32(
            r[clampTo(xs[0] + dx, 0, depthW - 1)].l, r[clampTo(xs[1] + dx, 0, depthW - 1)].l,
            r[clampTo(xs[2] + dx, 0, depthW - 1)].l, r[clampTo(xs[3] + dx, 0, depthW - 1)].l);
    };
    g.uL = patch(depth.up, -1), g.uC = patch(depth.up, 0), g.uR = patch(depth.up, 1);
    g.mL = patch(depth.mid, -1), g.mC = patch(depth.mid, 0), g.mR = patch(depth.mid, 1);
    g.dL = patch(depth.down, -1), g.dC = patch(depth.down, 0), g.dR = patch(depth.down, 1);
    g.diffuse = gatherPixels4(diffuse, x, lastX);
    g.material = gatherPixels4(material, x, lastX);
    return g;
}

// 2. The normal from the Sobel gradient of the patch.
KORVO_LANES_INLINE Direction sobelNormal(const PixelGroup& p, const Lights& lights) noexcept {
    const __m128i sx = _mm_sub_epi32(_mm_add_epi32(_mm_add_epi32(p.uL, _mm_add_epi32(p.mL, p.mL)), p.dL),
                                     _mm_add_epi32(_mm_add_epi32(p.uR, _mm_add_epi32(p.mR, p.mR)), p.dR));
    const __m128i sy = _mm_sub_epi32(_mm_add_epi32(_mm_add_epi32(p.dL, _mm_add_epi32(p.dC, p.dC)), p.dR),
                                     _mm_add_epi32(_mm_add_epi32(p.uL, _mm_add_epi32(p.uC, p.uC)), p.uR));
    const __m128 fsx = _mm_cvtepi32_ps(sx), fsy = _mm_cvtepi32_ps(sy);
    const __m128 lengthSquared = _mm_add_ps(_mm_add_ps(_mm_mul_ps(fsx, fsx), _mm_mul_ps(fsy, fsy)),
                                            _mm_set1_ps(lights.normalZSquared));
    const __m128 nScale = _mm_div_ps(_mm_set1_ps(1.0f), _mm_sqrt_ps(lengthSquared));
    return {_mm_mul_ps(fsx, nScale), _mm_mul_ps(fsy, nScale),
            _mm_mul_ps(_mm_set1_ps(lights.normalZ), nScale)};
}

// 3. The diffuse bytes as colour factors.
KORVO_LANES_INLINE Colour baseColour(__m128i diffusePixels) noexcept {
    return {unitOf(byteOf(diffusePixels, 0)), unitOf(byteOf(diffusePixels, 8)),
            unitOf(byteOf(diffusePixels, 16))};
}

// 4. The unit vector from the pixel to the eye (eyeX, eyeX2: the chunk's columns; eyeY, eyeY2:
// the row's).
KORVO_LANES_INLINE Direction eyeVector(const float* eyeX, const float* eyeX2, float eyeY,
                                     float eyeY2) noexcept {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 eScale =
        _mm_div_ps(one, _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_load_ps(eyeX2), _mm_set1_ps(eyeY2)), one)));
    return {_mm_mul_ps(_mm_load_ps(eyeX), eScale), _mm_mul_ps(_mm_set1_ps(eyeY), eScale), eScale};
}

// 5. Ambient light, darkened where the pixel lies below the blurred depth around it (a cavity).
KORVO_LANES_INLINE Colour ambientLight(const OcclusionRow& ao, const PBRCompositor::LevelBlend& blend,
                                       std::int32_t column, __m128i depth, Colour base,
                                       const Lights& lights) noexcept {
    const __m128 zero = _mm_setzero_ps();
    __m128 sum = zero;
    for (int l = 0; l < blend.count; ++l) {
        const __m128 top = _mm_loadu_ps(ao.top[l] + column);
        const __m128 bottom = _mm_loadu_ps(ao.bottom[l] + column);
        __m128 s = _mm_add_ps(top, _mm_mul_ps(_mm_sub_ps(bottom, top), _mm_set1_ps(ao.v[l])));
        if (blend.weighted[l]) s = _mm_mul_ps(s, _mm_set1_ps(blend.weights[l]));
        sum = l == 0 ? s : _mm_add_ps(sum, s);
    }
    const __m128 diff = _mm_sub_ps(_mm_cvtepi32_ps(depth), _mm_mul_ps(_mm_set1_ps(0.25f), sum));
    __m128 cavity;
    if (_mm_movemask_ps(_mm_cmplt_ps(diff, zero)) == 0) {
        cavity = _mm_set1_ps(1.0f);
    } else {
        const __m128 fade = _mm_set1_ps(kCavityFade);
        cavity =
            _mm_div_ps(_mm_add_ps(_mm_min_ps(_mm_max_ps(diff, _mm_set1_ps(-kCavityFade)), zero), fade), fade);
    }
    return {_mm_mul_ps(_mm_mul_ps(base.r, cavity), lights.ambient),
            _mm_mul_ps(_mm_mul_ps(base.g, cavity), lights.ambient),
            _mm_mul_ps(_mm_mul_ps(base.b, cavity), lights.ambient)};
}

// 6. Cast shadow: the walk up both diagonals looks for higher depth; the upper light adds what
// passes. Where no step has a higher blocker, all the light passes (the sum is a constant).
KORVO_LANES_INLINE void addCastShadow(Colour& c, Colour base, const DepthRows& depth, const ShadowWalk& walk,
                                      std::int32_t x, __m128i d0, bool interior, std::int32_t depthW,
                                      const Lights& lights) noexcept {
    const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps(), seventenths = _mm_set1_ps(0.7f);
    __m128i margins[2 * kShadowSteps];
    __m128i anyBlocker = _mm_setzero_si128();
    for (int k = 0; k < kShadowSteps; ++k) {
        const L16* r = depth.above[k];
        const std::int32_t offset = walk.offsets[k];
        __m128i v1, v2;
        if (interior) {
            v1 = loadDepth4(r + x + offset);
            v2 = loadDepth4(r + x - offset);
        } else {
            v1 = gatherDepth4(r, x + offset, depthW - 1);
            v2 = gatherDepth4(r, x - offset, depthW - 1);
        }
        const __m128i stepHeight = _mm_add_epi32(d0, _mm_set1_epi32(k + 1));
        margins[2 * k] = _mm_sub_epi32(stepHeight, v1);
        margins[2 * k + 1] = _mm_sub_epi32(stepHeight, v2);
        anyBlocker = _mm_or_si128(anyBlocker, _mm_or_si128(margins[2 * k], margins[2 * k + 1]));
    }
    __m128 lightPassed;
    if (_mm_movemask_ps(_mm_castsi128_ps(anyBlocker)) == 0) {
        lightPassed = walk.allLightPassed;
    } else {
        lightPassed = zero;
        for (int k = 0; k < kShadowSteps; ++k) {
            const __m128 t1 = _mm_cvtepi32_ps(margins[2 * k]);
            const __m128 t2 = _mm_cvtepi32_ps(margins[2 * k + 1]);
            __m128 f1, f2;
            if (inFadeBand(t1) || inFadeBand(t2)) {
                f1 = shadowFactor(t1);
                f2 = shadowFactor(t2);
            } else {
                f1 = select(_mm_cmpge_ps(t1, zero), one);
                f2 = select(_mm_cmpge_ps(t2, zero), one);
            }
            lightPassed = _mm_add_ps(
                lightPassed, _mm_mul_ps(_mm_add_ps(f1, _mm_mul_ps(seventenths, f2)), walk.weights[k]));
        }
    }
    const __m128 shadow = _mm_mul_ps(lightPassed, _mm_set1_ps(kShadowNormalisation));
    c.r = _mm_add_ps(c.r, _mm_mul_ps(_mm_mul_ps(base.r, lights.shadow.r), shadow));
    c.g = _mm_add_ps(c.g, _mm_mul_ps(_mm_mul_ps(base.g, lights.shadow.g), shadow));
    c.b = _mm_add_ps(c.b, _mm_mul_ps(_mm_mul_ps(base.b, lights.shadow.b), shadow));
}

// 7. Diffuse light: a wrapped Lambert term whose wrap narrows with roughness.
KORVO_LANES_INLINE void addDiffuse(Colour& c, Colour base, Direction n, __m128 roughness,
                                   const Lights& lights) noexcept {
    const __m128 one = _mm_set1_ps(1.0f), half = _mm_set1_ps(0.5f);
    const Direction& l = lights.diffuseDir;
    const __m128 lambert = _mm_add_ps(half, _mm_mul_ps(half, dot3(n.x, n.y, n.z, l.x, l.y, l.z)));
    const __m128 t = _mm_sub_ps(_mm_set1_ps(0.24f), _mm_mul_ps(half, roughness));
    const __m128 f = _mm_div_ps(_mm_sub_ps(lambert, t), _mm_sub_ps(one, t));
    const __m128 facing = _mm_cmpgt_ps(f, _mm_setzero_ps());
    c.r = _mm_add_ps(c.r, select(facing, _mm_mul_ps(_mm_mul_ps(base.r, lights.diffuse.r), f)));
    c.g = _mm_add_ps(c.g, select(facing, _mm_mul_ps(_mm_mul_ps(base.g, lights.diffuse.g), f)));
    c.b = _mm_add_ps(c.b, select(facing, _mm_mul_ps(_mm_mul_ps(base.b, lights.diffuse.b), f)));
}

// 8a. Specular light, first half: the reflected light's alignment with the eye and the exponent
// of the lanes of `lanes` it reaches (alignment above 0.001), stored for the powers. Returns those
// lanes.
KORVO_LANES_INLINE int specularAlignment(Direction n, Direction eye, __m128i roughnessBytes, int lanes,
                                         const Lights& lights, float* alignment, float* exponent) noexcept {
    const Direction& l = lights.toSpecular;
    const __m128 nl = _mm_mul_ps(_mm_set1_ps(2.0f), dot3(n.x, n.y, n.z, l.x, l.y, l.z));
    const __m128 rx = _mm_sub_ps(l.x, _mm_mul_ps(nl, n.x)), ry = _mm_sub_ps(l.y, _mm_mul_ps(nl, n.y)),
                 rz = _mm_sub_ps(l.z, _mm_mul_ps(nl, n.z));
    const __m128 s = dot3(eye.x, eye.y, eye.z, rx, ry, rz);
    const int active = lanes & _mm_movemask_ps(_mm_cmpgt_ps(s, _mm_set1_ps(0.001f)));
    if (active != 0) {
        alignas(16) std::int32_t rb[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(rb), roughnessBytes);
        _mm_store_ps(alignment, s);
        const float* e = lights.specularExponents;
        _mm_store_ps(exponent, _mm_setr_ps(e[rb[0]], e[rb[1]], e[rb[2]], e[rb[3]]));
    }
    return active;
}

// 8b. Specular light, second half: the powered alignment, dimmed by roughness and metalness,
// scaled by the specular byte, added where it is not 0.
KORVO_LANES_INLINE void addSpecular(Colour& c, Colour base, __m128 powered, __m128 roughness,
                                    __m128 metalness, __m128 specular, int lanes,
                                    const Lights& lights) noexcept {
    const __m128 one = _mm_set1_ps(1.0f), half = _mm_set1_ps(0.5f);
    __m128 sp = _mm_mul_ps(_mm_mul_ps(powered, _mm_set1_ps(10.0f)), _mm_sub_ps(one, roughness));
    sp = _mm_mul_ps(sp, _mm_sub_ps(one, _mm_mul_ps(half, metalness)));
    const __m128 adds = _mm_and_ps(laneMask(lanes), _mm_cmpneq_ps(sp, _mm_setzero_ps()));
    const __m128 k = _mm_mul_ps(specular, sp);
    c.r = _mm_add_ps(c.r, select(adds, _mm_mul_ps(_mm_mul_ps(base.r, lights.specular.r), k)));
    c.g = _mm_add_ps(c.g, select(adds, _mm_mul_ps(_mm_mul_ps(base.g, lights.specular.g), k)));
    c.b = _mm_add_ps(c.b, select(adds, _mm_mul_ps(_mm_mul_ps(base.b, lights.specular.b), k)));
}

// 9a. Skybox reflection, first half: where the eye's reflection meets the skybox and the blur
// level there, from the roughness and the depth's curvature over the patch.
KORVO_LANES_INLINE void skyboxLookup(const PixelGroup& p, Direction n, Direction eye, __m128 roughness,
                                     const Lights& lights, float* skyX, float* skyY,
                                     float* skyLevel) noexcept {
    const __m128 half = _mm_set1_ps(0.5f), one = _mm_set1_ps(1.0f);
    const __m128 ne = _mm_mul_ps(_mm_set1_ps(2.0f), dot3(n.x, n.y, n.z, eye.x, eye.y, eye.z));
    const __m128 rsx = _mm_sub_ps(eye.x, _mm_mul_ps(ne, n.x)), rsy = _mm_sub_ps(eye.y, _mm_mul_ps(ne, n.y));
    _mm_store_ps(skyX,
                 _mm_add_ps(half, _mm_mul_ps(_mm_sub_ps(half, _mm_mul_ps(half, rsx)), lights.skyWMinus1)));
    _mm_store_ps(skyY,
                 _mm_add_ps(half, _mm_mul_ps(_mm_add_ps(half, _mm_mul_ps(half, rsy)), lights.skyHMinus1)));
    // Second derivatives of the depth over the patch.
    const __m128i rowsOuter = _mm_add_epi32(_mm_add_epi32(_mm_add_epi32(p.uL, p.uC), p.uR),
                                            _mm_add_epi32(_mm_add_epi32(p.dL, p.dC), p.dR));
    const __m128i rowMid = _mm_add_epi32(_mm_add_epi32(p.mL, p.mC), p.mR);
    const __m128i colsOuter = _mm_add_epi32(_mm_add_epi32(_mm_add_epi32(p.uL, p.mL), p.dL),
                                            _mm_add_epi32(_mm_add_epi32(p.uR, p.mR), p.dR));
    const __m128i colMid = _mm_add_epi32(_mm_add_epi32(p.uC, p.mC), p.dC);
    const __m128 inv256 = _mm_set1_ps(1.0f / 256.0f);
    const __m128 ddy =
        _mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(rowsOuter, _mm_add_epi32(rowMid, rowMid))), inv256);
    const __m128 ddx =
        _mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(colsOuter, _mm_add_epi32(colMid, colMid))), inv256);
    const __m128 q = _mm_add_ps(
        _mm_mul_ps(_mm_add_ps(_mm_mul_ps(ddx, ddx), _mm_mul_ps(ddy, ddy)), lights.curvatureScale), one);
    _mm_store_ps(skyLevel,
                 _mm_add_ps(_mm_mul_ps(half, fastLog2(q)), _mm_mul_ps(_mm_set1_ps(6.0f), roughness)));
}

}  // namespace korvo::lighting
