// The built `velmora` executable end to end: a generated file rendered with a factory preset has
// the level and inter-channel delay the panner's laws give.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/pictures.h"
#include "tests/tools/audio_helpers.h"

namespace velmora::cli {
namespace {

using test::Audio;

#ifdef VELMORA_TOOL_PATH
constexpr const char* kTool = VELMORA_TOOL_PATH;
#else
constexpr const char* kTool = "";
#endif

int runShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Least-squares gain of `out` as a copy of `in` delayed by `lag`, over [from, to).
double gainAtLag(const std::vector<float>& in, const std::vector<float>& out, int lag, std::size_t from,
                 std::size_t to) {
    double cross = 0, energy = 0;
    for (std::size_t i = from; i < to; ++i) {
        cross += static_cast<double>(out[i]) * in[i - static_cast<std::size_t>(lag)];
        energy += static_cast<double>(in[i - static_cast<std::size_t>(lag)]) *
                  in[i - static_cast<std::size_t>(lag)];
    }
    return cross / energy;
}

// The lag in [0, 64) at which `out` correlates best with `in`.
int bestLag(const std::vector<float>& in, const std::vector<float>& out, std::size_t from, std::size_t to) {
    int best = 0;
    double bestValue = -1;
    for (int lag = 0; lag < 64; ++lag) {
        const double g = std::fabs(gainAtLag(in, out, lag, from, to));
        if (g > bestValue) {
            bestValue = g;
            best = lag;
        }
    }
    return best;
}

TEST(EndToEnd, DelayPanOnlyPresetGivesItsLevelsAndInterChannelDelay) {
    ASSERT_STRNE(kTool, "");
    test::TempDir dir;
    const std::vector<float> input = test::noise(48000, 0.25f, 7);
    ASSERT_TRUE(test::writeAudio(dir.file("noise.wav"), test::monoAudio(input, 48000)));

    const std::string command = std::string("'") + kTool + "' render '" + dir.file("noise.wav") + "' '" +
                                dir.file("out.wav") + "' --preset 'Delay Pan Only' 2>/dev/null";
    ASSERT_EQ(runShell(command), 0);
    const Audio out = test::readAudio(dir.file("out.wav"));
    ASSERT_EQ(out.channels, 2);
    ASSERT_EQ(out.frames(), 48000 + 9600);
    std::vector<float> left, right;
    for (std::int64_t i = 0; i < out.frames(); ++i) {
        left.push_back(out.at(i, 0));
        right.push_back(out.at(i, 1));
    }

    // Measured after the start-up glides (tens of milliseconds) have settled.
    const std::size_t from = 24000, to = 48000;
    const int lagLeft = bestLag(input, left, from, to);
    const int lagRight = bestLag(input, right, from, to);
    // Full left at 150 % head size: the near (left) ear gets the 3-sample base delay, the far ear
    // 3 + round(1.5 x 0.000653 s x 48000) = 3 + 47 samples.
    EXPECT_EQ(lagLeft, 3);
    EXPECT_EQ(lagRight, 50);
    EXPECT_EQ(lagRight - lagLeft, 47);

    // Level pan at 100 %: the near side +1.68 dB, the far side -6.27 dB (7.95 dB apart).
    const double k = std::pow(10.0, 7.95 / 20.0);
    const double f = std::sqrt(2.0) / (k - 1.0 + std::sqrt(2.0));
    const double e = (1.0 - f) * std::sqrt(2.0);
    const double nearDb = 20.0 * std::log10(gainAtLag(input, left, lagLeft, from, to));
    const double farDb = 20.0 * std::log10(gainAtLag(input, right, lagRight, from, to));
    EXPECT_NEAR(nearDb, 20.0 * std::log10(e + f), 0.01);
    EXPECT_NEAR(farDb, 20.0 * std::log10(f), 0.01);
    EXPECT_NEAR(nearDb, 1.68, 0.01);
    EXPECT_NEAR(farDb, -6.27, 0.01);
}

TEST(EndToEnd, RefusalExitsWithTwoAndWritesNothing) {
    ASSERT_STRNE(kTool, "");
    test::TempDir dir;
    const std::string out = dir.file("x.wav");
    EXPECT_EQ(runShell(std::string("'") + kTool + "' render '" + out + "' --set 'Pan=far' 2>/dev/null"), 2);
    EXPECT_EQ(runShell(std::string("'") + kTool + "' render '" + out + "' --preset 99 2>/dev/null"), 2);
    EXPECT_TRUE(dir.entries().empty());
    // The demo signal renders without an input file.
    EXPECT_EQ(runShell(std::string("'") + kTool + "' render '" + out + "' --rate 8000"), 0);
    EXPECT_EQ(test::readAudio(out).frames(), 6 * 8000 + 1600);
}

}  // namespace
}  // namespace velmora::cli

