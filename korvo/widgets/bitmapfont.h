#pragma once
// The built-in bitmap fonts: fixed-pitch glyphs for small read-outs where a TrueType face would be
// too soft or too slow (zoom labels, numeric overlays, debug text).
//
// Two tables of 256 glyphs each, indexed by the byte value of a character: 8 x 8 pixels and
// 8 x 16 pixels. Every glyph advances 8 pixels. The printable ASCII range (32 to 126) is drawn;
// every other byte is a blank glyph (it still advances). Glyph rows are one byte each, the most
// significant bit at the left. The shapes are our own.
//
// Drawing: glyph i of the text is placed at (x + 8 i, y) (its top-left corner); every set bit
// blends the target pixel with the colour by the colour's alpha byte (all four channels, the
// usual RGBA blend). Pixels outside the view are skipped, so any position is safe.
//
// Thread contract: [any-thread]. The tables are constant; drawing allocates nothing and takes no
// lock.

#include <cstdint>
#include <string_view>

#include "korvo/graphics/image.h"
#include "korvo/graphics/rect.h"

namespace korvo {

enum class BitmapFontSize : std::int32_t {
    small8x8 = 0,  // 8 x 8 pixels per glyph
    tall8x16 = 1,  // 8 x 16 pixels per glyph
};

constexpr std::int32_t kBitmapGlyphAdvance = 8;

// Height of one glyph (8 or 16; any unknown size counts as 8 x 8).
constexpr std::int32_t bitmapGlyphHeight(BitmapFontSize size) noexcept {
    return size == BitmapFontSize::tall8x16 ? 16 : 8;
}

// The rows of the glyph for byte `code` (8 or 16 bytes, top row first).
const std::uint8_t* bitmapGlyphRows(BitmapFontSize size, std::uint8_t code) noexcept;

// The box the text covers when drawn at (0, 0): (0, 0)-(8 x length, glyph height); empty for an
// empty text.
IntRect measureBitmapText(std::string_view text, BitmapFontSize size) noexcept;

// Draws `text` with its first glyph's top-left corner at (x, y) of the view.
void drawBitmapText(const ImageView<RGBA>& image, std::int32_t x, std::int32_t y, std::string_view text,
                    RGBA color, BitmapFontSize size) noexcept;
// The same into a cropped view (coordinates relative to the crop box; clipped to it).
void drawBitmapText(const CroppedView<RGBA>& image, std::int32_t x, std::int32_t y, std::string_view text,
                    RGBA color, BitmapFontSize size) noexcept;

// The text at `scale` device pixels per glyph pixel (glyphs 8 x scale apart), its top-left corner
// at (x, y) of the view. A whole scale draws every set bit as a scale x scale block (1: as above);
// a fractional one covers each pixel by the share of its area that the glyphs' bits drawn at the
// next whole multiple fill, and blends by the colour's alpha times that share. A scale that is
// not in (0, 64] draws nothing.
void drawBitmapText(const ImageView<RGBA>& image, std::int32_t x, std::int32_t y, std::string_view text,
                    RGBA color, BitmapFontSize size, float scale) noexcept;

}  // namespace korvo
