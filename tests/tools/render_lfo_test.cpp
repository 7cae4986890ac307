// `velmora render --set "LFO > Pan=100"`: the built tool auto-pans a mono source, in time with the
// song (default "8/4" at the bounce's 120 BPM: one sweep every 4 s).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/tools/audio_helpers.h"

namespace velmora::cli {
namespace {

using test::Audio;

#ifdef VELMORA_TOOL_PATH
constexpr const char* kToolPath = VELMORA_TOOL_PATH;
#else
constexpr const char* kToolPath = "";
#endif

int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Left-minus-right level in dB of each 100 ms window.
std::vector<double> balancePerWindow(const Audio& out) {
    std::vector<double> balance;
    const std::int64_t window = 4800;
    for (std::int64_t from = 0; from + window <= out.frames(); from += window) {
        double left = 0, right = 0;
        for (std::int64_t i = from; i < from + window; ++i) {
            left += double(out.at(i, 0)) * out.at(i, 0);
            right += double(out.at(i, 1)) * out.at(i, 1);
        }
        balance.push_back(10.0 * std::log10(left / right));
    }
    return balance;
}

TEST(RenderLfo, PanDepthAutoPansAcrossTheField) {
    ASSERT_STRNE(kToolPath, "");
    test::TempDir dir;
    ASSERT_TRUE(
        test::writeAudio(dir.file("noise.wav"), test::monoAudio(test::noise(4 * 48000, 0.25f, 9), 48000)));
    const std::string command = std::string("'") + kToolPath + "' render '" + dir.file("noise.wav") + "' '" +
                                dir.file("panned.wav") + "' --set 'LFO > Pan=100' 2>/dev/null";
    ASSERT_EQ(runCommand(command), 0);
    const Audio out = test::readAudio(dir.file("panned.wav"));
    ASSERT_EQ(out.channels, 2);
    const std::vector<double> balance = balancePerWindow(out);
    ASSERT_GE(balance.size(), 40u);

    // The level moves from one side to the other and back: a swing of well over 20 dB.
    const auto [low, high] = std::minmax_element(balance.begin(), balance.begin() + 40);
    EXPECT_LT(*low, -10.0);
    EXPECT_GT(*high, 10.0);
    // Centred at the start, right after a quarter of the cycle (1 s), centred at 2 s, left at 3 s.
    EXPECT_NEAR(balance[0], 0.0, 3.0);
    EXPECT_LT(balance[10], -10.0);
    EXPECT_NEAR(balance[20], 0.0, 3.0);
    EXPECT_GT(balance[30], 10.0);
}

}  // namespace
}  // namespace velmora::cli
