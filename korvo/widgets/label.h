#pragma once
// UILabel: one line of text drawn into the diffuse layer (its colour's alpha is the emissive
// amount), centred on the element's centre, optionally a link that opens a web page when clicked.
//
// A plain label takes no click, so clicks fall through to what lies beneath. A clickable label
// takes the click and opens `targetURL` (http and https only, see korvo/window/shellopen.h); it
// glows 40 steps more while the pointer is over it and 80 while it is held with the pointer
// elsewhere.
//
// Thread contract: [main-thread]; drawing runs on a pool thread and takes the font's lock.

#include <string>
#include <string_view>

#include "korvo/graphics/font.h"
#include "korvo/gui/element.h"

namespace korvo {

class UILabel : public UIElement {
public:
    // The address a link carries until it is given one.
    static constexpr const char* kPlaceholderURL = "https://example.com/";

    // font is not owned and must outlive the label (it may be null: nothing is drawn).
    UILabel(UIContext* context, Font* font, std::string_view text);

    bool clickable = false;
    std::string targetURL = kPlaceholderURL;

    // Each setter marks the label dirty before storing.
    Font* font() const noexcept { return _font; }
    void setFont(Font* font);
    const std::string& text() const noexcept { return _text; }
    void setText(std::string_view text);
    float textSize() const noexcept { return _textSize; }
    void setTextSize(float size);
    float letterSpacing() const noexcept { return _letterSpacing; }
    void setLetterSpacing(float spacing);
    RGBA textColor() const noexcept { return _textColor; }
    void setTextColor(RGBA color);

    // Places the label's box around its text centred on (x, y), one pixel of margin on each side
    // (base grid; the text is drawn at the scale, its size and spacing in base pixels).
    void placeAroundText(float x, float y);

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    void onMouseEnter() override;
    void onMouseExit() override;
    void onBeginDrag() override;
    void onStopDrag() override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;

    // The colour drawn now (textColor with the link's hover or press glow added).
    RGBA currentColor() const noexcept;

private:
    Font* _font;
    std::string _text;
    float _textSize = 16.0f;
    float _letterSpacing = 0.0f;
    RGBA _textColor{255, 255, 255, 0};
};

}  // namespace korvo
