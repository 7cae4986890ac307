// The editor in a CLAP host, through Velmora.clap loaded by the real loader: the gui calls'
// rules as hosts make them (before create, floating, scales, adjust_size and set_size agreeing),
// and in a real window (natively on Xvfb through timer-support and posix-fd-support, under Wine
// as a child window): a drag reaches the host as a gesture of plain values, through flush while
// the instance does not process and through process while it does, and a new scale makes the
// editor ask for its size and draw what the editor renders off-screen.
#include <cstring>

#include "effect/gui.h"
#include "effect/main.h"
#include "korvo/widgets/label.h"
#include "tools/offscreen/screenshot.h"
#include "tests/integration/clap/clapfixture.h"
#include "tests/integration/editorpicture.h"
#include "tools/claphost/editor.h"

#if !defined(_WIN32)
#include "tests/support/xvfb.h"
#endif

namespace clapit {
namespace {

using claphost::OutputList;
using Event = std::vector<std::uint8_t>;

std::pair<std::uint32_t, std::uint32_t> sizeOf(const c::PluginGui* gui, const c::Plugin* plugin) {
    std::uint32_t w = 0, h = 0;
    EXPECT_TRUE(gui->getSize(plugin, &w, &h));
    return {w, h};
}

// The events of a list as (type, id, value) in order.
struct Sent {
    std::uint16_t type;
    c::ClapId id;
    double value;
};
std::vector<Sent> decode(const std::vector<Event>& events) {
    std::vector<Sent> out;
    for (const Event& bytes : events) {
        c::EventHeader header{};
        std::memcpy(&header, bytes.data(), sizeof header);
        Sent s{header.type, c::kInvalidId, 0.0};
        if (header.type == c::kEventParamValue) {
            c::EventParamValue e{};
            std::memcpy(&e, bytes.data(), sizeof e);
            s.id = e.paramId, s.value = e.value;
        } else {
            c::EventParamGesture e{};
            std::memcpy(&e, bytes.data(), sizeof e);
            s.id = e.paramId;
        }
        out.push_back(s);
    }
    return out;
}

// One gesture on one parameter: a begin, at least one value, an end, nothing else.
void expectGesture(const std::vector<Sent>& sent, c::ClapId id) {
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent.front().type, c::kEventParamGestureBegin);
    EXPECT_EQ(sent.back().type, c::kEventParamGestureEnd);
    for (const Sent& s : sent) EXPECT_EQ(s.id, id);
    for (std::size_t i = 1; i + 1 < sent.size(); ++i) {
        EXPECT_EQ(sent[i].type, c::kEventParamValue);
        EXPECT_GE(sent[i].value, 0.0);
        EXPECT_LE(sent[i].value, 1.0);
    }
}

TEST(ClapGui, TheCallsFollowTheHostsOrderAndTheEditorsSizeRules) {
    LoadedClap clap(velmoraClapPath());
    Host host;
    auto instance = clap.instance(host);
    const c::Plugin* p = instance->plugin;
    const auto* gui = static_cast<const c::PluginGui*>(p->getExtension(p, c::kExtGui));
    ASSERT_NE(gui, nullptr);
#if !defined(_WIN32)
    ASSERT_NE(p->getExtension(p, c::kExtTimerSupport), nullptr);
    ASSERT_NE(p->getExtension(p, c::kExtPosixFdSupport), nullptr);
#endif
    const char* api = claphost::EditorHost::api();
    const char* preferred = nullptr;
    bool floating = true;
    ASSERT_TRUE(gui->getPreferredApi(p, &preferred, &floating));
    EXPECT_STREQ(preferred, api);
    EXPECT_FALSE(floating);
    EXPECT_TRUE(gui->isApiSupported(p, api, false));
    EXPECT_FALSE(gui->isApiSupported(p, api, true));
    EXPECT_FALSE(gui->isApiSupported(p, "cocoa", false));
    EXPECT_FALSE(gui->isApiSupported(p, nullptr, false));

    // Before create everything but the questions fails; floating and foreign windows are refused.
    std::uint32_t w = 0, h = 0;
    EXPECT_FALSE(gui->getSize(p, &w, &h));
    EXPECT_FALSE(gui->setScale(p, 2.0));
    EXPECT_FALSE(gui->canResize(p));
    EXPECT_FALSE(gui->show(p));
    EXPECT_FALSE(gui->create(p, api, true));
    EXPECT_FALSE(gui->create(p, nullptr, false));
    ASSERT_TRUE(gui->create(p, api, false));
    EXPECT_FALSE(gui->create(p, api, false));
    EXPECT_EQ(sizeOf(gui, p), (std::pair<std::uint32_t, std::uint32_t>{763, 494}));
    EXPECT_FALSE(gui->setTransient(p, nullptr));
    const c::Window foreign{"cocoa", {}};
    EXPECT_FALSE(gui->setParent(p, &foreign));
    EXPECT_FALSE(gui->setParent(p, nullptr));

    // Scales from 0.5 to 4; others are refused and change nothing.
    for (const double bad : {0.49, 4.01, 0.0, -1.0, double(NAN), double(INFINITY)}) EXPECT_FALSE(gui->setScale(p, bad)) << bad;
    EXPECT_EQ(sizeOf(gui, p), (std::pair<std::uint32_t, std::uint32_t>{763, 494}));
    ASSERT_TRUE(gui->setScale(p, 2.0));
    EXPECT_EQ(sizeOf(gui, p), (std::pair<std::uint32_t, std::uint32_t>{1526, 988}));
    ASSERT_TRUE(gui->canResize(p));
    c::GuiResizeHints hints{};
    ASSERT_TRUE(gui->getResizeHints(p, &hints));
    EXPECT_TRUE(hints.canResizeHorizontally && hints.canResizeVertically && hints.preserveAspectRatio);
    EXPECT_EQ(hints.aspectRatioWidth * 494, hints.aspectRatioHeight * 763);

    // adjust_size: the nearest size of the editor's aspect within 75 % to 300 % of the scale
    // (capped at 4), as the VST3 view's constraint; it keeps its own answers and get_size's, and
    // set_size takes every one of them.
    struct Case {
        std::uint32_t w, h, wantW, wantH;
    };
    for (const Case& k : {Case{0, 0, 1145, 741}, Case{4000000000u, 4000000000u, 3052, 1976},
                          Case{2000, 800, 1774, 1149}, Case{1526, 988, 1526, 988}}) {
        w = k.w, h = k.h;
        ASSERT_TRUE(gui->adjustSize(p, &w, &h));
        EXPECT_EQ(w, k.wantW) << k.w << " x " << k.h;
        EXPECT_EQ(h, k.wantH) << k.w << " x " << k.h;
        std::uint32_t again = w, againH = h;
        ASSERT_TRUE(gui->adjustSize(p, &again, &againH));
        EXPECT_EQ(again, w);
        EXPECT_EQ(againH, h);
        ASSERT_TRUE(gui->setSize(p, w, h));
        EXPECT_EQ(sizeOf(gui, p), (std::pair{w, h}));
    }
    gui->destroy(p);
    EXPECT_FALSE(gui->getSize(p, &w, &h));
    EXPECT_TRUE(gui->create(p, api, false));  // made again after destroy; the instance destroys it
}

#if !defined(_WIN32)
// On Linux the editor's window runs on the host's loop: a host without timer and descriptor
// support gets no editor.
TEST(ClapGui, WithoutTheHostsLoopThereIsNoEditorOnLinux) {
    LoadedClap clap(velmoraClapPath());
    Host host;
    host.offerGui = false;
    auto instance = clap.instance(host);
    const c::Plugin* p = instance->plugin;
    const auto* gui = static_cast<const c::PluginGui*>(p->getExtension(p, c::kExtGui));
    ASSERT_NE(gui, nullptr);
    EXPECT_FALSE(gui->create(p, claphost::EditorHost::api(), false));
}
#endif

class ClapEditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
#if !defined(_WIN32)
        korvo::test::XvfbDisplay& x = korvo::test::XvfbDisplay::shared();
        ASSERT_TRUE(x.ok()) << x.error();
#endif
        clap = std::make_unique<LoadedClap>(velmoraClapPath());
        instance = clap->instance(host);
        ASSERT_TRUE(instance->ok());
        editor = std::make_unique<claphost::EditorHost>(host, *instance);
    }
    void TearDown() override {
        editor.reset();
        instance.reset();
    }
    // 24 pixels up on the pan knob (pressed at x, away from the last press: no double click).
    void dragPan(double scale = 1.0, int x = 398) {
        const auto at = [scale](int v) { return static_cast<std::int32_t>(std::lround(v * scale)); };
        vst3host::EditorHost& w = editor->window();
        w.mouseMove(at(x), at(354));
        w.mouseButton(1, true);
        for (int step = 1; step <= 4; ++step) w.mouseMove(at(x), at(354 - 6 * step));
        w.mouseButton(1, false);
        editor->run(40);
    }

    Host host{"claphost test"};
    std::unique_ptr<LoadedClap> clap;
    std::unique_ptr<Instance> instance;
    std::unique_ptr<claphost::EditorHost> editor;
};

