// The editor's renderer: dirty areas, the frame pipeline and the window listener.
#include "korvo/gui/graphics.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "korvo/client/params.h"
#include "korvo/core/fpcontrol.h"
#include "korvo/window/factory.h"

namespace korvo {

namespace {

constexpr std::size_t kBufferAlignment = 16;

// Relative costs of a pixel lit in full and of one whose glow alone is redone, the number of
// lighting pieces a frame aims at, and the least cost worth a piece of its own.
constexpr std::int64_t kLitCost = 4, kGlowCost = 1, kPiecesPerFrame = 6, kMinPieceCost = 4 * 1024;

// The shown area is copied and converted in about this many bands, none below the floor.
constexpr std::int64_t kShownBands = 4, kMinShownBand = 8192;

// The least area a frame draws or lights for which the workers are held for the whole frame.
constexpr std::int64_t kMinCrewArea = 4096;
// The least area a frame shows (raw drawing, copy and conversion only) for which they are.
constexpr std::int64_t kMinCrewShownArea = 65536;

// The least dirty area of an element that draws in parts worth sharing out between threads.
constexpr std::int64_t kMinSharedArea = 4096;

bool containsBox(const IntRect& outer, const IntRect& inner) noexcept {
    return inner.min.x >= outer.min.x && inner.min.y >= outer.min.y && inner.max.x <= outer.max.x &&
           inner.max.y <= outer.max.y;
}

std::int64_t area(const IntRect& r) noexcept {
    return static_cast<std::int64_t>(r.width()) * static_cast<std::int64_t>(r.height());
}

// r grown by m on all four sides (saturating), clipped to `clip`.
IntRect grownAndClipped(const IntRect& r, std::int32_t m, const IntRect& clip) noexcept {
    const IntRect g{
        {IntRect::saturate(std::int64_t{r.min.x} - m), IntRect::saturate(std::int64_t{r.min.y} - m)},
        {IntRect::saturate(std::int64_t{r.max.x} + m), IntRect::saturate(std::int64_t{r.max.y} + m)}};
    return g.intersection(clip);
}

// Appends to `out` the parts of r outside every box of `holes`; work is scratch.
void subtractBoxes(const IntRect& r, const Vec<IntRect>& holes, Vec<IntRect>& out, Vec<IntRect>& work,
                   Vec<IntRect>& next) noexcept {
    work.clear();
    work.push(r);
    for (const IntRect& h : holes) {
        next.clear();
        for (const IntRect& w : work) {
            const IntRect c = w.intersection(h);
            if (c.empty()) {
                next.push(w);
                continue;
            }
            const IntRect parts[4] = {
                {{w.min.x, w.min.y}, {w.max.x, c.min.y}},  // above
                {{w.min.x, c.min.y}, {c.min.x, c.max.y}},  // left
                {{c.max.x, c.min.y}, {w.max.x, c.max.y}},  // right
                {{w.min.x, c.max.y}, {w.max.x, w.max.y}},  // below
            };
            for (const IntRect& p : parts)
                if (!p.empty()) next.push(p);
        }
        work.clear();
        for (const IntRect& w : next) work.push(w);
        if (work.empty()) return;
    }
    for (const IntRect& w : work) out.push(w);
}

// The filters the pyramids are refreshed with, per level. At 100 % the diffuse pyramid's level 1
// premultiplies by the emissive alpha and every higher level is cubic; the depth's levels 1 and 2
// are boxes and the rest cubic. A scale `extra` whole levels deeper repeats the boxes for as many
// levels, so a level of the scaled pyramid averages the same base pixels as its 100 % counterpart.
Filter diffuseFilter(int level, int extra) noexcept {
    return level == 1 ? Filter::premultipliedBox : (level <= 1 + extra ? Filter::box : Filter::cubic);
}
Filter depthFilter(int level, int extra) noexcept {
    return level <= 2 + extra ? Filter::box : Filter::cubic;
}

// Whole pyramid levels a scale adds (0 at 100 % and below).
int extraLevels(float scale) noexcept {
    const double lg = std::log2(static_cast<double>(scale));
    return lg > 0.5 ? static_cast<int>(std::floor(lg + 0.5)) : 0;
}

template <class COLOR>
void resizeMirror(Vec<OwnedImage<COLOR>*>& mirror, const Mipmap<COLOR>& pyramid) {
    const std::size_t upper = pyramid.numLevels() > 1 ? static_cast<std::size_t>(pyramid.numLevels() - 1) : 0;
    for (std::size_t i = upper; i < mirror.length(); ++i) heapDelete(mirror[i]);
    const std::size_t old = mirror.length() < upper ? mirror.length() : upper;
    mirror.resize(upper);
    for (std::size_t i = old; i < upper; ++i) mirror[i] = heapNew<OwnedImage<COLOR>>();
    for (std::size_t i = 0; i < upper; ++i) {
        const OwnedImage<COLOR>& level = pyramid.level(static_cast<int>(i) + 1);
        mirror[i]->setSize(level.w(), level.h());
        fill(mirror[i]->view(), COLOR{});
    }
}

template <class COLOR>
void releaseMirror(Vec<OwnedImage<COLOR>*>& mirror) noexcept {
    for (OwnedImage<COLOR>* image : mirror) heapDelete(image);
    mirror.clear();
}

}  // namespace

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

// ---- Dirty areas ------------------------------------------------------------------------------------

void GUIGraphics::makeDisjoint(Vec<IntRect>& source, Vec<IntRect>& output) {
    for (std::size_t i = 0; i < source.length(); ++i) {
        const IntRect a = source[i];
        if (a.empty() || area(a) < 1) continue;
        bool keep = true;
        std::size_t j = i + 1;
        while (j < source.length()) {
            const IntRect b = source[j];
            const IntRect c = a.intersection(b);
            if (c.empty()) {
                ++j;
                continue;
            }
            if (containsBox(a, b)) {
                source.swapRemove(j);
                continue;
            }
            keep = false;
            if (containsBox(b, a)) break;
            const IntRect parts[4] = {
                {{a.min.x, a.min.y}, {a.max.x, c.min.y}},  // top
                {{a.min.x, c.min.y}, {c.min.x, c.max.y}},  // left
                {{c.max.x, c.min.y}, {a.max.x, c.max.y}},  // right
                {{a.min.x, c.max.y}, {a.max.x, a.max.y}},  // bottom
            };
            for (const IntRect& p : parts)
                if (!p.empty()) source.push(p);
            break;
        }
        if (keep) output.push(a);
    }
}

// The lit area of this frame: what the changes need (already in _litRectsOverlapping) plus what an
// earlier frame left to relight, within the window, made disjoint.
void GUIGraphics::settleLitRects(const IntRect& window) {
    for (const IntRect& r : _pendingLitRects) {
        const IntRect c = r.intersection(window);
        if (!c.empty()) _litRectsOverlapping.push(c);
    }
    _litRects.clear();
    _scratchRects.clear();
    for (const IntRect& r : _litRectsOverlapping) _scratchRects.push(r);
    makeDisjoint(_scratchRects, _litRects);
}

void GUIGraphics::computeDirtyAreas() {
    if (_bufferWidth <= 0 || _bufferHeight <= 0) {
        // Nothing can be drawn yet: leave the rectangles in the lists for the first real frame.
        _rawRects.clear();
        _pbrRects.clear();
        _litRects.clear();
        _shownRectsOverlapping.clear();
        _shownRects.clear();
        return;
    }
    const IntRect window{{0, 0}, {_editorWidth, _editorHeight}};
    // Rectangles may come from anywhere (off-window, huge): clip them to the window right away.
    auto takeClipped = [&](DirtyList& list, Vec<IntRect>& rects) {
        _scratchRects.clear();
        list.takeAll(_scratchRects);
        for (const IntRect& r : _scratchRects) {
            const IntRect c = r.intersection(window);
            if (!c.empty()) rects.push(c);
        }
        _scratchRects.clear();
        for (const IntRect& r : rects) _scratchRects.push(r);
        rects.clear();
        makeDisjoint(_scratchRects, rects);
    };
    takeClipped(_uiContext->dirtyListRaw, _rawRects);
    takeClipped(_uiContext->dirtyListPBR, _pbrRects);

    _litRectsOverlapping.clear();
    for (const IntRect& r : _pbrRects) {
        const IntRect g = grownAndClipped(r, _litMargin, window);
        if (!g.empty()) _litRectsOverlapping.push(g);
    }
    settleLitRects(window);

    _shownRectsOverlapping.clear();
    for (const IntRect& r : _litRects) _shownRectsOverlapping.push(r);
    for (const IntRect& r : _pendingGlowRects) {
        const IntRect c = r.intersection(window);
        if (!c.empty()) _shownRectsOverlapping.push(c);
    }
    for (const IntRect& r : _rawRects) _shownRectsOverlapping.push(r);
    _shownRects.clear();
    _scratchRects.clear();
    for (const IntRect& r : _shownRectsOverlapping) _scratchRects.push(r);
    makeDisjoint(_scratchRects, _shownRects);
}

IntRect GUIGraphics::dirtyBounds() const noexcept {
    IntRect bounds{};
    for (const IntRect& r : _shownRectsOverlapping) bounds = bounds.expandedBy(r);
    return bounds;
}

// ---- Frame ------------------------------------------------------------------------------------------

void GUIGraphics::collectFrom(UIElement* element) {
    if (!element->isVisible()) return;
    if (hasFlag(element->flags(), ElementFlags::drawsRaw)) _rawDrawList.push(element);
    if (hasFlag(element->flags(), ElementFlags::drawsPBR)) _pbrDrawList.push(element);
    for (UIElement* child : element->children()) collectFrom(child);
}

void GUIGraphics::collectDrawLists() {
    _rawDrawList.clear();
    _pbrDrawList.clear();
    collectFrom(this);
    sortElementsByZ(_rawDrawList.data(), _rawDrawList.length(), true);
    sortElementsByZ(_pbrDrawList.data(), _pbrDrawList.length(), true);
}

void GUIGraphics::onPBRBatch(const UIElement* const*, std::int32_t) noexcept {}

IntRect GUIGraphics::prepareElement(UIElement* element, const Vec<IntRect>& dirty) {
    const IntRect window{{0, 0}, {_bufferWidth, _bufferHeight}};
    const IntRect position = element->position();
    const IntRect clipped = position.intersection(window);
    if (clipped.empty()) return IntRect{};
    Vec<IntRect>& local = element->localRects();
    local.clear();
    for (const IntRect& r : dirty) {
        const IntRect c = r.intersection(clipped);
        if (!c.empty()) local.push(c.translated(-clipped.min.x, -clipped.min.y));
    }
    if (local.empty()) return IntRect{};
    element->setDrawOffset(IntPoint{clipped.min.x - position.min.x, clipped.min.y - position.min.y});
    return clipped;
}

void GUIGraphics::drawPrepared(Layer layer, UIElement* element, IntRect clipped, const Vec<IntRect>& local) {
    if (layer == Layer::pbr) {
        element->onDrawPBR(_diffusePyramid->level(0).view().sub(clipped),
                           _depthPyramid->level(0).view().sub(clipped),
                           _materialPyramid->level(0).view().sub(clipped), local);
    } else {
        element->onDrawRaw(shownView().sub(clipped), local);
    }
}

void GUIGraphics::drawElement(Layer layer, UIElement* element, const Vec<IntRect>& dirty) {
    const IntRect clipped = prepareElement(element, dirty);
    if (!clipped.empty()) drawPrepared(layer, element, clipped, element->localRects());
}

void GUIGraphics::drawRunInParts(Layer layer, UIElement* const* run, std::int32_t count,
                                 const Vec<IntRect>& dirty, UIElement* const* later, std::size_t laterCount) {
    // Parts per shared element: a few per thread, so the threads even out.
    const std::int32_t parts = std::min<std::int32_t>(kMaxParts, 2 * (_crew.helpers() + 1));
    std::int32_t partsUsed = 0;
    _drawJobs.clear();
    for (std::int32_t i = 0; i < count; ++i) {
        UIElement* element = run[i];
        const IntRect clipped = prepareElement(element, dirty);
        if (clipped.empty()) continue;
        const Vec<IntRect>& local = element->localRects();
        std::int64_t total = 0;
        for (const IntRect& r : local) total += area(r);
        if (!element->drawsInParts() || total < kMinSharedArea || partsUsed + parts > kMaxParts) {
            _drawJobs.push(DrawJob{element, clipped, -1});
            continue;
        }
        // Bands of about total / parts pixels, taken from the rectangles in order.
        const std::int64_t target = (total + parts - 1) / parts;
        std::int32_t part = partsUsed;
        std::int64_t filled = 0;
        _partRects[part].clear();
        for (const IntRect& r : local) {
            std::int32_t y = r.min.y;
            while (y < r.max.y) {
                if (filled >= target && part + 1 < partsUsed + parts) {
                    ++part;
                    filled = 0;
                    _partRects[part].clear();
                }
                // The last part takes whatever is left.
                const std::int64_t rows =
                    part + 1 == partsUsed + parts
                        ? r.max.y - y
                        : std::max<std::int64_t>(1, (target - filled + r.width() - 1) / r.width());
                const std::int32_t y1 = rows >= r.max.y - y ? r.max.y : y + static_cast<std::int32_t>(rows);
                _partRects[part].push(IntRect{{r.min.x, y}, {r.max.x, y1}});
                filled += static_cast<std::int64_t>(r.width()) * (y1 - y);
                y = y1;
            }
        }
        for (std::int32_t k = partsUsed; k <= part; ++k) _drawJobs.push(DrawJob{element, clipped, k});
        partsUsed = part + 1;
    }
    // The elements of later runs prepare their drawing meanwhile (it touches none of the layers).
    for (std::size_t i = 0; i < laterCount; ++i) _drawJobs.push(DrawJob{later[i], IntRect{}, kPrepareJob});
    auto drawJob = [this, layer](std::int32_t i) {
        const DrawJob& job = _drawJobs[static_cast<std::size_t>(i)];
        if (job.part == kPrepareJob)
            job.element->prepareDrawing();
        else
            drawPrepared(layer, job.element, job.clipped,
                         job.part < 0 ? job.element->localRects() : _partRects[job.part]);
    };
    _crew.run(static_cast<std::int32_t>(_drawJobs.length()), drawJob);
}

void GUIGraphics::drawLayer(Layer layer, const Vec<UIElement*>& all, const Vec<IntRect>& dirty) {
    // Only elements that meet a dirty rectangle draw anything: the others are left out before
    // the runs are made, so a small change wakes no worker for elements that would return at once.
    const IntRect window{{0, 0}, {_bufferWidth, _bufferHeight}};
    Vec<UIElement*>& list = _drawing;
    list.clear();
    for (UIElement* element : all) {
        const IntRect clipped = element->position().intersection(window);
        for (const IntRect& r : dirty)
            if (!r.intersection(clipped).empty()) {
                list.push(element);
                break;
            }
    }
    // Runs of consecutive elements whose positions do not meet are drawn in parallel; runs follow
    // each other in z order, so overlapping elements are drawn lower z first.
    const std::size_t n = list.length();
    std::size_t start = 0;
    while (start < n) {
        std::size_t end = start + 1;
        while (end < n) {
            const IntRect candidate = list[end]->position();
            bool overlaps = false;
            for (std::size_t k = start; k < end && !overlaps; ++k)
                overlaps = !candidate.intersection(list[k]->position()).empty();
            if (overlaps) break;
            ++end;
        }
        const auto count = static_cast<std::int32_t>(end - start);
        UIElement* const* run = list.data() + start;
        if (layer == Layer::pbr) onPBRBatch(run, count);
        if (_crew.active()) {
            // The first PBR run takes the other elements' preparation along.
            const bool first = start == 0 && layer == Layer::pbr;
            drawRunInParts(layer, run, count, dirty, first ? list.data() + end : nullptr,
                           first ? n - end : 0);
        } else {
            auto drawOne = [this, layer, run, &dirty](std::int32_t i) { drawElement(layer, run[i], dirty); };
            _threadPool->runParallel(count, drawOne);
        }
        start = end;
    }
}

void GUIGraphics::drawPBRLayer() {
    if (_pbrRects.empty() || _diffusePyramid->numLevels() == 0) return;
    drawLayer(Layer::pbr, _pbrDrawList, _pbrRects);
}

void GUIGraphics::keepLayersBeforeDrawing() {
    _keptArea = 0;
    if (_pbrRects.empty() || _diffusePyramid->numLevels() == 0) return;
    // The layers of a new size hold no drawing yet, and the lit buffer no lighting of them.
    const bool drawnBefore = _layersDrawn;
    _layersDrawn = true;
    if (!drawnBefore) return;
    std::int64_t total = 0;
    for (const IntRect& r : _pbrRects) total += area(r);
    // Large changes (the first frame, a whole-editor redraw) are lit as they are.
    if (total > _comparedArea) return;
    _keptDiffuse.resize(static_cast<std::size_t>(total));
    _keptMaterial.resize(static_cast<std::size_t>(total));
    _keptDepth.resize(static_cast<std::size_t>(total));
    const ImageView<RGBA> diffuse = _diffusePyramid->level(0).view(),
                          material = _materialPyramid->level(0).view();
    const ImageView<L16> depth = _depthPyramid->level(0).view();
    std::size_t at = 0;
    for (const IntRect& r : _pbrRects)
        for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
            const auto n = static_cast<std::size_t>(r.width());
            std::memcpy(static_cast<void*>(_keptDiffuse.data() + at), diffuse.row(y) + r.min.x,
                        n * sizeof(RGBA));
            std::memcpy(static_cast<void*>(_keptMaterial.data() + at), material.row(y) + r.min.x,
                        n * sizeof(RGBA));
            std::memcpy(static_cast<void*>(_keptDepth.data() + at), depth.row(y) + r.min.x, n * sizeof(L16));
            at += n;
        }
    _keptArea = total;
}

