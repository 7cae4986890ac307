// The product's editor at the screen's scale, through the module loaded by the real loader: the
// view's sizes, factors and constraints as a host sees them, the user's zoom kept in the
// controller's state, a new factor while attached (resized through the frame, redrawn at the new
// scale), clicks and drags in the real window at 2 and 1.5 (natively and under Wine), the size
// menu, and the monitor's scale when the host gives none (Xft.dpi natively, LogPixels under Wine).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "effect/gui.h"
#include "effect/main.h"
#include "korvo/widgets/label.h"
#include "tools/offscreen/screenshot.h"
#include "tests/integration/editorpicture.h"
#include "tests/integration/vst3fixture.h"
#include "tools/vst3host/editor.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "tests/support/xvfb.h"
#endif

namespace vst3it {
namespace {

using vst3host::EditorHost;
using vst3host::Image;
using vst3host::MemoryStream;
using K = ComponentHandler::Kind;

v::ViewRect rectOf(std::int32_t w, std::int32_t h) {
    return v::ViewRect{0, 0, w, h};
}
std::pair<int, int> sizeOf(const v::ViewRect& r) {
    return {r.right - r.left, r.bottom - r.top};
}

class Vst3ScaledEditor : public ::testing::Test {
protected:
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
    }
    void TearDown() override {
        editor.close();
        plugin.reset();
        module.reset();
    }
    v::IPlugViewContentScaleSupport* scaleSupport(v::IPlugView* view) {
        void* face = nullptr;
        EXPECT_EQ(view->queryInterface(v::iidIPlugViewContentScaleSupport.data(), &face), v::kResultOk);
        return static_cast<v::IPlugViewContentScaleSupport*>(face);
    }
    double lastValue(v::ParamID id) {
        double value = -1.0;
        for (const ComponentHandler::Call& call : handler.calls)
            if (call.kind == K::performEdit && call.id == id) value = call.value;
        return value;
    }
    Image shot() {
        Image image;
        std::string error;
        EXPECT_TRUE(editor.screenshot(image, error)) << error;
        return image;
    }

