#pragma once
// HeadlessWindow: a window without a screen, for tests and command-line tools. It drives its
// listener exactly as a platform window does, but the events come from method calls:
//
//   gui.setWindowFactory(&HeadlessWindow::create);
//   gui.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
//   auto& window = *static_cast<HeadlessWindow*>(gui.window());
//   window.paint();                       // the first paint delivers the size
//   window.mouseMove(10, 20);             // input, then the refresh sequence
//   window.tick();                        // a 15 ms animation tick, then the refresh sequence
//   ImageView<RGBA> pixels = window.screen();
//
// Order of calls on the listener (the same as the Win32 window's):
//   - input: the listener call; when it was handled (moves always count), the refresh sequence;
//   - refresh: computeDirtyAreas, dirtyBounds; a non-empty box is added to the invalid area and
//     painted at once (as UpdateWindow does);
//   - paint: onResize when the client size differs from the last one seen, onDraw with the
//     window's pixel order, then the invalid area is copied from the listener's buffer to the
//     screen and the invalid area is emptied.
// Clicks and releases are reported at the position of the last move, like the Win32 window.
// The clock is virtual: it starts at 0 and only tick() and advanceTime() move it.
//
// Thread contract: [main-thread] for everything.

#include <cstdint>

#include "korvo/window/backend.h"
#include "korvo/core/nogc.h"
#include "korvo/graphics/image.h"
#include "korvo/window/eventloop.h"
#include "korvo/window/window.h"

namespace korvo {

class HeadlessWindow final : public IWindow {
public:
    static constexpr std::uint32_t kTickMs = 15;

    // The listener is not owned and may be null (then every event is ignored). The whole client
    // area starts invalid, as a new window does.
    HeadlessWindow(IWindowListener* listener, std::int32_t width, std::int32_t height,
                   PixelOrder pixelOrder = PixelOrder::RGBA8);
    ~HeadlessWindow() override;

    // A WindowFactory for GUIGraphics: a headless window whatever the backend.
    static HeapPtr<IWindow> create(void* parent, IWindowListener* listener, std::int32_t width,
                                   std::int32_t height, WindowBackend backend, IEventLoop* eventLoop);

    // ---- IWindow ----------------------------------------------------------------------------------
    // Paints when something is invalid, otherwise delivers one animation tick.
    void pumpOneMessage() override;
    bool isClosed() override { return closed_; }
    std::uint32_t timeMs() override { return clockMs_; }
    void* nativeHandle() override { return this; }
    // As resize.
    void setSize(std::int32_t width, std::int32_t height) override { resize(width, height); }

    // ---- Events -----------------------------------------------------------------------------------
    void mouseMove(std::int32_t x, std::int32_t y, MouseState state = {});
    // Press and release at the last move position; return whether the listener handled them.
    bool mouseDown(MouseButton button, MouseState state = {}, bool isDoubleClick = false);
    bool mouseUp(MouseButton button, MouseState state = {});
    // Move there, press and release.
    bool click(std::int32_t x, std::int32_t y, MouseButton button = MouseButton::left);
    // Wheel at the last move position, in notches.
    bool wheel(std::int32_t deltaX, std::int32_t deltaY, MouseState state = {});
    bool keyDown(Key key, MouseState modifiers = {});
    bool keyUp(Key key, MouseState modifiers = {});
    // Text as a key press types it (after its keyDown).
    bool textInput(std::string_view text);
    // Another window took the mouse capture.
    void loseCapture();
    // Advances the clock by 15 ms and delivers onAnimate, then the refresh sequence.
    void tick();
    void advanceTime(std::uint32_t ms) { clockMs_ += ms; }
    // Changes the client size; the whole area becomes invalid (painted at the next paint).
    void resize(std::int32_t width, std::int32_t height);
    // Paints the invalid area (nothing when it is empty and the size did not change).
    void paint();
    // Marks a box invalid, as the OS does when a window is uncovered.
    void invalidate(IntRect box);
    void close() { closed_ = true; }

    // ---- Read-back --------------------------------------------------------------------------------
    // The pixels shown so far, in the window's pixel order.
    ImageView<RGBA> screen() noexcept { return screen_->view(); }
    std::int32_t width() const noexcept { return width_; }
    std::int32_t height() const noexcept { return height_; }
    std::int32_t paintCount() const noexcept { return paintCount_; }
    IntRect lastPaintedBox() const noexcept { return lastPainted_; }
    IntRect invalidBox() const noexcept { return invalid_; }

private:
    void refresh();

    IWindowListener* listener_;
    PixelOrder pixelOrder_;
    std::int32_t width_;
    std::int32_t height_;
    std::int32_t seenWidth_ = 0;  // client size last delivered with onResize
    std::int32_t seenHeight_ = 0;
    ImageView<RGBA> frame_;
    HeapPtr<OwnedImage<RGBA>> screen_;
    IntRect invalid_;
    IntRect lastPainted_;
    std::int32_t paintCount_ = 0;
    std::int32_t mouseX_ = 0;
    std::int32_t mouseY_ = 0;
    std::uint32_t clockMs_ = 0;
    std::uint32_t creationMs_ = 0;
    std::uint32_t lastTickMs_ = 0;
    bool closed_ = false;
};

}  // namespace korvo