TEST_F(ClapEditorWindow, ADragReachesTheHostAsAGestureThroughFlushOrProcess) {
    std::string error;
    ASSERT_TRUE(editor->open(error)) << error;
    ASSERT_TRUE(editor->settle());
    const double before = instance->value(velmora::kPan);
    dragPan();
    // Not processing: the editor asked for flushes, which carried the gesture.
    EXPECT_GT(host.flushRequests.load(), 0);
    const std::vector<Sent> flushed = decode(editor->edits);
    expectGesture(flushed, velmora::kPan);
    const double after = instance->value(velmora::kPan);
    EXPECT_GT(after, before + 0.02);
    EXPECT_NEAR(flushed[flushed.size() - 2].value, after, 1e-6);

    // Processing: the next block carries the next gesture, flush sends nothing more.
    ASSERT_TRUE(instance->prepare(48000.0, 256));
    editor->edits.clear();
    dragPan(1.0, 420);
    EXPECT_TRUE(editor->edits.empty());
    Buffers in(2, 256), outAudio(2, 256);
    OutputList out;
    ASSERT_NE(instance->process(in.ptrs(), 2, outAudio.ptrs(), 2, 256, nullptr, nullptr, &out), c::kProcessError);
    const std::vector<Sent> processed = decode(out.events);
    expectGesture(processed, velmora::kPan);
    EXPECT_GT(processed[processed.size() - 2].value, after + 0.02);
    OutputList none;
    ASSERT_NE(instance->process(in.ptrs(), 2, outAudio.ptrs(), 2, 256, nullptr, nullptr, &none), c::kProcessError);
    EXPECT_TRUE(none.events.empty());
}

