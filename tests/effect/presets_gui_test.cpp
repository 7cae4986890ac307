// The editor's preset strip driven as a user does, through the headless window: the factory
// presets stepped through and chosen from the list, user presets saved, listed and loaded back,
// damaged files refused, compare slots, and what the host is told about each.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "effect/gui.h"
#include "effect/main.h"
#include "korvo/client/presetfile.h"
#include "korvo/gui/context.h"
#include "korvo/widgets/menu.h"
#include "korvo/widgets/presetstrip.h"
#include "korvo/widgets/textfield.h"
#include "korvo/widgets/label.h"
#include "korvo/window/headless.h"
#include "tests/support/golden.h"

namespace velmora {
namespace {

using Part = korvo::UIPresetStrip::Part;

// b/p/e gestures with the parameter index, G and g the group's start and end, R "read every
// value again".
class HostLog final : public korvo::IHostCommand {
public:
    void beginParameterEdit(std::int32_t i) noexcept override { log += "b" + std::to_string(i) + " "; }
    void automateParameter(std::int32_t i, float) noexcept override { log += "p" + std::to_string(i) + " "; }
    void endParameterEdit(std::int32_t i) noexcept override { log += "e" + std::to_string(i) + " "; }
    void parameterValuesChanged() noexcept override { log += "R "; }
    void beginGroupEdit() noexcept override { log += "G "; }
    void endGroupEdit() noexcept override { log += "g "; }
    bool requestResize(std::int32_t, std::int32_t) noexcept override { return false; }
    korvo::HostKind hostKind() const noexcept override { return korvo::HostKind::unknown; }
    std::string log;
};

struct StripEditor {
    explicit StripEditor(float atScale = 1.0f) : scale(atScale) {
        client.setHostCommand(&host);
        gui = static_cast<VelmoraGUI*>(client.ensureGraphics());
        folder = std::filesystem::temp_directory_path() /
                 ("velmora-presets-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::remove_all(folder);
        gui->presetBrowser().setFolder(folder.string());
        gui->setWindowFactory(&korvo::HeadlessWindow::create);
        gui->setScale(scale);
        gui->openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
        window = static_cast<korvo::HeadlessWindow*>(gui->window());
        window->paint();
        window->tick();
    }
    ~StripEditor() {
        gui->closeUI();
        std::filesystem::remove_all(folder);
    }
    // Clicks the centre of a part of the strip.
    void press(Part part, korvo::MouseButton button = korvo::MouseButton::left) {
        const korvo::IntRect b = korvo::UIPresetStrip::partBox(part);
        const auto at = [this](std::int32_t v) { return korvo::scaleCoord(v, scale); };
        window->click(at(472 + (b.min.x + b.max.x) / 2), at(6 + (b.min.y + b.max.y) / 2), button);
        window->tick();
    }
    // Clicks the open menu's row of item `id`, scrolling it into sight first.
    bool choose(std::int32_t id) {
        korvo::UIMenu& menu = *gui->sizeMenu();
        for (int scrolls = 0; scrolls < 64 && menu.isOpen(); ++scrolls) {
            const korvo::IntRect panel = menu.panelBox();
            for (std::int32_t y = panel.min.y; y < panel.max.y; ++y) {
                const std::int32_t i = menu.itemAt(panel.min.x + 20, y);
                if (i >= 0 && menu.items()[static_cast<std::size_t>(i)].id == id) {
                    window->click(panel.min.x + 20, y);
                    window->tick();
                    return true;
                }
            }
            window->mouseMove(panel.min.x + 20, panel.min.y + panel.height() / 2);
            window->wheel(0, -1);
        }
        return false;
    }
    void type(const std::string& text) {
        for (char c : text) {
            window->keyDown(korvo::Key::unsupported);
            window->textInput(std::string(1, c));
        }
    }

    float scale;
    VelmoraClient client;
    HostLog host;
    VelmoraGUI* gui = nullptr;
    korvo::HeadlessWindow* window = nullptr;
    std::filesystem::path folder;
};

TEST(PresetStrip, FactoryPresetsStepAndChooseAsOneUndoStepTheHostReadsAgain) {
    StripEditor e;
    korvo::UIPresetStrip& strip = *e.gui->presetStrip();
    EXPECT_EQ(strip.name(), "Default");
    EXPECT_FALSE(strip.modified());

    e.press(Part::next);
    EXPECT_EQ(strip.name(), "Left 75%");
    EXPECT_EQ(e.host.log, "R ");  // a program change, no gestures
    EXPECT_EQ(e.client.presetBank().current(), 1);
    const double left75 = e.client.parameter(kPan).getNormalized();
    EXPECT_LT(left75, 0.5);
    e.press(Part::previous);
    e.press(Part::previous);  // from the first, round to the last
    EXPECT_EQ(e.client.presetBank().current(), e.client.presetBank().count() - 1);

    // The list: the preset chosen from it applies, the row of the loaded one is checked.
    e.press(Part::name);
    ASSERT_TRUE(e.gui->sizeMenu()->isOpen());
    EXPECT_TRUE(e.gui->sizeMenu()->items()[static_cast<std::size_t>(e.client.presetBank().count() - 1)].checked);
    EXPECT_EQ(e.gui->sizeMenu()->items().back().text, "Save as...");
    ASSERT_TRUE(e.choose(1));
    EXPECT_EQ(strip.name(), "Left 75%");
    EXPECT_EQ(e.client.parameter(kPan).getNormalized(), left75);

    // An edit marks the strip; undo takes the edit, then the load, back.
    e.window->mouseMove(398, 354);
    e.window->keyDown(korvo::Key::arrowUp);
    e.window->tick();
    EXPECT_TRUE(strip.modified());
    const korvo::MouseState ctrl{.ctrl = true};
    e.window->keyDown(korvo::Key::z, ctrl);
    e.window->tick();
    EXPECT_FALSE(strip.modified());
    e.window->keyDown(korvo::Key::z, ctrl);
    e.window->tick();
    EXPECT_EQ(e.client.parameter(kPan).getNormalized(), e.client.parameter(kPan).getNormalizedDefault());
    EXPECT_TRUE(strip.modified());  // the values of the preset before, under the name loaded
    e.press(Part::redo);
    EXPECT_EQ(e.client.parameter(kPan).getNormalized(), left75);

    // A program change of the host is followed, and is no undo step.
    const std::size_t steps = e.gui->history().undoSteps();
    e.client.presetBank().selectPresetFromHost(9);
    e.window->tick();
    EXPECT_EQ(strip.name(), e.client.presetBank().presetName(9));
    EXPECT_EQ(e.gui->history().undoSteps(), steps);
}

TEST(PresetStrip, SaveAsWritesAUserPresetThatListsLoadsAndAsksBeforeReplacing) {
    StripEditor e;
    korvo::UIPresetStrip& strip = *e.gui->presetStrip();
    e.client.parameter(kPan).setNormalizedFromHost(0.8);
    e.press(Part::name);
    ASSERT_TRUE(e.choose(-2));  // "Save as..."
    korvo::UITextField& field = *e.gui->textField();
    ASSERT_TRUE(field.isEditing());
    EXPECT_EQ(e.gui->uiContext().focused, &field);
    e.window->keyDown(korvo::Key::backspace);  // the whole name was selected
    e.type("Wide/Pad");
    EXPECT_TRUE(e.window->keyDown(korvo::Key::enter));
    e.window->tick();
    EXPECT_FALSE(field.isEditing());
    const std::filesystem::path saved = e.folder / "Wide_Pad.vstpreset";
    ASSERT_TRUE(std::filesystem::exists(saved));
    EXPECT_EQ(strip.name(), "Wide_Pad");
    EXPECT_FALSE(strip.modified());

    // A damaged file beside it is listed greyed and refuses to load.
    std::ofstream(e.folder / "Broken.vstpreset", std::ios::binary) << "VST3 but nothing else";
    e.client.parameter(kPan).setNormalizedFromHost(0.2);
    e.press(Part::name);
    const auto& items = e.gui->sizeMenu()->items();
    const auto count = static_cast<std::size_t>(e.client.presetBank().count());
    ASSERT_EQ(items.size(), count + 5);  // presets, separator, two files, separator, "Save as..."
    EXPECT_TRUE(items[count].separator);
    EXPECT_EQ(items[count + 1].text, "Broken");
    EXPECT_FALSE(items[count + 1].enabled);
    EXPECT_EQ(items[count + 2].text, "Wide_Pad");
    EXPECT_TRUE(e.choose(items[count + 2].id));
    EXPECT_FLOAT_EQ(static_cast<float>(e.client.parameter(kPan).getNormalized()), 0.8f);
    std::string message;
    const auto entries = e.gui->presetBrowser().entries();
    EXPECT_FALSE(e.gui->presetBrowser().load(entries[count], message));
    EXPECT_EQ(message, korvo::kPresetFileDamaged);
    EXPECT_FLOAT_EQ(static_cast<float>(e.client.parameter(kPan).getNormalized()), 0.8f);

    // Saving under the same name asks first; Escape in the field cancels without a word.
    e.client.parameter(kPan).setNormalizedFromHost(0.6);
    e.gui->startSaveAs();
    e.window->keyDown(korvo::Key::enter);
    ASSERT_TRUE(e.gui->sizeMenu()->isOpen());
    EXPECT_EQ(e.gui->sizeMenu()->items()[0].text, "Replace \"Wide_Pad\"");
    ASSERT_TRUE(e.choose(1));
    std::string error;
    auto fresh = korvo::makeHeap<VelmoraClient>();
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(korvo::readWholeFile(saved.string(), bytes, error));
    ASSERT_EQ(korvo::readPresetFileInto(*fresh, bytes.data(), bytes.size(), true), nullptr);
    EXPECT_FLOAT_EQ(static_cast<float>(fresh->parameter(kPan).getNormalized()), 0.6f);
    e.gui->startSaveAs();
    e.type("Other");
    EXPECT_TRUE(e.window->keyDown(korvo::Key::escape));
    EXPECT_FALSE(std::filesystem::exists(e.folder / "Other.vstpreset"));
}

TEST(PresetStrip, CompareSwitchesSlotsAsOneGroupedGestureAndCopiesTheShownSlot) {
    StripEditor e;
    korvo::Parameter& pan = e.client.parameter(kPan);
    korvo::Parameter& tilt = e.client.parameter(kTilt);
    pan.setNormalizedFromHost(0.3);
    const double tiltA = tilt.getNormalized();
    e.press(Part::slotB);  // B was never filled: it starts as A
    EXPECT_EQ(e.gui->presetStrip()->slot(), 1);
    EXPECT_EQ(e.host.log, "");
    pan.setNormalizedFromHost(0.9);
    tilt.setNormalizedFromHost(0.7);
    e.press(Part::slotA);
    // In parameter order, every gesture open before any value moves.
    const std::string a = std::to_string(std::min<int>(kPan, kTilt)), b = std::to_string(std::max<int>(kPan, kTilt));
    EXPECT_EQ(e.host.log, "G b" + a + " b" + b + " p" + a + " p" + b + " e" + a + " e" + b + " g ");
    EXPECT_EQ(pan.getNormalized(), 0.3);
    EXPECT_EQ(tilt.getNormalized(), tiltA);
    // One undo step takes the switch back (the slot shown stays A).
    e.press(Part::undo);
    EXPECT_EQ(pan.getNormalized(), 0.9);
    e.press(Part::redo);
    // Copy A to B from the pair's menu, then B shows A's settings.
    e.press(Part::slotA, korvo::MouseButton::right);
    ASSERT_TRUE(e.gui->sizeMenu()->isOpen());
    EXPECT_EQ(e.gui->sizeMenu()->items()[0].text, "Copy A to B");
    ASSERT_TRUE(e.choose(0));
    e.press(Part::slotB);
    EXPECT_EQ(pan.getNormalized(), 0.3);
    // The slots live with the editor object: closed and opened again, B is still shown.
    e.gui->closeUI();
    e.gui->openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
    e.window = static_cast<korvo::HeadlessWindow*>(e.gui->window());
    e.window->paint();
    e.window->tick();
    EXPECT_EQ(e.gui->presetStrip()->slot(), 1);
}

// A right click on a control, from a host without menus of its own: our menu; "Enter value..."
// takes the parameter's own text and refuses what it cannot read.
TEST(ControlMenu, EnterValueTakesTheParametersTextAndRefusesTheRest) {
    StripEditor e;
    korvo::Parameter& pan = e.client.parameter(kPan);
    e.window->mouseMove(398, 354);
    e.window->mouseDown(korvo::MouseButton::right);
    e.window->mouseUp(korvo::MouseButton::right);
    ASSERT_TRUE(e.gui->sizeMenu()->isOpen());
    EXPECT_EQ(e.gui->sizeMenu()->items()[0].text, VelmoraGUI::kMenuReset);
    ASSERT_TRUE(e.choose(1));
    korvo::UITextField& field = *e.gui->textField();
    ASSERT_TRUE(field.isEditing());
    char shown[64];
    pan.formatNormalized(pan.getNormalized(), shown, sizeof shown);
    EXPECT_EQ(field.text().rfind(shown, 0), 0u);  // the value as the hint shows it
    e.window->keyDown(korvo::Key::backspace);
    e.type("-45");
    e.host.log.clear();
    e.window->keyDown(korvo::Key::enter);
    EXPECT_EQ(e.host.log, "b" + std::to_string(kPan) + " p" + std::to_string(kPan) + " e" + std::to_string(kPan) + " ");
    EXPECT_EQ(pan.getNormalized(), pan.parseToNormalized("-45").normalized);
    EXPECT_LT(pan.getNormalized(), 0.5);

    const double before = pan.getNormalized();
    e.window->mouseDown(korvo::MouseButton::right);
    e.window->mouseUp(korvo::MouseButton::right);
    ASSERT_TRUE(e.choose(1));
    e.window->keyDown(korvo::Key::backspace);
    e.type("far away");
    e.window->keyDown(korvo::Key::enter);
    EXPECT_TRUE(field.isEditing());  // still there to mend
    EXPECT_FALSE(e.gui->presetStrip()->message().empty());
    EXPECT_EQ(pan.getNormalized(), before);
    e.window->keyDown(korvo::Key::escape);
    EXPECT_FALSE(field.isEditing());
}

// The strip with its list open, at 100 % and 200 %, as stored (one level of the C runtime's pow).
TEST(PresetStrip, TheOpenListMatchesTheStoredPictures) {
    for (const float scale : {1.0f, 2.0f}) {
        StripEditor e(scale);
        e.gui->subtitle()->setText(VelmoraGUI::kSubtitles[0]);
        e.press(Part::name);
        e.window->tick();
        e.window->paint();
        korvo::OwnedImage<korvo::RGBA> shot(e.window->width(), e.window->height());
        korvo::copyBox(e.window->screen(), shot.view());
        EXPECT_LE(korvo::test::compareWithGolden(scale == 1.0f ? "editor_preset_list.png" : "editor_preset_list_2x.png",
                                                 shot.view())
                      .worst,
                  1);
    }
}

// The strip at 2x: the same parts answer the same clicks.
TEST(PresetStrip, AtTwiceTheScaleThePartsAnswerTheSameClicks) {
    StripEditor e(2.0f);
    e.press(Part::next);
    EXPECT_EQ(e.gui->presetStrip()->name(), "Left 75%");
    e.press(Part::name);
    EXPECT_TRUE(e.gui->sizeMenu()->isOpen());
}

}  // namespace
}  // namespace velmora
