#include "korvo/widgets/textfield.h"

#include <algorithm>
#include <cmath>

#include "korvo/gui/context.h"
#include "korvo/widgets/paint.h"

namespace korvo {

namespace {

constexpr RGBA kWindowDiffuse{20, 22, 27, 0};
constexpr RGBA kTextColor{214, 220, 228, 26};
constexpr RGBA kSelectionColor{44, 96, 110, 40};
constexpr RGBA kCaretColor{140, 228, 250, 170};
constexpr double kBlinkSeconds = 0.5;

bool isContinuation(char c) noexcept {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

UITextField::UITextField(UIContext* context, Font* font)
    : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation), _font(font) {
    setVisible(false);
}

void UITextField::begin(IntRect box, std::string text, std::function<void(const std::string&)> onEnter,
                        std::function<void()> onCancel) {
    if (text.size() > kMaxBytes) text.resize(kMaxBytes);
    while (!text.empty() && isContinuation(text.back())) text.pop_back();
    _text = std::move(text);
    _anchor = 0;
    _caret = _text.size();
    _onEnter = std::move(onEnter);
    _onCancel = std::move(onCancel);
    _editing = true;
    _blink = 0.0;
    setPosition(box);
    setVisible(true);
    setDirtyAll(DirtyLayer::fromFlags);
    if (_context != nullptr && _context->focused != this) {
        if (_context->focused != nullptr) _context->focused->onFocusExit();
        _context->focused = this;
    }
}

void UITextField::end() {
    if (!_editing) return;
    _editing = false;
    setDirtyAll(DirtyLayer::fromFlags);
    setVisible(false);
    if (_context != nullptr && _context->focused == this) _context->focused = nullptr;
}

void UITextField::finish(bool enter) {
    // The callbacks may open the field again: take them first.
    auto onEnter = std::move(_onEnter);
    auto onCancel = std::move(_onCancel);
    const std::string text = _text;
    end();
    if (enter && onEnter) onEnter(text);
    if (!enter && onCancel) onCancel();
}

float UITextField::penAt(std::size_t bytes) const noexcept {
    if (_font == nullptr || bytes == 0) return 0.0f;
    // The pen after the prefix: where a following "I" starts, less that letter's own offset.
    const float size = textSize * scale();
    const std::string prefix = _text.substr(0, bytes) + "I";
    return static_cast<float>(_font->measureText(prefix, size, 0.0f).max.x -
                              _font->measureText("I", size, 0.0f).max.x);
}

std::size_t UITextField::offsetAt(std::int32_t x) const noexcept {
    const float pen = static_cast<float>(x) - textInset * scale();
    std::size_t best = 0;
    float bestDistance = std::fabs(pen);
    for (std::size_t i = 1; i <= _text.size(); ++i) {
        if (i < _text.size() && isContinuation(_text[i])) continue;
        const float d = std::fabs(pen - penAt(i));
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

void UITextField::moveCaret(std::size_t to, bool extend) {
    _caret = std::min(to, _text.size());
    if (!extend) _anchor = _caret;
    _blink = 0.0;
    setDirtyAll(DirtyLayer::fromFlags);
}

void UITextField::eraseSelection() {
    const std::size_t from = std::min(_anchor, _caret), to = std::max(_anchor, _caret);
    _text.erase(from, to - from);
    _caret = _anchor = from;
}

bool UITextField::onMouseClick(std::int32_t x, std::int32_t, MouseButton button, bool isDoubleClick,
                               MouseState mouseState) {
    if (!_editing) return false;
    if (button != MouseButton::left) return true;
    if (isDoubleClick) {
        _anchor = 0;
        moveCaret(_text.size(), true);
        return true;
    }
    moveCaret(offsetAt(x), mouseState.shift);
    return true;
}

void UITextField::onMouseDrag(std::int32_t x, std::int32_t, std::int32_t, std::int32_t, MouseState) {
    if (_editing) moveCaret(offsetAt(x), true);
}

void UITextField::onFocusExit() {
    if (_editing) finish(false);
}

bool UITextField::onKeyDown(Key key) {
    if (!_editing) return false;
    const MouseState mods = _context != nullptr ? _context->keyModifiers : MouseState{};
    auto previous = [this](std::size_t at) {
        if (at == 0) return at;
        --at;
        while (at > 0 && isContinuation(_text[at])) --at;
        return at;
    };
    auto next = [this](std::size_t at) {
        if (at >= _text.size()) return _text.size();
        ++at;
        while (at < _text.size() && isContinuation(_text[at])) ++at;
        return at;
    };
    const bool selection = _anchor != _caret;
    switch (key) {
        case Key::enter: finish(true); return true;
        case Key::escape: finish(false); return true;
        case Key::arrowLeft:
            moveCaret(selection && !mods.shift ? std::min(_anchor, _caret) : previous(_caret), mods.shift);
            return true;
        case Key::arrowRight:
            moveCaret(selection && !mods.shift ? std::max(_anchor, _caret) : next(_caret), mods.shift);
            return true;
        case Key::home: moveCaret(0, mods.shift); return true;
        case Key::end: moveCaret(_text.size(), mods.shift); return true;
        case Key::backspace:
        case Key::deleteKey:
            if (!selection) {
                if (key == Key::backspace)
                    _anchor = previous(_caret);
                else
                    _anchor = next(_caret);
            }
            eraseSelection();
            moveCaret(_caret, false);
            return true;
        case Key::a:
            if (mods.ctrl) {
                _anchor = 0;
                moveCaret(_text.size(), true);
            }
            return true;
        default:
            // Every other key is typing (its text follows) or nothing: it stays with the field.
            return true;
    }
}

bool UITextField::onKeyUp(Key) {
    return _editing;
}

bool UITextField::onTextInput(std::string_view text) {
    if (!_editing) return false;
    const MouseState mods = _context != nullptr ? _context->keyModifiers : MouseState{};
    if (mods.ctrl) return true;
    std::string typed;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 32 && c != 127) typed += c;
    eraseSelection();
    const std::size_t room = kMaxBytes > _text.size() ? kMaxBytes - _text.size() : 0;
    if (typed.size() > room) {
        typed.resize(room);
        while (!typed.empty() && isContinuation(typed.back())) typed.pop_back();
        // A lead byte whose continuation was cut goes too.
        if (!typed.empty() && (static_cast<unsigned char>(typed.back()) & 0xC0) == 0xC0) typed.pop_back();
    }
    _text.insert(_caret, typed);
    moveCaret(_caret + typed.size(), false);
    return true;
}

void UITextField::onAnimate(double dt, double) {
    if (!_editing || !(dt > 0.0)) return;
    const bool wasOn = std::fmod(_blink, 2.0 * kBlinkSeconds) < kBlinkSeconds;
    _blink += dt;
    const bool on = std::fmod(_blink, 2.0 * kBlinkSeconds) < kBlinkSeconds;
    if (on != wasOn) setDirtyAll(DirtyLayer::fromFlags);
}

void UITextField::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16>, ImageView<RGBA>,
                            const Vec<IntRect>& dirtyRects) {
    if (!_editing) return;
    const float k = scale();
    const IntPoint o = _drawOffset;
    const std::int32_t w = _position.width(), h = _position.height();
    const float left = textInset * k;
    const float selectionFrom = left + penAt(std::min(_anchor, _caret));
    const float selectionTo = left + penAt(std::max(_anchor, _caret));
    // The caret a hair right of the pen, so it never covers the letter before it; one device
    // pixel per whole scale step wide.
    const float caretWidth = std::max(1.0f, std::round(k));
    const float caretX = std::floor(left + penAt(_caret) + 0.5f * k);
    const bool caretOn = std::fmod(_blink, 2.0 * kBlinkSeconds) < kBlinkSeconds;
    for (const IntRect& r : dirtyRects) {
        const IntRect box = IntRect{{0, 0}, {w, h}}.translated(-o.x, -o.y).intersection(r);
        if (box.empty()) continue;
        for (std::int32_t y = box.min.y; y < box.max.y; ++y) {
            RGBA* diffuse = diffuseMap.row(y);
            const float ly = static_cast<float>(y + o.y) + 0.5f;
            const bool inRow = ly > 3.0f * k && ly < static_cast<float>(h) - 3.0f * k;
            for (std::int32_t x = box.min.x; x < box.max.x; ++x) {
                const float lx = static_cast<float>(x + o.x) + 0.5f;
                // The window's floor (its walls and depth are the ones it lies in), rounded corners.
                const float corner = 3.0f * k;
                const float dx = std::max(std::max(corner - lx, lx - (static_cast<float>(w) - corner)), 0.0f);
                const float dy = std::max(std::max(corner - ly, ly - (static_cast<float>(h) - corner)), 0.0f);
                const float cover = std::clamp(corner + 0.5f - std::sqrt(dx * dx + dy * dy), 0.0f, 1.0f);
                widgets::blendCoverage(diffuse[x], kWindowDiffuse, cover);
                if (inRow && lx >= selectionFrom && lx < selectionTo) diffuse[x] = kSelectionColor;
            }
        }
        if (_font != nullptr && !_text.empty()) {
            const float size = textSize * k;
            const IntRect ink = _font->measureText(_text, size, 0.0f);
            fillText(diffuseMap.sub(box), *_font, _text, size, 0.0f, kTextColor,
                     left + static_cast<float>(ink.min.x) + 0.5f * static_cast<float>(ink.width()) -
                         static_cast<float>(box.min.x + o.x),
                     0.5f * static_cast<float>(h) - static_cast<float>(box.min.y + o.y));
        }
        if (caretOn) {
            const IntRect caret{{static_cast<std::int32_t>(caretX), static_cast<std::int32_t>(3.0f * k)},
                                {static_cast<std::int32_t>(caretX + caretWidth), h - static_cast<std::int32_t>(3.0f * k)}};
            fillBox(diffuseMap, caret.translated(-o.x, -o.y).intersection(box), kCaretColor);
        }
    }
}

}  // namespace korvo
