#include "korvo/gui/element.h"

#include <gtest/gtest.h>

#include <thread>

#include "korvo/client/params.h"
#include "korvo/gui/bufferedelement.h"
#include "korvo/gui/context.h"
#include "tests/korvo/gui/gui_test_util.h"
#include "tests/support/realtime.h"

namespace korvo {
namespace {

using test::box;
using test::EventLog;
using test::RecordingElement;

// A root with children; the test keeps raw pointers to the children it owns through the root.
struct Tree {
    UIContext context;
    EventLog log;
    RecordingElement root{&context, "root", &log};

    RecordingElement* add(RecordingElement& parent, const char* name, IntRect position, std::int32_t z = 0) {
        auto* e = parent.addChild(heapNew<RecordingElement>(&context, name, &log));
        e->setPosition(position);
        e->setZOrder(z);
        return e;
    }
};

TEST(ElementDispatch, ClickVisitsChildrenAtOrAboveParentZFirst) {
    Tree t;
    t.root.setPosition(box(0, 0, 100, 100));
    t.root.handlesClicks = true;
    RecordingElement* a = t.add(t.root, "a", box(0, 0, 50, 50), 0);
    a->handlesClicks = true;
    EXPECT_TRUE(t.root.mouseClick(10, 20, MouseButton::left, false, {}));
    // The child with the parent's z-order is asked before the parent, and takes the click.
    EXPECT_EQ(t.log, (EventLog{"a.click", "a.beginDrag", "a.focusEnter"}));
    EXPECT_EQ(t.context.dragged, a);
    EXPECT_EQ(t.context.focused, a);
    EXPECT_EQ(a->lastX, 10);
    EXPECT_EQ(a->lastY, 20);
}

TEST(ElementDispatch, ChildrenBelowParentZAreAskedAfterTheParent) {
    Tree t;
    t.root.setPosition(box(0, 0, 100, 100));
    t.root.setZOrder(5);
    RecordingElement* low = t.add(t.root, "low", box(0, 0, 50, 50), 1);
    RecordingElement* high = t.add(t.root, "high", box(0, 0, 50, 50), 7);
    RecordingElement* mid = t.add(t.root, "mid", box(0, 0, 50, 50), 5);
    (void)low, (void)high, (void)mid;
    EXPECT_FALSE(t.root.mouseClick(1, 1, MouseButton::left, false, {}));
    EXPECT_EQ(t.log, (EventLog{"high.click", "mid.click", "root.click", "low.click"}));
}

TEST(ElementDispatch, EqualZChildrenKeepChildOrderAndOutsideClicksAreNotOffered) {
    Tree t;
    t.root.setPosition(box(0, 0, 100, 100));
    t.add(t.root, "first", box(0, 0, 50, 50));
    t.add(t.root, "outside", box(60, 60, 80, 80));
    t.add(t.root, "second", box(0, 0, 50, 50));
    t.root.mouseClick(49, 49, MouseButton::right, false, {});
    EXPECT_EQ(t.log, (EventLog{"first.click", "second.click", "root.click"}));
    t.log.clear();
    t.root.mouseClick(50, 10, MouseButton::right, false, {});  // max is exclusive
    EXPECT_EQ(t.log, (EventLog{"root.click"}));
    t.log.clear();
    t.root.mouseClick(100, 10, MouseButton::right, false, {});
    EXPECT_TRUE(t.log.empty());
}

TEST(ElementDispatch, NewClickStopsThePreviousDragAndMovesTheFocus) {
    Tree t;
    t.root.setPosition(box(0, 0, 100, 100));
    RecordingElement* a = t.add(t.root, "a", box(0, 0, 50, 50));
    RecordingElement* b = t.add(t.root, "b", box(50, 0, 100, 50));
    a->handlesClicks = b->handlesClicks = true;
    t.root.mouseClick(10, 10, MouseButton::left, false, {});
    t.log.clear();
    t.root.mouseClick(60, 10, MouseButton::left, false, {});
    EXPECT_EQ(t.log, (EventLog{"b.click", "a.stopDrag", "b.beginDrag", "a.focusExit", "b.focusEnter"}));
    EXPECT_EQ(b->lastX, 10);
    t.log.clear();
    // Clicking the focused element again restarts its drag but keeps the focus quietly.
    t.root.mouseClick(61, 10, MouseButton::left, false, {});
    EXPECT_EQ(t.log, (EventLog{"b.click", "b.stopDrag", "b.beginDrag"}));
    EXPECT_EQ(t.context.focused, b);
}

TEST(ElementDispatch, WheelFollowsClickOrderWithoutDragOrFocus) {
    Tree t;
    t.root.setPosition(box(0, 0, 100, 100));
    RecordingElement* a = t.add(t.root, "a", box(10, 10, 50, 50));
    a->handlesWheel = true;
    EXPECT_TRUE(t.root.mouseWheel(15, 12, 0, 1, {}));
    EXPECT_EQ(t.log, (EventLog{"a.wheel"}));
    EXPECT_EQ(a->lastX, 5);
    EXPECT_EQ(a->lastY, 2);
    EXPECT_EQ(t.context.dragged, nullptr);
    EXPECT_EQ(t.context.focused, nullptr);
}

TEST(ElementDispatch, MoveEntersAndExitsOnceEvenWhileDragged) {
    Tree t;
    t.root.setPosition(box(0, 0, 100, 100));
    RecordingElement* a = t.add(t.root, "a", box(10, 10, 20, 20));
    a->handlesClicks = true;
    t.root.mouseMove(15, 15, 0, 0, {});
    EXPECT_EQ(t.log, (EventLog{"a.enter", "a.move", "root.enter", "root.move"}));
    t.root.mouseClick(15, 15, MouseButton::left, false, {});
    t.log.clear();
    t.root.mouseMove(30, 15, 15, 0, {});
    t.root.mouseMove(40, 15, 10, 0, {});
    EXPECT_EQ(t.log, (EventLog{"a.drag", "a.exit", "root.move", "a.drag", "root.move"}));
    EXPECT_EQ(a->lastX, 30);  // drag coordinates are local, outside the element
    EXPECT_FALSE(a->isMouseOver());
    t.log.clear();
    t.root.mouseMove(150, 15, 110, 0, {});
    EXPECT_EQ(t.log, (EventLog{"a.drag", "root.exit"}));
}

TEST(ElementDispatch, KeysGoToTheElementThenItsChildrenInOrder) {
    Tree t;
    RecordingElement* a = t.add(t.root, "a", box(0, 0, 1, 1));
    RecordingElement* a1 = t.add(*a, "a1", box(0, 0, 1, 1));
    RecordingElement* b = t.add(t.root, "b", box(0, 0, 1, 1));
    a1->handlesKeys = true;
    b->handlesKeys = true;
    EXPECT_TRUE(t.root.keyDown(Key::A));
    EXPECT_EQ(t.log, (EventLog{"root.keyDown", "a.keyDown", "a1.keyDown"}));
    a1->handlesKeys = b->handlesKeys = false;
    t.log.clear();
    EXPECT_FALSE(t.root.keyUp(Key::z));
    EXPECT_EQ(t.log, (EventLog{"root.keyUp", "a.keyUp", "a1.keyUp", "b.keyUp"}));
}

TEST(ElementDispatch, AnimateReachesEveryChildButOnlyAnimatedElementsTick) {
    UIContext context;
    EventLog log;
    RecordingElement root(&context, "root", &log, ElementFlags::none);
    auto* plain = root.addChild(heapNew<RecordingElement>(&context, "plain", &log, ElementFlags::drawsPBR));
    plain->addChild(heapNew<RecordingElement>(&context, "deep", &log, ElementFlags::wantsAnimation));
    root.animate(0.015, 1.0);
    EXPECT_EQ(log, (EventLog{"deep.animate"}));
}

TEST(ElementDirty, LayerChoosesTheList) {
    UIContext context;
    UIElement pbr(&context, ElementFlags::drawsPBR | ElementFlags::drawsRaw);
    UIElement raw(&context, ElementFlags::drawsRaw);
    UIElement none(&context, ElementFlags::wantsAnimation);
    pbr.setPosition(box(10, 10, 20, 20));
    raw.setPosition(box(30, 30, 40, 40));
    none.setPosition(box(50, 50, 60, 60));
    pbr.setDirtyAll(DirtyLayer::fromFlags);
    raw.setDirtyAll(DirtyLayer::fromFlags);
    none.setDirtyAll(DirtyLayer::fromFlags);
    none.setDirty(DirtyLayer::rawLayerOnly, box(0, 0, 2, 2));  // local: becomes (50, 50, 52, 52)
    pbr.setDirty(static_cast<DirtyLayer>(2), box(0, 0, 5, 5));
    Vec<IntRect> p, r;
    context.dirtyListPBR.takeAll(p);
    context.dirtyListRaw.takeAll(r);
    ASSERT_EQ(p.length(), 1u);
    EXPECT_EQ(p[0], box(10, 10, 20, 20));
    ASSERT_EQ(r.length(), 2u);
    EXPECT_EQ(r[0], box(30, 30, 40, 40));
    EXPECT_EQ(r[1], box(50, 50, 52, 52));
}

// Marks its element from a parameter listener, the way a widget does during host automation.
class MarkingListener final : public IParameterListener {
public:
    explicit MarkingListener(UIElement& element) : element_(element) {}
    void onParameterChanged(Parameter&) noexcept override { element_.markDirtyFromAnyThread(); }
    void onBeginParameterEdit(Parameter&) noexcept override {}
    void onEndParameterEdit(Parameter&) noexcept override {}

private:
    UIElement& element_;
};

TEST(ElementDirty, AudioThreadChangesAreMarkedAtTheNextTickWithoutLocksOrAllocation) {
    UIContext context;
    UIElement root(&context, ElementFlags::none);
    auto* knob = root.addChild(heapNew<UIElement>(&context, ElementFlags::drawsPBR));
    knob->setPosition(box(10, 10, 40, 40));
    LinearFloatParameter gain(0, "Gain", "dB", -24.0, 24.0, 0.0);
    MarkingListener listener(*knob);
    gain.addListener(&listener);

    test::RealtimeProbe probe;
    gain.setNormalizedFromHost(0.25);  // host automation inside process
    gain.setNormalizedFromHost(0.75);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    EXPECT_EQ(context.dirtyListPBR.length(), 0u);  // nothing marked on the audio thread

    root.animate(0.015, 0.015);
    Vec<IntRect> rects;
    context.dirtyListPBR.takeAll(rects);
    ASSERT_EQ(rects.length(), 1u);  // two changes, one mark
    EXPECT_EQ(rects[0], box(10, 10, 40, 40));
    root.animate(0.015, 0.030);
    EXPECT_EQ(context.dirtyListPBR.length(), 0u);

    // The same from another thread.
    std::thread audio([&] { gain.setNormalizedFromHost(0.5); });
    audio.join();
    root.animate(0.015, 0.045);
    EXPECT_EQ(context.dirtyListPBR.length(), 1u);
    gain.removeListener(&listener);
}

// Asks for a redraw of itself from its own tick.
class SelfMarking final : public UIElement {
public:
    explicit SelfMarking(UIContext* context)
        : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation) {}
    int ticks = 0;
    void onAnimate(double, double) override {
        if (ticks++ == 0) markDirtyFromAnyThread();
    }
};

TEST(ElementDirty, ARequestMadeDuringATickIsKeptForTheNextOne) {
    UIContext context;
    SelfMarking e(&context);
    e.setPosition(box(0, 0, 5, 5));
    e.animate(0.015, 0.015);
    EXPECT_EQ(context.dirtyListPBR.length(), 0u);
    e.animate(0.015, 0.030);
    EXPECT_EQ(context.dirtyListPBR.length(), 1u);
}

TEST(ElementDirty, ARawOnlyRequestLeavesTheLitLayersAlone) {
    UIContext context;
    UIElement e(&context, ElementFlags::drawsPBR | ElementFlags::drawsRaw);
    e.setPosition(box(0, 0, 5, 5));
    e.markDirtyFromAnyThread(DirtyLayer::rawLayerOnly);
    e.animate(0.015, 0.015);
    EXPECT_EQ(context.dirtyListPBR.length(), 0u);
    EXPECT_EQ(context.dirtyListRaw.length(), 1u);
    e.markDirtyFromAnyThread(DirtyLayer::rawLayerOnly);  // with a full request too: the full one
    e.markDirtyFromAnyThread();
    e.animate(0.015, 0.030);
    EXPECT_EQ(context.dirtyListPBR.length(), 1u);
}

TEST(ElementDraw, DefaultPBRIsAnEightPixelCheckerboard) {
    UIContext context;
    UIElement e(&context, ElementFlags::drawsPBR);
    OwnedImage<RGBA> diffuse(20, 20), material(20, 20);
    OwnedImage<L16> depth(20, 20);
    fill(diffuse.view(), RGBA{1, 2, 3, 4});
    Vec<IntRect> rects;
    rects.push(box(4, 4, 12, 12));
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    EXPECT_EQ(diffuse.view().at(4, 4), (RGBA{150, 150, 150, 0}));
    EXPECT_EQ(diffuse.view().at(8, 4), (RGBA{100, 100, 100, 0}));
    EXPECT_EQ(diffuse.view().at(8, 8), (RGBA{150, 150, 150, 0}));
    EXPECT_EQ(diffuse.view().at(4, 11), (RGBA{100, 100, 100, 0}));
    EXPECT_EQ(depth.view().at(11, 11).l, 15000);
    EXPECT_EQ(material.view().at(11, 11), (RGBA{128, 25, 128, 255}));
    EXPECT_EQ(diffuse.view().at(3, 4), (RGBA{1, 2, 3, 4}));  // outside the dirty rectangle
    EXPECT_EQ(diffuse.view().at(12, 12), (RGBA{1, 2, 3, 4}));
}

// A buffered element painting a half-covered cache and counting its redraws.
class HalfCover final : public UIBufferedElementPBR {
public:
    explicit HalfCover(UIContext* context) : UIBufferedElementPBR(context, ElementFlags::drawsPBR) {}
    int redraws = 0;
    void redrawCachePBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                        ImageView<L8> od, ImageView<L8> oz, ImageView<L8> om) override {
        ++redraws;
        fill(diffuse, RGBA{200, 100, 50, 10});
        fill(depth, L16{60000});
        fill(material, RGBA{0, 255, 0, 255});
        fillBox(od, box(0, 0, 2, 1), L8{255});
        fillBox(od, box(2, 0, 3, 1), L8{128});
        fillBox(oz, box(0, 0, 2, 1), L8{255});
        fillBox(oz, box(2, 0, 3, 1), L8{128});
        fillBox(om, box(0, 0, 3, 1), L8{64});
    }
};

