#pragma once
// The platform window interface and the listener through which a window drives an editor.
//
// A window backend delivers, on the GUI thread:
//   - input: onMouseMove / onMouseClick / onMouseRelease / onMouseWheel / onKeyDown / onKeyUp /
//     onTextInput /
//     onCaptureLost, coordinates in editor pixels, mouse state as in MouseState;
//   - an animation tick every 15 ms: onAnimate(dt, time) in seconds;
//   - after every handled input event and every tick, the refresh sequence: computeDirtyAreas,
//     then dirtyBounds; a non-empty box is invalidated and painted;
//   - on paint: onResize(width, height) when the client size changed (its returned view is the
//     buffer the window shows), then onDraw(pixel order), then a copy of the updated area of that
//     buffer to the screen.
// Clicks and releases come at the position of the last move (a click before any move at (0, 0));
// wheel deltas are in notches, wheelNotches of the platform's delta (120 per notch).
//
// Backends: HeadlessWindow (tests, tools), Win32Window (Windows), X11Window (Linux); the default
// for a plug-in's editor is createPlatformWindow (factory.h).
//
// Thread contract: [main-thread] (the window's thread) for every operation of both interfaces.

#include <cstdint>
#include <string_view>

#include "korvo/graphics/image.h"
#include "korvo/graphics/rect.h"
#include "korvo/window/input.h"

namespace korvo {

class IWindow {
public:
    virtual ~IWindow() = default;
    // Waits for one message of the window's thread and handles it.
    virtual void pumpOneMessage() = 0;
    // The window has been asked to close.
    virtual bool isClosed() = 0;
    // Milliseconds of the window's clock.
    virtual std::uint32_t timeMs() = 0;
    // The native window handle (HWND on Windows, the X11 Window id cast to a pointer on Linux).
    virtual void* nativeHandle() = 0;
    // Changes the client size (device pixels); the listener gets onResize at the next paint.
    // [nothing]
    virtual void setSize(std::int32_t width, std::int32_t height) {
        (void)width;
        (void)height;
    }
    // The scale of the monitor the window is on (device pixels per 96-dpi pixel), 0 when the
    // platform does not say. [0]
    virtual float monitorScale() { return 0.0f; }
    // Shows or hides the window (a new one shows). [nothing]
    virtual void setVisible(bool visible) { (void)visible; }
    // Gives the keyboard focus back to the parent (the host's window) after typing in the
    // editor ended; a window without a parent keeps it. [nothing]
    virtual void returnFocus() {}
};

// Notches of a wheel delta in the Windows unit (120 per notch), truncated toward zero: a
// high-resolution delta of 60 gives 0.
constexpr std::int32_t wheelNotches(std::int32_t delta) noexcept {
    return delta / 120;
}

class IWindowListener {
public:
    virtual ~IWindowListener() = default;
    virtual bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                              MouseState mouseState) = 0;
    virtual bool onMouseRelease(std::int32_t x, std::int32_t y, MouseButton button,
                                MouseState mouseState) = 0;
    virtual bool onMouseWheel(std::int32_t x, std::int32_t y, std::int32_t wheelDeltaX,
                              std::int32_t wheelDeltaY, MouseState mouseState) = 0;
    virtual void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                             MouseState mouseState) = 0;
    // A key, with the modifiers held (shift, ctrl, alt; the buttons unused); true = the editor
    // used it (otherwise it goes on to the host).
    virtual bool onKeyDown(Key key, MouseState modifiers) = 0;
    virtual bool onKeyUp(Key key, MouseState modifiers) = 0;
    // The text a key press typed (UTF-8), after its onKeyDown; true = taken. [false]
    virtual bool onTextInput(std::string_view text) {
        (void)text;
        return false;
    }
    // Renders the frame into the buffer returned by the last onResize, in the given byte order.
    virtual void onDraw(PixelOrder pixelOrder) = 0;
    // The client size changed; returns the view of the buffer the window copies from.
    virtual ImageView<RGBA> onResize(std::int32_t width, std::int32_t height) = 0;
    virtual void computeDirtyAreas() = 0;
    // The box the next frame will change (empty when nothing).
    virtual IntRect dirtyBounds() = 0;
    virtual void onCaptureLost() = 0;
    virtual void onAnimate(double dt, double time) = 0;
    // The window moved to a monitor of another scale. [nothing]
    virtual void onMonitorScaleChanged(float scale) { (void)scale; }
};

}  // namespace korvo
