#pragma once
// UIFocusRing: the ring drawn around the control that has the keyboard's focus after Tab or
// Shift+Tab moved it there (a click shows none). It covers the whole editor, draws on the raw
// layer only around the control, and takes no input.
//
// Thread contract: [main-thread]; drawing runs on the renderer's threads and reads only the ring's
// box.

#include "korvo/gui/element.h"

namespace korvo {

class UIFocusRing final : public UIElement {
public:
    explicit UIFocusRing(UIContext* context);

    // Shows the ring around `control` (its device box, widened by 3 base pixels), or hides it
    // (null). Marks the old and the new ring dirty.
    void surround(const UIElement* control);
    const UIElement* surrounded() const noexcept { return control_; }

    RGBA color{255, 222, 170, 200};  // alpha: the ring's opacity

    void onDrawRaw(ImageView<RGBA> rawMap, const Vec<IntRect>& dirtyRects) override;

private:
    void markRing();
    IntRect ringBox() const noexcept;

    const UIElement* control_ = nullptr;
    IntRect drawn_{};  // the ring's box when last marked (device pixels, editor coordinates)
};

}  // namespace korvo
