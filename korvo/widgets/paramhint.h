#pragma once
// UIParamHint: a small read-out of a parameter's value (its text and unit) that fades in while the
// parameter changes and fades out when it rests.
//
// Timing, per animation tick: a change seen since the last tick (or an open edit gesture) restarts
// the hold; the hint is wanted while less than `holdTime` has passed since then, and its
// visibility v rises by dt / fadeInTime or falls by dt / fadeOutTime toward that. So a hint that
// keeps receiving changes stays fully visible, and fades out over `fadeOutTime` once `holdTime`
// has passed after the last change (or after the end of the gesture).
//
// Picture (a = min(1, 2v), b = max(0, 2v - 1)): the first half of the fade grows a sunken band up
// from the bottom; the second half grows a raised box with rounded corners and the text inside
// it, colours moving from their hidden to their shown values.
//
// Thread contract: [main-thread], except the IParameterListener operations ([any-thread],
// including the host's audio thread): they only set atomic flags, which the next tick reads.
// Drawing runs on a pool thread and takes the font's lock.

#include <atomic>
#include <cstdint>

#include "korvo/client/params.h"
#include "korvo/graphics/font.h"
#include "korvo/gui/bufferedelement.h"

namespace korvo {

class UIParamHint : public UIBufferedElementPBR, public IParameterListener {
public:
    static constexpr std::size_t kTextSize = 128;

    // Registers itself as a listener of `param` (not owned). font is not owned (null: no text).
    UIParamHint(UIContext* context, Parameter* param, Font* font);
    ~UIParamHint() override;

    double fadeInTime = 0.15;
    double fadeOutTime = 0.3;
    double holdTime = 0.85;
    float textSize = 9.5f;
    RGBA bandDiffuse{90, 90, 90, 0};
    RGBA textColorHidden{90, 90, 90, 0};
    RGBA textColorShown{42, 42, 42, 0};
    RGBA boxDiffuseHidden{90, 90, 90, 0};
    RGBA boxDiffuseShown{245, 245, 245, 30};
    RGBA boxMaterial{0, 255, 192, 255};
    RGBA backdropDiffuse{155, 240, 69, 255};
    float backdropAlpha = 0.05f;
    std::uint16_t boxDepthHidden = 0;
    std::uint16_t boxDepthShown = 50000;
    Parameter* param;
    std::atomic<bool> editing{false};
    std::atomic<bool> changed{false};
    float visibility = 0.0f;
    double timeSinceChange = 1.0e9;

    // The text shown: the parameter's value, a space and its unit.
    const char* text() const noexcept { return _text; }
    Font* font() const noexcept { return _font; }

    void onParameterChanged(Parameter& parameter) noexcept override;
    void onBeginParameterEdit(Parameter& parameter) noexcept override;
    void onEndParameterEdit(Parameter& parameter) noexcept override;

    void onAnimate(double dt, double time) override;
    void redrawCachePBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                        ImageView<L8> diffuseOpacity, ImageView<L8> depthOpacity,
                        ImageView<L8> materialOpacity) override;

private:
    void formatText() noexcept;
    char _text[kTextSize] = "";
    Font* _font;
};

}  // namespace korvo