void GUIGraphics::narrowToChangedPixels() {
    for (Vec<IntRect>& list : _pyramidRects) list.clear();
    if (_keptArea == 0) {
        for (Vec<IntRect>& list : _pyramidRects)
            for (const IntRect& r : _pbrRects) list.push(r);
        return;
    }
    // A lit pixel reads the diffuse and material colour of its own position only, and the depth
    // around it: the 3 x 3 neighbourhood (normal, curvature) and the cast shadow's walk of 10 steps
    // up both diagonals. So a changed depth alters the lighting of pixels up to 10 to either side,
    // 1 above and 10 below it, and nothing farther at level 0 (never more than the margin: the
    // frame shows no more than that). What the changes alter in the upper levels is found by
    // updatePyramids.
    const IntRect window{{0, 0}, {_bufferWidth, _bufferHeight}};
    const ImageView<RGBA> diffuse = _diffusePyramid->level(0).view(),
                          material = _materialPyramid->level(0).view();
    const ImageView<L16> depth = _depthPyramid->level(0).view();
    _litRectsOverlapping.clear();
    std::size_t at = 0;
    for (const IntRect& r : _pbrRects) {
        IntRect colour{}, relief{};
        const auto n = static_cast<std::size_t>(r.width());
        for (std::int32_t y = r.min.y; y < r.max.y; ++y, at += n) {
            const RGBA* d = diffuse.row(y) + r.min.x;
            const RGBA* m = material.row(y) + r.min.x;
            const L16* z = depth.row(y) + r.min.x;
            if (std::memcmp(d, _keptDiffuse.data() + at, n * sizeof(RGBA)) != 0 ||
                std::memcmp(m, _keptMaterial.data() + at, n * sizeof(RGBA)) != 0) {
                std::size_t first = 0, last = n - 1;
                while (d[first] == _keptDiffuse[at + first] && m[first] == _keptMaterial[at + first]) ++first;
                while (d[last] == _keptDiffuse[at + last] && m[last] == _keptMaterial[at + last]) --last;
                colour = colour.expandedBy(IntRect{{r.min.x + static_cast<std::int32_t>(first), y},
                                                   {r.min.x + static_cast<std::int32_t>(last) + 1, y + 1}});
            }
            const L16* kz = _keptDepth.data() + at;
            if (std::memcmp(z, kz, n * sizeof(L16)) != 0) {
                std::size_t first = 0, last = n - 1;
                while (z[first].l == kz[first].l) ++first;
                while (z[last].l == kz[last].l) --last;
                relief = relief.expandedBy(IntRect{{r.min.x + static_cast<std::int32_t>(first), y},
                                                   {r.min.x + static_cast<std::int32_t>(last) + 1, y + 1}});
            }
        }
        if (!colour.empty()) {
            _litRectsOverlapping.push(colour);
            _pyramidRects[0].push(colour);
        }
        if (!relief.empty()) {
            // Pixels whose level-0 lighting reads a changed depth: its 3 x 3 neighbourhood, and
            // the shadow walk's steps to either side and below.
            const std::int32_t walk = _compositor->shadowReach();
            const IntRect reach{{relief.min.x - walk, relief.min.y - 1},
                                {relief.max.x + walk, relief.max.y + walk}};
            const IntRect lit = reach.intersection(grownAndClipped(r, _litMargin, window));
            if (!lit.empty()) _litRectsOverlapping.push(lit);
            _pyramidRects[1].push(relief);
        }
    }
    settleLitRects(window);
    // The shown area stays as computed: it is refreshed from the lit image (whatever changed).
}

