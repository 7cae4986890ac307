#include "korvo/graphics/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "korvo/core/thread.h"
#include "korvo_resources_resources.h"
#include "tests/support/realtime.h"

namespace korvo {
namespace {

namespace res = korvo::resources;

// Reads a big-endian signed 16-bit field of the hhea table straight from the file.
int hheaField(const std::uint8_t* font, int fieldOffset) {
    auto u16 = [&](std::size_t at) { return (font[at] << 8) | font[at + 1]; };
    auto u32 = [&](std::size_t at) {
        return (std::uint32_t{font[at]} << 24) | (std::uint32_t{font[at + 1]} << 16) |
               (std::uint32_t{font[at + 2]} << 8) | font[at + 3];
    };
    const int tables = u16(4);
    for (int i = 0; i < tables; ++i) {
        const std::size_t record = 12 + 16 * static_cast<std::size_t>(i);
        if (std::memcmp(font + record, "hhea", 4) == 0) {
            const std::uint32_t offset = u32(record + 8);
            return static_cast<std::int16_t>(u16(offset + static_cast<std::uint32_t>(fieldOffset)));
        }
    }
    return 0;
}

class FontTest : public ::testing::Test {
protected:
    Font lato{res::Lato_Semibold_ttf, res::Lato_Semibold_ttf_size};
};

struct Recorded {
    std::vector<GlyphPlacement> glyphs;
    void operator()(const GlyphPlacement& g) { glyphs.push_back(g); }
};

TEST(EmbeddedFonts, BothFacesLoadWithTheirHheaMetrics) {
    struct Face {
        const std::uint8_t* data;
        std::size_t size;
    };
    const Face faces[] = {{res::Lato_Semibold_ttf, res::Lato_Semibold_ttf_size},
                          {res::LeagueSpartan_Bold_otf, res::LeagueSpartan_Bold_otf_size}};
    for (const auto [data, size] : faces) {
        Font font(data, size);
        EXPECT_EQ(font.ascent(), hheaField(data, 4));
        EXPECT_EQ(font.descent(), hheaField(data, 6));
        EXPECT_EQ(font.lineGap(), hheaField(data, 8));
        EXPECT_GT(font.ascent(), 0);
        EXPECT_LT(font.descent(), 0);
        // Capitals at 9 px are rendered into real pixels.
        OwnedImage<RGBA> image(80, 20);
        fill(image.view(), RGBA{0, 0, 0, 0});
        fillText(image.view(), font, "PAN", 9.0f, 0.0f, RGBA{255, 255, 255, 255}, 40.0f, 10.0f);
        int lit = 0;
        for (int i = 0; i < 80 * 20; ++i) lit += image.pixels()[i].r > 0;
        EXPECT_GT(lit, 20);
    }
}

TEST(Utf8, DecodesValidSequences) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::size_t pos = 0;
    EXPECT_EQ(nextCodePoint(text, pos), 0x41u);
    EXPECT_EQ(nextCodePoint(text, pos), 0xE9u);
    EXPECT_EQ(nextCodePoint(text, pos), 0x20ACu);
    EXPECT_EQ(nextCodePoint(text, pos), 0x1F600u);
    EXPECT_EQ(pos, text.size());
}

TEST(Utf8, InvalidSequencesBecomeReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::vector<std::uint32_t> expected;
    };
    const Case cases[] = {
        {"\x80"
         "A",
         {0xFFFD, 'A'}},  // stray continuation byte
        {"\xE2\x82"
         "A",
         {0xFFFD, 'A'}},                 // truncated, next character kept
        {"\xC0\xAF", {0xFFFD}},          // overlong
        {"\xED\xA0\x80", {0xFFFD}},      // surrogate
        {"\xF4\x90\x80\x80", {0xFFFD}},  // above 0x10FFFF
        {"\xF8"
         "B",
         {0xFFFD, 'B'}},             // no such lead byte
        {"\xF0\x9F\x98", {0xFFFD}},  // cut at the end of the text
    };
    for (const Case& c : cases) {
        std::vector<std::uint32_t> got;
        for (std::size_t pos = 0; pos < c.bytes.size();) got.push_back(nextCodePoint(c.bytes, pos));
        EXPECT_EQ(got, c.expected) << "case of " << c.bytes.size() << " bytes";
    }
}

