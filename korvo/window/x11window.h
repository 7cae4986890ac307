#pragma once
// X11Window: the Linux window of an editor on Xlib, a child of the X11 window the host gives (or a
// top-level window when there is none). It has no thread of its own: it runs on the host's event
// loop (IEventLoop, on Linux the VST3 host's IRunLoop), with a 15 ms timer for the animation
// sequence and a handler on the X connection's file descriptor for input and exposure. Without a
// loop it runs only when its owner calls pumpOneMessage.
//
// It drives its listener exactly as the Win32 window does:
//   - every entry (timer, descriptor, pumpOneMessage) runs under the plug-in's floating-point
//     setting (FPControl) and restores the host's before returning;
//   - focus: the window takes the keyboard focus when it is mapped and on every click;
//   - mouse: moves report x, y and the delta to the last move; clicks and releases come at the
//     position of the last move (a click without any move at (0, 0)); the pointer stays with the window while
//     a button is held (X's implicit grab), so a drag past the left or top edge gives negative coordinates; a
//     release first ends the capture (onCaptureLost), then onMouseRelease; a second press of the same button
//     within 500 ms and 4 pixels is a double click; the state bits are those of Win32 (the pressed button is
//     in the state of its click, the released one no longer in the state of its release);
//   - wheel: one notch (buttons 4 and 5) is a delta of +-120, reported as wheelNotches (+-1) at the
//     wheel's position;
//   - keys: the unshifted key symbol is translated (translateKey: letters upper case with shift,
//     so Ctrl+A gives `a`) and reported with the modifiers held; a press then reports the text it
//     types (onTextInput: the key map's Latin-1 as UTF-8, control characters left out);
//     auto-repeat sends presses only, as on Windows; a key (and text) the editor does not handle
//     is sent on to the top-level window so the host still gets it;
//   - a tick every 15 ms: onAnimate(dt, time), then the refresh sequence;
//   - after every handled input and every tick, the refresh sequence: computeDirtyAreas,
//     dirtyBounds; a non-empty box is added to the update region and painted at once;
//   - size: setSize resizes the window (a parent's resize does not); its scale is the server's
//     Xft.dpi resource read when the connection opens (96 dpi = 1);
//   - exposure: the exposed rectangles are collected; with the last one, the paint sequence:
//     onResize when the size changed, onDraw in the visual's byte order (BGRA8 on a usual 24-bit
//     TrueColor visual), then XPutImage of each rectangle of the update region only.
//
// The window announces XEmbed support (_XEMBED_INFO, mapped). It opens its own connection to the
// X server (the DISPLAY of the process); X errors on that connection (for instance after the host
// destroyed the parent window first) are ignored, and errors of the host's own connections still
// reach the host's handler. Everything the window made on the server goes with its connection.
//
// Thread contract: [main-thread] — everything on the event loop's thread (the host's UI thread).

#include <cstdint>

#include "korvo/core/nogc.h"
#include "korvo/core/vec.h"
#include "korvo/graphics/image.h"
#include "korvo/graphics/rect.h"
#include "korvo/window/eventloop.h"
#include "korvo/window/window.h"

namespace korvo {

class X11Window final : public IWindow, private IEventLoopClient {
public:
    static constexpr std::uint32_t kTickMs = 15;
    static constexpr std::uint32_t kDoubleClickMs = 500;
    static constexpr std::int32_t kDoubleClickDistance = 4;  // pixels, each way

    // parent: an X11 Window id cast to a pointer, or null for a top-level window. Null when the X
    // display cannot be opened or has no 24-bit TrueColor visual.
    static HeapPtr<X11Window> create(void* parent, IWindowListener* listener, std::int32_t width,
                                     std::int32_t height, IEventLoop* eventLoop);
    ~X11Window() override;
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    // ---- IWindow --------------------------------------------------------------------------------
    // Handles what the X connection has queued; when nothing was there, waits for X events or the
    // next tick (whichever comes first) and handles that.
    void pumpOneMessage() override;
    bool isClosed() override { return _closed; }
    // Milliseconds of the monotonic clock, rounded.
    std::uint32_t timeMs() override;
    void* nativeHandle() override;
    // Resizes the window on the server; the next paint delivers the size (onResize).
    void setSize(std::int32_t width, std::int32_t height) override;
    // XMapWindow / XUnmapWindow.
    void setVisible(bool visible) override;
    void returnFocus() override;
    // The X server's Xft.dpi resource / 96 (what desktops set for a HiDPI screen), 0 without it.
    float monitorScale() override;

    // The dots per inch an "Xft.dpi:" line of a resource database string gives (the last such
    // line wins), 0 when there is none or it is not a positive number.
    static double xftDpiOf(const char* resources) noexcept;

    // X key symbol (of the unshifted key) to Key: BackSpace, Return and KP_Enter, Escape, space,
    // the arrows, digits (top row, and the keypad with Num Lock), letters (upper case with shift);
    // everything else is unsupported.
    static Key translateKey(unsigned long keySymbol, bool shift) noexcept;

    // The X Window id and the connection (a Display*), for tools and tests.
    unsigned long windowId() const noexcept { return _window; }
    void* display() const noexcept { return _display; }
    // The byte order the window asks onDraw for.
    PixelOrder pixelOrder() const noexcept { return _pixelOrder; }
    // Handles everything queued on the connection (also what an earlier request read along).
    void processEvents();

    // Used by create; call create instead.
    X11Window(IWindowListener* listener, IEventLoop* eventLoop) noexcept;

private:
    bool open(void* parent, std::int32_t width, std::int32_t height);
    void onFileReady(int fd) override;
    void onTimer() override;
    void dispatch(void* event);
    void refreshSequence();
    void animationSequence();
    void paintSequence();
    void clickSequence(int button, void* event);
    void releaseSequence(int button, void* event);
    void keySequence(void* event, bool down);
    void addUpdateRect(IntRect rect);
    void destroyNativeWindow();
    MouseState mouseState(unsigned int xState) const noexcept;
    unsigned long topLevelWindow();

    IWindowListener* _listener;
    IEventLoop* _eventLoop;
    void* _display = nullptr;  // Display*
    unsigned long _window = 0;
    unsigned long _parent = 0;
    unsigned long _colormap = 0;
    void* _gc = nullptr;      // GC
    void* _visual = nullptr;  // Visual*
    void* _image = nullptr;   // XImage* over the listener's buffer
    unsigned long _wmDeleteWindow = 0;
    PixelOrder _pixelOrder = PixelOrder::BGRA8;
    ImageView<RGBA> _frame;
    Vec<IntRect> _updateRects;
    std::int32_t _clientWidth = 0;  // size of the window on the server
    std::int32_t _clientHeight = 0;
    std::int32_t _width = 0;  // size last given to onResize
    std::int32_t _height = 0;
    std::int32_t _mouseX = 0;
    std::int32_t _mouseY = 0;
    bool _x1Down = false;
    bool _x2Down = false;
    bool _captured = false;
    bool _closed = false;
    bool _registered = false;
    int _lastPressButton = 0;
    unsigned long _lastPressTime = 0;
    std::int32_t _lastPressX = 0;
    std::int32_t _lastPressY = 0;
    bool _lastPressWasDouble = false;
    std::uint32_t _creationMs = 0;
    std::uint32_t _lastTickMs = 0;
};

}  // namespace korvo
