// UILabel: text, centring and the link behaviour.
#include "korvo/widgets/label.h"

#include <cmath>

#include "korvo/window/shellopen.h"

namespace korvo {

namespace {
std::uint8_t addClamped(std::uint8_t a, int add) noexcept {
    const int v = a + add;
    return static_cast<std::uint8_t>(v > 255 ? 255 : v);
}
}  // namespace

UILabel::UILabel(UIContext* context, Font* font, std::string_view text)
    : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation), _font(font), _text(text) {}

void UILabel::setFont(Font* font) {
    setDirtyAll(DirtyLayer::fromFlags);
    _font = font;
}
void UILabel::setText(std::string_view text) {
    setDirtyAll(DirtyLayer::fromFlags);
    _text.assign(text);
}
void UILabel::setTextSize(float size) {
    setDirtyAll(DirtyLayer::fromFlags);
    _textSize = size;
}
void UILabel::setLetterSpacing(float spacing) {
    setDirtyAll(DirtyLayer::fromFlags);
    _letterSpacing = spacing;
}
void UILabel::setTextColor(RGBA color) {
    setDirtyAll(DirtyLayer::fromFlags);
    _textColor = color;
}

void UILabel::placeAroundText(float x, float y) {
    if (_font == nullptr || !std::isfinite(x) || !std::isfinite(y)) return;
    const IntRect m = _font->measureText(_text, _textSize, _letterSpacing);
    const std::int32_t w = m.width() + 2, h = m.height() + 2;
    const auto x0 = static_cast<std::int32_t>(std::lround(x - static_cast<float>(w) * 0.5f));
    const auto y0 = static_cast<std::int32_t>(std::lround(y - static_cast<float>(h) * 0.5f));
    setDirtyAll(DirtyLayer::fromFlags);
    setPosition(IntRect::fromXYWH(x0, y0, w, h));
    setDirtyAll(DirtyLayer::fromFlags);
}

bool UILabel::onMouseClick(std::int32_t, std::int32_t, MouseButton, bool, MouseState) {
    if (!clickable) return false;
    openURL(targetURL);
    return true;
}

void UILabel::onMouseEnter() {
    if (clickable) setDirtyAll(DirtyLayer::fromFlags);
}
void UILabel::onMouseExit() {
    if (clickable) setDirtyAll(DirtyLayer::fromFlags);
}
void UILabel::onBeginDrag() {
    if (clickable) setDirtyAll(DirtyLayer::fromFlags);
}
void UILabel::onStopDrag() {
    if (clickable) setDirtyAll(DirtyLayer::fromFlags);
}

RGBA UILabel::currentColor() const noexcept {
    RGBA c = _textColor;
    if (!clickable) return c;
    if (isDragged() && !_mouseOver)
        c.a = addClamped(c.a, 80);
    else if (_mouseOver)
        c.a = addClamped(c.a, 40);
    return c;
}

void UILabel::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16>, ImageView<RGBA>,
                        const Vec<IntRect>& dirtyRects) {
    if (_font == nullptr || _text.empty()) return;
    const RGBA color = currentColor();
    // Centre in the element's frame, then in the frame of each dirty rectangle's view.
    const float cx = static_cast<float>(_position.width()) * 0.5f - static_cast<float>(_drawOffset.x);
    const float cy = static_cast<float>(_position.height()) * 0.5f - static_cast<float>(_drawOffset.y);
    // Rasterised at the drawing's scale.
    const float k = scale();
    for (const IntRect& r : dirtyRects) {
        fillText(diffuseMap.sub(r), *_font, _text, _textSize * k, _letterSpacing * k, color,
                 cx - static_cast<float>(r.min.x), cy - static_cast<float>(r.min.y));
    }
}

}  // namespace korvo
