// The embedded label face is a subset of Debian's Lato Semibold: every character it keeps must lay
// out and rasterise exactly like the full file (make_lato_subset.py makes it).
#include <gtest/gtest.h>
#include <stb/stb_truetype.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "korvo_resources_resources.h"

namespace {

TEST(LabelFontSubset, KeepsMetricsKerningAndOutlinesOfLatin1) {
    std::ifstream in("/usr/share/fonts/truetype/lato/Lato-Semibold.ttf", std::ios::binary);
    ASSERT_TRUE(in.good()) << "fonts-lato is not installed (./velmora setup)";
    const std::vector<unsigned char> full((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    stbtt_fontinfo a{}, b{};
    ASSERT_NE(stbtt_InitFont(&a, full.data(), 0), 0);
    ASSERT_NE(stbtt_InitFont(&b, korvo::resources::Lato_Semibold_ttf, 0), 0);
    EXPECT_LT(korvo::resources::Lato_Semibold_ttf_size, 64u * 1024u);

    std::vector<int> codePoints;
    for (int c = 0x20; c < 0x7F; ++c) codePoints.push_back(c);
    for (int c = 0xA0; c < 0x100; ++c) codePoints.push_back(c);
    codePoints.push_back(0x2212);  // minus
    codePoints.push_back(0x221E);  // infinity

    int va = 0, vb = 0, vc = 0, vd = 0, ve = 0, vf = 0;
    stbtt_GetFontVMetrics(&a, &va, &vb, &vc);
    stbtt_GetFontVMetrics(&b, &vd, &ve, &vf);
    EXPECT_EQ(va, vd);
    EXPECT_EQ(vb, ve);
    EXPECT_EQ(vc, vf);
    int kerned = 0;
    const float scale = 35.0f / 3.0f / 2400.0f;  // the labels' size
    for (int first : codePoints) {
        ASSERT_NE(stbtt_FindGlyphIndex(&b, first), 0) << "U+" << std::hex << first;
        int advanceA = 0, bearingA = 0, advanceB = 0, bearingB = 0;
        stbtt_GetCodepointHMetrics(&a, first, &advanceA, &bearingA);
        stbtt_GetCodepointHMetrics(&b, first, &advanceB, &bearingB);
        EXPECT_EQ(advanceA, advanceB) << first;
        EXPECT_EQ(bearingA, bearingB) << first;
        for (int second : codePoints) {
            const int kern = stbtt_GetCodepointKernAdvance(&a, first, second);
            ASSERT_EQ(kern, stbtt_GetCodepointKernAdvance(&b, first, second)) << first << " " << second;
            kerned += kern != 0;
        }
        for (float shift : {0.0f, 0.375f}) {
            int wa, ha, xa, ya, wb, hb, xb, yb;
            unsigned char* ma =
                stbtt_GetCodepointBitmapSubpixel(&a, scale, scale, shift, shift, first, &wa, &ha, &xa, &ya);
            unsigned char* mb =
                stbtt_GetCodepointBitmapSubpixel(&b, scale, scale, shift, shift, first, &wb, &hb, &xb, &yb);
            EXPECT_TRUE(wa == wb && ha == hb && xa == xb && ya == yb) << first;
            if (wa == wb && ha == hb && wa * ha > 0) {
                EXPECT_EQ(std::memcmp(ma, mb, static_cast<std::size_t>(wa * ha)), 0) << first;
            }
            stbtt_FreeBitmap(ma, nullptr);
            stbtt_FreeBitmap(mb, nullptr);
        }
    }
    EXPECT_GT(kerned, 1000);  // the kerning came along
}

}  // namespace
