#pragma once
// A small plug-in client and host command for the client tests.

#include <array>
#include <cstdint>
#include <vector>

#include "korvo/client/client.h"

namespace korvo::test {

enum TestParam : std::int32_t { kBypass, kMode, kShape, kPan, kCutoff, kOutput, kAmount, kParamCount };

// Records what the client tells the host.
class RecordingHostCommand : public IHostCommand {
public:
    struct Event {
        char kind;  // 'b' begin, 'a' automate, 'e' end
        std::int32_t index;
        float value;
    };
    void beginParameterEdit(std::int32_t i) noexcept override { events.push_back({'b', i, 0.0f}); }
    void automateParameter(std::int32_t i, float v) noexcept override { events.push_back({'a', i, v}); }
    void endParameterEdit(std::int32_t i) noexcept override { events.push_back({'e', i, 0.0f}); }
    bool requestResize(std::int32_t, std::int32_t) noexcept override { return false; }
    HostKind hostKind() const noexcept override { return HostKind::reaper; }

    std::vector<Event> events;
};

class FakeGraphics : public IGraphics {
public:
    explicit FakeGraphics(int* destroyed) : destroyed_(destroyed) {}
    ~FakeGraphics() override { ++*destroyed_; }
    void* openUI(void* parent, void*, HostKind, WindowBackend) override {
        ++opens;
        return parent;
    }
    void closeUI() override { ++closes; }
    void getGUISize(std::int32_t* w, std::int32_t* h) override {
        *w = 763;
        *h = 494;
    }
    int opens = 0, closes = 0;

private:
    int* destroyed_;
};

class TestClient : public Client {
public:
    struct Call {
        std::int32_t frames;
        HostTiming timing;
        const float* in0;
        float* out0;
    };

    explicit TestClient(std::int32_t maxFrames = 512, bool withGUI = true,
                        std::vector<ChannelConfig> configs = {{1, 2}, {2, 2}})
        : maxFrames_(maxFrames), withGUI_(withGUI), configs_(std::move(configs)) {
        initialize();
    }

    // Records into fixed storage so processing allocates nothing.
    void processAudio(const float* const* inputs, std::int32_t numInputs, float* const* outputs,
                      std::int32_t numOutputs, std::int32_t frames, HostTiming timing) noexcept override {
        if (callCount < calls.size())
            calls[callCount] = {frames, timing, numInputs > 0 ? inputs[0] : nullptr,
                                numOutputs > 0 ? outputs[0] : nullptr};
        ++callCount;
    }
    void reset(double sampleRate, std::int32_t maxFrames, std::int32_t, std::int32_t) noexcept override {
        lastResetRate = sampleRate;
        lastResetFrames = maxFrames;
    }
    std::int32_t maxFramesInProcess() noexcept override { return maxFrames_; }
    HeapPtr<IGraphics> createGraphics() override {
        if (!withGUI_) return nullptr;
        ++graphicsCreated;
        return HeapPtr<IGraphics>(heapNew<FakeGraphics>(graphicsDestroyed));
    }

    ParameterList buildParameters() override {
        ParameterList p;
        p.push_back(makeHeap<BoolParameter>(kBypass, "Bypass", false));
        p.push_back(makeHeap<IntegerParameter>(kMode, "Mode", "", 0, 4, 2));
        p.push_back(makeHeap<EnumParameter>(
            kShape, "Shape", std::initializer_list<std::string_view>{"Sine", "Square", "Saw"}, 0));
        p.push_back(makeHeap<LinearFloatParameter>(kPan, "Pan", "", -1.0f, 1.0f, 0.2f));
        p.push_back(makeHeap<LogFloatParameter>(kCutoff, "Cutoff", "Hz", 20.0f, 20000.0f, 1000.0f));
        p.push_back(makeHeap<GainParameter>(kOutput, "Output", 6.0, 0.0));
        p.push_back(makeHeap<PowFloatParameter>(kAmount, "Amount", "%", 0.0, 100.0, 50.0, 2.0));
        return p;
    }
    // 0 "Default", 1 "Short" (two values), 2 "Full A", 3 "Full B".
    PresetList buildPresets() override {
        PresetList list;
        list.push_back(buildDefaultPreset(*this));
        list.emplace_back("Short", std::initializer_list<float>{1.0f, 0.0f});
        list.emplace_back("Full A", std::initializer_list<float>{0.0f, 0.25f, 0.5f, 0.1f, 0.2f, 0.3f, 0.4f});
        list.emplace_back("Full B", std::initializer_list<float>{1.0f, 1.0f, 1.0f, 0.9f, 0.8f, 0.7f, 0.6f});
        return list;
    }
    PluginDescription buildDescription() override {
        PluginDescription d;
        d.vendorName = "Test Vendor";
        d.vendorUniqueID = "Tsry";
        d.pluginName = "Test Plug";
        d.pluginUniqueID = "@v17";
        d.versionMajor = 1;
        d.versionMinor = 4;
        d.versionPatch = 0;
        d.hasGUI = withGUI_;
        return d;
    }
    Vec<ChannelConfig> buildChannelConfigs() override {
        Vec<ChannelConfig> v;
        for (const ChannelConfig& c : configs_) v.push(c);
        return v;
    }

    std::array<Call, 64> calls{};
    std::size_t callCount = 0;
    double lastResetRate = 0.0;
    std::int32_t lastResetFrames = -1;
    int graphicsCreated = 0;
    // Counts editor destructions; point it at a counter that outlives the client.
    int* graphicsDestroyed = &unobservedDestroyed;
    static inline int unobservedDestroyed = 0;

private:
    std::int32_t maxFrames_;
    bool withGUI_;
    std::vector<ChannelConfig> configs_;
};

}  // namespace korvo::test
