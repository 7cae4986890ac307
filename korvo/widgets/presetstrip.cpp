#include "korvo/widgets/presetstrip.h"

#include <algorithm>
#include <cmath>

#include "korvo/gui/context.h"
#include "korvo/widgets/paint.h"

namespace korvo {

namespace {

// Base-pixel geometry inside the strip.
constexpr float kButtonRadius = 7.0f;
constexpr float kPreviousX = 9.0f, kNextX = 27.0f, kMidY = 12.0f;
constexpr float kNameX0 = 38.0f, kNameX1 = 188.0f, kNameY0 = 3.0f, kNameY1 = 21.0f;
constexpr float kCompareX0 = 194.0f, kCompareX1 = 238.0f, kCompareY0 = 4.0f, kCompareY1 = 20.0f;
constexpr float kCompareMid = 216.0f;
constexpr float kUndoX = 252.0f, kRedoX = 274.0f, kArrowRadius = 9.0f;
constexpr float kTextInset = 6.0f;
constexpr float kDotX = 182.0f, kDotRadius = 2.0f;

constexpr RGBA kButtonDiffuse{118, 124, 134, 0}, kButtonHover{138, 146, 158, 6};
constexpr RGBA kEngraved{40, 43, 49, 0};
constexpr RGBA kWindowDiffuse{20, 22, 27, 0};
constexpr RGBA kNameColor{196, 202, 210, 22};
constexpr RGBA kMessageColor{236, 180, 92, 60};
constexpr RGBA kDotColor{255, 168, 56, 150};
constexpr RGBA kLitColor{140, 228, 250, 150};
constexpr RGBA kDimColor{112, 118, 128, 4};
constexpr RGBA kMetalMaterial{60, 200, 200, 255};
constexpr RGBA kWindowMaterial{150, 30, 70, 255};

float smoothCover(float distance, float pixel) noexcept {
    return std::clamp(0.5f - distance / pixel, 0.0f, 1.0f);
}

// Signed distance to a rounded box (negative inside), base pixels.
float boxDistance(float x, float y, float x0, float y0, float x1, float y1, float radius) noexcept {
    const float cx = 0.5f * (x0 + x1), cy = 0.5f * (y0 + y1);
    const float hx = 0.5f * (x1 - x0) - radius, hy = 0.5f * (y1 - y0) - radius;
    const float dx = std::fabs(x - cx) - hx, dy = std::fabs(y - cy) - hy;
    const float ox = std::max(dx, 0.0f), oy = std::max(dy, 0.0f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(dx, dy), 0.0f) - radius;
}

// Distance to a triangle pointing left (dir -1) or right (+1) centred on (cx, cy), half size h:
// the back edge and the two slanted sides meeting at the tip.
float arrowDistance(float x, float y, float cx, float cy, float h, float dir) noexcept {
    const float u = (x - cx) * dir, v = std::fabs(y - cy);
    const float back = -h * 0.5f - u;
    const float side = 0.4472136f * (u - h * 0.5f) + 0.8944272f * v;  // through the tip and a back corner
    return std::max(back, side);
}

// Distance to the undo (dir -1) or redo (+1) glyph: the upper half of a ring and a head at the
// end it turns back from.
float turnArrowDistance(float x, float y, float cx, float cy, float dir) noexcept {
    const float r = 4.2f, half = 0.8f;
    const float dx = x - cx, dy = y - (cy + 1.5f);
    float ring = std::fabs(std::sqrt(dx * dx + dy * dy) - r) - half;
    if (dy > 0.0f) ring = std::max(ring, dy);  // the upper half only
    const float headX = cx + dir * r, headY = cy + 2.2f;
    const float u = (y - headY), v = std::fabs(x - headX);
    const float head = std::max(-u - 0.2f, (u - 2.6f) * 0.8f + v * 0.9f);
    return std::min(ring, head);
}

}  // namespace

UIPresetStrip::UIPresetStrip(UIContext* context, Font* font)
    : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation), _font(font) {}

IntRect UIPresetStrip::partBox(Part part) noexcept {
    auto box = [](float x0, float y0, float x1, float y1) {
        return IntRect{{static_cast<std::int32_t>(std::floor(x0)), static_cast<std::int32_t>(std::floor(y0))},
                       {static_cast<std::int32_t>(std::ceil(x1)), static_cast<std::int32_t>(std::ceil(y1))}};
    };
    switch (part) {
        case Part::previous: return box(kPreviousX - kButtonRadius, 2, kPreviousX + kButtonRadius + 1, 22);
        case Part::next: return box(kNextX - kButtonRadius - 1, 2, kNextX + kButtonRadius, 22);
        case Part::name: return box(kNameX0, kNameY0, kNameX1, kNameY1);
        case Part::slotA: return box(kCompareX0, kCompareY0, kCompareMid, kCompareY1);
        case Part::slotB: return box(kCompareMid, kCompareY0, kCompareX1, kCompareY1);
        case Part::undo: return box(kUndoX - kArrowRadius, 2, kUndoX + kArrowRadius + 2, 22);
        case Part::redo: return box(kRedoX - kArrowRadius - 2, 2, kRedoX + kArrowRadius, 22);
        default: return IntRect{};
    }
}

