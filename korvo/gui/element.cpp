// UIElement: defaults, dirty marking and the recursive input dispatch.
#include "korvo/gui/element.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "korvo/gui/context.h"

namespace korvo {

void sortElementsByZ(UIElement** elements, std::size_t count, bool increasing) noexcept {
    // Insertion sort: stable, in place, and the lists are short.
    for (std::size_t i = 1; i < count; ++i) {
        UIElement* e = elements[i];
        const std::int32_t z = e->zOrder();
        std::size_t j = i;
        while (j > 0 && (increasing ? elements[j - 1]->zOrder() > z : elements[j - 1]->zOrder() < z)) {
            elements[j] = elements[j - 1];
            --j;
        }
        elements[j] = e;
    }
}

UIElement::UIElement(UIContext* context, ElementFlags flags) noexcept : _flags(flags), _context(context) {}

UIElement::~UIElement() {
    for (UIElement* child : _children) heapDelete(child);
}

float UIElement::scale() const noexcept {
    return _context != nullptr ? _context->scale : 1.0f;
}

void UIElement::setPosition(IntRect box) noexcept {
    _layout = box;
    _position = scaleRect(box, scale());
}

double UIElement::layoutHeightInPixels() const noexcept {
    if (_layout.empty()) return _position.height();
    return static_cast<double>(_layout.height()) * static_cast<double>(scale());
}

void UIElement::applyScale() {
    _position = scaleRect(_layout, scale());
    onScaleChanged();
    for (UIElement* child : _children) child->applyScale();
}

void UIElement::windowOpened() {
    _dirtyRequested.fetch_and(static_cast<std::uint8_t>(~kRequestRefresh), std::memory_order_acq_rel);
    refreshShown();
    for (UIElement* child : _children) child->windowOpened();
}

void UIElement::reflow(IntRect availableSpace) {
    _position = availableSpace;
    for (UIElement* child : _children) child->reflow(availableSpace);
}

bool UIElement::onMouseClick(std::int32_t, std::int32_t, MouseButton, bool, MouseState) {
    return false;
}
bool UIElement::onMouseWheel(std::int32_t, std::int32_t, std::int32_t, std::int32_t, MouseState) {
    return false;
}
void UIElement::onMouseMove(std::int32_t, std::int32_t, std::int32_t, std::int32_t, MouseState) {}
void UIElement::onMouseDrag(std::int32_t, std::int32_t, std::int32_t, std::int32_t, MouseState) {}
bool UIElement::onKeyDown(Key) {
    return false;
}
bool UIElement::onKeyUp(Key) {
    return false;
}
bool UIElement::onTextInput(std::string_view) {
    return false;
}
void UIElement::onAnimate(double, double) {}
void UIElement::onDrawRaw(ImageView<RGBA>, const Vec<IntRect>&) {}

void UIElement::animate(double dt, double time) {
    // Taken before anything else, so a request arriving during this tick is kept for the next one.
    const std::uint8_t requested = _dirtyRequested.exchange(0, std::memory_order_acq_rel);
    if ((requested & kRequestFromFlags) != 0)
        setDirtyAll(DirtyLayer::fromFlags);  // the raw layer above follows
    else if ((requested & kRequestRawOnly) != 0)
        setDirtyAll(DirtyLayer::rawLayerOnly);
    if ((requested & kRequestRefresh) != 0) refreshShown();
    if (hasFlag(_flags, ElementFlags::wantsAnimation)) onAnimate(dt, time);
    for (UIElement* child : _children) child->animate(dt, time);
}

bool UIElement::onInputThread() const noexcept {
    return _context != nullptr &&
           _context->inputThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void UIElement::requestRefresh() noexcept {
    if (onInputThread())
        refreshShown();
    else
        _dirtyRequested.fetch_or(kRequestRefresh, std::memory_order_release);
}

void UIElement::markDirtyFromListener(DirtyLayer layer) noexcept {
    if (onInputThread())
        setDirtyAll(layer);
    else
        markDirtyFromAnyThread(layer);
}

void UIElement::addDirtyRect(DirtyLayer layer, IntRect editorRect) {
    if (_context == nullptr) return;
    if (layer == DirtyLayer::fromFlags) {
        if (hasFlag(_flags, ElementFlags::drawsPBR))
            _context->dirtyListPBR.addRect(editorRect);
        else if (hasFlag(_flags, ElementFlags::drawsRaw))
            _context->dirtyListRaw.addRect(editorRect);
    } else if (layer == DirtyLayer::rawLayerOnly) {
        _context->dirtyListRaw.addRect(editorRect);
    }
}

void UIElement::setDirtyAll(DirtyLayer layer) {
    addDirtyRect(layer, _position);
}

void UIElement::setDirty(DirtyLayer layer, IntRect rect) {
    addDirtyRect(layer, rect.translated(_position.min.x, _position.min.y));
}

void UIElement::setDirtyCovering(DirtyLayer layer, float x0, float y0, float x1, float y1) {
    if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) {
        setDirtyAll(layer);
        return;
    }
    // Clamped a pixel beyond the element before the conversion, so any finite box converts.
    const auto w = static_cast<float>(_position.width()), h = static_cast<float>(_position.height());
    auto edge = [](float v, float most, float (*round)(float)) {
        return static_cast<std::int32_t>(round(std::clamp(v, -1.0f, most + 1.0f)));
    };
    const IntRect box{{edge(x0, w, std::floor), edge(y0, h, std::floor)},
                      {edge(x1, w, std::ceil), edge(y1, h, std::ceil)}};
    const IntRect r = box.intersection(IntRect{{0, 0}, {_position.width(), _position.height()}});
    if (!r.empty()) setDirty(layer, r);
}

void UIElement::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                          const Vec<IntRect>& dirtyRects) {
    const RGBA dark{100, 100, 100, 0}, light{150, 150, 150, 0};
    const RGBA material{128, 25, 128, 255};
    for (const IntRect& rect : dirtyRects) {
        const IntRect r = rect.intersection(diffuseMap.bounds());
        for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
            RGBA* diffuse = diffuseMap.row(y);
            L16* depth = depthMap.row(y);
            RGBA* mat = materialMap.row(y);
            // The checkerboard is in the element's own coordinates.
            const std::int32_t ey = y + _drawOffset.y;
            for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                const std::int32_t ex = x + _drawOffset.x;
                diffuse[x] = (((ex >> 3) ^ (ey >> 3)) & 1) != 0 ? dark : light;
                depth[x] = L16{15000};
                mat[x] = material;
            }
        }
    }
}

