// The effect's whole editor (VelmoraGUI, 763 x 494) as a host runs it, through the headless window
// (the frame pipeline and the two-worker pool are the real ones; only the screen is memory).
// Milliseconds, real time:
//   editor/open:            construction (decoding the artwork and fonts, building the widgets)
//                           plus the first full frame;
//   editor/memory:          what an open editor holds once it has drawn: heap_MiB, the heap in
//                           use (glibc's count, large blocks included), rss_MiB, the growth of the
//                           resident set (shared pages touched for the first time included);
//   editor/knob_drag_step:  one pointer move of a drag on the pan knob and the tick that draws it
//                           (the value changes; the knob, its hint and the panorama are drawn and
//                           lit);
//   editor/idle_tick:       an animation tick with nothing changing and no audio; the counter
//                           frames_per_tick is the number of frames drawn per tick (0: an idle
//                           editor draws nothing);
//   editor/playing_tick:    the tick after 15 ms of a stereo tone went through the effect with the
//                           LFO sweeping the source (the audio itself is not timed): both displays
//                           redraw, no control moves.
//   editor/full_frame:      the whole editor redrawn and lit (everything marked dirty, one frame).
//   editor/full_frame_ratio (with --scale): a full frame at 100 % and one at the scale in turns;
//                           the counter ratio is the scaled frame's time over the 100 % one's.
// cpu_ms counters: CPU time of the whole process (UI thread and render workers) per step, steadier
// than the wall clock on a shared machine.
//
// --scale S runs every case at 100 % and at S in the same run (bench/scale_option.h).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "bench/scale_option.h"
#include "effect/gui.h"
#include "effect/main.h"
#include "korvo/window/headless.h"

namespace {

constexpr std::int32_t kTickFrames = 720;  // 15 ms at 48 kHz
constexpr std::int32_t kBlock = 512;

korvo::HeadlessWindow& openWindow(velmora::VelmoraGUI& gui, float scale) {
    gui.setWindowFactory(&korvo::HeadlessWindow::create);
    gui.setScale(scale);
    gui.openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
    auto& window = *static_cast<korvo::HeadlessWindow*>(gui.window());
    window.paint();  // the size, and with it the first full frame
    return window;
}

// Ticks until the start-up animations (hint fades, the scope's rest) are over.
void settle(korvo::HeadlessWindow& window) {
    for (int i = 0; i < 200; ++i) window.tick();
}

// CPU time of the whole process (the UI thread and the render workers), in seconds: on a shared
// machine this is steadier than the wall clock.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double heapBytes() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd);
}

double residentBytes() {
    long pages = 0, resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return 0.0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

void Open(benchmark::State& state) {
    velmora::VelmoraClient client;
    double cpu = 0.0;
    for (auto _ : state) {
        const double cpu0 = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        auto gui = korvo::makeHeap<velmora::VelmoraGUI>(client);
        korvo::HeadlessWindow& window = openWindow(*gui, bench::scaleOf(state));
        const auto end = std::chrono::steady_clock::now();
        cpu += processCpuSeconds() - cpu0;
        benchmark::DoNotOptimize(window.screen().pixels);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        gui->closeUI();
    }
    state.counters["cpu_ms"] = 1e3 * cpu / static_cast<double>(state.iterations());
}

void Memory(benchmark::State& state) {
    velmora::VelmoraClient client;
    client.resetFromHost(48000.0, kBlock, 2, 2);
    double heap = 0.0, resident = 0.0;
    for (auto _ : state) {
        const double heap0 = heapBytes(), resident0 = residentBytes();
        auto gui = korvo::makeHeap<velmora::VelmoraGUI>(client);
        korvo::HeadlessWindow& window = openWindow(*gui, bench::scaleOf(state));
        settle(window);
        heap = heapBytes() - heap0;
        resident = residentBytes() - resident0;
        gui->closeUI();
    }
    state.counters["heap_MiB"] = heap / 1048576.0;
    state.counters["rss_MiB"] = resident / 1048576.0;
}

void KnobDragStep(benchmark::State& state) {
    velmora::VelmoraClient client;
    auto* gui = static_cast<velmora::VelmoraGUI*>(client.ensureGraphics());
    const float scale = bench::scaleOf(state);
    korvo::HeadlessWindow& window = openWindow(*gui, scale);
    settle(window);
    const korvo::MouseState held{.left = true};
    const auto at = [scale](std::int32_t v) { return korvo::scaleCoord(v, scale); };
    window.mouseMove(at(398), at(354));
    window.mouseDown(korvo::MouseButton::left);
    window.tick();
    const std::int32_t paintsBefore = window.paintCount();
    std::int32_t y = 354, step = -1;
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        y += step;
        if (y < 330 || y > 378) step = -step;    // to and fro within the knob's travel
        window.mouseMove(at(398), at(y), held);  // the value changes: the knob's listener records it
        window.tick();                           // the knob, its hint and the panorama redraw
    }
    state.counters["cpu_ms"] = 1e3 * (processCpuSeconds() - cpu0) / static_cast<double>(state.iterations());
    state.counters["frames_per_step"] =
        static_cast<double>(window.paintCount() - paintsBefore) / static_cast<double>(state.iterations());
    window.mouseUp(korvo::MouseButton::left);
    gui->closeUI();
}

void IdleTick(benchmark::State& state) {
    velmora::VelmoraClient client;
    auto* gui = static_cast<velmora::VelmoraGUI*>(client.ensureGraphics());
    korvo::HeadlessWindow& window = openWindow(*gui, bench::scaleOf(state));
    settle(window);
    const std::int32_t paintsBefore = window.paintCount();
    for (auto _ : state) window.tick();
    state.counters["frames_per_tick"] =
        static_cast<double>(window.paintCount() - paintsBefore) / static_cast<double>(state.iterations());
    gui->closeUI();
}

