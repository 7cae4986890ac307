// PBR lighting of one tile, four pixels of a row at a time.
//
// The lighting terms themselves, one function each, are in lightingterms.h; this file samples the
// pyramids and runs the terms over a tile. What pixels share is computed once: the pyramid rows
// that ambient occlusion and glow sample are interpolated along x once per tile chunk and reused
// by every output row that samples them, and terms that add nothing are skipped (no skybox where
// the metalness is 0, no glow level whose rows are black).
#include "korvo/gui/compositor.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "korvo/gui/highlightpower.h"
#include "korvo/gui/lightingterms.h"

namespace korvo {

namespace {

using namespace lighting;

constexpr int kMaxGlowLevels = PBRCompositor::kMaxGlowLevels;

constexpr float kNormalZ = 37122.22265625f;
constexpr float kNormalZSquared = 1378059392.0f;

constexpr float kLevelScale[14] = {
    1.0f,       0.5f,        0.25f,        0.125f,        0.0625f,        0.03125f,        0.015625f,
    0.0078125f, 0.00390625f, 0.001953125f, 0.0009765625f, 0.00048828125f, 0.000244140625f, 0.0001220703125f};

// One pyramid level prepared for bilinear sampling. Same arithmetic as Mipmap::sampleBilinear
// (position scaled, moved by -0.5, clamped to [0, size - 1.001]).
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
        const ImageView<COLOR> v = image.view();
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
    void rowTap(float y, std::int32_t& y0, std::int32_t& y1, float& v) const noexcept {
        float fy = y * scale - 0.5f;
        if (!(fy <= hiY)) fy = hiY;
        if (!(fy >= 0.0f)) fy = 0.0f;
        y0 = static_cast<std::int32_t>(fy);
        y1 = y0 + 1 < h ? y0 + 1 : h - 1;
        v = fy - static_cast<float>(y0);
    }
    const COLOR* row(std::int32_t y) const noexcept {
        return reinterpret_cast<const COLOR*>(base + y * pitch);
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

// A full bilinear sample of an RGBA level at (x, y) (0 for an empty level), each channel the
// arithmetic of Mipmap::sampleBilinear.
inline __m128 sampleRGBA(const LevelSampler<RGBA>& s, float x, float y) noexcept {
    if (s.base == nullptr) return _mm_setzero_ps();
    std::int32_t x0, x1, y0, y1;
    float u, v;
    s.columnTap(x, x0, x1, u);
    s.rowTap(y, y0, y1, v);
    const RGBA *r0 = s.row(y0), *r1 = s.row(y1);
    const __m128 vu = _mm_set1_ps(u), vv = _mm_set1_ps(v);
    const __m128 a = loadRGBA(r0 + x0), b = loadRGBA(r0 + x1), c = loadRGBA(r1 + x0), d = loadRGBA(r1 + x1);
    const __m128 top = _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), vu));
    const __m128 bottom = _mm_add_ps(c, _mm_mul_ps(_mm_sub_ps(d, c), vu));
    return _mm_add_ps(top, _mm_mul_ps(_mm_sub_ps(bottom, top), vv));
}

