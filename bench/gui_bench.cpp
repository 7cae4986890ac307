// Frame times of the GUI renderer at the editor's size (763 x 494) on the two-worker pool:
// a full frame (the whole window dirty) and a small change (one 40 x 40 element dirty), each
// including computeDirtyAreas and the conversion to the Win32 byte order.
#include <benchmark/benchmark.h>

#include "korvo/gui/demoscene.h"

namespace {

constexpr std::int32_t kWidth = 763;
constexpr std::int32_t kHeight = 494;

struct Scene {
    korvo::DemoScene scene{kWidth, kHeight};
    Scene() {
        scene.openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
        scene.onResize(kWidth, kHeight);
        frame();
    }
    void frame() {
        scene.computeDirtyAreas();
        scene.drawFrame(korvo::PixelOrder::BGRA8);
    }
};

void BM_FullFrame(benchmark::State& state) {
    Scene s;
    for (auto _ : state) {
        s.scene.setDirtyAll(korvo::DirtyLayer::fromFlags);
        s.frame();
    }
    state.counters["workers"] = s.scene.threadPool().threadCount();
}
BENCHMARK(BM_FullFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SmallChange(benchmark::State& state) {
    Scene s;
    for (auto _ : state) {
        s.scene.smallElement()->setDirtyAll(korvo::DirtyLayer::fromFlags);
        s.frame();
    }
    state.counters["workers"] = s.scene.threadPool().threadCount();
}
BENCHMARK(BM_SmallChange)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
