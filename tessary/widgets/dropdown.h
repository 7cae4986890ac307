#pragma once
// TessaryDropdown: a header showing the current choice of an integer (or enumerated) parameter
// that opens into a list of every choice below it.
//
// The element's box is the open list's whole area: row 0 is the header, rows 1..count the
// choices (itemHeight = height / (count + 1)). Closed, only the header is drawn and taken: clicks
// in the rest of the box reach the widgets beneath. Open, every click in the box is taken: a
// choice row sets the parameter (inside one begin/end edit pair), the header just closes; the
// list also closes when it loses the keyboard focus (a click anywhere else) and on Escape. The
// list rolls down and up with an animation; every frame of it marks the whole box dirty, so the
// widgets beneath are redrawn as the list leaves them and no stale picture remains.
//
// Give it a z-order above its neighbours so the open list lies over them.
//
// Thread contract: [main-thread], except the IParameterListener operations ([any-thread]: they
// only record the change). Drawing runs on a pool thread and takes the font's lock.

#include <cstdint>
#include <string>
#include <vector>

#include "korvo/client/params.h"
#include "korvo/graphics/font.h"
#include "korvo/gui/element.h"

namespace tessary {

class TessaryDropdown : public korvo::UIElement, public korvo::IParameterListener {
public:
    // font is not owned. labels: one text per value, from the minimum up (missing ones are shown
    // as the parameter's own text).
    TessaryDropdown(korvo::UIContext* context, korvo::IntegerParameter* param, korvo::Font* font,
                    std::vector<std::string> labels);
    ~TessaryDropdown() override;
    // Closed, only the header is the control; open, the whole list.
    korvo::Parameter* editedParameterAt(std::int32_t x, std::int32_t y) const noexcept override;

    korvo::RGBA rowColor{255, 255, 255, 0};
    korvo::RGBA selectedRowColor{130, 150, 200, 0};
    korvo::RGBA headerColor{100, 100, 100, 0};
    korvo::RGBA material{255, 32, 128, 255};
    float textSize = 13.0f;
    korvo::RGBA textColor{128, 128, 128, 0};
    korvo::RGBA highlightTextColor{255, 255, 255, 40};
    float openAnimation = 0.0f;
    korvo::IntegerParameter* param;
    korvo::Font* font;
    bool open = false;
    std::int32_t mouseY = 0;
    std::vector<std::string> labels;

    // Number of choices (max - min + 1).
    std::int32_t count() const noexcept { return count_; }
    virtual float itemHeight() const noexcept;
    // Row under a local y (0 = header), clamped to 0..count.
    std::int32_t rowAt(std::int32_t y) const noexcept;
    // Rows drawn at the current animation (1 = the header only).
    std::int32_t rowsShown() const noexcept;
    void setOpen(bool isOpen);

    void onParameterChanged(korvo::Parameter& parameter) noexcept override;
    void onBeginParameterEdit(korvo::Parameter& parameter) noexcept override;
    void onEndParameterEdit(korvo::Parameter& parameter) noexcept override;

    bool onMouseClick(std::int32_t x, std::int32_t y, korvo::MouseButton button, bool isDoubleClick,
                      korvo::MouseState mouseState) override;
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     korvo::MouseState mouseState) override;
    void onMouseEnter() override;
    void onMouseExit() override;
    void onFocusExit() override;
    bool onKeyDown(korvo::Key key) override;
    void onAnimate(double dt, double time) override;
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;

private:
    std::int32_t count_ = 1;
    std::int32_t currentRow() const noexcept;
};

}  // namespace tessary