// Four bilinear samples of one RGBA level at (x, y) lane by lane: the red, green and blue channels
// of each lane, with the arithmetic of sampleRGBA (positions clamped the same way, the same three
// interpolations per channel).
inline void sampleRGB4(const LevelSampler<RGBA>& s, __m128 x, __m128 y, __m128 out[3]) noexcept {
    if (s.base == nullptr) {
        out[0] = out[1] = out[2] = _mm_setzero_ps();
        return;
    }
    const __m128 half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
    auto tap = [&](__m128 p, float hi, std::int32_t size, __m128i& i0, __m128i& i1, __m128& t) {
        __m128 f = _mm_sub_ps(_mm_mul_ps(p, _mm_set1_ps(s.scale)), half);
        const __m128 inside = _mm_cmple_ps(f, _mm_set1_ps(hi));  // false for NaN: hi, as !(f <= hi)
        f = _mm_or_ps(_mm_and_ps(inside, f), _mm_andnot_ps(inside, _mm_set1_ps(hi)));
        f = _mm_and_ps(_mm_cmpge_ps(f, zero), f);
        i0 = _mm_cvttps_epi32(f);
        const __m128i next = _mm_add_epi32(i0, _mm_set1_epi32(1)), last = _mm_set1_epi32(size - 1);
        const __m128i fits = _mm_cmplt_epi32(next, _mm_set1_epi32(size));
        i1 = _mm_or_si128(_mm_and_si128(fits, next), _mm_andnot_si128(fits, last));
        t = _mm_sub_ps(f, _mm_cvtepi32_ps(i0));
    };
    __m128i x0, x1, y0, y1;
    __m128 u, v;
    tap(x, s.hiX, s.w, x0, x1, u);
    tap(y, s.hiY, s.h, y0, y1, v);
    alignas(16) std::int32_t xs0[4], xs1[4], ys0[4], ys1[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(xs0), x0);
    _mm_store_si128(reinterpret_cast<__m128i*>(xs1), x1);
    _mm_store_si128(reinterpret_cast<__m128i*>(ys0), y0);
    _mm_store_si128(reinterpret_cast<__m128i*>(ys1), y1);
    alignas(16) std::int32_t a[4], b[4], c[4], d[4];
    for (int i = 0; i < 4; ++i) {
        const RGBA *r0 = s.row(ys0[i]), *r1 = s.row(ys1[i]);
        std::memcpy(&a[i], r0 + xs0[i], 4);
        std::memcpy(&b[i], r0 + xs1[i], 4);
        std::memcpy(&c[i], r1 + xs0[i], 4);
        std::memcpy(&d[i], r1 + xs1[i], 4);
    }
    const __m128i pa = _mm_load_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i pb = _mm_load_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i pc = _mm_load_si128(reinterpret_cast<const __m128i*>(c));
    const __m128i pd = _mm_load_si128(reinterpret_cast<const __m128i*>(d));
    const __m128i mask = _mm_set1_epi32(0xFF);
    for (int ch = 0; ch < 3; ++ch) {
        const int shift = 8 * ch;
        auto channel = [&](__m128i p) {
            return _mm_cvtepi32_ps(_mm_and_si128(_mm_srl_epi32(p, _mm_cvtsi32_si128(shift)), mask));
        };
        const __m128 ca = channel(pa), cb = channel(pb), cc = channel(pc), cd = channel(pd);
        const __m128 top = _mm_add_ps(ca, _mm_mul_ps(_mm_sub_ps(cb, ca), u));
        const __m128 bottom = _mm_add_ps(cc, _mm_mul_ps(_mm_sub_ps(cd, cc), u));
        out[ch] = _mm_add_ps(top, _mm_mul_ps(_mm_sub_ps(bottom, top), v));
    }
}

constexpr std::int32_t kLanes = 4;
constexpr std::int32_t kChunk = 128;               // columns whose taps are prepared together
constexpr std::int32_t kPadded = kChunk + kLanes;  // room for the lanes past a chunk's last column

struct ColumnTap {
    std::int32_t x0 = 0, x1 = 0;
    float u = 0.0f;
};

// Rows of one pyramid level interpolated along x at a chunk's columns (the "top" and "bottom"
// halves of a bilinear sample), for the two rows the current output row samples. Output rows
// advance downwards, so two slots hold everything a row needs.
template <int PLANES>
struct RowCache {
    std::int32_t rows[2] = {-1, -1};
    bool nonZero[2] = {false, false};
    alignas(16) float values[2][PLANES][kPadded];

    // The slot holding level row r, filled by fill(slot, r) if missing; the slot holding `keep`
    // is not reused.
    template <class FILL>
    int slotFor(std::int32_t r, std::int32_t keep, FILL&& fill) noexcept {
        if (rows[0] == r) return 0;
        if (rows[1] == r) return 1;
        const int slot = rows[0] == keep ? 1 : 0;
        nonZero[slot] = fill(slot, r);
        rows[slot] = r;
        return slot;
    }
};

// The depth row interpolated at the chunk's columns (a + (b - a) u, as the scalar sample).
void interpolateDepthRow(const L16* row, const ColumnTap* taps, std::int32_t count, float* out) noexcept {
    for (std::int32_t i = 0; i < count; ++i) {
        const float a = row[taps[i].x0].l, b = row[taps[i].x1].l;
        out[i] = a + (b - a) * taps[i].u;
    }
}

