#pragma once
// Text for the artwork: one line laid out with a korvo Font at its final pixel size, on a whole-
// pixel baseline, rasterised into a coverage mask (no scaling after rasterising).
//
// Thread contract: [main-thread] (takes the font's lock while rasterising).

#include <cstdint>
#include <string_view>
#include <vector>

#include "korvo/graphics/font.h"
#include "korvo/graphics/rect.h"

namespace velmora::artgen {

enum class Align { left, centre, right };

// A rasterised line: coverage 0..255 over its ink box (window pixels).
struct TextRun {
    korvo::IntRect ink;
    std::vector<std::uint8_t> coverage;  // ink.width() x ink.height(), rows packed

    // Coverage 0..1 at a window pixel (0 outside the ink box).
    float at(std::int32_t x, std::int32_t y) const noexcept;
};

// Lays out `text` with its baseline on row `baseline` (the row just below the capitals) and its
// ink box aligned to x: left edge, centre or right edge at x (the origin is snapped to a whole
// pixel). Overlapping glyphs (kerned pairs) keep the larger coverage.
TextRun layoutText(korvo::Font& font, std::string_view text, float size, float letterSpacing, float x,
                   std::int32_t baseline, Align align);

// Height in pixels of the capital H at this size: the rows where it covers some pixel at least half.
std::int32_t capHeightPixels(korvo::Font& font, float size);

}  // namespace velmora::artgen
