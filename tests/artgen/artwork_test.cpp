// The committed artwork is what the generator draws, in the formats the editor decodes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "korvo/graphics/decode.h"
#include "tests/artgen/artwork_fixture.h"
#include "velmora_resources_resources.h"

namespace velmora::artgen {
namespace {

namespace res = velmora::resources;

struct Embedded {
    const unsigned char* bytes;
    unsigned long long size;
};
const Embedded kEmbedded[6] = {
    {res::background_color_jpg, res::background_color_jpg_size},
    {res::background_emissive_png, res::background_emissive_png_size},
    {res::background_material_png, res::background_material_png_size},
    {res::background_depth_png, res::background_depth_png_size},
    {res::skybox_jpg, res::skybox_jpg_size},
    {res::logo_png, res::logo_png_size},
};

std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Width, height, colour type of a PNG's header chunk.
struct PngHeader {
    std::uint32_t w = 0, h = 0;
    int bitDepth = 0, colorType = -1;
};
PngHeader pngHeader(const Embedded& e) {
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    PngHeader h;
    if (e.size < 33 || std::memcmp(e.bytes, signature, 8) != 0 || std::memcmp(e.bytes + 12, "IHDR", 4) != 0)
        return h;
    h.w = be32(e.bytes + 16);
    h.h = be32(e.bytes + 20);
    h.bitDepth = e.bytes[24];
    h.colorType = e.bytes[25];
    return h;
}

// The frame header of a JPEG: which start-of-frame marker, size and component count.
struct JpegFrame {
    int marker = 0;
    int w = 0, h = 0, components = 0;
};
JpegFrame jpegFrame(const Embedded& e) {
    JpegFrame f;
    if (e.size < 4 || e.bytes[0] != 0xFF || e.bytes[1] != 0xD8) return f;
    std::size_t at = 2;
    while (at + 9 < e.size) {
        if (e.bytes[at] != 0xFF) return f;
        const int marker = e.bytes[at + 1];
        const std::size_t length = (std::size_t{e.bytes[at + 2]} << 8) | e.bytes[at + 3];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            f.marker = marker;
            f.h = (e.bytes[at + 5] << 8) | e.bytes[at + 6];
            f.w = (e.bytes[at + 7] << 8) | e.bytes[at + 8];
            f.components = e.bytes[at + 9];
            return f;
        }
        at += 2 + length;
    }
    return f;
}

TEST(ArtworkFiles, HaveTheSizesAndFormatsTheEditorDecodes) {
    for (int i : {0, 4}) {
        const JpegFrame f = jpegFrame(kEmbedded[i]);
        EXPECT_EQ(f.marker, 0xC0) << kFileNames[i] << " is not a baseline JPEG";
        EXPECT_EQ(f.components, 3) << kFileNames[i];
        EXPECT_EQ(f.w, i == 0 ? kWidth : kSkyWidth) << kFileNames[i];
        EXPECT_EQ(f.h, i == 0 ? kHeight : kSkyHeight) << kFileNames[i];
    }
    const int colorTypes[6] = {-1, 2, 6, 6, -1, 6};  // 2 = RGB, 6 = RGBA
    for (int i : {1, 2, 3, 5}) {
        const PngHeader h = pngHeader(kEmbedded[i]);
        EXPECT_EQ(h.colorType, colorTypes[i]) << kFileNames[i];
        EXPECT_EQ(h.bitDepth, 8) << kFileNames[i];
        EXPECT_EQ(h.w, static_cast<std::uint32_t>(i == 5 ? kLogoWidth : kWidth)) << kFileNames[i];
        EXPECT_EQ(h.h, static_cast<std::uint32_t>(i == 5 ? kLogoHeight : kHeight)) << kFileNames[i];
    }
}

TEST_F(ArtworkTest, RegeneratedFilesDecodeToTheCommittedPixels) {
    // The generator is deterministic and the committed files were made by it: if this fails, the
    // drawing code changed without running artgen (or artgen's output was not committed).
    const EncodedArtwork& files = encoded();
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(std::string(kFileNames[i]));
        ASSERT_FALSE(files[i].empty());
        const korvo::DecodedImage fresh = korvo::decodeImage(files[i].data(), files[i].size(), 4);
        const korvo::DecodedImage committed = korvo::decodeImage(kEmbedded[i].bytes, kEmbedded[i].size, 4);
        ASSERT_EQ(fresh.w, committed.w);
        ASSERT_EQ(fresh.h, committed.h);
        const std::size_t bytes = static_cast<std::size_t>(fresh.w) * static_cast<std::size_t>(fresh.h) * 4;
        std::size_t differing = 0;
        for (std::size_t b = 0; b < bytes; ++b) differing += fresh.pixels[b] != committed.pixels[b];
        EXPECT_EQ(differing, 0u) << "run build/linux/tools/artgen/artgen and commit effect/resources";
    }
}