namespace velmora::cli {
namespace {

// `velmora info --plugin` describes the built module as our VST3 host sees it through its exports.
TEST(EndToEnd, InfoOfTheBuiltPluginShowsWhatAHostSees) {
#ifdef VELMORA_BUNDLE_PATH
    const test::TempDir dir;  // each run its own: test runs of other builds may run at the same time
    const std::string output = dir.file("info.txt");
    ASSERT_EQ(
        runShell(std::string(kTool) + " info --plugin " + VELMORA_BUNDLE_PATH + " > " + output + " 2>&1"), 0);
    std::FILE* file = std::fopen(output.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::string text(1 << 16, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    EXPECT_NE(text.find("Fx|Spatial"), std::string::npos);
    EXPECT_NE(text.find("\"Right 25% \""), std::string::npos) << "program names, trailing space kept";
    EXPECT_NE(text.find("\"Dry / Wet\""), std::string::npos);
    EXPECT_EQ(runShell(std::string(kTool) + " info --plugin > /dev/null 2>&1"), 2);
    // A .clap file is described by our CLAP host; it has no editor to take a picture of.
    ASSERT_EQ(runShell(std::string(kTool) + " info --plugin " + VELMORA_CLAP_PATH + " > " + output + " 2>&1"),
              0);
    file = std::fopen(output.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    text.assign(1 << 16, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    EXPECT_NE(text.find("features: audio-effect tessary:spatial stereo mono"), std::string::npos) << text;
    EXPECT_NE(text.find("id 998 \"Bypass\" stepped|bypass|automatable|enum"), std::string::npos);
    EXPECT_EQ(runShell(std::string(kTool) + " info --plugin " + VELMORA_CLAP_PATH +
                       " --editor-shot x.png 2>/dev/null"),
              2);
#else
    GTEST_SKIP() << "the plug-in bundle is not part of this build";
#endif
}

// `velmora info --plugin BUNDLE --editor-shot OUT.png` opens the editor in a real window (on a
// private Xvfb when there is no display) and saves its picture.
TEST(EndToEnd, EditorShotsOfTheTestModuleAndTheProduct) {
#if defined(VELMORA_BUNDLE_PATH) && defined(KORVO_TEST_MODULE_BUNDLE)
    const test::TempDir dir;  // each run its own: test runs of other builds may run at the same time
    const std::string shot = dir.file("shot.png"), log = dir.file("shot.txt");
    ASSERT_EQ(runShell("env -u DISPLAY " + std::string(kTool) + " info --plugin " + KORVO_TEST_MODULE_BUNDLE +
                       " --editor-shot " + shot + " > " + log + " 2>&1"),
              0);
    std::FILE* file = std::fopen(shot.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    unsigned char header[24] = {};
    EXPECT_EQ(std::fread(header, 1, sizeof(header), file), sizeof(header));
    std::fclose(file);
    EXPECT_EQ(header[1], 'P');
    EXPECT_EQ(header[2], 'N');
    // Width and height in the IHDR chunk, big-endian: the test editor's 240 x 120.
    EXPECT_EQ((header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19], 240);
    EXPECT_EQ((header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23], 120);

    // The product's editor: the real window's picture is the one `screenshot --editor` renders
    // off-screen, apart from the subtitle, which each opening chooses for itself.
    const std::string offscreen = dir.file("offscreen.png");
    std::remove(shot.c_str());
    ASSERT_EQ(runShell("env -u DISPLAY " + std::string(kTool) + " info --plugin " + VELMORA_BUNDLE_PATH +
                       " --editor-shot " + shot + " > " + log + " 2>&1"),
              0);
    ASSERT_EQ(runShell(std::string(kTool) + " screenshot --editor " + offscreen + " > " + log + " 2>&1"), 0);
    const korvo::DecodedImage real = korvo::test::readPNG(shot), headless = korvo::test::readPNG(offscreen);
    ASSERT_EQ(real.w, 763);
    ASSERT_EQ(real.h, 494);
    ASSERT_EQ(headless.w, 763);
    ASSERT_EQ(headless.h, 494);
    const korvo::IntRect subtitle{{516, 34}, {711, 47}};
    const korvo::test::PictureDifference d = korvo::test::comparePictures(
        korvo::test::pixelsOf(real), korvo::test::pixelsOf(headless), korvo::test::Channels::colour,
        korvo::IntRect{{0, 0}, {763, 494}}, subtitle);
    EXPECT_EQ(d.differing, 0) << "first at " << d.firstX << "," << d.firstY;
#else
    GTEST_SKIP() << "the plug-in bundles are not part of this build";
#endif
}

}  // namespace
}  // namespace velmora::cli
