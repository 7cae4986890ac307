// The compositor's lighting written pixel by pixel, the plain form the optimised lightTile was
// derived from. Tests compare the two on varied layers: the output must be the same bytes.
#include "compositor_reference.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

namespace korvo {

namespace {

constexpr float kLevelScale[14] = {
    1.0f,       0.5f,        0.25f,        0.125f,        0.0625f,        0.03125f,        0.015625f,
    0.0078125f, 0.00390625f, 0.001953125f, 0.0009765625f, 0.00048828125f, 0.000244140625f, 0.0001220703125f};

// One pyramid level prepared for bilinear sampling. Same arithmetic as Mipmap::sampleBilinear
// (position scaled, moved by -0.5, clamped to [0, size - 1.001]), inlined for the per-pixel loop.
template <class COLOR>
struct LevelSampler {
    const std::uint8_t* base = nullptr;
    std::ptrdiff_t pitch = 0;
    std::int32_t w = 0, h = 0;
    float scale = 1.0f, hiX = 0.0f, hiY = 0.0f;

    LevelSampler() noexcept = default;
    LevelSampler(const Mipmap<COLOR>& mip, int level) noexcept {
        const int n = mip.numLevels();
        if (n == 0) return;
        if (level < 0) level = 0;
        if (level >= n) level = n - 1;
        const OwnedImage<COLOR>& image = mip.level(level);
        if (image.w() <= 0 || image.h() <= 0) return;
        ImageView<COLOR> v = const_cast<OwnedImage<COLOR>&>(image).view();
        base = reinterpret_cast<const std::uint8_t*>(v.pixels);
        pitch = v.pitch;
        w = v.w;
        h = v.h;
        scale = kLevelScale[level];
        hiX = static_cast<float>(w) - 1.001f;
        hiY = static_cast<float>(h) - 1.001f;
    }

    // Column part of a sample at x: the two columns and the weight of the right one.
    void columnTap(float x, std::int32_t& x0, std::int32_t& x1, float& u) const noexcept {
        float fx = x * scale - 0.5f;
        if (!(fx <= hiX)) fx = hiX;
        if (!(fx >= 0.0f)) fx = 0.0f;
        x0 = static_cast<std::int32_t>(fx);
        x1 = x0 + 1 < w ? x0 + 1 : w - 1;
        u = fx - static_cast<float>(x0);
    }
    // Row part of a sample at y: the two rows and the weight of the lower one.
    void rowTap(float y, const COLOR*& r0, const COLOR*& r1, float& v) const noexcept {
        float fy = y * scale - 0.5f;
        if (!(fy <= hiY)) fy = hiY;
        if (!(fy >= 0.0f)) fy = 0.0f;
        const auto iy = static_cast<std::int32_t>(fy);
        const std::int32_t iy1 = iy + 1 < h ? iy + 1 : h - 1;
        r0 = reinterpret_cast<const COLOR*>(base + iy * pitch);
        r1 = reinterpret_cast<const COLOR*>(base + iy1 * pitch);
        v = fy - static_cast<float>(iy);
    }
    static float lerp2(float a, float b, float c, float d, float u, float v) noexcept {
        const float top = a + (b - a) * u;
        const float bottom = c + (d - c) * u;
        return top + (bottom - top) * v;
    }
};

// The four channels of an RGBA pixel as floats.
inline __m128 loadRGBA(const RGBA* p) noexcept {
    std::int32_t bits;
    std::memcpy(&bits, p, sizeof bits);
    const __m128i zero = _mm_setzero_si128();
    __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(bits), zero);
    v = _mm_unpacklo_epi16(v, zero);
    return _mm_cvtepi32_ps(v);
}

// Bilinear interpolation of four RGBA pixels, lane by lane the same arithmetic as the scalar
// lerp2 (no fused operations), so every channel matches Mipmap::sampleBilinear exactly.
inline __m128 lerpRGBA(const RGBA* p00, const RGBA* p10, const RGBA* p01, const RGBA* p11, float u,
                       float v) noexcept {
    const __m128 vu = _mm_set1_ps(u), vv = _mm_set1_ps(v);
    const __m128 a = loadRGBA(p00), b = loadRGBA(p10), c = loadRGBA(p01), d = loadRGBA(p11);
    const __m128 top = _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), vu));
    const __m128 bottom = _mm_add_ps(c, _mm_mul_ps(_mm_sub_ps(d, c), vu));
    return _mm_add_ps(top, _mm_mul_ps(_mm_sub_ps(bottom, top), vv));
}

