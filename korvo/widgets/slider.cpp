// UISlider: drag rules with integer steps, and the cached painting.
#include "korvo/widgets/slider.h"

#include <cmath>
#include <limits>

#include "korvo/gui/context.h"
#include "korvo/widgets/paint.h"

namespace korvo {

namespace {
constexpr float kInf = std::numeric_limits<float>::infinity();

std::int32_t roundToInt(double v) noexcept {
    if (!(v > -1.0e8)) return -100000000;
    return v > 1.0e8 ? 100000000 : static_cast<std::int32_t>(std::lround(v));
}

// Number of steps of a stepped parameter (0 when it has a single value or is not stepped).
std::int32_t stepCount(const Parameter* p) noexcept {
    const auto* ip = dynamic_cast<const IntegerParameter*>(p);
    if (ip == nullptr) return 0;
    const std::int64_t n = std::int64_t{ip->maxValue()} - ip->minValue();
    return n > 0 && n < (1 << 30) ? static_cast<std::int32_t>(n) : 0;
}

void fillOpaque(ImageView<L8> mask, IntRect box) noexcept {
    fillBox(mask, box, L8{255});
}
}  // namespace

UISlider::UISlider(UIContext* context, Parameter* parameter)
    : UIBufferedElementPBR(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation),
      param(parameter),
      lastZeroCrossY(kInf),
      lastOneCrossY(-kInf) {
    sensitivity = 1.0f;
    if (param != nullptr) param->addListener(this);
}

UISlider::~UISlider() {
    if (param != nullptr) param->removeListener(this);
}

void UISlider::onParameterChanged(Parameter&) noexcept {
    markDirtyFromListener();
}
void UISlider::onBeginParameterEdit(Parameter&) noexcept {}
void UISlider::onEndParameterEdit(Parameter&) noexcept {}

void UISlider::resetDragBounds() noexcept {
    lastZeroCrossY = kInf;
    lastOneCrossY = -kInf;
}

double UISlider::displayedValue() const noexcept {
    return param != nullptr ? widgets::sanitizeUnit(param->getNormalized()) : 0.0;
}

bool UISlider::onMouseClick(std::int32_t, std::int32_t, MouseButton, bool isDoubleClick, MouseState state) {
    if ((isDoubleClick || state.alt) && param != nullptr) param->resetToDefaultFromEditor();
    return true;
}

void UISlider::onBeginDrag() {
    if (param != nullptr) param->beginEdit();
    remainder = 0.0f;
    setDirtyAll(DirtyLayer::fromFlags);
}

void UISlider::onStopDrag() {
    if (param != nullptr) param->endEdit();
    resetDragBounds();
    remainder = 0.0f;
    setDirtyAll(DirtyLayer::fromFlags);
}

void UISlider::onMouseDrag(std::int32_t, std::int32_t y, std::int32_t, std::int32_t dy, MouseState state) {
    if (param == nullptr) return;
    const double old = displayedValue();
    const double h = layoutHeightInPixels();
    double next;
    if (state.alt) {
        next = widgets::sanitizeUnit(param->getNormalizedDefault());
    } else {
        if (h <= 0.0) return;
        const double fine = (state.ctrl || state.shift) ? 0.1 : 1.0;
        const double delta = -(static_cast<double>(dy) / h) * fine * static_cast<double>(getSensitivity());
        if (std::isnan(delta)) return;
        const std::int32_t steps = stepCount(param);
        if (steps > 0) {
            // Whole steps only; the rest waits in `remainder` for the next move.
            const double stepSize = 1.0 / steps;
            const double total = static_cast<double>(remainder) + delta;
            const double whole = std::trunc(total / stepSize);
            remainder = static_cast<float>(total - whole * stepSize);
            next = old + whole * stepSize;
        } else {
            next = old + delta;
        }
    }
    if (std::isnan(next)) return;
    const auto fy = static_cast<float>(y);
    if (fy > lastZeroCrossY || fy < lastOneCrossY) return;
    if (old > 0.0 && next <= 0.0) lastZeroCrossY = fy;
    if (old < 1.0 && next >= 1.0) lastOneCrossY = fy;
    if (next < 0.0 || next > 1.0) remainder = 0.0f;  // travel past an end is not kept
    next = next < 0.0 ? 0.0 : (next > 1.0 ? 1.0 : next);
    if (next > 0.0) lastZeroCrossY = kInf;
    if (next < 1.0) lastOneCrossY = -kInf;
    if (next != old) param->setFromEditorNormalized(next);
}

void UISlider::onMouseEnter() {
    setDirtyAll(DirtyLayer::fromFlags);
}
void UISlider::onMouseExit() {
    setDirtyAll(DirtyLayer::fromFlags);
}

void UISlider::onAnimate(double dt, double) {
    const float target = isDragged() ? 1.0f : 0.0f;
    const float e = std::exp(-30.0f * static_cast<float>(dt));
    float next = pushedAnimation * e + target * (1.0f - e);
    if (!std::isfinite(next)) next = target;
    if (std::fabs(next - pushedAnimation) > 0.001f) {
        pushedAnimation = next;
        setDirtyAll(DirtyLayer::fromFlags);
    }
}

IntRect UISlider::handleBox(double value, float pushed) const noexcept {
    const double w = _position.width(), h = _position.height();
    const std::int32_t hw = roundToInt((1.0 - 0.06 * pushed) * handleWidthRatio * w);
    const std::int32_t hh = roundToInt((1.0 - 0.12 * pushed) * handleHeightRatio * h);
    const std::int32_t x = roundToInt((w - hw) / 2.0);
    const std::int32_t y = roundToInt((h - hh) * (1.0 - value));
    return IntRect::fromXYWH(x, y, hw, hh);
}

void UISlider::redrawCachePBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap,
                              ImageView<RGBA> materialMap, ImageView<L8> diffuseOpacity,
                              ImageView<L8> depthOpacity, ImageView<L8> materialOpacity) {
    const std::int32_t w = diffuseMap.w, h = diffuseMap.h;
    const double v = displayedValue();
    const float p = pushedAnimation < 0.0f ? 0.0f : (pushedAnimation > 1.0f ? 1.0f : pushedAnimation);
    const IntRect handle = handleBox(v, p);
    const double hh = handle.height();

    // 1. The groove, full height.
    const std::int32_t gw = roundToInt(w * static_cast<double>(trailWidth));
    const std::int32_t gx = roundToInt((w - gw) / 2.0);
    const IntRect groove = IntRect::fromXYWH(gx, 0, gw, h);
    fillBox(depthMap, groove, L16{trailDepth});
    fillOpaque(depthOpacity, groove);
    fillBox(diffuseMap, groove, unlitTrailDiffuse);
    fillOpaque(diffuseOpacity, groove);

    // 2. Its lit part, between the handle centres of the base value and of the value.
    const double base = widgets::sanitizeUnit(trailBaseValue);
    auto centreY = [&](double value) { return (h - hh) * (1.0 - value) + hh * 0.5; };
    RGBA lit = v >= base ? litTrailDiffuse : litTrailDiffuseAlt;
    if (isDragged()) lit.a = static_cast<std::uint8_t>(std::fmin(255.0, lit.a * 1.5));
    const double ya = centreY(base), yb = centreY(v);
    const IntRect litBox{{gx, roundToInt(std::fmin(ya, yb))}, {gx + gw, roundToInt(std::fmax(ya, yb))}};
    fillBox(diffuseMap, litBox, lit);

    // 3. The handle.
    RGBA face = handleDiffuse;
    if (_mouseOver && !isDragged()) face.a = widgets::addAlpha(face.a, 50);
    fillBox(diffuseMap, handle, face);
    fillOpaque(diffuseOpacity, handle);
    fillBox(materialMap, handle, handleMaterial);
    fillOpaque(materialOpacity, handle);

    // 4. Its relief: vertical gradients over horizontal bands.
    auto linear = [](float t) { return t; };
    auto band = [&](double from, double to, std::uint16_t top, std::uint16_t bottom) {
        const IntRect b{{handle.min.x, handle.min.y + roundToInt(hh * from)},
                        {handle.max.x, handle.min.y + roundToInt(hh * to)}};
        fillVerticalGradient(depthMap, b, L16{top}, L16{bottom}, linear);
    };
    switch (handleStyle) {
        case 0:
            band(0.0, 0.25, 15000, 65535);
            band(0.25, 0.5, 65535, 51400);
            band(0.5, 0.75, 51400, 65535);
            band(0.75, 1.0, 65535, 15000);
            break;
        case 1:
            band(0.0, 0.5, 20000, 50000);
            band(0.5, 1.0, 50000, 20000);
            break;
        case 2:
            band(0.0, 0.5, 50000, 20000);
            band(0.5, 1.0, 20000, 50000);
            break;
        default: {
            // A rounded cap: a quarter sine up and down again.
            const IntRect b = handle;
            fillVerticalGradient(depthMap, b, L16{22000}, L16{58000},
                                 [](float t) { return std::sin(t * 3.14159265f); });
            break;
        }
    }
    fillOpaque(depthOpacity, handle);
}

}  // namespace korvo
