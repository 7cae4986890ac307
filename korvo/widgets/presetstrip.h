#pragma once
// UIPresetStrip: the preset controls of an editor's header in one row, left to right: previous and
// next (two small round buttons with engraved arrows), the preset's name in a recessed dark window
// (a small amber dot at its right end when the settings differ from the preset), the compare pair
// A | B (the shown slot lit) and undo / redo (engraved arrows, lit when there is something to undo
// or redo). Geometry in base pixels inside the strip's box (kWidth x kHeight), drawn at the scale.
//
// The strip only draws and reports: a left click on a part calls onPress(part) when the button is
// released; a right click on the compare pair calls onPress(Part::compareMenu). The owner sets what it shows (name, modified,
// slot, undo and redo) and may show a short message in the name window for a few seconds instead
// of the name. Only the parts that change are marked dirty.
//
// Thread contract: [main-thread]; drawing runs on a pool thread and takes the font's lock.

#include <cstdint>
#include <functional>
#include <string>

#include "korvo/graphics/font.h"
#include "korvo/gui/element.h"

namespace korvo {

class UIPresetStrip : public UIElement {
public:
    enum class Part : std::int32_t { none = -1, previous, next, name, slotA, slotB, undo, redo, compareMenu };
    static constexpr float kWidth = 286.0f, kHeight = 24.0f;
    static constexpr float kMessageSeconds = 3.0f;

    // font is not owned (it must outlive the strip).
    UIPresetStrip(UIContext* context, Font* font);

    float textSize = 9.5f;
    std::function<void(Part)> onPress;

    void setName(std::string name);
    void setModified(bool modified);
    void setSlot(std::int32_t slot);
    void setUndoable(bool canUndo, bool canRedo);
    // Shows `text` in the name window for kMessageSeconds (an empty text ends a message).
    void showMessage(std::string text);

    const std::string& name() const noexcept { return _name; }
    bool modified() const noexcept { return _modified; }
    std::int32_t slot() const noexcept { return _slot; }
    const std::string& message() const noexcept { return _message; }
    Part hovered() const noexcept { return _hovered; }
    // The part at a local point, and a part's box in base pixels inside the strip.
    static Part partAt(float baseX, float baseY) noexcept;
    static IntRect partBox(Part part) noexcept;
    // The name window's box in device pixels (editor coordinates), where a text field goes.
    IntRect nameWindow() const noexcept;

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     MouseState mouseState) override;
    void onMouseExit() override;
    void onStopDrag() override;
    void onAnimate(double dt, double time) override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;

private:
    void markPart(Part part);

    Font* _font;
    std::string _name;
    std::string _message;
    double _messageLeft = 0.0;
    bool _modified = false;
    std::int32_t _slot = 0;
    bool _canUndo = false, _canRedo = false;
    Part _hovered = Part::none;
    Part _pressed = Part::none;  // the part a press went to, acted on at its release
};

}  // namespace korvo
