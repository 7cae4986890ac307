#include "korvo/gui/graphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "korvo/gui/bufferedelement.h"
#include "korvo/gui/graphicsparts.h"
#include "korvo/window/headless.h"
#include "tests/korvo/gui/gui_test_util.h"
#include "tests/support/realtime.h"
#include "tools/offscreen/demoscene.h"

namespace korvo {
namespace {

using test::box;
using test::EventLog;
using test::RecordingElement;

// Counts its draw calls (from pool threads) and remembers their order and rectangles.
class CountingElement : public UIElement {
public:
    CountingElement(UIContext* context, ElementFlags flags, std::atomic<int>* sequence)
        : UIElement(context, flags), sequence_(sequence) {}
    std::atomic<int> pbrDraws{0}, rawDraws{0};
    int lastSequence = -1;
    std::vector<IntRect> lastRects;

    void onDrawPBR(ImageView<RGBA> d, ImageView<L16> z, ImageView<RGBA> m,
                   const Vec<IntRect>& rects) override {
        ++pbrDraws;
        lastSequence = (*sequence_)++;
        lastRects.assign(rects.begin(), rects.end());
        UIElement::onDrawPBR(d, z, m, rects);
    }
    void onDrawRaw(ImageView<RGBA>, const Vec<IntRect>& rects) override {
        ++rawDraws;
        lastRects.assign(rects.begin(), rects.end());
    }

private:
    std::atomic<int>* sequence_;
};

class TestGUI : public GUIGraphics {
public:
    TestGUI(std::int32_t w, std::int32_t h) : GUIGraphics(w, h, ElementFlags::drawsPBR) {}
    std::atomic<int> sequence{0};
    std::vector<std::vector<const UIElement*>> batches;

