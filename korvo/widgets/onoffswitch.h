#pragma once
// UIOnOffSwitch: a two-state rocker for a boolean parameter. The face (the inner box from 10 % to
// 90 % of the element) is a depth slope that rocks from one end to the other as the switch turns
// on; its colour moves from `diffuseOff` to `diffuseOn` (alpha = glow), 40 steps brighter while
// the pointer is over it or it is held.
//
// A click toggles the parameter (Alt + click sets its default) inside one begin/end edit pair;
// every click is taken.
//
// Thread contract: [main-thread], except the IParameterListener operations ([any-thread]: they
// only record the change). Drawing runs on a pool thread.

#include <cstdint>

#include "korvo/client/params.h"
#include "korvo/gui/element.h"

namespace korvo {

class UIOnOffSwitch : public UIElement, public IParameterListener {
public:
    UIOnOffSwitch(UIContext* context, BoolParameter* param);
    Parameter* editedParameterAt(std::int32_t, std::int32_t) const noexcept override { return param; }
    ~UIOnOffSwitch() override;

    RGBA diffuseOff{230, 80, 43, 0};
    RGBA diffuseOn{230, 80, 43, 200};
    RGBA material{192, 10, 128, 255};
    float animationTimeConstant = 10.0f;
    std::uint16_t depthLow = 0;
    std::uint16_t depthHigh = 30000;
    std::uint16_t holeDepth = 0;
    std::int32_t orientation = 0;  // 0: the slope runs top to bottom; 1: left to right
    BoolParameter* param;
    float onAnimation = 0.0f;  // 0 off ... 1 on

    void onParameterChanged(Parameter& parameter) noexcept override;
    void onBeginParameterEdit(Parameter& parameter) noexcept override;
    void onEndParameterEdit(Parameter& parameter) noexcept override;

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    void onMouseEnter() override;
    void onMouseExit() override;
    void onAnimate(double dt, double time) override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;

    // The face box in element coordinates.
    IntRect faceBox() const noexcept;
};

}  // namespace korvo