    HostApplication host{"vst3host test"};
    ComponentHandler handler;
    std::unique_ptr<LoadedModule> module;
    std::unique_ptr<Plugin> plugin;
    EditorHost editor;
};

TEST_F(Vst3ScaledEditor, SizesFactorsConstraintsAndTheZoomInTheControllerState) {
    v::IPlugView* view = plugin->controller->createView(v::kEditorViewType);
    ASSERT_NE(view, nullptr);
    v::IPlugViewContentScaleSupport* scale = scaleSupport(view);
    ASSERT_NE(scale, nullptr);
    v::ViewRect r{};
    ASSERT_EQ(view->getSize(&r), v::kResultOk);
    EXPECT_EQ(sizeOf(r), (std::pair{763, 494}));
    EXPECT_EQ(view->canResize(), v::kResultTrue);

    // Refused factors change nothing.
    for (const float bad : {0.49f, 4.01f, NAN, INFINITY, -INFINITY, 0.0f}) {
        EXPECT_EQ(scale->setContentScaleFactor(bad), v::kResultFalse) << bad;
        ASSERT_EQ(view->getSize(&r), v::kResultOk);
        EXPECT_EQ(sizeOf(r), (std::pair{763, 494})) << bad;
    }
    ASSERT_EQ(scale->setContentScaleFactor(1.5f), v::kResultOk);
    ASSERT_EQ(view->getSize(&r), v::kResultOk);
    EXPECT_EQ(sizeOf(r), (std::pair{1145, 741}));
    ASSERT_EQ(scale->setContentScaleFactor(2.0f), v::kResultOk);
    ASSERT_EQ(view->getSize(&r), v::kResultOk);
    EXPECT_EQ(sizeOf(r), (std::pair{1526, 988}));

    // Requests become the nearest size of the editor's aspect within 75 % to 300 % of the screen
    // scale (here 2, so 1.5 to 4 after the cap); the rectangle keeps its origin.
    struct Case {
        v::ViewRect in;
        std::pair<int, int> want;
    };
    const Case cases[] = {
        {rectOf(0, 0), {1145, 741}},                      // zero: the smallest
        {rectOf(3, 2), {1145, 741}},                      // tiny
        {rectOf(1 << 30, 1 << 30), {3052, 1976}},         // huge: the largest scale drawn
        {rectOf(2000, 800), {1774, 1149}},                // wrong aspect: the nearest on the line
        {v::ViewRect{100, 50, 1626, 1038}, {1526, 988}},  // already a size, not at the origin
        {v::ViewRect{10, 10, 0, 0}, {1145, 741}},         // negative: the smallest
    };
    for (const Case& c : cases) {
        v::ViewRect rect = c.in;
        ASSERT_EQ(view->checkSizeConstraint(&rect), v::kResultOk);
        EXPECT_EQ(rect.left, c.in.left);
        EXPECT_EQ(rect.top, c.in.top);
        EXPECT_EQ(sizeOf(rect), c.want) << c.in.right << " x " << c.in.bottom;
    }
    EXPECT_EQ(view->checkSizeConstraint(nullptr), v::kInvalidArgument);

    // The host's size sets the user's zoom (1145 / 1526 = 75 % at scale 2), which the controller's
    // state keeps and a new instance opens at (on its screen scale, 1 here).
    v::ViewRect given = rectOf(1145, 741);
    ASSERT_EQ(view->onSize(&given), v::kResultOk);
    ASSERT_EQ(view->getSize(&r), v::kResultOk);
    EXPECT_EQ(sizeOf(r), (std::pair{1145, 741}));
    MemoryStream saved;
    ASSERT_EQ(plugin->controller->getState(&saved), v::kResultOk);
    ASSERT_EQ(saved.bytes().size(), 9u);
    EXPECT_EQ(std::memcmp(saved.bytes().data(), "KZED\x01", 5), 0);
    scale->release();
    view->release();

    auto other = module->instance(&host);
    ASSERT_TRUE(other->ok());
    saved.rewind();
    ASSERT_EQ(other->controller->setState(&saved), v::kResultOk);
    v::IPlugView* second = other->controller->createView(v::kEditorViewType);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(second->getSize(&r), v::kResultOk);
    EXPECT_EQ(sizeOf(r), (std::pair{572, 371}));
    // A project saved before the editor kept a state has none: 100 %. A damaged or foreign state
    // is refused and changes nothing.
    MemoryStream damaged(std::vector<std::uint8_t>{'K', 'Z', 'E', 'X', 1, 0, 0, 0x80, 0x3F});
    EXPECT_EQ(other->controller->setState(&damaged), v::kResultFalse);
    MemoryStream shortState(std::vector<std::uint8_t>{'K', 'Z', 'E', 'D', 1, 0});
    EXPECT_EQ(other->controller->setState(&shortState), v::kResultFalse);
    ASSERT_EQ(second->getSize(&r), v::kResultOk);
    EXPECT_EQ(sizeOf(r), (std::pair{572, 371}));
    MemoryStream old;
    EXPECT_EQ(other->controller->setState(&old), v::kResultOk);
    ASSERT_EQ(second->getSize(&r), v::kResultOk);
    EXPECT_EQ(sizeOf(r), (std::pair{763, 494}));
    second->release();
}

TEST_F(Vst3ScaledEditor, ANewFactorWhileAttachedResizesThroughTheFrameAndRedrawsAtTheNewScale) {
    std::string error;
    ASSERT_TRUE(editor.open(plugin->controller, error)) << error;
    EXPECT_EQ(sizeOf(editor.size()), (std::pair{763, 494}));
    ASSERT_TRUE(editor.rescale(2.0f, error)) << error;
    EXPECT_EQ(editor.frame().resizeRequests(), 1);
    EXPECT_EQ(sizeOf(editor.frame().lastResizeRequest()), (std::pair{1526, 988}));
    EXPECT_EQ(sizeOf(editor.size()), (std::pair{1526, 988}));
    ASSERT_TRUE(editor.settle());
    const Image real = shot();
    ASSERT_EQ(real.width, 1526);
    ASSERT_EQ(real.height, 988);
    // What the editor renders off-screen at 2.
    EXPECT_EQ(pixelsDifferingFromTheOffScreenEditor(real, 2.0f), 0);
    // The same factor again asks for nothing.
    ASSERT_TRUE(editor.rescale(2.0f, error)) << error;
    EXPECT_EQ(editor.frame().resizeRequests(), 1);
}

// The host's "parameter under the mouse": the control's parameter in view pixels at the view's
// scale, nothing over the panel.
TEST_F(Vst3ScaledEditor, TheHostFindsTheParameterUnderTheMouseAtTheViewsScale) {
    std::string error;
    ASSERT_TRUE(editor.open(plugin->controller, error)) << error;
    void* face = nullptr;
    ASSERT_EQ(editor.view()->queryInterface(v::iidIParameterFinder.data(), &face), v::kResultOk);
    auto* finder = static_cast<v::IParameterFinder*>(face);
    const auto find = [&](int x, int y) {
        v::ParamID id = 12345;
        return finder->findParameter(x, y, id) == v::kResultOk ? static_cast<int>(id) : -1;
    };
    EXPECT_EQ(find(398, 354), velmora::kPan);
    EXPECT_EQ(find(262, 158), velmora::kPan);  // the panorama
    EXPECT_EQ(find(703, 440), velmora::kTestMono);
    EXPECT_EQ(find(300, 20), -1);
    ASSERT_TRUE(editor.rescale(2.0f, error)) << error;
    EXPECT_EQ(find(796, 708), velmora::kPan);
    EXPECT_EQ(find(1406, 880), velmora::kTestMono);
    EXPECT_EQ(find(600, 40), -1);
    finder->release();
}

// A drag of 24 base pixels up on the pan knob and a click on "Test Mono", at 1, 2 and 1.5: the
// same widgets take them, and the pan moves by the same amount.
TEST_F(Vst3ScaledEditor, ClicksAndDragsLandOnTheSameWidgetWithTheSameChangeAtEveryScale) {
    double change[3] = {};
    const float scales[3] = {1.0f, 2.0f, 1.5f};
    for (int i = 0; i < 3; ++i) {
        const float s = scales[i];
        SCOPED_TRACE("scale " + std::to_string(s));
        ComponentHandler calls;  // outlives the instance, which gives it back when it goes
        auto instance = module->instance(&host);
        ASSERT_TRUE(instance->ok());
        ASSERT_EQ(instance->controller->setComponentHandler(&calls), v::kResultOk);
        EditorHost window;
        std::string error;
        ASSERT_TRUE(window.open(instance->controller, error, s)) << error;
        ASSERT_TRUE(window.settle());
        const auto at = [s](int v) { return static_cast<std::int32_t>(std::lround(v * s)); };
        const double before = instance->controller->getParamNormalized(velmora::kPan);
        window.mouseMove(at(398), at(354));
        window.mouseButton(1, true);
        for (int step = 1; step <= 4; ++step) window.mouseMove(at(398), at(354 - 6 * step));
        window.mouseButton(1, false);
        window.mouseMove(at(703), at(440));
        window.mouseButton(1, true);
        window.mouseButton(1, false);
        window.run(50);
        change[i] = instance->controller->getParamNormalized(velmora::kPan) - before;
        bool mono = false, panOnly = true;
        for (const ComponentHandler::Call& call : calls.calls) {
            if (call.kind != K::performEdit) continue;
            mono = mono || (call.id == velmora::kTestMono && call.value == 1.0);
            panOnly = panOnly && (call.id == velmora::kPan || call.id == velmora::kTestMono);
        }
        EXPECT_TRUE(mono);
        EXPECT_TRUE(panOnly);
        window.close();
    }
    EXPECT_GT(change[0], 0.02);
    EXPECT_NEAR(change[1], change[0], 1e-6);
    EXPECT_NEAR(change[2], change[0], 1e-6);
}

// A right click on the panel (no control there) opens the size menu; choosing 150 % makes the
// editor ask the host for its new size through the frame, and the zoom goes into the state.
TEST_F(Vst3ScaledEditor, TheSizeMenuZoomsTheEditorThroughTheHost) {
    std::string error;
    ASSERT_TRUE(editor.open(plugin->controller, error)) << error;
    ASSERT_TRUE(editor.settle());
    const Image closed = shot();
    editor.mouseMove(250, 30);
    editor.mouseButton(3, true);
    editor.mouseButton(3, false);
    ASSERT_TRUE(editor.settle());
    EXPECT_NE(shot().rgba, closed.rgba);  // the menu shows
    EXPECT_EQ(editor.frame().resizeRequests(), 0);
    // Rows of 15 base pixels below 4 of padding: "150 %" is the fourth.
    editor.mouseMove(280, 30 + 4 + 15 * 3 + 7);
    editor.mouseButton(1, true);
    editor.mouseButton(1, false);
    editor.run(50);
    EXPECT_EQ(editor.frame().resizeRequests(), 1);
    EXPECT_EQ(sizeOf(editor.size()), (std::pair{1145, 741}));
    MemoryStream saved;
    ASSERT_EQ(plugin->controller->getState(&saved), v::kResultOk);
    float zoom = 0.0f;
    ASSERT_EQ(saved.bytes().size(), 9u);
    std::memcpy(&zoom, saved.bytes().data() + 5, 4);
    EXPECT_FLOAT_EQ(zoom, 1.5f);
    EXPECT_TRUE(handler.calls.empty());  // no parameter was touched
}

#if !defined(_WIN32)
// The X server's Xft.dpi resource, as desktops set it for a HiDPI screen: 192 dpi gives scale 2
// when the host gives no factor; a host factor wins.
TEST_F(Vst3ScaledEditor, TheServersXftDpiSetsTheScaleWhenTheHostGivesNone) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window root = DefaultRootWindow(display);
    const char resources[] = "Xft.antialias:\t1\nXft.dpi:\t192\n";
    XChangeProperty(display, root, XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources),
                    static_cast<int>(std::strlen(resources)));
    XSync(display, False);
    std::string error;
    const bool opened = editor.open(plugin->controller, error);
    const std::pair<int, int> size = sizeOf(editor.size());
    const bool rescaled = opened && editor.rescale(1.0f, error);
    const std::pair<int, int> hostSize = sizeOf(editor.size());
    editor.close();
    XDeleteProperty(display, root, XA_RESOURCE_MANAGER);
    XCloseDisplay(display);
    ASSERT_TRUE(opened) << error;
    EXPECT_EQ(size, (std::pair{1526, 988}));
    ASSERT_TRUE(rescaled) << error;
    EXPECT_EQ(hostSize, (std::pair{763, 494}));
}
#else
// The prefix's LogPixels at 192 dpi: a new host process, DPI aware as current hosts are, opens
// the editor at scale 2 without a host factor, and at 1 with a host factor of 1.
TEST_F(Vst3ScaledEditor, TheSystemsDpiSetsTheScaleWhenTheHostGivesNone) {
    HKEY desktop = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                            &desktop),
              ERROR_SUCCESS);
    const DWORD dpi = 192;
    ASSERT_EQ(
        RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi),
        ERROR_SUCCESS);
    const auto run = [](const std::string& extra) {
        std::string command = "\"" + platformPath(VST3HOST_EXE) + "\" editor \"" +
                              platformPath(VELMORA_BUNDLE) + "\" --time 0" + extra;
        std::string output;
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return output;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = writeEnd;
        si.hStdError = writeEnd;
        PROCESS_INFORMATION pi{};
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        const BOOL started =
            CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(writeEnd);
        if (started) {
            char buffer[4096];
            DWORD got = 0;
            while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
                output.append(buffer, got);
            WaitForSingleObject(pi.hProcess, 60000);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
        CloseHandle(readEnd);
        return output;
    };
    const std::string monitor = run(""), hostFactor = run(" --scale 1");
    RegDeleteValueW(desktop, L"LogPixels");
    RegCloseKey(desktop);
    EXPECT_NE(monitor.find("editor: 1526 x 988"), std::string::npos) << monitor;
    EXPECT_NE(hostFactor.find("editor: 763 x 494"), std::string::npos) << hostFactor;
}
#endif

}  // namespace
}  // namespace vst3it