TEST_F(FontTest, LayoutCallsOncePerCodePointWithEighthPixelShifts) {
    Recorded r;
    lato.forEachGlyph(
        "A\xFF"
        "b",
        20.0f, 0.0f, 10.3f, 5.6f, r);
    ASSERT_EQ(r.glyphs.size(), 3u);
    EXPECT_EQ(r.glyphs[0].codePoint, 'A');
    EXPECT_EQ(r.glyphs[1].codePoint, 0xFFFDu);
    EXPECT_EQ(r.glyphs[2].index, 2);
    EXPECT_FLOAT_EQ(r.glyphs[0].scale, 20.0f / static_cast<float>(lato.ascent() - lato.descent()));
    EXPECT_FLOAT_EQ(r.glyphs[0].xShift, 0.25f);   // 0.3 * 8 = 2.4 -> 2 / 8
    EXPECT_FLOAT_EQ(r.glyphs[0].yShift, 0.625f);  // 0.6 * 8 = 4.8 -> 5 / 8
    // The box sits on the baseline at y = floor(5.6): capitals reach above it.
    EXPECT_LT(r.glyphs[0].box.min.y, 5 - 10);
    EXPECT_LE(r.glyphs[0].box.max.y, 5 + 1);
    EXPECT_GE(r.glyphs[0].box.min.x, 9);
}

TEST_F(FontTest, KerningAndLetterSpacingMoveThePen) {
    const float size = 40.0f;
    Recorded av, spaced;
    lato.forEachGlyph("AV", size, 0.0f, 0.0f, 0.0f, av);
    lato.forEachGlyph("AV", size, 3.0f, 0.0f, 0.0f, spaced);
    ASSERT_EQ(av.glyphs.size(), 2u);
    EXPECT_EQ(spaced.glyphs[1].box.min.x - av.glyphs[1].box.min.x, 3);

    // Where V lands follows advance(A) + kern(A, V), both scaled.
    const float scale = av.glyphs[0].scale;
    Recorded a, v;
    lato.forEachGlyph("A", size, 0.0f, 0.0f, 0.0f, a);
    stbtt_fontinfo info;
    ASSERT_NE(stbtt_InitFont(&info, res::Lato_Semibold_ttf, 0), 0);
    int advanceA = 0, bearing = 0;
    stbtt_GetCodepointHMetrics(&info, 'A', &advanceA, &bearing);
    const int kern = stbtt_GetCodepointKernAdvance(&info, 'A', 'V');
    EXPECT_LT(kern, 0);  // Lato kerns this pair
    const float pen = static_cast<float>(advanceA) * scale + static_cast<float>(kern) * scale;
    lato.forEachGlyph("V", size, 0.0f, pen, 0.0f, v);
    EXPECT_EQ(av.glyphs[1].box, v.glyphs[0].box);
    EXPECT_FLOAT_EQ(av.glyphs[1].xShift, v.glyphs[0].xShift);
}

TEST_F(FontTest, EmptyTextAndInvalidSizesDrawNothing) {
    EXPECT_TRUE(lato.measureText("", 12.0f, 0.0f).empty());
    int calls = 0;
    auto count = [&](const GlyphPlacement&) { ++calls; };
    lato.forEachGlyph("", 12.0f, 0.0f, 0.0f, 0.0f, count);
    const float bad[] = {0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), 1e9f};
    for (float size : bad) lato.forEachGlyph("abc", size, 0.0f, 0.0f, 0.0f, count);
    lato.forEachGlyph("abc", 12.0f, std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f, count);
    EXPECT_EQ(calls, 0);

    OwnedImage<L8> image(10, 10);
    fill(image.view(), L8{0});
    fillText(image.view(), lato, "", 12.0f, 0.0f, L8{255}, 5.0f, 5.0f);
    fillText(image.view(), lato, "x", 12.0f, 0.0f, L8{255}, std::numeric_limits<float>::quiet_NaN(), 5.0f);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(image.pixels()[i].l, 0);
}

TEST_F(FontTest, FillTextCentresAndBlends) {
    OwnedImage<RGBA> image(120, 60);
    fill(image.view(), RGBA{0, 0, 0, 10});
    fillText(image.view(), lato, "HIH", 40.0f, 0.0f, RGBA{255, 255, 255, 200}, 60.0f, 30.0f);
    IntRect drawn{{1000, 1000}, {-1000, -1000}};
    int maxRed = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x) {
            const RGBA p = *image.pixelAt(x, y);
            if (p.r == 0) {
                ASSERT_EQ(p.a, 10);  // uncovered pixels are untouched
                continue;
            }
            EXPECT_EQ(p.a, 200);  // covered pixels take the colour's alpha
            maxRed = std::max<int>(maxRed, p.r);
            drawn.min.x = std::min(drawn.min.x, x), drawn.min.y = std::min(drawn.min.y, y);
            drawn.max.x = std::max(drawn.max.x, x + 1), drawn.max.y = std::max(drawn.max.y, y + 1);
        }
    EXPECT_EQ(maxRed, (255 * 255 + 128) >> 8);  // full coverage of white gives 254
    EXPECT_NEAR((drawn.min.x + drawn.max.x) / 2.0, 60.0, 1.5);
    EXPECT_NEAR((drawn.min.y + drawn.max.y) / 2.0, 30.0, 1.5);
}

