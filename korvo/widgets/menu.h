#pragma once
// UIMenu: a pop-up menu of the toolkit: a dark raised panel with a thin polished rim and one row per
// item (a text, optionally checked or disabled; separators between groups), drawn into the PBR
// layers so the compositor lights it with the panel (it casts its shadow on what lies beneath).
//
// Opening: open(items, at, onChoose) shows the panel with its top-left corner at `at` (device
// pixels, usually the click that opened it) inside the element's layout box (the bounds it may
// use: the whole editor). It flips to the left of or above the point when it would not fit to the
// right or below, and when it is taller than the bounds it shows as many rows as fit and scrolls
// with the wheel (small engraved arrows mark the rows out of sight). Geometry is in base pixels and
// drawn at the scale; the text is the face given at construction at `textSize` base pixels.
//
// While open the element takes the keyboard focus and every click in its bounds: a click on an
// enabled item closes the menu and calls onChoose(item id) when the button is released; a click elsewhere in the bounds (or a
// right click) just closes it and is not passed on; Escape closes it; so does losing the focus.
// The pointer's row is lit (hover). Closed, the element takes nothing and draws nothing. Only the
// panel's rectangle is marked dirty when it opens, closes or changes.
//
// Thread contract: [main-thread]; drawing runs on a pool thread and takes the font's lock.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "korvo/graphics/font.h"
#include "korvo/gui/element.h"

namespace korvo {

struct MenuItem {
    std::string text;
    std::int32_t id = 0;
    bool checked = false;
    bool enabled = true;
    bool separator = false;  // a separator line (text, id and flags unused)
};

class UIMenu : public UIElement {
public:
    // Row heights and margins in base pixels.
    static constexpr float kRowHeight = 15.0f;
    static constexpr float kSeparatorHeight = 7.0f;
    static constexpr float kPadding = 4.0f;      // above the first and below the last row
    static constexpr float kTextLeft = 16.0f;    // from the panel's left edge (the check column)
    static constexpr float kTextRight = 12.0f;   // after the widest text
    static constexpr float kScrollArrow = 9.0f;  // height of a scroll arrow's strip

    // font is not owned (it must outlive the menu). Invisible and closed at first.
    UIMenu(UIContext* context, Font* font);

    float textSize = 9.5f;
    RGBA panelDiffuse{42, 47, 56, 6};
    RGBA rimDiffuse{150, 158, 170, 0};
    RGBA textColor{188, 196, 206, 24};
    RGBA disabledTextColor{96, 102, 112, 8};
    RGBA hoverDiffuse{74, 132, 146, 70};
    RGBA markDiffuse{192, 245, 255, 150};
    RGBA panelMaterial{150, 30, 70, 255};
    RGBA rimMaterial{60, 200, 200, 255};
    std::uint16_t panelDepth = 60000;

    // Shows the items at `at` (device pixels); replaces an open menu. Nothing happens for no items.
    void open(std::vector<MenuItem> items, IntPoint at, std::function<void(std::int32_t)> onChoose);
    void close();
    bool isOpen() const noexcept { return _open; }
    const std::vector<MenuItem>& items() const noexcept { return _items; }
    // The panel's box in device pixels (empty when closed).
    IntRect panelBox() const noexcept;
    // The item under a device point (-1: none, a separator or outside the panel).
    std::int32_t itemAt(std::int32_t x, std::int32_t y) const noexcept;
    std::int32_t hoveredItem() const noexcept { return _hovered; }
    std::int32_t firstShown() const noexcept { return _first; }
    std::int32_t shownCount() const noexcept { return _shown; }

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    bool onMouseWheel(std::int32_t x, std::int32_t y, std::int32_t wheelDeltaX, std::int32_t wheelDeltaY,
                      MouseState mouseState) override;
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     MouseState mouseState) override;
    void onMouseExit() override;
    void onFocusExit() override;
    void onStopDrag() override;
    bool onKeyDown(Key key) override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;
    // The panel is placed again for the new scale.
    void onScaleChanged() override;

private:
    float itemHeight(std::size_t i) const noexcept;
    // Lays the panel out (base pixels) from the items, the anchor and the bounds.
    void layOut();
    // The base-pixel top of shown item i (relative to the panel's top).
    float itemTop(std::int32_t i) const noexcept;
    void markPanelDirty();

    Font* _font;
    std::vector<MenuItem> _items;
    std::function<void(std::int32_t)> _onChoose;
    bool _open = false;
    float _anchorX = 0.0f, _anchorY = 0.0f;                                // base pixels
    float _panelX = 0.0f, _panelY = 0.0f, _panelW = 0.0f, _panelH = 0.0f;  // base pixels
    std::int32_t _first = 0;                                               // first item shown (scrolling)
    std::int32_t _shown = 0;                                               // items shown
    bool _scrolls = false;
    std::int32_t _hovered = -1;
    std::function<void(std::int32_t)> _chosen;  // the choice a click made, called at its release
    std::int32_t _chosenId = 0;
};

}  // namespace korvo
