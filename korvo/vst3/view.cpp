// The editor view and the host command.
#include "korvo/vst3/view.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "korvo/core/fpcontrol.h"
#include "korvo/core/nogc.h"
#include "korvo/graphics/rect.h"
#include "korvo/vst3/client.h"
#include "korvo/vst3/streams.h"
#include "korvo/vst3/strings.h"
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

void VST3HostCommand::parameterValuesChanged() noexcept {
    owner_.notifyParameterValuesChanged();
}

namespace {
// The handler's IComponentHandler2, with one reference (null when it has none).
IComponentHandler2* groupingOf(IComponentHandler* handler) noexcept {
    void* face = nullptr;
    if (handler == nullptr || handler->queryInterface(iidIComponentHandler2.data(), &face) != kResultOk)
        return nullptr;
    return static_cast<IComponentHandler2*>(face);
}
}  // namespace

void VST3HostCommand::beginGroupEdit() noexcept {
    if (IComponentHandler2* grouping = groupingOf(owner_.componentHandler())) {
        grouping->startGroupEdit();
        grouping->release();
    }
}

void VST3HostCommand::endGroupEdit() noexcept {
    if (IComponentHandler2* grouping = groupingOf(owner_.componentHandler())) {
        grouping->finishGroupEdit();
        grouping->release();
    }
}

namespace {
// Our items' target in a host's context menu: a choice calls back with the item's tag. The host
// holds references while its menu lives.
class MenuTarget final : public ComObject<MenuTarget, IContextMenuTarget> {
public:
    explicit MenuTarget(std::function<void(std::int32_t)> onChoose) : onChoose_(std::move(onChoose)) {}
    tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override {
        return answerInterface(*this, uidEquals(iid, iidIContextMenuTarget) || uidEquals(iid, iidFUnknown),
                               static_cast<IContextMenuTarget*>(this), obj);
    }
    tresult KORVO_VST3_API executeMenuItem(int32 tag) override {
        if (onChoose_) onChoose_(tag);
        return kResultOk;
    }

private:
    std::function<void(std::int32_t)> onChoose_;
};
}  // namespace

bool VST3HostCommand::popUpParameterMenu(std::int32_t paramIndex, std::int32_t x, std::int32_t y,
                                         const std::vector<std::string>& items,
                                         std::function<void(std::int32_t)> onChoose) {
    IComponentHandler* handler = owner_.componentHandler();
    KorvoView* view = owner_.openView();
    void* face = nullptr;
    if (handler == nullptr || view == nullptr || paramIndex < 0 ||
        handler->queryInterface(iidIComponentHandler3.data(), &face) != kResultOk || face == nullptr)
        return false;
    auto* menus = static_cast<IComponentHandler3*>(face);
    const ParamID id = static_cast<ParamID>(paramIndex);
    IContextMenu* menu = menus->createContextMenu(static_cast<IPlugView*>(view), &id);
    menus->release();
    if (menu == nullptr) return false;
    auto* target = heapNew<MenuTarget>(std::move(onChoose));
    IContextMenuItem separator{};
    separator.flags = IContextMenuItem::kIsSeparator;
    if (menu->getItemCount() > 0) menu->addItem(separator, target);
    for (std::size_t i = 0; i < items.size(); ++i) {
        IContextMenuItem item{};
        widenString128(items[i], item.name);
        item.tag = static_cast<int32>(i);
        menu->addItem(item, target);
    }
    menu->popup(x, y);
    menu->release();
    target->release();
    return true;
}

bool VST3HostCommand::requestResize(std::int32_t, std::int32_t) noexcept {
    KorvoView* view = owner_.openView();
    return view != nullptr && view->followEditorSize();
}

HostKind VST3HostCommand::hostKind() const noexcept {
    return owner_.hostKind();
}

// ---- The host's run loop as an IEventLoop (Linux) ---------------------------------------------------

// One window's bridge to the host's IRunLoop: a descriptor handler face and a timer face, each
// forwarding to the window that registered. Reference-counted (the view holds one reference; the
// host may hold more while the handlers are registered); holds one reference on the run loop.
class RunLoopBridge final : public IEventLoop, public RefCounted<RunLoopBridge> {
public:
    explicit RunLoopBridge(IRunLoop* runLoop) noexcept : runLoop_(runLoop) {}
    ~RunLoopBridge() override {
        unregisterAll();
        runLoop_->release();
    }
    RunLoopBridge(const RunLoopBridge&) = delete;
    RunLoopBridge& operator=(const RunLoopBridge&) = delete;

    uint32 addRef() noexcept { return addRefCount(); }
    uint32 release() noexcept { return releaseRefCount(); }

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
        return answerInterface(*this, uidEquals(iid, own) || uidEquals(iid, iidFUnknown), face, obj);
    }

    EventFace eventFace_{*this};
    TimerFace timerFace_{*this};
    IRunLoop* runLoop_;  // one reference held
    IEventLoopClient* fileClient_ = nullptr;
    IEventLoopClient* timerClient_ = nullptr;
};

// ---- KorvoView ------------------------------------------------------------------------------------