void GUIGraphics::updatePyramids() {
    for (Vec<IntRect>& reach : _reachRects) reach.clear();
    if (_pbrRects.empty() || _diffusePyramid->numLevels() == 0) return;
    const int extra = extraLevels(drawScale());
    // Levels below the first one the lighting samples are only steps to the higher ones.
    const int firstGlow = _compositor->glowLevels().first,
              firstOcclusion = _compositor->occlusionLevels().first;
    auto update = [this, extra, firstGlow, firstOcclusion](std::int32_t index) {
        Vec<IntRect>& rects = _pyramidRects[index];
        Vec<IntRect>& reach = _reachRects[index];
        if (index == 0) {
            for (int level = 1; level < _diffusePyramid->numLevels(); ++level) {
                const Filter quality = diffuseFilter(level, extra);
                for (IntRect& r : rects) {
                    r = _diffusePyramid->updateLevel(quality, r, level);
                    if (level >= firstGlow)
                        noteChangedTexels(_diffusePyramid->level(level),
                                          *_diffuseMirror[static_cast<std::size_t>(level - 1)], level, r,
                                          reach);
                }
            }
        } else {
            for (int level = 1; level < _depthPyramid->numLevels(); ++level) {
                const Filter quality = depthFilter(level, extra);
                for (IntRect& r : rects) {
                    r = _depthPyramid->updateLevel(quality, r, level);
                    if (level >= firstOcclusion)
                        noteChangedTexels(_depthPyramid->level(level),
                                          *_depthMirror[static_cast<std::size_t>(level - 1)], level, r,
                                          reach);
                }
            }
        }
    };
    runParallel(2, update);
}

