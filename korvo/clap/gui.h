#pragma once
// The editor in CLAP hosts (the extensions' declarations are in ext.h): ClapEditor, which runs the client's editor (an
// IGraphics, the same object the VST3 view opens) embedded in the host's window.
//
// APIs: "x11" on Linux and "win32" on Windows, embedded only (no floating window). Sizes are
// physical pixels and follow the editor's rules, as in VST3: set_scale is the host's content scale
// (0.5 to 4, else refused), get_size the device size, can_resize true, adjust_size the nearest size
// of the editor's aspect ratio within its zoom range, set_size the host's size. When the editor's
// size changes for a reason of its own while it has a parent (a new scale, the monitor's, the
// user's zoom), the host is asked for it (request_resize; no set_size follows an accepted request).
// On Linux the editor's window has no thread of its own: it runs on the host's main loop through
// timer-support (the 15 ms tick) and posix-fd-support (the X connection), which create requires.
//
// Edits made in the editor reach the host as CLAP events: a gesture begin, the plain values, a
// gesture end, queued here by the main thread and sent by the next process or flush (from a queue
// of fixed size; the audio side never allocates or waits). While the plug-in is not processing,
// the host is asked to flush (params.request_flush).
//
// Threads: every gui, timer and fd function is [main-thread]; the event queue is filled on the
// main thread and emptied by process or flush (never at the same time, as CLAP guarantees).

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "korvo/clap/abi.h"
#include "korvo/clap/ext.h"
#include "korvo/client/client.h"
#include "korvo/window/eventloop.h"

namespace korvo::clap {

// One editor edit on its way to the host.
struct EditorEvent {
    std::uint16_t type = 0;  // kEventParamGestureBegin, kEventParamValue or kEventParamGestureEnd
    ClapId paramId = 0;
    double value = 0.0;  // plain value (kEventParamValue)
};

// A fixed ring of editor events: one producer (the main thread), one consumer (process or flush).
class EditorEventQueue {
public:
    static constexpr std::uint32_t kCapacity = 1024;
    // Queues the event when at least `room` slots are free, else drops it (a gesture of more than
    // a thousand steps between two blocks) and returns false. [main-thread]
    bool push(const EditorEvent& event, std::uint32_t room = 1) noexcept;
    // The oldest event, left in the queue; false when empty. [audio-thread or flush's thread]
    bool peek(EditorEvent& event) const noexcept;
    void pop() noexcept;

private:
    EditorEvent events_[kCapacity];
    std::atomic<std::uint32_t> head_{0};  // next to read
    std::atomic<std::uint32_t> tail_{0};  // next to write
};

class ClapEditor final : private IEventLoop {
public:
    // host: the plug-in's host (its gui, timer-support and posix-fd-support extensions are looked
    // up here); client: whose editor it runs. Both outlive the editor.
    ClapEditor(const Host* host, Client& client) noexcept;
    ~ClapEditor() override;  // destroy()
    ClapEditor(const ClapEditor&) = delete;
    ClapEditor& operator=(const ClapEditor&) = delete;

    static const char* api() noexcept;
    bool isApiSupported(const char* api, bool isFloating) const noexcept;
    bool create(const char* api, bool isFloating) noexcept;
    void destroy() noexcept;
    bool setScale(double scale) noexcept;
    bool getSize(std::uint32_t* width, std::uint32_t* height) noexcept;
    bool canResize() noexcept;
    bool getResizeHints(GuiResizeHints* hints) noexcept;
    bool adjustSize(std::uint32_t* width, std::uint32_t* height) noexcept;
    bool setSize(std::uint32_t width, std::uint32_t height) noexcept;
    bool setParent(const Window* window, HostKind hostKind) noexcept;
    bool show() noexcept;
    bool hide() noexcept;
    void onTimer(ClapId timerId) noexcept;
    void onFd(int fd, std::uint32_t flags) noexcept;
    // The editor asks for a new size (IHostCommand::requestResize). [main-thread]
    bool requestResize(std::int32_t width, std::int32_t height) noexcept;
    bool isCreated() const noexcept { return created_; }

private:
    // IEventLoop over the host's timer and descriptor support (Linux).
    bool watchFile(int fd, IEventLoopClient* client) override;
    void unwatchFile(IEventLoopClient* client) override;
    bool startTimer(std::uint32_t periodMs, IEventLoopClient* client) override;
    void stopTimer(IEventLoopClient* client) override;
    // Asks the host for the editor's size when it differs from what the host knows.
    void followEditorSize() noexcept;

    const Host* host_;
    Client& client_;
    const HostGui* hostGui_ = nullptr;
    const HostTimerSupport* hostTimer_ = nullptr;
    const HostPosixFdSupport* hostFd_ = nullptr;
    bool created_ = false;
    bool parented_ = false;
    bool requesting_ = false;  // inside request_resize
    std::uint32_t hostWidth_ = 0, hostHeight_ = 0;  // the size the host knows
    IEventLoopClient* timerClient_ = nullptr;
    ClapId timerId_ = kInvalidId;
    IEventLoopClient* fileClient_ = nullptr;
    int fd_ = -1;
};

}  // namespace korvo::clap
