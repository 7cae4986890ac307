// The editor view and the host command.
#include "korvo/vst3/view.h"

#include <cstring>

#include "korvo/core/fpcontrol.h"
#include "korvo/core/nogc.h"
#include "korvo/vst3/client.h"
#include "korvo/window/eventloop.h"

namespace korvo::vst3 {

// ---- VST3HostCommand ------------------------------------------------------------------------------

void VST3HostCommand::beginParameterEdit(std::int32_t paramIndex) noexcept {
    if (IComponentHandler* handler = owner_.componentHandler())
        handler->beginEdit(static_cast<ParamID>(paramIndex));
}

void VST3HostCommand::automateParameter(std::int32_t paramIndex, float normalizedValue) noexcept {
    if (IComponentHandler* handler = owner_.componentHandler())
        handler->performEdit(static_cast<ParamID>(paramIndex), static_cast<double>(normalizedValue));
}

void VST3HostCommand::endParameterEdit(std::int32_t paramIndex) noexcept {
    if (IComponentHandler* handler = owner_.componentHandler())
        handler->endEdit(static_cast<ParamID>(paramIndex));
}

bool VST3HostCommand::requestResize(std::int32_t, std::int32_t) noexcept {
    return false;
}

HostKind VST3HostCommand::hostKind() const noexcept {
    return owner_.hostKind();
}

// ---- The host's run loop as an IEventLoop (Linux) ---------------------------------------------------

// One window's bridge to the host's IRunLoop: a descriptor handler face and a timer face, each
// forwarding to the window that registered. Reference-counted (the view holds one reference; the
// host may hold more while the handlers are registered); holds one reference on the run loop.
class RunLoopBridge final : public IEventLoop {
public:
    explicit RunLoopBridge(IRunLoop* runLoop) noexcept : runLoop_(runLoop) {}
    ~RunLoopBridge() override {
        unregisterAll();
        runLoop_->release();
    }
    RunLoopBridge(const RunLoopBridge&) = delete;
    RunLoopBridge& operator=(const RunLoopBridge&) = delete;

    uint32 addRef() noexcept { return static_cast<uint32>(refCount_.fetch_add(1) + 1); }
    uint32 release() noexcept {
        const std::int32_t count = refCount_.fetch_sub(1) - 1;
        if (count == 0) heapDelete(this);
        return static_cast<uint32>(count);
    }

    // Drops whatever is still registered (a window unregisters before it goes; this covers one
    // that did not). The host then gives back its references on the handler faces.
    void unregisterAll() noexcept {
        unwatchFile(fileClient_);
        stopTimer(timerClient_);
    }

    bool watchFile(int fd, IEventLoopClient* client) override {
        if (client == nullptr) return false;
        unwatchFile(fileClient_);
        fileClient_ = client;
        if (runLoop_->registerEventHandler(&eventFace_, fd) == kResultOk) return true;
        fileClient_ = nullptr;
        return false;
    }
    void unwatchFile(IEventLoopClient* client) override {
        if (client == nullptr || client != fileClient_) return;
        runLoop_->unregisterEventHandler(&eventFace_);
        fileClient_ = nullptr;
    }
    bool startTimer(std::uint32_t periodMs, IEventLoopClient* client) override {
        if (client == nullptr) return false;
        stopTimer(timerClient_);
        timerClient_ = client;
        if (runLoop_->registerTimer(&timerFace_, periodMs) == kResultOk) return true;
        timerClient_ = nullptr;
        return false;
    }
    void stopTimer(IEventLoopClient* client) override {
        if (client == nullptr || client != timerClient_) return;
        runLoop_->unregisterTimer(&timerFace_);
        timerClient_ = nullptr;
    }

private:
    struct EventFace final : IEventHandler {
        explicit EventFace(RunLoopBridge& o) noexcept : owner(o) {}
        tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override {
            return owner.answer(iid, obj, iidIEventHandler, this);
        }
        uint32 KORVO_VST3_API addRef() override { return owner.addRef(); }
        uint32 KORVO_VST3_API release() override { return owner.release(); }
        void KORVO_VST3_API onFDIsSet(FileDescriptor fd) override {
            if (owner.fileClient_ != nullptr) owner.fileClient_->onFileReady(fd);
        }
        RunLoopBridge& owner;
    };
    struct TimerFace final : ITimerHandler {
        explicit TimerFace(RunLoopBridge& o) noexcept : owner(o) {}
        tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override {
            return owner.answer(iid, obj, iidITimerHandler, this);
        }
        uint32 KORVO_VST3_API addRef() override { return owner.addRef(); }
        uint32 KORVO_VST3_API release() override { return owner.release(); }
        void KORVO_VST3_API onTimer() override {
            if (owner.timerClient_ != nullptr) owner.timerClient_->onTimer();
        }
        RunLoopBridge& owner;
    };

