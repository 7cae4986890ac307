// Text rasterised for the artwork.
#include "effect/artwork/text.h"

#include <algorithm>
#include <cmath>

namespace velmora::artgen {

using korvo::Font;
using korvo::GlyphPlacement;
using korvo::IntRect;

float TextRun::at(std::int32_t x, std::int32_t y) const noexcept {
    if (!ink.contains(x, y)) return 0.0f;
    const std::size_t i = static_cast<std::size_t>(y - ink.min.y) * static_cast<std::size_t>(ink.width()) +
                          static_cast<std::size_t>(x - ink.min.x);
    return static_cast<float>(coverage[i]) / 255.0f;
}

TextRun layoutText(Font& font, std::string_view text, float size, float letterSpacing, float x,
                   std::int32_t baseline, Align align) {
    TextRun run;
    korvo::ScopedLock lock(font.mutex());
    const IntRect measured = font.measureText(text, size, letterSpacing);
    if (measured.empty()) return run;
    float originX = x - static_cast<float>(measured.min.x);
    if (align == Align::centre) originX = x - 0.5f * static_cast<float>(measured.min.x + measured.max.x);
    if (align == Align::right) originX = x - static_cast<float>(measured.max.x);
    const auto ox = static_cast<std::int32_t>(std::floor(originX + 0.5f));
    run.ink = measured.translated(ox, baseline);
    run.coverage.assign(
        static_cast<std::size_t>(run.ink.width()) * static_cast<std::size_t>(run.ink.height()), 0);
    font.forEachGlyph(
        text, size, letterSpacing, static_cast<float>(ox), static_cast<float>(baseline),
        [&](const GlyphPlacement& g) {
            if (g.box.empty()) return;
            const korvo::GlyphCoverage& c = font.glyphCoverage(
                korvo::GlyphKey{g.codePoint, g.scale, g.xShift, g.yShift}, g.box.width(), g.box.height());
            if (c.bytes == nullptr) return;
            for (std::int32_t y = g.box.min.y; y < g.box.max.y; ++y)
                for (std::int32_t px = g.box.min.x; px < g.box.max.x; ++px) {
                    if (!run.ink.contains(px, y)) continue;
                    const std::uint8_t v =
                        c.bytes[static_cast<std::size_t>(y - g.box.min.y) * static_cast<std::size_t>(c.w) +
                                static_cast<std::size_t>(px - g.box.min.x)];
                    std::uint8_t& out = run.coverage[static_cast<std::size_t>(y - run.ink.min.y) *
                                                         static_cast<std::size_t>(run.ink.width()) +
                                                     static_cast<std::size_t>(px - run.ink.min.x)];
                    out = std::max(out, v);
                }
        });
    return run;
}

std::int32_t capHeightPixels(Font& font, float size) {
    const TextRun run = layoutText(font, "H", size, 0.0f, 0.0f, 0, Align::left);
    std::int32_t rows = 0;
    for (std::int32_t y = run.ink.min.y; y < run.ink.max.y; ++y) {
        bool any = false;
        for (std::int32_t x = run.ink.min.x; x < run.ink.max.x; ++x) any = any || run.at(x, y) >= 0.5f;
        rows += any ? 1 : 0;
    }
    return rows;
}

}  // namespace velmora::artgen
