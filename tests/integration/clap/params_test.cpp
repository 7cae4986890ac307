// Parameters through the params extension: the list, values, texts both ways, and that Velmora's
// list is the VST3 build's (same IDs, order, names, ranges, defaults and texts).
#include <cmath>
#include <cstring>

#include "tests/integration/clap/clapfixture.h"
#include "tests/integration/testplugin/testclient.h"

namespace clapit {
namespace {

using vst3test::kInvert;
using vst3test::kLevel;
using vst3test::kMode;
namespace v = korvo::vst3;

c::ParamInfo infoAt(Instance& instance, std::uint32_t index) {
    c::ParamInfo info{};
    EXPECT_TRUE(instance.params->getInfo(instance.plugin, index, &info)) << index;
    return info;
}

TEST(ClapParams, TheListPutsBypassAndPresetFirstWithTheirOwnRanges) {
    LoadedClap clap(testClapPath());
    ASSERT_TRUE(clap.loaded());
    Host host;
    auto instance = clap.instance(host);
    ASSERT_EQ(instance->params->count(instance->plugin), 5u);
    struct Expected {
        c::ClapId id;
        const char* name;
        std::uint32_t flags;
        double min, max, def;
    };
    const std::uint32_t automatable = c::kParamIsAutomatable, choice = c::kParamIsStepped | c::kParamIsEnum;
    const Expected expected[] = {
        {kBypass, "Bypass", choice | c::kParamIsBypass | automatable, 0, 1, 0},
        {kProgram, "Preset", choice, 0, 31, 0},     // a program change, as in VST3: not automated
        {kLevel, "Level", automatable, 0, 1, 0.5},  // continuous: the normalized value
        {kMode, "Mode", choice | automatable, 0, 2, 0},
        {kInvert, "Invert", choice | automatable, 0, 1, 0},
    };
    for (std::uint32_t i = 0; i < 5; ++i) {
        const c::ParamInfo info = infoAt(*instance, i);
        EXPECT_EQ(info.id, expected[i].id) << i;
        EXPECT_STREQ(info.name, expected[i].name);
        EXPECT_EQ(info.flags, expected[i].flags) << i;
        EXPECT_EQ(info.minValue, expected[i].min) << i;
        EXPECT_EQ(info.maxValue, expected[i].max) << i;
        EXPECT_EQ(info.defaultValue, expected[i].def) << i;
        EXPECT_STREQ(info.module, "");
        EXPECT_EQ(instance->value(info.id), info.defaultValue) << i;
    }
    c::ParamInfo info{};
    EXPECT_FALSE(instance->params->getInfo(instance->plugin, 5, &info));
    EXPECT_FALSE(instance->params->getInfo(instance->plugin, 0, nullptr));
    double v = 0.0;
    EXPECT_FALSE(instance->params->getValue(instance->plugin, 3, &v));
    EXPECT_FALSE(instance->params->getValue(instance->plugin, kLevel, nullptr));
}

TEST(ClapParams, TextsGoBothWaysWithTheirUnits) {
    LoadedClap clap(testClapPath());
    ASSERT_TRUE(clap.loaded());
    Host host;
    auto instance = clap.instance(host);
    EXPECT_EQ(instance->valueText(kLevel, 0.25), "0.50 x");
    EXPECT_EQ(instance->valueText(kMode, 1), "Swap");
    EXPECT_EQ(instance->valueText(kMode, 2.7), "Mute");  // stepped values are truncated
    EXPECT_EQ(instance->valueText(kInvert, 1), "yes");
    EXPECT_EQ(instance->valueText(kBypass, 1), "Yes");
    EXPECT_EQ(instance->valueText(kBypass, 0.6), "No");
    EXPECT_EQ(instance->valueText(kProgram, 7), "Preset 7");
    EXPECT_EQ(instance->valueText(kProgram, 99), "Preset 31");  // held in range
    EXPECT_EQ(instance->valueText(3, 0), "<error>");
    EXPECT_EQ(instance->valueText(kLevel, std::nan("")), "<error>");
    char small[4];
    EXPECT_TRUE(instance->params->valueToText(instance->plugin, kLevel, 0.25, small, sizeof(small)));
    EXPECT_STREQ(small, "0.5");
    EXPECT_FALSE(instance->params->valueToText(instance->plugin, kLevel, 0.25, small, 1));
    EXPECT_FALSE(instance->params->valueToText(instance->plugin, kLevel, 0.25, nullptr, 64));

    auto parse = [&](c::ClapId id, const char* text) {
        double value = -1.0;
        return instance->params->textToValue(instance->plugin, id, text, &value) ? value : -1.0;
    };
    EXPECT_DOUBLE_EQ(parse(kLevel, "0.50 x"), 0.25);
    EXPECT_DOUBLE_EQ(parse(kLevel, "1.5"), 0.75);
    EXPECT_EQ(parse(kMode, "Mute"), 2.0);
    EXPECT_EQ(parse(kMode, "mute"), -1.0);
    EXPECT_EQ(parse(kInvert, "yes"), 1.0);
    EXPECT_EQ(parse(kBypass, "Yes"), 1.0);
    EXPECT_EQ(parse(kBypass, "maybe"), -1.0);
    EXPECT_EQ(parse(kProgram, "Preset 12"), 12.0);
    EXPECT_EQ(parse(kProgram, "Preset 99"), -1.0);
    EXPECT_EQ(parse(3, "1"), -1.0);
    double value = 0.0;
    EXPECT_FALSE(instance->params->textToValue(instance->plugin, kLevel, nullptr, &value));
    EXPECT_FALSE(instance->params->textToValue(instance->plugin, kLevel, "1", nullptr));
}

// The product's list is the VST3 build's: the same IDs in the same order, the VST3 titles, the
// same hidden parameters, a stepped range of the VST3 step count, the same defaults, and texts
// that are the VST3 texts with the unit after them.
TEST(ClapParams, VelmorasListIsTheVst3BuildsList) {
    LoadedClap clap(velmoraClapPath());
    ASSERT_TRUE(clap.loaded());
    Host host;
    auto instance = clap.instance(host);
    vst3it::LoadedModule vst3(vst3it::velmoraBundlePath());
    ASSERT_TRUE(vst3.loaded());
    vst3host::HostApplication vst3Host;
    auto plugin = vst3.instance(&vst3Host);
    const auto count = static_cast<std::uint32_t>(plugin->controller->getParameterCount());
    ASSERT_EQ(count, 44u);
    ASSERT_EQ(instance->params->count(instance->plugin), count);
    int hidden = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        v::ParameterInfo vi{};
        ASSERT_EQ(plugin->controller->getParameterInfo(static_cast<v::int32>(i), vi), v::kResultOk);
        const c::ParamInfo ci = infoAt(*instance, i);
        ASSERT_EQ(ci.id, vi.id) << i;
        EXPECT_EQ(std::string(ci.name), vst3host::narrow(vi.title)) << i;
        const bool vst3Hidden = (vi.flags & v::kIsHidden) != 0;
        EXPECT_EQ((ci.flags & c::kParamIsHidden) != 0, vst3Hidden) << ci.name;
        EXPECT_EQ((ci.flags & c::kParamIsAutomatable) != 0, (vi.flags & v::kCanAutomate) != 0) << ci.name;
        hidden += vst3Hidden;
        const bool stepped = (ci.flags & c::kParamIsStepped) != 0;
        EXPECT_EQ(stepped, vi.stepCount > 0) << ci.name;
        if (stepped) {
            EXPECT_EQ(ci.maxValue - ci.minValue, vi.stepCount) << ci.name;
        }
        // A VST3 normalized value and the plain value it stands for here.
        auto plain = [&](double normalized) {
            if (!stepped) return normalized;
            return ci.minValue + std::floor(normalized * (ci.maxValue - ci.minValue) + 0.5);
        };
        EXPECT_EQ(ci.defaultValue, plain(vi.defaultNormalizedValue)) << ci.name;
        const std::string units = vst3host::toUtf8(vi.units);
        auto vst3Text = [&](double normalized) {
            v::String128 text = {};
            EXPECT_EQ(plugin->controller->getParamStringByValue(vi.id, normalized, text), v::kResultOk);
            return vst3host::toUtf8(text);
        };
        for (double normalized : {0.0, 0.3, 0.5, 1.0}) {
            // The VST3 program's normalized value for preset k is k / 31.
            std::string wanted = vst3Text(vi.id == kProgram ? plain(normalized) / 31.0 : normalized);
            if (!units.empty()) wanted += " " + units;
            EXPECT_EQ(instance->valueText(ci.id, plain(normalized)), wanted)
                << ci.name << " at " << normalized;
        }
    }
    EXPECT_EQ(hidden, 20);
    // A multi-byte unit is never cut in half: "Pan" shows degrees.
    char text[9];
    ASSERT_TRUE(instance->params->valueToText(instance->plugin, 6, 1.0, text, 8));
    EXPECT_STREQ(text, "90.00 ");
    ASSERT_TRUE(instance->params->valueToText(instance->plugin, 6, 1.0, text, 9));
    EXPECT_STREQ(text, "90.00 \xC2\xB0");
}

}  // namespace
}  // namespace clapit