    tresult answer(const TUID iid, void** obj, const Uid& own, FUnknown* face) noexcept {
        if (obj == nullptr) return kInvalidArgument;
        if (uidEquals(iid, own) || uidEquals(iid, iidFUnknown)) {
            addRef();
            *obj = face;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }

    EventFace eventFace_{*this};
    TimerFace timerFace_{*this};
    std::atomic<std::int32_t> refCount_{1};
    IRunLoop* runLoop_;  // one reference held
    IEventLoopClient* fileClient_ = nullptr;
    IEventLoopClient* timerClient_ = nullptr;
};

// ---- KorvoView ------------------------------------------------------------------------------------

KorvoView::~KorvoView() {
    // A host that releases the view without removed still gets its run loop back clean.
    if (open_) close();
    if (frame_ != nullptr) frame_->release();
}

const char* KorvoView::platformType() noexcept {
#if defined(_WIN32)
    return kPlatformTypeHWND;
#else
    return kPlatformTypeX11EmbedWindowID;
#endif
}

WindowBackend KorvoView::platformBackend() noexcept {
#if defined(_WIN32)
    return WindowBackend::win32;
#else
    return WindowBackend::x11;
#endif
}

tresult KorvoView::queryInterface(const TUID iid, void** obj) {
    if (obj == nullptr) return kInvalidArgument;
    if (uidEquals(iid, iidIPlugView) || uidEquals(iid, iidFUnknown)) {
        addRef();
        *obj = static_cast<IPlugView*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 KorvoView::addRef() {
    return static_cast<uint32>(refCount_.fetch_add(1) + 1);
}

uint32 KorvoView::release() {
    const std::int32_t count = refCount_.fetch_sub(1) - 1;
    if (count == 0) heapDelete(this);
    return static_cast<uint32>(count);
}

tresult KorvoView::isPlatformTypeSupported(FIDString type) {
    if (type != nullptr && std::strcmp(type, platformType()) == 0) return kResultOk;
    return kResultFalse;
}

tresult KorvoView::attached(void* parent, FIDString type) {
    Client& client = owner_.client();
    if (!client.description().hasGUI) return kResultFalse;
    if (isPlatformTypeSupported(type) != kResultOk) return kResultFalse;
    FPControl guard;
    ScopedLock hold(lock_);
    IGraphics* graphics = client.ensureGraphics();
    if (graphics == nullptr) return kResultFalse;
    void* controlInfo = nullptr;
#if !defined(_WIN32)
    // The window runs on the host's run loop, found on the frame.
    void* found = nullptr;
    if (frame_ == nullptr || frame_->queryInterface(iidIRunLoop.data(), &found) != kResultOk ||
        found == nullptr)
        return kResultFalse;
    if (runLoop_ != nullptr) runLoop_->release();
    runLoop_ = heapNew<RunLoopBridge>(static_cast<IRunLoop*>(found));
    controlInfo = static_cast<IEventLoop*>(runLoop_);
#endif
    graphics->openUI(parent, controlInfo, client.hostCommand()->hostKind(), platformBackend());
    open_ = true;
    return kResultOk;
}

void KorvoView::close() noexcept {
    FPControl guard;
    {
        ScopedLock hold(lock_);
        if (IGraphics* graphics = owner_.client().graphics()) graphics->closeUI();
        open_ = false;
    }
    // After the window: it unregisters its handlers while it goes.
    if (runLoop_ != nullptr) {
        runLoop_->unregisterAll();
        runLoop_->release();
        runLoop_ = nullptr;
    }
}

tresult KorvoView::removed() {
    if (!owner_.client().description().hasGUI) return kResultFalse;
    close();
    return kResultOk;
}

tresult KorvoView::onWheel(float) {
    return kResultFalse;
}
tresult KorvoView::onKeyDown(char16, int16, int16) {
    return kResultFalse;
}
tresult KorvoView::onKeyUp(char16, int16, int16) {
    return kResultFalse;
}

tresult KorvoView::getSize(ViewRect* size) {
    Client& client = owner_.client();
    if (!client.description().hasGUI) return kResultFalse;
    if (size == nullptr) return kInvalidArgument;
    FPControl guard;
    ScopedLock hold(lock_);
    IGraphics* graphics = client.ensureGraphics();
    if (graphics == nullptr) return kResultFalse;
    std::int32_t width = 0, height = 0;
    graphics->getGUISize(&width, &height);
    *size = ViewRect{0, 0, width, height};
    return kResultOk;
}

tresult KorvoView::onSize(ViewRect*) {
    return kResultOk;
}
tresult KorvoView::onFocus(TBool) {
    return kResultOk;
}

tresult KorvoView::setFrame(IPlugFrame* frame) {
    if (frame == frame_) return kResultOk;
    if (frame != nullptr) frame->addRef();
    if (frame_ != nullptr) frame_->release();
    frame_ = frame;
    return kResultOk;
}

tresult KorvoView::canResize() {
    return kResultFalse;
}
tresult KorvoView::checkSizeConstraint(ViewRect*) {
    return kResultOk;
}

}  // namespace korvo::vst3
