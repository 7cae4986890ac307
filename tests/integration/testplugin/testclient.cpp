#include "tests/integration/testplugin/testclient.h"

#include <cstdio>
#include <limits>
#include <string>

#include "korvo/core/fpcontrol.h"
#include "tests/integration/testplugin/testeditor.h"

namespace vst3test {

using namespace korvo;

std::int32_t TestGainClient::latencySamples(double) noexcept {
    return (FPControl::readMXCSR() & 0x8040u) == 0x8040u ? 2 : 3;
}

void TestGainClient::reset(double, std::int32_t maxFrames, std::int32_t, std::int32_t) noexcept {
    maxFrames_ = maxFrames;
    for (auto& channel : history_) channel[0] = channel[1] = 0.0f;
}

void TestGainClient::processAudio(const float* const* inputs, std::int32_t numInputs, float* const* outputs,
                                  std::int32_t numOutputs, std::int32_t frames, HostTiming) noexcept {
    if (frames > maxFrames_ || maxFrames_ <= 0) {
        for (std::int32_t c = 0; c < numOutputs; ++c)
            for (std::int32_t i = 0; i < frames; ++i) outputs[c][i] = std::numeric_limits<float>::quiet_NaN();
        return;
    }
    const float level =
        static_cast<float>(static_cast<const LinearFloatParameter&>(parameter(kLevel)).value());
    const std::int32_t mode = static_cast<const EnumParameter&>(parameter(kMode)).value();
    const bool invert = static_cast<const BoolParameter&>(parameter(kInvert)).value();
    const float gain = (mode == 2 ? 0.0f : level) * (invert ? -1.0f : 1.0f);
    for (std::int32_t c = 0; c < numOutputs && c < 2; ++c) {
        std::int32_t source = mode == 1 ? 1 - c : c;
        if (source >= numInputs) source = numInputs - 1;
        float* out = outputs[c];
        float* h = history_[c];
        for (std::int32_t i = 0; i < frames; ++i) {
            const float x = source >= 0 ? inputs[source][i] : 0.0f;
            out[i] = h[0] * gain;
            h[0] = h[1];
            h[1] = x;
        }
    }
}

ParameterList TestGainClient::buildParameters() {
    ParameterList list;
    list.push_back(makeHeap<LinearFloatParameter>(kLevel, "Level", "x", 0.0, 2.0, 1.0));
    list.push_back(makeHeap<EnumParameter>(
        kMode, "Mode", std::initializer_list<std::string_view>{"Plain", "Swap", "Mute"}, 0));
    list.push_back(makeHeap<BoolParameter>(kInvert, "Invert", false));
    return list;
}

PresetList TestGainClient::buildPresets() {
    PresetList presets;
    presets.push_back(buildDefaultPreset(*this));
    for (int i = 1; i < kTestPresetCount; ++i) {
        // Level i / 31 of its range; preset 7 holds only the level (the rest take their defaults).
        const float level = static_cast<float>(i) / 31.0f;
        if (i == 7)
            presets.push_back(Preset("Preset 7", {level}));
        else
            presets.push_back(Preset("Preset " + std::to_string(i), {level, 0.0f, 0.0f}));
    }
    return presets;
}

PluginDescription TestGainClient::buildDescription() {
    PluginDescription d;
    d.vendorName = "Korvo Test";
    d.vendorUniqueID = "Krvo";
    d.pluginName = "Test Gain";
    d.pluginUniqueID = "tGn1";
    d.versionMajor = 1;
    d.versionMinor = 4;
    d.versionPatch = 0;
    d.hasGUI = true;
    d.category = 5;
    char homepage[64];
    std::snprintf(homepage, sizeof(homepage), "https://example.invalid/mxcsr/%04X",
                  static_cast<unsigned>(FPControl::readMXCSR() & 0xFFC0u));
    d.pluginHomepage = homepage;
    return d;
}

HeapPtr<IGraphics> TestGainClient::createGraphics() {
    return HeapPtr<IGraphics>(heapNew<TestEditor>(*this));
}

Vec<ChannelConfig> TestGainClient::buildChannelConfigs() {
    Vec<ChannelConfig> configs;
    configs.push(ChannelConfig{1, 2});
    configs.push(ChannelConfig{2, 2});
    return configs;
}

}  // namespace vst3test
