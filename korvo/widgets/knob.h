#pragma once
// UIKnob: the rotary control. A lit disc painted into the diffuse, depth and material layers (the
// compositor turns them into the final picture), a ring of LEDs riding on the disc and pointing at
// the value, and two arcs around it: an unlit one over the whole travel and a lit one from a base
// angle to the value. PanKnob adds a small dark needle dot on the rim.
//
// Geometry: the knob square is the largest square centred in the element's box (side s; the odd
// leftover pixel goes to the far side); its centre is ((x0 + x1 - 1) / 2, (y0 + y1 - 1) / 2); the
// disc radius is R = knobRadius * s / 2. Angles in the fields are measured from twelve o'clock,
// clockwise; the angle accessors add 3 pi / 2, giving screen angles (0 = right, clockwise).
//
// Input: a click inside the square's inscribed circle is taken (a double click or Alt + click
// first resets the parameter to its default) and starts a drag. Dragging up by the element's
// height raises the normalized value by `sensitivity` (Ctrl or Shift: a tenth of that; Alt: the
// default). Once the value is pinned at an end, the pointer must come back to the height where it
// hit that end before the value moves again. Every change happens between beginEdit (drag start)
// and endEdit (drag end); nothing is written without a gesture.
//
// Host values: the value drawn is the parameter's normalized value with NaN taken as 0 and the
// rest clamped to [0, 1]; a drag never hands a NaN to the parameter.
//
// Redrawing: the knob draws the value it last marked (drawnValue), not the parameter's live one.
// A change of the value alone marks only what moves: the LEDs' and the needle's boxes at the old
// and the new value and the trail's sector between them; a change that recolours the whole trail
// (the alternate colour across the base) or any other state (hover, push) redraws the whole box.
//
// Thread contract: [main-thread], except the IParameterListener operations, which may run on any
// thread (the host's audio thread included): the editor's own edits are marked at once and drawn by
// the next frame; others only set a flag (requestRefresh: no lock, no allocation), taken at the
// next tick.
// Drawing runs on a pool thread.

#include <cstdint>

#include "korvo/client/params.h"
#include "korvo/gui/element.h"

namespace korvo {

enum class KnobStyle : std::int32_t { dimple = 0, cylinder = 1, dome = 2, ball = 3 };

class UIKnob : public UIElement, public IParameterListener {
public:
    static constexpr float kPi = 3.14159265358979323846f;

    // Registers itself as a listener of `param` (not owned; it must outlive the knob).
    UIKnob(UIContext* context, FloatParameter* param);
    Parameter* editedParameterAt(std::int32_t, std::int32_t) const noexcept override { return param; }
    ~UIKnob() override;

    // ---- Style (class defaults; the editor overrides them per instance) ----------------------
    float knobRadius = 0.75f;  // fraction of half the square's side
    RGBA knobDiffuse{233, 235, 236, 0};
    RGBA knobMaterial{0, 255, 128, 255};
    KnobStyle style = KnobStyle::dimple;
    std::int32_t numLEDs = 7;
    float LEDRadiusMin = 0.127f;  // fractions of the disc radius
    float LEDRadiusMax = 0.127f;
    RGBA LEDDiffuseLit{255, 140, 220, 215};
    RGBA LEDDiffuseUnlit{255, 140, 220, 40};
    float LEDDistanceFromCenter = 0.8f;
    float LEDDistanceFromCenterPushed = 0.7f;
    std::uint16_t LEDDepth = 65000;
    RGBA litTrailDiffuse{230, 80, 43, 192};
    RGBA unlitTrailDiffuse{150, 40, 20, 8};
    float trailRadiusMin = 0.85f;  // fractions of half the square's side
    float trailRadiusMax = 0.97f;
    float trailOffsetX = 0.0f;  // fractions of the disc radius
    float trailOffsetY = 0.0f;
    float minAngle = -0.75f * kPi;
    float trailBaseAngle = -0.75f * kPi;
    float maxAngle = 0.75f * kPi;
    RGBA litTrailDiffuseAlt{43, 80, 230, 192};
    bool hasAlternateTrail = false;
    float animationTimeConstant = 40.0f;  // per second