// The colour channels of a glow row interpolated at the chunk's columns; false when every pixel
// read is black (the level then adds nothing to this row, and nothing is interpolated).
bool interpolateGlowRow(const RGBA* row, const ColumnTap* taps, std::int32_t count, float* r, float* g,
                        float* b) noexcept {
    // Taps only move right: the span from the first tap to the last holds every pixel read.
    const std::int32_t first = taps[0].x0, last = taps[count - 1].x1;
    __m128i colour = _mm_setzero_si128();
    std::int32_t x = first;
    for (; x + 4 <= last + 1; x += 4)
        colour = _mm_or_si128(colour, _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)));
    std::uint32_t rest = 0;
    for (; x <= last; ++x) {
        std::uint32_t bits;
        std::memcpy(&bits, row + x, 4);
        rest |= bits;
    }
    colour = _mm_or_si128(colour, _mm_cvtsi32_si128(static_cast<int>(rest)));
    // RGB bytes only: alpha is not part of the glow.
    if (_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_and_si128(colour, _mm_set1_epi32(0x00FFFFFF)), _mm_setzero_si128())) == 0xFFFF)
        return false;
    for (std::int32_t i = 0; i < count; ++i) {
        const RGBA p = row[taps[i].x0], q = row[taps[i].x1];
        const float u = taps[i].u;
        const float pr = p.r, pg = p.g, pb = p.b, qr = q.r, qg = q.g, qb = q.b;
        r[i] = pr + (qr - pr) * u;
        g[i] = pg + (qg - pg) * u;
        b[i] = pb + (qb - pb) * u;
    }
    return true;
}

// What one output row adds as glow: the interpolated rows of the levels that have something to add.
struct GlowRow {
    int count = 0;
    const float* top[kMaxGlowLevels][3];
    const float* bottom[kMaxGlowLevels][3];
    float v[kMaxGlowLevels];
    float weight[kMaxGlowLevels];
};

alignas(16) constexpr float kZeroRow[kPadded] = {};

// The glow levels (diffuse levels 1 to 5 at 100 %), the column taps of the current chunk and the
// rows interpolated at them. lightTile and relightGlow both sample through this, so their glow is
// the same arithmetic.
struct GlowRows {
    LevelSampler<RGBA> levels[kMaxGlowLevels];
    float weights[kMaxGlowLevels];
    int count = 0;
    ColumnTap columns[kMaxGlowLevels][kPadded];
    RowCache<3> cache[kMaxGlowLevels];

    GlowRows(const Mipmap<RGBA>& diffuse, const PBRCompositor::LevelBlend& blend) noexcept
        : count(blend.count) {
        for (int l = 0; l < count; ++l) {
            levels[l] = LevelSampler<RGBA>(diffuse, blend.first + l);
            weights[l] = blend.weights[l];
        }
    }

    // Taps of `count` columns from chunkX on; the row caches start empty.
    void startChunk(std::int32_t chunkX, std::int32_t columnCount) noexcept {
        for (std::int32_t i = 0; i < columnCount; ++i) {
            const float px = static_cast<float>(chunkX + i) + 0.5f;
            for (int l = 0; l < count; ++l)
                if (levels[l].base != nullptr)
                    levels[l].columnTap(px, columns[l][i].x0, columns[l][i].x1, columns[l][i].u);
        }
        for (auto& c : cache) c.rows[0] = c.rows[1] = -1;
    }

    // The glow levels that have something to add in output row y.
    void prepareRow(std::int32_t y, std::int32_t columnCount, GlowRow& row) noexcept {
        const float py = static_cast<float>(y) + 0.5f;
        row.count = 0;
        for (int l = 0; l < count; ++l) {
            const LevelSampler<RGBA>& s = levels[l];
            if (s.base == nullptr) continue;
            std::int32_t y0, y1;
            float v;
            s.rowTap(py, y0, y1, v);
            RowCache<3>& c = cache[l];
            auto fill = [&](int slot, std::int32_t r) {
                return interpolateGlowRow(s.row(r), columns[l], columnCount, c.values[slot][0],
                                          c.values[slot][1], c.values[slot][2]);
            };
            const int s0 = c.slotFor(y0, y1, fill);
            const int s1 = c.slotFor(y1, y0, fill);
            if (!c.nonZero[s0] && !c.nonZero[s1]) continue;  // adds exactly 0
            const int g = row.count++;
            // A black row was not interpolated: it reads as zeros.
            for (int ch = 0; ch < 3; ++ch) {
                row.top[g][ch] = c.nonZero[s0] ? c.values[s0][ch] : kZeroRow;
                row.bottom[g][ch] = c.nonZero[s1] ? c.values[s1][ch] : kZeroRow;
            }
            row.v[g] = v;
            row.weight[g] = weights[l];
        }
    }
};

