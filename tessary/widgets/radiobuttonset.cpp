// TessaryRadioButtonSet: selection, light animation and painting.
#include "tessary/widgets/radiobuttonset.h"

#include <cmath>

#include "korvo/widgets/paint.h"

namespace tessary {

using namespace korvo;

TessaryRadioButtonSet::TessaryRadioButtonSet(IntegerParameter* parameter, UIContext* context)
    : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation), param(parameter) {
    std::int64_t n = 1;
    if (param != nullptr) n = std::int64_t{param->maxValue()} - param->minValue() + 1;
    if (n < 1 || n > 4096) n = 1;  // a range too wide to show as buttons shows one
    animations.assign(static_cast<std::size_t>(n), 0.0f);
    if (param != nullptr) {
        param->addListener(this);
        animations[static_cast<std::size_t>(currentIndex())] = 1.0f;
    }
}

TessaryRadioButtonSet::~TessaryRadioButtonSet() {
    if (param != nullptr) param->removeListener(this);
}

void TessaryRadioButtonSet::onParameterChanged(Parameter&) noexcept {
    markDirtyFromListener();
}
void TessaryRadioButtonSet::onBeginParameterEdit(Parameter&) noexcept {}
void TessaryRadioButtonSet::onEndParameterEdit(Parameter&) noexcept {}

std::int32_t TessaryRadioButtonSet::buttonHeight() const noexcept {
    return _position.height() / count();
}

std::int32_t TessaryRadioButtonSet::currentIndex() const noexcept {
    if (param == nullptr) return 0;
    const std::int64_t i = std::int64_t{param->value()} - param->minValue();
    return static_cast<std::int32_t>(i < 0 ? 0 : (i >= count() ? count() - 1 : i));
}

bool TessaryRadioButtonSet::onMouseClick(std::int32_t, std::int32_t y, MouseButton, bool, MouseState) {
    const std::int32_t h = buttonHeight();
    if (h <= 0 || y < 0 || y >= count() * h || param == nullptr) return false;
    std::int32_t index = y / h;
    index = index < 0 ? 0 : (index > count() ? count() : index);
    const std::int64_t value = std::int64_t{param->minValue()} + index;
    param->beginEdit();
    param->setFromEditor(static_cast<std::int32_t>(value < param->maxValue() ? value : param->maxValue()));
    param->endEdit();
    return true;
}

void TessaryRadioButtonSet::onMouseMove(std::int32_t, std::int32_t y, std::int32_t, std::int32_t,
                                        MouseState) {
    const std::int32_t h = buttonHeight();
    const bool rowChanged = h <= 0 || y / h != mouseY / h;
    mouseY = y;
    if (rowChanged) setDirtyAll(DirtyLayer::fromFlags);
}

// Back over the set, maybe on the row it left: that row lights again.
void TessaryRadioButtonSet::onMouseEnter() {
    setDirtyAll(DirtyLayer::fromFlags);
}

void TessaryRadioButtonSet::onMouseExit() {
    setDirtyAll(DirtyLayer::fromFlags);
}

void TessaryRadioButtonSet::onAnimate(double dt, double) {
    const float e = std::exp(-15.0f * static_cast<float>(dt));
    const std::int32_t current = currentIndex();
    bool moved = false;
    for (std::int32_t i = 0; i < count(); ++i) {
        float& a = animations[static_cast<std::size_t>(i)];
        const float target = i == current ? 1.0f : 0.0f;
        float next = a * e + target * (1.0f - e);
        if (!std::isfinite(next)) next = target;
        if (std::fabs(next - a) > 0.001f) {
            a = next;
            moved = true;
        }
    }
    if (moved) setDirtyAll(DirtyLayer::fromFlags);
}

void TessaryRadioButtonSet::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap,
                                      ImageView<RGBA> materialMap, const Vec<IntRect>& dirtyRects) {
    const std::int32_t hb = buttonHeight();
    if (hb <= 0) return;
    const std::int32_t w = _position.width();
    const std::int32_t current = currentIndex();
    const std::int32_t hovered = _mouseOver ? mouseY / hb : -1;
    // Sizes in base pixels, drawn at the scale; edges stay one device pixel soft.
    const float k = scale();
    const float r = lightRadius > 0.0f && lightRadius < 1.0e4f ? lightRadius * k : 0.0f;
    const IntPoint o = _drawOffset;
    for (const IntRect& rect : dirtyRects) {
        const CroppedView<L16> depth{depthMap, rect};
        const CroppedView<RGBA> diffuse{diffuseMap, rect};
        const CroppedView<RGBA> material{materialMap, rect};
        const float ox = static_cast<float>(rect.min.x + o.x), oy = static_cast<float>(rect.min.y + o.y);
        for (std::int32_t i = 0; i < count(); ++i) {
            // The row's glow: only the alpha (emissive) byte changes.
            const IntRect row =
                IntRect{{0, i * hb}, {w, (i + 1) * hb}}.translated(-o.x, -o.y).intersection(rect);
            const std::uint8_t glow = (i == hovered && i != current) ? 30 : 0;
            for (std::int32_t y = row.min.y; y < row.max.y; ++y)
                for (std::int32_t x = row.min.x; x < row.max.x; ++x) diffuseMap.at(x, y).a = glow;
            if (r <= 0.0f) continue;
            const float cx = 0.425f * static_cast<float>(hb) - ox;
            const float cy = (static_cast<float>(i) + 0.5f) * static_cast<float>(hb) - 0.5f - oy;
            // Socket: a rim, a well, and the light's dome in it.
            softDisc(depth, cx, cy, r + 1.5f * k, r + 3.0f * k, L16{rimDepth}, 1.0f);
            softDisc(depth, cx, cy, r, r + 1.5f * k, L16{socketDepth}, 1.0f);
            softDisc(depth, cx, cy, 0.0f, r, L16{40000}, 0.5f);
            softDisc(material, cx, cy, r, r + 1.0f * k, RGBA{40, 0, 200, 255}, 1.0f);
            softDisc(diffuse, cx, cy, r - 0.5f, r + 0.5f, baseColor, 1.0f);
            const float strength = animations[static_cast<std::size_t>(i)];
            if (strength > 0.0f)
                softDisc(diffuse, cx, cy - 1.0f * k, 0.7f * r - 0.5f, 0.7f * r + 0.5f, highlightColor,
                         strength > 1.0f ? 1.0f : strength);
        }
    }
}

}  // namespace tessary