template <class COLOR>
void GUIGraphics::noteChangedTexels(const OwnedImage<COLOR>& level, OwnedImage<COLOR>& mirror, int levelIndex,
                                    IntRect updated, Vec<IntRect>& reach) noexcept {
    const ImageView<COLOR> now = level.view(), before = mirror.view();
    updated = updated.intersection(now.bounds());
    if (updated.empty()) return;
    // Bounding box of the texels that differ from what the lit image was made with.
    IntRect changed{{updated.max.x, updated.max.y}, {updated.min.x, updated.min.y}};
    const auto rowBytes = static_cast<std::size_t>(updated.width()) * sizeof(COLOR);
    for (std::int32_t y = updated.min.y; y < updated.max.y; ++y) {
        const COLOR* a = now.row(y) + updated.min.x;
        COLOR* b = before.row(y) + updated.min.x;
        if (std::memcmp(a, b, rowBytes) == 0) continue;
        std::int32_t first = 0, last = updated.width() - 1;
        while (a[first] == b[first]) ++first;
        while (a[last] == b[last]) --last;
        changed.min.x = std::min(changed.min.x, updated.min.x + first);
        changed.max.x = std::max(changed.max.x, updated.min.x + last + 1);
        changed.min.y = std::min(changed.min.y, y);
        changed.max.y = y + 1;
        std::memcpy(static_cast<void*>(b + first), a + first,
                    static_cast<std::size_t>(last - first + 1) * sizeof(COLOR));
    }
    if (changed.empty()) return;
    // Pixel x samples this level at u = (x + 0.5) / s - 0.5, s = 2^level (clamped into
    // [0, w - 1.001]), and reads texels floor(u) and floor(u) + 1: texel i is read when
    // i - 1 <= u < i + 1, that is by x in [s i - s / 2, s i + 3 s / 2), and the texels next to the
    // last edge also by every pixel beyond it.
    const std::int32_t s = std::int32_t{1} << levelIndex, half = s / 2;
    IntRect pixels{{changed.min.x * s - half, changed.min.y * s - half},
                   {changed.max.x * s + half, changed.max.y * s + half}};
    if (changed.max.x >= now.w - 1) pixels.max.x = _bufferWidth;
    if (changed.max.y >= now.h - 1) pixels.max.y = _bufferHeight;
    pixels = pixels.intersection(IntRect{{0, 0}, {_bufferWidth, _bufferHeight}});
    if (!pixels.empty()) reach.push(pixels);
}

