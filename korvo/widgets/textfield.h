#pragma once
// UITextField: one line of text to type, in the recessed dark window of the toolkit, with a thin
// cyan caret and the selection in dimmed cyan. Hidden until begin(); then it takes the keyboard
// focus with the whole text selected. Keys: Left / Right (with Shift: extend the selection), Home,
// End, Backspace, Delete, Ctrl+A (select all); typed text replaces the selection. A click places
// the caret (Shift+click extends) and a drag selects. Enter calls onEnter(text), Escape or a click
// elsewhere (the focus goes) onCancel(); both hide the field first. While it is shown every key
// stays with it, so typing never reaches the host's shortcuts.
//
// Thread contract: [main-thread]; drawing runs on a pool thread and takes the font's lock.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "korvo/graphics/font.h"
#include "korvo/gui/element.h"

namespace korvo {

class UITextField : public UIElement {
public:
    static constexpr std::size_t kMaxBytes = 128;

    // font is not owned (it must outlive the field).
    UITextField(UIContext* context, Font* font);

    float textSize = 9.5f;
    float textInset = 6.0f;  // base pixels from the left edge

    // Shows the field in `box` (base pixels) holding `text`, all selected, and takes the focus.
    void begin(IntRect box, std::string text, std::function<void(const std::string&)> onEnter,
               std::function<void()> onCancel);
    // Hides the field without calling anything.
    void end();
    bool isEditing() const noexcept { return _editing; }
    const std::string& text() const noexcept { return _text; }
    std::size_t caret() const noexcept { return _caret; }
    std::size_t anchor() const noexcept { return _anchor; }

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    void onMouseDrag(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     MouseState mouseState) override;
    void onFocusExit() override;
    bool onKeyDown(Key key) override;
    bool onKeyUp(Key key) override;
    bool onTextInput(std::string_view text) override;
    void onAnimate(double dt, double time) override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;

private:
    // The pen position after the first `bytes` bytes, device pixels from the text's origin.
    float penAt(std::size_t bytes) const noexcept;
    // The byte offset of the character boundary nearest a local x.
    std::size_t offsetAt(std::int32_t x) const noexcept;
    void moveCaret(std::size_t to, bool extend);
    void eraseSelection();
    void finish(bool enter);

    Font* _font;
    std::string _text;
    std::size_t _caret = 0, _anchor = 0;
    bool _editing = false;
    double _blink = 0.0;
    std::function<void(const std::string&)> _onEnter;
    std::function<void()> _onCancel;
};

}  // namespace korvo
