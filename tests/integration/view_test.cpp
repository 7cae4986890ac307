// The editor view and the host command of the adapter, driven directly (not through a module)
// with a client whose editor is a recording fake, so every path of the view can be reached. The
// real editor in a real window is tested through the test module.
#include <gtest/gtest.h>

#include <cstring>

#include "korvo/client/client.h"
#include "korvo/vst3/client.h"
#include "korvo/window/eventloop.h"
#include "tools/vst3host/host.h"
#include "tools/vst3host/runloop.h"

namespace vst3it {
namespace {

namespace v = korvo::vst3;
using vst3host::ComponentHandler;
using vst3host::HostApplication;
using vst3host::PlugFrame;

struct EditorLog {
    int created = 0;
    int opened = 0;
    int closed = 0;
    void* lastParent = nullptr;
    void* lastControlInfo = nullptr;
    korvo::HostKind lastKind = korvo::HostKind::unknown;
    korvo::WindowBackend lastBackend = korvo::WindowBackend::cocoa;
};

// Records what the view asks of it. Like a real Linux window it registers a timer and a file
// handler with the event loop it is given, and unregisters them when closed.
class FakeEditor final : public korvo::IGraphics, public korvo::IEventLoopClient {
public:
    explicit FakeEditor(EditorLog& log) : log_(log) { ++log_.created; }
    void* openUI(void* parent, void* controlInfo, korvo::HostKind kind,
                 korvo::WindowBackend backend) override {
        ++log_.opened;
        log_.lastParent = parent;
        log_.lastControlInfo = controlInfo;
        log_.lastKind = kind;
        log_.lastBackend = backend;
        loop_ = static_cast<korvo::IEventLoop*>(controlInfo);
        if (loop_ != nullptr) {
            EXPECT_TRUE(loop_->startTimer(15, this));
            EXPECT_TRUE(loop_->watchFile(0, this));
        }
        return parent;
    }
    void closeUI() override {
        ++log_.closed;
        if (loop_ != nullptr) {
            loop_->stopTimer(this);
            loop_->unwatchFile(this);
            loop_ = nullptr;
        }
    }
    void getGUISize(std::int32_t* width, std::int32_t* height) override {
        *width = 763;
        *height = 494;
    }
    void onFileReady(int) override {}
    void onTimer() override {}

private:
    EditorLog& log_;
    korvo::IEventLoop* loop_ = nullptr;
};

class EditorClient final : public korvo::Client {
public:
    enum class Editor { none, fake, nullFromCreate };
    EditorClient(EditorLog& log, bool hasGUI, Editor editor = Editor::fake)
        : log_(log), hasGUI_(hasGUI), editor_(editor) {
        initialize();
    }
    korvo::HeapPtr<korvo::IGraphics> createGraphics() override {
        if (editor_ != Editor::fake) return nullptr;
        return korvo::makeHeap<FakeEditor>(log_);
    }
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
    Editor editor_;
};

// A VST3Client owned through its reference count.
struct Instance {
    Instance(EditorLog& log, bool hasGUI, EditorClient::Editor editor = EditorClient::Editor::fake)
        : object(korvo::heapNew<v::VST3Client>(korvo::makeHeap<EditorClient>(log, hasGUI, editor))) {}
    ~Instance() { EXPECT_EQ(object->processorFace()->release(), 0u); }
    v::VST3Client* object;
};

#if defined(_WIN32)
constexpr const char* kOwnType = "HWND";
constexpr const char* kOtherType = "X11EmbedWindowID";
#else
constexpr const char* kOwnType = "X11EmbedWindowID";
constexpr const char* kOtherType = "HWND";
#endif

TEST(Vst3View, TheEditorIsCreatedOnceAndEveryAttachOpensItAgain) {
    EditorLog log;
    Instance instance(log, true);
    HostApplication host("my cubase host");
    ASSERT_EQ(instance.object->componentFace()->initialize(&host), v::kResultOk);
    v::IPlugView* view = instance.object->controllerFace()->createView("editor");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(log.created, 1);  // createView needs to know there is one
    v::ViewRect rect{5, 6, 7, 8};
    ASSERT_EQ(view->getSize(&rect), v::kResultOk);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 763);
    EXPECT_EQ(rect.bottom, 494);
    ASSERT_EQ(view->getSize(&rect), v::kResultOk);
    EXPECT_EQ(log.created, 1);
    EXPECT_EQ(view->getSize(nullptr), v::kInvalidArgument);

