#include "korvo/graphics/decode.h"

#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace korvo {
namespace {

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

std::vector<std::uint8_t> encodePng(int w, int h, int components, const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> out;
    EXPECT_NE(stbi_write_png_to_func(&appendBytes, &out, w, h, components, pixels.data(), w * components), 0);
    return out;
}

std::vector<std::uint8_t> encodeJpeg(int w, int h, int components, const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> out;
    EXPECT_NE(stbi_write_jpg_to_func(&appendBytes, &out, w, h, components, pixels.data(), 100), 0);
    return out;
}

TEST(ImageDecode, FormatIsDetectedBySignature) {
    const std::uint8_t png[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const std::uint8_t jpeg[2] = {0xFF, 0xD8};
    const std::uint8_t other[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0B};
    EXPECT_EQ(detectImageFormat(png, 8), ImageFormat::png);
    EXPECT_EQ(detectImageFormat(png, 7), ImageFormat::unknown);  // a cut signature is no PNG
    EXPECT_EQ(detectImageFormat(jpeg, 2), ImageFormat::jpeg);
    EXPECT_EQ(detectImageFormat(jpeg, 1), ImageFormat::unknown);
    EXPECT_EQ(detectImageFormat(other, 8), ImageFormat::unknown);
    EXPECT_EQ(detectImageFormat(nullptr, 0), ImageFormat::unknown);
}

TEST(ImageDecode, PngConvertsBetweenComponentCounts) {
    const std::vector<std::uint8_t> rgb = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};  // 2 x 2
    const std::vector<std::uint8_t> file = encodePng(2, 2, 3, rgb);
    const DecodedImage asRgba = decodeImage(file.data(), file.size(), 4);
    ASSERT_EQ(asRgba.w, 2);
    ASSERT_EQ(asRgba.h, 2);
    EXPECT_EQ(asRgba.components, 4);
    EXPECT_EQ(asRgba.pixels[4 * 3 + 0], 100);
    EXPECT_EQ(asRgba.pixels[4 * 3 + 3], 255);  // opaque alpha added

    HeapPtr<OwnedImage<RGBA>> image = decodeToRGBA(file.data(), file.size());
    ASSERT_EQ(image->w(), 2);
    EXPECT_EQ(*image->pixelAt(1, 0), (RGBA{40, 50, 60, 255}));
}

TEST(ImageDecode, ColourWithSeparateAlphaImage) {
    const int w = 763, h = 494;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3), grey(static_cast<std::size_t>(w) * h);
    for (int i = 0; i < w * h; ++i) {
        rgb[3 * i] = static_cast<std::uint8_t>(i);
        rgb[3 * i + 1] = static_cast<std::uint8_t>(i / w);
        rgb[3 * i + 2] = 77;
        grey[i] = static_cast<std::uint8_t>((i * 7) >> 3);
    }
    const std::vector<std::uint8_t> colorFile = encodePng(w, h, 3, rgb);
    const std::vector<std::uint8_t> alphaFile = encodePng(w, h, 1, grey);
    HeapPtr<OwnedImage<RGBA>> image =
        decodeWithAlphaImage(colorFile.data(), colorFile.size(), alphaFile.data(), alphaFile.size());
    ASSERT_EQ(image->w(), w);
    ASSERT_EQ(image->h(), h);
    for (int i = 0; i < w * h; i += 97) {
        const RGBA p = image->pixels()[i];
        ASSERT_EQ(p.a, grey[i]) << i;
        ASSERT_EQ(p.r, rgb[3 * i]) << i;
        ASSERT_EQ(p.g, rgb[3 * i + 1]) << i;
        ASSERT_EQ(p.b, 77) << i;
    }
}

TEST(ImageDecode, BaselineJpeg) {
    const int w = 16, h = 8;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = 200;
        rgb[i + 1] = 100;
        rgb[i + 2] = 50;
    }
    const std::vector<std::uint8_t> file = encodeJpeg(w, h, 3, rgb);
    ASSERT_EQ(detectImageFormat(file.data(), file.size()), ImageFormat::jpeg);
    HeapPtr<OwnedImage<RGBA>> image = decodeToRGBA(file.data(), file.size());
    ASSERT_EQ(image->w(), w);
    ASSERT_EQ(image->h(), h);
    const RGBA p = *image->pixelAt(5, 3);
    EXPECT_NEAR(p.r, 200, 3);  // JPEG is lossy, even at the highest quality
    EXPECT_NEAR(p.g, 100, 3);
    EXPECT_NEAR(p.b, 50, 3);
    EXPECT_EQ(p.a, 255);
    const DecodedImage grey = decodeImage(file.data(), file.size(), 1);
    EXPECT_EQ(grey.components, 1);
}

#if !defined(_WIN32)
TEST(ImageDecodeDeathTest, BadResourcesEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::uint8_t garbage[4] = {1, 2, 3, 4};
    EXPECT_DEATH(decodeImage(garbage, sizeof garbage, 4), "unknown format");
    const std::vector<std::uint8_t> a = encodePng(2, 2, 1, std::vector<std::uint8_t>(4, 9));
    const std::vector<std::uint8_t> b = encodePng(2, 3, 1, std::vector<std::uint8_t>(6, 9));
    EXPECT_DEATH(decodeWithAlphaImage(a.data(), a.size(), b.data(), b.size()), "sizes differ");
    std::vector<std::uint8_t> cut = a;
    cut.resize(20);
    EXPECT_DEATH(decodeImage(cut.data(), cut.size(), 3), "cannot decode");
}
#endif

}  // namespace
}  // namespace korvo