TEST_F(FontTest, AGlyphWithoutOutlineCoversNothingWhateverTheHeapHeld) {
    // League Spartan's space has a one-pixel box but no outline to rasterise. Leave freed
    // one-byte blocks full of ones behind, as a busy editor does, so a map that is never written
    // would show them.
    std::vector<std::uint8_t*> blocks;
    for (int i = 0; i < 64; ++i) {
        blocks.push_back(static_cast<std::uint8_t*>(heapAlloc(1)));
        *blocks.back() = 0xFF;
    }
    for (std::uint8_t* b : blocks) heapFree(b);
    Font spartan(res::LeagueSpartan_Bold_otf, res::LeagueSpartan_Bold_otf_size);
    int boxes = 0;
    for (int eighth = 0; eighth < 8; ++eighth)
        spartan.forEachGlyph(" ", 9.0f, 0.0f, 10.0f + eighth / 8.0f, 6.5f, [&](const GlyphPlacement& g) {
            if (g.box.empty()) return;
            ++boxes;
            const GlyphCoverage& c = spartan.glyphCoverage(GlyphKey{g.codePoint, g.scale, g.xShift, g.yShift},
                                                           g.box.width(), g.box.height());
            for (std::int32_t i = 0; i < c.w * c.h; ++i) EXPECT_EQ(c.bytes[i], 0) << "shift " << g.xShift;
        });
    EXPECT_GT(boxes, 0);
    // Drawn text shows nothing of it either: the gap between the letters stays clear.
    OwnedImage<RGBA> image(40, 20);
    fill(image.view(), RGBA{9, 9, 9, 9});
    IntRect gap{{1000, 0}, {-1000, 20}};
    spartan.forEachGlyph("A B", 9.0f, 1.0f, 0.0f, 0.0f, [&](const GlyphPlacement& g) {
        if (g.codePoint == 'A') gap.min.x = g.box.max.x;
        if (g.codePoint == 'B') gap.max.x = g.box.min.x;
    });
    ASSERT_GT(gap.width(), 0);
    fillText(image.view(), spartan, "A B", 9.0f, 1.0f, RGBA{255, 255, 255, 0}, 20.125f, 10.5f);
    const IntRect all = spartan.measureText("A B", 9.0f, 1.0f);
    const std::int32_t dx = 20 - (all.min.x + all.max.x) / 2;  // fillText centres the text box
    for (std::int32_t y = 0; y < 20; ++y)
        for (std::int32_t x = gap.min.x + dx; x < gap.max.x + dx; ++x)
            ASSERT_EQ(*image.pixelAt(x, y), (RGBA{9, 9, 9, 9})) << x << ", " << y;
}

TEST_F(FontTest, SameLabelTwiceReusesTheCache) {
    OwnedImage<RGBA> image(100, 30);
    fill(image.view(), RGBA{});
    fillText(image.view(), lato, "Gain", 14.0f, 0.5f, RGBA{255, 0, 0, 255}, 50.0f, 15.0f);
    const std::size_t cached = lato.cachedGlyphCount();
    EXPECT_EQ(cached, 4u);
    std::vector<RGBA> first(image.pixels(), image.pixels() + 100 * 30);
    fill(image.view(), RGBA{});
    test::RealtimeProbe probe;
    fillText(image.view(), lato, "Gain", 14.0f, 0.5f, RGBA{255, 0, 0, 255}, 50.0f, 15.0f);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(lato.cachedGlyphCount(), cached);
    EXPECT_EQ(std::memcmp(first.data(), image.pixels(), first.size() * sizeof(RGBA)), 0);
    // Another eighth-pixel position renders new maps.
    fillText(image.view(), lato, "Gain", 14.0f, 0.5f, RGBA{255, 0, 0, 255}, 50.5f, 15.0f);
    EXPECT_GT(lato.cachedGlyphCount(), cached);
}

