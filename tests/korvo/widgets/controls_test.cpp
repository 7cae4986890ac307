// Sliders, switches and value hints through the headless window.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "korvo/widgets/onoffswitch.h"
#include "korvo/widgets/paramhint.h"
#include "korvo/widgets/slider.h"
#include "korvo_resources_resources.h"
#include "tests/korvo/widgets/widget_test_util.h"
#include "tests/support/realtime.h"

namespace korvo {
namespace {

using test::Harness;
using test::WidgetClient;

MouseState held(bool ctrl = false, bool alt = false) {
    MouseState s;
    s.left = true;
    s.ctrl = ctrl;
    s.alt = alt;
    return s;
}

TEST(UISlider, DragFollowsHeightAndSensitivityAndIntegerParametersMoveInWholeSteps) {
    WidgetClient client;
    Harness h(80, 220);
    auto* fader = h.panel.addChild(makeHeap<UISlider>(&h.panel.uiContext(), &client.linear()));
    fader->setPosition(IntRect{{10, 10}, {40, 210}});  // 200 px tall
    fader->setSensitivity(0.5f);
    auto* stepped = h.panel.addChild(makeHeap<UISlider>(&h.panel.uiContext(), &client.wave()));  // 0..4
    stepped->setPosition(IntRect{{45, 10}, {75, 210}});
    auto& w = h.open();
    w.mouseMove(25, 100);
    w.mouseDown(MouseButton::left, held());
    w.mouseMove(25, 60, held());  // 40 px up: 40 / 200 * 0.5
    EXPECT_NEAR(client.linear().getNormalized(), 0.5 + 0.1, 1e-12);
    w.mouseMove(25, 70, held(true));  // Ctrl: a tenth
    EXPECT_NEAR(client.linear().getNormalized(), 0.6 - 0.0025, 1e-12);
    w.mouseMove(25, -1000, held());
    EXPECT_EQ(client.linear().getNormalized(), 1.0);
    w.mouseUp(MouseButton::left);

    // Integer: one step is 0.25; moves of 20 px (0.1 each) add up before a step is taken.
    w.mouseMove(60, 150);
    w.mouseDown(MouseButton::left, held());
    w.mouseMove(60, 130, held());
    EXPECT_EQ(client.wave().value(), 0);
    w.mouseMove(60, 110, held());
    EXPECT_EQ(client.wave().value(), 0);
    w.mouseMove(60, 90, held());  // 0.3 accumulated: one step
    EXPECT_EQ(client.wave().value(), 1);
    w.mouseMove(60, 10, held());  // 0.05 left over + 0.4: one more step
    EXPECT_EQ(client.wave().value(), 2);
    w.mouseUp(MouseButton::left);
    EXPECT_EQ(client.recorder.kinds(), "bpppebppe");  // one perform per change, no step no perform
}

TEST(UISlider, ClicksResetAndEditsAreBracketedAndTheHandleFollowsTheValue) {
    WidgetClient client;
    Harness h(60, 120);
    auto* fader = h.panel.addChild(makeHeap<UISlider>(&h.panel.uiContext(), &client.logarithmic()));
    fader->setPosition(IntRect{{10, 10}, {40, 110}});
    auto& w = h.open();
    client.logarithmic().setNormalizedFromHost(1.0);
    w.tick();
    const IntRect top = fader->handleBox(1.0, 0.0f).translated(10, 10);
    EXPECT_EQ(top.min.y, 10);
    EXPECT_EQ(h.materialAt(25, top.min.y + 2), fader->handleMaterial);
    client.recorder.edits.clear();
    w.mouseMove(25, 100);
    w.mouseDown(MouseButton::left, held(), true);  // double click: reset, then a drag starts
    w.mouseUp(MouseButton::left);
    EXPECT_EQ(client.logarithmic().value(), client.logarithmic().defaultValue());
    EXPECT_EQ(client.recorder.kinds(), "bpebe");
    w.tick();
    const IntRect atDefault = fader->handleBox(client.logarithmic().getNormalized(), 0.0f).translated(10, 10);
    EXPECT_EQ(h.materialAt(25, atDefault.min.y + 2), fader->handleMaterial);
    EXPECT_NE(h.materialAt(25, top.min.y + 2), fader->handleMaterial);
}

TEST(UIOnOffSwitch, ClickTogglesAltClickSetsTheDefaultAndTheFaceRocks) {
    WidgetClient client;
    Harness h(60, 40);
    auto* sw = h.panel.addChild(makeHeap<UIOnOffSwitch>(&h.panel.uiContext(), &client.toggle()));
    sw->setPosition(IntRect{{10, 5}, {50, 35}});
    sw->depthLow = 10000;
    sw->depthHigh = 30000;
    auto& w = h.open();
    const IntRect face = sw->faceBox().translated(10, 5);
    const std::uint16_t topOff = h.depthAt(25, face.min.y), bottomOff = h.depthAt(25, face.max.y - 1);
    EXPECT_GT(topOff, bottomOff);  // off: high at the top
    EXPECT_TRUE(w.click(30, 20));
    EXPECT_TRUE(client.toggle().value());
    EXPECT_EQ(client.recorder.kinds(), "bpe");
    EXPECT_EQ(client.recorder.edits[1].value, 1.0f);
    h.ticks(60);
    EXPECT_LT(h.depthAt(25, face.min.y), h.depthAt(25, face.max.y - 1));  // on: rocked the other way
    EXPECT_EQ(h.depthAt(11, 6), 0);                                       // the hole around the face
    MouseState alt;
    alt.alt = true;
    w.mouseMove(30, 20);
    EXPECT_TRUE(w.mouseDown(MouseButton::left, alt));
    w.mouseUp(MouseButton::left);
    EXPECT_FALSE(client.toggle().value());  // the default, not a toggle
    w.mouseDown(MouseButton::left, alt);
    w.mouseUp(MouseButton::left);
    EXPECT_FALSE(client.toggle().value());
}

TEST(UISlider, HostValuesThatAreNotNumbersOrOutOfRangeDrawInsideAndNeverReachTheParameter) {
    test::HostileParameter hostile;
    Harness h(60, 120);
    auto* fader = h.panel.addChild(makeHeap<UISlider>(&h.panel.uiContext(), &hostile));
    fader->setPosition(IntRect{{20, 10}, {40, 110}});
    auto& w = h.open();
    for (double v : {std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), -2.0, 9.0}) {
        hostile.shown = v;
        hostile.notifyListeners();
        w.tick();
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 60; ++x)
                if (!fader->position().contains(x, y)) {
                    ASSERT_EQ(h.depthAt(x, y), test::TestPanel::kBackgroundDepth) << v;
                }
        w.mouseMove(30, 60);
        w.mouseDown(MouseButton::left, held());
        w.mouseMove(30, 50, held());
        w.mouseUp(MouseButton::left);
    }
    for (double n : hostile.received) EXPECT_TRUE(n >= 0.0 && n <= 1.0) << n;
}

