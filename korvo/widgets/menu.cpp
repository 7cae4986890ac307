// UIMenu: layout, choosing, scrolling and the lit panel.
#include "korvo/widgets/menu.h"

#include <algorithm>
#include <cmath>

#include "korvo/gui/context.h"
#include "korvo/widgets/paint.h"

namespace korvo {

namespace {
constexpr float kMinWidth = 60.0f;
constexpr float kRimWidth = 1.0f;  // base pixels of polished metal around the panel
constexpr float kBevel = 2.5f;     // the panel's edge rises over this many base pixels
constexpr float kMarkRadius = 2.0f;
constexpr float kMarkX = 8.0f;  // the check mark's centre from the panel's left edge
constexpr float kHoverInset = 2.0f;
}  // namespace

UIMenu::UIMenu(UIContext* context, Font* font) : UIElement(context, ElementFlags::drawsPBR), _font(font) {
    setVisible(false);
}

float UIMenu::itemHeight(std::size_t i) const noexcept {
    return _items[i].separator ? kSeparatorHeight : kRowHeight;
}

void UIMenu::layOut() {
    float widest = 0.0f;
    for (const MenuItem& item : _items) {
        if (item.separator || _font == nullptr) continue;
        widest = std::max(widest, static_cast<float>(_font->measureText(item.text, textSize, 0.0f).width()));
    }
    _panelW = std::ceil(std::max(kMinWidth, kTextLeft + widest + kTextRight));
    float total = 2.0f * kPadding;
    for (std::size_t i = 0; i < _items.size(); ++i) total += itemHeight(i);
    const IntRect bounds = _layout;
    const float available = static_cast<float>(bounds.height()) - 2.0f;
    _scrolls = total > available;
    if (_scrolls) {
        _panelH = std::floor(available);
        const float room = _panelH - 2.0f * kPadding - 2.0f * kScrollArrow;
        const auto n = static_cast<std::int32_t>(_items.size());
        _first = std::clamp(_first, 0, std::max(0, n - 1));
        float used = 0.0f;
        _shown = 0;
        for (std::int32_t i = _first; i < n && used + itemHeight(static_cast<std::size_t>(i)) <= room; ++i) {
            used += itemHeight(static_cast<std::size_t>(i));
            ++_shown;
        }
        // Scrolled to the end: as many rows as fit before the last one.
        while (_first > 0 && _first + _shown == n &&
               used + itemHeight(static_cast<std::size_t>(_first - 1)) <= room) {
            --_first;
            used += itemHeight(static_cast<std::size_t>(_first));
            ++_shown;
        }
    } else {
        _panelH = total;
        _first = 0;
        _shown = static_cast<std::int32_t>(_items.size());
    }
    // Right of and below the anchor when it fits, else flipped, always inside the bounds.
    float x = _anchorX, y = _anchorY;
    if (x + _panelW > static_cast<float>(bounds.max.x)) x -= _panelW;
    if (y + _panelH > static_cast<float>(bounds.max.y)) y -= _panelH;
    x = std::clamp(x, static_cast<float>(bounds.min.x),
                   std::max<float>(bounds.min.x, bounds.max.x - _panelW));
    y = std::clamp(y, static_cast<float>(bounds.min.y),
                   std::max<float>(bounds.min.y, bounds.max.y - _panelH));
    _panelX = std::floor(x);
    _panelY = std::floor(y);
}

float UIMenu::itemTop(std::int32_t i) const noexcept {
    float top = kPadding + (_scrolls ? kScrollArrow : 0.0f);
    for (std::int32_t k = _first; k < i; ++k) top += itemHeight(static_cast<std::size_t>(k));
    return top;
}

IntRect UIMenu::panelBox() const noexcept {
    if (!_open) return IntRect{};
    const IntRect base{
        {static_cast<std::int32_t>(_panelX), static_cast<std::int32_t>(_panelY)},
        {static_cast<std::int32_t>(_panelX + _panelW), static_cast<std::int32_t>(_panelY + _panelH)}};
    return scaleRect(base, scale());
}

void UIMenu::markPanelDirty() {
    const IntRect panel = panelBox();
    if (!panel.empty()) setDirty(DirtyLayer::fromFlags, panel.translated(-_position.min.x, -_position.min.y));
}

void UIMenu::open(std::vector<MenuItem> items, IntPoint at, std::function<void(std::int32_t)> onChoose) {
    if (items.empty()) return;
    if (_open) close();
    _items = std::move(items);
    _onChoose = std::move(onChoose);
    const float k = scale();
    _anchorX = static_cast<float>(at.x) / k;
    _anchorY = static_cast<float>(at.y) / k;
    _first = 0;
    _hovered = -1;
    _open = true;
    setVisible(true);
    _position = scaleRect(_layout, k);
    layOut();
    markPanelDirty();
    if (_context != nullptr) {
        if (_context->focused != nullptr && _context->focused != this) _context->focused->onFocusExit();
        _context->focused = this;
        _context->modal = this;
    }
}

void UIMenu::close() {
    if (!_open) return;
    markPanelDirty();
    _open = false;
    _hovered = -1;
    setVisible(false);
    if (_context != nullptr) {
        if (_context->modal == this) _context->modal = nullptr;
        if (_context->focused == this) _context->focused = nullptr;
    }
}

void UIMenu::onScaleChanged() {
    if (_open) close();
}

std::int32_t UIMenu::itemAt(std::int32_t x, std::int32_t y) const noexcept {
    if (!_open) return -1;
    const float k = scale();
    const float bx = static_cast<float>(x) / k - _panelX, by = static_cast<float>(y) / k - _panelY;
    if (bx < 0.0f || bx >= _panelW || by < 0.0f || by >= _panelH) return -1;
    for (std::int32_t i = _first; i < _first + _shown; ++i) {
        const float top = itemTop(i), h = itemHeight(static_cast<std::size_t>(i));
        if (by >= top && by < top + h) return _items[static_cast<std::size_t>(i)].separator ? -1 : i;
    }
    return -1;
}

bool UIMenu::onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool, MouseState) {
    if (!_open) return false;
    const IntPoint at{x + _position.min.x, y + _position.min.y};
    const std::int32_t i = button == MouseButton::left ? itemAt(at.x, at.y) : -1;
    if (i < 0 && button == MouseButton::left && panelBox().contains(at.x, at.y)) return true;  // a separator
    if (i >= 0 && !_items[static_cast<std::size_t>(i)].enabled) return true;
    // Close now, choose at the release: the choice may open another menu, a text field that
    // takes the focus, or change the editor's size, none of which the click may undo.
    std::function<void(std::int32_t)> choose = std::move(_onChoose);
    const std::int32_t id = i >= 0 ? _items[static_cast<std::size_t>(i)].id : 0;
    close();
    if (i >= 0 && choose) {
        _chosen = std::move(choose);
        _chosenId = id;
    }
    return true;
}

