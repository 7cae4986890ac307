// Font layout, glyph cache and text drawing on stb_truetype.
#include "korvo/graphics/font.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "korvo/core/nogc.h"

namespace korvo {

std::uint32_t nextCodePoint(std::string_view text, std::size_t& pos) noexcept {
    constexpr std::uint32_t kReplacement = 0xFFFD;
    const auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byteAt(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int length;
    std::uint32_t cp;
    std::uint32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1Fu, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0Fu, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07u, minimum = 0x10000;
    } else {  // a continuation byte or 0xF8..0xFF cannot start a sequence
        ++pos;
        return kReplacement;
    }
    std::size_t i = pos + 1;
    for (int k = 1; k < length; ++k, ++i) {
        if (i >= text.size() || (byteAt(i) & 0xC0) != 0x80) {  // truncated: skip the valid prefix
            pos = i;
            return kReplacement;
        }
        cp = (cp << 6) | (byteAt(i) & 0x3Fu);
    }
    pos = i;
    if (cp < minimum || cp >= 0x110000 || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    return cp;
}

Font::Font(const std::uint8_t* data, std::size_t size) noexcept : _fontData(data) {
    if (data == nullptr || size < 12 || size > static_cast<std::size_t>(INT_MAX))
        fatalError("font: no font data");
    const int offset = stbtt_GetFontOffsetForIndex(data, 0);
    if (offset < 0 || stbtt_InitFont(&_fontInfo, data, offset) == 0) fatalError("font: cannot read the font");
    // The vertical metrics of the hhea table (ascender, descender, line gap).
    int ascent = 0, descent = 0, lineGap = 0;
    stbtt_GetFontVMetrics(&_fontInfo, &ascent, &descent, &lineGap);
    _ascent = ascent;
    _descent = descent;
    _lineGap = lineGap;
    if (_ascent - _descent <= 0) fatalError("font: bad vertical metrics");
}

Font::~Font() {
    clearGeneration(_generations[0]);
    clearGeneration(_generations[1]);
}

std::size_t Font::cachedGlyphCount() noexcept {
    ScopedLock lock(_mutex);
    return _generations[0].count + _generations[1].count;
}

std::size_t Font::cachedGlyphBytes() noexcept {
    ScopedLock lock(_mutex);
    return _generations[0].bytes + _generations[1].bytes;
}

std::size_t Font::entryCost(const GlyphCoverage& coverage) noexcept {
    return static_cast<std::size_t>(coverage.w) * static_cast<std::size_t>(coverage.h) +
           kGlyphEntryOverheadBytes;
}

void Font::clearGeneration(GlyphGeneration& generation) noexcept {
    generation.glyphs.forEach(
        [](const GlyphKey&, const GlyphCoverage& coverage) { heapFree(coverage.bytes); });
    generation.glyphs.clear();
    generation.count = 0;
    generation.bytes = 0;
}

const GlyphCoverage& Font::storeGlyph(const GlyphKey& key, const GlyphCoverage& coverage) noexcept {
    GlyphGeneration* current = &_generations[_current];
    if (current->count > 0 && current->bytes + entryCost(coverage) > kGlyphCacheBudgetBytes / 2) {
        _current = 1 - _current;
        clearGeneration(_generations[_current]);
        current = &_generations[_current];
    }
    ++current->count;
    current->bytes += entryCost(coverage);
    return current->glyphs.insert(key, coverage);
}

namespace {
bool layoutArgumentsValid(float size, float letterSpacing, float originX, float originY) noexcept {
    constexpr float kPositionLimit = 16777216.0f;  // 2^24: beyond it no pixel of any image is reached
    return size > 0.0f && size <= Font::kMaxTextSize && std::fabs(letterSpacing) <= kPositionLimit &&
           std::fabs(originX) <= kPositionLimit && std::fabs(originY) <= kPositionLimit;  // false for NaN
}
}  // namespace

void Font::forEachGlyphImpl(std::string_view text, float size, float letterSpacing, float originX,
                            float originY, GlyphSink sink) const noexcept {
    if (!layoutArgumentsValid(size, letterSpacing, originX, originY)) return;
    const float scale = size / static_cast<float>(_ascent - _descent);
    float penX = originX;
    const float penY = originY;
    const float iy = std::floor(penY);
    const float yShift = std::round((penY - iy) * 8.0f) / 8.0f;
    std::uint32_t previous = 0;
    std::size_t pos = 0;
    for (std::int32_t index = 0; pos < text.size(); ++index) {
        const std::uint32_t codePoint = nextCodePoint(text, pos);
        if (index > 0)
            penX += static_cast<float>(stbtt_GetCodepointKernAdvance(&_fontInfo, static_cast<int>(previous),
                                                                     static_cast<int>(codePoint))) *
                    scale;
        if (!(std::fabs(penX) <= 1073741824.0f)) return;  // 2^30: far off any image, and ints stay valid
        const float ix = std::floor(penX);
        const float xShift = std::round((penX - ix) * 8.0f) / 8.0f;
        const int glyph = stbtt_FindGlyphIndex(&_fontInfo, static_cast<int>(codePoint));
        int advance = 0, leftBearing = 0;
        stbtt_GetGlyphHMetrics(&_fontInfo, glyph, &advance, &leftBearing);

        GlyphPlacement placement;
        placement.codePoint = codePoint;
        placement.index = index;
        placement.scale = scale;
        placement.xShift = xShift;
        placement.yShift = yShift;
        int x0, y0, x1, y1;
        if (glyph != 0 && stbtt_GetGlyphBox(&_fontInfo, glyph, &x0, &y0, &x1, &y1) != 0) {
            const auto px = static_cast<std::int32_t>(ix), py = static_cast<std::int32_t>(iy);
            placement.box = IntRect{
                {px + static_cast<std::int32_t>(std::floor(static_cast<float>(x0) * scale + xShift)),
                 py + static_cast<std::int32_t>(std::floor(static_cast<float>(-y1) * scale + yShift))},
                {px + static_cast<std::int32_t>(std::ceil(static_cast<float>(x1) * scale + xShift)),
                 py + static_cast<std::int32_t>(std::ceil(static_cast<float>(-y0) * scale + yShift))}};
        }
        sink.function(sink.object, placement);
        penX += static_cast<float>(advance) * scale + letterSpacing;
        previous = codePoint;
    }
}

IntRect Font::measureText(std::string_view text, float size, float letterSpacing) const noexcept {
    IntRect bounds;
    bool first = true;
    forEachGlyph(text, size, letterSpacing, 0.0f, 0.0f, [&](const GlyphPlacement& g) {
        if (first) {
            bounds = g.box;
            first = false;
            return;
        }
        if (g.box.min.x < bounds.min.x) bounds.min.x = g.box.min.x;
        if (g.box.min.y < bounds.min.y) bounds.min.y = g.box.min.y;
        if (g.box.max.x > bounds.max.x) bounds.max.x = g.box.max.x;
        if (g.box.max.y > bounds.max.y) bounds.max.y = g.box.max.y;
    });
    return bounds;
}

const GlyphCoverage& Font::glyphCoverage(const GlyphKey& key, std::int32_t w, std::int32_t h) noexcept {
    if (GlyphCoverage* cached = _generations[_current].glyphs.find(key)) return *cached;
    GlyphGeneration& previous = _generations[1 - _current];
    if (GlyphCoverage* older = previous.glyphs.find(key); older != nullptr && older->w >= 0) {
        // Still in use: move it to the current generation. The old entry is left owning nothing
        // (w = -1 marks it moved) and goes when its generation is retired.
        const GlyphCoverage moved = *older;
        *older = GlyphCoverage{nullptr, -1, 0};
        --previous.count;
        previous.bytes -= entryCost(moved);
        return storeGlyph(key, moved);
    }
    GlyphCoverage coverage;
    if (w > 0 && h > 0) {
        coverage.w = w;
        coverage.h = h;
        const std::size_t bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
        coverage.bytes = static_cast<std::uint8_t*>(heapAlloc(bytes));
        // The rasteriser writes nothing for a glyph without an outline (a space can still have a
        // one-pixel box): start from no coverage rather than whatever the heap held.
        std::memset(coverage.bytes, 0, bytes);
        const int glyph = stbtt_FindGlyphIndex(&_fontInfo, static_cast<int>(key.codePoint));
        stbtt_MakeGlyphBitmapSubpixel(&_fontInfo, coverage.bytes, w, h, w, key.scale, key.scale, key.xShift,
                                      key.yShift, glyph);
    }
    return storeGlyph(key, coverage);
}

namespace {

inline void blendText(RGBA& p, RGBA color, std::uint32_t c) noexcept {
    p.r = static_cast<std::uint8_t>((color.r * c + p.r * (255u - c) + 128u) >> 8);
    p.g = static_cast<std::uint8_t>((color.g * c + p.g * (255u - c) + 128u) >> 8);
    p.b = static_cast<std::uint8_t>((color.b * c + p.b * (255u - c) + 128u) >> 8);
    p.a = color.a;
}
inline void blendText(L8& p, L8 color, std::uint32_t c) noexcept {
    p.l = static_cast<std::uint8_t>((color.l * c + p.l * (255u - c) + 128u) >> 8);
}
inline void blendText(L16& p, L16 color, std::uint32_t c) noexcept {
    detail::PixelTraits<L16>::blend(p, color, static_cast<int>(c * 257u));
}

template <class COLOR>
void fillTextImpl(const ImageView<COLOR>& image, Font& font, std::string_view text, float size,
                  float letterSpacing, COLOR color, float x, float y) noexcept {
    if (image.empty() || text.empty()) return;
    if (!(std::fabs(x) <= 16777216.0f && std::fabs(y) <= 16777216.0f)) return;  // also NaN
    ScopedLock lock(font.mutex());
    const IntRect bounds = font.measureText(text, size, letterSpacing);
    const float fx = std::floor(x), fy = std::floor(y);
    const auto originX = static_cast<std::int32_t>(fx) - (bounds.min.x + bounds.max.x) / 2;
    const auto originY = static_cast<std::int32_t>(fy) - (bounds.min.y + bounds.max.y) / 2;
    const float subX = x - fx, subY = y - fy;
    const IntRect clip = image.bounds();
    font.forEachGlyph(text, size, letterSpacing, static_cast<float>(originX) + subX,
                      static_cast<float>(originY) + subY, [&](const GlyphPlacement& g) {
                          if (g.box.empty()) return;
                          const IntRect visible = g.box.intersection(clip);
                          if (visible.empty()) return;
                          const GlyphCoverage& coverage =
                              font.glyphCoverage(GlyphKey{g.codePoint, g.scale, g.xShift, g.yShift},
                                                 g.box.width(), g.box.height());
                          if (coverage.bytes == nullptr) return;
                          for (std::int32_t py = visible.min.y; py < visible.max.y; ++py) {
                              const std::uint8_t* source =
                                  coverage.bytes + static_cast<std::size_t>(py - g.box.min.y) * coverage.w;
                              COLOR* row = image.row(py);
                              for (std::int32_t px = visible.min.x; px < visible.max.x; ++px) {
                                  const std::uint32_t c = source[px - g.box.min.x];
                                  if (c != 0) blendText(row[px], color, c);
                              }
                          }
                      });
}

}  // namespace

void fillText(const ImageView<RGBA>& image, Font& font, std::string_view text, float size,
              float letterSpacing, RGBA color, float x, float y) noexcept {
    fillTextImpl(image, font, text, size, letterSpacing, color, x, y);
}
void fillText(const ImageView<L8>& image, Font& font, std::string_view text, float size, float letterSpacing,
              L8 color, float x, float y) noexcept {
    fillTextImpl(image, font, text, size, letterSpacing, color, x, y);
}
void fillText(const ImageView<L16>& image, Font& font, std::string_view text, float size, float letterSpacing,
              L16 color, float x, float y) noexcept {
    fillTextImpl(image, font, text, size, letterSpacing, color, x, y);
}

}  // namespace korvo
