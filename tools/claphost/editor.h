#pragma once
// EditorHost: opens a CLAP plug-in's editor the way a DAW does, embedded in a top-level window of
// our own (vst3host's window, input and screenshots), and records what the editor asks of the
// host.
//
//   claphost::EditorHost editor(host, instance);
//   if (!editor.open(error)) ...   // is_api_supported, create, set_scale, get_size, set_parent, show
//   editor.run(200);               // the editor paints and ticks; its edits are flushed
//   editor.window().mouseMove(60, 40); ...
//   editor.close();                // hide, destroy; the window goes
//
// The host's side of the editor: gui.request_resize resizes our window (accepted while open);
// timer-support and posix-fd-support register with the window's run loop (Linux), so the editor
// runs on this thread like any other. While the instance is not processing, run() answers the
// editor's flush requests with params.flush and keeps the events it sends (edits).
//
// Threads: everything on the calling thread, the host's main thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/claphost/host.h"
#include "tools/vst3host/editor.h"

namespace claphost {

class EditorHost final : public GuiHandler {
public:
    EditorHost(Host& host, Instance& instance);
    ~EditorHost() override;  // close()
    EditorHost(const EditorHost&) = delete;
    EditorHost& operator=(const EditorHost&) = delete;

    static const char* api();
    // Opens the editor embedded in our window; with scale > 0, set_scale(scale) first. False with
    // error set on the first failure (nothing stays open).
    bool open(std::string& error, double scale = 0.0);
    void close();
    bool isOpen() const { return created_; }
    // A new scale while open (set_scale): the editor asks for its new size by request_resize.
    bool rescale(double scale, std::string& error);
    // A drag of the window's frame to width x height: adjust_size, our window, set_size.
    bool resize(std::uint32_t width, std::uint32_t height, std::string& error);
    // The size the host knows.
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

    // Runs the UI loop for ms milliseconds, flushing when asked (while not processing).
    void run(std::uint32_t ms);
    // Until the picture is still (vst3host's settle), flushing as run() does.
    bool settle(std::uint32_t timeoutMs = 5000);
    vst3host::EditorHost& window() { return window_; }

    const c::PluginGui* gui = nullptr;
    int resizeRequests = 0;
    std::vector<std::vector<std::uint8_t>> edits;  // events the editor sent through flush

    // GuiHandler
    bool requestResize(std::uint32_t width, std::uint32_t height) override;
    bool registerTimer(std::uint32_t periodMs, c::ClapId* timerId) override;
    bool unregisterTimer(c::ClapId timerId) override;
    bool registerFd(int fd, std::uint32_t flags) override;
    bool modifyFd(int fd, std::uint32_t flags) override;
    bool unregisterFd(int fd) override;

private:
    struct Timer;
    struct Descriptor;
    void flushEdits();

    Host& host_;
    Instance& instance_;
    vst3host::EditorHost window_;
    bool created_ = false;
    std::uint32_t width_ = 0, height_ = 0;
    int flushesAnswered_ = 0;
    // Kept until the host goes: a handler may be unregistered from inside its own call.
    std::vector<std::unique_ptr<Timer>> timers_;
    std::vector<std::unique_ptr<Descriptor>> descriptors_;
    c::ClapId nextTimerId_ = 1;
};

// `claphost editor <file.clap> [options]`: the editor in our window, the actions applied, every
// edit the host received printed, a screenshot saved. Returns the exit code.
int runEditorCommand(const std::vector<std::string>& args, std::string& out, std::string& err);

}  // namespace claphost
