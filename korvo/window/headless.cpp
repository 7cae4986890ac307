// The headless window: platform-free delivery of input, ticks and paints.
#include "korvo/window/headless.h"

namespace korvo {

HeadlessWindow::HeadlessWindow(IWindowListener* listener, std::int32_t width, std::int32_t height,
                               PixelOrder pixelOrder)
    : listener_(listener),
      pixelOrder_(pixelOrder),
      width_(width < 0 ? 0 : width),
      height_(height < 0 ? 0 : height),
      screen_(makeHeap<OwnedImage<RGBA>>(width_, height_)),
      invalid_{{0, 0}, {width_, height_}} {
    fill(screen_->view(), RGBA{});
}

HeadlessWindow::~HeadlessWindow() = default;

HeapPtr<IWindow> HeadlessWindow::create(void*, IWindowListener* listener, std::int32_t width,
                                        std::int32_t height, WindowBackend, IEventLoop*) {
    return HeapPtr<IWindow>(heapNew<HeadlessWindow>(listener, width, height));
}

void HeadlessWindow::pumpOneMessage() {
    if (!invalid_.empty() || width_ != seenWidth_ || height_ != seenHeight_)
        paint();
    else
        tick();
}

void HeadlessWindow::refresh() {
    if (listener_ == nullptr) return;
    listener_->computeDirtyAreas();
    const IntRect bounds = listener_->dirtyBounds();
    if (bounds.empty()) return;
    invalidate(bounds);
    paint();
}

void HeadlessWindow::invalidate(IntRect box) {
    invalid_ = invalid_.expandedBy(box.intersection(IntRect{{0, 0}, {width_, height_}}));
}

void HeadlessWindow::paint() {
    if (listener_ == nullptr) return;
    const bool resized = width_ != seenWidth_ || height_ != seenHeight_;
    if (invalid_.empty() && !resized) return;
    if (resized) {
        seenWidth_ = width_;
        seenHeight_ = height_;
        frame_ = listener_->onResize(width_, height_);
    }
    listener_->onDraw(pixelOrder_);
    const IntRect box = invalid_.intersection(frame_.bounds()).intersection(screen_->view().bounds());
    if (!box.empty()) copyBox(frame_.sub(box), screen_->view().sub(box));
    lastPainted_ = box;
    invalid_ = IntRect{};
    ++paintCount_;
}

void HeadlessWindow::mouseMove(std::int32_t x, std::int32_t y, MouseState state) {
    if (listener_ == nullptr) return;
    const std::int32_t dx = x - mouseX_, dy = y - mouseY_;
    listener_->onMouseMove(x, y, dx, dy, state);
    mouseX_ = x;
    mouseY_ = y;
    refresh();
}

bool HeadlessWindow::mouseDown(MouseButton button, MouseState state, bool isDoubleClick) {
    if (listener_ == nullptr) return false;
    const bool handled = listener_->onMouseClick(mouseX_, mouseY_, button, isDoubleClick, state);
    if (handled) refresh();
    return handled;
}

bool HeadlessWindow::mouseUp(MouseButton button, MouseState state) {
    if (listener_ == nullptr) return false;
    const bool handled = listener_->onMouseRelease(mouseX_, mouseY_, button, state);
    if (handled) refresh();
    return handled;
}

bool HeadlessWindow::click(std::int32_t x, std::int32_t y, MouseButton button) {
    mouseMove(x, y);
    MouseState state;
    state.left = button == MouseButton::left;
    state.right = button == MouseButton::right;
    state.middle = button == MouseButton::middle;
    const bool handled = mouseDown(button, state);
    mouseUp(button, MouseState{});
    return handled;
}

bool HeadlessWindow::wheel(std::int32_t deltaX, std::int32_t deltaY, MouseState state) {
    if (listener_ == nullptr) return false;
    const bool handled = listener_->onMouseWheel(mouseX_, mouseY_, deltaX, deltaY, state);
    if (handled) refresh();
    return handled;
}

bool HeadlessWindow::keyDown(Key key, MouseState modifiers) {
    if (listener_ == nullptr) return false;
    const bool handled = listener_->onKeyDown(key, modifiers);
    if (handled) refresh();
    return handled;
}

bool HeadlessWindow::keyUp(Key key, MouseState modifiers) {
    if (listener_ == nullptr) return false;
    const bool handled = listener_->onKeyUp(key, modifiers);
    if (handled) refresh();
    return handled;
}

bool HeadlessWindow::textInput(std::string_view text) {
    if (listener_ == nullptr) return false;
    const bool handled = listener_->onTextInput(text);
    if (handled) refresh();
    return handled;
}

void HeadlessWindow::loseCapture() {
    if (listener_ != nullptr) listener_->onCaptureLost();
}

void HeadlessWindow::tick() {
    clockMs_ += kTickMs;
    if (listener_ == nullptr) return;
    const std::uint32_t now = clockMs_;
    const double dt = static_cast<double>(now - lastTickMs_) * 0.001;
    const double time = static_cast<double>(now - creationMs_) * 0.001;
    lastTickMs_ = now;
    listener_->onAnimate(dt, time);
    refresh();
}

void HeadlessWindow::resize(std::int32_t width, std::int32_t height) {
    width_ = width < 0 ? 0 : width;
    height_ = height < 0 ? 0 : height;
    screen_->setSize(width_, height_);
    fill(screen_->view(), RGBA{});
    invalid_ = IntRect{{0, 0}, {width_, height_}};
}

}  // namespace korvo
