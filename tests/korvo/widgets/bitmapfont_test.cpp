#include "korvo/widgets/bitmapfont.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace korvo {
namespace {

constexpr RGBA kPaper{10, 20, 30, 40};

int setBits(BitmapFontSize size, int code) {
    const std::uint8_t* rows = bitmapGlyphRows(size, static_cast<std::uint8_t>(code));
    int n = 0;
    for (int r = 0; r < bitmapGlyphHeight(size); ++r)
        for (int b = 0; b < 8; ++b) n += (rows[r] >> b) & 1;
    return n;
}

TEST(BitmapFont, EveryPrintableCharacterHasItsOwnShapeAndTheRestIsBlank) {
    std::set<std::string> shapes;
    for (int code = 0; code < 256; ++code) {
        const bool printable = code > 32 && code < 127;
        EXPECT_EQ(setBits(BitmapFontSize::small8x8, code) > 0, printable) << "code " << code;
        EXPECT_EQ(setBits(BitmapFontSize::tall8x16, code) > 0, printable) << "code " << code;
        if (printable) {
            const auto* rows = bitmapGlyphRows(BitmapFontSize::small8x8, static_cast<std::uint8_t>(code));
            EXPECT_TRUE(shapes.insert(std::string(reinterpret_cast<const char*>(rows), 8)).second)
                << "glyph " << static_cast<char>(code) << " repeats another glyph";
        }
    }
}

// First and last set row of a glyph (-1 when blank).
std::pair<int, int> rowSpan(BitmapFontSize size, char c) {
    const std::uint8_t* rows = bitmapGlyphRows(size, static_cast<std::uint8_t>(c));
    int first = -1, last = -1;
    for (int r = 0; r < bitmapGlyphHeight(size); ++r)
        if (rows[r] != 0) {
            if (first < 0) first = r;
            last = r;
        }
    return {first, last};
}

TEST(BitmapFont, BothSizesKeepOneBaselineGridWithRoomForTheLineGap) {
    for (char c = 'A'; c <= 'Z'; ++c) {
        EXPECT_EQ(rowSpan(BitmapFontSize::small8x8, c), (std::pair<int, int>{0, 6})) << c;
        EXPECT_EQ(rowSpan(BitmapFontSize::tall8x16, c), (std::pair<int, int>{2, 11})) << c;
    }
    for (char c : std::string("acemnorsuvwxz")) {
        EXPECT_EQ(rowSpan(BitmapFontSize::small8x8, c), (std::pair<int, int>{2, 6})) << c;
        EXPECT_EQ(rowSpan(BitmapFontSize::tall8x16, c), (std::pair<int, int>{5, 11})) << c;
    }
    for (char c : std::string("gjpqy")) {
        EXPECT_EQ(rowSpan(BitmapFontSize::small8x8, c).second, 7) << c;
        EXPECT_EQ(rowSpan(BitmapFontSize::tall8x16, c).second, 14) << c;
    }
    for (int code = 33; code < 127; ++code) {
        const auto tall = rowSpan(BitmapFontSize::tall8x16, static_cast<char>(code));
        EXPECT_GE(tall.first, 2) << static_cast<char>(code);
        EXPECT_LE(tall.second, 14) << static_cast<char>(code);
    }
}

TEST(BitmapFont, GlyphsLandAtEightPixelStepsWithTheColourBlendedByItsAlpha) {
    OwnedImage<RGBA> image(40, 20);
    fill(image.view(), kPaper);
    const RGBA ink{250, 200, 100, 255};
    drawBitmapText(image.view(), 3, 2, "AB", ink, BitmapFontSize::small8x8);
    for (int i = 0; i < 2; ++i) {
        const auto* rows = bitmapGlyphRows(BitmapFontSize::small8x8, static_cast<std::uint8_t>("AB"[i]));
        for (int r = 0; r < 8; ++r)
            for (int b = 0; b < 8; ++b) {
                const bool set = (rows[r] & (0x80 >> b)) != 0;
                EXPECT_EQ(image.view().at(3 + 8 * i + b, 2 + r), set ? ink : kPaper)
                    << i << " " << r << " " << b;
            }
    }
    // Half alpha blends all four channels; alpha 0 draws nothing.
    fill(image.view(), RGBA{0, 0, 0, 0});
    drawBitmapText(image.view(), 0, 0, "|", RGBA{255, 255, 255, 128}, BitmapFontSize::tall8x16);
    EXPECT_EQ(image.view().at(3, 5), (RGBA{128, 128, 128, 64}));
    fill(image.view(), kPaper);
    drawBitmapText(image.view(), 0, 0, "Hello", RGBA{255, 255, 255, 0}, BitmapFontSize::small8x8);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(image.view().at(x, y), kPaper);
}

TEST(BitmapFont, AnyPositionIsClippedToTheView) {
    // A 30 x 20 view inside a larger image: nothing may change outside it.
    OwnedImage<RGBA> image(50, 40);
    fill(image.view(), kPaper);
    const ImageView<RGBA> inner = image.view().sub(IntRect{{10, 10}, {40, 30}});
    const std::int32_t positions[][2] = {{-5, -7},
                                         {25, 15},
                                         {-100, 3},
                                         {3, 1000},
                                         {INT32_MIN, 0},
                                         {0, INT32_MAX},
                                         {INT32_MAX - 3, INT32_MIN + 5}};
    for (auto size : {BitmapFontSize::small8x8, BitmapFontSize::tall8x16})
        for (const auto& p : positions)
            drawBitmapText(inner, p[0], p[1], "W#@~gq", RGBA{255, 0, 0, 255}, size);
    drawBitmapText(CroppedView<RGBA>{image.view(), IntRect{{10, 10}, {40, 30}}}, -4, -4, "MMMMMM",
                   RGBA{255, 0, 0, 255}, BitmapFontSize::tall8x16);
    int inside = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x) {
            const bool in = x >= 10 && x < 40 && y >= 10 && y < 30;
            if (!in) {
                ASSERT_EQ(image.view().at(x, y), kPaper) << x << "," << y;
            }
            inside += in && image.view().at(x, y) != kPaper;
        }
    EXPECT_GT(inside, 0);
}