TEST(BufferedElement, BlendsCachesThroughTheirMasks) {
    UIContext context;
    HalfCover e(&context);
    e.setPosition(box(0, 0, 4, 2));
    OwnedImage<RGBA> diffuse(4, 2), material(4, 2);
    OwnedImage<L16> depth(4, 2);
    fill(diffuse.view(), RGBA{0, 0, 0, 0});
    fill(material.view(), RGBA{100, 100, 100, 100});
    fill(depth.view(), L16{65535});
    Vec<IntRect> rects;
    rects.push(box(0, 0, 4, 2));
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    EXPECT_EQ(diffuse.view().at(0, 0), (RGBA{200, 100, 50, 10}));
    // m = 128: (200 * 128 + 0 * 127 + 127) / 255 = 100, (10 * 128 + 127) / 255 = 5
    EXPECT_EQ(diffuse.view().at(2, 0), (RGBA{100, 50, 25, 5}));
    EXPECT_EQ(diffuse.view().at(3, 0), (RGBA{0, 0, 0, 0}));  // mask 0 keeps the layer
    // L16 with w = 128 * 257 = 32896: (60000 * 32896 + 65535 * 32639 + 32768) >> 16 = 62756
    EXPECT_EQ(depth.view().at(2, 0).l, 62756);
    EXPECT_EQ(depth.view().at(0, 0).l, 59999);  // m = 255 rounds (60000 * 65535 + 32768) >> 16
    EXPECT_EQ(depth.view().at(0, 1).l, 65535);  // uncovered: untouched
    // (0 * 64 + 100 * 191 + 127) / 255 = 75; (255 * 64 + 100 * 191 + 127) / 255 = 139
    EXPECT_EQ(material.view().at(1, 0), (RGBA{75, 139, 75, 139}));
}

