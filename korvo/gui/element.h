#pragma once
// UIElement: the base class of every widget and of the editor itself. Elements form a tree rooted
// at the editor (GUIGraphics); each owns its children and destroys them with itself, in order.
//
// An element declares with its flags whether it draws into the PBR layers (diffuse, depth,
// material), into the raw layer drawn on top of the lit image, or both, and whether it wants an
// animation tick. Input reaches the tree through the recursive dispatch operations (mouseClick,
// mouseWheel, mouseMove, keyDown, keyUp), called on the root with editor coordinates; the
// element's own handlers (onMouseClick, ...) get coordinates local to its `_position`.
//
// Click order: the children are visited by decreasing `_zOrder` (stable); those at or above the
// element's own z-order are asked first, then the element itself, then the children below it. An
// element whose onMouseClick returns true becomes the dragged element (the previous one gets
// onStopDrag) and takes the keyboard focus (the previous holder gets onFocusExit).
//
// Thread contract: [main-thread] (the GUI thread) for everything, except that setDirty and
// setDirtyAll may be called from any thread but the audio thread ([any-thread]: the dirty lists
// take a blocking lock), markDirtyFromAnyThread from any thread including the audio thread, and the
// draw operations run on pool threads during a frame (never two intersecting elements at once,
// never one element twice at once).
//
// Changes seen on the audio thread (a parameter listener during host automation, a display feed)
// call markDirtyFromAnyThread: one atomic store, no lock, no allocation. The next animation tick
// (every 15 ms, on the GUI thread) turns it into setDirtyAll(DirtyLayer::fromFlags) before the
// element's own onAnimate runs, so the element is drawn in the frame that follows the tick.

#include <atomic>
#include <cstdint>
#include <string_view>

#include "korvo/core/nogc.h"
#include "korvo/core/vec.h"
#include "korvo/graphics/image.h"
#include "korvo/graphics/rect.h"
#include "korvo/window/input.h"