UIPresetStrip::Part UIPresetStrip::partAt(float baseX, float baseY) noexcept {
    for (Part p : {Part::previous, Part::next, Part::name, Part::slotA, Part::slotB, Part::undo, Part::redo}) {
        const IntRect b = partBox(p);
        if (baseX >= static_cast<float>(b.min.x) && baseX < static_cast<float>(b.max.x) &&
            baseY >= static_cast<float>(b.min.y) && baseY < static_cast<float>(b.max.y))
            return p;
    }
    return Part::none;
}

IntRect UIPresetStrip::nameWindow() const noexcept {
    return scaleRect(partBox(Part::name).translated(_layout.min.x, _layout.min.y), scale());
}

void UIPresetStrip::markPart(Part part) {
    const IntRect base = partBox(part);
    if (base.empty()) return;
    const IntRect grown{{base.min.x - 1, base.min.y - 1}, {base.max.x + 1, base.max.y + 1}};
    const IntRect device = scaleRect(grown, scale());
    setDirty(DirtyLayer::fromFlags, device);
}

void UIPresetStrip::setName(std::string name) {
    if (name == _name) return;
    _name = std::move(name);
    if (_message.empty()) markPart(Part::name);
}

void UIPresetStrip::setModified(bool modified) {
    if (modified == _modified) return;
    _modified = modified;
    markPart(Part::name);
}

void UIPresetStrip::setSlot(std::int32_t slot) {
    if (slot == _slot) return;
    _slot = slot;
    markPart(Part::slotA);
    markPart(Part::slotB);
}

void UIPresetStrip::setUndoable(bool canUndo, bool canRedo) {
    if (canUndo != _canUndo) markPart(Part::undo);
    if (canRedo != _canRedo) markPart(Part::redo);
    _canUndo = canUndo;
    _canRedo = canRedo;
}

void UIPresetStrip::showMessage(std::string text) {
    _message = std::move(text);
    _messageLeft = _message.empty() ? 0.0 : kMessageSeconds;
    markPart(Part::name);
}

bool UIPresetStrip::onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool, MouseState) {
    const float k = scale();
    const Part part = partAt(static_cast<float>(x) / k, static_cast<float>(y) / k);
    if (part == Part::none) return false;
    if (button == MouseButton::right) {
        if (part != Part::slotA && part != Part::slotB) return false;
        _pressed = Part::compareMenu;
        return true;
    }
    if (button != MouseButton::left) return false;
    _pressed = part;
    return true;
}

void UIPresetStrip::onStopDrag() {
    // The press acts on release: what it opens (a menu, the text field) takes the focus then,
    // not the strip that the click itself gives it to.
    const Part part = _pressed;
    _pressed = Part::none;
    if (part != Part::none && onPress) onPress(part);
}

void UIPresetStrip::onMouseMove(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, MouseState) {
    const float k = scale();
    const Part part = partAt(static_cast<float>(x) / k, static_cast<float>(y) / k);
    if (part == _hovered) return;
    markPart(_hovered);
    _hovered = part;
    markPart(_hovered);
}

void UIPresetStrip::onMouseExit() {
    markPart(_hovered);
    _hovered = Part::none;
}

void UIPresetStrip::onAnimate(double dt, double) {
    if (_message.empty() || !(dt > 0.0)) return;
    _messageLeft -= dt;
    if (_messageLeft <= 0.0) showMessage({});
}