// At twice the size every set bit is a 2 x 2 block of the colour; at 1.5 the pixels take the
// share of their area the bits cover, so the ink sums to 2.25 times the bits.
TEST(BitmapFont, ScaledTextDrawsWholeBlocksAtWholeMultiplesAndAreaSharesBetween) {
    const RGBA ink{255, 255, 255, 255};
    OwnedImage<RGBA> once(40, 20), twice(80, 40), between(60, 30);
    for (OwnedImage<RGBA>* image : {&once, &twice, &between}) fill(image->view(), RGBA{});
    drawBitmapText(once.view(), 0, 0, "x2", ink, BitmapFontSize::small8x8);
    drawBitmapText(twice.view(), 0, 0, "x2", ink, BitmapFontSize::small8x8, 2.0f);
    drawBitmapText(between.view(), 0, 0, "x2", ink, BitmapFontSize::small8x8, 1.5f);
    long bits = 0, shares = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 80; ++x) {
            const RGBA p = once.view().at(x / 2, y / 2);
            EXPECT_EQ(twice.view().at(x, y), y / 2 < 20 && x / 2 < 40 ? p : RGBA{}) << x << "," << y;
        }
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) bits += once.view().at(x, y).r == 255;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x) shares += between.view().at(x, y).r;
    EXPECT_NEAR(static_cast<double>(shares) / 255.0, 2.25 * static_cast<double>(bits), 0.02 * 2.25 * bits);
}

TEST(BitmapFont, MeasureCoversEightPixelsPerByteAndTheGlyphHeight) {
    EXPECT_TRUE(measureBitmapText("", BitmapFontSize::small8x8).empty());
    EXPECT_EQ(measureBitmapText("x1.5", BitmapFontSize::small8x8), (IntRect{{0, 0}, {32, 8}}));
    EXPECT_EQ(measureBitmapText("x1.5", BitmapFontSize::tall8x16), (IntRect{{0, 0}, {32, 16}}));
    // Bytes outside the printable range are blank glyphs that still advance.
    EXPECT_EQ(measureBitmapText("\x01\xff", BitmapFontSize::small8x8).width(), 16);
}

}  // namespace
}  // namespace korvo
