#pragma once
// TestGainClient: a small client with exactly known processing, built into its own VST3 module
// (TestGain.vst3) so the adapter's behaviour can be checked through the real binary interface.
//
// It mirrors the effect's outward shape (mono or stereo in, stereo out, 32 presets, a 512-frame
// block limit, 2 samples of latency, 0.2 s of tail, category "Fx|Spatial", version 1.4.0) with a
// trivial signal path: every output channel is its input channel (the last input for extra
// outputs) delayed by 2 samples and scaled by "Level"; "Mode" Swap exchanges left and right, Mute
// gives silence. reset clears the delay, so a reset is audible as two zero samples.
//
// The description's homepage reports the SSE control register (MXCSR) in effect while the factory
// was built, e.g. "https://example.invalid/mxcsr/9FFF".
//
// Its editor is TestEditor (testeditor.h): a slider for "Level" and a switch for "Invert".
//
// Traps: a processAudio call longer than the frames given to reset, or before any reset, writes
// NaN to every output so the tests see it.

#include <cstdint>

#include "korvo/client/client.h"

namespace vst3test {

enum TestParam : std::int32_t { kLevel = 0, kMode = 1, kInvert = 2, kTestParamCount = 3 };
inline constexpr std::int32_t kTestPresetCount = 32;

class TestGainClient : public korvo::Client {
public:
    TestGainClient() { initialize(); }

    void reset(double sampleRate, std::int32_t maxFrames, std::int32_t numInputs,
               std::int32_t numOutputs) noexcept override;
    // 2 under the plug-in's floating-point setting (flush-to-zero and denormals-are-zero on), 3
    // without it, so tests can see whether the host entry put the guard up.
    std::int32_t latencySamples(double) noexcept override;
    float tailSizeInSeconds() noexcept override { return 0.2f; }
    std::int32_t maxFramesInProcess() noexcept override { return 512; }
    void processAudio(const float* const* inputs, std::int32_t numInputs, float* const* outputs,
                      std::int32_t numOutputs, std::int32_t frames,
                      korvo::HostTiming timing) noexcept override;
    korvo::ParameterList buildParameters() override;
    korvo::PresetList buildPresets() override;
    korvo::PluginDescription buildDescription() override;
    korvo::Vec<korvo::ChannelConfig> buildChannelConfigs() override;
    korvo::HeapPtr<korvo::IGraphics> createGraphics() override;

private:
    std::int32_t maxFrames_ = 0;
    float history_[2][2] = {};
};

}  // namespace vst3test