void UIPresetStrip::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                              const Vec<IntRect>& dirtyRects) {
    const float k = scale(), pixel = 1.0f / k;
    const IntPoint o = _drawOffset;
    for (const IntRect& r : dirtyRects) {
        for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
            RGBA* diffuse = diffuseMap.row(y);
            RGBA* material = materialMap.row(y);
            L16* depth = depthMap.row(y);
            const float by = (static_cast<float>(y + o.y) + 0.5f) / k;
            for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                const float bx = (static_cast<float>(x + o.x) + 0.5f) / k;
                const std::uint16_t panel = depth[x].l;
                auto lowered = [panel](int amount) {
                    return static_cast<std::uint16_t>(std::clamp(static_cast<int>(panel) - amount, 0, 65535));
                };
                auto raised = [panel](int amount) {
                    return static_cast<std::uint16_t>(std::clamp(static_cast<int>(panel) + amount, 0, 65535));
                };
                // Previous and next: raised discs with an engraved arrow.
                for (int b = 0; b < 2; ++b) {
                    const float cx = b == 0 ? kPreviousX : kNextX;
                    const float dx = bx - cx, dy = by - kMidY;
                    const float d = std::sqrt(dx * dx + dy * dy) - kButtonRadius;
                    const float c = smoothCover(d, pixel);
                    if (c <= 0.0f) continue;
                    const bool hot = _hovered == (b == 0 ? Part::previous : Part::next);
                    widgets::blendCoverage(diffuse[x], hot ? kButtonHover : kButtonDiffuse, c);
                    widgets::blendCoverage(material[x], kMetalMaterial, c);
                    const float dome = std::clamp(-d / 2.5f, 0.0f, 1.0f);
                    widgets::blendDepth(depth[x], raised(4000), c * dome);
                    const float a = smoothCover(arrowDistance(bx, by, cx, kMidY, 5.0f, b == 0 ? -1.0f : 1.0f), pixel);
                    widgets::blendCoverage(diffuse[x], kEngraved, a);
                    widgets::blendDepth(depth[x], raised(1500), a);
                }
                // The name window and the compare pair: recessed.
                const float nd = boxDistance(bx, by, kNameX0, kNameY0, kNameX1, kNameY1, 3.0f);
                const float cd = boxDistance(bx, by, kCompareX0, kCompareY0, kCompareX1, kCompareY1, 3.0f);
                for (const float d : {nd, cd}) {
                    const float c = smoothCover(d, pixel);
                    if (c <= 0.0f) continue;
                    widgets::blendCoverage(diffuse[x], kWindowDiffuse, c);
                    widgets::blendCoverage(material[x], kWindowMaterial, c);
                    const float wall = std::clamp(-d / 2.0f, 0.0f, 1.0f);
                    widgets::blendDepth(depth[x], lowered(9000), c * wall);
                }
                if (nd < 0.0f && _modified && _message.empty()) {
                    const float dx = bx - kDotX, dy = by - kMidY;
                    widgets::blendCoverage(diffuse[x], kDotColor,
                                           smoothCover(std::sqrt(dx * dx + dy * dy) - kDotRadius, pixel));
                }
                if (cd < 0.0f) {
                    // The divider, and a lit bar under the shown slot.
                    widgets::blendCoverage(diffuse[x], kEngraved, smoothCover(std::fabs(bx - kCompareMid) - 0.5f, pixel));
                    const float slotX0 = _slot == 0 ? kCompareX0 + 4.0f : kCompareMid + 4.0f;
                    const float bar = boxDistance(bx, by, slotX0, kCompareY1 - 4.0f, slotX0 + 14.0f, kCompareY1 - 2.8f, 0.5f);
                    widgets::blendCoverage(diffuse[x], kLitColor, smoothCover(bar, pixel));
                }
                // Undo and redo.
                for (int b = 0; b < 2; ++b) {
                    const float cx = b == 0 ? kUndoX : kRedoX;
                    const float a = smoothCover(turnArrowDistance(bx, by, cx, kMidY, b == 0 ? -1.0f : 1.0f), pixel);
                    if (a <= 0.0f) continue;
                    const bool on = b == 0 ? _canUndo : _canRedo;
                    const bool hot = on && _hovered == (b == 0 ? Part::undo : Part::redo);
                    RGBA ink = on ? kLitColor : kEngraved;
                    if (hot) ink.a = widgets::addAlpha(ink.a, 60);
                    widgets::blendCoverage(diffuse[x], ink, a);
                    widgets::blendDepth(depth[x], on ? raised(600) : lowered(1200), a);
                }
            }
        }
        // Text: the name (or the message) left in its window, the slot letters centred.
        if (_font == nullptr) continue;
        const float size = textSize * k;
        const ImageView<RGBA> area = diffuseMap.sub(r);
        const float ax = static_cast<float>(r.min.x + o.x), ay = static_cast<float>(r.min.y + o.y);
        const std::string& shown = _message.empty() ? _name : _message;
        if (!shown.empty()) {
            const float left = (kNameX0 + kTextInset) * k, right = (kDotX - 4.0f) * k;
            // Long names are cut to the window, whole characters, with an ellipsis.
            std::string text = shown;
            const auto fits = [&](const std::string& t) {
                return static_cast<float>(_font->measureText(t, size, 0.0f).max.x) <= right - left;
            };
            if (!fits(text)) {
                while (!text.empty() && !fits(text + "...")) {
                    std::size_t cut = text.size() - 1;
                    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
                    text.erase(cut);
                }
                text += "...";
            }
            const IntRect ink = _font->measureText(text, size, 0.0f);
            const IntRect clip = IntRect{{static_cast<std::int32_t>(kNameX0 * k), static_cast<std::int32_t>(kNameY0 * k)},
                                         {static_cast<std::int32_t>(kNameX1 * k), static_cast<std::int32_t>(kNameY1 * k)}}
                                     .translated(-o.x, -o.y)
                                     .intersection(r);
            if (!clip.empty())
                fillText(diffuseMap.sub(clip), *_font, text, size, 0.0f, _message.empty() ? kNameColor : kMessageColor,
                         left + static_cast<float>(ink.min.x) + 0.5f * static_cast<float>(ink.width()) -
                             static_cast<float>(clip.min.x + o.x),
                         kMidY * k - static_cast<float>(clip.min.y + o.y));
        }
        const float letters[2] = {0.5f * (kCompareX0 + kCompareMid), 0.5f * (kCompareMid + kCompareX1)};
        for (int s = 0; s < 2; ++s)
            fillText(area, *_font, s == 0 ? "A" : "B", size, 0.0f, s == _slot ? kLitColor : kDimColor,
                     letters[s] * k - ax, (kMidY - 1.0f) * k - ay);
    }
}

}  // namespace korvo