// A full bilinear sample of an RGBA level at (x, y) (0 for an empty level).
inline __m128 sampleRGBA(const LevelSampler<RGBA>& s, float x, float y) noexcept {
    if (s.base == nullptr) return _mm_setzero_ps();
    std::int32_t x0, x1;
    float u, v;
    const RGBA *r0, *r1;
    s.columnTap(x, x0, x1, u);
    s.rowTap(y, r0, r1, v);
    return lerpRGBA(r0 + x0, r0 + x1, r1 + x0, r1 + x1, u, v);
}

// Precomputed column taps of one level for the columns of a tile chunk.
struct ColumnTap {
    std::int32_t x0 = 0, x1 = 0;
    float u = 0.0f;
};
constexpr std::int32_t kChunk = 128;

// Reciprocal square root. The exact form (correctly rounded sqrt and division) keeps the output
// identical on every x86-64 processor, which the processor's estimate instruction does not.
inline float rsqrt(float v) noexcept {
    return 1.0f / std::sqrt(v);
}

// log2 approximation: biased exponent e and mantissa m give (e - 128) + 1.m.
inline float fastLog2(float v) noexcept {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const auto e = static_cast<std::int32_t>((bits >> 23) & 0xFFu);
    const std::uint32_t mantissaBits = (bits & 0x7FFFFFu) | 0x3F800000u;
    float mantissa;
    std::memcpy(&mantissa, &mantissaBits, sizeof mantissa);
    return static_cast<float>(e - 128) + mantissa;
}

inline float dot(const Vec3f& a, const Vec3f& b) noexcept {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline std::int32_t clampTo(std::int32_t v, std::int32_t lo, std::int32_t hi) noexcept {
    return v < lo ? lo : v > hi ? hi : v;
}

// k / 255 for every byte value (the same float as the division).
struct ByteUnitTable {
    float values[256];
    constexpr ByteUnitTable() noexcept : values() {
        for (int k = 0; k < 256; ++k) values[k] = static_cast<float>(k) / 255.0f;
    }
    constexpr float operator[](int k) const noexcept { return values[k]; }
};
constexpr ByteUnitTable kByteUnit;

constexpr float kNormalZ = 37122.22265625f;
constexpr float kNormalZSquared = 1378059392.0f;
constexpr float kShadowNormalisation = 0.181000292f;  // 1 / the largest possible lightPassed
constexpr float kShadowFade = 15360.0f;               // a blocker this much higher casts full shadow
constexpr float kCavityFade = 23040.0f;

}  // namespace