void PlayingTick(benchmark::State& state) {
    velmora::VelmoraClient client;
    client.resetFromHost(48000.0, kBlock, 2, 2);
    auto* gui = static_cast<velmora::VelmoraGUI*>(client.ensureGraphics());
    korvo::HeadlessWindow& window = openWindow(*gui, bench::scaleOf(state));
    settle(window);
    std::vector<float> inLeft(kBlock), inRight(kBlock), outLeft(kBlock), outRight(kBlock);
    std::int64_t t = 0;
    // The LFO sweeps the source from side to side: the panorama follows the feed, no control moves.
    client.parameter(velmora::kLfoToPan).setNormalizedFromHost(0.95);
    settle(window);
    auto play = [&] {
        for (std::int32_t done = 0; done < kTickFrames; done += kBlock) {
            const std::int32_t n = std::min(kBlock, kTickFrames - done);
            for (std::int32_t i = 0; i < n; ++i, ++t) {
                const double ph = 2.0 * std::numbers::pi * 220.0 * static_cast<double>(t) / 48000.0;
                inLeft[static_cast<std::size_t>(i)] = 0.5f * static_cast<float>(std::sin(ph));
                inRight[static_cast<std::size_t>(i)] = 0.4f * static_cast<float>(std::sin(ph + 0.9));
            }
            const float* inputs[2] = {inLeft.data(), inRight.data()};
            float* outputs[2] = {outLeft.data(), outRight.data()};
            korvo::HostTiming timing;
            timing.timeInSamples = t - n;
            client.processAudioFromHost(inputs, 2, outputs, 2, n, timing);
        }
    };
    for (int i = 0; i < 40; ++i) {  // the feeds at their pace
        play();
        window.tick();
    }
    double cpu = 0.0;
    const std::int32_t paintsBefore = window.paintCount();
    for (auto _ : state) {
        play();
        const double cpu0 = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        window.tick();
        const auto end = std::chrono::steady_clock::now();
        cpu += processCpuSeconds() - cpu0;
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["cpu_ms"] = 1e3 * cpu / static_cast<double>(state.iterations());
    state.counters["frames_per_tick"] =
        static_cast<double>(window.paintCount() - paintsBefore) / static_cast<double>(state.iterations());
    gui->closeUI();
}

void FullFrame(benchmark::State& state) {
    velmora::VelmoraClient client;
    auto* gui = static_cast<velmora::VelmoraGUI*>(client.ensureGraphics());
    korvo::HeadlessWindow& window = openWindow(*gui, bench::scaleOf(state));
    settle(window);
    const double cpu0 = processCpuSeconds();
    for (auto _ : state) {
        gui->setDirtyAll(korvo::DirtyLayer::fromFlags);
        window.tick();
    }
    state.counters["cpu_ms"] = 1e3 * (processCpuSeconds() - cpu0) / static_cast<double>(state.iterations());
    gui->closeUI();
}

// Full frames at 100 % and at the scale taken in turns, one of each per iteration, so both see the
// same machine (clock, other load) and their ratio holds from run to run better than the ratio
// of two separate rows. Timed: the scaled frame; counters: both frames' means and the ratio.
void FullFrameRatio(benchmark::State& state) {
    velmora::VelmoraClient baseClient, scaledClient;
    auto* base = static_cast<velmora::VelmoraGUI*>(baseClient.ensureGraphics());
    auto* scaled = static_cast<velmora::VelmoraGUI*>(scaledClient.ensureGraphics());
    korvo::HeadlessWindow& baseWindow = openWindow(*base, 1.0f);
    korvo::HeadlessWindow& scaledWindow = openWindow(*scaled, bench::scaleOf(state));
    settle(baseWindow);
    settle(scaledWindow);
    auto fullFrame = [](velmora::VelmoraGUI& gui, korvo::HeadlessWindow& window) {
        const auto start = std::chrono::steady_clock::now();
        gui.setDirtyAll(korvo::DirtyLayer::fromFlags);
        window.tick();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double baseSeconds = 0.0, scaledSeconds = 0.0;
    for (auto _ : state) {
        baseSeconds += fullFrame(*base, baseWindow);
        const double s = fullFrame(*scaled, scaledWindow);
        scaledSeconds += s;
        state.SetIterationTime(s);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["ms_100"] = 1e3 * baseSeconds / n;
    state.counters["ms_scaled"] = 1e3 * scaledSeconds / n;
    state.counters["ratio"] = baseSeconds > 0.0 ? scaledSeconds / baseSeconds : 0.0;
    scaled->closeUI();
    base->closeUI();
}

}  // namespace

int main(int argc, char** argv) {
    bench::ScaleOption scales = bench::takeScaleOption(argc, argv);
    bench::addScaled(scales, "editor/open", Open)->UseManualTime();
    bench::addScaled(scales, "editor/memory", Memory)->Iterations(1);
    bench::addScaled(scales, "editor/knob_drag_step", KnobDragStep)->UseRealTime();
    bench::addScaled(scales, "editor/idle_tick", IdleTick)->UseRealTime();
    bench::addScaled(scales, "editor/playing_tick", PlayingTick)->UseManualTime();
    bench::addScaled(scales, "editor/full_frame", FullFrame)->UseRealTime();
    if (scales.percents.size() > 1)
        benchmark::RegisterBenchmark("editor/full_frame_ratio", FullFrameRatio)
            ->Unit(benchmark::kMillisecond)
            ->Arg(scales.percents.back())
            ->UseManualTime();
    return bench::runBenchmarks(scales);
}
