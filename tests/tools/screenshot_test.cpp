// `velmora screenshot`: the off-screen GUI picture written as a PNG file.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "korvo/graphics/decode.h"
#include "tests/support/pictures.h"
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

TEST(ScreenshotCommand, WritesAnOpaquePNGOfTheRequestedSize) {
    test::TempDir dir;
    const std::string path = dir.file("shot.png");
    const Outcome o = runTool({"screenshot", path, "--size", "64x40"});
    ASSERT_EQ(o.code, 0) << o.err;
    const std::vector<std::uint8_t> png = korvo::test::readFileBytes(path);
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
    const std::vector<std::uint8_t> png = korvo::test::readFileBytes(path);
    const korvo::DecodedImage image = korvo::decodeImage(png.data(), png.size(), 4);
    EXPECT_EQ(image.w, 760);
    EXPECT_EQ(image.h, 974);
    EXPECT_EQ(runTool({"screenshot", "--widgets", dir.file("b.png"), "--size", "64x40"}).code, 2);
    EXPECT_NE(runTool({"screenshot", "--help"}).out.find("--widgets"), std::string::npos);
}

// Pixels of the box from (x0, y0) to (x1, y1) that differ between two pictures of the same size.
int differingPixels(const korvo::DecodedImage& a, const korvo::DecodedImage& b, int x0, int y0, int x1,
                    int y1) {
    return korvo::test::comparePictures(korvo::test::pixelsOf(a), korvo::test::pixelsOf(b),
                                        korvo::test::Channels::colourAndAlpha,
                                        korvo::IntRect{{x0, y0}, {x1, y1}})
        .differing;
}

TEST(ScreenshotCommand, EditorShowsTheStateAndThePlayedAudio) {
    test::TempDir dir;
    ASSERT_EQ(runTool({"screenshot", "--editor", dir.file("default.png")}).code, 0);
    const Outcome preset = runTool(
        {"screenshot", "--editor", dir.file("preset.png"), "--preset", "Far-Left", "--set", "Test Mono=yes"});
    ASSERT_EQ(preset.code, 0) << preset.err;
    // A short stereo tone, hard left: the scope draws a trace, the panorama the audio's position.
    std::vector<float> tone(24000);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
    ASSERT_TRUE(test::writeAudio(dir.file("tone.wav"), test::monoAudio(tone, 48000)));
    const Outcome played = runTool({"screenshot", "--editor", "--play", dir.file("tone.wav"),
                                    dir.file("played.png"), "--set", "Pan=-90"});
    ASSERT_EQ(played.code, 0) << played.err;
    const korvo::DecodedImage plain = korvo::test::readPNG(dir.file("default.png")),
                              withPreset = korvo::test::readPNG(dir.file("preset.png")),
                              withAudio = korvo::test::readPNG(dir.file("played.png"));
    ASSERT_EQ(plain.w, 763);
    ASSERT_EQ(plain.h, 494);
    ASSERT_EQ(withAudio.w, 763);
    // The distance slider moved, "Test Mono" lit up; the phase scope stayed dark without audio.
    EXPECT_GT(differingPixels(plain, withPreset, 47, 114, 76, 257), 100);
    EXPECT_GT(differingPixels(plain, withPreset, 685, 426, 722, 454), 100);
    EXPECT_EQ(differingPixels(plain, withPreset, 500, 326, 620, 444), 0);
    EXPECT_GT(differingPixels(plain, withAudio, 500, 326, 620, 444), 50);

    // --play without INPUT plays the built-in demo.
    EXPECT_EQ(runTool({"screenshot", "--editor", dir.file("demo.png"), "--play"}).code, 0);
    EXPECT_GT(differingPixels(plain, korvo::test::readPNG(dir.file("demo.png")), 500, 326, 620, 444), 50);

    // Bad requests write nothing.
    const std::size_t files = dir.entries().size();
    EXPECT_EQ(runTool({"screenshot", "--editor", dir.file("x.png"), "--preset", "Nowhere"}).code, 2);
    EXPECT_EQ(runTool({"screenshot", "--editor", dir.file("x.png"), "--set", "Pan=500"}).code, 2);
    EXPECT_EQ(runTool({"screenshot", "--editor", dir.file("x.png"), "--play", dir.file("missing.wav")}).code,
              2);
    EXPECT_EQ(runTool({"screenshot", dir.file("x.png"), "--preset", "Default"}).code, 2);
    EXPECT_EQ(runTool({"screenshot", "--editor", "--widgets", dir.file("x.png")}).code, 2);
    EXPECT_EQ(runTool({"screenshot", "--editor", dir.file("x.png"), "--size", "10x10"}).code, 2);
    EXPECT_EQ(dir.entries().size(), files);
    EXPECT_NE(runTool({"screenshot", "--help"}).out.find("--editor"), std::string::npos);
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