KorvoView::~KorvoView() {
    // A host that releases the view without removed still gets its run loop back clean.
    if (open_) close();
    if (frame_ != nullptr) frame_->release();
    if (owner_.openView() == this) owner_.setOpenView(nullptr);
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
    if (uidEquals(iid, iidIPlugViewContentScaleSupport))
        return answerInterface(*this, true, static_cast<IPlugViewContentScaleSupport*>(this), obj);
    if (uidEquals(iid, iidIParameterFinder))
        return answerInterface(*this, true, static_cast<IParameterFinder*>(this), obj);
    const bool matches = uidEquals(iid, iidIPlugView) || uidEquals(iid, iidFUnknown);
    return answerInterface(*this, matches, static_cast<IPlugView*>(this), obj);
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
    {
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
        owner_.setOpenView(this);
    }
    // The monitor the window opened on may want another size than the host was told.
    followEditorSize();
    return kResultOk;
}

bool KorvoView::followEditorSize() noexcept {
    if (!open_ || frame_ == nullptr || resizing_) return false;
    std::int32_t width = 0, height = 0;
    {
        FPControl guard;
        ScopedLock hold(lock_);
        IGraphics* graphics = owner_.client().graphics();
        if (graphics == nullptr) return false;
        graphics->getGUISize(&width, &height);
    }
    if (hostSize_.right - hostSize_.left == width && hostSize_.bottom - hostSize_.top == height) return true;
    ViewRect wanted{0, 0, width, height};
    resizing_ = true;
    const tresult result = frame_->resizeView(this, &wanted);
    resizing_ = false;
    if (result != kResultOk) return false;
    hostSize_ = ViewRect{0, 0, width, height};
    return true;
}

void KorvoView::close() noexcept {
    FPControl guard;
    {
        ScopedLock hold(lock_);
        if (IGraphics* graphics = owner_.client().graphics()) graphics->closeUI();
        open_ = false;
        if (owner_.openView() == this) owner_.setOpenView(nullptr);
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
    hostSize_ = *size;
    return kResultOk;
}

tresult KorvoView::onSize(ViewRect* newSize) {
    Client& client = owner_.client();
    if (!client.description().hasGUI) return kResultFalse;
    if (newSize == nullptr) return kInvalidArgument;
    FPControl guard;
    ScopedLock hold(lock_);
    IGraphics* graphics = client.ensureGraphics();
    if (graphics == nullptr) return kResultFalse;
    const ViewRect r = *newSize;
    if (!graphics->setGUISize(r.right - r.left, r.bottom - r.top)) return kResultFalse;
    hostSize_ = r;
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
    Client& client = owner_.client();
    if (!client.description().hasGUI) return kResultFalse;
    FPControl guard;
    ScopedLock hold(lock_);
    IGraphics* graphics = client.ensureGraphics();
    return graphics != nullptr && graphics->canResize() ? kResultTrue : kResultFalse;
}

tresult KorvoView::checkSizeConstraint(ViewRect* rect) {
    Client& client = owner_.client();
    if (!client.description().hasGUI) return kResultFalse;
    if (rect == nullptr) return kInvalidArgument;
    FPControl guard;
    ScopedLock hold(lock_);
    IGraphics* graphics = client.ensureGraphics();
    if (graphics == nullptr) return kResultFalse;
    // Widths beyond the int32 range of a careless host saturate instead of wrapping.
    const std::int64_t w64 = std::int64_t{rect->right} - rect->left,
                       h64 = std::int64_t{rect->bottom} - rect->top;
    std::int32_t w = static_cast<std::int32_t>(std::clamp<std::int64_t>(w64, INT32_MIN, INT32_MAX));
    std::int32_t h = static_cast<std::int32_t>(std::clamp<std::int64_t>(h64, INT32_MIN, INT32_MAX));
    graphics->constrainSize(&w, &h);
    rect->right = IntRect::saturate(std::int64_t{rect->left} + w);
    rect->bottom = IntRect::saturate(std::int64_t{rect->top} + h);
    return kResultOk;
}

tresult KorvoView::setContentScaleFactor(float factor) {
    Client& client = owner_.client();
    if (!client.description().hasGUI) return kResultFalse;
    bool taken = false;
    {
        FPControl guard;
        ScopedLock hold(lock_);
        IGraphics* graphics = client.ensureGraphics();
        if (graphics == nullptr) return kResultFalse;
        taken = graphics->setHostScale(factor);
    }
    if (!taken) return kResultFalse;
    followEditorSize();
    return kResultOk;
}

tresult KorvoView::findParameter(int32 xPos, int32 yPos, ParamID& resultTag) {
    if (!open_) return kResultFalse;
    FPControl guard;
    ScopedLock hold(lock_);
    IGraphics* graphics = owner_.client().graphics();
    const std::int32_t index = graphics != nullptr ? graphics->parameterAt(xPos, yPos) : -1;
    if (index < 0) return kResultFalse;
    resultTag = static_cast<ParamID>(index);
    return kResultOk;
}

// ---- The editor's state (the controller's) ------------------------------------------------------

tresult VST3Client::saveEditorState(IBStream* stream) noexcept {
    if (stream == nullptr) return kInvalidArgument;
    const std::vector<std::uint8_t> bytes = client_->writeEditorState();
    return writeAll(stream, bytes.data(), bytes.size()) ? kResultOk : kResultFalse;
}

tresult VST3Client::loadEditorState(IBStream* stream) noexcept {
    if (stream == nullptr) return kInvalidArgument;
    std::vector<std::uint8_t> bytes;
    if (!readAll(stream, bytes, kMaxStateBytes) || !client_->readEditorState(bytes)) return kResultFalse;
    if (KorvoView* view = openView()) view->followEditorSize();
    return kResultOk;
}

}  // namespace korvo::vst3
