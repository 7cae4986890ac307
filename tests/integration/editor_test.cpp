// The editor through the real module in a real window, as a host opens it: the test module's
// editor (testplugin/testeditor.h) in our host's top-level window (X11 natively, Win32 under Wine),
// driven by system input, with the edits the host receives and the picture it shows.
#include "tools/vst3host/editor.h"

#include <gtest/gtest.h>

#include "korvo/window/screenshot.h"
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
    int different = 0;
    for (std::int32_t y = 0; y < real.height; ++y)
        for (std::int32_t x = 0; x < real.width; ++x) {
            const korvo::RGBA h = headless->view().at(x, y);
            const std::uint8_t* r = &real.rgba[(static_cast<std::size_t>(y) * real.width + x) * 4];
            if (r[0] != h.r || r[1] != h.g || r[2] != h.b) {
                if (different++ < 5) ADD_FAILURE() << "pixel " << x << "," << y << " differs";
            }
        }
    EXPECT_EQ(different, 0);
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

TEST(Vst3EditorProduct, AModuleWithoutAnEditorOffersNoView) {
    LoadedModule module(velmoraBundlePath());
    ASSERT_TRUE(module.loaded());
    HostApplication host;
    auto plugin = module.instance(&host);
    EXPECT_EQ(plugin->controller->createView("editor"), nullptr);
}

}  // namespace
}  // namespace vst3it
