// Argument handling of `velmora`: every refused request gives exit code 2, exactly one line on
// stderr naming the problem and the valid choices, and writes no file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/audio_helpers.h"
#include "tools/velmora/cli.h"

namespace velmora::cli {
namespace {

using test::TempDir;

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

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class RenderArguments : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_TRUE(test::writeAudio(input, test::monoAudio(test::noise(4800, 0.5f), 48000)));
    }

    // Runs a render expected to be refused and checks the common contract: exit code 2, one line
    // that contains every fragment, no output and no temporary left behind.
    void expectRefused(std::vector<std::string> args, const std::vector<std::string>& fragments) {
        args.insert(args.begin(), "render");
        const Outcome o = runTool(args);
        SCOPED_TRACE(o.err);
        EXPECT_EQ(o.code, 2);
        EXPECT_EQ(lineCount(o.err), 1);
        EXPECT_EQ(o.err.rfind("velmora render: ", 0), 0u);
        for (const std::string& f : fragments) EXPECT_NE(o.err.find(f), std::string::npos) << f;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.wav"});
    }

    TempDir dir;
    std::string input = dir.file("in.wav");
    std::string output = dir.file("out.wav");
};

TEST_F(RenderArguments, UnknownParameterNamesTheParameters) {
    expectRefused({input, output, "--set", "Panorama=10"},
                  {"\"Panorama\"", "\"Pan\"", "\"Dry / Wet\"", "\"Reserved #20\""});
    expectRefused({input, output, "--set", "Pan"}, {"NAME=VALUE", "\"Pan\""});
}

TEST_F(RenderArguments, ValueTheParameterCannotParseNamesItsValues) {
    expectRefused({input, output, "--set", "LFO Wave=sawtooth"}, {"\"sawtooth\"", "\"saw\"", "\"random\""});
    expectRefused({input, output, "--set", "Test Mono=true"}, {"\"true\"", "\"yes\" or \"no\""});
    expectRefused({input, output, "--set", "Pan=left"}, {"\"left\"", "-90 to 90"});
    expectRefused({input, output, "--set", "Reserved #0=x"}, {"whole number from 0 to 16"});
}

TEST_F(RenderArguments, NumbersOutsideTheRangeAreRefusedNotClamped) {
    expectRefused({input, output, "--set", "Pan=200"}, {"\"200\"", "-90 to 90"});
    expectRefused({input, output, "--set", "Output Level=19"}, {"-inf to 18 dB"});
    expectRefused({input, output, "--set", "Distance=nan"}, {"-24 to 6"});
    expectRefused({input, output, "--set", "Reserved #18=0"}, {"from 1 to 12"});
}

TEST_F(RenderArguments, UnknownPresetNamesThePresets) {
    expectRefused({input, output, "--preset", "Far Left"}, {"\"Far Left\"", "\"Far-Left\"", "0 to 31"});
    expectRefused({input, output, "--preset", "32"}, {"\"32\"", "\"Right Brain\""});
    // Names match exactly: the trailing space of "Right 25% " belongs to the name.
    expectRefused({input, output, "--preset", "Right 25%"}, {"\"Right 25% \""});
}

