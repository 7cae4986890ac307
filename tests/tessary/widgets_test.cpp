// The radio button set and the drop-down through the headless window.
#include <gtest/gtest.h>

#include <cstring>

#include "korvo/widgets/knob.h"
#include "korvo_resources_resources.h"
#include "tessary/widgets/dropdown.h"
#include "tessary/widgets/radiobuttonset.h"
#include "tests/korvo/gui/gui_test_util.h"
#include "tests/korvo/widgets/widget_test_util.h"

namespace tessary {
namespace {

using korvo::IntRect;
using korvo::makeHeap;
using korvo::MouseButton;
using korvo::test::Harness;
using korvo::test::WidgetClient;

korvo::Font& lato() {
    static korvo::Font font(korvo::resources::Lato_Semibold_ttf, korvo::resources::Lato_Semibold_ttf_size);
    return font;
}

TEST(TessaryRadioButtonSet, ClicksPickTheButtonsValueAndLeftoverPixelsAreNotTaken) {
    WidgetClient client;  // wave: 5 values
    korvo::test::EventLog log;  // before the harness: closing the window at its end still logs
    Harness h(80, 80);
    auto* below =
        h.panel.addChild(makeHeap<korvo::test::RecordingElement>(&h.panel.uiContext(), "below", &log));
    below->setPosition(IntRect{{0, 0}, {80, 80}});
    below->handlesClicks = true;
    auto* radio = h.panel.addChild(makeHeap<TessaryRadioButtonSet>(&client.wave(), &h.panel.uiContext()));
    radio->setPosition(IntRect{{10, 5}, {60, 67}});  // 62 px: buttons of 12, 2 px left over
    radio->setZOrder(1);
    auto& w = h.open();
    EXPECT_EQ(radio->buttonHeight(), 12);
    EXPECT_TRUE(w.click(20, 5 + 12 * 3 + 4));
    EXPECT_EQ(client.wave().value(), 3);
    EXPECT_EQ(client.recorder.kinds(), "bpe");
    EXPECT_TRUE(w.click(20, 5));
    EXPECT_EQ(client.wave().value(), 0);
    EXPECT_TRUE(w.click(20, 5 + 59));  // last row of the last button
    EXPECT_EQ(client.wave().value(), 4);
    EXPECT_TRUE(w.click(20, 5 + 60));  // leftover: the element beneath takes it
    EXPECT_EQ(h.panel.uiContext().focused, below);
    EXPECT_EQ(client.wave().value(), 4);
    // The current button's light brightens over the following ticks.
    h.ticks(40);
    EXPECT_GT(radio->animations[4], 0.99f);
    EXPECT_LT(radio->animations[0], 0.01f);
}

// What the window shows, as bytes.
std::vector<std::uint8_t> shown(korvo::HeadlessWindow& w) {
    const korvo::ImageView<korvo::RGBA> screen = w.screen();
    std::vector<std::uint8_t> out;
    for (std::int32_t y = 0; y < screen.h; ++y)
        for (std::int32_t x = 0; x < screen.w; ++x) {
            const korvo::RGBA p = screen.at(x, y);
            out.insert(out.end(), {p.r, p.g, p.b});
        }
    return out;
}

// The pointer leaves a lit row and comes back to the same row: it lights again.
TEST(TessaryRadioButtonSet, TheRowThePointerComesBackToLightsAgain) {
    WidgetClient client;
    Harness h(80, 80);
    auto* radio = h.panel.addChild(makeHeap<TessaryRadioButtonSet>(&client.wave(), &h.panel.uiContext()));
    radio->setPosition(IntRect{{10, 5}, {60, 67}});
    auto& w = h.open();
    h.ticks(40);
    w.mouseMove(20, 5 + 12 * 2 + 4);
    h.ticks(2);
    const std::vector<std::uint8_t> lit = shown(w);
    w.mouseMove(75, 75);
    h.ticks(2);
    EXPECT_NE(shown(w), lit);
    w.mouseMove(20, 5 + 12 * 2 + 4);
    h.ticks(2);
    EXPECT_EQ(shown(w), lit);
}

struct DropdownRig {
    // A knob lies under the drop-down's list area; the drop-down sits above it (z-order 2).
    DropdownRig() : h(120, 200) {
        knob = h.panel.addChild(makeHeap<korvo::UIKnob>(&h.panel.uiContext(), &client.linear()));
        knob->setPosition(IntRect{{20, 80}, {80, 140}});
        dropdown = h.panel.addChild(
            makeHeap<TessaryDropdown>(&h.panel.uiContext(), &client.choice(), &lato(),
                                      std::vector<std::string>{"1/16", "1/8", "1/4", "1/2", "1/1", "2/1"}));
        dropdown->setPosition(IntRect{{10, 10}, {90, 192}});  // 7 rows of 26 px
        dropdown->setZOrder(2);
        h.open();
        h.ticks(2);
    }
    int rowY(int row) const { return 10 + row * 26 + 13; }
    void settle() { h.ticks(40); }
    WidgetClient client;
    Harness h;
    korvo::UIKnob* knob = nullptr;
    TessaryDropdown* dropdown = nullptr;
};

TEST(TessaryDropdown, ClosedItLetsClicksBelowTheHeaderThroughAndOpensFromTheHeader) {
    DropdownRig rig;
    auto& w = *rig.h.window;
    EXPECT_EQ(rig.dropdown->itemHeight(), 26.0f);
    EXPECT_TRUE(w.click(50, 110));  // on the knob, inside the closed list's box
    EXPECT_EQ(rig.h.panel.uiContext().focused, rig.knob);
    EXPECT_FALSE(rig.dropdown->open);
    EXPECT_TRUE(w.click(50, rig.rowY(0)));
    EXPECT_TRUE(rig.dropdown->open);
    EXPECT_EQ(rig.client.recorder.kinds(), "be");  // only the knob's click gesture, no value change
}

TEST(TessaryDropdown, ChoosingARowSetsTheValueAndEveryWayOfClosingLeavesItClosed) {
    DropdownRig rig;
    auto& w = *rig.h.window;
    w.click(50, rig.rowY(0));
    rig.settle();
    EXPECT_TRUE(w.click(50, rig.rowY(5)));  // the fifth choice: index 4
    EXPECT_EQ(rig.client.choice().value(), 4);
    EXPECT_EQ(rig.client.recorder.kinds(), "bpe");
    EXPECT_FALSE(rig.dropdown->open);
    // Header of an open list: closes, value unchanged.
    w.click(50, rig.rowY(0));
    EXPECT_TRUE(w.click(50, rig.rowY(0)));
    EXPECT_FALSE(rig.dropdown->open);
    EXPECT_EQ(rig.client.choice().value(), 4);
    // A click outside the box (on nothing) closes it through the focus.
    w.click(50, rig.rowY(0));
    EXPECT_FALSE(w.click(110, 195));
    EXPECT_FALSE(rig.dropdown->open);
    // Escape closes it; without an open list Escape is not taken.
    w.click(50, rig.rowY(0));
    EXPECT_TRUE(w.keyDown(korvo::Key::escape));
    EXPECT_FALSE(rig.dropdown->open);
    EXPECT_FALSE(w.keyDown(korvo::Key::escape));
    EXPECT_EQ(rig.client.recorder.kinds(), "bpe");
}

TEST(TessaryDropdown, TheOpenListCoversItsNeighboursAndLeavesNoStalePictureWhenItCloses) {
    DropdownRig rig;
    auto& w = *rig.h.window;
    const korvo::ImageView<korvo::RGBA> screen = w.screen();
    korvo::OwnedImage<korvo::RGBA> before(screen.w, screen.h);
    korvo::copyBox(screen, before.view());
    w.click(50, rig.rowY(0));
    rig.settle();
    // The knob's centre now shows a list row (raised, list material), not the knob.
    EXPECT_EQ(rig.h.depthAt(50, 110), 65535);
    EXPECT_EQ(rig.h.materialAt(50, 110), rig.dropdown->material);
    w.keyDown(korvo::Key::escape);
    rig.settle();
    EXPECT_EQ(rig.dropdown->rowsShown(), 1);
    const korvo::ImageView<korvo::RGBA> after = w.screen();
    int differing = 0;
    for (int y = 0; y < after.h; ++y)
        for (int x = 0; x < after.w; ++x) differing += !(after.at(x, y) == before.view().at(x, y));
    EXPECT_EQ(differing, 0) << "pixels left from the open list";
}

// The open list: the pointer leaves a lit row for outside the list and comes back to it.
TEST(TessaryDropdown, TheRowThePointerComesBackToLightsAgain) {
    DropdownRig rig;
    auto& w = *rig.h.window;
    w.click(50, rig.rowY(0));
    rig.settle();
    w.mouseMove(50, rig.rowY(5));
    rig.h.ticks(2);
    const std::vector<std::uint8_t> lit = shown(w);
    w.mouseMove(110, 195);
    rig.h.ticks(2);
    EXPECT_NE(shown(w), lit);
    w.mouseMove(50, rig.rowY(5));
    rig.h.ticks(2);
    EXPECT_EQ(shown(w), lit);
}

}  // namespace
}  // namespace tessary