    CountingElement* add(IntRect position, ElementFlags flags = ElementFlags::drawsPBR, std::int32_t z = 0) {
        auto* e = addChild(heapNew<CountingElement>(_context, flags, &sequence));
        e->setPosition(position);
        e->setZOrder(z);
        return e;
    }
    void reflow(IntRect box) override { _position = box; }  // children keep their boxes
    void onPBRBatch(const UIElement* const* elements, std::int32_t count) noexcept override {
        batches.emplace_back(elements, elements + count);
    }
    void frame(PixelOrder order = PixelOrder::RGBA8) {
        computeDirtyAreas();
        drawFrame(order);
    }
};

std::vector<IntRect> toVector(const Vec<IntRect>& v) {
    return std::vector<IntRect>(v.begin(), v.end());
}

std::int64_t totalArea(const std::vector<IntRect>& rects) {
    std::int64_t a = 0;
    for (const IntRect& r : rects) a += static_cast<std::int64_t>(r.width()) * r.height();
    return a;
}

TEST(GUIGraphicsResize, PyramidLevelCounts) {
    TestGUI gui(10, 10);
    struct Case {
        std::int32_t w, h;
        int diffuse, depth, material;
    };
    for (const Case c :
         {Case{20, 20, 5, 5, 1}, Case{763, 494, 6, 5, 1}, Case{40, 31, 5, 5, 1}, Case{32, 32, 6, 5, 1},
          Case{1, 1, 1, 1, 1}, Case{3, 1, 1, 1, 1}, Case{0, 10, 0, 0, 0}}) {
        const ImageView<RGBA> view = gui.onResize(c.w, c.h);
        EXPECT_EQ(gui.diffusePyramid().numLevels(), c.diffuse) << c.w << "x" << c.h;
        EXPECT_EQ(gui.depthPyramid().numLevels(), c.depth) << c.w << "x" << c.h;
        EXPECT_EQ(gui.materialPyramid().numLevels(), c.material) << c.w << "x" << c.h;
        EXPECT_EQ(view.w, c.w);
        EXPECT_EQ(view.h, c.h);
        EXPECT_EQ(view.pitch, c.w * 4);
        std::int32_t w = 0, h = 0;
        gui.getGUISize(&w, &h);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
    }
}

TEST(GUIGraphicsDirty, MakeDisjointDropsCopiesAndCutsOverlaps) {
    Vec<IntRect> source, out;
    source.push(box(0, 0, 10, 10));
    source.push(box(0, 0, 10, 10));  // equal: the later copy is removed
    source.push(box(2, 2, 4, 4));    // contained: removed
    source.push(box(5, 5, 5, 9));    // no area: skipped
    GUIGraphics::makeDisjoint(source, out);
    EXPECT_EQ(toVector(out), std::vector<IntRect>{box(0, 0, 10, 10)});

    source.clear();
    out.clear();
    source.push(box(0, 0, 10, 10));
    source.push(box(5, 5, 15, 15));
    source.push(box(-3, 4, 20, 6));
    GUIGraphics::makeDisjoint(source, out);
    const std::vector<IntRect> rects = toVector(out);
    for (std::size_t i = 0; i < rects.size(); ++i)
        for (std::size_t j = i + 1; j < rects.size(); ++j)
            EXPECT_TRUE(rects[i].intersection(rects[j]).empty());
    // Union: 100 + 100 - 25 + the band's parts outside both (3*2 + 5*2 ... counted by pixels).
    int covered = 0;
    for (int y = -5; y < 20; ++y)
        for (int x = -5; x < 25; ++x) {
            const bool in = box(0, 0, 10, 10).contains(x, y) || box(5, 5, 15, 15).contains(x, y) ||
                            box(-3, 4, 20, 6).contains(x, y);
            covered += in;
        }
    EXPECT_EQ(totalArea(rects), covered);

    // Boxes whose bounding box wastes little of it become that box; far ones stay apart.
    source.clear();
    out.clear();
    source.push(box(0, 0, 10, 10));
    source.push(box(1, 1, 11, 11));
    source.push(box(40, 40, 50, 50));
    GUIGraphics::makeDisjoint(source, out);
    std::vector<IntRect> coalesced = toVector(out);
    std::sort(coalesced.begin(), coalesced.end(), [](IntRect a, IntRect b) { return a.min.x < b.min.x; });
    EXPECT_EQ(coalesced, (std::vector<IntRect>{box(0, 0, 11, 11), box(40, 40, 50, 50)}));
}

TEST(GUIGraphicsDirty, LitAreaGrowsByTheMarginAndIsClippedAtTheCorners) {
    TestGUI gui(100, 80);
    gui.onResize(100, 80);
    gui.frame();  // the first size draws everything
    gui.setLitMargin(19);
    gui.uiContext().dirtyListPBR.addRect(box(0, 0, 10, 10));
    gui.uiContext().dirtyListPBR.addRect(box(95, 75, 130, 90));  // partly off the window
    gui.uiContext().dirtyListRaw.addRect(box(40, 40, 45, 45));
    gui.uiContext().dirtyListRaw.addRect(box(200, 200, 300, 300));  // wholly off the window
    gui.computeDirtyAreas();
    EXPECT_EQ(toVector(gui.pbrRects()), (std::vector<IntRect>{box(0, 0, 10, 10), box(95, 75, 100, 80)}));
    EXPECT_EQ(toVector(gui.litRects()), (std::vector<IntRect>{box(0, 0, 29, 29), box(76, 56, 100, 80)}));
    EXPECT_EQ(toVector(gui.rawRects()), std::vector<IntRect>{box(40, 40, 45, 45)});
    EXPECT_EQ(toVector(gui.shownRects()),
              (std::vector<IntRect>{box(0, 0, 29, 29), box(76, 56, 100, 80), box(40, 40, 45, 45)}));
    EXPECT_EQ(gui.dirtyBounds(), box(0, 0, 100, 80));
    gui.drawFrame(PixelOrder::RGBA8);
    gui.computeDirtyAreas();
    EXPECT_TRUE(gui.dirtyBounds().empty());
}

// A flat non-glowing colour that changes with every drawing.
class Repainted final : public UIElement {
public:
    explicit Repainted(UIContext* context) : UIElement(context, ElementFlags::drawsPBR) {}
    void onDrawPBR(ImageView<RGBA> d, ImageView<L16>, ImageView<RGBA>, const Vec<IntRect>& rects) override {
        ++shade;
        for (const IntRect& r : rects) fillBox(d, r, RGBA{shade, shade, shade, 0});
    }
    std::uint8_t shade = 0;
};

TEST(GUIGraphicsDirty, TilesAreAtMost128Square) {
    TestGUI gui(400, 300);
    gui.addChild(heapNew<Repainted>(&gui.uiContext()))->setPosition(box(10, 20, 310, 150));
    gui.onResize(400, 300);
    gui.frame();
    gui.setLitMargin(0);
    gui.uiContext().dirtyListPBR.addRect(box(10, 20, 310, 150));
    gui.frame();
    const std::vector<IntRect> tiles = toVector(gui.tiles());
    EXPECT_EQ(tiles, (std::vector<IntRect>{box(10, 20, 138, 148), box(138, 20, 266, 148),
                                           box(266, 20, 310, 148), box(10, 148, 138, 150),
                                           box(138, 148, 266, 150), box(266, 148, 310, 150)}));
}

TEST(GUIGraphicsFrame, OverlappingElementsAreDrawnInSuccessiveBatches) {
    TestGUI gui(200, 100);
    CountingElement* top = gui.add(box(10, 10, 50, 50), ElementFlags::drawsPBR, 1);
    CountingElement* under = gui.add(box(30, 30, 70, 70), ElementFlags::drawsPBR, 0);
    CountingElement* aside = gui.add(box(100, 10, 140, 50), ElementFlags::drawsPBR, 0);
    CountingElement* hidden = gui.add(box(150, 10, 160, 20), ElementFlags::drawsPBR, 0);
    hidden->setVisible(false);
    gui.onResize(200, 100);
    gui.setDirtyAll(DirtyLayer::fromFlags);
    gui.frame();
    // z order: root, under, aside (0), then top (1); the root overlaps everyone.
    ASSERT_EQ(gui.batches.size(), 3u);
    EXPECT_EQ(gui.batches[0], std::vector<const UIElement*>{&gui});
    EXPECT_EQ(gui.batches[1], (std::vector<const UIElement*>{under, aside}));
    EXPECT_EQ(gui.batches[2], std::vector<const UIElement*>{top});
    EXPECT_LT(under->lastSequence, top->lastSequence);
    EXPECT_EQ(hidden->pbrDraws.load(), 0);
    // Elements receive only their dirty part, in local coordinates.
    gui.batches.clear();
    gui.uiContext().dirtyListPBR.addRect(box(40, 40, 45, 80));
    gui.frame();
    EXPECT_EQ(top->pbrDraws.load(), 2);
    EXPECT_EQ(top->lastRects, std::vector<IntRect>{box(30, 30, 35, 40)});
    EXPECT_EQ(under->lastRects, std::vector<IntRect>{box(10, 10, 15, 40)});
    EXPECT_EQ(aside->pbrDraws.load(), 1);
}

TEST(GUIGraphicsFrame, RawOnlyChangeRecompositesNothing) {
    TestGUI gui(64, 48);
    CountingElement* raw = gui.add(box(8, 8, 24, 24), ElementFlags::drawsRaw);
    CountingElement* pbr = gui.add(box(30, 8, 50, 30), ElementFlags::drawsPBR);
    gui.onResize(64, 48);
    gui.setDirtyAll(DirtyLayer::fromFlags);
    gui.frame();
    EXPECT_EQ(raw->rawDraws.load(), 1);
    EXPECT_EQ(pbr->pbrDraws.load(), 1);
    // Poke the composited buffer: a raw-only frame copies exactly the raw rectangle from it.
    gui.litView().at(10, 10) = RGBA{1, 2, 3, 4};
    gui.litView().at(5, 5) = RGBA{9, 9, 9, 9};
    const RGBA shownOutside = gui.shownView().at(5, 5);
    raw->setDirty(DirtyLayer::fromFlags, box(0, 0, 4, 4));  // local: (8, 8, 12, 12)
    gui.computeDirtyAreas();
    EXPECT_TRUE(gui.litRects().empty());
    EXPECT_EQ(toVector(gui.shownRects()), std::vector<IntRect>{box(8, 8, 12, 12)});
    gui.drawFrame(PixelOrder::RGBA8);
    EXPECT_TRUE(gui.tiles().empty());
    EXPECT_EQ(pbr->pbrDraws.load(), 1);
    EXPECT_EQ(raw->rawDraws.load(), 2);
    EXPECT_EQ(raw->lastRects, std::vector<IntRect>{box(0, 0, 4, 4)});
    EXPECT_EQ(gui.shownView().at(10, 10), (RGBA{1, 2, 3, 255}));
    EXPECT_EQ(gui.shownView().at(5, 5), shownOutside);
}

TEST(GUIGraphicsFrame, ConvertsToTheWindowByteOrder) {
    // 18 pixels wide: rows are converted four pixels at a time plus a tail of two.
    TestGUI gui(18, 5);
    gui.onResize(18, 5);
    gui.setDirtyAll(DirtyLayer::fromFlags);
    gui.frame(PixelOrder::RGBA8);
    for (std::int32_t y = 0; y < 5; ++y)
        for (std::int32_t x = 0; x < 18; ++x) {
            const RGBA lit = gui.litView().at(x, y);
            ASSERT_EQ(lit.a, 255);
            ASSERT_EQ(gui.shownView().at(x, y), lit) << x << "," << y;
        }
    gui.setDirtyAll(DirtyLayer::fromFlags);
    gui.frame(PixelOrder::BGRA8);
    for (std::int32_t y = 0; y < 5; ++y)
        for (std::int32_t x = 0; x < 18; ++x) {
            const RGBA lit = gui.litView().at(x, y);
            ASSERT_EQ(gui.shownView().at(x, y), (RGBA{lit.b, lit.g, lit.r, 255})) << x << "," << y;
        }
    gui.setDirtyAll(DirtyLayer::fromFlags);
    gui.frame(PixelOrder::ARGB8);
    for (std::int32_t y = 0; y < 5; ++y)
        for (std::int32_t x = 0; x < 18; ++x) {
            const RGBA lit = gui.litView().at(x, y);
            ASSERT_EQ(gui.shownView().at(x, y), (RGBA{255, lit.r, lit.g, lit.b})) << x << "," << y;
        }
}

// Paints its cache with the column number in the red channel.
class ColumnCoded final : public UIBufferedElementPBR {
public:
    explicit ColumnCoded(UIContext* context) : UIBufferedElementPBR(context, ElementFlags::drawsPBR) {}
    void redrawCachePBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA>, ImageView<L8> od,
                        ImageView<L8> oz, ImageView<L8>) override {
        for (std::int32_t y = 0; y < diffuse.h; ++y)
            for (std::int32_t x = 0; x < diffuse.w; ++x)
                diffuse.at(x, y) = RGBA{static_cast<std::uint8_t>(x), 0, 0, 0};
        fill(depth, L16{20000});
        fill(od, L8{255});
        fill(oz, L8{255});
    }
};

TEST(GUIGraphicsFrame, ElementsReachingPastTheWindowEdgeKeepTheirOwnCoordinates) {
    TestGUI gui(16, 8);
    auto* e = gui.addChild(heapNew<ColumnCoded>(&gui.uiContext()));
    e->setPosition(box(-5, -2, 6, 4));  // 11 x 6, clipped to (0, 0, 6, 4)
    gui.onResize(16, 8);
    gui.setDirtyAll(DirtyLayer::fromFlags);
    gui.frame();
    const ImageView<RGBA> diffuse = const_cast<OwnedImage<RGBA>&>(gui.diffusePyramid().level(0)).view();
    EXPECT_EQ(diffuse.at(0, 0).r, 5);  // window column 0 is the element's column 5
    EXPECT_EQ(diffuse.at(5, 3).r, 10);
    EXPECT_EQ(gui.depthPyramid().level(0).w(), 16);
    EXPECT_EQ(const_cast<OwnedImage<L16>&>(gui.depthPyramid().level(0)).view().at(5, 3).l, 20000);
}

TEST(GUIGraphicsDirty, ChangesBeforeTheFirstSizeAreKeptForTheFirstFrame) {
    TestGUI gui(40, 30);
    CountingElement* e = gui.add(box(5, 5, 15, 15));
    e->setDirtyAll(DirtyLayer::fromFlags);
    gui.uiContext().dirtyListRaw.addRect(box(1, 1, 2, 2));
    gui.frame();  // no buffer yet: nothing is drawn, and nothing is taken from the lists
    EXPECT_TRUE(gui.dirtyBounds().empty());
    EXPECT_EQ(gui.uiContext().dirtyListPBR.length(), 1u);
    EXPECT_EQ(gui.uiContext().dirtyListRaw.length(), 1u);
    EXPECT_EQ(e->pbrDraws.load(), 0);
    gui.onResize(40, 30);
    gui.frame();
    EXPECT_EQ(e->pbrDraws.load(), 1);
    EXPECT_EQ(gui.uiContext().dirtyListPBR.length(), 0u);
    EXPECT_EQ(gui.uiContext().dirtyListRaw.length(), 0u);
}

TEST(GUIGraphicsDirty, ASizeChangeRedrawsTheWholeEditor) {
    TestGUI gui(30, 20);
    gui.setWindowFactory(&HeadlessWindow::create);
    gui.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
    auto& window = *static_cast<HeadlessWindow*>(gui.window());
    window.paint();
    window.tick();
    EXPECT_EQ(window.lastPaintedBox(), box(0, 0, 30, 20));
    const int paints = window.paintCount();
    window.tick();  // nothing changed: no paint
    EXPECT_EQ(window.paintCount(), paints);
    window.resize(40, 30);
    window.paint();  // delivers the size; the buffers are new and black
    window.tick();   // so the whole editor is drawn again
    EXPECT_EQ(window.lastPaintedBox(), box(0, 0, 40, 30));
    EXPECT_EQ(window.screen().at(35, 25).a, 255);
    EXPECT_NE(window.screen().at(35, 25), (RGBA{0, 0, 0, 255}));
    EXPECT_NE(window.screen().at(2, 2), (RGBA{0, 0, 0, 255}));
}

TEST(GUIGraphicsListener, ReleaseAndCaptureLossEndDragsAndUnhandledClicksDropFocus) {
    TestGUI gui(100, 100);
    EventLog log;
    auto* a = gui.addChild(heapNew<RecordingElement>(&gui.uiContext(), "a", &log));
    a->setPosition(box(0, 0, 50, 50));
    a->handlesClicks = true;
    a->handlesKeys = true;
    IWindowListener& listener = *gui.windowListener();
    EXPECT_TRUE(listener.onMouseClick(5, 5, MouseButton::left, false, {}));
    EXPECT_TRUE(listener.onMouseRelease(5, 5, MouseButton::left, {}));
    EXPECT_EQ(gui.uiContext().dragged, nullptr);
    EXPECT_EQ(gui.uiContext().focused, a);
    EXPECT_TRUE(listener.onKeyDown(Key::enter, {}));  // the focused element first
    EXPECT_TRUE(listener.onMouseClick(5, 5, MouseButton::left, false, {}));
    listener.onCaptureLost();
    EXPECT_EQ(gui.uiContext().dragged, nullptr);
    listener.onCaptureLost();  // nothing dragged: nothing happens
    EXPECT_FALSE(listener.onMouseClick(70, 70, MouseButton::left, false, {}));
    EXPECT_EQ(gui.uiContext().focused, nullptr);
    EXPECT_EQ(log, (EventLog{"a.click", "a.beginDrag", "a.focusEnter", "a.stopDrag", "a.keyDown", "a.click",
                             "a.beginDrag", "a.stopDrag", "a.focusExit"}));
    EXPECT_TRUE(listener.onMouseRelease(0, 0, MouseButton::right, {}));  // always true
}

TEST(GUIGraphicsWindow, OpenLaysOutMarksEverythingDirtyAndCloseDropsTheWindow) {
    TestGUI gui(30, 20);
    EXPECT_EQ(gui.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32), nullptr);  // no factory
    EXPECT_EQ(gui.position(), box(0, 0, 30, 20));
    EXPECT_EQ(gui.uiContext().dirtyListPBR.length(), 1u);
    gui.setWindowFactory(&HeadlessWindow::create);
    void* handle = gui.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
    ASSERT_NE(gui.window(), nullptr);
    EXPECT_EQ(handle, gui.window()->nativeHandle());
    auto& window = *static_cast<HeadlessWindow*>(gui.window());
    window.paint();
    window.tick();
    EXPECT_EQ(window.lastPaintedBox(), box(0, 0, 30, 20));
    EXPECT_EQ(window.screen().at(29, 19).a, 255);
    gui.closeUI();
    EXPECT_EQ(gui.window(), nullptr);
}

