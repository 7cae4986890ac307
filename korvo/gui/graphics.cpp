// The editor's renderer: the window listener, the editor's life, scale and size, and its buffers;
// the frame itself is drawn by graphics_frame.cpp, graphics_dirty.cpp, graphics_changes.cpp and
// graphics_pixels.cpp.
#include "korvo/gui/graphics.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "korvo/client/params.h"
#include "korvo/core/fpcontrol.h"
#include "korvo/gui/graphicsparts.h"
#include "korvo/window/factory.h"

namespace korvo {

using namespace renderparts;

// ---- Window listener ------------------------------------------------------------------------------

namespace {
// Marks the calling thread as the one dispatching an input event for the event's length.
class DispatchingInput {
public:
    explicit DispatchingInput(UIContext& context) noexcept : context_(context) {
        context_.inputThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    ~DispatchingInput() { context_.inputThread.store(std::thread::id{}, std::memory_order_relaxed); }
    DispatchingInput(const DispatchingInput&) = delete;
    DispatchingInput& operator=(const DispatchingInput&) = delete;

private:
    UIContext& context_;
};
}  // namespace

bool WindowListener::onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                                  MouseState mouseState) {
    const DispatchingInput dispatching(graphics_->uiContext());
    UIContext& context = graphics_->uiContext();
    UIElement* target = context.modal != nullptr ? context.modal : graphics_;
    graphics_->notePointer(x, y);
    graphics_->clearKeyFocus();
    if (button == MouseButton::right && context.modal == nullptr && graphics_->offersParameterMenu()) {
        if (Parameter* p = graphics_->UIElement::parameterAt(x, y)) {
            menuParameter_ = p;
            menuAt_ = IntPoint{x, y};
            return true;
        }
    }
    const bool handled = target->mouseClick(x, y, button, isDoubleClick, mouseState);
    if (!handled && context.focused != nullptr) {
        context.focused->onFocusExit();
        context.focused = nullptr;
    }
    return handled;
}

bool WindowListener::onMouseRelease(std::int32_t, std::int32_t, MouseButton, MouseState) {
    const DispatchingInput dispatching(graphics_->uiContext());
    onCaptureLost();
    if (Parameter* p = menuParameter_) {
        menuParameter_ = nullptr;
        graphics_->openParameterMenu(*p, menuAt_);
    }
    return true;
}

void WindowListener::onCaptureLost() {
    UIContext& context = graphics_->uiContext();
    if (context.dragged != nullptr) {
        context.dragged->onStopDrag();
        context.dragged = nullptr;
    }
}

bool WindowListener::onMouseWheel(std::int32_t x, std::int32_t y, std::int32_t wheelDeltaX,
                                  std::int32_t wheelDeltaY, MouseState mouseState) {
    const DispatchingInput dispatching(graphics_->uiContext());
    UIElement* modal = graphics_->uiContext().modal;
    return (modal != nullptr ? modal : graphics_)->mouseWheel(x, y, wheelDeltaX, wheelDeltaY, mouseState);
}

void WindowListener::onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                                 MouseState mouseState) {
    const DispatchingInput dispatching(graphics_->uiContext());
    graphics_->notePointer(x, y);
    UIElement* modal = graphics_->uiContext().modal;
    (modal != nullptr ? modal : graphics_)->mouseMove(x, y, dx, dy, mouseState);
}

bool WindowListener::onKeyDown(Key key, MouseState modifiers) {
    const DispatchingInput dispatching(graphics_->uiContext());
    UIContext& context = graphics_->uiContext();
    context.keyModifiers = modifiers;
    UIElement* focused = context.focused;
    if (focused != nullptr && focused->onKeyDown(key)) return true;
    if (graphics_->controlKey(key, modifiers)) return true;
    return graphics_->keyDown(key);
}

bool WindowListener::onKeyUp(Key key, MouseState modifiers) {
    const DispatchingInput dispatching(graphics_->uiContext());
    UIContext& context = graphics_->uiContext();
    context.keyModifiers = modifiers;
    UIElement* focused = context.focused;
    if (focused != nullptr && focused->onKeyUp(key)) return true;
    return graphics_->keyUp(key);
}

bool WindowListener::onTextInput(std::string_view text) {
    const DispatchingInput dispatching(graphics_->uiContext());
    UIElement* focused = graphics_->uiContext().focused;
    return focused != nullptr && focused->onTextInput(text);
}