void UIMenu::onStopDrag() {
    if (!_chosen) return;
    const std::function<void(std::int32_t)> choose = std::move(_chosen);
    _chosen = nullptr;
    choose(_chosenId);
}

bool UIMenu::onMouseWheel(std::int32_t, std::int32_t, std::int32_t, std::int32_t wheelDeltaY, MouseState) {
    if (!_open) return false;
    if (_scrolls && wheelDeltaY != 0) {
        const std::int32_t before = _first;
        _first = std::clamp(_first - wheelDeltaY, 0, static_cast<std::int32_t>(_items.size()) - 1);
        layOut();
        if (_first != before) {
            _hovered = -1;
            markPanelDirty();
        }
    }
    return true;
}

void UIMenu::onMouseMove(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, MouseState) {
    if (!_open) return;
    const std::int32_t i = itemAt(x + _position.min.x, y + _position.min.y);
    const std::int32_t hovered = i >= 0 && _items[static_cast<std::size_t>(i)].enabled ? i : -1;
    if (hovered == _hovered) return;
    _hovered = hovered;
    markPanelDirty();
}

void UIMenu::onMouseExit() {
    if (_hovered < 0) return;
    _hovered = -1;
    markPanelDirty();
}

void UIMenu::onFocusExit() {
    close();
}

bool UIMenu::onKeyDown(Key key) {
    if (!_open || key != Key::escape) return false;
    close();
    return true;
}

