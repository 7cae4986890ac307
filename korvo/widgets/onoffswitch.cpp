// UIOnOffSwitch: toggling, the rocking animation and its painting.
#include "korvo/widgets/onoffswitch.h"

#include <cmath>

#include "korvo/gui/context.h"
#include "korvo/widgets/paint.h"

namespace korvo {

UIOnOffSwitch::UIOnOffSwitch(UIContext* context, BoolParameter* parameter)
    : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation), param(parameter) {
    if (param != nullptr) {
        param->addListener(this);
        onAnimation = param->value() ? 1.0f : 0.0f;
    }
}

UIOnOffSwitch::~UIOnOffSwitch() {
    if (param != nullptr) param->removeListener(this);
}

void UIOnOffSwitch::onParameterChanged(Parameter&) noexcept {
    markDirtyFromListener();
}
void UIOnOffSwitch::onBeginParameterEdit(Parameter&) noexcept {}
void UIOnOffSwitch::onEndParameterEdit(Parameter&) noexcept {}

bool UIOnOffSwitch::onMouseClick(std::int32_t, std::int32_t, MouseButton, bool, MouseState state) {
    if (param == nullptr) return true;
    param->beginEdit();
    param->setFromEditor(state.alt ? param->defaultValue() : !param->value());
    param->endEdit();
    return true;
}

void UIOnOffSwitch::onMouseEnter() {
    setDirtyAll(DirtyLayer::fromFlags);
}
void UIOnOffSwitch::onMouseExit() {
    setDirtyAll(DirtyLayer::fromFlags);
}

void UIOnOffSwitch::onAnimate(double dt, double) {
    const float target = (param != nullptr && param->value()) ? 1.0f : 0.0f;
    const float e = std::exp(-animationTimeConstant * static_cast<float>(dt));
    float next = onAnimation * e + target * (1.0f - e);
    if (!std::isfinite(next)) next = target;
    if (std::fabs(next - onAnimation) > 0.001f) {
        onAnimation = next;
        setDirtyAll(DirtyLayer::fromFlags);
    }
}

IntRect UIOnOffSwitch::faceBox() const noexcept {
    const double w = _position.width(), h = _position.height();
    const auto x0 = static_cast<std::int32_t>(std::lround(w * 0.1)),
               x1 = static_cast<std::int32_t>(std::lround(w * 0.9));
    const auto y0 = static_cast<std::int32_t>(std::lround(h * 0.1)),
               y1 = static_cast<std::int32_t>(std::lround(h * 0.9));
    return IntRect{{x0, y0}, {x1, y1}};
}

void UIOnOffSwitch::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap,
                              ImageView<RGBA> materialMap, const Vec<IntRect>& dirtyRects) {
    const float s = onAnimation < 0.0f ? 0.0f : (onAnimation > 1.0f ? 1.0f : onAnimation);
    const auto a = static_cast<std::uint16_t>(std::lround(depthHigh * (1.0f - s) + depthLow * s));
    const auto b = static_cast<std::uint16_t>(std::lround(depthLow * (1.0f - s) + depthHigh * s));
    RGBA face = widgets::lerpColor(diffuseOff, diffuseOn, s);
    if (_mouseOver || isDragged()) face.a = widgets::addAlpha(face.a, 40);
    const IntRect box = faceBox().translated(-_drawOffset.x, -_drawOffset.y);
    auto linear = [](float t) { return t; };
    for (const IntRect& r : dirtyRects) {
        fillBox(depthMap, r, L16{holeDepth});
        const CroppedView<L16> depth{depthMap, r};
        const IntRect local = box.translated(-r.min.x, -r.min.y);
        if (orientation == 1)
            fillHorizontalGradient(depth, local, L16{a}, L16{b}, linear);
        else
            fillVerticalGradient(depth, local, L16{a}, L16{b}, linear);
        const IntRect c = box.intersection(r);
        fillBox(diffuseMap, c, face);
        fillBox(materialMap, c, material);
    }
}

}  // namespace korvo