namespace korvo {

class Parameter;

class UIContext;

// What an element draws and whether it is animated (bit set).
enum class ElementFlags : std::uint32_t {
    none = 0,
    drawsRaw = 1,        // draws into the raw layer (on top of the lit image)
    drawsPBR = 2,        // draws into the PBR layers
    wantsAnimation = 4,  // receives onAnimate
};
constexpr ElementFlags operator|(ElementFlags a, ElementFlags b) noexcept {
    return static_cast<ElementFlags>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
constexpr bool hasFlag(ElementFlags set, ElementFlags flag) noexcept {
    return (static_cast<std::uint32_t>(set) & static_cast<std::uint32_t>(flag)) != 0;
}

// Which dirty list a change goes to. Any other value adds no rectangle.
enum class DirtyLayer : std::int32_t {
    fromFlags = 0,     // the PBR list for a PBR element (the raw layer above follows), else the raw list
    rawLayerOnly = 1,  // the raw list
};

class UIElement {
public:
    // The element is not attached anywhere until a parent's addChild. context is not owned.
    UIElement(UIContext* context, ElementFlags flags) noexcept;
    // Destroys the children, in order.
    virtual ~UIElement();
    UIElement(const UIElement&) = delete;
    UIElement& operator=(const UIElement&) = delete;

    // Takes ownership of a child made with heapNew and appends it. Returns the child.
    template <class T>
    T* addChild(HeapPtr<T> child) {
        T* raw = child.release();
        _children.push(raw);
        return raw;
    }
    template <class T>
    T* addChild(T* child) {
        _children.push(static_cast<UIElement*>(child));
        return child;
    }

    // ---- Overridable behaviour (defaults in brackets) -----------------------------------------
    // [position = box; reflow every child with the same box]
    virtual void reflow(IntRect availableSpace);
    // Local coordinates; true = handled, starts a drag of this element. [false]
    virtual bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                              MouseState mouseState);
    // Local coordinates; true = handled. [false]
    virtual bool onMouseWheel(std::int32_t x, std::int32_t y, std::int32_t wheelDeltaX,
                              std::int32_t wheelDeltaY, MouseState mouseState);
    // Pointer moved inside the element (local coordinates). [nothing]
    virtual void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                             MouseState mouseState);
    virtual void onBeginDrag() {}
    // Pointer moved while this element is dragged (local coordinates, may lie outside). [nothing]
    virtual void onMouseDrag(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                             MouseState mouseState);
    virtual void onStopDrag() {}
    virtual void onMouseEnter() {}
    virtual void onMouseExit() {}
    virtual void onFocusEnter() {}
    virtual void onFocusExit() {}
    // true = handled. [false]
    virtual bool onKeyDown(Key key);
    virtual bool onKeyUp(Key key);
    // Text typed while the element has the keyboard focus (UTF-8, one or more characters); true =
    // taken. [false]
    virtual bool onTextInput(std::string_view text);
    // [setDirtyAll with the layer(s) markDirtyFromAnyThread asked for since the last tick; then
    // onAnimate when wantsAnimation is set; then animate on every child in order]. An override must
    // call this one.
    virtual void animate(double dt, double time);
    // Marks the whole position dirty. [any-thread]
    virtual void setDirtyAll(DirtyLayer layer);
    // Marks rect (local coordinates) dirty. [any-thread]
    virtual void setDirty(DirtyLayer layer, IntRect rect);
    // Draws into the raw layer. rawMap's pixel (0, 0) is the element's top-left corner clipped to
    // the window; dirtyRects are local to it and do not overlap. [nothing]
    virtual void onDrawRaw(ImageView<RGBA> rawMap, const Vec<IntRect>& dirtyRects);
    // The same for the three PBR layers. [an 8-pixel grey checkerboard at depth 15000]
    virtual void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                           const Vec<IntRect>& dirtyRects);
    // dt: seconds since the previous tick; time: seconds since the window was created. [nothing]
    virtual void onAnimate(double dt, double time);
    // True when the element's drawing of a pixel depends on nothing but the pixel's position and
    // the element's state (never on the other rectangles of the call), and its onDraw calls may
    // run on several threads at once for disjoint rectangles: the renderer may then share a large
    // dirty area of it out between threads. [false]
    virtual bool drawsInParts() const noexcept { return false; }
    // Work of a frame that touches nothing but the element's own data (a buffered element's stale
    // caches), which the renderer may run on any thread before the element's drawing, while
    // other elements draw; onDraw must not rely on it having run. [nothing]
    virtual void prepareDrawing() {}
    // The parameter this element is the control of at (x, y) (local coordinates, inside the
    // element), for a host's "parameter under the mouse". [null]
    virtual Parameter* editedParameterAt(std::int32_t x, std::int32_t y) const noexcept {
        (void)x;
        (void)y;
        return nullptr;
    }

    // Records that the whole element must be redrawn; the next animate marks it dirty on `layer`
    // (rawLayerOnly: a change that touches nothing lit, so no lighting is redone). Lock-free and
    // allocation-free. [any-thread, including audio]
    void markDirtyFromAnyThread(DirtyLayer layer = DirtyLayer::fromFlags) noexcept {
        if (layer == DirtyLayer::fromFlags)
            _dirtyRequested.fetch_or(kRequestFromFlags, std::memory_order_release);
        else if (layer == DirtyLayer::rawLayerOnly)
            _dirtyRequested.fetch_or(kRequestRawOnly, std::memory_order_release);
    }

    // For parameter listeners: a change seen while this thread dispatches an input event (the
    // editor's own edit: a drag, a key, a menu choice) marks the element at once, so the frame
    // after the event draws it; any other (host automation, possibly on the audio thread) is
    // recorded as markDirtyFromAnyThread records it. [any-thread, including audio]
    void markDirtyFromListener(DirtyLayer layer = DirtyLayer::fromFlags) noexcept;
    // Whether the calling thread is dispatching an input event to this element's editor now.
    // [any-thread]
    bool onInputThread() const noexcept;
    // For parameter listeners of an element that draws from a copy of its inputs: refreshShown at
    // once on the thread dispatching input, else by the next tick (one atomic bit, no lock, no
    // allocation). [any-thread, including audio]
    void requestRefresh() noexcept;
    // Takes the inputs into the element's copy and marks what the change moves (rects via
    // setDirty). Called for requestRefresh and before a new window's first frame. [nothing]
    virtual void refreshShown() {}
    // Marks the pixels of the box [x0, x1) x [y0, y1) (local coordinates, rounded outwards,
    // clipped to the element); a box that is not finite marks the whole element. [any-thread]
    void setDirtyCovering(DirtyLayer layer, float x0, float y0, float x1, float y1);

    // ---- Recursive dispatch (called on the root with editor coordinates) ----------------------
    bool mouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                    MouseState mouseState);
    bool mouseWheel(std::int32_t x, std::int32_t y, std::int32_t wheelDeltaX, std::int32_t wheelDeltaY,
                    MouseState mouseState);
    void mouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy, MouseState mouseState);
    bool keyDown(Key key);
    // The pointer left with the window: every element it was over gets onMouseExit.
    void forgetPointer();
    // The parameter of the topmost control at (x, y) (editor coordinates), or null.
    Parameter* parameterAt(std::int32_t x, std::int32_t y);
    bool keyUp(Key key);

    // ---- Accessors ----------------------------------------------------------------------------
    // The element's box in device pixels (what drawing, dirty marking and hit-testing use).
    IntRect position() const noexcept { return _position; }
    // Places the element at `box`, given on the editor's base grid: position() becomes the box
    // scaled by the context's scale (see scaleRect).
    void setPosition(IntRect box) noexcept;
    // The box last given to setPosition (base grid).
    IntRect layoutBox() const noexcept { return _layout; }
    // The layout box's height in device pixels, unrounded (the position's height for an element
    // placed without a layout box): drags measured against it change a value by the same amount
    // for the same distance on the base grid at every scale.
    double layoutHeightInPixels() const noexcept;
    // Device pixels per base pixel: the context's scale (1 without a context).
    float scale() const noexcept;
    // After the context's scale changed: recomputes position() from the layout box, lets the
    // element react (onScaleChanged), then does the same for every child.
    void applyScale();
    // The scale changed and the position follows it; sizes of caches and the like adapt here.
    // [nothing]
    virtual void onScaleChanged() {}
    // Before the first frame of a new window, on every element and its children: whatever changed
    // while no window ticked is taken up (refreshShown), so the first frame shows it.
    void windowOpened();
    bool isVisible() const noexcept { return _visible; }
    void setVisible(bool visible) noexcept { _visible = visible; }
    std::int32_t zOrder() const noexcept { return _zOrder; }
    void setZOrder(std::int32_t zOrder) noexcept { _zOrder = zOrder; }
    ElementFlags flags() const noexcept { return _flags; }
    UIContext* context() const noexcept { return _context; }
    bool isMouseOver() const noexcept { return _mouseOver; }
    bool isDragged() const noexcept;
    bool isFocused() const noexcept;
    const Vec<UIElement*>& children() const noexcept { return _children; }
    std::size_t childCount() const noexcept { return _children.length(); }
    UIElement* child(std::size_t i) const noexcept { return _children[i]; }

    // Used by the renderer: the element's scratch list of local dirty rectangles, and the offset
    // of the drawn view's pixel (0, 0) from the element's top-left corner (non-zero only when the
    // element reaches past the window's left or top edge).
    Vec<IntRect>& localRects() noexcept { return _localRects; }
    void setDrawOffset(IntPoint offset) noexcept { _drawOffset = offset; }

protected:
    IntRect _position;
    IntRect _layout;
    Vec<UIElement*> _children;
    bool _visible = true;
    ElementFlags _flags;
    std::int32_t _zOrder = 0;
    UIContext* _context;
    bool _mouseOver = false;
    Vec<IntRect> _localRects;
    Vec<UIElement*> _sortedChildren;
    IntPoint _drawOffset;
    // Set by markDirtyFromAnyThread (one bit per layer), taken by animate.
    static constexpr std::uint8_t kRequestFromFlags = 1, kRequestRawOnly = 2, kRequestRefresh = 4;
    std::atomic<std::uint8_t> _dirtyRequested{0};
    static_assert(std::atomic<std::uint8_t>::is_always_lock_free);

private:
    void addDirtyRect(DirtyLayer layer, IntRect editorRect);
    void sortChildrenByDecreasingZ();
};

// Stable insertion sort of element pointers by z-order, allocation-free (used for hit-testing and
// the renderer's draw lists). increasing = false sorts by decreasing z.
void sortElementsByZ(UIElement** elements, std::size_t count, bool increasing) noexcept;

}  // namespace korvo
