// The effect's two live displays at the editor's size (763 x 494, the displays in their editor
// boxes over a plain background) while audio plays: per 15 ms animation tick, the audio of that
// tick reaches the displays (720 frames at 48 kHz in the client's 512-frame blocks: one panorama
// state and the phase samples per block), then the tick runs as the window runs it: animation,
// dirty areas, the frame on the two-worker pool. Reports milliseconds per tick (real time).
//   playing:      a moving source and a stereo tone, both displays redraw every tick;
//   playing_drag: the same while the pointer drags the source (parameter changes every tick);
//   silence:      silence after the scope has gone to rest: only the panorama follows its feed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "effect/main.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/gui/graphics.h"

namespace {

constexpr std::int32_t kWidth = 763;
constexpr std::int32_t kHeight = 494;
constexpr korvo::IntRect kPanoramaBox{{143, 88}, {381, 229}};
constexpr korvo::IntRect kPhaseBox{{492, 318}, {631, 452}};
constexpr std::int32_t kTickFrames = 720;  // 15 ms at 48 kHz
constexpr std::int32_t kBlock = 512;

class Scene final : public korvo::GUIGraphics {
public:
    explicit Scene(velmora::VelmoraClient& client)
        : GUIGraphics(kWidth, kHeight, korvo::ElementFlags::drawsPBR) {
        auto param = [&](velmora::Param i) {
            return static_cast<korvo::FloatParameter*>(&client.parameter(i));
        };
        panorama = addChild(korvo::makeHeap<velmora::PanoramaDisplay>(
            &uiContext(), param(velmora::kPan), param(velmora::kDistance), param(velmora::kTilt),
            param(velmora::kOutputLevel)));
        panorama->setPosition(kPanoramaBox);
        phase = addChild(korvo::makeHeap<velmora::PhaseDisplay>(&uiContext()));
        phase->setPosition(kPhaseBox);
        setLitMargin(19);
        openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
        onResize(kWidth, kHeight);
        frame();
    }
    void reflow(korvo::IntRect box) override { _position = box; }
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuse, korvo::ImageView<korvo::L16> depth,
                   korvo::ImageView<korvo::RGBA> material, const korvo::Vec<korvo::IntRect>& rects) override {
        for (const korvo::IntRect& r : rects) {
            korvo::fillBox(diffuse, r, korvo::RGBA{40, 44, 52, 0});
            korvo::fillBox(depth, r, korvo::L16{30000});
            korvo::fillBox(material, r, korvo::RGBA{170, 60, 80, 255});
        }
    }
    void frame() {
        computeDirtyAreas();
        drawFrame(korvo::PixelOrder::BGRA8);
    }

    velmora::PanoramaDisplay* panorama = nullptr;
    velmora::PhaseDisplay* phase = nullptr;
};

enum class Mode { playing, playingDrag, silence };

void runTicks(benchmark::State& state, Mode mode) {
    velmora::VelmoraClient client;
    Scene scene(client);
    std::vector<float> left(kTickFrames), right(kTickFrames);
    std::int64_t t = 0;
    double time = 0.0;
    auto tick = [&] {
        const bool sound = mode != Mode::silence;
        for (std::int32_t i = 0; i < kTickFrames; ++i, ++t) {
            const double ph = 2.0 * std::numbers::pi * 220.0 * static_cast<double>(t) / 48000.0;
            left[static_cast<std::size_t>(i)] = sound ? 0.5f * static_cast<float>(std::sin(ph)) : 0.0f;
            right[static_cast<std::size_t>(i)] = sound ? 0.4f * static_cast<float>(std::sin(ph + 0.9)) : 0.0f;
        }
        const float sweep = static_cast<float>(std::sin(time * 0.7));
        for (std::int32_t done = 0; done < kTickFrames; done += kBlock) {
            const std::int32_t n = std::min(kBlock, kTickFrames - done);
            scene.panorama->sendPanoramaState(48000.0f, 0.8f + 0.2f * sweep, 2.0f * sweep,
                                              -6.0f + 4.0f * sweep, sweep);
            scene.phase->sendPhaseSamples(left.data() + done, right.data() + done, n, 48000.0f);
        }
        if (mode == Mode::playingDrag)
            scene.panorama->onMouseDrag(119 + static_cast<std::int32_t>(60.0f * sweep), 60, 0, 0, {});
        time += 0.015;
        scene.animate(0.015, time);
        scene.frame();
    };
    for (int i = 0; i < 40; ++i) tick();  // FIFOs at their pace; an idle scope has gone to rest
    for (auto _ : state) tick();
    state.counters["workers"] = scene.threadPool().threadCount();
}

void Playing(benchmark::State& state) {
    runTicks(state, Mode::playing);
}
void PlayingDrag(benchmark::State& state) {
    runTicks(state, Mode::playingDrag);
}
void Silence(benchmark::State& state) {
    runTicks(state, Mode::silence);
}

}  // namespace

BENCHMARK(Playing)->Name("displays/tick/playing/763x494")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlayingDrag)
    ->Name("displays/tick/playing_drag/763x494")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Silence)->Name("displays/tick/silence/763x494")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