void GUIGraphics::takePendingGlow() {
    _glowRects.clear();
    if (_pendingGlowRects.empty()) return;
    const IntRect window{{0, 0}, {_bufferWidth, _bufferHeight}};
    _scratchRects.clear();
    for (const IntRect& r : _pendingGlowRects) {
        const IntRect c = r.intersection(window);
        if (!c.empty()) _scratchRects.push(c);
    }
    Vec<IntRect>& disjoint = _litRectsOverlapping;  // free again once the lit area is made
    disjoint.clear();
    makeDisjoint(_scratchRects, disjoint);
    // Pixels lit in full this frame get their glow with the rest.
    for (const IntRect& r : disjoint)
        subtractBoxes(r, _litRects, _glowRects, _subtractScratch[0], _subtractScratch[1]);
}

void GUIGraphics::lightTiles(PixelOrder, ImageView<RGBA> destination) {
    _tiles.clear();
    auto cut = [this](const Vec<IntRect>& rects) {
        for (const IntRect& r : rects) {
            for (std::int32_t y = r.min.y; y < r.max.y; y += kTileSize) {
                const std::int32_t y1 = r.max.y - y > kTileSize ? y + kTileSize : r.max.y;
                for (std::int32_t x = r.min.x; x < r.max.x; x += kTileSize) {
                    const std::int32_t x1 = r.max.x - x > kTileSize ? x + kTileSize : r.max.x;
                    _tiles.push(IntRect{{x, y}, {x1, y1}});
                }
            }
        }
    };
    cut(_litRects);
    _litTileCount = _tiles.length();
    cut(_glowRects);
    if (_tiles.empty() || _diffusePyramid->numLevels() == 0) return;
    // The tiles are shared out in horizontal bands of about equal cost, so the threads finish
    // together even when one tile holds most of the work (a redrawn knob in a small change).
    // Redoing the glow costs about a quarter of lighting a pixel in full. A band costs its own
    // set-up (the column taps of its width), so bands stay above a floor.
    std::int64_t total = 0;
    for (std::size_t i = 0; i < _tiles.length(); ++i)
        total += area(_tiles[i]) * (i < _litTileCount ? kLitCost : kGlowCost);
    const std::int64_t target = std::max<std::int64_t>(total / kPiecesPerFrame, kMinPieceCost);
    _lightPieces.clear();
    for (std::size_t i = 0; i < _tiles.length(); ++i) {
        if (i == _litTileCount) _litPieceCount = _lightPieces.length();
        const IntRect& t = _tiles[i];
        const std::int64_t cost = area(t) * (i < _litTileCount ? kLitCost : kGlowCost);
        const std::int64_t bands = std::min<std::int64_t>((cost + target - 1) / target, t.height());
        const std::int32_t rows = static_cast<std::int32_t>((t.height() + bands - 1) / bands);
        for (std::int32_t y = t.min.y; y < t.max.y; y += rows)
            _lightPieces.push(IntRect{{t.min.x, y}, {t.max.x, std::min(y + rows, t.max.y)}});
    }
    if (_litTileCount == _tiles.length()) _litPieceCount = _lightPieces.length();
    // The colour before the glow is kept only for the lit buffer, which the glow relight redoes.
    const GlowBase* keep = destination.pixels == _litBuffer ? &_glowBase : nullptr;
    // The shown area away from this frame's lighting goes first, on whichever thread takes it.
    const std::int32_t early = destination.pixels == _litBuffer && !_earlyShown.empty() ? 1 : 0;
    auto light = [this, destination, keep, early](std::int32_t i) {
        if (i < early) {
            showEarly(_framePixelOrder);
            return;
        }
        const auto index = static_cast<std::size_t>(i - early);
        if (index < _litPieceCount)
            _compositor->lightTile(destination, _lightPieces[index], *_diffusePyramid, *_materialPyramid,
                                   *_depthPyramid, *_uiContext->skybox, keep);
        else if (keep != nullptr)
            _compositor->relightGlow(destination, _lightPieces[index], *_diffusePyramid, _glowBase);
    };
    runParallel(static_cast<std::int32_t>(_lightPieces.length()) + early, light);
}

