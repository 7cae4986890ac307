// ClapEditor: the client's editor embedded in a CLAP host's window, and the queue that takes the
// editor's edits to the host.
#include "korvo/clap/gui.h"

#include <algorithm>
#include <cstring>

#include "korvo/clap/ext.h"

namespace korvo::clap {

// ---- The event queue -------------------------------------------------------------------------------

bool EditorEventQueue::push(const EditorEvent& event, std::uint32_t room) noexcept {
    const std::uint32_t tail = tail_.load(std::memory_order_relaxed);
    if (kCapacity - (tail - head_.load(std::memory_order_acquire)) < room) return false;
    events_[tail % kCapacity] = event;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
}

bool EditorEventQueue::peek(EditorEvent& event) const noexcept {
    const std::uint32_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    event = events_[head % kCapacity];
    return true;
}

void EditorEventQueue::pop() noexcept {
    head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

// ---- The editor ------------------------------------------------------------------------------------

ClapEditor::ClapEditor(const Host* host, Client& client) noexcept : host_(host), client_(client) {
    auto extension = [&](const char* id) -> const void* {
        return host_ != nullptr && host_->getExtension != nullptr ? host_->getExtension(host_, id) : nullptr;
    };
    // A host extension with an empty slot counts as absent.
    if (auto* e = static_cast<const HostGui*>(extension(kExtGui)))
        if (e->resizeHintsChanged != nullptr && e->requestResize != nullptr && e->requestShow != nullptr &&
            e->requestHide != nullptr && e->closed != nullptr)
            hostGui_ = e;
    if (auto* e = static_cast<const HostTimerSupport*>(extension(kExtTimerSupport)))
        if (e->registerTimer != nullptr && e->unregisterTimer != nullptr) hostTimer_ = e;
    if (auto* e = static_cast<const HostPosixFdSupport*>(extension(kExtPosixFdSupport)))
        if (e->registerFd != nullptr && e->modifyFd != nullptr && e->unregisterFd != nullptr) hostFd_ = e;
}

ClapEditor::~ClapEditor() {
    destroy();
}

const char* ClapEditor::api() noexcept {
#if defined(_WIN32)
    return kWindowApiWin32;
#else
    return kWindowApiX11;
#endif
}

bool ClapEditor::isApiSupported(const char* api, bool isFloating) const noexcept {
    return !isFloating && api != nullptr && std::strcmp(api, ClapEditor::api()) == 0 &&
           client_.description().hasGUI;
}

bool ClapEditor::create(const char* api, bool isFloating) noexcept {
    if (created_ || !isApiSupported(api, isFloating)) return false;
#if !defined(_WIN32)
    // The window lives on the host's loop: without its timer and descriptor support it cannot run.
    if (hostTimer_ == nullptr || hostFd_ == nullptr) return false;
#endif
    if (client_.ensureGraphics() == nullptr) return false;
    created_ = true;
    return true;
}

void ClapEditor::destroy() noexcept {
    if (!created_) return;
    if (IGraphics* graphics = client_.graphics()) graphics->closeUI();
    // The window gave back its timer and descriptor while it went; a careless one is covered here.
    stopTimer(timerClient_);
    unwatchFile(fileClient_);
    created_ = parented_ = false;
    hostWidth_ = hostHeight_ = 0;
}

bool ClapEditor::setScale(double scale) noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    if (graphics == nullptr || !graphics->setHostScale(static_cast<float>(scale))) return false;
    followEditorSize();
    return true;
}

bool ClapEditor::getSize(std::uint32_t* width, std::uint32_t* height) noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    if (graphics == nullptr || width == nullptr || height == nullptr) return false;
    std::int32_t w = 0, h = 0;
    graphics->getGUISize(&w, &h);
    *width = hostWidth_ = static_cast<std::uint32_t>(std::max(0, w));
    *height = hostHeight_ = static_cast<std::uint32_t>(std::max(0, h));
    return true;
}

bool ClapEditor::canResize() noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    return graphics != nullptr && graphics->canResize();
}

bool ClapEditor::getResizeHints(GuiResizeHints* hints) noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    if (graphics == nullptr || hints == nullptr || !graphics->canResize()) return false;
    // The aspect ratio of the editor's size.
    std::int32_t w = 0, h = 0;
    graphics->getGUISize(&w, &h);
    hints->canResizeHorizontally = true;
    hints->canResizeVertically = true;
    hints->preserveAspectRatio = true;
    hints->aspectRatioWidth = static_cast<std::uint32_t>(std::max(1, w));
    hints->aspectRatioHeight = static_cast<std::uint32_t>(std::max(1, h));
    return true;
}

