// The editor through the real module in a real window, as a host opens it: the test module's
// editor (testplugin/testeditor.h) and the product's editor in our host's top-level window (X11
// natively, Win32 under Wine), driven by system input, with the edits the host receives, the sound
// of the next blocks and the picture it shows.
#include "tools/vst3host/editor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>

#include "effect/gui.h"
#include "effect/main.h"
#include "korvo/widgets/label.h"
#include "tools/offscreen/screenshot.h"
#include "tests/integration/editorpicture.h"
#include "tests/integration/testplugin/testclient.h"
#include "tests/integration/testplugin/testeditor.h"
#include "tests/integration/vst3fixture.h"

#if !defined(_WIN32)
#include "tests/support/xvfb.h"
#endif

namespace vst3it {
namespace {

using vst3host::EditorHost;
using vst3host::Image;
using K = ComponentHandler::Kind;

class Vst3Editor : public TestModule {
protected:
    void SetUp() override {
#if !defined(_WIN32)
        korvo::test::XvfbDisplay& x = korvo::test::XvfbDisplay::shared();
        ASSERT_TRUE(x.ok()) << x.error();
#endif
        TestModule::SetUp();
    }
    void TearDown() override {
        editor.close();
        TestModule::TearDown();
    }
    void open() {
        std::string error;
        ASSERT_TRUE(editor.open(plugin->controller, error)) << error;
        ASSERT_TRUE(editor.settle());
    }
    Image shot() {
        Image image;
        std::string error;
        EXPECT_TRUE(editor.screenshot(image, error)) << error;
        return image;
    }

    EditorHost editor;
};

// The slider's x for a normalized value.
constexpr std::int32_t sliderX(double normalized) {
    return vst3test::TestEditor::kSliderBox.min.x +
           static_cast<std::int32_t>(normalized * vst3test::TestEditor::kSliderBox.width());
}
constexpr std::int32_t kSliderY = 45;

TEST_F(Vst3Editor, TheRealWindowShowsWhatTheHeadlessRenderDraws) {
    open();
    EXPECT_EQ(editor.size().right - editor.size().left, vst3test::TestEditor::kWidth);
    EXPECT_EQ(editor.size().bottom - editor.size().top, vst3test::TestEditor::kHeight);
    const Image real = shot();

    vst3test::TestGainClient client;
    auto* gui = static_cast<korvo::GUIGraphics*>(client.ensureGraphics());
    ASSERT_NE(gui, nullptr);
    korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> headless = korvo::renderScreenshot(*gui);
    ASSERT_EQ(real.width, headless->w());
    ASSERT_EQ(real.height, headless->h());
    const korvo::test::PictureDifference d =
        korvo::test::comparePictures(korvo::test::pixelsOf(real.width, real.height, real.rgba),
                                     korvo::test::pixelsOf(headless->view()), korvo::test::Channels::colour);
    EXPECT_EQ(d.differing, 0) << "first at " << d.firstX << "," << d.firstY << ", by " << d.firstBy;
}

TEST_F(Vst3Editor, ADragReportsBeginOnePerformPerChangeAndEnd) {
    open();
    handler.calls.clear();
    editor.mouseMove(sliderX(0.05), kSliderY);
    editor.mouseButton(1, true);
    editor.mouseMove(sliderX(0.2), kSliderY);
    editor.mouseMove(sliderX(0.2), kSliderY + 3);  // the same value: nothing to report
    editor.mouseMove(sliderX(0.5), kSliderY);
    editor.mouseMove(-20, kSliderY);  // past the left edge: the slider's minimum
    editor.mouseButton(1, false);
    editor.run(50);
    const std::vector<double> expected = {0.05, 0.2, 0.5, 0.0};
    ASSERT_EQ(handler.calls.size(), expected.size() + 2) << "edits: " << handler.calls.size();
    EXPECT_EQ(handler.calls.front().kind, K::beginEdit);
    EXPECT_EQ(handler.calls.front().id, vst3test::kLevel);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ComponentHandler::Call& call = handler.calls[i + 1];
        EXPECT_EQ(call.kind, K::performEdit) << i;
        EXPECT_EQ(call.id, vst3test::kLevel) << i;
        EXPECT_EQ(call.value, static_cast<double>(static_cast<float>(expected[i]))) << i;
    }
    EXPECT_EQ(handler.calls.back().kind, K::endEdit);
    EXPECT_EQ(handler.calls.back().id, vst3test::kLevel);
    EXPECT_EQ(normalized(vst3test::kLevel), 0.0);

