#pragma once
// Win32Window: the Windows window of an editor, a child of the window handle the host gives (or a
// top-level window when there is none). It turns the window's messages into IWindowListener calls:
//
//   - every message runs under the plug-in's floating-point setting (FPControl), and the host's
//     registers are restored before the window procedure returns;
//   - mouse: moves report x, y (signed client coordinates) and the delta to the last move; clicks
//     and releases are reported at the position of the last move (a click without any move comes
//     at (0, 0)); a click takes the focus and the mouse capture (so a drag past the left or top
//     edge gives negative coordinates) and a release gives the capture back; the wheel reports
//     deltaY = delta / 120 (truncated: a high-resolution 60 gives 0) at the wheel's position;
//   - keys: the virtual key is translated (translateKey) and reported with the modifiers held; a
//     key the editor does not handle is forwarded to the top-level window, so the host still gets
//     its shortcuts; WM_CHAR (the host's message loop translates keys) becomes onTextInput in
//     UTF-8, control characters left out, and goes to the host too when the editor takes none;
//   - timer 144 every 15 ms: onAnimate(dt, time), then the refresh sequence; other timers are
//     swallowed;
//   - after every handled input and every tick, the refresh sequence: computeDirtyAreas,
//     dirtyBounds; a non-empty box is invalidated and painted at once (UpdateWindow);
//   - WM_PAINT: onResize when the client size changed, onDraw(BGRA8), then SetDIBitsToDevice of
//     each rectangle of the update region only;
//   - WM_DPICHANGED_AFTERPARENT (a child whose top-level window moved to a monitor of another
//     DPI) and WM_DPICHANGED (a top-level window): onMonitorScaleChanged(DPI / 96);
//   - WM_CLOSE destroys the native window and its class; isClosed() then answers true.
//
// Each window registers its own class, "korvo_" and a random version-4 UUID, so several editors
// (and several copies of the plug-in) never share a window procedure. Failing to register the
// class, to create the window or to read the client rectangle while painting ends the process with
// a message.
//
// Thread contract: [main-thread] — everything on the thread that created the window (the host's
// GUI thread), which becomes the editor's GUI thread.

#if defined(_WIN32)

#include <cstdint>

#include "korvo/core/vec.h"
#include "korvo/graphics/image.h"
#include "korvo/graphics/rect.h"
#include "korvo/window/window.h"

namespace korvo {

class Win32Window final : public IWindow {
public:
    static constexpr std::uintptr_t kTimerId = 144;
    static constexpr std::uint32_t kTimerPeriodMs = 15;

    // parent: an HWND or null. listener: not owned; null makes a window that ignores everything.
    Win32Window(void* parent, IWindowListener* listener, std::int32_t width, std::int32_t height);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    // ---- IWindow --------------------------------------------------------------------------------
    // GetMessageW on this window, then TranslateMessage and DispatchMessageW.
    void pumpOneMessage() override;
    bool isClosed() override { return _closed; }
    // (counter * 1000 + frequency / 2) / frequency of the high-resolution counter.
    std::uint32_t timeMs() override;
    void* nativeHandle() override { return _hwnd; }
    // SetWindowPos to the new client size (child windows: their client area is the window).
    void setSize(std::int32_t width, std::int32_t height) override;
    // ShowWindow.
    void setVisible(bool visible) override;
    void returnFocus() override;
    // The window's DPI / 96: GetDpiForWindow where the system has it, the screen's device caps
    // otherwise.
    float monitorScale() override;

    // The class name ("korvo_" + 36 characters of UUID), NUL-terminated.
    const wchar_t* className() const noexcept { return _className; }

    // Virtual key code to Key: backspace, enter, escape, space, the arrows, digits (top row and
    // numeric keypad), letters (upper case with shift); everything else is unsupported.
    static Key translateKey(std::uint32_t virtualKey, bool shift) noexcept;

    // Handles one message of this window (called by the window procedure, under the guard).
    std::intptr_t handleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    bool hasListener() const noexcept { return _listener != nullptr; }

private:
    std::intptr_t clickSequence(MouseButton button, bool isDoubleClick, std::uintptr_t wParam,
                                std::uint32_t message, std::intptr_t lParam);
    std::intptr_t releaseSequence(MouseButton button, std::uintptr_t wParam, std::uint32_t message,
                                  std::intptr_t lParam);
    std::intptr_t keySequence(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t textSequence(std::uintptr_t wParam, std::intptr_t lParam);
    void refreshSequence();
    void animationSequence();
    void paintSequence();
    void destroyNativeWindow();
    static MouseState mouseState(std::uintptr_t wParam) noexcept;

    void* _hwnd = nullptr;
    void* _instance = nullptr;
    void* _updateRegion = nullptr;
    std::uint8_t* _regionData = nullptr;
    std::uint32_t _regionDataSize = 0;
    Vec<IntRect> _updateRects;
    std::int64_t _counterFrequency = 1;
    std::uint32_t _creationMs = 0;
    std::uint32_t _lastTickMs = 0;
    IWindowListener* _listener;
    ImageView<RGBA> _frame;
    bool _closed = false;
    bool _classRegistered = false;
    std::int32_t _width = 0;
    std::int32_t _height = 0;
    std::int32_t _mouseX = 0;
    std::int32_t _mouseY = 0;
    bool _shiftDown = false;
    std::uint32_t _highSurrogate = 0;  // the first half of a character typed in two WM_CHARs
    wchar_t _className[43] = {};
};

}  // namespace korvo

#endif
