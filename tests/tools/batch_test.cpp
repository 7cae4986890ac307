// `velmora render INPUT... --out-dir DIR`: every file rendered as a single render would render it,
// a failing file reported without losing the others, request-level refusals before anything is
// written, and the progress line's timing.
#include "tools/velmora/batch.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/audio_helpers.h"
#include "tools/velmora/cli.h"

namespace velmora::cli {
namespace {

using test::Audio;
using test::TempDir;

struct Outcome {
    int code;
    std::string err;
};

Outcome runTool(std::vector<std::string> args) {
    args.insert(args.begin(), "render");
    std::ostringstream out, err;
    const int code = run(args, Environment{}, out, err);
    return {code, err.str()};
}

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_TRUE(
            test::writeAudio(dir.file("voice.wav"), test::monoAudio(test::noise(9000, 0.5f, 3), 48000)));
        ASSERT_TRUE(
            test::writeAudio(dir.file("pad.flac"),
                             test::stereoAudio(test::noise(7000, 0.3f, 4), test::noise(7000, 0.3f, 5), 44100),
                             SF_FORMAT_FLAC | SF_FORMAT_PCM_24));
        // A type that is read but not written: its output becomes drums.wav.
        ASSERT_TRUE(test::writeAudio(dir.file("drums.caf"),
                                     test::monoAudio(test::noise(5000, 0.8f, 6), 96000),
                                     SF_FORMAT_CAF | SF_FORMAT_FLOAT));
        std::ofstream(dir.file("broken.wav")) << "not audio";
    }

    // The output a single render of `input` with the same options gives.
    Audio single(const std::string& input, const std::string& name, std::vector<std::string> options) {
        options.insert(options.begin(), {input, dir.file("single-" + name)});
        const Outcome o = runTool(options);
        EXPECT_EQ(o.code, 0) << o.err;
        return test::readAudio(dir.file("single-" + name));
    }

    TempDir dir;
    std::string out = dir.file("out");
};

TEST_F(Batch, EveryGoodFileIsRenderedAsAloneAndTheBadOneIsReported) {
    const std::vector<std::string> options = {"--preset", "Far-Left", "--set", "Tilt=2", "--block", "333"};
    std::vector<std::string> args = {dir.file("voice.wav"),
                                     dir.file("broken.wav"),
                                     dir.file("pad.flac"),
                                     dir.file("drums.caf"),
                                     "--out-dir",
                                     out,
                                     "--jobs",
                                     "3"};
    args.insert(args.end(), options.begin(), options.end());
    const Outcome o = runTool(args);
    EXPECT_EQ(o.code, 2);  // the broken file's code
    EXPECT_NE(o.err.find("velmora render: cannot read \"" + dir.file("broken.wav") + "\""), std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("velmora render: 1 of 4 files failed\n"), std::string::npos) << o.err;

    std::vector<std::string> written;
    for (const auto& e : std::filesystem::directory_iterator(out)) written.push_back(e.path().filename());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"drums.wav", "pad.flac", "voice.wav"}));

    // Bit for bit what a render of that file alone writes (FLAC stays 24-bit integer).
    const Audio voice = test::readAudio(out + "/voice.wav");
    EXPECT_EQ(voice.samples, single(dir.file("voice.wav"), "voice.wav", options).samples);
    const Audio pad = test::readAudio(out + "/pad.flac");
    EXPECT_EQ(pad.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(pad.sampleRate, 44100);
    EXPECT_EQ(pad.samples, single(dir.file("pad.flac"), "pad.flac", options).samples);
    const Audio drums = test::readAudio(out + "/drums.wav");
    EXPECT_EQ(drums.sampleRate, 96000);
    EXPECT_EQ(drums.samples, single(dir.file("drums.caf"), "drums.wav", options).samples);
    EXPECT_GT(drums.frames(), 5000);
}

TEST_F(Batch, AllGoodFilesExitZeroQuietly) {
    const Outcome o = runTool({dir.file("voice.wav"), dir.file("pad.flac"), "--out-dir", out});
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(std::filesystem::exists(out + "/voice.wav"));
    EXPECT_TRUE(std::filesystem::exists(out + "/pad.flac"));
}

TEST_F(Batch, FileLevelFormatRefusalKeepsTheOthers) {
    // float cannot go into the FLAC output; the WAV output takes it.
    const Outcome o =
        runTool({dir.file("pad.flac"), dir.file("voice.wav"), "--out-dir", out, "--format", "float"});
    EXPECT_EQ(o.code, 2);
    EXPECT_NE(o.err.find("FLAC holds no float samples"), std::string::npos) << o.err;
    EXPECT_FALSE(std::filesystem::exists(out + "/pad.flac"));
    EXPECT_EQ(test::readAudio(out + "/voice.wav").format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
}

TEST_F(Batch, RequestLevelRefusalsWriteNothing) {
    std::filesystem::create_directory(dir.file("other"));
    ASSERT_TRUE(
        test::writeAudio(dir.file("other/voice.wav"), test::monoAudio(test::noise(100, 0.1f), 48000)));
    struct Case {
        std::vector<std::string> args;
        std::string fragment;
    };
    const Case cases[] = {
        {{"--out-dir", out}, "missing INPUT files"},
        {{dir.file("voice.wav"), dir.file("other/voice.wav"), "--out-dir", out}, "would both be written to"},
        {{dir.file("voice.wav"), "--out-dir", dir.path()}, "would replace the input"},
        {{dir.file("voice.wav"), "--out-dir", dir.file("voice.wav")}, "cannot make the output folder"},
        {{dir.file("voice.wav"), "--out-dir", out, "--rate", "44100"}, "own rate"},
        {{dir.file("voice.wav"), "--out-dir", out, "--jobs", "0"}, "1 to 256"},
        {{dir.file("voice.wav"), dir.file("x.wav"), "--jobs", "2"}, "--jobs applies to a batch"},
        {{dir.file("voice.wav"), "--out-dir"}, "--out-dir needs a value"},
    };
    for (const Case& c : cases) {
        const Outcome o = runTool(c.args);
        SCOPED_TRACE(o.err);
        EXPECT_EQ(o.code, 2);
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1);
        EXPECT_NE(o.err.find(c.fragment), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(out + "/voice.wav"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.wav")));
}

TEST(BatchProgress, AppearsAfterTwoSecondsAndOnlyWhenItChanges) {
    BatchProgress p;
    EXPECT_EQ(p.update(0.5, 10, 100, 0, 4), "");
    EXPECT_EQ(p.update(1.99, 50, 100, 1, 4), "");
    EXPECT_FALSE(p.shown());
    EXPECT_EQ(p.update(2.0, 50, 100, 1, 4), "velmora render: 1 of 4 files, 50%");
    EXPECT_EQ(p.update(2.2, 50, 100, 1, 4), "");  // unchanged: nothing to redraw
    EXPECT_EQ(p.text(), "velmora render: 1 of 4 files, 50%");
    EXPECT_EQ(p.update(2.4, 100, 100, 2, 4), "velmora render: 2 of 4 files, 100%");
    // Headers may understate the length: the share never passes 100 %; unknown totals read 0 %.
    EXPECT_EQ(p.update(3.0, 150, 100, 3, 4), "velmora render: 3 of 4 files, 100%");
    EXPECT_EQ(p.update(3.5, 150, 0, 4, 4), "velmora render: 4 of 4 files, 0%");
}

}  // namespace
}  // namespace velmora::cli