void GUIGraphics::drawRawLayer() {
    const Vec<IntRect>& rects = lateShownRects();
    if (rects.empty()) return;
    drawLayer(Layer::raw, _rawDrawList, rects);
}

void GUIGraphics::convertBox(IntRect rect, PixelOrder pixelOrder) {
    const ImageView<RGBA> shown = shownView();
    // Four pixels at a time as little-endian words r | g << 8 | b << 16 | a << 24.
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    auto convert4 = [pixelOrder, opaque](__m128i v) {
        switch (pixelOrder) {
            case PixelOrder::BGRA8: {
                const __m128i low = _mm_set1_epi32(0xFF);
                const __m128i r = _mm_slli_epi32(_mm_and_si128(v, low), 16);
                const __m128i b = _mm_and_si128(_mm_srli_epi32(v, 16), low);
                const __m128i g = _mm_and_si128(v, _mm_set1_epi32(0xFF00));
                return _mm_or_si128(_mm_or_si128(r, b), _mm_or_si128(g, opaque));
            }
            case PixelOrder::ARGB8:
                return _mm_or_si128(_mm_slli_epi32(v, 8), _mm_set1_epi32(0xFF));
            case PixelOrder::RGBA8:
            default:
                return _mm_or_si128(v, opaque);
        }
    };
    const IntRect r = rect.intersection(shown.bounds());
    for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
        RGBA* row = shown.row(y);
        std::int32_t x = r.min.x;
        for (; x + 4 <= r.max.x; x += 4) {
            __m128i* p = reinterpret_cast<__m128i*>(row + x);
            _mm_storeu_si128(p, convert4(_mm_loadu_si128(p)));
        }
        for (; x < r.max.x; ++x) {
            const RGBA p = row[x];
            switch (pixelOrder) {
                case PixelOrder::BGRA8:
                    row[x] = RGBA{p.b, p.g, p.r, 255};
                    break;
                case PixelOrder::ARGB8:
                    row[x] = RGBA{255, p.r, p.g, p.b};
                    break;
                case PixelOrder::RGBA8:
                default:
                    row[x].a = 255;
                    break;
            }
        }
    }
}