// The set drawn at 200 %: the same check, and the sizes of the drawing at twice the size.
TEST(ArtworkFiles, TheTwoTimesSetIsWhatTheGeneratorDrawsAtTwiceTheSize) {
    const Embedded committed[5] = {
        {res::background_color_2x_jpg, res::background_color_2x_jpg_size},
        {res::background_emissive_2x_png, res::background_emissive_2x_png_size},
        {res::background_material_2x_png, res::background_material_2x_png_size},
        {res::background_depth_2x_png, res::background_depth_2x_png_size},
        {res::logo_2x_png, res::logo_2x_png_size},
    };
    const EncodedScaledArtwork files = encodeScaledArtwork(drawArtwork(kScaledArtworkScale));
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(std::string(kScaledFileNames[i]));
        const korvo::DecodedImage fresh = korvo::decodeImage(files[i].data(), files[i].size(), 4);
        const korvo::DecodedImage stored = korvo::decodeImage(committed[i].bytes, committed[i].size, 4);
        ASSERT_EQ(fresh.w, stored.w);
        ASSERT_EQ(fresh.h, stored.h);
        EXPECT_EQ(fresh.w, i == 4 ? 2 * kLogoWidth : 2 * kWidth);
        EXPECT_EQ(fresh.h, i == 4 ? 2 * kLogoHeight : 2 * kHeight);
        EXPECT_EQ(std::memcmp(fresh.pixels, stored.pixels, static_cast<std::size_t>(fresh.w) * fresh.h * 4), 0)
            << "run build/linux/tools/artgen/artgen and commit effect/resources";
    }
}

TEST_F(ArtworkTest, SkyboxIsASoftStudioBrightAboveDarkBelow) {
    const korvo::ImageView<korvo::RGBA> sky = art().skybox->view();
    auto meanLuma = [&](float v0, float v1) {
        double sum = 0;
        int n = 0;
        for (auto y = static_cast<std::int32_t>(v0 * kSkyHeight);
             y < static_cast<std::int32_t>(v1 * kSkyHeight); ++y)
            for (std::int32_t x = 0; x < kSkyWidth; x += 4, ++n) {
                const korvo::RGBA p = sky.at(x, y);
                sum += 0.3 * p.r + 0.59 * p.g + 0.11 * p.b;
            }
        return sum / n;
    };
    const double ceiling = meanLuma(0.05f, 0.2f), middle = meanLuma(0.4f, 0.6f), floor = meanLuma(0.8f, 1.0f);
    EXPECT_GT(ceiling, middle + 40);
    EXPECT_GT(middle, floor + 40);
    EXPECT_LT(floor, 50);
    // Cool and desaturated: blue at least red, and no channel far from the others.
    int worst = 0;
    for (std::int32_t y = 0; y < kSkyHeight; y += 3)
        for (std::int32_t x = 0; x < kSkyWidth; x += 3) {
            const korvo::RGBA p = sky.at(x, y);
            EXPECT_GE(p.b + 1, p.r);
            worst = std::max(worst, std::abs(p.b - p.r));
        }
    EXPECT_LE(worst, 24);
}

TEST_F(ArtworkTest, LogoAlphaIsItsShape) {
    const korvo::ImageView<korvo::RGBA> logo = art().logo->view();
    for (auto [x, y] : {std::pair{0, 0}, {63, 0}, {0, 55}, {63, 55}, {32, 2}}) EXPECT_EQ(logo.at(x, y).a, 0);
    EXPECT_EQ(logo.at(32, 40).a, 255);  // the half-disc
    int opaque = 0, partial = 0;
    for (std::int32_t y = 0; y < kLogoHeight; ++y)
        for (std::int32_t x = 0; x < kLogoWidth; ++x) {
            opaque += logo.at(x, y).a == 255;
            partial += logo.at(x, y).a > 0 && logo.at(x, y).a < 255;
        }
    EXPECT_GT(opaque, 400);
    EXPECT_GT(partial, 50);  // anti-aliased edges
}

}  // namespace
}  // namespace velmora::artgen
