#pragma once
// Shared helpers of the widget tests: a panel that hosts widgets in a headless window, a client
// whose host command records the edits it is told about, and a launcher that records URLs.

#include <string>
#include <vector>

#include "korvo/client/client.h"
#include "korvo/client/params.h"
#include "korvo/gui/graphics.h"
#include "korvo/window/headless.h"
#include "korvo/window/shellopen.h"

namespace korvo::test {

// A flat grey panel; children keep the positions they were given.
class TestPanel final : public GUIGraphics {
public:
    static constexpr RGBA kBackground{90, 94, 98, 0};
    static constexpr std::uint16_t kBackgroundDepth = 20000;

    TestPanel(std::int32_t w, std::int32_t h) : GUIGraphics(w, h, ElementFlags::drawsPBR) {}
    void reflow(IntRect box) override { _position = box; }
    void onDrawPBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                   const Vec<IntRect>& rects) override {
        for (const IntRect& r : rects) {
            fillBox(diffuse, r, kBackground);
            fillBox(depth, r, L16{kBackgroundDepth});
            fillBox(material, r, RGBA{170, 60, 80, 255});
        }
    }
};

// Opens the panel in a headless window and draws the first frame; closes it on destruction.
class Harness {
public:
    Harness(std::int32_t w, std::int32_t h) : panel(w, h) {}
    ~Harness() { panel.closeUI(); }
    // Call after the widgets were added.
    HeadlessWindow& open() {
        panel.setWindowFactory(&HeadlessWindow::create);
        panel.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
        window = static_cast<HeadlessWindow*>(panel.window());
        window->paint();
        window->tick();
        return *window;
    }
    // The level-0 PBR layers (what the widgets drew).
    RGBA diffuseAt(std::int32_t x, std::int32_t y) const {
        return panel.diffusePyramid().level(0).view().at(x, y);
    }
    std::uint16_t depthAt(std::int32_t x, std::int32_t y) const {
        return panel.depthPyramid().level(0).view().at(x, y).l;
    }
    RGBA materialAt(std::int32_t x, std::int32_t y) const {
        return panel.materialPyramid().level(0).view().at(x, y);
    }
    // Runs n animation ticks of 15 ms.
    void ticks(int n) {
        for (int i = 0; i < n; ++i) window->tick();
    }

    TestPanel panel;
    HeadlessWindow* window = nullptr;
};

// Records begin / automate / end in order.
class EditRecorder final : public IHostCommand {
public:
    struct Edit {
        char kind;  // 'b' begin, 'p' perform (automate), 'e' end
        std::int32_t index;
        float value;
    };
    void beginParameterEdit(std::int32_t i) noexcept override { edits.push_back({'b', i, 0.0f}); }
    void automateParameter(std::int32_t i, float v) noexcept override { edits.push_back({'p', i, v}); }
    void endParameterEdit(std::int32_t i) noexcept override { edits.push_back({'e', i, 0.0f}); }
    bool requestResize(std::int32_t, std::int32_t) noexcept override { return false; }
    HostKind hostKind() const noexcept override { return HostKind::unknown; }

    // The kinds in order, e.g. "bppe".
    std::string kinds() const {
        std::string s;
        for (const Edit& e : edits) s += e.kind;
        return s;
    }
    std::vector<Edit> edits;
};

// A client with one parameter of each kind the widgets bind to.
class WidgetClient final : public Client {
public:
    enum : std::int32_t { kLinear, kLog, kSwitch, kChoice, kWave, kGain, kCount };

    WidgetClient() {
        initialize();
        setHostCommand(&recorder);
    }
    LinearFloatParameter& linear() { return static_cast<LinearFloatParameter&>(*parameters()[kLinear]); }
    LogFloatParameter& logarithmic() { return static_cast<LogFloatParameter&>(*parameters()[kLog]); }
    BoolParameter& toggle() { return static_cast<BoolParameter&>(*parameters()[kSwitch]); }
    EnumParameter& choice() { return static_cast<EnumParameter&>(*parameters()[kChoice]); }
    EnumParameter& wave() { return static_cast<EnumParameter&>(*parameters()[kWave]); }
    GainParameter& gain() { return static_cast<GainParameter&>(*parameters()[kGain]); }

    void processAudio(const float* const*, std::int32_t, float* const*, std::int32_t, std::int32_t,
                      HostTiming) noexcept override {}
    void reset(double, std::int32_t, std::int32_t, std::int32_t) noexcept override {}
    std::int32_t maxFramesInProcess() noexcept override { return 512; }
    HeapPtr<IGraphics> createGraphics() override { return nullptr; }
    ParameterList buildParameters() override {
        ParameterList p;
        p.push_back(makeHeap<LinearFloatParameter>(kLinear, "Width", "%", -100.0, 100.0, 0.0));
        p.push_back(makeHeap<LogFloatParameter>(kLog, "Cutoff", "Hz", 20.0, 20000.0, 1000.0));
        p.push_back(makeHeap<BoolParameter>(kSwitch, "Mono", false));
        p.push_back(makeHeap<EnumParameter>(
            kChoice, "Tempo",
            std::initializer_list<std::string_view>{"1/16", "1/8", "1/4", "1/2", "1/1", "2/1"}, 2));
        p.push_back(makeHeap<EnumParameter>(
            kWave, "Wave", std::initializer_list<std::string_view>{"Sine", "Tri", "Saw", "Square", "Noise"},
            0));
        p.push_back(makeHeap<GainParameter>(kGain, "Output", 6.0, 0.0));
        return p;
    }
    PresetList buildPresets() override {
        PresetList list;
        list.push_back(buildDefaultPreset(*this));
        return list;
    }
    PluginDescription buildDescription() override {
        PluginDescription d;
        d.vendorName = "Test";
        d.pluginName = "Widgets";
        d.vendorUniqueID = "Test";
        d.pluginUniqueID = "Wdgt";
        return d;
    }
    Vec<ChannelConfig> buildChannelConfigs() override {
        Vec<ChannelConfig> v;
        v.push(ChannelConfig{2, 2});
        return v;
    }

    EditRecorder recorder;
};

// A parameter whose normalized value is whatever a misbehaving host left there, and which records
// what the editor hands it.
class HostileParameter final : public LinearFloatParameter {
public:
    HostileParameter() : LinearFloatParameter(0, "Hostile", "", 0.0, 1.0, 0.5) {}
    double getNormalized() const noexcept override { return shown; }
    void setFromEditorNormalized(double n) noexcept override { received.push_back(n); }
    double shown = 0.5;
    std::vector<double> received;
};

// Replaces the URL launcher while alive and records what it is asked to open.
class RecordingLauncher {
public:
    RecordingLauncher() {
        previous_ = setURLLauncher(&record);
        urls().clear();
    }
    ~RecordingLauncher() { setURLLauncher(previous_); }
    static std::vector<std::string>& urls() {
        static std::vector<std::string> list;
        return list;
    }

private:
    static bool record(const char* url) {
        urls().push_back(url);
        return true;
    }
    URLLauncher previous_;
};

}  // namespace korvo::test