// 10. Emissive glow from the blurred, alpha-premultiplied diffuse, added to four pixels.
inline void addGlow(const GlowRow& row, std::int32_t column, __m128& cr, __m128& cg, __m128& cb) noexcept {
    for (int g = 0; g < row.count; ++g) {
        const __m128 v = _mm_set1_ps(row.v[g]), weight = _mm_set1_ps(row.weight[g]);
        __m128* channels[3] = {&cr, &cg, &cb};
        for (int c = 0; c < 3; ++c) {
            const __m128 top = _mm_load_ps(row.top[g][c] + column);
            const __m128 bottom = _mm_load_ps(row.bottom[g][c] + column);
            const __m128 s = _mm_add_ps(top, _mm_mul_ps(_mm_sub_ps(bottom, top), v));
            *channels[c] = _mm_add_ps(*channels[c], _mm_mul_ps(s, weight));
        }
    }
}

// Per-pixel values of a row's chunk handed from one pass to the next.
struct RowLight {
    alignas(16) float r[kChunk], g[kChunk], b[kChunk];  // colour after the diffuse light
    alignas(16) float baseR[kChunk], baseG[kChunk], baseB[kChunk];
    alignas(16) float roughness[kChunk], metalness[kChunk], specular[kChunk];
    alignas(16) float alignment[kChunk], exponent[kChunk], powered[kChunk];  // specular power
    alignas(16) float skyX[kChunk], skyY[kChunk], skyLevel[kChunk];          // skybox sample
    int specularLanes[kChunk / kLanes], metalLanes[kChunk / kLanes];
};

// The rows a tile row reads, prepared once per row.
struct RowInputs {
    DepthRows depth;
    const RGBA* diffuse;
    const RGBA* material;
    RGBA* out;
    float eyeY, eyeY2;
    OcclusionRow occlusion;
    GlowRow glow;
};

}  // namespace

namespace {
// The terms of a blur sampled at `count` pyramid levels from `first` (at 100 %), each with its
// weight, at a scale whose pyramid is log2(scale) levels deeper: a whole number of levels moves
// every term up by as many; a fraction f blends each term from its two neighbouring levels by
// (1 - f, f), so neighbouring terms share a level.
PBRCompositor::LevelBlend blendLevels(int first, int count, const float* weights, double log2Scale) noexcept {
    PBRCompositor::LevelBlend b;
    const double at = first + log2Scale;
    int lower = static_cast<int>(std::floor(at));
    double f = at - lower;
    if (f < 1e-3) f = 0.0;
    if (f > 1.0 - 1e-3) {
        f = 0.0;
        ++lower;
    }
    if (lower < 0) {
        lower = 0;
        f = 0.0;
    }
    b.first = lower;
    if (f == 0.0) {
        b.count = count;
        for (int i = 0; i < count; ++i) {
            b.weights[i] = weights[i];
            b.weighted[i] = weights[i] != 1.0f;
        }
        return b;
    }
    const auto keep = static_cast<float>(1.0 - f), take = static_cast<float>(f);
    b.count = count + 1;
    for (int i = 0; i <= count; ++i) {
        const float fromOwn = i < count ? keep * weights[i] : 0.0f;
        const float fromBelow = i > 0 ? take * weights[i - 1] : 0.0f;
        b.weights[i] = fromOwn + fromBelow;
        b.weighted[i] = true;
    }
    return b;
}

constexpr float kGlowWeights[5] = {0.3f / 255.0f, 0.45f / 255.0f, 0.375f / 255.0f, 0.225f / 255.0f,
                                   0.15f / 255.0f};
constexpr float kOcclusionWeights[4] = {1.0f, 1.0f, 1.0f, 1.0f};
}  // namespace

PBRCompositor::PBRCompositor() noexcept {
    for (int k = 0; k < 256; ++k)
        specularExponents[k] = static_cast<float>(0.8 * std::exp(5.5 * (1.0 - k / 255.0)));
    setScale(1.0f);
}