Font& lato() {
    static Font font(resources::Lato_Semibold_ttf, resources::Lato_Semibold_ttf_size);
    return font;
}

TEST(UIParamHint, StaysWhileChangesKeepComingAndFadesOutAfterTheHoldOverTheFadeTime) {
    WidgetClient client;
    Harness h(80, 40);
    auto* hint = h.panel.addChild(makeHeap<UIParamHint>(&h.panel.uiContext(), &client.gain(), &lato()));
    hint->setPosition(IntRect{{20, 10}, {60, 32}});
    auto& w = h.open();
    EXPECT_EQ(hint->visibility, 0.0f);
    // A change every 0.3 s for 3 s: fully visible after the fade-in (0.15 s) and all along.
    double t = 0.0;
    int tick = 0;
    for (; t < 3.0; t += 0.015, ++tick) {
        if (tick % 20 == 0) client.gain().setNormalizedFromHost(0.5 + 0.001 * tick);
        w.tick();
        if (t > 0.2) {
            ASSERT_EQ(hint->visibility, 1.0f) << t;
        }
    }
    // The last change was at the tick with tick % 20 == 0 before the loop ended; count from it.
    const int lastChange = ((tick - 1) / 20) * 20;
    double sinceLast = (tick - lastChange) * 0.015;
    for (; sinceLast < 0.84; sinceLast += 0.015) {
        w.tick();
        ASSERT_EQ(hint->visibility, 1.0f) << sinceLast;
    }
    // After 0.85 s the fade takes 0.3 s (20 ticks of 15 ms).
    int fadeTicks = 0;
    while (hint->visibility > 0.0f && fadeTicks < 100) {
        w.tick();
        ++fadeTicks;
    }
    EXPECT_GE(fadeTicks, 20);
    EXPECT_LE(fadeTicks, 22);
    EXPECT_STREQ(hint->text(), [&] {
        static char expected[160];
        char value[64];
        client.gain().formatValue(value, sizeof value);
        std::snprintf(expected, sizeof expected, "%s dB", value);
        return expected;
    }());
}

TEST(UIParamHint, AGestureHoldsTheHintAndNotificationsOnTheAudioThreadOnlySetFlags) {
    WidgetClient client;
    Harness h(80, 40);
    auto* hint = h.panel.addChild(makeHeap<UIParamHint>(&h.panel.uiContext(), &client.linear(), &lato()));
    hint->setPosition(IntRect{{20, 10}, {60, 32}});
    h.open();
    test::RealtimeProbe probe;
    client.linear().setNormalizedFromHost(0.25);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
    EXPECT_TRUE(hint->changed.load());
    client.linear().beginEdit();
    h.ticks(200);  // 3 s holding the knob still
    EXPECT_EQ(hint->visibility, 1.0f);
    client.linear().endEdit();
    h.ticks(56);  // 0.84 s
    EXPECT_EQ(hint->visibility, 1.0f);
    h.ticks(30);
    EXPECT_EQ(hint->visibility, 0.0f);
    // At rest the hint draws only its backdrop: the panel shows through at the default alpha 0.05.
    EXPECT_EQ(h.depthAt(40, 20), test::TestPanel::kBackgroundDepth);
}

}  // namespace
}  // namespace korvo