void GUIGraphics::convertToWindowFormat(PixelOrder pixelOrder) {
    // In bands shared out between the frame's threads (all on this one without a crew: waking
    // the pool costs more than the copy).
    cutShownBands(lateShownRects());
    auto convertBand = [&](std::int32_t i) {
        convertBox(_shownBands[static_cast<std::size_t>(i)], pixelOrder);
    };
    _crew.run(static_cast<std::int32_t>(_shownBands.length()), convertBand);
}

void GUIGraphics::splitShownArea() {
    _earlyShown.clear();
    _lateShown.clear();
    if (!_crew.active() || (_litRects.empty() && _glowRects.empty())) return;
    auto meets = [](const IntRect& r, const Vec<IntRect>& list) {
        for (const IntRect& l : list)
            if (!r.intersection(l).empty()) return true;
        return false;
    };
    for (const IntRect& r : _shownRects) {
        if (meets(r, _litRects) || meets(r, _glowRects))
            _lateShown.push(r);
        else
            _earlyShown.push(r);
    }
}

void GUIGraphics::showEarly(PixelOrder pixelOrder) {
    const ImageView<RGBA> lit = litView(), shown = shownView();
    for (const IntRect& r : _earlyShown) copyBox(lit.sub(r), shown.sub(r));
    // The raw elements one after the other in z order, on this thread.
    for (UIElement* element : _rawDrawList) {
        const IntRect clipped = prepareElement(element, _earlyShown);
        if (!clipped.empty()) drawPrepared(Layer::raw, element, clipped, element->localRects());
    }
    for (const IntRect& r : _earlyShown) convertBox(r, pixelOrder);
}

