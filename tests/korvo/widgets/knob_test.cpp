// Knobs through the headless window with real input sequences.
#include "korvo/widgets/knob.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "korvo/widgets/paint.h"
#include "tests/korvo/widgets/widget_test_util.h"
#include "tests/support/realtime.h"

namespace korvo {
namespace {

using test::Harness;
using test::WidgetClient;

// A knob of 40 x 80 (the square is 40 x 40, centred vertically) at (20, 10) on a 100 x 100 panel.
struct KnobRig {
    explicit KnobRig(FloatParameter* p = nullptr) : h(100, 100) {
        knob = h.panel.addChild(makeHeap<UIKnob>(&h.panel.uiContext(), p != nullptr ? p : &client.linear()));
        knob->setPosition(IntRect{{20, 10}, {60, 90}});
        h.open();
    }
    // Element centre in window pixels.
    int cx() const { return 20 + 20; }
    int cy() const { return 10 + 40; }
    WidgetClient client;
    Harness h;
    UIKnob* knob = nullptr;
};

// The window pixel in the middle of the trail ring at a screen angle (0 = right, clockwise).
IntPoint trailPoint(const UIKnob& k, double angle) {
    const float s = k.squareSide();
    const double r = (k.trailRadiusMin + k.trailRadiusMax) * s * 0.25;
    return IntPoint{k.position().min.x + static_cast<int>(std::lround(k.centerX() + std::cos(angle) * r)),
                    k.position().min.y + static_cast<int>(std::lround(k.centerY() + std::sin(angle) * r))};
}

MouseState leftHeld(bool ctrl = false, bool shift = false, bool alt = false) {
    MouseState s;
    s.left = true;
    s.ctrl = ctrl;
    s.shift = shift;
    s.alt = alt;
    return s;
}

TEST(UIKnobDrag, PixelsMoveTheValueByHeightAndSensitivityAndClampAtTheEnds) {
    KnobRig rig;
    auto& w = *rig.h.window;
    auto& p = rig.client.linear();  // -100..100, default 0 (normalized 0.5)
    w.mouseMove(rig.cx(), rig.cy());
    ASSERT_TRUE(w.mouseDown(MouseButton::left, leftHeld()));
    w.mouseMove(rig.cx(), rig.cy() - 16, leftHeld());  // 16 px up on an 80 px element, sensitivity 0.25
    EXPECT_NEAR(p.getNormalized(), 0.5 + 16.0 / 80.0 * 0.25, 1e-12);
    w.mouseMove(rig.cx(), rig.cy() - 16 + 8, leftHeld(true));  // Ctrl: a tenth
    EXPECT_NEAR(p.getNormalized(), 0.55 - 8.0 / 80.0 * 0.25 * 0.1, 1e-12);
    w.mouseMove(rig.cx(), rig.cy() + 4, leftHeld(false, true));  // Shift: a tenth too
    EXPECT_NEAR(p.getNormalized(), 0.5475 - 12.0 / 80.0 * 0.25 * 0.1, 1e-12);
    // Far past the top end: pinned at 1.
    w.mouseMove(rig.cx(), rig.cy() - 400, leftHeld());
    EXPECT_EQ(p.getNormalized(), 1.0);
    const int pinnedAt = rig.cy() - 400;
    // Further up and back down to just above the pin height: nothing moves.
    w.mouseMove(rig.cx(), pinnedAt - 50, leftHeld());
    w.mouseMove(rig.cx(), pinnedAt - 1, leftHeld());
    EXPECT_EQ(p.getNormalized(), 1.0);
    // Below the pin height, only that step counts (not the travel above it).
    w.mouseMove(rig.cx(), pinnedAt + 7, leftHeld());
    EXPECT_NEAR(p.getNormalized(), 1.0 - 8.0 / 80.0 * 0.25, 1e-12);
    w.mouseMove(rig.cx(), rig.cy() + 1000, leftHeld());
    EXPECT_EQ(p.getNormalized(), 0.0);
    w.mouseUp(MouseButton::left);
    EXPECT_EQ(rig.knob->lastZeroCrossY, std::numeric_limits<float>::infinity());
}

TEST(UIKnobDrag, DoubleClickAltClickAndAltDragResetToTheDefault) {
    KnobRig rig;
    auto& w = *rig.h.window;
    auto& p = rig.client.linear();
    p.setNormalizedFromHost(0.9);
    w.mouseMove(rig.cx(), rig.cy());
    ASSERT_TRUE(w.mouseDown(MouseButton::left, leftHeld(), true));
    EXPECT_EQ(p.value(), 0.0);
    w.mouseUp(MouseButton::left);
    p.setNormalizedFromHost(0.1);
    MouseState alt = leftHeld(false, false, true);
    ASSERT_TRUE(w.mouseDown(MouseButton::left, alt));
    EXPECT_EQ(p.value(), 0.0);
    w.mouseMove(rig.cx(), rig.cy() - 30, leftHeld());
    EXPECT_GT(p.getNormalized(), 0.5);
    w.mouseMove(rig.cx(), rig.cy() - 31, alt);
    EXPECT_EQ(p.getNormalized(), 0.5);
    w.mouseUp(MouseButton::left);
}

TEST(UIKnobDrag, HostSeesBeginPerformsEndAndNothingWithoutAGesture) {
    KnobRig rig;
    auto& w = *rig.h.window;
    auto& edits = rig.client.recorder;
    // Hover, clicks in the element's corners (outside the inscribed circle), animation: no edits.
    w.mouseMove(rig.cx(), rig.cy());
    w.mouseMove(21, 11);
    EXPECT_FALSE(w.click(21, 11));
    EXPECT_FALSE(w.click(58, 88));
    rig.h.ticks(5);
    EXPECT_EQ(edits.kinds(), "");
    // One drag: begin, one perform per change, end, all for this parameter's index.
    w.mouseMove(rig.cx(), rig.cy());
    w.mouseDown(MouseButton::left, leftHeld());
    w.mouseMove(rig.cx(), rig.cy() - 4, leftHeld());
    w.mouseMove(rig.cx() + 3, rig.cy() - 4, leftHeld());  // no vertical travel: no change
    w.mouseMove(rig.cx(), rig.cy() - 9, leftHeld());
    w.mouseUp(MouseButton::left);
    EXPECT_EQ(edits.kinds(), "bppe");
    for (const auto& e : edits.edits) EXPECT_EQ(e.index, WidgetClient::kLinear);
    EXPECT_FLOAT_EQ(edits.edits[2].value, static_cast<float>(rig.client.linear().getNormalized()));
    // A double click opens its own reset gesture before the drag's.
    edits.edits.clear();
    w.mouseDown(MouseButton::left, leftHeld(), true);
    w.mouseUp(MouseButton::left);
    EXPECT_EQ(edits.kinds(), "bpebe");
}

TEST(UIKnobHostValues, NonFiniteAndOutOfRangeValuesDrawInsideTheElementAndNeverReachTheParameter) {
    test::HostileParameter hostile;
    Harness h(100, 100);
    auto* knob = h.panel.addChild(makeHeap<PanKnob>(&h.panel.uiContext(), &hostile));
    knob->setPosition(IntRect{{30, 30}, {70, 70}});
    knob->trailRadiusMax = 1.6f;  // trails reaching past the element must still be clipped to it
    knob->trailOffsetX = 3.0f;
    auto& w = h.open();
    const double values[] = {std::nan(""),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             -3.0,
                             7.0,
                             1e300};
    for (double v : values) {
        hostile.shown = v;
        hostile.notifyListeners();
        w.tick();
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                if (knob->position().contains(x, y)) continue;
                ASSERT_EQ(h.diffuseAt(x, y), test::TestPanel::kBackground) << v << " at " << x << "," << y;
                ASSERT_EQ(h.depthAt(x, y), test::TestPanel::kBackgroundDepth);
            }
        w.mouseMove(50, 50);
        w.mouseDown(MouseButton::left, leftHeld());
        w.mouseMove(50, 45, leftHeld());
        w.mouseMove(50, 47, leftHeld(true));
        w.mouseUp(MouseButton::left);
    }
    for (double n : hostile.received) EXPECT_TRUE(n >= 0.0 && n <= 1.0) << n;
    // A NaN sensitivity cannot write either.
    hostile.received.clear();
    hostile.shown = 0.5;
    knob->setSensitivity(std::nanf(""));
    w.mouseDown(MouseButton::left, leftHeld());
    w.mouseMove(50, 40, leftHeld());
    w.mouseUp(MouseButton::left);
    EXPECT_TRUE(hostile.received.empty());
}

TEST(UIKnobHostValues, AutomationOnTheAudioThreadOnlyRecordsAndTheNextTickRedraws) {
    KnobRig rig;
    auto& p = rig.client.linear();
    rig.knob->trailRadiusMin = 0.6f;
    rig.knob->setDirtyAll(DirtyLayer::fromFlags);
    rig.h.window->tick();
    const IntPoint nearMax = trailPoint(*rig.knob, 2.15 * 3.141592653589793);
    const RGBA trailBefore = rig.h.diffuseAt(nearMax.x, nearMax.y);
    test::RealtimeProbe probe;
    p.setNormalizedFromHost(1.0);  // what the adapter does inside process()
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    EXPECT_EQ(rig.h.panel.uiContext().dirtyListPBR.length(), 0u);  // nothing marked off the editor thread
    rig.h.window->tick();
    EXPECT_NE(rig.h.diffuseAt(nearMax.x, nearMax.y), trailBefore);  // the lit trail now reaches 1
    EXPECT_EQ(rig.h.diffuseAt(nearMax.x, nearMax.y), rig.knob->litTrailDiffuse);
}

// A host write while the window is closed is in the first frame of the next window.
TEST(UIKnobHostValues, AValueSetWhileTheWindowWasClosedIsInTheFirstFrame) {
    KnobRig rig;
    rig.knob->trailRadiusMin = 0.6f;
    rig.h.panel.closeUI();
    rig.client.linear().setNormalizedFromHost(1.0);
    rig.h.panel.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
    rig.h.window = static_cast<HeadlessWindow*>(rig.h.panel.window());
    rig.h.window->paint();  // the window's size
    rig.h.panel.windowListener()->computeDirtyAreas();
    rig.h.window->invalidate(rig.h.panel.windowListener()->dirtyBounds());
    rig.h.window->paint();  // the first frame, no tick
    const IntPoint nearMax = trailPoint(*rig.knob, 2.15 * 3.141592653589793);
    EXPECT_EQ(rig.h.diffuseAt(nearMax.x, nearMax.y), rig.knob->litTrailDiffuse);
}

// A drag or a key is drawn by the frame that follows its event, not a tick later: the editor's own edits
// mark the knob at once (host writes, which may come on the audio thread, still wait for a tick).
TEST(UIKnobHostValues, AnEditorEditIsDrawnByTheFrameAfterItsMove) {
    KnobRig rig;
    rig.knob->trailRadiusMin = 0.6f;
    rig.h.window->mouseMove(rig.cx(), rig.cy());
    rig.h.window->mouseDown(MouseButton::left);
    rig.h.ticks(30);  // the press animation over
    const auto knobPixels = [&] {
        std::vector<RGBA> v;
        for (std::int32_t y = 10; y < 90; ++y)
            for (std::int32_t x = 20; x < 60; ++x) v.push_back(rig.h.diffuseAt(x, y));
        return v;
    };
    const std::vector<RGBA> before = knobPixels();
    rig.h.window->mouseMove(rig.cx(), rig.cy() - 40, leftHeld());
    EXPECT_NE(knobPixels(), before);  // drawn with no tick in between
    const std::vector<RGBA> moved = knobPixels();
    rig.h.window->tick();
    EXPECT_EQ(knobPixels(), moved);  // nothing was left for the tick
    rig.h.window->mouseUp(MouseButton::left);
    rig.h.ticks(30);
    // A key press on the knob: the same.
    const std::vector<RGBA> released = knobPixels();
    EXPECT_TRUE(rig.h.window->keyDown(Key::pageUp));
    EXPECT_NE(knobPixels(), released);
}

TEST(UIKnobDrawing, TrailsLedsAndAlternateColourFollowTheValue) {
    WidgetClient client;
    Harness h(120, 60);
    auto* knob = h.panel.addChild(makeHeap<UIKnob>(&h.panel.uiContext(), &client.linear()));
    knob->setPosition(IntRect{{10, 10}, {110, 50}});  // wide box: the knob sits in the middle 40 x 40
    knob->trailBaseAngle = 0.0f;                      // base at twelve o'clock
    knob->hasAlternateTrail = true;
    knob->litTrailDiffuse = RGBA{192, 245, 255, 255};
    knob->litTrailDiffuseAlt = RGBA{255, 190, 80, 255};
    knob->unlitTrailDiffuse = RGBA{0, 0, 0, 0};
    knob->numLEDs = 0;
    knob->trailRadiusMin = 0.6f;
    client.linear().setNormalizedFromHost(0.5);  // value at the base: no lit arc
    auto& w = h.open();
    constexpr double kPi = 3.141592653589793;
    const IntPoint leftOfTop = trailPoint(*knob, 1.3 * kPi), rightOfTop = trailPoint(*knob, 1.7 * kPi);
    EXPECT_EQ(h.diffuseAt(leftOfTop.x, leftOfTop.y), (RGBA{0, 0, 0, 0}));
    EXPECT_EQ(h.diffuseAt(rightOfTop.x, rightOfTop.y), (RGBA{0, 0, 0, 0}));
    client.linear().setNormalizedFromHost(0.1);  // left of the top: amber
    w.tick();
    EXPECT_EQ(h.diffuseAt(leftOfTop.x, leftOfTop.y), (RGBA{255, 190, 80, 255}));
    EXPECT_EQ(h.diffuseAt(rightOfTop.x, rightOfTop.y), (RGBA{0, 0, 0, 0}));
    client.linear().setNormalizedFromHost(0.9);  // right of the top: cyan
    w.tick();
    EXPECT_EQ(h.diffuseAt(rightOfTop.x, rightOfTop.y), (RGBA{192, 245, 255, 255}));
    EXPECT_EQ(h.diffuseAt(leftOfTop.x, leftOfTop.y), (RGBA{0, 0, 0, 0}));
    // Nothing outside the square's trail ring: the box's left and right parts stay background.
    for (int y = 10; y < 50; ++y) {
        EXPECT_EQ(h.diffuseAt(12, y), test::TestPanel::kBackground);
        EXPECT_EQ(h.diffuseAt(107, y), test::TestPanel::kBackground);
    }
    // One LED, centred at 0.8 R in the direction of the value; none when numLEDs is 0.
    const double a = knob->getValueAngle();
    const float rho = 0.8f * knob->discRadius();
    const int lx = 10 + static_cast<int>(std::lround(knob->centerX() + std::cos(a) * rho));
    const int ly = 10 + static_cast<int>(std::lround(knob->centerY() + std::sin(a) * rho));
    const RGBA noLed = h.diffuseAt(lx, ly);
    knob->numLEDs = 1;
    knob->LEDRadiusMax = 0.25f;
    knob->LEDDiffuseUnlit = RGBA{255, 0, 255, 99};
    knob->setDirtyAll(DirtyLayer::fromFlags);
    w.tick();
    const RGBA led = h.diffuseAt(lx, ly);
    EXPECT_NE(led, noLed);
    EXPECT_GT(led.r, 200);
    EXPECT_LT(led.g, 120);
    EXPECT_GT(led.a, 50);
}

}  // namespace
}  // namespace korvo

