// Labels, the logo and the colour correction, through the headless window.
#include <gtest/gtest.h>

#include <cmath>

#include "korvo/widgets/colorcorrection.h"
#include "korvo/widgets/label.h"
#include "korvo/widgets/logo.h"
#include "korvo_resources_resources.h"
#include "tests/korvo/gui/gui_test_util.h"
#include "tests/korvo/widgets/widget_test_util.h"

namespace korvo {
namespace {

using test::Harness;
using test::RecordingLauncher;

Font& lato() {
    static Font font(resources::Lato_Semibold_ttf, resources::Lato_Semibold_ttf_size);
    return font;
}

HeapPtr<OwnedImage<RGBA>> squareImage(std::int32_t side, RGBA color) {
    auto image = makeHeap<OwnedImage<RGBA>>(side, side);
    fill(image->view(), color);
    return image;
}

TEST(UILabel, DrawsItsTextCentredInsideItsBoxOnly) {
    Harness h(120, 60);
    auto* label = h.panel.addChild(makeHeap<UILabel>(&h.panel.uiContext(), &lato(), "HEAD SIZE"));
    label->setPosition(IntRect{{20, 20}, {100, 40}});
    label->setTextSize(12.0f);
    label->setTextColor(RGBA{250, 250, 250, 20});
    h.open();
    IntRect ink;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x)
            if (h.diffuseAt(x, y) != test::TestPanel::kBackground)
                ink = ink.expandedBy(IntRect{{x, y}, {x + 1, y + 1}});
    ASSERT_FALSE(ink.empty());
    EXPECT_TRUE(ink.intersection(label->position()) == ink) << "text drawn outside the label";
    EXPECT_NEAR((ink.min.x + ink.max.x) / 2.0, 60.0, 1.5);
    EXPECT_NEAR((ink.min.y + ink.max.y) / 2.0, 30.0, 1.5);
    EXPECT_EQ(h.diffuseAt(60, 30).a == 20 || h.diffuseAt(60, 30) == test::TestPanel::kBackground, true);
}

TEST(UILabel, PlainLabelLetsClicksThroughAndALinkOpensOnlyWebAddresses) {
    RecordingLauncher launcher;
    test::EventLog log;
    Harness h(100, 60);
    auto* below = h.panel.addChild(makeHeap<test::RecordingElement>(&h.panel.uiContext(), "below", &log));
    below->setPosition(IntRect{{0, 0}, {100, 60}});
    below->handlesClicks = true;
    auto* plain = h.panel.addChild(makeHeap<UILabel>(&h.panel.uiContext(), &lato(), "plain"));
    plain->setPosition(IntRect{{0, 0}, {50, 30}});
    plain->setZOrder(1);
    auto* link = h.panel.addChild(makeHeap<UILabel>(&h.panel.uiContext(), &lato(), "link"));
    link->setPosition(IntRect{{50, 30}, {100, 60}});
    link->setZOrder(1);
    link->clickable = true;
    link->targetURL = "https://velmora.example/manual";
    auto& w = h.open();

    EXPECT_TRUE(w.click(10, 10));
    EXPECT_EQ(h.panel.uiContext().focused, below);
    EXPECT_TRUE(RecordingLauncher::urls().empty());

    EXPECT_TRUE(w.click(70, 40));
    EXPECT_EQ(h.panel.uiContext().focused, link);
    ASSERT_EQ(RecordingLauncher::urls().size(), 1u);
    EXPECT_EQ(RecordingLauncher::urls()[0], "https://velmora.example/manual");

    for (const char* bad : {"file:///etc/passwd", "javascript:alert(1)", "https://", "http:///x",
                            "https://a b", "ms-settings:", "\"https://x\"", ""}) {
        link->targetURL = bad;
        EXPECT_TRUE(w.click(70, 40)) << bad;  // still taken
    }
    EXPECT_EQ(RecordingLauncher::urls().size(), 1u);
}

TEST(UILabel, LinkGlowsUnderThePointerAndMoreWhileHeldElsewhere) {
    Harness h(100, 40);
    auto* link = h.panel.addChild(makeHeap<UILabel>(&h.panel.uiContext(), &lato(), "x"));
    link->setPosition(IntRect{{0, 0}, {50, 40}});
    link->clickable = true;
    link->setTextColor(RGBA{200, 200, 200, 230});
    auto& w = h.open();
    EXPECT_EQ(link->currentColor().a, 230);
    w.mouseMove(10, 10);
    EXPECT_EQ(link->currentColor().a, 255);  // +40, capped
    link->setTextColor(RGBA{200, 200, 200, 20});
    EXPECT_EQ(link->currentColor().a, 60);
    w.mouseDown(MouseButton::left);
    w.mouseMove(80, 10);  // held, pointer elsewhere
    EXPECT_EQ(link->currentColor().a, 100);
    w.mouseUp(MouseButton::left);
    EXPECT_EQ(link->currentColor().a, 20);
}

TEST(UILabel, PlaceAroundTextLeavesOnePixelOfMargin) {
    UIContext context;
    UILabel label(&context, &lato(), "WIDTH");
    label.setTextSize(10.0f);
    label.placeAroundText(100.0f, 50.0f);
    const IntRect m = lato().measureText("WIDTH", 10.0f, 0.0f);
    EXPECT_EQ(label.position().width(), m.width() + 2);
    EXPECT_EQ(label.position().height(), m.height() + 2);
    EXPECT_NEAR(label.position().min.x + label.position().width() / 2.0, 100.0, 1.0);
    EXPECT_NEAR(label.position().min.y + label.position().height() / 2.0, 50.0, 1.0);
}

TEST(UILogo, BlendsItsImageAndGlowsUnderThePointer) {
    RecordingLauncher launcher;
    Harness h(80, 60);
    auto* logo =
        h.panel.addChild(makeHeap<UILogo>(&h.panel.uiContext(), squareImage(20, RGBA{255, 0, 0, 255})));
    logo->setPosition(IntRect{{10, 10}, {40, 40}});  // larger than the image: the rest is untouched
    logo->baseEmissive = 0;
    logo->hoverEmissive = 80;
    logo->restEmissive = 10;
    logo->targetURL = "http://velmora.example/";
    auto& w = h.open();
    EXPECT_EQ(h.diffuseAt(15, 15), (RGBA{255, 0, 0, 10}));  // 255 * 10 / 256, rounded
    EXPECT_EQ(h.diffuseAt(35, 35), test::TestPanel::kBackground);
    w.mouseMove(15, 15);
    h.ticks(30);
    EXPECT_GT(logo->hoverAnimation, 0.99f);
    EXPECT_EQ(h.diffuseAt(15, 15).a, 80);
    w.mouseMove(70, 50);
    h.ticks(30);
    EXPECT_LT(logo->hoverAnimation, 0.01f);
    EXPECT_EQ(h.diffuseAt(15, 15).a, 10);
    EXPECT_TRUE(w.click(12, 12));
    ASSERT_EQ(RecordingLauncher::urls().size(), 1u);
    EXPECT_EQ(RecordingLauncher::urls()[0], "http://velmora.example/");
}

TEST(UIColorCorrection, NeutralLevelsAreTheIdentityAndTablesGradeTheRawLayer) {
    std::array<std::uint8_t, 256> table{};
    UIColorCorrection::buildTable(UIColorCorrection::Levels{0.0f, 1.0f, 1.0f, 0.0f}, table);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(table[static_cast<std::size_t>(i)], i);
    // Black lifts the bottom, gain scales, contrast bends toward the S-curve; ends stay in range.
    UIColorCorrection::buildTable(UIColorCorrection::Levels{0.07f, 0.89f, 1.025f, 0.215f}, table);
    EXPECT_GT(table[0], 0);
    EXPECT_EQ(table[255], 255);
    for (int i = 1; i < 256; ++i)
        ASSERT_GE(table[static_cast<std::size_t>(i)], table[static_cast<std::size_t>(i - 1)]);
    // Levels that are not numbers give a dark table, never undefined conversions.
    UIColorCorrection::buildTable(UIColorCorrection::Levels{NAN, 1.0f, NAN, 0.0f}, table);
    EXPECT_EQ(table[128], 0);

    Harness h(40, 30);
    auto* cc = h.panel.addChild(makeHeap<UIColorCorrection>(&h.panel.uiContext()));
    cc->setPosition(IntRect{{0, 0}, {40, 30}});
    auto& w = h.open();
    const RGBA before = w.screen().at(20, 15);
    const float levels[3][4] = {{0, 1, 0, 0}, {0, 1, 1, 0}, {1, 1, 1, 0}};  // red off, green kept, blue full
    cc->setLevelsMatrix(levels);
    w.tick();
    const RGBA after = w.screen().at(20, 15);
    EXPECT_EQ(after.r, 0);
    EXPECT_EQ(after.g, before.g);
    EXPECT_EQ(after.b, 255);
    EXPECT_EQ(after.a, 255);
}

}  // namespace
}  // namespace korvo
