// The text field through the headless window: editing keys, selection by keys and mouse, UTF-8
// kept whole, the length limit, and how it ends (Enter, Escape, the focus going elsewhere).
#include "korvo/widgets/textfield.h"

#include <gtest/gtest.h>

#include "korvo/gui/context.h"
#include "korvo_resources_resources.h"
#include "tests/korvo/widgets/widget_test_util.h"

namespace korvo {
namespace {

Font& lato() {
    static Font font(resources::Lato_Semibold_ttf, resources::Lato_Semibold_ttf_size);
    return font;
}

// A field over most of a small panel, with a clickable element beside it.
class Other final : public UIElement {
public:
    using UIElement::UIElement;
    bool onMouseClick(std::int32_t, std::int32_t, MouseButton, bool, MouseState) override { return true; }
};

struct FieldHarness {
    FieldHarness() : h(200, 60) {
        field = h.panel.addChild(makeHeap<UITextField>(&h.panel.uiContext(), &lato()));
        other = h.panel.addChild(makeHeap<Other>(&h.panel.uiContext(), ElementFlags::none));
        other->setPosition(IntRect{{0, 40}, {200, 60}});
        h.open();
    }
    void begin(std::string text) {
        field->begin(IntRect{{10, 10}, {190, 30}}, std::move(text),
                     [this](const std::string& t) { entered.push_back(t); }, [this] { ++cancels; });
    }
    void type(std::string_view text) {
        h.window->keyDown(Key::unsupported);
        h.window->textInput(text);
    }
    test::Harness h;
    UITextField* field = nullptr;
    Other* other = nullptr;
    std::vector<std::string> entered;
    int cancels = 0;
};

TEST(TextField, EditingKeysMoveTheCaretSelectAndEraseWholeCharacters) {
    FieldHarness f;
    f.begin("Pad");
    EXPECT_EQ(f.h.panel.uiContext().focused, f.field);
    EXPECT_EQ(f.field->anchor(), 0u);  // all selected: typing replaces it
    EXPECT_EQ(f.field->caret(), 3u);
    f.type("Str\xC3\xA9");  // "Stré"
    EXPECT_EQ(f.field->text(), "Str\xC3\xA9");
    const MouseState shift{.shift = true};
    f.h.window->keyDown(Key::arrowLeft);  // over the two bytes of the é at once
    EXPECT_EQ(f.field->caret(), 3u);
    f.h.window->keyDown(Key::arrowLeft, shift);
    f.h.window->keyDown(Key::arrowLeft, shift);
    f.type("i");
    EXPECT_EQ(f.field->text(), "Si\xC3\xA9");
    f.h.window->keyDown(Key::deleteKey);
    EXPECT_EQ(f.field->text(), "Si");
    f.h.window->keyDown(Key::home);
    f.h.window->keyDown(Key::deleteKey);
    f.h.window->keyDown(Key::end);
    f.h.window->keyDown(Key::backspace);
    EXPECT_EQ(f.field->text(), "");
    f.h.window->keyDown(Key::backspace);  // nothing left: nothing happens
    f.type("ab");
    f.h.window->keyDown(Key::a, MouseState{.ctrl = true});
    EXPECT_EQ(f.field->anchor(), 0u);
    EXPECT_EQ(f.field->caret(), 2u);
    // Every key stays with the field while it edits, so no host shortcut fires while typing.
    EXPECT_TRUE(f.h.window->keyDown(Key::space));
    EXPECT_TRUE(f.h.window->keyDown(Key::z, MouseState{.ctrl = true}));
    EXPECT_TRUE(f.h.window->keyDown(Key::enter));
    EXPECT_EQ(f.entered, (std::vector<std::string>{"ab"}));
    EXPECT_FALSE(f.field->isEditing());
    EXPECT_FALSE(f.h.window->keyDown(Key::space));  // closed: the keys go on
}

TEST(TextField, TheMousePlacesAndDragsTheSelectionAndAClickElsewhereCancels) {
    FieldHarness f;
    f.begin("Wide Pad");
    f.h.window->click(14, 20);  // at the text's start
    EXPECT_EQ(f.field->caret(), 0u);
    EXPECT_EQ(f.field->anchor(), 0u);
    f.h.window->mouseMove(17, 20);
    f.h.window->mouseDown(MouseButton::left);
    f.h.window->mouseMove(185, 20, MouseState{.left = true});  // past the end: all of it
    f.h.window->mouseUp(MouseButton::left);
    EXPECT_EQ(f.field->caret(), 8u);
    EXPECT_EQ(f.field->anchor(), 0u);
    f.h.window->click(100, 50);  // the other element takes the click and the focus
    EXPECT_FALSE(f.field->isEditing());
    EXPECT_EQ(f.cancels, 1);
    EXPECT_TRUE(f.entered.empty());
    f.begin("x");
    EXPECT_TRUE(f.h.window->keyDown(Key::escape));
    EXPECT_EQ(f.cancels, 2);
}

TEST(TextField, TextStopsAtTheLimitWithoutCuttingACharacter) {
    FieldHarness f;
    f.begin(std::string(UITextField::kMaxBytes - 1, 'a'));
    f.h.window->keyDown(Key::end);
    f.type("\xC3\xA9");  // two bytes where one is left: not typed
    EXPECT_EQ(f.field->text().size(), UITextField::kMaxBytes - 1);
    f.type("b\x01");  // control characters are not text
    EXPECT_EQ(f.field->text().size(), UITextField::kMaxBytes);
    EXPECT_EQ(f.field->text().back(), 'b');
}

}  // namespace
}  // namespace korvo