TEST(BufferedElement, CacheIsRedrawnOnlyAfterDirtyOrResize) {
    UIContext context;
    HalfCover e(&context);
    e.setPosition(box(0, 0, 4, 2));
    OwnedImage<RGBA> diffuse(8, 8), material(8, 8);
    OwnedImage<L16> depth(8, 8);
    Vec<IntRect> rects;
    rects.push(box(0, 0, 4, 2));
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    EXPECT_EQ(e.redraws, 1);
    // Layer value 2 adds no rectangle but still invalidates the cache.
    e.setDirty(static_cast<DirtyLayer>(2), box(0, 0, 1, 1));
    EXPECT_EQ(context.dirtyListPBR.length(), 0u);
    EXPECT_TRUE(e.isCacheStale());
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    EXPECT_EQ(e.redraws, 2);
    e.setPosition(box(0, 0, 5, 2));
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    EXPECT_EQ(e.redraws, 3);
    e.setDirtyAll(DirtyLayer::rawLayerOnly);
    EXPECT_TRUE(e.isCacheStale());
    // Prepared ahead (as the renderer does while earlier elements draw): the drawing that
    // follows blends the fresh caches without redrawing them again.
    e.prepareDrawing();
    EXPECT_EQ(e.redraws, 4);
    EXPECT_FALSE(e.isCacheStale());
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    EXPECT_EQ(e.redraws, 4);
    EXPECT_EQ(diffuse.view().at(0, 0), (RGBA{200, 100, 50, 10}));
}