    PlugFrame frame;
    ASSERT_EQ(view->setFrame(&frame), v::kResultOk);
    EXPECT_EQ(frame.refCount(), 2);  // kept with a reference
    int parent = 0;
    ASSERT_EQ(view->attached(&parent, kOwnType), v::kResultOk);
    EXPECT_EQ(log.opened, 1);
    EXPECT_EQ(log.lastParent, &parent);
    EXPECT_EQ(log.lastKind, korvo::HostKind::cubase);
    EXPECT_EQ(log.lastBackend, v::KorvoView::platformBackend());
#if defined(_WIN32)
    EXPECT_EQ(log.lastBackend, korvo::WindowBackend::win32);
    EXPECT_EQ(log.lastControlInfo, nullptr);
#else
    // The window got the host's run loop: its timer and descriptor handler are registered there.
    EXPECT_EQ(log.lastBackend, korvo::WindowBackend::x11);
    ASSERT_NE(log.lastControlInfo, nullptr);
    EXPECT_EQ(frame.runLoop().timerCount(), 1u);
    EXPECT_EQ(frame.runLoop().firstTimerPeriod(), 15u);
    EXPECT_EQ(frame.runLoop().eventHandlerCount(), 1u);
#endif
    ASSERT_EQ(view->removed(), v::kResultOk);
    EXPECT_EQ(log.closed, 1);
    EXPECT_EQ(frame.runLoop().timerCount(), 0u);
    EXPECT_EQ(frame.runLoop().eventHandlerCount(), 0u);
    EXPECT_EQ(frame.runLoop().refCount(), 1);  // the view let go of the run loop
    ASSERT_EQ(view->attached(&parent, kOwnType), v::kResultOk);
    ASSERT_EQ(view->removed(), v::kResultOk);
    ASSERT_EQ(view->setFrame(nullptr), v::kResultOk);
    EXPECT_EQ(frame.refCount(), 1);
    EXPECT_EQ(view->release(), 0u);

    // A second view shares the one editor.
    v::IPlugView* again = instance.object->controllerFace()->createView("editor");
    again->setFrame(&frame);
    ASSERT_EQ(again->attached(&parent, kOwnType), v::kResultOk);
    EXPECT_EQ(log.opened, 3);
    EXPECT_EQ(log.created, 1);
    again->removed();
    again->release();
    EXPECT_EQ(frame.refCount(), 1);
    instance.object->componentFace()->terminate();
}

TEST(Vst3View, AViewReleasedWhileAttachedClosesItsWindow) {
    EditorLog log;
    Instance instance(log, true);
    PlugFrame frame;
    v::IPlugView* view = instance.object->controllerFace()->createView("editor");
    view->setFrame(&frame);
    int parent = 0;
    ASSERT_EQ(view->attached(&parent, kOwnType), v::kResultOk);
    EXPECT_EQ(view->release(), 0u);
    EXPECT_EQ(log.closed, 1);
    EXPECT_EQ(frame.runLoop().timerCount(), 0u);
    EXPECT_EQ(frame.runLoop().eventHandlerCount(), 0u);
    EXPECT_EQ(frame.refCount(), 1);
    EXPECT_EQ(frame.runLoop().refCount(), 1);
}

TEST(Vst3View, PlatformTypesAreThisPlatformsOnly) {
    EditorLog log;
    Instance instance(log, true);
    PlugFrame frame;
    v::IPlugView* view = instance.object->controllerFace()->createView("editor");
    view->setFrame(&frame);
    EXPECT_EQ(view->isPlatformTypeSupported(kOwnType), v::kResultOk);
    EXPECT_EQ(view->isPlatformTypeSupported(kOtherType), v::kResultFalse);
    EXPECT_EQ(view->isPlatformTypeSupported("NSView"), v::kResultFalse);
    EXPECT_EQ(view->isPlatformTypeSupported(nullptr), v::kResultFalse);
    EXPECT_EQ(view->attached(nullptr, "NSView"), v::kResultFalse);
    EXPECT_EQ(view->attached(nullptr, kOtherType), v::kResultFalse);
    EXPECT_EQ(view->attached(nullptr, nullptr), v::kResultFalse);
    EXPECT_EQ(log.opened, 0);
#if !defined(_WIN32)
    // On Linux the window cannot run without the host's run loop.
    frame.setOffersRunLoop(false);
    int parent = 0;
    EXPECT_EQ(view->attached(&parent, kOwnType), v::kResultFalse);
    view->setFrame(nullptr);
    EXPECT_EQ(view->attached(&parent, kOwnType), v::kResultFalse);
    EXPECT_EQ(log.opened, 0);
#endif
    EXPECT_EQ(view->removed(), v::kResultOk);  // nothing open: nothing to close
    view->release();
}

TEST(Vst3View, WithoutAnEditorThereIsNoView) {
    EditorLog log;
    {
        Instance instance(log, false);
        EXPECT_EQ(instance.object->controllerFace()->createView("editor"), nullptr);
        EXPECT_EQ(log.created, 0);
    }
    {
        // The description claims an editor, but the client makes none.
        Instance instance(log, true, EditorClient::Editor::nullFromCreate);
        EXPECT_EQ(instance.object->controllerFace()->createView("editor"), nullptr);
    }
    {
        Instance instance(log, true);
        EXPECT_EQ(instance.object->controllerFace()->createView("Editor"), nullptr);
        EXPECT_EQ(instance.object->controllerFace()->createView(nullptr), nullptr);
        EXPECT_EQ(log.created, 0);
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