bool UIElement::isDragged() const noexcept {
    return _context != nullptr && _context->dragged == this;
}
bool UIElement::isFocused() const noexcept {
    return _context != nullptr && _context->focused == this;
}

void UIElement::sortChildrenByDecreasingZ() {
    _sortedChildren.clear();
    for (UIElement* child : _children) _sortedChildren.push(child);
    sortElementsByZ(_sortedChildren.data(), _sortedChildren.length(), false);
}

Parameter* UIElement::parameterAt(std::int32_t x, std::int32_t y) {
    sortChildrenByDecreasingZ();
    for (std::size_t i = 0; i < _sortedChildren.length(); ++i) {
        UIElement* c = _sortedChildren[i];
        if (c->_zOrder < _zOrder || !c->isVisible()) continue;
        if (Parameter* p = c->parameterAt(x, y)) return p;
    }
    return _position.contains(x, y) ? editedParameterAt(x - _position.min.x, y - _position.min.y) : nullptr;
}

bool UIElement::mouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                           MouseState mouseState) {
    sortChildrenByDecreasingZ();
    // A child's own dispatch re-sorts its own scratch list, never ours, so iterating is safe.
    const std::size_t n = _sortedChildren.length();
    for (std::size_t i = 0; i < n; ++i) {
        UIElement* c = _sortedChildren[i];
        if (c->_zOrder < _zOrder) continue;
        if (c->mouseClick(x, y, button, isDoubleClick, mouseState)) return true;
    }
    if (_position.contains(x, y) &&
        onMouseClick(x - _position.min.x, y - _position.min.y, button, isDoubleClick, mouseState)) {
        if (_context != nullptr) {
            if (_context->dragged != nullptr) {
                _context->dragged->onStopDrag();
                _context->dragged = nullptr;
            }
            _context->dragged = this;
            onBeginDrag();
            if (_context->focused == this) return true;
            if (_context->focused != nullptr) _context->focused->onFocusExit();
            _context->focused = this;
            onFocusEnter();
        }
        return true;
    }
    for (std::size_t i = 0; i < n; ++i) {
        UIElement* c = _sortedChildren[i];
        if (c->_zOrder >= _zOrder) continue;
        if (c->mouseClick(x, y, button, isDoubleClick, mouseState)) return true;
    }
    return false;
}

bool UIElement::mouseWheel(std::int32_t x, std::int32_t y, std::int32_t wheelDeltaX, std::int32_t wheelDeltaY,
                           MouseState mouseState) {
    sortChildrenByDecreasingZ();
    const std::size_t n = _sortedChildren.length();
    for (std::size_t i = 0; i < n; ++i) {
        UIElement* c = _sortedChildren[i];
        if (c->_zOrder >= _zOrder && c->mouseWheel(x, y, wheelDeltaX, wheelDeltaY, mouseState)) return true;
    }
    if (_position.contains(x, y) &&
        onMouseWheel(x - _position.min.x, y - _position.min.y, wheelDeltaX, wheelDeltaY, mouseState))
        return true;
    for (std::size_t i = 0; i < n; ++i) {
        UIElement* c = _sortedChildren[i];
        if (c->_zOrder < _zOrder && c->mouseWheel(x, y, wheelDeltaX, wheelDeltaY, mouseState)) return true;
    }
    return false;
}

void UIElement::mouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                          MouseState mouseState) {
    if (isDragged()) onMouseDrag(x - _position.min.x, y - _position.min.y, dx, dy, mouseState);
    for (UIElement* child : _children) child->mouseMove(x, y, dx, dy, mouseState);
    if (_position.contains(x, y)) {
        if (!_mouseOver) onMouseEnter();
        onMouseMove(x - _position.min.x, y - _position.min.y, dx, dy, mouseState);
        _mouseOver = true;
    } else {
        if (_mouseOver) onMouseExit();
        _mouseOver = false;
    }
}

void UIElement::forgetPointer() {
    for (UIElement* child : _children) child->forgetPointer();
    if (_mouseOver) onMouseExit();
    _mouseOver = false;
}

bool UIElement::keyDown(Key key) {
    if (onKeyDown(key)) return true;
    for (UIElement* child : _children)
        if (child->keyDown(key)) return true;
    return false;
}

bool UIElement::keyUp(Key key) {
    if (onKeyUp(key)) return true;
    for (UIElement* child : _children)
        if (child->keyUp(key)) return true;
    return false;
}

}  // namespace korvo