void PBRCompositor::setScale(float scale) noexcept {
    if (!(scale > 0.0f) || !std::isfinite(scale)) scale = 1.0f;
    scale_ = scale;
    for (int k = 0; k < kShadowSteps; ++k) {
        const auto offset = static_cast<std::int32_t>(std::floor(static_cast<double>(scale) * (k + 1) + 0.5));
        shadowOffsets_[k] = offset < 1 ? 1 : offset;
    }
    // A relief drawn s times wider rises s times slower per pixel: the normal's z shrinks by s to
    // keep its direction, and the curvature (a second difference, squared) grows by s^4.
    if (scale == 1.0f) {
        normalZ_ = kNormalZ;
        normalZSquared_ = kNormalZSquared;
        curvatureFactor_ = 1.0f;
    } else {
        normalZ_ = kNormalZ / scale;
        normalZSquared_ = normalZ_ * normalZ_;
        curvatureFactor_ = scale * scale * scale * scale;
    }
    const double lg = std::log2(static_cast<double>(scale));
    occlusion_ = blendLevels(1, 4, kOcclusionWeights, lg);
    glow_ = blendLevels(1, 5, kGlowWeights, lg);
}

void PBRCompositor::lightTile(ImageView<RGBA> wfb, PixelOrder, IntRect area, const Mipmap<RGBA>& diffuse,
                              const Mipmap<RGBA>& material, const Mipmap<L16>& depth,
                              const Mipmap<RGBA>& skybox) noexcept {
    lightTile(wfb, area, diffuse, material, depth, skybox, nullptr);
}

void PBRCompositor::relightGlow(ImageView<RGBA> wfb, IntRect area, const Mipmap<RGBA>& diffuse,
                                const GlowBase& base) noexcept {
    const IntRect a = area.intersection(wfb.bounds()).intersection(IntRect{{0, 0}, {base.w, base.h}});
    if (a.empty() || wfb.pixels == nullptr || diffuse.numLevels() == 0) return;
    GlowRows glow(diffuse, glow_);
    for (std::int32_t chunkX = a.min.x; chunkX < a.max.x; chunkX += kChunk) {
        const std::int32_t chunkEnd = a.max.x - chunkX > kChunk ? chunkX + kChunk : a.max.x;
        const std::int32_t columns = (chunkEnd - chunkX + kLanes - 1) / kLanes * kLanes;
        glow.startChunk(chunkX, columns);
        for (std::int32_t y = a.min.y; y < a.max.y; ++y) {
            GlowRow row;
            glow.prepareRow(y, columns, row);
            const std::ptrdiff_t at = y * base.pitch;
            RGBA* out = wfb.row(y);
            for (std::int32_t column = 0; column < columns; column += kLanes) {
                const std::int32_t x = chunkX + column;
                const std::int32_t lanes = chunkEnd - x < kLanes ? chunkEnd - x : kLanes;
                __m128 cr = loadLanes(base.planes[0] + at + x, lanes);
                __m128 cg = loadLanes(base.planes[1] + at + x, lanes);
                __m128 cb = loadLanes(base.planes[2] + at + x, lanes);
                addGlow(row, column, cr, cg, cb);
                storeOutput(out + x, lanes, cr, cg, cb);
            }
        }
    }
}