// A small lamp: a white square, glowing when lit, on a flat grey panel.
class Lamp final : public UIElement {
public:
    explicit Lamp(UIContext* context) : UIElement(context, ElementFlags::drawsPBR) {}
    std::uint8_t glow = 0;
    std::uint8_t white = 255;
    std::uint16_t height = 40000;
    void onDrawPBR(ImageView<RGBA> d, ImageView<L16> z, ImageView<RGBA> m,
                   const Vec<IntRect>& rects) override {
        for (const IntRect& r : rects) {
            fillBox(d, r, RGBA{white, white, white, glow});
            fillBox(z, r, L16{height});
            fillBox(m, r, RGBA{128, 0, 0, 255});
        }
    }
};
class Panel final : public TestGUI {
public:
    Panel() : TestGUI(200, 120) {
        lamp = addChild(heapNew<Lamp>(_context));
        lamp->setPosition(box(90, 50, 100, 60));
        onResize(200, 120);
    }
    void onDrawPBR(ImageView<RGBA> d, ImageView<L16> z, ImageView<RGBA> m,
                   const Vec<IntRect>& rects) override {
        for (const IntRect& r : rects) {
            fillBox(d, r, RGBA{90, 90, 90, 0});
            fillBox(z, r, L16{30000});
            fillBox(m, r, RGBA{200, 0, 0, 255});
        }
    }
    Lamp* lamp;
};