void GUIGraphics::cutShownBands(const Vec<IntRect>& rects) {
    _shownBands.clear();
    std::int64_t total = 0;
    for (const IntRect& r : rects) total += area(r);
    const std::int64_t target = std::max<std::int64_t>(total / kShownBands, kMinShownBand);
    for (const IntRect& r : rects) {
        const std::int32_t rows = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(target / std::max(1, r.width()), 1, std::max(1, r.height())));
        for (std::int32_t y = r.min.y; y < r.max.y; y += rows)
            _shownBands.push(IntRect{{r.min.x, y}, {r.max.x, std::min(y + rows, r.max.y)}});
    }
}

void GUIGraphics::drawFrame(PixelOrder pixelOrder) {
    if (_bufferWidth > 0 && _bufferHeight > 0) {
        // The frame's parts run on this thread and on the helpers alike: all under the plug-in's
        // floating-point setting, so no pixel depends on which thread computed it.
        FPControl guard;
        // A frame that draws or lights enough PBR pixels, or shows a large raw change (the displays
        // at a high scale), holds the workers for its parallel steps (a small one costs less done
        // as before than the hand-over).
        std::int64_t work = 0, shownArea = 0;
        for (const Vec<IntRect>* list : {&_pbrRects, &_litRects, &_pendingGlowRects})
            for (const IntRect& r : *list) work += area(r);
        for (const IntRect& r : _shownRects) shownArea += area(r);
        if (work >= kMinCrewArea || shownArea >= kMinCrewShownArea) _crew.begin(*_threadPool);
        collectDrawLists();
        keepLayersBeforeDrawing();
        drawPBRLayer();
        narrowToChangedPixels();
        takePendingGlow();
        updatePyramids();
        // What shows no pixel lit this frame is copied, drawn raw and converted while it lights.
        splitShownArea();
        _framePixelOrder = pixelOrder;
        lightTiles(pixelOrder, litView());
        // What this frame's pyramid changes reach beyond its lit area is relit next frame: in
        // full where the occlusion (depth levels) changed, only the glow where the diffuse levels
        // did (pixels whose glow this frame redid already have the new one).
        _pendingLitRects.clear();
        _pendingGlowRects.clear();
        if (!_pbrRects.empty()) {
            for (const IntRect& r : _reachRects[1])
                subtractBoxes(r, _litRects, _pendingLitRects, _subtractScratch[0], _subtractScratch[1]);
            for (const IntRect& r : _reachRects[0]) {
                _scratchRects.clear();
                subtractBoxes(r, _litRects, _scratchRects, _subtractScratch[0], _subtractScratch[1]);
                for (const IntRect& part : _scratchRects)
                    subtractBoxes(part, _glowRects, _pendingGlowRects, _subtractScratch[0],
                                  _subtractScratch[1]);
            }
        }
        const ImageView<RGBA> lit = litView(), shown = shownView();
        cutShownBands(lateShownRects());
        auto copyBand = [&](std::int32_t i) {
            const IntRect& r = _shownBands[static_cast<std::size_t>(i)];
            copyBox(lit.sub(r), shown.sub(r));
        };
        _crew.run(static_cast<std::int32_t>(_shownBands.length()), copyBand);
        drawRawLayer();
        convertToWindowFormat(pixelOrder);
        _crew.end();
        _earlyShown.clear();
    }
    _rawRects.clear();
    _pbrRects.clear();
}

std::int32_t GUIGraphics::parameterAt(std::int32_t x, std::int32_t y) {
    const Parameter* p = UIElement::parameterAt(x, y);
    return p != nullptr ? p->index() : -1;
}

}  // namespace korvo