    // A click on the switch is a whole gesture on its own.
    handler.calls.clear();
    editor.mouseMove(40, 90);
    editor.mouseButton(1, true);
    editor.mouseButton(1, false);
    editor.run(50);
    ASSERT_EQ(handler.calls.size(), 3u);
    EXPECT_EQ(handler.calls[0].kind, K::beginEdit);
    EXPECT_EQ(handler.calls[1].kind, K::performEdit);
    EXPECT_EQ(handler.calls[1].id, vst3test::kInvert);
    EXPECT_EQ(handler.calls[1].value, 1.0);
    EXPECT_EQ(handler.calls[2].kind, K::endEdit);
}

TEST_F(Vst3Editor, WithoutAComponentHandlerTheParameterStillChanges) {
    ASSERT_EQ(plugin->controller->setComponentHandler(nullptr), v::kResultOk);
    open();
    editor.mouseMove(sliderX(0.75), kSliderY);
    editor.mouseButton(1, true);
    editor.mouseButton(1, false);
    editor.run(50);
    EXPECT_EQ(normalized(vst3test::kLevel), 0.75);
    EXPECT_TRUE(handler.calls.empty());
}

TEST_F(Vst3Editor, AttachRemoveAttachOpensANewWindowOnTheSameEditor) {
    open();
    EXPECT_NE(editor.childWindow(), 0u);
    // The host changes the value while the editor is open: it is drawn at the next tick.
    const Image before = shot();
    ASSERT_EQ(plugin->controller->setParamNormalized(vst3test::kLevel, 0.25), v::kResultOk);
    ASSERT_TRUE(editor.settle());
    const Image changed = shot();
    EXPECT_NE(before.rgba, changed.rgba);

    editor.detach();  // removed: the editor's window is gone
    EXPECT_EQ(editor.childWindow(), 0u);
    std::string error;
    ASSERT_TRUE(editor.reattach(error)) << error;
    EXPECT_NE(editor.childWindow(), 0u);
    ASSERT_TRUE(editor.settle());
    // The same editor object in the new window: it shows the value it was left with.
    EXPECT_EQ(shot().rgba, changed.rgba);

    // And a second view of the same component shares it too.
    editor.close();
    open();
    EXPECT_EQ(shot().rgba, changed.rgba);
}

// ---- The product's editor ------------------------------------------------------------------------

// Velmora's module (the .so natively, the DLL under Wine) with a recording handler, prepared for
// audio, and its editor in our host's window.
class Vst3ProductEditor : public ::testing::Test {
protected:
    static constexpr int kRate = 48000;
    static constexpr int kBlock = 512;
    static constexpr v::ParamID kDistanceId = velmora::kDistance;
    static constexpr v::ParamID kPanId = velmora::kPan;

    void SetUp() override {
#if !defined(_WIN32)
        korvo::test::XvfbDisplay& x = korvo::test::XvfbDisplay::shared();
        ASSERT_TRUE(x.ok()) << x.error();
#endif
        module = std::make_unique<LoadedModule>(velmoraBundlePath());
        ASSERT_TRUE(module->loaded());
        plugin = module->instance(&host);
        ASSERT_TRUE(plugin->ok());
        ASSERT_EQ(plugin->controller->setComponentHandler(&handler), v::kResultOk);
        ASSERT_EQ(plugin->prepare(kRate, kBlock), v::kResultOk);
        std::string error;
        ASSERT_TRUE(editor.open(plugin->controller, error)) << error;
        ASSERT_TRUE(editor.settle());
    }
    void TearDown() override {
        editor.close();
        plugin.reset();
        module.reset();
    }

