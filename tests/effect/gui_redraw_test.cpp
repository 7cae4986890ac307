// Partial redraws of the effect's editor against full redraws of the same state.
//
// A seeded random sequence of what a session does (host automation, drags, hovering, clicks on the
// bow game, the scope and the drop-down, audio reaching the displays, ticks in between) runs
// through the headless window; now and then the picture on the screen is compared with the whole
// editor redrawn from scratch at the same moment. The emissive glow and the ambient occlusion reach
// well beyond the lit margin, so this catches any area the renderer forgets to relight.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "effect/gui.h"
#include "effect/main.h"
#include "effect/panorama.h"
#include "korvo/widgets/knob.h"
#include "korvo/window/headless.h"

namespace velmora {
namespace {

using korvo::IntRect;
using korvo::MouseButton;
using korvo::MouseState;
using korvo::RGBA;

class RedrawSession {
public:
    // `values`: (index, normalized) pairs the host sets before the editor exists.
    explicit RedrawSession(float scale = 1.0f, std::vector<std::pair<std::int32_t, double>> values = {}) {
        client_.resetFromHost(48000.0, 512, 2, 2);
        for (const auto& [index, value] : values) client_.parameter(index).setNormalizedFromHost(value);
        gui_ = dynamic_cast<VelmoraGUI*>(client_.ensureGraphics());
        gui_->setWindowFactory(&korvo::HeadlessWindow::create);
        gui_->setScale(scale);
        open();
        window_->tick();
    }
    ~RedrawSession() { gui_->closeUI(); }

    // The editor's window closed and opened again, its first frame drawn (no tick yet).
    void reopen() {
        gui_->closeUI();
        open();
    }

    VelmoraClient& client() { return client_; }
    VelmoraGUI& gui() { return *gui_; }
    korvo::HeadlessWindow& window() { return *window_; }

    // One block of noise through the effect (the displays get their feed).
    void playBlock(std::mt19937& random) {
        std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
        for (std::size_t i = 0; i < in_[0].size(); ++i) {
            in_[0][i] = sample(random);
            in_[1][i] = 0.5f * in_[0][i] + 0.5f * sample(random);
        }
        const float* inputs[2] = {in_[0].data(), in_[1].data()};
        float* outputs[2] = {out_[0].data(), out_[1].data()};
        korvo::HostTiming timing;
        client_.processAudioFromHost(inputs, 2, outputs, 2, 512, timing);
    }

    // Ticks once, so changes that wait for a tick (host automation) are taken up, draws what is
    // still pending without moving any animation, then returns the largest difference of a channel
    // between the screen and the whole editor redrawn from scratch.
    int compareWithFullRedraw(int step, bool tickFirst = true) {
        if (tickFirst) window_->tick();
        drawPending();
        EXPECT_TRUE(gui_->pendingLitRects().empty());
        EXPECT_TRUE(gui_->pendingGlowRects().empty());
        std::vector<RGBA> partial(pixels());
        gui_->setDirtyAll(korvo::DirtyLayer::fromFlags);
        window_->invalidate(IntRect{{0, 0}, {window_->width(), window_->height()}});
        refreshWithoutTick();
        const std::vector<RGBA> full(pixels());
        int worst = 0, differing = 0;
        for (std::size_t i = 0; i < full.size(); ++i) {
            const RGBA a = partial[i], b = full[i];
            const int m = std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
            if (m > 1 && worst <= 1)
                std::printf("step %d: first pixel off by %d at (%d, %d)\n", step, m,
                            static_cast<int>(i % static_cast<std::size_t>(window_->width())),
                            static_cast<int>(i / static_cast<std::size_t>(window_->width())));
            differing += m != 0;
            worst = std::max(worst, m);
        }
        if (differing != 0) std::printf("step %d: %d pixels differ, by at most %d\n", step, differing, worst);
        return worst;
    }