TEST_F(RenderArguments, BadInputFile) {
    expectRefused({dir.file("missing.wav"), output}, {"missing.wav"});
    std::ofstream(dir.file("text.wav")) << "this is not audio\n";
    const Outcome o = runTool({"render", dir.file("text.wav"), output});
    EXPECT_EQ(o.code, 2);
    EXPECT_EQ(lineCount(o.err), 1);
    EXPECT_NE(o.err.find("text.wav"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(RenderArguments, InputWithMoreThanTwoChannels) {
    test::Audio quad;
    quad.channels = 4;
    quad.sampleRate = 48000;
    quad.samples.assign(400, 0.1f);
    ASSERT_TRUE(test::writeAudio(dir.file("quad.wav"), quad));
    const Outcome o = runTool({"render", dir.file("quad.wav"), output});
    EXPECT_EQ(o.code, 2);
    EXPECT_EQ(lineCount(o.err), 1);
    EXPECT_NE(o.err.find("4 channels"), std::string::npos);
    EXPECT_NE(o.err.find("mono (1) or stereo (2)"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(RenderArguments, BadOptions) {
    expectRefused({input, output, "--block", "0"}, {"\"0\"", "1 to 65536"});
    expectRefused({input, output, "--block", "7.5"}, {"1 to 65536"});
    expectRefused({input, output, "--block"}, {"--block needs a value"});
    expectRefused({input, output, "--format", "pcm32"}, {"\"pcm32\"", "float, pcm24, pcm16"});
    expectRefused({input, output, "--rate", "44100"}, {"--rate", "own rate"});
    expectRefused({output, "--rate", "100"}, {"8000 to 384000"});
    expectRefused({input, output, "--gain", "3"}, {"\"--gain\"", "--preset", "--compensate-latency"});
    expectRefused({}, {"missing OUTPUT"});
    expectRefused({input, output, dir.file("third.wav")}, {"too many"});
    expectRefused({input, dir.file("out.ogg")}, {"out.ogg", ".wav, .flac, .aiff"});
    expectRefused({input, dir.file("out.flac"), "--format", "float"}, {"pcm24, pcm16"});
    expectRefused({input, input}, {"same file"});
    expectRefused({input, dir.file("missing-folder/out.wav")}, {"cannot write", "missing-folder/out.wav"});
}

TEST_F(RenderArguments, RefusedRenderLeavesAnExistingOutputAlone) {
    std::ofstream(output) << "keep";
    const Outcome o = runTool({"render", input, output, "--preset", "nope"});
    EXPECT_EQ(o.code, 2);
    std::ifstream in(output);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "keep");
}

TEST_F(RenderArguments, AcceptedOptionFormsWriteOneFile) {
    const Outcome o = runTool({"render", "--block=64", input, "--format", "pcm16", output, "--preset=1"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.err, "");
    std::vector<std::string> entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"in.wav", "out.wav"}));
}

TEST(VelmoraCommand, UnknownCommandIsNotAvailableYetWithUsage) {
    const Outcome o = runTool({"frobnicate", "x.png"});
    EXPECT_EQ(o.code, 2);
    EXPECT_NE(o.err.find("\"frobnicate\" is not available yet"), std::string::npos);
    EXPECT_NE(o.err.find("usage: velmora"), std::string::npos);
    EXPECT_EQ(runTool({}).code, 2);
    EXPECT_EQ(runTool({"--help"}).code, 0);
    EXPECT_EQ(runTool({"info", "--xml"}).code, 2);
}

TEST(VelmoraCommand, BenchProgramIsFoundBesideTheTool) {
    EXPECT_EQ(benchmarkPath("/b/linux/tools/velmora"), "/b/linux/tools/../bench/velmora_dsp_bench");
}

TEST(VelmoraCommand, InfoListsEverythingAsTextAndJson) {
    const Outcome text = runTool({"info"});
    ASSERT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("channel configurations (in -> out): 1 -> 2, 2 -> 2"), std::string::npos);
    EXPECT_NE(text.out.find("latency: 3 samples"), std::string::npos);
    EXPECT_NE(text.out.find("tail: 0.2 s"), std::string::npos);
    EXPECT_NE(text.out.find("Output Level       gain     -inf .. 18.0"), std::string::npos);
    EXPECT_NE(text.out.find("31  \"Default\""), std::string::npos);

    const Outcome json = runTool({"info", "--json"});
    ASSERT_EQ(json.code, 0);
    const auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = json.out.find(what); at != std::string::npos; at = json.out.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("{\"index\": "), 42u + 32u);
    EXPECT_NE(json.out.find("{\"inputs\": 1, \"outputs\": 2}, {\"inputs\": 2, \"outputs\": 2}"),
              std::string::npos);
    EXPECT_NE(json.out.find("\"tailSeconds\": 0.2,"), std::string::npos);
    // Minus infinity is not a JSON number: null, with the text form beside it.
    EXPECT_NE(json.out.find("\"name\": \"Output Level\", \"type\": \"gain\", \"min\": null, \"max\": 18, "
                            "\"default\": 0, \"minText\": \"-inf\""),
              std::string::npos);
    EXPECT_NE(json.out.find("\"values\": [\"sine\", \"tri\", \"square\", \"saw\", \"random\"]"),
              std::string::npos);
    EXPECT_NE(json.out.find("{\"index\": 3, \"name\": \"Right 25% \"}"), std::string::npos);
}

}  // namespace
}  // namespace velmora::cli