bool ClapEditor::adjustSize(std::uint32_t* width, std::uint32_t* height) noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    if (graphics == nullptr || width == nullptr || height == nullptr) return false;
    auto w = static_cast<std::int32_t>(std::min<std::uint32_t>(*width, INT32_MAX));
    auto h = static_cast<std::int32_t>(std::min<std::uint32_t>(*height, INT32_MAX));
    graphics->constrainSize(&w, &h);
    *width = static_cast<std::uint32_t>(std::max(0, w));
    *height = static_cast<std::uint32_t>(std::max(0, h));
    return true;
}

bool ClapEditor::setSize(std::uint32_t width, std::uint32_t height) noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    if (graphics == nullptr || width > INT32_MAX || height > INT32_MAX) return false;
    if (!graphics->setGUISize(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height))) return false;
    hostWidth_ = width;
    hostHeight_ = height;
    return true;
}

bool ClapEditor::setParent(const Window* window, HostKind hostKind) noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    if (graphics == nullptr || window == nullptr || window->api == nullptr ||
        std::strcmp(window->api, api()) != 0)
        return false;
#if defined(_WIN32)
    void* parent = window->win32;
    void* loop = nullptr;
    const WindowBackend backend = WindowBackend::win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<std::uintptr_t>(window->x11));
    void* loop = static_cast<IEventLoop*>(this);
    const WindowBackend backend = WindowBackend::x11;
#endif
    if (parent == nullptr) return false;
    if (parented_) graphics->closeUI();
    if (graphics->openUI(parent, loop, hostKind, backend) == nullptr) return false;
    parented_ = true;
    // The monitor the window opened on may want another size than the host was told.
    followEditorSize();
    return true;
}

bool ClapEditor::show() noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    if (graphics == nullptr) return false;
    graphics->setVisible(true);
    return true;
}

bool ClapEditor::hide() noexcept {
    IGraphics* graphics = created_ ? client_.graphics() : nullptr;
    if (graphics == nullptr) return false;
    graphics->setVisible(false);
    return true;
}

void ClapEditor::onTimer(ClapId timerId) noexcept {
    if (timerClient_ != nullptr && timerId == timerId_) timerClient_->onTimer();
}

void ClapEditor::onFd(int fd, std::uint32_t) noexcept {
    if (fileClient_ != nullptr && fd == fd_) fileClient_->onFileReady(fd);
}

bool ClapEditor::requestResize(std::int32_t, std::int32_t) noexcept {
    if (!parented_) return false;
    followEditorSize();
    return true;
}

void ClapEditor::followEditorSize() noexcept {
    IGraphics* graphics = client_.graphics();
    if (!parented_ || hostGui_ == nullptr || graphics == nullptr || requesting_) return;
    std::int32_t w = 0, h = 0;
    graphics->getGUISize(&w, &h);
    const auto width = static_cast<std::uint32_t>(std::max(0, w)), height = static_cast<std::uint32_t>(std::max(0, h));
    if (width == hostWidth_ && height == hostHeight_) return;
    requesting_ = true;
    const bool accepted = hostGui_->requestResize(host_, width, height);
    requesting_ = false;
    if (accepted) {
        hostWidth_ = width;
        hostHeight_ = height;
    }
}

// ---- The host's loop as an IEventLoop ----------------------------------------------------------------

bool ClapEditor::watchFile(int fd, IEventLoopClient* client) {
    if (client == nullptr || hostFd_ == nullptr) return false;
    unwatchFile(fileClient_);
    if (!hostFd_->registerFd(host_, fd, kPosixFdRead)) return false;
    fileClient_ = client;
    fd_ = fd;
    return true;
}

void ClapEditor::unwatchFile(IEventLoopClient* client) {
    if (client == nullptr || client != fileClient_ || hostFd_ == nullptr) return;
    hostFd_->unregisterFd(host_, fd_);
    fileClient_ = nullptr;
    fd_ = -1;
}

bool ClapEditor::startTimer(std::uint32_t periodMs, IEventLoopClient* client) {
    if (client == nullptr || hostTimer_ == nullptr) return false;
    stopTimer(timerClient_);
    ClapId id = kInvalidId;
    if (!hostTimer_->registerTimer(host_, periodMs, &id) || id == kInvalidId) return false;
    timerClient_ = client;
    timerId_ = id;
    return true;
}

void ClapEditor::stopTimer(IEventLoopClient* client) {
    if (client == nullptr || client != timerClient_ || hostTimer_ == nullptr) return;
    hostTimer_->unregisterTimer(host_, timerId_);
    timerClient_ = nullptr;
    timerId_ = kInvalidId;
}

}  // namespace korvo::clap
