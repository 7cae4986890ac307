// `velmora screenshot`: the off-screen GUI picture written as a PNG file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "korvo/graphics/decode.h"
#include "tests/tools/audio_helpers.h"
#include "tools/velmora/cli.h"

namespace velmora::cli {
namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome runTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = run(args, Environment{}, out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ScreenshotCommand, WritesAnOpaquePNGOfTheRequestedSize) {
    test::TempDir dir;
    const std::string path = dir.file("shot.png");
    const Outcome o = runTool({"screenshot", path, "--size", "64x40"});
    ASSERT_EQ(o.code, 0) << o.err;
    const std::vector<std::uint8_t> png = readFile(path);
    ASSERT_EQ(korvo::detectImageFormat(png.data(), png.size()), korvo::ImageFormat::png);
    const korvo::DecodedImage image = korvo::decodeImage(png.data(), png.size(), 4);
    EXPECT_EQ(image.w, 64);
    EXPECT_EQ(image.h, 40);
    for (std::int32_t i = 0; i < image.w * image.h; ++i) ASSERT_EQ(image.pixels[i * 4 + 3], 255);
}

TEST(ScreenshotCommand, WidgetsWritesTheGallery) {
    test::TempDir dir;
    const std::string path = dir.file("widgets.png");
    const Outcome o = runTool({"screenshot", "--widgets", path});
    ASSERT_EQ(o.code, 0) << o.err;
    const std::vector<std::uint8_t> png = readFile(path);
    const korvo::DecodedImage image = korvo::decodeImage(png.data(), png.size(), 4);
    EXPECT_EQ(image.w, 760);
    EXPECT_EQ(image.h, 560);
    EXPECT_EQ(runTool({"screenshot", "--widgets", dir.file("b.png"), "--size", "64x40"}).code, 2);
    EXPECT_NE(runTool({"screenshot", "--help"}).out.find("--widgets"), std::string::npos);
}

TEST(ScreenshotCommand, RefusesBadRequestsWithoutWriting) {
    test::TempDir dir;
    EXPECT_EQ(runTool({"screenshot"}).code, 2);
    EXPECT_EQ(runTool({"screenshot", dir.file("a.png"), "--size", "0x10"}).code, 2);
    EXPECT_EQ(runTool({"screenshot", dir.file("a.png"), "--size", "10y10"}).code, 2);
    EXPECT_EQ(runTool({"screenshot", dir.file("a.png"), "--bogus"}).code, 2);
    EXPECT_EQ(runTool({"screenshot", dir.file("a.png"), dir.file("b.png")}).code, 2);
    EXPECT_TRUE(dir.entries().empty());
    const Outcome o = runTool({"screenshot", dir.file("missing/a.png")});
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("cannot write"), std::string::npos);
}

}  // namespace
}  // namespace velmora::cli
