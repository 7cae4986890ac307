#pragma once
// UIContext: the state shared by every element of one editor: the keyboard focus, the dragged
// element, the skybox the compositor reflects, the scale the editor is drawn at, and the two
// dirty-rectangle lists the renderer empties at every frame.
//
// Scale: elements are laid out on the editor's base grid (its size at 100 %); `scale` is the
// number of device pixels per base pixel. Element positions, the layers and every input
// coordinate are in device pixels; widgets draw their shapes, text and strokes scaled by it.
//
// DirtyList keeps non-overlapping rectangles. Adding a box drops listed rectangles it covers, cuts
// the ones it overlaps into their parts outside it, and is skipped when a listed rectangle already
// covers it; so no pixel is ever redrawn twice for one frame.
//
// Thread contract: focus, drag, scale and skybox are [main-thread]. DirtyList::addRect and takeAll are
// [any-thread]: each list has its own mutex, held for the whole merge.

#include <atomic>
#include <thread>
#include <cstdint>

#include "korvo/core/nogc.h"
#include "korvo/core/sync.h"
#include "korvo/core/vec.h"
#include "korvo/graphics/image.h"
#include "korvo/graphics/mipmap.h"
#include "korvo/graphics/rect.h"
#include "korvo/gui/element.h"

namespace korvo {

class UIElement;

class DirtyList {
public:
    DirtyList() = default;
    DirtyList(const DirtyList&) = delete;
    DirtyList& operator=(const DirtyList&) = delete;

    // Adds box b, keeping the list disjoint (an empty box is ignored without locking). [any-thread]
    void addRect(IntRect b);
    // Appends every rectangle to `out` and empties the list. [any-thread]
    void takeAll(Vec<IntRect>& out);
    // Number of rectangles listed. [any-thread]
    std::size_t length();

private:
    UncheckedMutex mutex_;
    Vec<IntRect> rects_;
};

class UIContext {
public:
    // Creates an 11-level 1024 x 1024 skybox (black until setSkybox).
    UIContext();
    virtual ~UIContext();
    UIContext(const UIContext&) = delete;
    UIContext& operator=(const UIContext&) = delete;

    // Replaces the skybox by a pyramid built from `image` (made with heapNew; taken over): level 0
    // is the image, levels 1 and 2 box-filtered, higher levels cubic, at most 13 levels.
    // [main-thread]
    virtual void setSkybox(OwnedImage<RGBA>* image);

    UIElement* focused = nullptr;  // not owned
    // Device pixels per base pixel. Set by the editor (GUIGraphics::setScale) between frames; the
    // draw threads only read it. [main-thread]
    float scale = 1.0f;
    UIElement* dragged = nullptr;  // not owned
    // While set (an open pop-up menu), every mouse event goes to this element alone. Not owned.
    UIElement* modal = nullptr;
    // Shift, Ctrl and Alt as they were at the key event being dispatched (the buttons unused).
    MouseState keyModifiers;
    // The thread dispatching an input event right now (none between events): a parameter change
    // a listener sees on it is the editor's own edit, drawn by the frame that follows the event.
    // [any-thread] (read by listeners on any thread, audio included: one atomic load)
    std::atomic<std::thread::id> inputThread{};
    static_assert(std::atomic<std::thread::id>::is_always_lock_free);
    HeapPtr<Mipmap<RGBA>> skybox;
    DirtyList dirtyListPBR;
    DirtyList dirtyListRaw;
};

}  // namespace korvo