    // ---- State --------------------------------------------------------------------------------
    FloatParameter* param;
    float pushedAnimation = 0.0f;  // 0 at rest ... 1 while dragged
    float sensitivity = 0.25f;     // normalized change per element height of drag
    bool mouseOverDisc = false;
    float lastZeroCrossY;
    float lastOneCrossY;

    virtual float getSensitivity() const noexcept { return sensitivity; }
    virtual void setSensitivity(float s) noexcept { sensitivity = s; }
    virtual void drawTrail(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                           const Vec<IntRect>& dirtyRects);
    virtual void drawKnob(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                          const Vec<IntRect>& dirtyRects);

    // IParameterListener. [any-thread]
    void onParameterChanged(Parameter& parameter) noexcept override;
    void onBeginParameterEdit(Parameter& parameter) noexcept override;
    void onEndParameterEdit(Parameter& parameter) noexcept override;

    // Screen angles (radians, 0 = right, clockwise).
    virtual double getMinAngle() const noexcept;
    virtual double getMaxAngle() const noexcept;
    virtual double getTrailBaseAngle() const noexcept;
    virtual double getValueAngle() const noexcept;
    virtual void resetDragBounds() noexcept;
    // The screen angle of a normalized value.
    double angleAt(double value) const noexcept;

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     MouseState mouseState) override;
    void onBeginDrag() override;
    void onMouseDrag(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     MouseState mouseState) override;
    void onStopDrag() override;
    void onMouseExit() override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;
    // Every rectangle is painted on its own from the knob's state.
    bool drawsInParts() const noexcept override { return true; }
    void onAnimate(double dt, double time) override;
    // Brings drawnValue to the parameter's value, marking what the change moves.
    void refreshShown() override;

    // The parameter's normalized value as the knob reads it (NaN -> 0, clamped to [0, 1]).
    double displayedValue() const noexcept;
    // The value the picture shows.
    double drawnValue() const noexcept { return drawnValue_; }
    // Side of the knob square, its centre and the disc radius, in element coordinates.
    float squareSide() const noexcept;
    float centerX() const noexcept;
    float centerY() const noexcept;
    float discRadius() const noexcept { return knobRadius * squareSide() * 0.5f; }
    // The point lies inside the square's inscribed circle.
    bool hitTest(float x, float y) const noexcept;

protected:
    // Marks the boxes of what a value puts in its place, for the value going from `from` to `to`:
    // the LEDs (and a subclass's marks).
    virtual void markValueMarks(double from, double to);

private:
    void markTrailSector(double from, double to);

    double drawnValue_ = 0.0;
};

// The knob of the "Pan" parameter: a UIKnob with a needle dot on the rim.
class PanKnob : public UIKnob {
public:
    using UIKnob::UIKnob;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;

protected:
    void markValueMarks(double from, double to) override;

private:
    struct Needle {
        float x, y;
    };
    Needle needleAt(double value) const noexcept;
};

// Shared painting of the knob family (also used by tests and other widgets).
namespace knobpaint {
// Arc (ring sector) fill into an RGBA map: centre and angles in element coordinates, screen
// angles; radial and one-pixel angular anti-aliasing; blends every channel.
void arcFill(ImageView<RGBA> map, IntRect box, IntPoint offset, float cx, float cy, float r0, float r1,
             double start, double stop, RGBA color) noexcept;
// Depth disc: full `alpha` inside ri, fading linearly in d^2 (curved: 1 - t^1.2) to nothing at ro.
void softDiscDepth(ImageView<L16> map, IntRect box, IntPoint offset, float cx, float cy, float ri, float ro,
                   std::uint16_t value, float alpha, bool curved) noexcept;
}  // namespace knobpaint

}  // namespace korvo