TEST(GUIGraphicsFrame, GlowBeyondTheLitMarginIsRedoneByTheNextFrame) {
    Panel partial, full;
    partial.setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();
    EXPECT_TRUE(partial.pendingLitRects().empty());  // a full frame leaves nothing behind
    EXPECT_TRUE(partial.pendingGlowRects().empty());
    partial.lamp->glow = 255;
    partial.lamp->setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();
    // Only the lamp's colour changed: its own pixels are lit, without the margin.
    EXPECT_EQ(toVector(partial.litRects()), std::vector<IntRect>{box(90, 50, 100, 60)});
    // The glow's coarsest level gathers 32 x 32 pixels: it reaches far past the margin. Only the
    // glow changed there (no depth did): nothing waits to be lit in full.
    EXPECT_TRUE(partial.pendingLitRects().empty());
    IntRect reach{};
    for (const IntRect& r : partial.pendingGlowRects()) {
        EXPECT_TRUE(r.intersection(box(90, 50, 100, 60)).empty());
        reach = reach.expandedBy(r);
    }
    EXPECT_LE(reach.min.x, 50);
    EXPECT_GE(reach.max.x, 140);
    // The next frame redoes the glow there without drawing any element or lighting anything in
    // full, shows it, and then all is as a full frame.
    const std::vector<IntRect> pending = toVector(partial.pendingGlowRects());
    partial.computeDirtyAreas();
    EXPECT_TRUE(partial.pbrRects().empty());
    EXPECT_TRUE(partial.litRects().empty());
    auto covered = [](const Vec<IntRect>& rects, std::int32_t x, std::int32_t y) {
        for (const IntRect& r : rects)
            if (r.contains(x, y)) return true;
        return false;
    };
    partial.drawFrame(PixelOrder::RGBA8);
    EXPECT_LE(totalArea(toVector(partial.glowRects())), totalArea(pending));  // just those (overlaps merged)
    for (const IntRect& r : pending)
        for (std::int32_t y = r.min.y; y < r.max.y; ++y)
            for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                ASSERT_TRUE(covered(partial.glowRects(), x, y)) << x << ", " << y;
                ASSERT_TRUE(covered(partial.shownRects(), x, y)) << x << ", " << y;
            }
    EXPECT_TRUE(partial.pendingLitRects().empty());
    EXPECT_TRUE(partial.pendingGlowRects().empty());
    full.lamp->glow = 255;
    full.setDirtyAll(DirtyLayer::fromFlags);
    full.frame();
    for (std::int32_t y = 0; y < 120; ++y)
        for (std::int32_t x = 0; x < 200; ++x)
            ASSERT_EQ(partial.litView().at(x, y), full.litView().at(x, y)) << x << ", " << y;
    // The lamp dimmed and raised in one frame: its depth reaches the occlusion levels, so what
    // they reach is lit in full by the next frame that draws nothing new, and only the rest of the
    // glow's reach has its glow redone; the two never overlap, and the result is that of a first
    // frame.
    partial.lamp->glow = 90;
    partial.lamp->height = 47000;
    partial.lamp->setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();
    EXPECT_FALSE(partial.deferredLitRects().empty());
    EXPECT_FALSE(partial.pendingGlowRects().empty());
    partial.frame();
    EXPECT_FALSE(partial.litRects().empty());
    EXPECT_FALSE(partial.glowRects().empty());
    for (const IntRect& g : partial.glowRects())
        for (const IntRect& l : partial.litRects()) EXPECT_TRUE(g.intersection(l).empty());
    Panel fresh;
    fresh.lamp->glow = 90;
    fresh.lamp->height = 47000;
    fresh.setDirtyAll(DirtyLayer::fromFlags);
    fresh.frame();
    for (std::int32_t y = 0; y < 120; ++y)
        for (std::int32_t x = 0; x < 200; ++x)
            ASSERT_EQ(partial.litView().at(x, y), fresh.litView().at(x, y)) << x << ", " << y;
    // Redrawn unchanged, the lamp changes no pixel: nothing is lit, nothing is left.
    partial.lamp->setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();
    EXPECT_TRUE(partial.litRects().empty());
    EXPECT_TRUE(partial.glowRects().empty());
    EXPECT_TRUE(partial.pendingLitRects().empty());
    EXPECT_TRUE(partial.pendingGlowRects().empty());
}

