#pragma once
// TessaryRadioButtonSet: a column of buttons, one per value of an integer (or enumerated)
// parameter, the minimum at the top. Each button shows a round light that brightens while its
// value is the current one; the row under the pointer glows faintly.
//
// A click on a button sets the parameter to that button's value inside one begin/end edit pair;
// a click in the leftover pixels below the last button (when the height is not a multiple of the
// count) is not taken.
//
// Thread contract: [main-thread], except the IParameterListener operations ([any-thread]: they
// only record the change). Drawing runs on a pool thread.

#include <cstdint>
#include <vector>

#include "korvo/client/params.h"
#include "korvo/gui/element.h"

namespace tessary {

class TessaryRadioButtonSet : public korvo::UIElement, public korvo::IParameterListener {
public:
    TessaryRadioButtonSet(korvo::IntegerParameter* param, korvo::UIContext* context);
    ~TessaryRadioButtonSet() override;
    korvo::Parameter* editedParameterAt(std::int32_t, std::int32_t) const noexcept override { return param; }

    korvo::RGBA highlightColor{200, 230, 255, 0};
    float lightRadius = 5.0f;
    korvo::RGBA baseColor{120, 135, 148, 0};
    std::uint16_t rimDepth = 30000;     // the socket's rim
    std::uint16_t socketDepth = 18000;  // the socket the light sits in
    korvo::IntegerParameter* param;
    std::int32_t mouseY = 0;
    std::vector<float> animations;  // one per value

    // Number of buttons (max - min + 1).
    std::int32_t count() const noexcept { return static_cast<std::int32_t>(animations.size()); }
    virtual std::int32_t buttonHeight() const noexcept;

    void onParameterChanged(korvo::Parameter& parameter) noexcept override;
    void onBeginParameterEdit(korvo::Parameter& parameter) noexcept override;
    void onEndParameterEdit(korvo::Parameter& parameter) noexcept override;

    bool onMouseClick(std::int32_t x, std::int32_t y, korvo::MouseButton button, bool isDoubleClick,
                      korvo::MouseState mouseState) override;
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     korvo::MouseState mouseState) override;
    void onMouseEnter() override;
    void onMouseExit() override;
    void onAnimate(double dt, double time) override;
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;

    // Index of the current value's button (clamped into the set).
    std::int32_t currentIndex() const noexcept;
};

}  // namespace tessary
