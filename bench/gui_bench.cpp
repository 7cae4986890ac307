// Frame times of the GUI renderer at the editor's size (763 x 494; with --scale S also at S, see
// bench/scale_option.h) on the two-worker pool:
// a full frame (the whole window dirty) and a small change (one 40 x 40 element dirty), each
// including computeDirtyAreas and the conversion to the Win32 byte order. "cpu_ms" is the
// process's CPU time per frame (all threads): on a busy machine the wall time waits for cores,
// the CPU time does not.
//
// The lighting alone, on one thread, over the whole frame in 128 x 128 tiles: the compositor
// and the plain per-pixel form it was derived from, in the same run, so their ratio reads the
// same on any machine.
#include <benchmark/benchmark.h>
#include <time.h>

#include "../tests/korvo/gui/compositor_reference.h"
#include "bench/scale_option.h"
#include "tools/offscreen/demoscene.h"

namespace {

constexpr std::int32_t kWidth = 763;
constexpr std::int32_t kHeight = 494;

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Scene {
    korvo::DemoScene scene{kWidth, kHeight};
    explicit Scene(float scale) {
        scene.setScale(scale);
        std::int32_t w = 0, h = 0;
        scene.getGUISize(&w, &h);
        scene.openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
        scene.onResize(w, h);
        frame();
    }
    void frame() {
        scene.computeDirtyAreas();
        scene.drawFrame(korvo::PixelOrder::BGRA8);
    }
};

void reportCpu(benchmark::State& state, double cpuSeconds) {
    state.counters["cpu_ms"] =
        state.iterations() > 0 ? cpuSeconds * 1e3 / static_cast<double>(state.iterations()) : 0;
}

void BM_FullFrame(benchmark::State& state) {
    Scene s(bench::scaleOf(state));
    const double start = processCpuSeconds();
    for (auto _ : state) {
        s.scene.setDirtyAll(korvo::DirtyLayer::fromFlags);
        s.frame();
    }
    reportCpu(state, processCpuSeconds() - start);
    state.counters["workers"] = s.scene.threadPool().threadCount();
}

void BM_SmallChange(benchmark::State& state) {
    Scene s(bench::scaleOf(state));
    const double start = processCpuSeconds();
    for (auto _ : state) {
        s.scene.smallElement()->setDirtyAll(korvo::DirtyLayer::fromFlags);
        s.frame();
    }
    reportCpu(state, processCpuSeconds() - start);
    state.counters["workers"] = s.scene.threadPool().threadCount();
}

template <bool kPerPixel>
void BM_LightFrameOneThread(benchmark::State& state) {
    Scene s(1.0f);
    korvo::OwnedImage<korvo::RGBA> out(kWidth, kHeight);
    korvo::PBRCompositor& c = s.scene.compositor();
    const korvo::Mipmap<korvo::RGBA>& skybox = *s.scene.uiContext().skybox;
    for (auto _ : state) {
        for (std::int32_t y = 0; y < kHeight; y += 128)
            for (std::int32_t x = 0; x < kWidth; x += 128) {
                const korvo::IntRect tile{{x, y}, {x + 128, y + 128}};
                if (kPerPixel)
                    korvo::referenceLightTile(c, out.view(), tile, s.scene.diffusePyramid(),
                                              s.scene.materialPyramid(), s.scene.depthPyramid(), skybox);
                else
                    c.lightTile(out.view(), korvo::PixelOrder::BGRA8, tile, s.scene.diffusePyramid(),
                                s.scene.materialPyramid(), s.scene.depthPyramid(), skybox);
            }
        benchmark::DoNotOptimize(out.view().pixels);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_LightFrameOneThread<false>)
    ->Name("BM_LightFrameOneThread/compositor")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightFrameOneThread<true>)
    ->Name("BM_LightFrameOneThread/per_pixel")
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    bench::ScaleOption scales = bench::takeScaleOption(argc, argv);
    bench::addScaled(scales, "BM_FullFrame", BM_FullFrame)->UseRealTime();
    bench::addScaled(scales, "BM_SmallChange", BM_SmallChange)->UseRealTime();
    return bench::runBenchmarks(scales);
}