void WindowListener::onDraw(PixelOrder pixelOrder) {
    graphics_->drawFrame(pixelOrder);
}

ImageView<RGBA> WindowListener::onResize(std::int32_t width, std::int32_t height) {
    return graphics_->onResize(width, height);
}

void WindowListener::computeDirtyAreas() {
    graphics_->computeDirtyAreas();
}

IntRect WindowListener::dirtyBounds() {
    return graphics_->dirtyBounds();
}

void WindowListener::onAnimate(double dt, double time) {
    graphics_->animate(dt, time);
}

void WindowListener::onMonitorScaleChanged(float scale) {
    graphics_->setMonitorScale(scale);
}

// ---- Construction -----------------------------------------------------------------------------------

GUIGraphics::GUIGraphics(std::int32_t width, std::int32_t height, ElementFlags flags)
    : UIElement(nullptr, flags),
      _compositor(makeHeap<PBRCompositor>()),
      _uiContext(makeHeap<UIContext>()),
      _windowListener(makeHeap<WindowListener>(this)),
      _threadPool(makeHeap<ThreadPool>(0, 2, 0)),
      _editorWidth(width),
      _editorHeight(height),
      _baseWidth(width),
      _baseHeight(height),
      _diffusePyramid(makeHeap<Mipmap<RGBA>>()),
      _depthPyramid(makeHeap<Mipmap<L16>>()),
      _materialPyramid(makeHeap<Mipmap<RGBA>>()) {
    _context = _uiContext.get();
}

GUIGraphics::~GUIGraphics() {
    // Only the window goes here: the elements' callbacks may refer to things already destroyed.
    _window.reset();
    // The children refer to the context: destroy them while it still exists.
    for (UIElement* child : _children) heapDelete(child);
    _children.clear();
    _uiContext.reset();
    _context = nullptr;
    _threadPool.reset();
    _compositor.reset();
    _diffusePyramid.reset();
    _depthPyramid.reset();
    _materialPyramid.reset();
    _windowListener.reset();
    releaseMirror(_diffuseMirror);
    releaseMirror(_depthMirror);
    alignedRelease(_litBuffer, kBufferAlignment);
    alignedRelease(_shownBuffer, kBufferAlignment);
    alignedRelease(_glowBaseBuffer, kBufferAlignment);
}

void* GUIGraphics::openUI(void* parentWindow, void* controlInfo, HostKind, WindowBackend backend) {
    _window.reset();
    auto* eventLoop = static_cast<IEventLoop*>(controlInfo);
    WindowFactory factory = _windowFactory;
    if (factory == nullptr && parentWindow != nullptr) factory = &createPlatformWindow;
    if (factory != nullptr)
        _window =
            factory(parentWindow, _windowListener.get(), _editorWidth, _editorHeight, backend, eventLoop);
    // The monitor the window opened on has the last word (the host's factor excepted).
    if (_window) {
        const float monitor = _window->monitorScale();
        _opening = true;
        if (monitor > 0.0f) setMonitorScale(monitor);
        _opening = false;
    }
    reflow(IntRect{{0, 0}, {_editorWidth, _editorHeight}});
    windowOpened();
    setDirtyAll(DirtyLayer::fromFlags);
    return _window ? _window->nativeHandle() : nullptr;
}

void GUIGraphics::closeUI() {
    // A window closed in the middle of a gesture ends it: the dragged control ends its edit (the
    // host's gesture closes, the hint lets go), and focus and hover go with the window, so the
    // next window starts with nothing held.
    UIContext& context = uiContext();
    if (context.dragged != nullptr) {
        context.dragged->onStopDrag();
        context.dragged = nullptr;
    }
    if (context.focused != nullptr) {
        context.focused->onFocusExit();
        context.focused = nullptr;
    }
    forgetPointer();
    clearKeyFocus();
    _pointerKnown = false;
    _window.reset();
}

void GUIGraphics::getGUISize(std::int32_t* width, std::int32_t* height) {
    // Asked before any window exists: the platform's screen scale stands for the monitor's.
    if (!_monitorProbed && _windowFactory == nullptr && !_window) {
        _monitorProbed = true;
        const float monitor = platformMonitorScale();
        if (monitor > 0.0f) setMonitorScale(monitor);
    }
    if (width != nullptr) *width = _editorWidth;
    if (height != nullptr) *height = _editorHeight;
}