TEST(GUIGraphicsFrame, OnlyChangedPixelsAreLitAndAroundChangedDepthOnlyWhatReadsIt) {
    Panel partial;
    partial.setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();
    // The reference is a fresh editor's first frame (an editor drawn before narrows its frames too).
    auto matchesAFirstFrame = [&] {
        Panel fresh;
        fresh.lamp->white = partial.lamp->white;
        fresh.lamp->height = partial.lamp->height;
        fresh.setDirtyAll(DirtyLayer::fromFlags);
        fresh.frame();
        for (std::int32_t y = 0; y < 120; ++y)
            for (std::int32_t x = 0; x < 200; ++x)
                if (!(partial.litView().at(x, y) == fresh.litView().at(x, y))) return false;
        return true;
    };
    // A colour change without glow: the lamp's own pixels, nothing around, nothing left.
    partial.lamp->white = 100;
    partial.lamp->setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();
    EXPECT_EQ(toVector(partial.litRects()), std::vector<IntRect>{box(90, 50, 100, 60)});
    EXPECT_TRUE(partial.pendingLitRects().empty());
    EXPECT_TRUE(matchesAFirstFrame());
    // A depth change: the pixels whose normals and cast shadows read it, 10 to either side, 1
    // above and 10 below (not the whole margin of 20); what the occlusion levels reach beyond,
    // by the next frame that draws nothing new.
    partial.lamp->height = 45000;
    partial.lamp->setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();
    EXPECT_EQ(toVector(partial.litRects()), std::vector<IntRect>{box(80, 49, 110, 70)});
    EXPECT_TRUE(partial.pendingLitRects().empty());
    EXPECT_FALSE(partial.deferredLitRects().empty());
    for (int i = 0; i < 2; ++i) partial.frame();
    EXPECT_TRUE(partial.deferredLitRects().empty());
    EXPECT_TRUE(matchesAFirstFrame());
    // While the lamp keeps changing its occlusion waits, and is relit after kMaxDeferredFrames.
    for (int i = 0; i < renderparts::kMaxDeferredFrames; ++i) {
        partial.lamp->height = static_cast<std::uint16_t>(44000 + 100 * i);
        partial.lamp->setDirtyAll(DirtyLayer::fromFlags);
        partial.frame();
        EXPECT_FALSE(partial.deferredLitRects().empty()) << i;
    }
    partial.lamp->height = 45000;
    partial.lamp->setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();  // lights the lamp's reach and all that waited
    EXPECT_GT(totalArea(toVector(partial.litRects())), 30 * 21);
    partial.frame();
    EXPECT_TRUE(matchesAFirstFrame());
    // With a margin below that reach, the lit area stays inside the margin (the frame shows no
    // more).
    partial.setLitMargin(4);
    partial.lamp->height = 41000;
    partial.lamp->setDirtyAll(DirtyLayer::fromFlags);
    partial.frame();
    EXPECT_EQ(toVector(partial.litRects()), std::vector<IntRect>{box(86, 49, 104, 64)});
}

