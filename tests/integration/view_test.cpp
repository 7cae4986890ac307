// The editor view and the host command of the adapter. These need an editor, which the modules
// under test don't have yet, so this file drives the adapter library directly (not a module) with
// a client whose editor is a recording fake. Everything else in this folder goes through modules.
#include <gtest/gtest.h>

#include <cstring>

#include "korvo/client/client.h"
#include "korvo/vst3/client.h"
#include "tools/vst3host/host.h"

namespace vst3it {
namespace {

namespace v = korvo::vst3;
using vst3host::ComponentHandler;
using vst3host::HostApplication;

struct EditorLog {
    int created = 0;
    int opened = 0;
    int closed = 0;
    void* lastParent = nullptr;
    korvo::HostKind lastKind = korvo::HostKind::unknown;
    korvo::WindowBackend lastBackend = korvo::WindowBackend::x11;
};

class FakeEditor final : public korvo::IGraphics {
public:
    explicit FakeEditor(EditorLog& log) : log_(log) { ++log_.created; }
    void* openUI(void* parent, void*, korvo::HostKind kind, korvo::WindowBackend backend) override {
        ++log_.opened;
        log_.lastParent = parent;
        log_.lastKind = kind;
        log_.lastBackend = backend;
        return parent;
    }
    void closeUI() override { ++log_.closed; }
    void getGUISize(std::int32_t* width, std::int32_t* height) override {
        *width = 763;
        *height = 494;
    }

private:
    EditorLog& log_;
};

class EditorClient final : public korvo::Client {
public:
    EditorClient(EditorLog& log, bool hasGUI) : log_(log), hasGUI_(hasGUI) { initialize(); }
    korvo::HeapPtr<korvo::IGraphics> createGraphics() override { return korvo::makeHeap<FakeEditor>(log_); }
    void processAudio(const float* const*, std::int32_t, float* const*, std::int32_t, std::int32_t,
                      korvo::HostTiming) noexcept override {}
    korvo::ParameterList buildParameters() override {
        korvo::ParameterList list;
        list.push_back(korvo::makeHeap<korvo::LinearFloatParameter>(0, "Amount", "%", 0.0, 100.0, 50.0));
        list.push_back(korvo::makeHeap<korvo::BoolParameter>(1, "Switch", false));
        return list;
    }
    korvo::PresetList buildPresets() override {
        korvo::PresetList presets;
        presets.push_back(korvo::buildDefaultPreset(*this));
        return presets;
    }
    korvo::PluginDescription buildDescription() override {
        korvo::PluginDescription d;
        d.vendorUniqueID = "Test";
        d.pluginUniqueID = "View";
        d.hasGUI = hasGUI_;
        return d;
    }
    korvo::Vec<korvo::ChannelConfig> buildChannelConfigs() override {
        korvo::Vec<korvo::ChannelConfig> configs;
        configs.push(korvo::ChannelConfig{2, 2});
        return configs;
    }

private:
    EditorLog& log_;
    bool hasGUI_;
};

// A VST3Client owned through its reference count.
struct Instance {
    Instance(EditorLog& log, bool hasGUI)
        : object(korvo::heapNew<v::VST3Client>(korvo::makeHeap<EditorClient>(log, hasGUI))) {}
    ~Instance() { EXPECT_EQ(object->processorFace()->release(), 0u); }
    v::VST3Client* object;
};

TEST(Vst3View, SizeQueryCreatesTheEditorOnceAndAttachReusesIt) {
    EditorLog log;
    Instance instance(log, true);
    HostApplication host("my cubase host");
    ASSERT_EQ(instance.object->componentFace()->initialize(&host), v::kResultOk);
    v::IPlugView* view = instance.object->controllerFace()->createView("editor");
    ASSERT_NE(view, nullptr);
    v::ViewRect rect{5, 6, 7, 8};
    ASSERT_EQ(view->getSize(&rect), v::kResultOk);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 763);
    EXPECT_EQ(rect.bottom, 494);
    ASSERT_EQ(view->getSize(&rect), v::kResultOk);
    EXPECT_EQ(log.created, 1);
    EXPECT_EQ(view->getSize(nullptr), v::kInvalidArgument);

