// Frame times of the editor in a real X11 window (on a private Xvfb) at the editor's size
// (763 x 494), per 15 ms tick as the host's run loop calls it: idle (nothing changed), while
// dragging (one 40 x 40 element redrawn per tick, as a dragged knob is) and a full redraw. Each
// tick includes the animation pass, the dirty areas, the frame on the two-worker pool, the copy
// to the window (XPutImage) and the server having taken it (XSync).
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>

#include <cstdio>

#include "tools/offscreen/demoscene.h"
#include "korvo/window/eventloop.h"
#include "korvo/window/x11window.h"
#include "tests/support/xvfb.h"

namespace {

constexpr std::int32_t kWidth = 763;
constexpr std::int32_t kHeight = 494;

// Keeps the window's timer client, so a benchmark iteration is one tick.
class TickLoop final : public korvo::IEventLoop {
public:
    korvo::IEventLoopClient* timer = nullptr;
    korvo::IEventLoopClient* file = nullptr;
    bool watchFile(int, korvo::IEventLoopClient* client) override { return (file = client), true; }
    void unwatchFile(korvo::IEventLoopClient*) override { file = nullptr; }
    bool startTimer(std::uint32_t, korvo::IEventLoopClient* client) override {
        return (timer = client), true;
    }
    void stopTimer(korvo::IEventLoopClient*) override { timer = nullptr; }
};

struct WindowScene {
    korvo::test::XvfbDisplay& display = korvo::test::XvfbDisplay::shared();
    TickLoop loop;
    korvo::HeapPtr<korvo::DemoScene> scene;
    korvo::X11Window* window = nullptr;

    bool open() {
        if (!display.ok()) return false;
        scene = korvo::makeHeap<korvo::DemoScene>(kWidth, kHeight);
        scene->setWindowFactory([](void* parent, korvo::IWindowListener* listener, std::int32_t w,
                                   std::int32_t h, korvo::WindowBackend, korvo::IEventLoop* eventLoop) {
            return korvo::HeapPtr<korvo::IWindow>(
                korvo::X11Window::create(parent, listener, w, h, eventLoop).release());
        });
        scene->openUI(nullptr, &loop, korvo::HostKind::unknown, korvo::WindowBackend::x11);
        window = static_cast<korvo::X11Window*>(scene->window());
        if (window == nullptr || loop.timer == nullptr) return false;
        // Until the first exposure delivered the size and a tick drew everything.
        for (int i = 0; i < 200 && scene->diffusePyramid().numLevels() == 0; ++i) {
            XSync(static_cast<Display*>(window->display()), False);
            loop.file->onFileReady(0);
        }
        tick();
        return scene->diffusePyramid().numLevels() > 0;
    }
    void tick() {
        loop.timer->onTimer();
        XSync(static_cast<Display*>(window->display()), False);
    }
};

void BM_WindowTickIdle(benchmark::State& state) {
    WindowScene s;
    if (!s.open()) return state.SkipWithError("no X display (Xvfb)");
    for (auto _ : state) s.tick();
}
BENCHMARK(BM_WindowTickIdle)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WindowTickDragging(benchmark::State& state) {
    WindowScene s;
    if (!s.open()) return state.SkipWithError("no X display (Xvfb)");
    for (auto _ : state) {
        s.scene->smallElement()->markDirtyFromAnyThread();
        s.tick();
    }
}
BENCHMARK(BM_WindowTickDragging)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WindowTickFullRedraw(benchmark::State& state) {
    WindowScene s;
    if (!s.open()) return state.SkipWithError("no X display (Xvfb)");
    for (auto _ : state) {
        s.scene->markDirtyFromAnyThread();
        s.tick();
    }
}
BENCHMARK(BM_WindowTickFullRedraw)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