namespace {

// 9b. Skybox reflection, second half: the skybox at the looked-up place, blurred by the level's
// fraction between two of its levels, added in proportion to the metalness.
KORVO_LANES_INLINE void addSkybox(Colour& c, Colour base, const RowLight& lit, std::int32_t column,
                                  int metalLanes, const LevelSampler<RGBA>* skySamplers,
                                  const Lights& lights) noexcept {
    const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
    const __m128 metalness = _mm_load_ps(lit.metalness + column);
    const __m128 level = _mm_load_ps(lit.skyLevel + column);
    const __m128i levelIndex = _mm_cvttps_epi32(level);
    alignas(16) float fs[4], sky[3][4] = {};
    alignas(16) std::int32_t is[4];
    const __m128 fraction = _mm_sub_ps(level, _mm_cvtepi32_ps(levelIndex));
    _mm_store_ps(fs, fraction);
    _mm_store_si128(reinterpret_cast<__m128i*>(is), levelIndex);
    // Usually the metal lanes read the same two levels: sampled four at a time.
    int shared = -1;
    for (int i = 0; i < 4; ++i) {
        if (!(metalLanes & (1 << i))) continue;
        const int lower = is[i] < 13 ? is[i] : 13;
        if (shared < 0) shared = lower;
        if (lower != shared) shared = 14;
    }
    if (shared >= 0 && shared < 14) {
        const __m128 sx = _mm_load_ps(lit.skyX + column), sy = _mm_load_ps(lit.skyY + column);
        __m128 s[3];
        sampleRGB4(skySamplers[shared], sx, sy, s);
        // A lane with no fraction keeps its lower sample: s x 1 + s2 x 0 is s.
        if (_mm_movemask_ps(_mm_cmpneq_ps(fraction, zero)) & metalLanes) {
            __m128 s2[3];
            sampleRGB4(skySamplers[shared + 1 < 13 ? shared + 1 : 13], sx, sy, s2);
            const __m128 keepLower = _mm_sub_ps(one, fraction);
            for (int ch = 0; ch < 3; ++ch)
                s[ch] = _mm_add_ps(_mm_mul_ps(s[ch], keepLower), _mm_mul_ps(s2[ch], fraction));
        }
        for (int ch = 0; ch < 3; ++ch) _mm_store_ps(sky[ch], s[ch]);
    }
    for (int i = 0; i < 4 && !(shared >= 0 && shared < 14); ++i) {
        if (!(metalLanes & (1 << i))) continue;
        const float sx = lit.skyX[column + i], sy = lit.skyY[column + i];
        const int lower = is[i] < 13 ? is[i] : 13, upper = is[i] + 1 < 13 ? is[i] + 1 : 13;
        __m128 s = sampleRGBA(skySamplers[lower], sx, sy);
        if (fs[i] != 0.0f) {
            const __m128 s2 = sampleRGBA(skySamplers[upper], sx, sy);
            s = _mm_add_ps(_mm_mul_ps(s, _mm_set1_ps(1.0f - fs[i])), _mm_mul_ps(s2, _mm_set1_ps(fs[i])));
        }
        alignas(16) float channels[4];
        _mm_store_ps(channels, s);
        sky[0][i] = channels[0];
        sky[1][i] = channels[1];
        sky[2][i] = channels[2];
    }
    const __m128 k = _mm_mul_ps(_mm_div_ps(metalness, _mm_set1_ps(255.0f)), lights.skyStrength);
    const __m128 metal = laneMask(metalLanes);
    c.r = _mm_add_ps(c.r, select(metal, _mm_mul_ps(_mm_mul_ps(base.r, _mm_load_ps(sky[0])), k)));
    c.g = _mm_add_ps(c.g, select(metal, _mm_mul_ps(_mm_mul_ps(base.g, _mm_load_ps(sky[1])), k)));
    c.b = _mm_add_ps(c.b, select(metal, _mm_mul_ps(_mm_mul_ps(base.b, _mm_load_ps(sky[2])), k)));
}

}  // namespace