void UIMenu::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                       const Vec<IntRect>& dirtyRects) {
    if (!_open) return;
    const float k = scale();
    // The panel in the maps' frame, in device pixels (floats for the shapes, a box for the fills).
    const IntPoint o{_position.min.x + _drawOffset.x, _position.min.y + _drawOffset.y};
    const IntRect panel = panelBox().translated(-o.x, -o.y);
    const float px0 = static_cast<float>(panel.min.x), py0 = static_cast<float>(panel.min.y);
    const float px1 = static_cast<float>(panel.max.x), py1 = static_cast<float>(panel.max.y);
    const float rim = std::max(1.0f, std::round(kRimWidth * k)), bevel = kBevel * k;
    const auto row = [&](std::int32_t i) {
        const float top = py0 + itemTop(i) * k;
        return IntRect{{panel.min.x, static_cast<std::int32_t>(std::lround(top))},
                       {panel.max.x, static_cast<std::int32_t>(
                                         std::lround(top + itemHeight(static_cast<std::size_t>(i)) * k))}};
    };
    for (const IntRect& r : dirtyRects) {
        const IntRect area = panel.intersection(r);
        if (area.empty()) continue;
        // Body: colour and material, the rim around it, and the depth rising from the edge.
        for (std::int32_t y = area.min.y; y < area.max.y; ++y) {
            RGBA* diffuse = diffuseMap.row(y);
            RGBA* material = materialMap.row(y);
            L16* depth = depthMap.row(y);
            const float cy = static_cast<float>(y) + 0.5f;
            for (std::int32_t x = area.min.x; x < area.max.x; ++x) {
                const float cx = static_cast<float>(x) + 0.5f;
                const float edge = std::min(std::min(cx - px0, px1 - cx), std::min(cy - py0, py1 - cy));
                const bool onRim = edge < rim;
                diffuse[x] = onRim ? rimDiffuse : panelDiffuse;
                material[x] = onRim ? rimMaterial : panelMaterial;
                const float t = std::clamp(edge / bevel, 0.0f, 1.0f);
                widgets::blendDepth(depth[x], panelDepth, t * t * (3.0f - 2.0f * t));
            }
        }
        const CroppedView<RGBA> diffuse{diffuseMap, area};
        const CroppedView<L16> depth{depthMap, area};
        const IntPoint a = area.min;
        for (std::int32_t i = _first; i < _first + _shown; ++i) {
            const MenuItem& item = _items[static_cast<std::size_t>(i)];
            const IntRect box = row(i);
            if (box.intersection(area).empty()) continue;
            const float mid = 0.5f * static_cast<float>(box.min.y + box.max.y);
            if (item.separator) {
                // An engraved line across the panel.
                const auto y = static_cast<std::int32_t>(std::floor(mid));
                const IntRect line{{panel.min.x + static_cast<std::int32_t>(6 * k), y},
                                   {panel.max.x - static_cast<std::int32_t>(6 * k),
                                    y + std::max(1, static_cast<int>(std::lround(k)))}};
                fillBox(diffuse, line.translated(-a.x, -a.y), RGBA{18, 20, 25, 0});
                fillBox(depth, line.translated(-a.x, -a.y),
                        L16{static_cast<std::uint16_t>(panelDepth - 3000)});
                continue;
            }
            if (i == _hovered) {
                const IntRect lit{
                    {panel.min.x + static_cast<std::int32_t>(std::lround(kHoverInset * k)), box.min.y},
                    {panel.max.x - static_cast<std::int32_t>(std::lround(kHoverInset * k)), box.max.y}};
                fillBox(diffuse, lit.translated(-a.x, -a.y), hoverDiffuse);
            }
            if (item.checked)
                softDisc(diffuse, px0 + kMarkX * k - static_cast<float>(a.x), mid - static_cast<float>(a.y),
                         kMarkRadius * k - 0.5f, kMarkRadius * k + 0.5f, markDiffuse, 1.0f);
            if (_font != nullptr && !item.text.empty()) {
                const float size = textSize * k;
                const IntRect ink = _font->measureText(item.text, size, 0.0f);
                const float left = px0 + kTextLeft * k;
                fillText(diffuseMap.sub(area), *_font, item.text, size, 0.0f,
                         item.enabled ? textColor : disabledTextColor,
                         left - static_cast<float>(ink.min.x) + 0.5f * static_cast<float>(ink.width()) -
                             static_cast<float>(a.x),
                         mid - static_cast<float>(a.y));
            }
        }
        // Scroll arrows: small engraved triangles where rows are out of sight.
        if (_scrolls) {
            const auto arrow = [&](bool up, float centreY) {
                const float cx = 0.5f * (px0 + px1), half = 3.5f * k;
                for (std::int32_t y = area.min.y; y < area.max.y; ++y) {
                    const float t = (static_cast<float>(y) + 0.5f - (centreY - half * 0.5f)) / half;
                    if (t < 0.0f || t > 1.0f) continue;
                    const float w = (up ? t : 1.0f - t) * half;
                    for (std::int32_t x = area.min.x; x < area.max.x; ++x)
                        if (std::fabs(static_cast<float>(x) + 0.5f - cx) <= w)
                            diffuseMap.at(x, y) = textColor;
                }
            };
            if (_first > 0) arrow(true, py0 + (kPadding + 0.5f * kScrollArrow) * k);
            if (_first + _shown < static_cast<std::int32_t>(_items.size()))
                arrow(false, py1 - (kPadding + 0.5f * kScrollArrow) * k);
        }
    }
}

}  // namespace korvo