// Its first redraw sees a change arrive while it draws (as from another thread).
class ChangedDuringRedraw final : public UIBufferedElementPBR {
public:
    explicit ChangedDuringRedraw(UIContext* context)
        : UIBufferedElementPBR(context, ElementFlags::drawsPBR) {}
    int redraws = 0;
    std::uint8_t value = 1;
    void redrawCachePBR(ImageView<RGBA> diffuse, ImageView<L16>, ImageView<RGBA>, ImageView<L8> od,
                        ImageView<L8>, ImageView<L8>) override {
        const std::uint8_t drawn = value;
        if (redraws++ == 0) {
            value = 2;
            setDirtyAll(DirtyLayer::fromFlags);
        }
        fill(diffuse, RGBA{drawn, 0, 0, 0});
        fill(od, L8{255});
    }
};

TEST(BufferedElement, AChangeMarkedDuringTheRedrawIsDrawnInTheNextFrame) {
    UIContext context;
    ChangedDuringRedraw e(&context);
    e.setPosition(box(0, 0, 2, 2));
    OwnedImage<RGBA> diffuse(2, 2), material(2, 2);
    OwnedImage<L16> depth(2, 2);
    Vec<IntRect> rects;
    rects.push(box(0, 0, 2, 2));
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    EXPECT_EQ(diffuse.view().at(0, 0).r, 1);
    EXPECT_TRUE(e.isCacheStale());
    e.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    EXPECT_EQ(e.redraws, 2);
    EXPECT_EQ(diffuse.view().at(0, 0).r, 2);
    EXPECT_FALSE(e.isCacheStale());
}

}  // namespace
}  // namespace korvo
