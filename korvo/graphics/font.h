#pragma once
// Font: a TrueType (or CFF OpenType) font read from bytes embedded in the plug-in, with a cache of
// rendered glyph coverage maps, and fillText, which draws one line of UTF-8 text centred on a
// point.
//
// Layout (forEachGlyph): scale = size / (ascent - descent) with the hhea metrics; the pen starts
// at the origin; before every character but the first the kerning of the pair is added; the pen
// position is split into an integer pixel and a fraction rounded to the nearest eighth of a pixel
// (the glyph's x and y shift); after it the pen advances by advance width x scale + letter
// spacing. Invalid UTF-8, code points at or above 0x110000 and surrogates become U+FFFD; a code
// point the font has no glyph for draws nothing (it still advances by the missing glyph's width).
//
// Glyphs are rendered once per (code point, scale, eighth-pixel shift) and kept in a cache with a
// fixed budget (kGlyphCacheBudgetBytes, coverage bytes plus a per-entry overhead), so text drawn at
// a continuously changing size keeps memory flat. The cache has two generations: new glyphs go to
// the current one; a glyph found in the previous one moves back to the current one; when the
// current one reaches half the budget, the previous one is freed and the current one becomes the
// previous. Glyphs used in every frame therefore stay cached, and the least recently used go
// first. Text may be drawn from several pool threads at once: every text routine holds the font's
// mutex for the whole of one draw.
//
// Out-of-range safety: a size that is not a finite number in (0, kMaxTextSize], or a non-finite
// origin, letter spacing or centre, lays out and draws nothing.

#include <stb/stb_truetype.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "korvo/core/map.h"
#include "korvo/core/sync.h"
#include "korvo/graphics/image.h"

namespace korvo {

// Cache key of one rendered glyph.
struct GlyphKey {
    std::uint32_t codePoint = 0;
    float scale = 0;
    float xShift = 0;  // 0, 1/8, ... 8/8 pixel
    float yShift = 0;
};
// Orders keys by scale, then y shift, then code point, then x shift.
struct GlyphKeyLess {
    bool operator()(const GlyphKey& a, const GlyphKey& b) const noexcept {
        if (a.scale != b.scale) return a.scale < b.scale;
        if (a.yShift != b.yShift) return a.yShift < b.yShift;
        if (a.codePoint != b.codePoint) return a.codePoint < b.codePoint;
        return a.xShift < b.xShift;
    }
};

// A rendered glyph: w x h coverage bytes (0 outside, 255 fully covered), pitch w. Null when empty.
struct GlyphCoverage {
    std::uint8_t* bytes = nullptr;
    std::int32_t w = 0;
    std::int32_t h = 0;
};

// One laid-out character, as handed to a forEachGlyph callback.
struct GlyphPlacement {
    IntRect box;  // pixel box of the glyph's coverage map; empty for glyphs without outline
    std::uint32_t codePoint = 0;
    std::int32_t index = 0;  // index of the character (code point) in the text
    float scale = 0;         // font units to pixels
    float xShift = 0, yShift = 0;
};

// Decodes the code point starting at byte `pos` and advances `pos` past it. An invalid or
// truncated sequence yields U+FFFD and advances past its valid prefix (at least one byte).
std::uint32_t nextCodePoint(std::string_view text, std::size_t& pos) noexcept;

class Font {
public:
    static constexpr float kMaxTextSize = 1024.0f;  // pixels
    // Most memory the glyph cache holds (both generations, plus at most one glyph in flight).
    static constexpr std::size_t kGlyphCacheBudgetBytes = std::size_t{4} << 20;
    // What one cache entry is counted for besides its coverage bytes (tree node, allocator).
    static constexpr std::size_t kGlyphEntryOverheadBytes = 96;