    // A frame can leave relighting for the next one; that one draws no new layers.
    void drawPending() {
        for (int i = 0; i < 3; ++i) refreshWithoutTick();
    }

private:
    void open() {
        gui_->openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
        window_ = static_cast<korvo::HeadlessWindow*>(gui_->window());
        window_->paint();
    }
    void refreshWithoutTick() {
        korvo::IWindowListener* listener = gui_->windowListener();
        listener->computeDirtyAreas();
        const IntRect bounds = listener->dirtyBounds();
        if (!bounds.empty()) window_->invalidate(bounds);
        window_->paint();
    }
    std::vector<RGBA> pixels() {
        const korvo::ImageView<RGBA> screen = window_->screen();
        std::vector<RGBA> copy;
        for (std::int32_t y = 0; y < screen.h; ++y)
            copy.insert(copy.end(), screen.row(y), screen.row(y) + screen.w);
        return copy;
    }

    VelmoraClient client_;
    VelmoraGUI* gui_ = nullptr;
    korvo::HeadlessWindow* window_ = nullptr;
    std::vector<float> in_[2] = {std::vector<float>(512), std::vector<float>(512)};
    std::vector<float> out_[2] = {std::vector<float>(512), std::vector<float>(512)};
};

// Centres of the controls a user drags, and of places worth hovering or clicking.
constexpr korvo::IntPoint kKnobs[] = {{62, 323},  {704, 323}, {217, 314}, {163, 348}, {271, 348}, {217, 448},
                                      {398, 354}, {351, 433}, {399, 429}, {447, 433}, {613, 113}, {613, 166},
                                      {613, 219}, {613, 268}, {539, 277}, {539, 223}};
constexpr korvo::IntPoint kSliders[] = {{61, 150}, {703, 220}};
constexpr std::int32_t kAutomated[] = {
    kDistance,    kStereoWidth, kMtoSAmount,  kMtoSDelay, kMtoSLowpass, kTilt,    kPan,      kHeadSize,
    kSpectralPan, kLfoWave,     kLfoSynced,   kLfoTempo,  kLfoPhase,    kLfoFreq, kLfoToPan, kLfoToDistance,
    kLfoToGain,   kLfoToTilt,   kOutputLevel, kDryWet,    kTestMono,    kLevelPan};

TEST(VelmoraGUIRedraw, PartialRedrawsAfterRandomChangesEqualAFullRedraw) {
    RedrawSession session;
    korvo::HeadlessWindow& window = session.window();
    std::mt19937 random(20261208);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const MouseState held{.left = true};
    int compared = 0, worst = 0;
    for (int step = 0; step < 120; ++step) {
        switch (pick(9)) {
            case 0: {  // host automation (the audio thread's path: flags only, drawn at the next tick)
                const std::int32_t index = kAutomated[pick(static_cast<int>(std::size(kAutomated)))];
                session.client().parameter(index).setNormalizedFromHost(pick(1001) / 1000.0);
                break;
            }
            case 1: {  // a drag on a knob or a slider, a few moves
                const bool knob = pick(4) != 0;
                const korvo::IntPoint p =
                    knob ? kKnobs[pick(static_cast<int>(std::size(kKnobs)))] : kSliders[pick(2)];
                window.mouseMove(p.x, p.y);
                window.mouseDown(MouseButton::left);
                const int dy = pick(41) - 20;
                for (int i = 1; i <= 3; ++i) {
                    window.mouseMove(p.x, p.y + dy * i, held);
                    if (pick(2) == 0) window.tick();
                }
                window.mouseUp(MouseButton::left);
                break;
            }
            case 2:  // the pointer wanders (logo glow, knob hover, panorama preview, radio hover)
                window.mouseMove(pick(763), pick(494));
                break;
            case 3:  // a click on the bow game, sometimes a new game
                window.mouseMove(12 + pick(100), 397 + pick(80));
                if (pick(5) == 0)
                    window.mouseDown(MouseButton::right), window.mouseUp(MouseButton::right);
                else
                    window.mouseDown(MouseButton::left), window.mouseUp(MouseButton::left);
                break;
            case 4:  // the tempo drop-down: open, maybe choose a row, else close by clicking beside it
                window.click(539, 112);
                for (int i = 0; i < 1 + pick(20); ++i) window.tick();
                if (pick(2) == 0)
                    window.click(539, 130 + pick(280));
                else
                    window.click(300, 480);
                break;
            case 5: {  // the scope: bright mode or off
                const MouseButton button = pick(2) == 0 ? MouseButton::left : MouseButton::right;
                window.mouseMove(560, 385);
                window.mouseDown(button);
                window.mouseUp(button);
                break;
            }
            case 6:  // the panorama: drag the source
                window.mouseMove(200 + pick(120), 120 + pick(90));
                window.mouseDown(MouseButton::left);
                window.mouseMove(200 + pick(120), 120 + pick(90), held);
                window.mouseUp(MouseButton::left);
                break;
            default:  // audio plays while the editor ticks
                for (int i = 0; i < 1 + pick(6); ++i) {
                    session.playBlock(random);
                    window.tick();
                }
                break;
        }
        for (int i = 0; i < pick(4); ++i) window.tick();
        if (step % 6 == 5) {
            worst = std::max(worst, session.compareWithFullRedraw(step));
            ++compared;
        }
    }
    EXPECT_EQ(compared, 20);
    EXPECT_LE(worst, 1);
}

// A knob drag moves only the LEDs, the needle and the trail's end: small steps, at scales where
// those boxes fall between device pixels, on every knob, each step drawn before the next, and the
// host moving a knob in between.
TEST(VelmoraGUIRedraw, SmallKnobStepsAtScaleEqualAFullRedraw) {
    for (const float scale : {1.5f, 2.0f}) {
        SCOPED_TRACE(scale);
        RedrawSession session(scale);
        korvo::HeadlessWindow& window = session.window();
        const auto at = [scale](std::int32_t v) { return korvo::scaleCoord(v, scale); };
        const MouseState held{.left = true};
        int worst = 0;
        for (std::size_t k = 0; k < std::size(kKnobs); ++k) {
            const korvo::IntPoint p = kKnobs[k];
            window.mouseMove(at(p.x), at(p.y));
            window.mouseDown(MouseButton::left);
            for (int i = 0; i < 20; ++i) window.tick();  // the push settles: only the value moves
            for (int i = 1; i <= 24; ++i) {              // far enough to cross a centred base both ways
                window.mouseMove(at(p.x), at(p.y + (i <= 12 ? -i : i - 24) * 3), held);
                window.tick();
            }
            session.client().parameter(kAutomated[k]).setNormalizedFromHost(0.01 * static_cast<double>(k));
            worst = std::max(worst, session.compareWithFullRedraw(static_cast<int>(k)));
            window.mouseUp(MouseButton::left);
        }
        EXPECT_LE(worst, 1);
    }
}

// What the host changed while the window was closed is in the first frame after it opens again:
// the knobs and the panorama show what an editor made after the change shows.
TEST(VelmoraGUIRedraw, TheFirstFrameAfterReopeningShowsWhatTheHostChangedMeanwhile) {
    const std::vector<std::pair<std::int32_t, double>> values = {
        {kPan, 0.9}, {kDistance, 0.9}, {kStereoWidth, 0.2}};
    RedrawSession reopened, fresh(1.0f, values);
    for (const auto& [index, value] : values) reopened.client().parameter(index).setNormalizedFromHost(value);
    reopened.reopen();
    const auto pixels = [](RedrawSession& session) {
        session.drawPending();
        std::vector<RGBA> v;
        const korvo::ImageView<RGBA> screen = session.window().screen();
        for (const korvo::UIElement* e : std::initializer_list<const korvo::UIElement*>{
                 session.gui().panorama(), session.gui().panKnob(), session.gui().stereoWidthKnob()}) {
            const IntRect box = e->position();
            for (std::int32_t y = box.min.y; y < box.max.y; ++y)
                v.insert(v.end(), screen.row(y) + box.min.x, screen.row(y) + box.max.x);
        }
        return v;
    };
    EXPECT_EQ(pixels(reopened), pixels(fresh));
}

}  // namespace
}  // namespace velmora
