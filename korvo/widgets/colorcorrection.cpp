// UIColorCorrection: tone curves and their application to the raw layer.
#include "korvo/widgets/colorcorrection.h"

#include <cmath>

namespace korvo {

namespace {
float clampUnit(float v) noexcept {
    if (!(v > 0.0f)) return 0.0f;  // NaN counts as 0
    return v > 1.0f ? 1.0f : v;
}
}  // namespace

UIColorCorrection::UIColorCorrection(UIContext* context) : UIElement(context, ElementFlags::drawsRaw) {
    for (auto& t : _tables) buildTable(Levels{}, t);
}

void UIColorCorrection::buildTable(Levels levels, std::array<std::uint8_t, 256>& table) noexcept {
    for (int i = 0; i < 256; ++i) {
        const float x = static_cast<float>(i) / 255.0f;
        const float t = clampUnit((x + (1.0f - x) * levels.black) * levels.gain);
        const float y = clampUnit(std::pow(t, 1.0f / levels.gamma));
        const float s = y * y * (3.0f - 2.0f * y);
        const float out = clampUnit(y * (1.0f - levels.contrast) + s * levels.contrast);
        table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(out * 255.0f + 0.5f);
    }
}

void UIColorCorrection::setLevels(float black, float gamma, float gain, float contrast) {
    const Levels row{black, gamma, gain, contrast};
    setLevels(row, row, row);
}

void UIColorCorrection::setLevelsMatrix(const float levels[3][4]) {
    Levels rows[3];
    for (int c = 0; c < 3; ++c) rows[c] = Levels{levels[c][0], levels[c][1], levels[c][2], levels[c][3]};
    setLevels(rows[0], rows[1], rows[2]);
}

void UIColorCorrection::setLevels(const float levels[12]) {
    setLevels(Levels{levels[0], levels[1], levels[2], levels[3]},
              Levels{levels[4], levels[5], levels[6], levels[7]},
              Levels{levels[8], levels[9], levels[10], levels[11]});
}

void UIColorCorrection::setLevels(Levels red, Levels green, Levels blue) {
    buildTable(red, _tables[0]);
    buildTable(green, _tables[1]);
    buildTable(blue, _tables[2]);
    setDirtyAll(DirtyLayer::fromFlags);
}

void UIColorCorrection::onDrawRaw(ImageView<RGBA> rawMap, const Vec<IntRect>& dirtyRects) {
    const auto& tr = _tables[0];
    const auto& tg = _tables[1];
    const auto& tb = _tables[2];
    for (const IntRect& r : dirtyRects) {
        const IntRect c = r.intersection(rawMap.bounds());
        for (std::int32_t y = c.min.y; y < c.max.y; ++y) {
            RGBA* row = rawMap.row(y);
            for (std::int32_t x = c.min.x; x < c.max.x; ++x) {
                RGBA& p = row[x];
                p.r = tr[p.r];
                p.g = tg[p.g];
                p.b = tb[p.b];
            }
        }
    }
}

}  // namespace korvo
