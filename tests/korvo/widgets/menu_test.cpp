// The pop-up menu through the headless window: where it opens, what a click, Escape or the wheel
// does, and that it takes every mouse event while open.
#include "korvo/widgets/menu.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "korvo/gui/context.h"
#include "korvo_resources_resources.h"
#include "tests/korvo/gui/gui_test_util.h"
#include "tests/korvo/widgets/widget_test_util.h"

namespace korvo {
namespace {

using test::Harness;

Font& lato() {
    static Font font(resources::Lato_Semibold_ttf, resources::Lato_Semibold_ttf_size);
    return font;
}

int clicks(const test::EventLog& log) {
    return static_cast<int>(std::count(log.begin(), log.end(), std::string("below.click")));
}

std::vector<MenuItem> items(int n) {
    std::vector<MenuItem> list;
    for (int i = 0; i < n; ++i) {
        MenuItem item;
        item.text = "Item " + std::to_string(i);
        item.id = 100 + i;
        list.push_back(item);
    }
    return list;
}

struct MenuHarness {
    explicit MenuHarness(std::int32_t w = 300, std::int32_t ht = 200) : h(w, ht) {
        below = h.panel.addChild(makeHeap<test::RecordingElement>(&h.panel.uiContext(), "below", &log));
        below->setPosition(IntRect{{0, 0}, {w, ht}});
        below->handlesClicks = true;
        menu = h.panel.addChild(makeHeap<UIMenu>(&h.panel.uiContext(), &lato()));
        menu->setPosition(IntRect{{0, 0}, {w, ht}});
        menu->setZOrder(10);
        h.open();
    }
    void open(std::vector<MenuItem> list, IntPoint at) {
        menu->open(std::move(list), at, [this](std::int32_t id) { chosen.push_back(id); });
        h.window->tick();
    }
    test::EventLog log;  // before the harness: closing the window at its end still logs
    Harness h;
    test::RecordingElement* below = nullptr;
    UIMenu* menu = nullptr;
    std::vector<std::int32_t> chosen;
};

TEST(UIMenu, OpensAtThePointFlipsNearTheEdgesAndStaysInside) {
    MenuHarness m;
    m.open(items(3), IntPoint{20, 30});
    IntRect panel = m.menu->panelBox();
    EXPECT_EQ(panel.min, (IntPoint{20, 30}));
    EXPECT_EQ(panel.height(), static_cast<std::int32_t>(2 * UIMenu::kPadding + 3 * UIMenu::kRowHeight));
    // Drawn: raised over the panel below, only inside its box.
    const std::uint16_t beneath = m.h.depthAt(290, 190);
    EXPECT_GT(m.h.depthAt(panel.min.x + 10, panel.min.y + 10), beneath + 20000);
    EXPECT_EQ(m.h.depthAt(panel.max.x + 2, panel.min.y + 10), beneath);
    // Near the right and bottom edges it opens to the left and above the point.
    m.open(items(3), IntPoint{295, 195});
    panel = m.menu->panelBox();
    EXPECT_EQ(panel.max, (IntPoint{295, 195}));
    // Taller than the window: it fits and scrolls.
    m.open(items(40), IntPoint{10, 10});
    panel = m.menu->panelBox();
    EXPECT_GE(panel.min.y, 0);
    EXPECT_LE(panel.max.y, 200);
    EXPECT_LT(m.menu->shownCount(), 40);
    const std::int32_t shown = m.menu->shownCount();
    m.h.window->mouseMove(panel.min.x + 20, panel.min.y + 40);
    m.h.window->wheel(0, -5);  // down the list
    EXPECT_EQ(m.menu->firstShown(), 5);
    m.h.window->wheel(0, -100);  // to its end, and no farther
    EXPECT_EQ(m.menu->firstShown() + m.menu->shownCount(), 40);
    EXPECT_GE(m.menu->shownCount(), shown);
}

TEST(UIMenu, AClickChoosesAnEnabledItemAndEverythingElseJustClosesIt) {
    MenuHarness m;
    std::vector<MenuItem> list = items(4);
    list[2].enabled = false;
    m.open(list, IntPoint{40, 20});
    const IntRect panel = m.menu->panelBox();
    const auto rowY = [&](int i) {
        return panel.min.y + static_cast<std::int32_t>(UIMenu::kPadding + (i + 0.5f) * UIMenu::kRowHeight);
    };
    // Hover lights the row under the pointer, not a disabled one.
    m.h.window->mouseMove(panel.min.x + 20, rowY(1));
    EXPECT_EQ(m.menu->hoveredItem(), 1);
    m.h.window->mouseMove(panel.min.x + 20, rowY(2));
    EXPECT_EQ(m.menu->hoveredItem(), -1);
    // A disabled row takes the click and stays open; an enabled one is chosen and closes it.
    m.h.window->mouseDown(MouseButton::left);
    m.h.window->mouseUp(MouseButton::left);
    EXPECT_TRUE(m.menu->isOpen());
    EXPECT_TRUE(m.h.window->click(panel.min.x + 20, rowY(3)));
    EXPECT_FALSE(m.menu->isOpen());
    EXPECT_EQ(m.chosen, (std::vector<std::int32_t>{103}));
    // Outside the panel: closes, chooses nothing, and the element below never hears of it.
    m.open(items(4), IntPoint{40, 20});
    EXPECT_TRUE(m.h.window->click(250, 180));
    EXPECT_FALSE(m.menu->isOpen());
    EXPECT_EQ(m.chosen.size(), 1u);
    EXPECT_EQ(clicks(m.log), 0);
    // Escape closes it; then clicks reach the panel again.
    m.open(items(4), IntPoint{40, 20});
    EXPECT_TRUE(m.h.window->keyDown(Key::escape));
    EXPECT_FALSE(m.menu->isOpen());
    EXPECT_EQ(m.h.panel.uiContext().modal, nullptr);
    m.h.window->click(250, 180);
    EXPECT_EQ(clicks(m.log), 1);
}

TEST(UIMenu, AtTwiceTheScaleTheRowsAreTwiceAsTallAndTheSameClickChoosesTheSameItem) {
    MenuHarness m;
    m.h.panel.setScale(2.0f);
    m.h.window->paint();
    m.open(items(4), IntPoint{80, 40});  // device pixels: (40, 20) on the base grid
    const IntRect panel = m.menu->panelBox();
    EXPECT_EQ(panel.min, (IntPoint{80, 40}));
    EXPECT_EQ(panel.height(), static_cast<std::int32_t>(2 * (2 * UIMenu::kPadding + 4 * UIMenu::kRowHeight)));
    EXPECT_TRUE(m.h.window->click(
        panel.min.x + 40,
        panel.min.y + static_cast<std::int32_t>(2 * (UIMenu::kPadding + 1.5f * UIMenu::kRowHeight))));
    EXPECT_EQ(m.chosen, (std::vector<std::int32_t>{101}));
}

}  // namespace
}  // namespace korvo
