// TessaryDropdown: opening, choosing, closing and the rolling list.
#include "tessary/widgets/dropdown.h"

#include <cmath>

#include "korvo/widgets/paint.h"

namespace tessary {

using namespace korvo;

TessaryDropdown::TessaryDropdown(UIContext* context, IntegerParameter* parameter, Font* textFont,
                                 std::vector<std::string> texts)
    : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation),
      param(parameter),
      font(textFont),
      labels(std::move(texts)) {
    if (param != nullptr) {
        const std::int64_t n = std::int64_t{param->maxValue()} - param->minValue() + 1;
        count_ = n >= 1 && n <= 4096 ? static_cast<std::int32_t>(n) : 1;
        param->addListener(this);
    }
    // Every row needs a text: missing labels come from the parameter.
    while (static_cast<std::int32_t>(labels.size()) < count_) {
        char buffer[64] = "";
        if (param != nullptr)
            param->formatNormalized(
                param->toNormalized(param->minValue() + static_cast<std::int32_t>(labels.size())), buffer,
                sizeof buffer);
        labels.emplace_back(buffer);
    }
}

TessaryDropdown::~TessaryDropdown() {
    if (param != nullptr) param->removeListener(this);
}

void TessaryDropdown::onParameterChanged(Parameter&) noexcept {
    markDirtyFromListener();
}
void TessaryDropdown::onBeginParameterEdit(Parameter&) noexcept {}
void TessaryDropdown::onEndParameterEdit(Parameter&) noexcept {}

float TessaryDropdown::itemHeight() const noexcept {
    return static_cast<float>(_position.height()) / static_cast<float>(count_ + 1);
}

std::int32_t TessaryDropdown::rowAt(std::int32_t y) const noexcept {
    const float ih = itemHeight();
    if (!(ih > 0.0f)) return 0;
    const float row = std::trunc(static_cast<float>(y) / ih);
    return row <= 0.0f ? 0 : (row >= static_cast<float>(count_) ? count_ : static_cast<std::int32_t>(row));
}

std::int32_t TessaryDropdown::rowsShown() const noexcept {
    const float a = openAnimation < 0.0f ? 0.0f : (openAnimation > 1.0f ? 1.0f : openAnimation);
    return static_cast<std::int32_t>(a * static_cast<float>(count_ + 1) * 0.9999f) + 1;
}

std::int32_t TessaryDropdown::currentRow() const noexcept {
    if (param == nullptr) return 1;
    const std::int64_t i = std::int64_t{param->value()} - param->minValue();
    return static_cast<std::int32_t>(i < 0 ? 0 : (i >= count_ ? count_ - 1 : i)) + 1;
}

void TessaryDropdown::setOpen(bool isOpen) {
    if (open == isOpen) return;
    open = isOpen;
    setDirtyAll(DirtyLayer::fromFlags);
}

korvo::Parameter* TessaryDropdown::editedParameterAt(std::int32_t, std::int32_t y) const noexcept {
    return open || static_cast<float>(y) < itemHeight() ? param : nullptr;
}

bool TessaryDropdown::onMouseClick(std::int32_t, std::int32_t y, MouseButton, bool, MouseState state) {
    const std::int32_t row = rowAt(y);
    if (state.alt && row == 0 && param != nullptr) param->resetToDefaultFromEditor();
    if (open) {
        if (row >= 1 && param != nullptr) {
            const std::int64_t value = std::int64_t{param->minValue()} + row - 1;
            param->beginEdit();
            param->setFromEditor(
                static_cast<std::int32_t>(value < param->maxValue() ? value : param->maxValue()));
            param->endEdit();
        }
        setOpen(false);
        return true;
    }
    if (static_cast<float>(y) < itemHeight()) {
        setOpen(true);
        return true;
    }
    return false;
}

void TessaryDropdown::onMouseMove(std::int32_t, std::int32_t y, std::int32_t, std::int32_t, MouseState) {
    const bool rowChanged = rowAt(y) != rowAt(mouseY);
    mouseY = y;
    if (rowChanged && rowsShown() > 1) setDirtyAll(DirtyLayer::fromFlags);
}

// Back over the open list, maybe on the row it left: that row lights again.
void TessaryDropdown::onMouseEnter() {
    if (rowsShown() > 1) setDirtyAll(DirtyLayer::fromFlags);
}

void TessaryDropdown::onMouseExit() {
    if (rowsShown() > 1) setDirtyAll(DirtyLayer::fromFlags);
}

void TessaryDropdown::onFocusExit() {
    setOpen(false);
}

bool TessaryDropdown::onKeyDown(Key key) {
    if (key != Key::escape || !open) return false;
    setOpen(false);
    return true;
}

void TessaryDropdown::onAnimate(double dt, double) {
    const float target = open ? 1.0f : 0.0f;
    const float e = std::exp(-30.0f * static_cast<float>(dt));
    float next = openAnimation * e + target * (1.0f - e);
    if (!std::isfinite(next)) next = target;
    if (std::fabs(next - openAnimation) > 0.001f) {
        openAnimation = next;
        setDirtyAll(DirtyLayer::fromFlags);
    } else if (openAnimation != target) {
        // Settle exactly, and redraw once more so the last rolled-up rows are cleared.
        openAnimation = target;
        setDirtyAll(DirtyLayer::fromFlags);
    }
}

void TessaryDropdown::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap,
                                ImageView<RGBA> materialMap, const Vec<IntRect>& dirtyRects) {
    const float ih = itemHeight();
    if (!(ih > 0.0f)) return;
    const std::int32_t rows = rowsShown();
    const std::int32_t current = currentRow();
    const std::int32_t hovered = _mouseOver ? rowAt(mouseY) : -1;
    const std::int32_t w = _position.width();
    const IntPoint o = _drawOffset;
    for (const IntRect& r : dirtyRects) {
        for (std::int32_t i = 0; i < rows && i <= count_; ++i) {
            const auto y0 = static_cast<std::int32_t>(std::lround(static_cast<float>(i) * ih));
            const auto y1 = static_cast<std::int32_t>(std::lround(static_cast<float>(i + 1) * ih));
            const IntRect row = IntRect{{0, y0}, {w, y1}}.translated(-o.x, -o.y).intersection(r);
            if (row.empty()) continue;
            RGBA fillColor = i == 0 ? headerColor : (i == current ? selectedRowColor : rowColor);
            if (i != 0 && i != current && i == hovered) fillColor.a = widgets::addAlpha(fillColor.a, 40);
            fillBox(depthMap, row, L16{static_cast<std::uint16_t>(i == 0 ? 0 : 65535)});
            fillBox(diffuseMap, row, fillColor);
            fillBox(materialMap, row, material);
            if (font == nullptr) continue;
            const std::string& text = labels[static_cast<std::size_t>((i == 0 ? current : i) - 1)];
            const RGBA ink = (i == 0 || i == current) ? highlightTextColor : textColor;
            // Text is clipped to its own row.
            const float tx = std::round(static_cast<float>(w) * 0.5f) - static_cast<float>(o.x + row.min.x);
            const float ty =
                std::round((static_cast<float>(i) + 0.5f) * ih) - static_cast<float>(o.y + row.min.y);
            fillText(diffuseMap.sub(row), *font, text, textSize * scale(), 0.0f, ink, tx, ty);
        }
    }
}

}  // namespace tessary
