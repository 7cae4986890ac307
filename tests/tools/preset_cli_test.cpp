// Preset files on the command line: exported, described, rendered with, and refused when bad.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "korvo/client/presetfile.h"
#include "tests/tools/audio_helpers.h"
#include "tools/velmora/cli.h"

namespace velmora::cli {
namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome tool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = run(args, Environment{}, out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::uint8_t> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class PresetCommands : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.path().empty()); }
    test::TempDir dir;
};

TEST_F(PresetCommands, AnExportedPresetRendersAsThePresetItCameFrom) {
    const std::string file = dir.file("far.vstpreset");
    const Outcome exported = tool({"preset", "export", "Far-Left", file, "--set", "Pan=-45", "--set", "Tilt=2"});
    ASSERT_EQ(exported.code, 0) << exported.err;
    const std::vector<std::uint8_t> bytes = bytesOf(file);
    ASSERT_GT(bytes.size(), 48u);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 40), "0B20BA920CE0B1457972735437317640");

    // Read back and written again: the same bytes.
    const std::string again = dir.file("again.vstpreset");
    ASSERT_EQ(tool({"preset", "export", file, again}).code, 0);
    EXPECT_EQ(bytesOf(again), bytes);

    const Outcome info = tool({"info", "--preset", file});
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("preset 7 \"Far-Left\""), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Pan = -45.00"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Tilt = 2.00 dB"), std::string::npos) << info.out;

    const std::string input = dir.file("in.wav");
    ASSERT_TRUE(test::writeAudio(input, test::monoAudio(test::noise(9600, 0.5f), 48000)));
    ASSERT_EQ(tool({"render", input, dir.file("a.wav"), "--preset", file}).code, 0);
    ASSERT_EQ(tool({"render", input, dir.file("b.wav"), "--preset", "Far-Left", "--set", "Pan=-45", "--set",
                    "Tilt=2"})
                  .code,
              0);
    const test::Audio a = test::readAudio(dir.file("a.wav")), b = test::readAudio(dir.file("b.wav"));
    ASSERT_GT(a.frames(), 9600);
    EXPECT_EQ(a.samples, b.samples);
}

TEST_F(PresetCommands, BadFilesAndArgumentsExitTwoAndWriteNothing) {
    const std::string good = dir.file("good.vstpreset");
    ASSERT_EQ(tool({"preset", "export", "0", good}).code, 0);
    std::vector<std::uint8_t> bytes = bytesOf(good);
    const auto write = [&](const std::string& name, const std::vector<std::uint8_t>& content) {
        std::ofstream(dir.file(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        return dir.file(name);
    };
    std::vector<std::uint8_t> foreign = bytes;
    foreign[20] = 'F';
    const std::string cut = write("cut.vstpreset", {bytes.begin(), bytes.begin() + 60});
    const std::string other = write("other.vstpreset", foreign);
    const std::string input = dir.file("in.wav");
    ASSERT_TRUE(test::writeAudio(input, test::monoAudio(test::noise(480, 0.5f), 48000)));
    for (const auto& [file, message] :
         std::vector<std::pair<std::string, const char*>>{{cut, korvo::kPresetFileDamaged},
                                                          {other, korvo::kPresetFileForeign},
                                                          {dir.file("missing.vstpreset"), "cannot open"}}) {
        const Outcome info = tool({"info", "--preset", file});
        EXPECT_EQ(info.code, 2);
        EXPECT_NE(info.err.find(message), std::string::npos) << info.err;
        const Outcome render = tool({"render", input, dir.file("out.wav"), "--preset", file});
        EXPECT_EQ(render.code, 2);
        EXPECT_NE(render.err.find(message), std::string::npos) << render.err;
        const Outcome exported = tool({"preset", "export", file, dir.file("out.vstpreset")});
        EXPECT_EQ(exported.code, 2);
    }
    EXPECT_EQ(tool({"preset", "export", "No Such Preset", dir.file("out.vstpreset")}).code, 2);
    EXPECT_EQ(tool({"preset", "export", "0", dir.file("out.wav")}).code, 2);
    EXPECT_EQ(tool({"preset", "export", "0", dir.file("out.vstpreset"), "--set", "Pan=500"}).code, 2);
    EXPECT_EQ(tool({"preset", "import"}).code, 2);
    EXPECT_EQ(tool({"preset", "export", "0", dir.file("no folder/out.vstpreset")}).code, 1);
    std::vector<std::string> names = dir.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"cut.vstpreset", "good.vstpreset", "in.wav", "other.vstpreset"}));
}

}  // namespace
}  // namespace velmora::cli
