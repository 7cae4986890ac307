#pragma once
// UISlider: a vertical fader for a float or integer parameter. A groove down the middle (lit
// between the handle positions of `trailBaseValue` and of the value) and a handle whose top is at
// (h - handleHeight) * (1 - value). It keeps its own rendered layers (UIBufferedElementPBR) and
// repaints them only when marked dirty.
//
// Input: every click is taken (a double click or Alt + click first resets the parameter to its
// default, inside one begin/end edit pair) and starts a drag. Dragging follows the knob's rules
// (UIKnob): the element height and `sensitivity`, Ctrl or Shift for a tenth, Alt for the default,
// and the same pinning at the ends. For an integer parameter the normalized drag is accumulated
// in `remainder` and applied in whole steps, so slow drags still move the value. Edits happen
// only between beginEdit (drag start) and endEdit (drag end).
//
// Host values: NaN is drawn as 0, the rest clamped to [0, 1]; no NaN reaches the parameter.
//
// Thread contract: [main-thread], except the IParameterListener operations ([any-thread]: they
// only record the change). Drawing runs on a pool thread.

#include <cstdint>

#include "korvo/client/params.h"
#include "korvo/gui/bufferedelement.h"

namespace korvo {

class UISlider : public UIBufferedElementPBR, public IParameterListener {
public:
    // `param` is a float or integer parameter (not owned; it must outlive the slider).
    UISlider(UIContext* context, Parameter* param);
    Parameter* editedParameterAt(std::int32_t, std::int32_t) const noexcept override { return param; }
    ~UISlider() override;

    std::uint16_t trailDepth = 30000;
    RGBA unlitTrailDiffuse{130, 90, 45, 5};
    RGBA litTrailDiffuse{240, 165, 102, 130};
    float trailWidth = 0.2f;  // fraction of the element width
    RGBA litTrailDiffuseAlt{240, 165, 102, 130};
    float trailBaseValue = 0.0f;
    std::int32_t handleStyle = 0;  // 0 ridged, 1 raised middle, 2 grooved middle, 3 rounded
    float handleHeightRatio = 0.25f;
    float handleWidthRatio = 0.7f;
    RGBA handleDiffuse{248, 245, 233, 16};
    RGBA handleMaterial{0, 255, 128, 255};

    Parameter* param;
    float sensitivity = 1.0f;
    float pushedAnimation = 0.0f;
    float lastZeroCrossY;
    float lastOneCrossY;
    float remainder = 0.0f;

    virtual float getSensitivity() const noexcept { return sensitivity; }
    virtual void setSensitivity(float s) noexcept { sensitivity = s; }
    virtual void resetDragBounds() noexcept;

    void onParameterChanged(Parameter& parameter) noexcept override;
    void onBeginParameterEdit(Parameter& parameter) noexcept override;
    void onEndParameterEdit(Parameter& parameter) noexcept override;

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    void onBeginDrag() override;
    void onMouseDrag(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     MouseState mouseState) override;
    void onStopDrag() override;
    void onMouseEnter() override;
    void onMouseExit() override;
    void onAnimate(double dt, double time) override;
    void redrawCachePBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                        ImageView<L8> diffuseOpacity, ImageView<L8> depthOpacity,
                        ImageView<L8> materialOpacity) override;

    // The parameter's normalized value as drawn (NaN -> 0, clamped to [0, 1]).
    double displayedValue() const noexcept;
    // The handle box for a value and push state, in element coordinates.
    IntRect handleBox(double value, float pushed) const noexcept;
};

}  // namespace korvo
