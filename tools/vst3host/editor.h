#pragma once
// EditorHost: opens a plug-in's editor the way a DAW does, in a top-level window of our own, and
// lets a test or a person drive it: run the host's UI loop for a while, give it mouse and key input
// through the system's own input path, and take a screenshot of the window.
//
//   EditorHost editor;
//   if (!editor.open(plugin.controller, error)) ...     // createView, getSize, window, attached
//   editor.run(200);                                     // the editor paints and ticks
//   editor.mouseMove(60, 40); editor.mouseButton(1, true); ...
//   Image shot; editor.screenshot(shot, error);
//   editor.close();                                      // removed, setFrame(nullptr), release
//
// Linux: the window is an X11 window on a connection of our own; the view gets "X11EmbedWindowID"
// and an IPlugFrame whose IRunLoop (runloop.h) is what run() turns. Input goes through XTest, so
// the X server treats it as a person's (pointer grabs, focus). Needs DISPLAY.
// Windows: the window is a Win32 window; the view gets "HWND"; run() pumps the thread's messages.
// Input goes through SendInput.
//
// Coordinates are editor pixels (0, 0 = the view's top-left). Each input call lets the UI loop run
// for a short while afterwards, so the editor sees it before the next one.
//
// Threads: everything on the calling thread, which is the host's UI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvo/vst3/abi.h"
#include "tools/vst3host/host.h"
#include "tools/vst3host/runloop.h"

namespace vst3host {

// RGBA pixels, 4 bytes each, rows top to bottom.
struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgba;
};

class EditorHost {
public:
    EditorHost();
    ~EditorHost();  // close()
    EditorHost(const EditorHost&) = delete;
    EditorHost& operator=(const EditorHost&) = delete;

    // createView("editor"), isPlatformTypeSupported, (with a scale > 0: setContentScaleFactor on
    // the view's IPlugViewContentScaleSupport), getSize, a top-level window of that size,
    // setFrame, attached. False with error set on the first failure (nothing stays open).
    bool open(v::IEditController* controller, std::string& error, float scale = 0.0f);
    // A new content scale while attached, as a host gives when its window moves to another
    // monitor: the view asks for its new size through the frame (resizeView), which resizes our
    // window and calls onSize. False when the view has no scale support or refuses the factor.
    bool rescale(float scale, std::string& error);
    // What a host's window frame does when the user drags it to width x height: checkSizeConstraint,
    // our window to the size it answers, onSize. False when the view refuses.
    bool resize(std::int32_t width, std::int32_t height, std::string& error);
    // removed, setFrame(nullptr), release of the view, then the window goes.
    void close();
    // Our window alone, of width x height, for an editor of another format to embed itself in
    // (nativeWindow() is its parent; run, input and screenshots work as with a view). close()
    // takes it away.
    bool openWindow(std::int32_t width, std::int32_t height, std::string& error);
    void* nativeWindow() const { return windowHandle(); }
    // Our window to a new size (what a host does when the embedded editor asks for one).
    void setWindowSize(std::int32_t width, std::int32_t height);
    // removed only: the view and our window stay, the editor's window goes.
    void detach();
    // attached again on the same view and window, after detach.
    bool reattach(std::string& error);
    bool isOpen() const { return view_ != nullptr; }
    v::IPlugView* view() const { return view_; }
    v::ViewRect size() const { return size_; }
    PlugFrame& frame() { return frame_; }
    // The platform type string given to attached.
    static const char* platformType();
    // The editor's own window inside ours (X11 Window id or HWND; 0 when there is none).
    std::uintptr_t childWindow() const;

    // Runs the host's UI loop for ms milliseconds.
    void run(std::uint32_t ms);
    // Runs until two screenshots taken 60 ms apart agree (at most timeoutMs): the editor has
    // drawn everything it had to. False on timeout.
    bool settle(std::uint32_t timeoutMs = 5000);

    // Input. button: 1 left, 2 middle, 3 right. Key names: "a".."z", "0".."9", "space", "enter",
    // "escape", "backspace", "left", "right", "up", "down", "shift", "ctrl", "alt", "f1".."f12".
    void mouseMove(std::int32_t x, std::int32_t y);
    void mouseButton(int button, bool down);
    void wheel(int notches);
    bool key(const std::string& name, bool down);

    // The window's pixels (alpha 255).
    bool screenshot(Image& out, std::string& error);

    // Time the editor spends on the UI thread: inside its timer and descriptor handlers (Linux) or
    // its window messages (Windows), and the number of its timer ticks, since resetFrameTimes.
    struct FrameTimes {
        std::uint64_t ticks = 0;
        double busyMs = 0.0;  // all of the editor's work, input included
        double longestTickMs = 0.0;
        double msPerTick() const { return ticks > 0 ? busyMs / static_cast<double>(ticks) : 0.0; }
    };
    void resetFrameTimes();
    FrameTimes frameTimes() const;

private:
    struct Platform;
    // The frame's resizeView: our window to the size, then onSize.
    v::tresult resizeFromView(v::IPlugView* view, v::ViewRect* rect);
    void resizeWindow(std::int32_t width, std::int32_t height);
    bool createWindow(std::string& error);
    void destroyWindow();
    void* windowHandle() const;

    std::unique_ptr<Platform> platform_;
    PlugFrame frame_;
    v::IPlugView* view_ = nullptr;
    v::ViewRect size_{};
    bool attached_ = false;
};

// The options both editor commands (vst3host's and claphost's) take.
struct EditorOptions {
    std::uint32_t timeMs = 300;
    std::string shot;
    std::string hostName;
    std::vector<std::string> actions;  // --do actions, and --rescale / --resize as actions
    float scale = 0.0f;                // 0: none given
};
// Takes the option at args[i] when it is one of the shared ones (--time, --shot, --host-name,
// --do, --scale, --rescale, --resize), moving i past its value: 1. Not one of them: 0. A bad
// value: -1, with "COMMAND: what is wrong" in err.
int parseEditorOption(const std::vector<std::string>& args, std::size_t& i, EditorOptions& options,
                      const char* command, std::string& err);

// One input action of the editor commands on an open editor: move:X,Y, down[:BUTTON],
// up[:BUTTON], wheel:N, key:NAME, keydown:NAME, keyup:NAME, wait:MS (wait runs the host's loop
// for that long). Null when done, else what is wrong ("unknown action" for another verb).
const char* applyInputAction(EditorHost& editor, const std::string& verb, const std::string& value,
                             const std::function<void(std::uint32_t)>& wait);

// Writes an image as PNG. False when the file cannot be written.
bool savePNG(const std::string& path, const Image& image);

// `vst3host editor <bundle> [options]`: loads the module, makes an instance of its first audio
// effect class with a recording component handler, opens the editor, applies the actions, runs
// for the given time, prints every edit the handler received and saves a screenshot. Returns the
// process exit code; messages go to out and err.
int runEditorCommand(const std::vector<std::string>& args, std::string& out, std::string& err);

// The part of `vst3host info <bundle> --editor-shot OUT.png` after the info: opens the editor of
// the first audio effect class, lets it settle and saves its screenshot.
bool saveEditorShot(const std::string& path, const std::string& hostName, const std::string& pngPath,
                    std::string& out);

}  // namespace vst3host