// Paints every pixel from its window position alone (colour, depth and a glow that vary), and
// records the rectangles of every call; it may draw in parts.
class Pattern final : public UIElement {
public:
    Pattern(UIContext* context, bool inParts)
        : UIElement(context, ElementFlags::drawsPBR), inParts_(inParts) {}
    bool drawsInParts() const noexcept override { return inParts_; }
    void onDrawPBR(ImageView<RGBA> d, ImageView<L16> z, ImageView<RGBA> m,
                   const Vec<IntRect>& rects) override {
        std::vector<IntRect> call(rects.begin(), rects.end());
        for (const IntRect& r : rects)
            for (std::int32_t y = r.min.y; y < r.max.y; ++y)
                for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                    const IntPoint p = at(x, y);
                    d.at(x, y) = colourAt(p.x, p.y);
                    z.at(x, y) = L16{static_cast<std::uint16_t>(30000 + 97 * ((p.x * 7 + p.y * 13) % 211))};
                    m.at(x, y) = RGBA{static_cast<std::uint8_t>(p.y * 3), 0, 0, 255};
                }
        const std::lock_guard<std::mutex> lock(mutex_);
        calls.push_back(std::move(call));
    }
    static RGBA colourAt(std::int32_t x, std::int32_t y) {
        return RGBA{static_cast<std::uint8_t>(x * 5), static_cast<std::uint8_t>(y * 3),
                    static_cast<std::uint8_t>(x + y),
                    static_cast<std::uint8_t>((x / 16 + y / 16) % 3 == 0 ? 200 : 0)};
    }
    std::vector<std::vector<IntRect>> calls;