void PBRCompositor::lightTile(ImageView<RGBA> wfb, IntRect area, const Mipmap<RGBA>& diffuse,
                              const Mipmap<RGBA>& material, const Mipmap<L16>& depth,
                              const Mipmap<RGBA>& skybox, const GlowBase* keep) noexcept {
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

    const ImageView<RGBA> diffuse0 = diffuse.level(0).view();
    const ImageView<RGBA> material0 = material.level(0).view();
    const ImageView<L16> depth0 = depth.level(0).view();

    LevelSampler<L16> depthLevels[kMaxOcclusionLevels];
    const int aoCount = occlusion_.count;
    for (int l = 0; l < aoCount; ++l) depthLevels[l] = LevelSampler<L16>(depth, occlusion_.first + l);
    GlowRows glow(diffuse, glow_);
    // Where the colour before the glow is kept: rows of the area inside the base.
    const bool keeping = keep != nullptr && a.max.x <= keep->w && a.max.y <= keep->h;
    const bool depthPresent = depthLevels[0].base != nullptr;
    const int skyLevels = skybox.numLevels();
    const float skyW = skyLevels > 0 ? static_cast<float>(skybox.level(0).w()) : 0.0f;
    const float skyH = skyLevels > 0 ? static_cast<float>(skybox.level(0).h()) : 0.0f;
    float curvatureScale = skyW * skyH * 0.00001f;
    if (curvatureFactor_ != 1.0f) curvatureScale *= curvatureFactor_;
    const LevelSampler<RGBA> skySamplers[14] = {
        {skybox, 0}, {skybox, 1}, {skybox, 2}, {skybox, 3},  {skybox, 4},  {skybox, 5},  {skybox, 6},
        {skybox, 7}, {skybox, 8}, {skybox, 9}, {skybox, 10}, {skybox, 11}, {skybox, 12}, {skybox, 13}};
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);

    auto lanes3 = [](const Vec3f& v) { return Colour{_mm_set1_ps(v.x), _mm_set1_ps(v.y), _mm_set1_ps(v.z)}; };
    const Lights lights{
        lanes3(shadowLightColor),
        lanes3(diffuseLightColor),
        lanes3(specularLightColor),
        {_mm_set1_ps(diffuseLightDir.x), _mm_set1_ps(diffuseLightDir.y), _mm_set1_ps(diffuseLightDir.z)},
        {_mm_set1_ps(-specularLightDir.x), _mm_set1_ps(-specularLightDir.y),
         _mm_set1_ps(-specularLightDir.z)},
        _mm_set1_ps(ambientAmount),
        _mm_set1_ps(skyW - 1.0f),
        _mm_set1_ps(skyH - 1.0f),
        _mm_set1_ps(curvatureScale),
        _mm_set1_ps(skyboxStrength),
        normalZ_,
        normalZSquared_,
        specularExponents};
    const ShadowWalk walk(shadowOffsets_);
    RowLight lit;

    ColumnTap depthColumns[kMaxOcclusionLevels][kPadded];
    alignas(16) float eyeX[kPadded];
    alignas(16) float eyeX2[kPadded];
    RowCache<1> aoCache[kMaxOcclusionLevels];
    const std::int32_t reach = shadowOffsets_[kShadowSteps - 1];

    for (std::int32_t chunkX = a.min.x; chunkX < a.max.x; chunkX += kChunk) {
        const std::int32_t chunkEnd = a.max.x - chunkX > kChunk ? chunkX + kChunk : a.max.x;
        // Columns rounded up to whole groups; the extra lanes of the last group read valid
        // (clamped) positions and are never stored.
        const std::int32_t columns = (chunkEnd - chunkX + kLanes - 1) / kLanes * kLanes;
        for (std::int32_t i = 0; i < columns; ++i) {
            const std::int32_t x = chunkX + i;
            const float px = static_cast<float>(x) + 0.5f;
            eyeX[i] = 0.5f - static_cast<float>(x) / fw;
            eyeX2[i] = eyeX[i] * eyeX[i];
            if (depthPresent)
                for (int l = 0; l < aoCount; ++l)
                    depthLevels[l].columnTap(px, depthColumns[l][i].x0, depthColumns[l][i].x1,
                                             depthColumns[l][i].u);
        }
        for (auto& c : aoCache) c.rows[0] = c.rows[1] = -1;
        glow.startChunk(chunkX, columns);

        for (std::int32_t y = a.min.y; y < a.max.y; ++y) {
            RowInputs row;
            const float py = static_cast<float>(y) + 0.5f;
            row.depth.up = depth0.row(clampTo(y - 1, 0, dh - 1));
            row.depth.mid = depth0.row(clampTo(y, 0, dh - 1));
            row.depth.down = depth0.row(clampTo(y + 1, 0, dh - 1));
            for (int k = 0; k < kShadowSteps; ++k)
                row.depth.above[k] = depth0.row(y - shadowOffsets_[k] < 0 ? 0 : y - shadowOffsets_[k]);
            row.diffuse = diffuse0.row(y);
            row.material = material0.row(y);
            row.out = wfb.row(y);
            row.eyeY = static_cast<float>(y) / fh - 0.5f;
            row.eyeY2 = row.eyeY * row.eyeY;

            // Ambient occlusion samples of this row, level by level.
            for (int l = 0; l < aoCount; ++l) {
                if (!depthPresent) {
                    row.occlusion.top[l] = row.occlusion.bottom[l] = kZeroRow;
                    row.occlusion.v[l] = 0.0f;
                    continue;
                }
                const LevelSampler<L16>& s = depthLevels[l];
                std::int32_t y0, y1;
                s.rowTap(py, y0, y1, row.occlusion.v[l]);
                auto fill = [&](int slot, std::int32_t r) {
                    interpolateDepthRow(s.row(r), depthColumns[l], columns, aoCache[l].values[slot][0]);
                    return true;
                };
                const int s0 = aoCache[l].slotFor(y0, y1, fill);
                const int s1 = aoCache[l].slotFor(y1, y0, fill);
                row.occlusion.top[l] = aoCache[l].values[s0][0];
                row.occlusion.bottom[l] = aoCache[l].values[s1][0];
            }
            // Glow levels that have something to add in this row.
            glow.prepareRow(y, columns, row.glow);

            // Pass 1, four pixels at a time: everything up to the diffuse light, and what the
            // specular, skybox and glow terms need.
            const std::int32_t groups = columns / kLanes;
            for (std::int32_t group = 0; group < groups; ++group) {
                const std::int32_t column = group * kLanes;
                const std::int32_t x = chunkX + column;
                const std::int32_t lanes = chunkEnd - x < kLanes ? chunkEnd - x : kLanes;
                // No clamping needed: the whole group lies inside, and so does its shadow walk.
                const bool interior = lanes == kLanes && x >= reach && x + 3 + reach <= dw - 1;

                const PixelGroup pixels =
                    readGroup(row.depth, row.diffuse, row.material, x, interior, a.max.x - 1, dw);
                const Direction normal = sobelNormal(pixels, lights);
                const Colour base = baseColour(pixels.diffuse);
                const __m128i roughnessBytes = byteOf(pixels.material, 0);
                const __m128i metalBytes = byteOf(pixels.material, 8);
                const __m128i specularBytes = byteOf(pixels.material, 16);
                const __m128 roughness = unitOf(roughnessBytes);

                Colour c = ambientLight(row.occlusion, occlusion_, column, pixels.mC, base, lights);
                addCastShadow(c, base, row.depth, walk, x, pixels.mC, interior, dw, lights);
                addDiffuse(c, base, normal, roughness, lights);
                _mm_store_ps(lit.r + column, c.r);
                _mm_store_ps(lit.g + column, c.g);
                _mm_store_ps(lit.b + column, c.b);
                _mm_store_ps(lit.baseR + column, base.r);
                _mm_store_ps(lit.baseG + column, base.g);
                _mm_store_ps(lit.baseB + column, base.b);
                _mm_store_ps(lit.roughness + column, roughness);

                const __m128i noBits = _mm_setzero_si128();
                const int specularLanes =
                    _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(specularBytes, noBits))) ^ 0xF;
                const int metalLanes =
                    skyLevels > 0
                        ? _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(metalBytes, noBits))) ^ 0xF
                        : 0;
                lit.specularLanes[group] = 0;
                lit.metalLanes[group] = metalLanes;
                if ((specularLanes | metalLanes) == 0) continue;
                const Direction eye = eyeVector(eyeX + column, eyeX2 + column, row.eyeY, row.eyeY2);
                _mm_store_ps(lit.metalness + column, unitOf(metalBytes));
                _mm_store_ps(lit.specular + column, unitOf(specularBytes));
                if (specularLanes != 0)
                    lit.specularLanes[group] =
                        specularAlignment(normal, eye, roughnessBytes, specularLanes, lights,
                                          lit.alignment + column, lit.exponent + column);
                if (metalLanes != 0)
                    skyboxLookup(pixels, normal, eye, roughness, lights, lit.skyX + column, lit.skyY + column,
                                 lit.skyLevel + column);
            }

            // Pass 2: the specular powers of the row.
            specularPowers(lit.alignment, lit.exponent, lit.specularLanes, groups, lit.powered);

            // Pass 3: specular, skybox and glow added in that order; output.
            for (std::int32_t group = 0; group < groups; ++group) {
                const std::int32_t column = group * kLanes;
                const std::int32_t x = chunkX + column;
                const std::int32_t lanes = chunkEnd - x < kLanes ? chunkEnd - x : kLanes;
                Colour c{_mm_load_ps(lit.r + column), _mm_load_ps(lit.g + column),
                         _mm_load_ps(lit.b + column)};
                const int specularLanes = lit.specularLanes[group], metalLanes = lit.metalLanes[group];
                if ((specularLanes | metalLanes) != 0) {
                    const Colour base{_mm_load_ps(lit.baseR + column), _mm_load_ps(lit.baseG + column),
                                      _mm_load_ps(lit.baseB + column)};
                    if (specularLanes != 0)
                        addSpecular(c, base, _mm_load_ps(lit.powered + column),
                                    _mm_load_ps(lit.roughness + column), _mm_load_ps(lit.metalness + column),
                                    _mm_load_ps(lit.specular + column), specularLanes, lights);
                    if (metalLanes != 0) addSkybox(c, base, lit, column, metalLanes, skySamplers, lights);
                }
                if (keeping) {
                    const std::ptrdiff_t at = y * keep->pitch + x;
                    storeLanes(keep->planes[0] + at, lanes, c.r);
                    storeLanes(keep->planes[1] + at, lanes, c.g);
                    storeLanes(keep->planes[2] + at, lanes, c.b);
                }
                addGlow(row.glow, column, c.r, c.g, c.b);
                storeOutput(row.out + x, lanes, c.r, c.g, c.b);
            }
        }
    }
}

}  // namespace korvo