void GUIGraphics::setLitMargin(std::int32_t margin) {
    _litMarginBase = margin < 0 ? 0 : margin;
    _litMargin = static_cast<std::int32_t>(std::ceil(static_cast<double>(_litMarginBase) * drawScale()));
}

// ---- Scale and size -----------------------------------------------------------------------------------

void GUIGraphics::setScale(float scale) {
    if (!(scale > 0.0f)) scale = scale != scale ? 1.0f : kMaxScale;
    if (scale > kMaxScale) scale = kMaxScale;
    // A scale set from outside is not overridden by the platform's guess before a window exists.
    _monitorProbed = true;
    if (scale == _uiContext->scale) return;
    _uiContext->scale = scale;
    _editorWidth = scaleCoord(_baseWidth, scale);
    _editorHeight = scaleCoord(_baseHeight, scale);
    for (UIElement* child : _children) child->applyScale();
    onScaleChanged();
    setLitMargin(_litMarginBase);
    _compositor->setScale(scale);
    _comparedArea = static_cast<std::int64_t>(static_cast<double>(kComparedArea) * scale * scale);
    // The buffers follow at the window's next paint (onResize); a window of the old size is
    // resized now. The pyramids' depth depends on the scale: at an unchanged size they are made
    // anew right here.
    if (_window) _window->setSize(_editorWidth, _editorHeight);
    if (_bufferWidth == _editorWidth && _bufferHeight == _editorHeight && _bufferWidth > 0)
        onResize(_editorWidth, _editorHeight);
    _uiContext->dirtyListPBR.addRect(IntRect{{0, 0}, {_editorWidth, _editorHeight}});
}

float GUIGraphics::wantedScale() const noexcept {
    const float s = screenScale() * _userZoom;
    return s > kMaxScale ? kMaxScale : s;
}

void GUIGraphics::followWantedScale(AskHost ask) {
    const std::int32_t oldWidth = _editorWidth, oldHeight = _editorHeight;
    setScale(wantedScale());
    if (ask == AskHost::yes && _window && _hostCommand != nullptr &&
        (_editorWidth != oldWidth || _editorHeight != oldHeight))
        _hostCommand->requestResize(_editorWidth, _editorHeight);
}

bool GUIGraphics::setHostScale(float scale) {
    if (!(scale >= kMinHostScale && scale <= kMaxHostScale)) return false;
    _hostScale = scale;
    followWantedScale(AskHost::no);
    return true;
}

void GUIGraphics::setMonitorScale(float scale) {
    if (!(scale >= kMinHostScale && scale <= kMaxHostScale)) return;
    _monitorScale = scale;
    // A window that moved to another monitor tells the host itself; the monitor a window opens on
    // is the host's to follow after it attached the editor.
    if (_hostScale <= 0.0f) followWantedScale(_opening ? AskHost::no : AskHost::yes);
}

void GUIGraphics::setUserZoom(float zoom) {
    if (zoom != zoom) return;
    _userZoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    followWantedScale(AskHost::no);
}

void GUIGraphics::chooseUserZoom(float zoom) {
    if (zoom != zoom) return;
    _userZoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    followWantedScale(AskHost::yes);
}

void GUIGraphics::constrainSize(std::int32_t* width, std::int32_t* height) {
    if (width == nullptr || height == nullptr) return;
    // The scale whose size lies nearest the request (least squares along the aspect line).
    const double bw = _baseWidth, bh = _baseHeight;
    double s = (static_cast<double>(*width) * bw + static_cast<double>(*height) * bh) / (bw * bw + bh * bh);
    const double screen = screenScale();
    const double lo = screen * kMinZoom, hi = std::min<double>(screen * kMaxZoom, kMaxScale);
    s = std::clamp(s, lo, hi);
    *width = scaleCoord(_baseWidth, s);
    *height = scaleCoord(_baseHeight, s);
}

bool GUIGraphics::setGUISize(std::int32_t width, std::int32_t height) {
    if (width == _editorWidth && height == _editorHeight) return true;
    if (width <= 0 || height <= 0) return false;
    const double s =
        std::min(static_cast<double>(width) / _baseWidth, static_cast<double>(height) / _baseHeight);
    _userZoom = static_cast<float>(
        std::clamp(s / screenScale(), static_cast<double>(kMinZoom), static_cast<double>(kMaxZoom)));
    setScale(wantedScale());
    return true;
}

ImageView<RGBA> GUIGraphics::bufferView(RGBA* buffer) const noexcept {
    return ImageView<RGBA>{_bufferWidth, _bufferHeight, static_cast<std::ptrdiff_t>(_bufferWidth) * 4,
                           buffer};
}