private:
    IntPoint at(std::int32_t x, std::int32_t y) const {
        return IntPoint{_position.min.x + _drawOffset.x + x, _position.min.y + _drawOffset.y + y};
    }
    bool inParts_;
    std::mutex mutex_;
};

// A large dirty area of an element that draws in parts is shared out between the threads in
// bands that cover it exactly once; an element that does not is drawn in one call; the layers
// and the lighting are the same bytes as drawing and lighting everything on one thread.
TEST(GUIGraphicsFrame, LargeAreasAreSharedOutInPartsThatGiveTheSameBytes) {
    TestGUI gui(300, 200);
    auto* shared = gui.addChild(heapNew<Pattern>(&gui.uiContext(), true));
    shared->setPosition(box(-20, 10, 230, 190));  // reaches past the window's left edge
    auto* whole = gui.addChild(heapNew<Pattern>(&gui.uiContext(), false));
    whole->setPosition(box(240, 10, 300, 150));
    gui.onResize(300, 200);
    gui.setDirtyAll(DirtyLayer::fromFlags);
    gui.frame();
    ASSERT_EQ(whole->calls.size(), 1u);
    EXPECT_EQ(whole->calls[0], std::vector<IntRect>{box(0, 0, 60, 140)});
    const bool helped = WorkCrew::helperCount(gui.threadPool().threadCount(), processorCount()) > 0;
    EXPECT_EQ(shared->calls.size() > 1, helped);
    std::vector<int> cover(230 * 180, 0);
    for (const std::vector<IntRect>& call : shared->calls)
        for (const IntRect& r : call)
            for (std::int32_t y = r.min.y; y < r.max.y; ++y)
                for (std::int32_t x = r.min.x; x < r.max.x; ++x)
                    ++cover[static_cast<std::size_t>(y * 230 + x)];
    for (std::size_t i = 0; i < cover.size(); ++i) ASSERT_EQ(cover[i], 1) << i % 230 << ", " << i / 230;
    for (std::int32_t y = 10; y < 190; ++y)
        for (std::int32_t x = 0; x < 230; ++x)
            ASSERT_EQ(gui.diffusePyramid().level(0).view().at(x, y), Pattern::colourAt(x, y))
                << x << ", " << y;
    // The lit image against the compositor run over the window's 128 x 128 tiles on this thread.
    OwnedImage<RGBA> reference(300, 200);
    for (std::int32_t y = 0; y < 200; y += GUIGraphics::kTileSize)
        for (std::int32_t x = 0; x < 300; x += GUIGraphics::kTileSize)
            gui.compositor().lightTile(reference.view(), PixelOrder::RGBA8,
                                       box(x, y, std::min(x + GUIGraphics::kTileSize, 300),
                                           std::min(y + GUIGraphics::kTileSize, 200)),
                                       gui.diffusePyramid(), gui.materialPyramid(), gui.depthPyramid(),
                                       *gui.uiContext().skybox);
    for (std::int32_t y = 0; y < 200; ++y)
        for (std::int32_t x = 0; x < 300; ++x)
            ASSERT_EQ(gui.litView().at(x, y), reference.view().at(x, y)) << x << ", " << y;
}

