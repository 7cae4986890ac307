// Frame costs of widget changes at the editor's size (763 x 494), through the headless window:
// one step of a knob drag (the pointer moves a pixel, the next tick redraws the knob and relights
// it with its margin) and one frame of a value hint's fade. Each iteration is the whole sequence
// the window runs: input, animation tick, dirty areas, drawing, lighting, byte-order conversion
// and the copy to the screen.
#include <benchmark/benchmark.h>

#include "korvo/client/params.h"
#include "korvo/gui/graphics.h"
#include "korvo/widgets/knob.h"
#include "korvo/widgets/paramhint.h"
#include "korvo/window/headless.h"
#include "korvo_resources_resources.h"

namespace {

using namespace korvo;

constexpr std::int32_t kWidth = 763;
constexpr std::int32_t kHeight = 494;

class Panel final : public GUIGraphics {
public:
    Panel() : GUIGraphics(kWidth, kHeight, ElementFlags::drawsPBR) { setLitMargin(19); }
    void reflow(IntRect box) override { _position = box; }
    void onDrawPBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                   const Vec<IntRect>& rects) override {
        for (const IntRect& r : rects) {
            fillBox(diffuse, r, RGBA{58, 64, 72, 0});
            fillBox(depth, r, L16{30000});
            fillBox(material, r, RGBA{170, 60, 80, 255});
        }
    }
};

struct Rig {
    LinearFloatParameter value{0, "Stereo Width", "%", 0.0, 200.0, 100.0};
    Font font{resources::Lato_Semibold_ttf, resources::Lato_Semibold_ttf_size};
    Panel panel;
    UIKnob* knob;
    UIParamHint* hint;
    HeadlessWindow* window;

    Rig() {
        // The editor's "Stereo Width" knob (65 x 65, "Large" style) and its hint.
        knob = panel.addChild(heapNew<UIKnob>(&panel.uiContext(), &value));
        knob->setPosition(IntRect{{30, 291}, {95, 356}});
        knob->knobRadius = 0.8f;
        knob->numLEDs = 7;
        knob->LEDRadiusMin = 0.06f;
        knob->LEDRadiusMax = 0.1f;
        knob->trailRadiusMin = 0.8f;
        knob->trailRadiusMax = 0.97f;
        knob->hasAlternateTrail = true;
        knob->trailBaseAngle = 0.0f;
        hint = panel.addChild(heapNew<UIParamHint>(&panel.uiContext(), &value, &font));
        hint->setPosition(IntRect{{43, 355}, {83, 377}});
        panel.setWindowFactory(&HeadlessWindow::create);
        panel.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
        window = static_cast<HeadlessWindow*>(panel.window());
        window->paint();
        window->tick();
    }
    ~Rig() {
        // The widgets listen to `value`: take them down before it.
        panel.closeUI();
    }
};

void BM_KnobDragStep(benchmark::State& state) {
    Rig rig;
    HeadlessWindow& w = *rig.window;
    MouseState held;
    held.left = true;
    w.mouseMove(62, 323);
    w.mouseDown(MouseButton::left, held);
    w.tick();
    std::int32_t y = 323, step = -1;
    for (auto _ : state) {
        y += step;
        if (y < 300 || y > 346) step = -step;
        w.mouseMove(62, y, held);  // the value changes: the listener records it
        w.tick();                  // the knob redraws, and its hint follows
    }
    w.mouseUp(MouseButton::left);
    state.counters["paints"] = w.paintCount();
}
BENCHMARK(BM_KnobDragStep)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HintFadeFrame(benchmark::State& state) {
    Rig rig;
    HeadlessWindow& w = *rig.window;
    for (auto _ : state) {
        // Mid-fade: past the hold time with half visibility, so every tick redraws the hint.
        rig.hint->timeSinceChange = 2.0;
        rig.hint->visibility = 0.5f;
        w.tick();
    }
}
BENCHMARK(BM_HintFadeFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FullFrame(benchmark::State& state) {
    Rig rig;
    HeadlessWindow& w = *rig.window;
    for (auto _ : state) {
        rig.panel.setDirtyAll(DirtyLayer::fromFlags);  // the reference: the whole window redrawn
        w.tick();
    }
}
BENCHMARK(BM_FullFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IdleTick(benchmark::State& state) {
    Rig rig;
    HeadlessWindow& w = *rig.window;
    for (auto _ : state) w.tick();  // nothing changes: no frame
}
BENCHMARK(BM_IdleTick)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
