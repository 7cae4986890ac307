// UIParamHint: change tracking, fading and the cached painting.
#include "korvo/widgets/paramhint.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "korvo/widgets/paint.h"

namespace korvo {

UIParamHint::UIParamHint(UIContext* context, Parameter* parameter, Font* font)
    : UIBufferedElementPBR(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation),
      param(parameter),
      _font(font) {
    if (param != nullptr) param->addListener(this);
    formatText();
}

UIParamHint::~UIParamHint() {
    if (param != nullptr) param->removeListener(this);
}

void UIParamHint::onParameterChanged(Parameter&) noexcept {
    changed.store(true, std::memory_order_release);
}
void UIParamHint::onBeginParameterEdit(Parameter&) noexcept {
    editing.store(true, std::memory_order_release);
    changed.store(true, std::memory_order_release);
}
void UIParamHint::onEndParameterEdit(Parameter&) noexcept {
    editing.store(false, std::memory_order_release);
}

void UIParamHint::formatText() noexcept {
    if (param == nullptr) {
        _text[0] = 0;
        return;
    }
    char value[kTextSize] = "";
    param->formatValue(value, sizeof value);
    const std::string& unit = param->label();
    if (unit.empty())
        std::snprintf(_text, sizeof _text, "%s", value);
    else
        std::snprintf(_text, sizeof _text, "%s %s", value, unit.c_str());
}

void UIParamHint::onAnimate(double dt, double) {
    if (!std::isfinite(dt) || dt < 0.0) dt = 0.0;
    bool redraw = false;
    if (changed.exchange(false, std::memory_order_acq_rel)) {
        timeSinceChange = 0.0;
        char before[kTextSize];
        std::memcpy(before, _text, sizeof before);
        formatText();
        redraw = std::strcmp(before, _text) != 0;
    }
    // An open gesture holds the hint even while the value rests under the pointer.
    if (editing.load(std::memory_order_acquire)) timeSinceChange = 0.0;
    const float target = timeSinceChange < holdTime ? 1.0f : 0.0f;
    const float before = visibility;
    if (target > visibility)
        visibility = static_cast<float>(std::fmin(1.0, visibility + dt / fadeInTime));
    else if (target < visibility)
        visibility = static_cast<float>(std::fmax(0.0, visibility - dt / fadeOutTime));
    if (!std::isfinite(visibility)) visibility = target;
    timeSinceChange += dt;
    if (visibility != before) redraw = true;
    if (redraw) setDirtyAll(DirtyLayer::fromFlags);
}

void UIParamHint::redrawCachePBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap,
                                 ImageView<RGBA> materialMap, ImageView<L8> diffuseOpacity,
                                 ImageView<L8> depthOpacity, ImageView<L8> materialOpacity) {
    const std::int32_t W = diffuseMap.w, H = diffuseMap.h;
    const float v = visibility < 0.0f ? 0.0f : (visibility > 1.0f ? 1.0f : visibility);
    const float a = std::fmin(1.0f, 2.0f * v), b = std::fmax(0.0f, 2.0f * v - 1.0f);

    // 1. Backdrop above the band, the band below (it grows up from the bottom as a rises).
    const auto bandTop =
        static_cast<std::int32_t>(std::lround(static_cast<float>(H) - a * static_cast<float>(H)));
    const IntRect above{{0, 0}, {W, bandTop}}, band{{0, bandTop}, {W, H}};
    fillBox(diffuseMap, above, backdropDiffuse);
    fillBox(diffuseOpacity, above, L8{static_cast<std::uint8_t>(detail::coverage255(backdropAlpha))});
    fillBox(diffuseMap, band, bandDiffuse);
    fillBox(diffuseOpacity, band, L8{255});
    fillBox(depthMap, band, L16{0});
    fillBox(depthOpacity, band, L8{255});
    if (v <= 0.0f || band.empty()) return;

    // 2. The box: the element shrunk around its centre to k W x k H, clipped to the band, with
    //    its corners rounded off (coverage from the distance to a corner circle).
    const float grow = 0.8f + 0.2f * b;
    const float bw = grow * static_cast<float>(W), bh = grow * static_cast<float>(H);
    const float x0 = (static_cast<float>(W) - bw) * 0.5f, y0 = (static_cast<float>(H) - bh) * 0.5f;
    const float x1 = x0 + bw, y1 = y0 + bh;
    const float k = scale();
    const float radius = std::fmin(3.0f * k, std::fmin(bw, bh) * 0.5f);
    const auto depth = static_cast<std::uint16_t>(
        std::lround(boxDepthHidden + (static_cast<float>(boxDepthShown) - boxDepthHidden) * b));
    const RGBA face = widgets::lerpColor(boxDiffuseHidden, boxDiffuseShown, b);
    const IntRect area =
        IntRect{{static_cast<std::int32_t>(std::floor(x0)), static_cast<std::int32_t>(std::floor(y0))},
                {static_cast<std::int32_t>(std::ceil(x1)), static_cast<std::int32_t>(std::ceil(y1))}}
            .intersection(band);
    for (std::int32_t y = area.min.y; y < area.max.y; ++y) {
        for (std::int32_t x = area.min.x; x < area.max.x; ++x) {
            // Pixel centre coverage of the rounded box.
            const float px = static_cast<float>(x) + 0.5f, py = static_cast<float>(y) + 0.5f;
            const float qx = std::fmax(std::fmax(x0 + radius - px, px - (x1 - radius)), 0.0f);
            const float qy = std::fmax(std::fmax(y0 + radius - py, py - (y1 - radius)), 0.0f);
            const float outside = std::sqrt(qx * qx + qy * qy) - radius;
            float c = 0.5f - outside;
            c = c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c);
            // Edges of the box that fall between pixels.
            c *= std::fmin(1.0f, std::fmax(0.0f, std::fmin(px + 0.5f, x1) - std::fmax(px - 0.5f, x0)));
            c *= std::fmin(1.0f, std::fmax(0.0f, std::fmin(py + 0.5f, y1) - std::fmax(py - 0.5f, y0)));
            if (c <= 0.0f) continue;
            widgets::blendCoverage(diffuseMap.at(x, y), face, c);
            widgets::blendDepth(depthMap.at(x, y), depth, c);
            widgets::blendCoverage(materialMap.at(x, y), boxMaterial, c);
            const auto m = static_cast<std::uint8_t>(detail::coverage255(c));
            if (m > materialOpacity.at(x, y).l) materialOpacity.at(x, y).l = m;
        }
    }

    // 3. The text, centred in the box, at the box's scale.
    if (_font == nullptr || _text[0] == 0) return;
    const RGBA ink = widgets::lerpColor(textColorHidden, textColorShown, b);
    fillText(diffuseMap.sub(band), *_font, _text, grow * textSize * k, 0.0f, ink, (x0 + x1) * 0.5f,
             (y0 + y1) * 0.5f - static_cast<float>(bandTop));
}

}  // namespace korvo