TEST_F(ClapEditorWindow, ANewScaleAsksTheHostForTheSizeAndDrawsTheOffScreenPicture) {
    std::string error;
    ASSERT_TRUE(editor->open(error)) << error;
    EXPECT_EQ(editor->resizeRequests, 0);
    ASSERT_TRUE(editor->rescale(2.0, error)) << error;
    EXPECT_EQ(editor->resizeRequests, 1);
    EXPECT_EQ(editor->width(), 1526u);
    EXPECT_EQ(editor->height(), 988u);
    ASSERT_TRUE(editor->settle());
    vst3host::Image real;
    ASSERT_TRUE(editor->window().screenshot(real, error)) << error;
    ASSERT_EQ(real.width, 1526);
    EXPECT_EQ(vst3it::pixelsDifferingFromTheOffScreenEditor(real, 2.0f), 0);
    // A drag of the window's frame; then input lands where the picture shows the knob.
    ASSERT_TRUE(editor->resize(1200, 1200, error)) << error;
    EXPECT_EQ(editor->width(), 1393u);  // the nearest size of the editor's shape
    EXPECT_EQ(editor->height(), 902u);
    EXPECT_EQ(editor->resizeRequests, 1);  // the host's own size is not asked back
    ASSERT_TRUE(editor->settle());
    dragPan(1393.0 / 763.0);
    expectGesture(decode(editor->edits), velmora::kPan);
}

}  // namespace
}  // namespace clapit