    int parent = 0;
    ASSERT_EQ(view->attached(&parent, "HWND"), v::kResultOk);
    EXPECT_EQ(log.opened, 1);
    EXPECT_EQ(log.lastParent, &parent);
    EXPECT_EQ(log.lastKind, korvo::HostKind::cubase);
    EXPECT_EQ(log.lastBackend, korvo::WindowBackend::win32);
    ASSERT_EQ(view->removed(), v::kResultOk);
    EXPECT_EQ(log.closed, 1);
    ASSERT_EQ(view->attached(&parent, "HWND"), v::kResultOk);
    ASSERT_EQ(view->removed(), v::kResultOk);
    EXPECT_EQ(view->release(), 0u);

    // A second view shares the one editor.
    v::IPlugView* again = instance.object->controllerFace()->createView("editor");
    ASSERT_EQ(again->attached(&parent, "HWND"), v::kResultOk);
    EXPECT_EQ(log.opened, 3);
    EXPECT_EQ(log.created, 1);
    again->removed();
    again->release();
    instance.object->componentFace()->terminate();
}

TEST(Vst3View, UnsupportedPlatformsAndMissingEditorsAreRefused) {
    EditorLog log;
    {
        Instance instance(log, true);
        v::IPlugView* view = instance.object->controllerFace()->createView("editor");
        EXPECT_EQ(view->attached(nullptr, "NSView"), v::kResultFalse);
        EXPECT_EQ(view->attached(nullptr, "X11EmbedWindowID"), v::kResultFalse);
        EXPECT_EQ(view->attached(nullptr, nullptr), v::kResultFalse);
        EXPECT_EQ(view->removed(), v::kResultOk);  // nothing to close
        EXPECT_EQ(log.created, 0);
        EXPECT_EQ(log.closed, 0);
        view->release();
    }
    {
        Instance instance(log, false);
        v::IPlugView* view = instance.object->controllerFace()->createView("editor");
        v::ViewRect rect{};
        EXPECT_EQ(view->getSize(&rect), v::kResultFalse);
        EXPECT_EQ(view->attached(nullptr, "HWND"), v::kResultFalse);
        EXPECT_EQ(view->removed(), v::kResultFalse);
        EXPECT_EQ(log.created, 0);
        view->release();
    }
}

TEST(Vst3HostCommand, EditorGesturesReachTheComponentHandler) {
    EditorLog log;
    Instance instance(log, true);
    korvo::Client& client = instance.object->client();
    ASSERT_NE(client.hostCommand(), nullptr);
    EXPECT_FALSE(client.hostCommand()->requestResize(100, 100));

    // Without a handler the edit still changes the parameter and calls nothing.
    auto& amount = static_cast<korvo::LinearFloatParameter&>(client.parameter(0));
    amount.beginEdit();
    amount.setFromEditor(75.0);
    amount.endEdit();
    EXPECT_DOUBLE_EQ(amount.value(), 75.0);

    ComponentHandler handler;
    ASSERT_EQ(instance.object->controllerFace()->setComponentHandler(&handler), v::kResultOk);
    amount.beginEdit();
    amount.setFromEditor(20.0);
    amount.setFromEditor(30.0);
    amount.endEdit();
    client.parameter(1).beginEdit();
    client.parameter(1).endEdit();
    using K = ComponentHandler::Kind;
    ASSERT_EQ(handler.calls.size(), 6u);
    EXPECT_EQ(handler.calls[0].kind, K::beginEdit);
    EXPECT_EQ(handler.calls[0].id, 0u);
    EXPECT_EQ(handler.calls[1].kind, K::performEdit);
    EXPECT_EQ(handler.calls[1].value, static_cast<double>(0.2f));
    EXPECT_EQ(handler.calls[2].kind, K::performEdit);
    EXPECT_EQ(handler.calls[2].value, static_cast<double>(0.3f));
    EXPECT_EQ(handler.calls[3].kind, K::endEdit);
    EXPECT_EQ(handler.calls[4].kind, K::beginEdit);
    EXPECT_EQ(handler.calls[4].id, 1u);
    EXPECT_EQ(handler.calls[5].kind, K::endEdit);
    EXPECT_EQ(handler.refCount(), 2);
    instance.object->componentFace()->terminate();
    EXPECT_EQ(handler.refCount(), 1);
}

}  // namespace
}  // namespace vst3it