namespace korvo {
namespace {

// The arc painted pixel by pixel with the exact angle of every pixel (the plain form of
// knobpaint::arcFill, which decides most pixels from a rough angle).
void plainArcFill(ImageView<RGBA> map, IntRect box, float cx, float cy, float r0, float r1, double start,
                  double stop, RGBA color) {
    constexpr double kTwoPi = 6.283185307179586;
    if (!(start != stop)) return;
    if (start > stop) stop += kTwoPi;
    if (start < -3.141592653589793 || stop < -3.141592653589793) {
        start += kTwoPi;
        stop += kTwoPi;
    }
    for (std::int32_t y = box.min.y; y < box.max.y; ++y)
        for (std::int32_t x = box.min.x; x < box.max.x; ++x) {
            const float dx = static_cast<float>(x) - cx, dy = static_cast<float>(y) - cy;
            const float d = std::sqrt(dx * dx + dy * dy);
            if (!(d >= r0 && d < r1)) continue;
            float coverage = d > r1 - 1.0f ? r1 - d : (d < r0 + 1.0f ? d - r0 : 1.0f);
            double a = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
            if (a < start || a > stop) a += kTwoPi;
            if (a < start || a > stop) continue;
            const double w = 1.0 / static_cast<double>(d);
            if (a < start + w)
                coverage *= static_cast<float>((a - start) / w);
            else if (a + w > stop)
                coverage *= static_cast<float>((stop - a) / w);
            widgets::blendCoverage(map.at(x, y), color, coverage);
        }
}

// Arcs of every kind (both ends anywhere, across the +-pi seam, start after stop, nearly full
// turns, thin and thick rings, centres between pixels, clipped by the box): the same bytes.
TEST(UIKnobDrawing, ArcsMatchThePixelByPixelFormWithExactAngles) {
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0;
    };
    auto painted = makeHeap<OwnedImage<RGBA>>(120, 100), plain = makeHeap<OwnedImage<RGBA>>(120, 100);
    for (int i = 0; i < 300; ++i) {
        const float cx = static_cast<float>(20.0 + 80.0 * next()),
                    cy = static_cast<float>(20.0 + 60.0 * next());
        const float r0 = static_cast<float>(40.0 * next()), r1 = r0 + static_cast<float>(1.0 + 20.0 * next());
        const double start = -4.0 + 9.0 * next(), stop = i % 5 == 0 ? start + 6.28 : -4.0 + 9.0 * next();
        const RGBA color{static_cast<std::uint8_t>(i), 200, 40, static_cast<std::uint8_t>(255 - i % 200)};
        fill(painted->view(), RGBA{10, 20, 30, 40});
        fill(plain->view(), RGBA{10, 20, 30, 40});
        const IntRect box = i % 3 == 0 ? IntRect{{15, 10}, {90, 70}} : IntRect{{0, 0}, {120, 100}};
        knobpaint::arcFill(painted->view(), box, IntPoint{0, 0}, cx, cy, r0, r1, start, stop, color);
        plainArcFill(plain->view(), box, cx, cy, r0, r1, start, stop, color);
        for (std::int32_t y = 0; y < 100; ++y)
            for (std::int32_t x = 0; x < 120; ++x)
                ASSERT_EQ(painted->view().at(x, y), plain->view().at(x, y))
                    << "arc " << i << " at " << x << ", " << y;
    }
}

}  // namespace
}  // namespace korvo