    // Left and right energy of the last of 16 blocks of a tone fed equally to both inputs (the
    // glides have settled by then). The edits the host received so far go into the first block,
    // as a host passes them on.
    std::pair<double, double> energies() {
        ParameterChanges changes;
        for (const ComponentHandler::Call& call : handler.calls)
            if (call.kind == K::performEdit) changes.add(call.id, 0, call.value);
        handler.calls.clear();
        Buffers in(2, kBlock), out(2, kBlock);
        std::pair<double, double> e{0.0, 0.0};
        for (int block = 0; block < 16; ++block) {
            for (int i = 0; i < kBlock; ++i) {
                const float s = 0.4f * static_cast<float>(std::sin(0.06 * (block * kBlock + i)));
                in.data[0][static_cast<std::size_t>(i)] = s;
                in.data[1][static_cast<std::size_t>(i)] = s;
            }
            EXPECT_EQ(plugin->process(in.ptrs(), 2, out.ptrs(), 2, kBlock, block == 0 ? &changes : nullptr),
                      v::kResultOk);
        }
        for (int i = 0; i < kBlock; ++i) {
            e.first += out.data[0][static_cast<std::size_t>(i)] * out.data[0][static_cast<std::size_t>(i)];
            e.second += out.data[1][static_cast<std::size_t>(i)] * out.data[1][static_cast<std::size_t>(i)];
        }
        return e;
    }

    // Checks that the calls form whole gestures: every perform of an id inside a begin and end of
    // that id, each begun id ended. Returns the number of performs per id.
    std::map<v::ParamID, int> gestures(const std::vector<ComponentHandler::Call>& calls) {
        std::map<v::ParamID, int> open, performs;
        for (const ComponentHandler::Call& call : calls) {
            switch (call.kind) {
                case K::beginEdit:
                    EXPECT_EQ(open[call.id]++, 0) << "begin of " << call.id << " inside a gesture";
                    break;
                case K::performEdit:
                    EXPECT_EQ(open[call.id], 1) << "perform of " << call.id << " outside a gesture";
                    ++performs[call.id];
                    break;
                case K::endEdit:
                    EXPECT_EQ(open[call.id]--, 1) << "end of " << call.id << " without a begin";
                    break;
                case K::startGroupEdit:
                case K::finishGroupEdit:
                    break;
                default:
                    ADD_FAILURE() << "unexpected call";
            }
        }
        for (const auto& [id, n] : open) EXPECT_EQ(n, 0) << "gesture on " << id << " left open";
        return performs;
    }

    double lastValue(v::ParamID id) {
        double value = -1.0;
        for (const ComponentHandler::Call& call : handler.calls)
            if (call.kind == K::performEdit && call.id == id) value = call.value;
        return value;
    }