TEST_F(FontTest, TextAtAContinuouslyChangingSizeKeepsTheCacheWithinItsBudget) {
    // A value hint growing for a minute of 15 ms frames, beside a label drawn in every frame.
    OwnedImage<L8> image(200, 100);
    OwnedImage<L8> labelBefore(60, 30), labelAfter(60, 30);
    fill(labelBefore.view(), L8{0});
    fillText(labelBefore.view(), lato, "Gain", 14.0f, 0.0f, L8{255}, 30.0f, 15.0f);
    std::size_t largest = 0;
    for (int frame = 0; frame < 4000; ++frame) {
        fillText(image.view(), lato, "-12.3 dB", 10.0f + 0.015f * static_cast<float>(frame), 0.0f, L8{255},
                 100.0f, 50.0f);
        fillText(image.view(), lato, "Gain", 14.0f, 0.0f, L8{255}, 30.0f, 15.0f);
        largest = std::max(largest, lato.cachedGlyphBytes());
    }
    EXPECT_LE(largest, Font::kGlyphCacheBudgetBytes);
    EXPECT_GT(largest, Font::kGlyphCacheBudgetBytes / 2);  // the budget was reached: glyphs were dropped
    // The label drawn in every frame is still cached and draws the same pixels.
    const std::size_t cached = lato.cachedGlyphCount();
    test::RealtimeProbe probe;
    fill(labelAfter.view(), L8{0});
    fillText(labelAfter.view(), lato, "Gain", 14.0f, 0.0f, L8{255}, 30.0f, 15.0f);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(lato.cachedGlyphCount(), cached);
    EXPECT_EQ(std::memcmp(labelBefore.pixels(), labelAfter.pixels(), 60 * 30), 0);
}

TEST_F(FontTest, TextOutsideTheViewIsClipped) {
    // A view in the middle of a guarded buffer.
    std::vector<L8> buffer(30 * 30, L8{33});
    const ImageView<L8> view{10, 10, 30, buffer.data() + 10 * 30 + 10};
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) view.at(x, y) = L8{0};
    const float positions[][2] = {{0, 0},   {10, 10},  {-3, 5},        {5, -2},
                                  {12, 12}, {1e7f, 5}, {-1e8f, -1e8f}, {5, 5}};
    for (const auto& p : positions) fillText(view, lato, "Wide label", 30.0f, 2.0f, L8{255}, p[0], p[1]);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            const bool inside = x >= 10 && x < 20 && y >= 10 && y < 20;
            if (!inside) {
                ASSERT_EQ(buffer[static_cast<std::size_t>(y * 30 + x)].l, 33) << x << "," << y;
            }
        }
    int lit = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) lit += view.at(x, y).l != 0;
    EXPECT_GT(lit, 0);
}

TEST_F(FontTest, ParallelDrawingMatchesSerialDrawing) {
    constexpr int kImages = 8;
    std::vector<HeapPtr<OwnedImage<L16>>> serial, parallel;
    for (int i = 0; i < kImages; ++i) {
        serial.push_back(makeHeap<OwnedImage<L16>>(64, 24));
        parallel.push_back(makeHeap<OwnedImage<L16>>(64, 24));
        fill(serial.back()->view(), L16{1000});
        fill(parallel.back()->view(), L16{1000});
    }
    auto draw = [&](std::vector<HeapPtr<OwnedImage<L16>>>& images, std::int32_t i) {
        const std::string label = "Level " + std::to_string(i);
        fillText(images[static_cast<std::size_t>(i)]->view(), lato, label, 11.0f + static_cast<float>(i % 3),
                 0.0f, L16{60000}, 32.0f + 0.125f * static_cast<float>(i), 12.0f);
    };
    for (int i = 0; i < kImages; ++i) draw(serial, i);
    Font fresh(res::Lato_Semibold_ttf, res::Lato_Semibold_ttf_size);  // empty cache: workers race to fill it
    HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(3);
    pool->runParallel(kImages, [&](std::int32_t i) {
        const std::string label = "Level " + std::to_string(i);
        fillText(parallel[static_cast<std::size_t>(i)]->view(), fresh, label,
                 11.0f + static_cast<float>(i % 3), 0.0f, L16{60000}, 32.0f + 0.125f * static_cast<float>(i),
                 12.0f);
    });
    for (int i = 0; i < kImages; ++i)
        EXPECT_EQ(std::memcmp(serial[i]->pixels(), parallel[i]->pixels(), 64 * 24 * sizeof(L16)), 0) << i;
}

}  // namespace
}  // namespace korvo