void referenceLightTile(const PBRCompositor& compositor, ImageView<RGBA> wfb, IntRect area,
                        const Mipmap<RGBA>& diffuse, const Mipmap<RGBA>& material, const Mipmap<L16>& depth,
                        const Mipmap<RGBA>& skybox) {
    const Vec3f& shadowLightColor = compositor.shadowLightColor;
    const Vec3f& diffuseLightDir = compositor.diffuseLightDir;
    const Vec3f& diffuseLightColor = compositor.diffuseLightColor;
    const Vec3f& specularLightDir = compositor.specularLightDir;
    const Vec3f& specularLightColor = compositor.specularLightColor;
    const float ambientAmount = compositor.ambientAmount;
    const float skyboxStrength = compositor.skyboxStrength;
    const float* specularExponents = compositor.specularExponents;
    if (diffuse.numLevels() == 0 || material.numLevels() == 0 || depth.numLevels() == 0) return;
    const std::int32_t w = diffuse.level(0).w(), h = diffuse.level(0).h();
    // Every layer and the destination must hold the area.
    IntRect bounds{{0, 0}, {w, h}};
    bounds = bounds.intersection(IntRect{{0, 0}, {depth.level(0).w(), depth.level(0).h()}});
    bounds = bounds.intersection(IntRect{{0, 0}, {material.level(0).w(), material.level(0).h()}});
    bounds = bounds.intersection(wfb.bounds());
    const IntRect a = area.intersection(bounds);
    if (a.empty() || wfb.pixels == nullptr) return;
    const std::int32_t dw = depth.level(0).w(), dh = depth.level(0).h();

    ImageView<RGBA> diffuse0 = const_cast<OwnedImage<RGBA>&>(diffuse.level(0)).view();
    ImageView<RGBA> material0 = const_cast<OwnedImage<RGBA>&>(material.level(0)).view();
    ImageView<L16> depth0 = const_cast<OwnedImage<L16>&>(depth.level(0)).view();

    // The compositor's scale: the levels occlusion and glow sample (with their weights), the shadow
    // walk's offsets, the normal's z and the curvature's factor.
    const float scale = compositor.scale();
    const PBRCompositor::LevelBlend& occlusion = compositor.occlusionLevels();
    const PBRCompositor::LevelBlend& glowBlend = compositor.glowLevels();
    const int aoCount = occlusion.count, glowCount = glowBlend.count;
    LevelSampler<L16> depthLevels[PBRCompositor::kMaxOcclusionLevels];
    for (int l = 0; l < aoCount; ++l) depthLevels[l] = LevelSampler<L16>(depth, occlusion.first + l);
    LevelSampler<RGBA> glowLevels[PBRCompositor::kMaxGlowLevels];
    for (int l = 0; l < glowCount; ++l) glowLevels[l] = LevelSampler<RGBA>(diffuse, glowBlend.first + l);
    const float normalZ = scale == 1.0f ? kNormalZ : kNormalZ / scale;
    const float normalZSquared = scale == 1.0f ? kNormalZSquared : normalZ * normalZ;
    const int skyLevels = skybox.numLevels();
    const float skyW = skyLevels > 0 ? static_cast<float>(skybox.level(0).w()) : 0.0f;
    const float skyH = skyLevels > 0 ? static_cast<float>(skybox.level(0).h()) : 0.0f;
    float curvatureScale = skyW * skyH * 0.00001f;
    if (scale != 1.0f) curvatureScale *= scale * scale * scale * scale;
    std::int32_t offsets[10];
    for (int k = 0; k < 10; ++k) offsets[k] = compositor.shadowOffset(k + 1);

    float shadowWeights[10];
    float p = 1.0f;
    for (int k = 0; k < 10; ++k) {
        p *= 0.78f;
        shadowWeights[k] = p;
    }
    const Vec3f toLight{-specularLightDir.x, -specularLightDir.y, -specularLightDir.z};
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);

    LevelSampler<RGBA> skySamplers[14] = {{skybox, 0},  {skybox, 1},  {skybox, 2},  {skybox, 3}, {skybox, 4},
                                          {skybox, 5},  {skybox, 6},  {skybox, 7},  {skybox, 8}, {skybox, 9},
                                          {skybox, 10}, {skybox, 11}, {skybox, 12}, {skybox, 13}};
    bool glowPresent[PBRCompositor::kMaxGlowLevels] = {};
    for (int l = 0; l < glowCount; ++l) glowPresent[l] = glowLevels[l].base != nullptr;
    const bool depthPresent = depthLevels[0].base != nullptr;

    // The pyramid samples of a row share their column taps: compute them once per chunk of
    // columns and their row taps once per row.
    ColumnTap depthColumns[PBRCompositor::kMaxOcclusionLevels][kChunk];
    ColumnTap glowColumns[PBRCompositor::kMaxGlowLevels][kChunk];
    float eyeX[kChunk];
    for (std::int32_t chunkX = a.min.x; chunkX < a.max.x; chunkX += kChunk) {
        const std::int32_t chunkEnd = a.max.x - chunkX > kChunk ? chunkX + kChunk : a.max.x;
        for (std::int32_t x = chunkX; x < chunkEnd; ++x) {
            const float px = static_cast<float>(x) + 0.5f;
            const std::int32_t i = x - chunkX;
            eyeX[i] = 0.5f - static_cast<float>(x) / fw;
            if (depthPresent)
                for (int l = 0; l < aoCount; ++l)
                    depthLevels[l].columnTap(px, depthColumns[l][i].x0, depthColumns[l][i].x1,
                                             depthColumns[l][i].u);
            for (int l = 0; l < glowCount; ++l)
                if (glowPresent[l])
                    glowLevels[l].columnTap(px, glowColumns[l][i].x0, glowColumns[l][i].x1,
                                            glowColumns[l][i].u);
        }

        for (std::int32_t y = a.min.y; y < a.max.y; ++y) {
            const float py = static_cast<float>(y) + 0.5f;
            const L16 *depthRow0[PBRCompositor::kMaxOcclusionLevels] = {},
                      *depthRow1[PBRCompositor::kMaxOcclusionLevels] = {};
            float depthV[PBRCompositor::kMaxOcclusionLevels] = {};
            if (depthPresent)
                for (int l = 0; l < aoCount; ++l)
                    depthLevels[l].rowTap(py, depthRow0[l], depthRow1[l], depthV[l]);
            const RGBA *glowRow0[PBRCompositor::kMaxGlowLevels] = {},
                       *glowRow1[PBRCompositor::kMaxGlowLevels] = {};
            float glowV[PBRCompositor::kMaxGlowLevels] = {};
            for (int l = 0; l < glowCount; ++l)
                if (glowPresent[l]) glowLevels[l].rowTap(py, glowRow0[l], glowRow1[l], glowV[l]);
            const L16* rowsAbove[10];  // rows of the shadow walk, raised to at least 0
            for (int k = 0; k < 10; ++k) rowsAbove[k] = depth0.row(y - offsets[k] < 0 ? 0 : y - offsets[k]);
            const L16* rowUp = depth0.row(clampTo(y - 1, 0, dh - 1));
            const L16* rowMid = depth0.row(clampTo(y, 0, dh - 1));
            const L16* rowDown = depth0.row(clampTo(y + 1, 0, dh - 1));
            const float toEyeY = static_cast<float>(y) / fh - 0.5f;
            const RGBA* diffuseRow = diffuse0.row(y);
            const RGBA* materialRow = material0.row(y);
            RGBA* out = wfb.row(y);

            for (std::int32_t x = chunkX; x < chunkEnd; ++x) {
                const std::int32_t column = x - chunkX;
                // 1. Depth patch, columns clamped.
                const std::int32_t xl = clampTo(x - 1, 0, dw - 1), xr = clampTo(x + 1, 0, dw - 1);
                const std::int32_t uL = rowUp[xl].l, uC = rowUp[x].l, uR = rowUp[xr].l;
                const std::int32_t mL = rowMid[xl].l, mC = rowMid[x].l, mR = rowMid[xr].l;
                const std::int32_t dL = rowDown[xl].l, dC = rowDown[x].l, dR = rowDown[xr].l;
                const std::int32_t d0 = mC;

                // 2. Normal from the Sobel gradient.
                const std::int32_t sx = (uL + 2 * mL + dL) - (uR + 2 * mR + dR);
                const std::int32_t sy = (dL + 2 * dC + dR) - (uL + 2 * uC + uR);
                const float fsx = static_cast<float>(sx), fsy = static_cast<float>(sy);
                const float nScale = rsqrt(fsx * fsx + fsy * fsy + normalZSquared);
                const Vec3f n{fsx * nScale, fsy * nScale, normalZ * nScale};

                // 3. Material and base colour.
                const RGBA base = diffuseRow[x];
                const RGBA mat = materialRow[x];
                const float br = kByteUnit[base.r], bg = kByteUnit[base.g], bb = kByteUnit[base.b];
                const float roughness = kByteUnit[mat.r], metalness = kByteUnit[mat.g],
                            specular = kByteUnit[mat.b];

                // 4. Eye vector.
                Vec3f eye{eyeX[column], toEyeY, 1.0f};
                const float eScale = rsqrt(eye.x * eye.x + eye.y * eye.y + eye.z * eye.z);
                eye = Vec3f{eye.x * eScale, eye.y * eScale, eye.z * eScale};

                // 5. Ambient occlusion: how far the pixel lies below its blurred surroundings.
                float depthSamples[PBRCompositor::kMaxOcclusionLevels] = {};
                if (depthPresent) {
                    for (int l = 0; l < aoCount; ++l) {
                        const ColumnTap& c = depthColumns[l][column];
                        depthSamples[l] = LevelSampler<L16>::lerp2(depthRow0[l][c.x0].l, depthRow0[l][c.x1].l,
                                                                   depthRow1[l][c.x0].l, depthRow1[l][c.x1].l,
                                                                   c.u, depthV[l]);
                        if (occlusion.weighted[l]) depthSamples[l] *= occlusion.weights[l];
                    }
                }
                float sum = depthSamples[0];
                for (int l = 1; l < aoCount; ++l) sum += depthSamples[l];
                const float avg = 0.25f * sum;
                const float diff = static_cast<float>(d0) - avg;
                float cavity;
                if (diff >= 0.0f)
                    cavity = 1.0f;
                else if (diff < -kCavityFade)
                    cavity = 0.0f;
                else
                    cavity = (diff + kCavityFade) / kCavityFade;
                float cr = 0.0f, cg = 0.0f, cb = 0.0f;
                if (cavity > 0.0f) {
                    cr = br * cavity * ambientAmount;
                    cg = bg * cavity * ambientAmount;
                    cb = bb * cavity * ambientAmount;
                }

                // 6. Cast shadow: walk up both diagonals looking for higher depth.
                float lightPassed = 0.0f;
                const bool inside = x >= offsets[9] && x + offsets[9] < dw;  // no column needs clamping
                for (int k = 0; k < 10; ++k) {
                    const L16* r = rowsAbove[k];
                    const std::int32_t o = offsets[k];
                    const std::int32_t v1 = inside ? r[x + o].l : r[clampTo(x + o, 0, dw - 1)].l;
                    const std::int32_t v2 = inside ? r[x - o].l : r[clampTo(x - o, 0, dw - 1)].l;
                    const std::int32_t t1 = d0 + k + 1 - v1, t2 = d0 + k + 1 - v2;
                    const float f1 = t1 >= 0       ? 1.0f
                                     : t1 < -15360 ? 0.0f
                                                   : static_cast<float>(t1 + 15360) / kShadowFade;
                    const float f2 = t2 >= 0       ? 1.0f
                                     : t2 < -15360 ? 0.0f
                                                   : static_cast<float>(t2 + 15360) / kShadowFade;
                    lightPassed += (f1 + 0.7f * f2) * shadowWeights[k];
                }
                const float shadow = lightPassed * kShadowNormalisation;
                cr += br * shadowLightColor.x * shadow;
                cg += bg * shadowLightColor.y * shadow;
                cb += bb * shadowLightColor.z * shadow;

                // 7. Diffuse light.
                {
                    const float lambert = 0.5f + 0.5f * dot(n, diffuseLightDir);
                    const float t = 0.24f - 0.5f * roughness;
                    const float f = (lambert - t) / (1.0f - t);
                    if (f > 0.0f) {
                        cr += br * diffuseLightColor.x * f;
                        cg += bg * diffuseLightColor.y * f;
                        cb += bb * diffuseLightColor.z * f;
                    }
                }

                // 8. Specular light.
                if (mat.b != 0) {
                    const float nl = 2.0f * dot(n, toLight);
                    const Vec3f reflected{toLight.x - nl * n.x, toLight.y - nl * n.y, toLight.z - nl * n.z};
                    float s = dot(eye, reflected);
                    if (s > 0.001f) {
                        s = static_cast<float>(
                            std::pow(static_cast<double>(s), static_cast<double>(specularExponents[mat.r])));
                        s = s * 10.0f * (1.0f - roughness) * (1.0f - 0.5f * metalness);
                        if (s != 0.0f) {
                            const float k = specular * s;
                            cr += br * specularLightColor.x * k;
                            cg += bg * specularLightColor.y * k;
                            cb += bb * specularLightColor.z * k;
                        }
                    }
                }

                // 9. Skybox reflection, blurred by roughness and by the depth's curvature.
                if (mat.g != 0 && skyLevels > 0) {
                    const float ne = 2.0f * dot(n, eye);
                    const Vec3f rs{eye.x - ne * n.x, eye.y - ne * n.y, eye.z - ne * n.z};
                    const float skyX = 0.5f + (0.5f - 0.5f * rs.x) * (skyW - 1.0f);
                    const float skyY = 0.5f + (0.5f + 0.5f * rs.y) * (skyH - 1.0f);
                    const std::int32_t rowsOuter = (uL + uC + uR) + (dL + dC + dR);
                    const std::int32_t rowMidSum = mL + mC + mR;
                    const std::int32_t colsOuter = (uL + mL + dL) + (uR + mR + dR);
                    const std::int32_t colMidSum = uC + mC + dC;
                    const float ddy = static_cast<float>(rowsOuter - 2 * rowMidSum) * (1.0f / 256.0f);
                    const float ddx = static_cast<float>(colsOuter - 2 * colMidSum) * (1.0f / 256.0f);
                    const float q = (ddx * ddx + ddy * ddy) * curvatureScale + 1.0f;
                    const float level = 0.5f * fastLog2(q) + 6.0f * roughness;
                    const auto i = static_cast<int>(level);
                    const float f = level - static_cast<float>(i);
                    const int lower = i < 13 ? i : 13, upper = i + 1 < 13 ? i + 1 : 13;
                    __m128 sky = sampleRGBA(skySamplers[lower], skyX, skyY);
                    if (f != 0.0f) {
                        const __m128 s2 = sampleRGBA(skySamplers[upper], skyX, skyY);
                        sky = _mm_add_ps(_mm_mul_ps(sky, _mm_set1_ps(1.0f - f)),
                                         _mm_mul_ps(s2, _mm_set1_ps(f)));
                    }
                    float skyChannels[4];
                    _mm_storeu_ps(skyChannels, sky);
                    const float k = metalness / 255.0f * skyboxStrength;
                    cr += br * skyChannels[0] * k;
                    cg += bg * skyChannels[1] * k;
                    cb += bb * skyChannels[2] * k;
                }

                // 10. Emissive glow from the blurred, alpha-premultiplied diffuse.
                __m128 c = _mm_setr_ps(cr, cg, cb, 0.0f);
                for (int l = 0; l < glowCount; ++l) {
                    if (!glowPresent[l]) continue;
                    const ColumnTap& t = glowColumns[l][column];
                    const __m128 g = lerpRGBA(glowRow0[l] + t.x0, glowRow0[l] + t.x1, glowRow1[l] + t.x0,
                                              glowRow1[l] + t.x1, t.u, glowV[l]);
                    c = _mm_add_ps(c, _mm_mul_ps(g, _mm_set1_ps(glowBlend.weights[l])));
                }
                float channels[4];
                _mm_storeu_ps(channels, c);
                cr = channels[0];
                cg = channels[1];
                cb = channels[2];

                // 11. Output.
                auto toByte = [](float v) {
                    return static_cast<std::uint8_t>((v < 1.0f ? v : 1.0f) * 255.99f);
                };
                out[x] = RGBA{toByte(cr), toByte(cg), toByte(cb), 255};
            }
        }
    }
}

}  // namespace korvo