// Paints its raw rectangles from the window position alone and counts the pixels it was given.
class RawPattern final : public UIElement {
public:
    explicit RawPattern(UIContext* context) : UIElement(context, ElementFlags::drawsRaw) {}
    void onDrawRaw(ImageView<RGBA> raw, const Vec<IntRect>& rects) override {
        for (const IntRect& r : rects) {
            pixels += static_cast<std::int64_t>(r.width()) * r.height();
            for (std::int32_t y = r.min.y; y < r.max.y; ++y)
                for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                    const std::int32_t wx = _position.min.x + _drawOffset.x + x,
                                       wy = _position.min.y + _drawOffset.y + y;
                    raw.at(x, y) = RGBA{static_cast<std::uint8_t>(wx), static_cast<std::uint8_t>(wy), 7, 0};
                }
        }
    }
    std::atomic<std::int64_t> pixels{0};
};

// A raw change away from the frame's lighting is shown while the frame lights, the rest after it:
// every shown pixel is drawn and converted exactly once (a second conversion would swap the
// channels back).
TEST(GUIGraphicsFrame, TheShownAreaAwayFromTheLightingIsDrawnOnceAndConvertedOnce) {
    TestGUI gui(200, 100);
    auto* lit = gui.addChild(heapNew<Repainted>(&gui.uiContext()));
    lit->setPosition(box(10, 10, 60, 60));
    auto* raw = gui.addChild(heapNew<RawPattern>(&gui.uiContext()));
    raw->setPosition(box(80, 0, 200, 100));  // beside the lit area
    gui.onResize(200, 100);
    gui.setDirtyAll(DirtyLayer::fromFlags);
    gui.frame();
    gui.setLitMargin(4);
    raw->pixels = 0;
    lit->setDirtyAll(DirtyLayer::fromFlags);
    raw->setDirtyAll(DirtyLayer::rawLayerOnly);
    gui.computeDirtyAreas();
    gui.drawFrame(PixelOrder::BGRA8);
    EXPECT_EQ(toVector(gui.litRects()), std::vector<IntRect>{box(10, 10, 60, 60)});
    std::int64_t rawShown = 0;
    for (const IntRect& r : gui.shownRects()) {
        const IntRect c = r.intersection(box(80, 0, 200, 100));
        rawShown += static_cast<std::int64_t>(c.width()) * c.height();
    }
    EXPECT_EQ(raw->pixels.load(), rawShown);
    for (const IntRect& r : gui.shownRects())
        for (std::int32_t y = r.min.y; y < r.max.y; ++y)
            for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                const RGBA source =
                    x >= 80 ? RGBA{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7, 0}
                            : gui.litView().at(x, y);
                ASSERT_EQ(gui.shownView().at(x, y), (RGBA{source.b, source.g, source.r, 255}))
                    << x << ", " << y;
            }
}

TEST(GUIGraphicsFrame, SteadyFrameAllocatesNothing) {
    DemoScene scene(160, 120);
    scene.setWindowFactory(&HeadlessWindow::create);
    scene.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
    auto& window = *static_cast<HeadlessWindow*>(scene.window());
    window.paint();
    window.tick();  // the first full frame
    for (int i = 0; i < 3; ++i) {
        scene.smallElement()->setDirtyAll(DirtyLayer::fromFlags);
        scene.setDirty(DirtyLayer::rawLayerOnly, box(3, 3, 20, 20));
        window.tick();
    }
    const int paints = window.paintCount();
    test::RealtimeProbe probe;
    scene.smallElement()->setDirtyAll(DirtyLayer::fromFlags);
    scene.setDirty(DirtyLayer::rawLayerOnly, box(3, 3, 20, 20));
    window.tick();
    scene.setDirtyAll(DirtyLayer::fromFlags);
    window.tick();
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(window.paintCount(), paints + 2);
}

}  // namespace
}  // namespace korvo