    // Reads the font at offset index 0 of `data` (not owned: it must outlive the font). A font the
    // rasteriser cannot read ends the process. [main-thread]
    Font(const std::uint8_t* data, std::size_t size) noexcept;
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // Lays out one line and calls f(const GlyphPlacement&) once per code point. Touches no cache.
    // [any-thread]
    template <class F>
    void forEachGlyph(std::string_view text, float size, float letterSpacing, float originX, float originY,
                      F&& f) const noexcept {
        auto& callable = f;
        forEachGlyphImpl(text, size, letterSpacing, originX, originY,
                         GlyphSink{&callable, [](void* o, const GlyphPlacement& g) {
                                       (*static_cast<decltype(&callable)>(o))(g);
                                   }});
    }

    // Union of the glyph boxes of the text laid out at (0, 0); empty for an empty text. [any-thread]
    IntRect measureText(std::string_view text, float size, float letterSpacing) const noexcept;

    // The cached coverage map of `key` (w x h = its pixel box size), rendering it first if absent
    // (allocates once per key while it stays cached). The reference is valid until the next call.
    // The caller holds mutex(). [any-thread]
    const GlyphCoverage& glyphCoverage(const GlyphKey& key, std::int32_t w, std::int32_t h) noexcept;

    UncheckedMutex& mutex() noexcept { return _mutex; }
    std::int32_t ascent() const noexcept { return _ascent; }    // font units, from hhea
    std::int32_t descent() const noexcept { return _descent; }  // font units (negative below the baseline)
    std::int32_t lineGap() const noexcept { return _lineGap; }
    // Number of cached glyph maps, and the bytes they are counted for. [any-thread]
    std::size_t cachedGlyphCount() noexcept;
    std::size_t cachedGlyphBytes() noexcept;

private:
    struct GlyphSink {
        void* object;
        void (*function)(void* object, const GlyphPlacement& glyph);
    };
    void forEachGlyphImpl(std::string_view text, float size, float letterSpacing, float originX,
                          float originY, GlyphSink sink) const noexcept;

    stbtt_fontinfo _fontInfo{};
    const std::uint8_t* _fontData = nullptr;
    std::int32_t _ascent = 0, _descent = 0, _lineGap = 0;
    using GlyphMap = OrderedMap<GlyphKey, GlyphCoverage, GlyphKeyLess>;
    struct GlyphGeneration {
        GlyphMap glyphs;
        std::size_t count = 0;  // entries still owning their coverage (moved ones are left empty)
        std::size_t bytes = 0;
    };
    static std::size_t entryCost(const GlyphCoverage& coverage) noexcept;
    // Frees every coverage map of a generation and empties it.
    static void clearGeneration(GlyphGeneration& generation) noexcept;
    // Stores coverage in the current generation, first retiring it when it is full.
    const GlyphCoverage& storeGlyph(const GlyphKey& key, const GlyphCoverage& coverage) noexcept;

    GlyphGeneration _generations[2];
    int _current = 0;
    UncheckedMutex _mutex;
};

// Draws `text` centred on (x, y): the union of its glyph boxes is centred on floor(x), floor(y)
// (integer halving) and the fractional part of (x, y) is kept as the sub-pixel origin. Clipped to
// the view. Blending per covered pixel with coverage c (0..255):
//   RGBA: r, g, b = (colour * c + old * (255 - c) + 128) >> 8; alpha = the colour's alpha;
//   L8:   l = (colour * c + old * (255 - c) + 128) >> 8;
//   L16:  coverage c * 257, then the usual L16 blend.
// Takes the font's mutex for the whole draw. [any-thread]
void fillText(const ImageView<RGBA>& image, Font& font, std::string_view text, float size,
              float letterSpacing, RGBA color, float x, float y) noexcept;
void fillText(const ImageView<L8>& image, Font& font, std::string_view text, float size, float letterSpacing,
              L8 color, float x, float y) noexcept;
void fillText(const ImageView<L16>& image, Font& font, std::string_view text, float size, float letterSpacing,
              L16 color, float x, float y) noexcept;

}  // namespace korvo
