#include "korvo/gui/focusring.h"

#include <algorithm>
#include <cmath>

#include "korvo/gui/context.h"

namespace korvo {

UIFocusRing::UIFocusRing(UIContext* context) : UIElement(context, ElementFlags::drawsRaw) {}

IntRect UIFocusRing::ringBox() const noexcept {
    if (control_ == nullptr) return {};
    const float scale = context() != nullptr ? context()->scale : 1.0f;
    const auto grow = static_cast<std::int32_t>(std::lround(3.0f * scale));
    const IntRect b = control_->position();
    return IntRect{{b.min.x - grow, b.min.y - grow}, {b.max.x + grow, b.max.y + grow}};
}

void UIFocusRing::markRing() {
    if (drawn_.max.x > drawn_.min.x)
        setDirty(DirtyLayer::rawLayerOnly,
                 IntRect{{drawn_.min.x - position().min.x, drawn_.min.y - position().min.y},
                         {drawn_.max.x - position().min.x, drawn_.max.y - position().min.y}});
}

void UIFocusRing::surround(const UIElement* control) {
    markRing();
    control_ = control;
    drawn_ = ringBox();
    markRing();
}

void UIFocusRing::onDrawRaw(ImageView<RGBA> rawMap, const Vec<IntRect>& dirtyRects) {
    if (control_ == nullptr) return;
    const float scale = context() != nullptr ? context()->scale : 1.0f;
    const std::int32_t width = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(2.0f * scale)));
    const IntRect box = ringBox();  // where the control is now (the scale may have moved it)
    const IntRect ring{{box.min.x - position().min.x, box.min.y - position().min.y},
                       {box.max.x - position().min.x, box.max.y - position().min.y}};
    const IntRect inner{{ring.min.x + width, ring.min.y + width}, {ring.max.x - width, ring.max.y - width}};
    const std::uint32_t a = color.a, keep = 255u - a;
    for (const IntRect& r : dirtyRects) {
        const IntRect c = r.intersection(rawMap.bounds()).intersection(ring);
        for (std::int32_t y = c.min.y; y < c.max.y; ++y) {
            RGBA* row = rawMap.row(y);
            const bool edgeRow = y < inner.min.y || y >= inner.max.y;
            for (std::int32_t x = c.min.x; x < c.max.x; ++x) {
                if (!edgeRow && x >= inner.min.x && x < inner.max.x) {
                    x = inner.max.x - 1;  // the ring's inside is left as it is
                    continue;
                }
                RGBA& p = row[x];
                p.r = static_cast<std::uint8_t>((p.r * keep + color.r * a + 127u) / 255u);
                p.g = static_cast<std::uint8_t>((p.g * keep + color.g * a + 127u) / 255u);
                p.b = static_cast<std::uint8_t>((p.b * keep + color.b * a + 127u) / 255u);
            }
        }
    }
}

}  // namespace korvo