ImageView<RGBA> GUIGraphics::litView() const noexcept {
    return bufferView(_litBuffer);
}

ImageView<RGBA> GUIGraphics::shownView() const noexcept {
    return bufferView(_shownBuffer);
}

// ---- Resize -----------------------------------------------------------------------------------------

ImageView<RGBA> GUIGraphics::onResize(std::int32_t width, std::int32_t height) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    _editorWidth = width;
    _editorHeight = height;
    reflow(IntRect{{0, 0}, {width, height}});

    // Level 0, and the levels up to the highest the lighting samples that both sides reach (at
    // 100 %: 1 to 5 for the glow, 1 to 4 for ambient occlusion).
    int diffuseLevels = 0, depthLevels = 0;
    if (width > 0 && height > 0) {
        const int glowTop = _compositor->glowLevels().last(),
                  occlusionTop = _compositor->occlusionLevels().last();
        diffuseLevels = depthLevels = 1;
        for (int level = 1; level <= std::max(glowTop, occlusionTop) && level < 31; ++level) {
            const std::int32_t step = std::int32_t{1} << level;
            if (width < step || height < step) break;
            if (level <= glowTop) ++diffuseLevels;
            if (level <= occlusionTop) ++depthLevels;
        }
    }
    const bool changed = width != _bufferWidth || height != _bufferHeight || _layersScale != drawScale();
    _layersScale = drawScale();
    _diffusePyramid->setSize(diffuseLevels - 1, width, height);
    _depthPyramid->setSize(depthLevels - 1, width, height);
    _materialPyramid->setSize(diffuseLevels > 0 ? 0 : -1, width, height);

    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    _litBuffer = static_cast<RGBA*>(alignedResize(_litBuffer, bytes, kBufferAlignment));
    _shownBuffer = static_cast<RGBA*>(alignedResize(_shownBuffer, bytes, kBufferAlignment));
    _bufferWidth = width;
    _bufferHeight = height;
    if (changed) {
        // Whatever was shown belongs to the old size: the whole editor is drawn again.
        _uiContext->dirtyListPBR.addRect(IntRect{{0, 0}, {width, height}});
        // New storage holds garbage; frames light neighbours of dirty areas, so start from black.
        for (int i = 0; i < _diffusePyramid->numLevels(); ++i) fill(_diffusePyramid->level(i).view(), RGBA{});
        for (int i = 0; i < _depthPyramid->numLevels(); ++i) fill(_depthPyramid->level(i).view(), L16{});
        for (int i = 0; i < _materialPyramid->numLevels(); ++i)
            fill(_materialPyramid->level(i).view(), RGBA{});
        resizeMirror(_diffuseMirror, *_diffusePyramid);
        resizeMirror(_depthMirror, *_depthPyramid);
        _pendingLitRects.clear();
        _deferredLitRects.clear();
        _deferredFrames = 0;
        _pendingGlowRects.clear();
        const std::size_t plane = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        // (Sized exactly, as the lit buffers: a Vec would reserve twice the size. Not cleared: the
        // frame after a size change lights every pixel and keeps its colour before anything reads
        // it, and clearing 4.5 MiB cost an opening editor about 3 ms.)
        _glowBaseBuffer =
            static_cast<float*>(alignedResize(_glowBaseBuffer, 3 * plane * sizeof(float), kBufferAlignment));
        _glowBase = GlowBase{
            {_glowBaseBuffer, _glowBaseBuffer + plane, _glowBaseBuffer + 2 * plane}, width, width, height};
        _layersDrawn = false;
        // Room for the largest change that is compared, so steady frames allocate nothing.
        const std::int64_t kept = std::min(_comparedArea, std::int64_t{width} * height);
        _keptDiffuse.resize(static_cast<std::size_t>(kept));
        _keptMaterial.resize(static_cast<std::size_t>(kept));
        _keptDepth.resize(static_cast<std::size_t>(kept));
        if (bytes > 0) {
            std::memset(static_cast<void*>(_litBuffer), 0, bytes);
            std::memset(static_cast<void*>(_shownBuffer), 0, bytes);
        }
    }
    return shownView();
}

std::int32_t GUIGraphics::parameterAt(std::int32_t x, std::int32_t y) {
    const Parameter* p = UIElement::parameterAt(x, y);
    return p != nullptr ? p->index() : -1;
}

}  // namespace korvo