    HostApplication host{"vst3host test"};
    ComponentHandler handler;
    std::unique_ptr<LoadedModule> module;
    std::unique_ptr<Plugin> plugin;
    EditorHost editor;
};

TEST_F(Vst3ProductEditor, TheRealWindowShowsTheEditorAsItRendersOffScreen) {
    EXPECT_EQ(editor.size().right - editor.size().left, 763);
    EXPECT_EQ(editor.size().bottom - editor.size().top, 494);
    Image real;
    std::string error;
    ASSERT_TRUE(editor.screenshot(real, error)) << error;
    ASSERT_EQ(real.width, 763);
    ASSERT_EQ(real.height, 494);

    EXPECT_EQ(pixelsDifferingFromTheOffScreenEditor(real, 1.0f), 0);
}

TEST_F(Vst3ProductEditor, DragsOnThePanKnobAndThePanoramaReachTheHostAndChangeTheSound) {
    const auto centred = energies();
    ASSERT_GT(centred.first, 1.0);
    EXPECT_NEAR(centred.first, centred.second, 1e-3 * centred.first);

    // The pan knob: press on its disc, drag up (to the right) in steps, release.
    handler.calls.clear();
    editor.mouseMove(398, 354);
    editor.mouseButton(1, true);
    for (int i = 1; i <= 4; ++i) editor.mouseMove(398, 354 - 12 * i);
    editor.mouseButton(1, false);
    editor.run(50);
    ASSERT_FALSE(handler.calls.empty());
    EXPECT_EQ(handler.calls.front().kind, K::beginEdit);
    EXPECT_EQ(handler.calls.back().kind, K::endEdit);
    std::map<v::ParamID, int> performs = gestures(handler.calls);
    EXPECT_GE(performs[kPanId], 1);
    EXPECT_EQ(performs.size(), 1u);  // nothing but "Pan"
    EXPECT_GT(lastValue(kPanId), 0.55);
    EXPECT_NEAR(plugin->controller->getParamNormalized(kPanId), lastValue(kPanId), 1e-6);
    const auto right = energies();
    EXPECT_GT(right.second, 1.2 * right.first);

    // The panorama: press left of the listener and drag the source further left and out.
    editor.mouseMove(220, 180);
    editor.mouseButton(1, true);
    editor.mouseMove(210, 183);
    editor.mouseMove(200, 185);
    editor.mouseButton(1, false);
    editor.run(50);
    performs = gestures(handler.calls);
    EXPECT_GE(performs[kPanId], 1);
    EXPECT_GE(performs[kDistanceId], 1);
    EXPECT_LT(lastValue(kPanId), 0.5);
    const auto left = energies();
    EXPECT_GT(left.first, 1.2 * left.second);
}

// The preset strip in the real window: "next" loads a factory preset as a program change does
// (the host reads every value again, no gesture); the compare pair switches as one group edit.
TEST_F(Vst3ProductEditor, ThePresetStripLoadsPresetsAndSwitchesCompareSlotsAsTheHostExpects) {
    handler.calls.clear();
    editor.mouseMove(499, 18);  // "next"
    editor.mouseButton(1, true);
    editor.mouseButton(1, false);
    editor.run(50);
    ASSERT_EQ(handler.calls.size(), 1u);
    EXPECT_EQ(handler.calls[0].kind, K::restartComponent);
    EXPECT_EQ(handler.calls[0].flags, v::kParamValuesChanged);
    EXPECT_LT(plugin->controller->getParamNormalized(kPanId), 0.5);  // "Left 75%"

    editor.mouseMove(699, 18);  // B: never filled, it starts as A
    editor.mouseButton(1, true);
    editor.mouseButton(1, false);
    editor.mouseMove(398, 354);  // the pan knob, one key step in B
    editor.key("up", true);
    editor.key("up", false);
    editor.run(30);
    handler.calls.clear();
    editor.mouseMove(677, 18);  // back to A
    editor.mouseButton(1, true);
    editor.mouseButton(1, false);
    editor.run(50);
    ASSERT_GE(handler.calls.size(), 5u);
    EXPECT_EQ(handler.calls.front().kind, K::startGroupEdit);
    EXPECT_EQ(handler.calls.back().kind, K::finishGroupEdit);
    const std::map<v::ParamID, int> performs = gestures(handler.calls);
    EXPECT_EQ(performs.size(), 1u);
    EXPECT_EQ(performs.count(kPanId), 1u);
    EXPECT_LT(lastValue(kPanId), 0.5);
}

// A right click on a control asks the host for its menu for that parameter, adds our items and
// pops it up at the click; a host without such menus gets ours, with the same items.
TEST_F(Vst3ProductEditor, ARightClickOnAControlOpensTheHostsMenuForItsParameterWithOurItems) {
    editor.mouseMove(398, 354);  // the pan knob, moved off its default by a key
    editor.key("up", true);
    editor.key("up", false);
    editor.run(30);
    ASSERT_GT(plugin->controller->getParamNormalized(kPanId), 0.5);
    handler.calls.clear();
    handler.chooseOnPopup = "Reset to default";
    editor.mouseButton(3, true);
    editor.mouseButton(3, false);
    editor.run(50);
    ASSERT_EQ(handler.menus.size(), 1u);
    const ComponentHandler::MenuRequest& menu = handler.menus[0];
    EXPECT_TRUE(menu.hadId);
    EXPECT_EQ(menu.id, kPanId);
    EXPECT_EQ(menu.items, (std::vector<std::string>{"-", "Reset to default", "Enter value..."}));
    EXPECT_TRUE(menu.poppedUp);
    EXPECT_EQ(menu.x, 398);
    EXPECT_EQ(menu.y, 354);
    gestures(handler.calls);
    EXPECT_EQ(lastValue(kPanId), 0.5);

    // Without the host's menus: our own opens at the click, its first row resets.
    handler.offersMenus = false;
    editor.key("up", true);
    editor.key("up", false);
    editor.mouseButton(3, true);
    editor.mouseButton(3, false);
    editor.run(30);
    handler.calls.clear();
    editor.mouseMove(398 + 20, 354 + 11);
    editor.mouseButton(1, true);
    editor.mouseButton(1, false);
    editor.run(50);
    EXPECT_EQ(handler.menus.size(), 1u);
    gestures(handler.calls);
    EXPECT_EQ(lastValue(kPanId), 0.5);
}

// "Enter value..." from the host's menu opens the text field in the real window: typed keys,
// Shift with an arrow to select, Enter to take the value as one gesture.
TEST_F(Vst3ProductEditor, TheValueFieldTakesTypedKeysInTheRealWindow) {
    handler.chooseOnPopup = "Enter value...";
    editor.mouseMove(398, 354);
    editor.mouseButton(3, true);
    editor.mouseButton(3, false);
    editor.run(30);
    for (const char* k : {"3", "0"}) {  // replaces the value shown, all selected
        editor.key(k, true);
        editor.key(k, false);
    }
    editor.key("shift", true);
    editor.key("left", true);
    editor.key("left", false);
    editor.key("shift", false);
    editor.key("5", true);  // over the selected "0"
    editor.key("5", false);
    handler.calls.clear();
    editor.key("enter", true);
    editor.key("enter", false);
    editor.run(30);
    const std::map<v::ParamID, int> performs = gestures(handler.calls);
    ASSERT_EQ(performs.size(), 1u);
    EXPECT_EQ(performs.count(kPanId), 1u);
    v::ParamValue expected = 0.0;
    v::String128 text{};
    const char* typed = "35";
    for (int i = 0; typed[i] != 0; ++i) text[i] = static_cast<v::char16>(typed[i]);
    ASSERT_EQ(plugin->controller->getParamValueByString(kPanId, text, expected), v::kResultOk);
    EXPECT_NEAR(plugin->controller->getParamNormalized(kPanId), expected, 1e-6);
    EXPECT_GT(expected, 0.5);
}

// Removing the view while a knob is held ends the host's gesture; the next attach starts with
// nothing held: plain moves drag nothing and a new drag is a gesture of its own.
TEST_F(Vst3ProductEditor, RemovingTheViewMidGestureEndsItAndTheNextAttachHoldsNothing) {
    handler.calls.clear();
    editor.mouseMove(398, 354);
    editor.mouseButton(1, true);
    for (int i = 1; i <= 3; ++i) editor.mouseMove(398, 354 - 8 * i);
    editor.run(30);
    editor.detach();  // removed while the button is down
    ASSERT_FALSE(handler.calls.empty());
    EXPECT_EQ(handler.calls.back().kind, K::endEdit);
    EXPECT_EQ(handler.calls.back().id, kPanId);
    gestures(handler.calls);

    editor.mouseButton(1, false);  // released over the host's window, the editor's gone
    handler.calls.clear();
    std::string error;
    ASSERT_TRUE(editor.reattach(error)) << error;
    ASSERT_TRUE(editor.settle());
    for (int i = 1; i <= 3; ++i) editor.mouseMove(398 + 5 * i, 300 - 8 * i);
    editor.run(30);
    EXPECT_TRUE(handler.calls.empty()) << handler.calls.size() << " calls after reopening";
    editor.mouseMove(420, 354);
    editor.mouseButton(1, true);
    editor.mouseMove(420, 340);
    editor.mouseButton(1, false);
    editor.run(30);
    EXPECT_GE(gestures(handler.calls)[kPanId], 1);
}

// Keys through the system's input path: the knob under the pointer steps by 1 % per press, each
// press a gesture; Tab moves the focus to the first control, which then takes the keys.
TEST_F(Vst3ProductEditor, KeysStepTheControlUnderThePointerAndTabMovesTheFocus) {
    handler.calls.clear();
    editor.mouseMove(398, 354);
    ASSERT_TRUE(editor.key("up", true));
    ASSERT_TRUE(editor.key("up", false));
    ASSERT_TRUE(editor.key("up", true));
    ASSERT_TRUE(editor.key("up", false));
    editor.run(30);
    EXPECT_EQ(gestures(handler.calls)[kPanId], 2);
    EXPECT_NEAR(lastValue(kPanId), 0.52, 1e-6);
    handler.calls.clear();
    for (const char* name : {"tab", "up"}) {
        ASSERT_TRUE(editor.key(name, true));
        ASSERT_TRUE(editor.key(name, false));
    }
    editor.run(30);
    const std::map<v::ParamID, int> performs = gestures(handler.calls);
    EXPECT_EQ(performs.size(), 1u);
    EXPECT_EQ(performs.count(kDistanceId), 1u);
}

}  // namespace
}  // namespace vst3it
