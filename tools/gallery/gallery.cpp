// The widget gallery: layout, poses and the panel.
#include "tools/gallery/gallery.h"

#include <cmath>
#include <string>

#include "effect/bowgame.h"
#include "effect/main.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/graphics/decode.h"
#include "korvo/gui/context.h"
#include "korvo/widgets/bitmapfont.h"
#include "korvo/widgets/colorcorrection.h"
#include "korvo/widgets/knob.h"
#include "korvo/widgets/label.h"
#include "korvo/widgets/logo.h"
#include "korvo/widgets/onoffswitch.h"
#include "korvo/widgets/paramhint.h"
#include "korvo/widgets/slider.h"
#include "korvo/window/headless.h"
#include "korvo_resources_resources.h"
#include "tessary/widgets/dropdown.h"
#include "tessary/widgets/radiobuttonset.h"
#include "tools/demo/demo.h"
#include "velmora_resources_resources.h"

namespace velmora::gallery {

using namespace korvo;

namespace {

constexpr float kPi = 3.14159265358979323846f;
constexpr RGBA kPanel{58, 64, 72, 0};
constexpr RGBA kPanelMaterial{170, 60, 80, 255};
constexpr std::uint16_t kPanelDepth = 30000;
constexpr RGBA kCaption{170, 182, 194, 255};
constexpr RGBA kCyan{192, 245, 255, 112};
constexpr RGBA kAmber{255, 190, 80, 150};
constexpr RGBA kTrailUnlit{90, 94, 98, 0};
// The displays' recessed screens.
constexpr RGBA kScreen{16, 18, 22, 0};
constexpr std::uint16_t kScreenDepth = 22000;
constexpr std::int32_t kScreenFrame = 3;

// The demo signal's rate, where the displays pick it up (the melodic phrase, a noise burst), and
// the hover position (gallery coordinates, over the third panorama).
constexpr std::int32_t kDemoRate = 48000;
constexpr double kTonesStart = 1.8;
constexpr double kNoiseStart = 3.5;
constexpr std::int32_t kHoverX = 560, kHoverY = 600;

// Posed widgets: they keep the state the gallery gives them instead of animating back to rest.
class PosedKnob final : public UIKnob {
public:
    using UIKnob::UIKnob;
    void onAnimate(double, double) override {}
};
class PosedPanKnob final : public PanKnob {
public:
    using PanKnob::PanKnob;
    void onAnimate(double, double) override {}
};
class PosedHint final : public UIParamHint {
public:
    using UIParamHint::UIParamHint;
    void onAnimate(double dt, double time) override {
        UIParamHint::onAnimate(dt, time);
        if (visibility != 1.0f) {
            visibility = 1.0f;
            setDirtyAll(DirtyLayer::fromFlags);
        }
    }
};

// Raw-layer text in a bitmap font.
class BitmapCaption final : public UIElement {
public:
    BitmapCaption(UIContext* context, std::string text, BitmapFontSize size)
        : UIElement(context, ElementFlags::drawsRaw), text_(std::move(text)), size_(size) {}
    void onDrawRaw(ImageView<RGBA> rawMap, const Vec<IntRect>& dirtyRects) override {
        for (const IntRect& r : dirtyRects)
            drawBitmapText(CroppedView<RGBA>{rawMap, r}, -r.min.x - _drawOffset.x, -r.min.y - _drawOffset.y,
                           text_, kCaption, size_);
    }

private:
    std::string text_;
    BitmapFontSize size_;
};

// The knob style sets of the editor, plus a ball.
void styleKnob(UIKnob& k, KnobStyle style) {
    k.hasAlternateTrail = true;
    k.litTrailDiffuse = kCyan;
    k.litTrailDiffuseAlt = kAmber;
    k.unlitTrailDiffuse = kTrailUnlit;
    k.knobDiffuse = RGBA{255, 255, 255, 0};
    k.style = style;
    k.minAngle = -0.75f * kPi;
    k.maxAngle = 0.75f * kPi;
    k.trailBaseAngle = 0.0f;
    switch (style) {
        case KnobStyle::dimple:  // "Large"
            k.knobRadius = 0.8f;
            k.knobMaterial = RGBA{64, 255, 128, 255};
            k.numLEDs = 7;
            k.LEDRadiusMin = 0.06f;
            k.LEDRadiusMax = 0.1f;
            k.LEDDiffuseLit = RGBA{32, 32, 96, 80};
            k.LEDDiffuseUnlit = RGBA{32, 32, 96, 40};
            k.LEDDistanceFromCenter = 0.95f;
            k.LEDDistanceFromCenterPushed = 0.9f;
            k.trailRadiusMin = 0.8f;
            k.trailRadiusMax = 0.97f;
            break;
        case KnobStyle::cylinder:  // "Flat"
            k.knobRadius = 0.8f;
            k.knobMaterial = RGBA{0, 255, 128, 255};
            k.numLEDs = 13;
            k.LEDRadiusMin = 0.06f;
            k.LEDRadiusMax = 0.06f;
            k.LEDDiffuseLit = RGBA{32, 32, 32, 40};
            k.LEDDiffuseUnlit = RGBA{32, 32, 32, 40};
            k.LEDDistanceFromCenter = 0.94f;
            k.LEDDistanceFromCenterPushed = 0.93f;
            k.trailRadiusMin = 0.7f;
            k.trailRadiusMax = 1.0f;
            break;
        case KnobStyle::dome:  // "Dome"
        case KnobStyle::ball:
            k.knobRadius = 0.75f;
            k.knobMaterial = RGBA{0, 193, 128, 255};
            k.numLEDs = 1;
            k.LEDRadiusMin = 0.15f;
            k.LEDRadiusMax = 0.15f;
            k.LEDDiffuseLit = RGBA{96, 96, 96, 150};
            k.LEDDiffuseUnlit = RGBA{96, 96, 96, 100};
            k.LEDDistanceFromCenter = 0.8f;
            k.LEDDistanceFromCenterPushed = 0.7f;
            k.LEDDepth = 0;
            k.trailRadiusMin = 0.7f;
            k.trailRadiusMax = 1.0f;
            break;
    }
}

// The editor's logo from the embedded artwork (64 x 56, its alpha is its shape).
HeapPtr<OwnedImage<RGBA>> makeLogo() {
    const DecodedImage png = decodeImage(velmora::resources::logo_png, velmora::resources::logo_png_size, 4);
    auto image = makeHeap<OwnedImage<RGBA>>(png.w, png.h);
    for (std::int32_t y = 0; y < png.h; ++y)
        for (std::int32_t x = 0; x < png.w; ++x) {
            const std::uint8_t* p = png.pixels + (static_cast<std::size_t>(y) * png.w + x) * 4;
            image->view().at(x, y) = RGBA{p[0], p[1], p[2], p[3]};
        }
    return image;
}

// A neutral studio: a broad soft ceiling light, a darker floor and one cool side panel, all with
// smooth edges (a metallic surface mirrors every hard edge of its surroundings).
OwnedImage<RGBA>* makeStudioSkybox() {
    constexpr int w = 256, h = 192;
    auto* image = heapNew<OwnedImage<RGBA>>(w, h);
    auto smooth = [](float e0, float e1, float x) {
        const float t = std::fmin(1.0f, std::fmax(0.0f, (x - e0) / (e1 - e0)));
        return t * t * (3.0f - 2.0f * t);
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float t = static_cast<float>(y) / (h - 1), u = static_cast<float>(x) / (w - 1);
            float l = 150.0f - 95.0f * smooth(0.15f, 0.75f, t);
            const float dx = (u - 0.5f) / 0.28f, dy = (t - 0.12f) / 0.12f;
            l += 95.0f * std::exp(-(dx * dx + dy * dy));
            l += 45.0f * smooth(0.7f, 0.8f, u) * (1.0f - smooth(0.88f, 0.96f, u)) * smooth(0.15f, 0.3f, t) *
                 (1.0f - smooth(0.45f, 0.6f, t));
            const auto c = static_cast<std::uint8_t>(std::fmin(255.0f, l));
            image->view().at(x, y) =
                RGBA{static_cast<std::uint8_t>(c * 0.93f), static_cast<std::uint8_t>(c * 0.97f), c, 255};
        }
    return image;
}

std::string printable(int from, int to) {
    std::string s;
    for (int c = from; c <= to; ++c) s += static_cast<char>(c);
    return s;
}

}  // namespace

// One instance of the effect playing the demo signal (mono in, stereo out) and feeding displays
// after every block of at most 512 frames, as the effect feeds its editor.
class DemoPlayer {
public:
    explicit DemoPlayer(const std::vector<float>& demo) : demo_(demo) {
        client_.resetFromHost(kDemoRate, kBlock, 1, 2);
    }

    VelmoraClient& client() noexcept { return client_; }
    FloatParameter* parameter(Param index) { return static_cast<FloatParameter*>(&client_.parameter(index)); }
    // Sets a parameter from its text, as a host or the command line would.
    void set(Param index, const char* text) {
        Parameter& p = client_.parameter(index);
        const ParseResult parsed = p.parseToNormalized(text);
        if (!parsed.ok) fatalError("widget gallery: a display setting that does not parse");
        p.setNormalizedFromHost(parsed.normalized);
    }

    // Plays `frames` more of the signal (silence after its end), feeding the displays or not.
    void play(std::int64_t frames, bool feed = true) {
        while (frames > 0) {
            const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(frames, kBlock));
            for (std::int32_t i = 0; i < n; ++i) {
                const std::size_t at = static_cast<std::size_t>(position_ + i);
                input_[static_cast<std::size_t>(i)] = at < demo_.size() ? demo_[at] : 0.0f;
            }
            const float* ins[1] = {input_};
            float* outs[2] = {left_, right_};
            client_.processAudioFromHost(ins, 1, outs, 2, n, timing_);
            const VelmoraClient::PanoramaState s = client_.lastPanoramaState();
            if (feed && panorama != nullptr)
                panorama->sendPanoramaState(kDemoRate, s.gain, s.tilt, s.distance, s.pan);
            if (feed && scope != nullptr) scope->sendPhaseSamples(left_, right_, n, kDemoRate);
            position_ += n;
            frames -= n;
        }
    }

    PanoramaDisplay* panorama = nullptr;
    PhaseDisplay* scope = nullptr;

private:
    static constexpr std::int32_t kBlock = 512;
    const std::vector<float>& demo_;
    VelmoraClient client_;
    HostTiming timing_;
    std::int64_t position_ = 0;
    float input_[kBlock] = {};
    float left_[kBlock] = {};
    float right_[kBlock] = {};
};

WidgetGallery::WidgetGallery()
    : GUIGraphics(kWidth, kHeight, ElementFlags::drawsPBR | ElementFlags::wantsAnimation),
      lato_(std::make_unique<Font>(korvo::resources::Lato_Semibold_ttf,
                                   korvo::resources::Lato_Semibold_ttf_size)),
      spartan_(std::make_unique<Font>(korvo::resources::LeagueSpartan_Bold_otf,
                                      korvo::resources::LeagueSpartan_Bold_otf_size)) {
    // The editor's lighting.
    PBRCompositor& c = compositor();
    c.shadowLightColor = {0.1984f, 0.2480f, 0.2976f};
    const float d = 1.0f / std::sqrt(2.01f), s = 1.0f / std::sqrt(1.01f);
    c.diffuseLightDir = {-d, d, 0.1f * d};
    c.diffuseLightColor = {0.4743f, 0.3689f, 0.2635f};
    c.specularLightDir = {0.0f, s, 0.1f * s};
    c.specularLightColor = {0.1612f, 0.1860f, 0.2108f};
    c.ambientAmount = 0.062f;
    c.skyboxStrength = 0.3968f;
    setLitMargin(19);
    uiContext().setSkybox(makeStudioSkybox());
    UIContext* ctx = &uiContext();

    caption(12, 8, "WIDGET GALLERY", true);

    // ---- Knobs: four styles x (0, 0.5, 1) x (plain, hovered, pushed) -------------------------
    caption(12, 34, "KNOBS");
    const char* states[] = {"PLAIN", "HOVERED", "PUSHED"};
    const char* styles[] = {"DIMPLE", "CYLINDER", "DOME", "BALL"};
    constexpr int kGridX = 86, kGridY = 60, kPitchX = 50, kPitchY = 54, kKnob = 44;
    for (int g = 0; g < 3; ++g) {
        caption(kGridX + g * 3 * kPitchX + 40, 34, states[g]);
        for (int v = 0; v < 3; ++v)
            caption(kGridX + (g * 3 + v) * kPitchX + (v == 1 ? 10 : 18), 48,
                    v == 0 ? "0" : (v == 1 ? "0.5" : "1"));
    }
    for (int st = 0; st < 4; ++st) {
        caption(12, kGridY + st * kPitchY + 18, styles[st]);
        for (int g = 0; g < 3; ++g)
            for (int v = 0; v < 3; ++v) {
                auto* knob = addChild(heapNew<PosedKnob>(ctx, floatParameter(v * 0.5)));
                styleKnob(*knob, static_cast<KnobStyle>(st));
                knob->setPosition(
                    IntRect::fromXYWH(kGridX + (g * 3 + v) * kPitchX, kGridY + st * kPitchY, kKnob, kKnob));
                knob->mouseOverDisc = g == 1;
                knob->pushedAnimation = g == 2 ? 1.0f : 0.0f;
            }
    }

    // ---- Pan knob -------------------------------------------------------------------------------
    caption(566, 34, "PAN KNOB");
    auto* pan = addChild(heapNew<PosedPanKnob>(ctx, floatParameter(0.3)));
    styleKnob(*pan, KnobStyle::dimple);
    pan->knobRadius = 0.75f;
    pan->knobMaterial = RGBA{96, 255, 128, 255};
    pan->numLEDs = 7;
    pan->LEDRadiusMin = 0.11f;
    pan->LEDRadiusMax = 0.12f;
    pan->LEDDiffuseLit = RGBA{230, 240, 255, 255};
    pan->LEDDiffuseUnlit = RGBA{230, 240, 255, 100};
    pan->LEDDistanceFromCenter = 0.8f;
    pan->LEDDistanceFromCenterPushed = 0.8f;
    pan->LEDDepth = 10000;
    pan->trailRadiusMin = 0.875f;
    pan->trailRadiusMax = 1.0f;
    pan->unlitTrailDiffuse = RGBA{150, 155, 155, 60};
    pan->minAngle = -0.654f * kPi;
    pan->maxAngle = 0.654f * kPi;
    pan->setPosition(IntRect::fromXYWH(570, 60, 108, 108));

    // ---- Second band: slider, switches, radio set, drop-downs ------------------------------------
    constexpr int kBandY = 290;
    caption(12, kBandY, "SLIDER");
    auto* slider = addChild(heapNew<UISlider>(ctx, floatParameter(0.65)));
    slider->setPosition(IntRect::fromXYWH(22, kBandY + 18, 29, 143));
    slider->trailDepth = 30000;
    slider->unlitTrailDiffuse = kTrailUnlit;
    slider->litTrailDiffuse = kCyan;
    slider->handleStyle = 2;
    slider->handleHeightRatio = 0.25f;
    slider->handleWidthRatio = 0.65f;
    slider->handleDiffuse = RGBA{245, 252, 255, 10};
    slider->handleMaterial = RGBA{0, 1, 129, 255};

    caption(80, kBandY, "SWITCH");
    for (int i = 0; i < 2; ++i) {
        parameters_.push_back(makeHeap<BoolParameter>(0, "Switch", i == 1));
        auto* sw =
            addChild(heapNew<UIOnOffSwitch>(ctx, static_cast<BoolParameter*>(parameters_.back().get())));
        sw->diffuseOn = kCyan;
        sw->diffuseOff = kTrailUnlit;
        sw->orientation = 1;
        sw->depthLow = 10000;
        sw->depthHigh = 30000;
        sw->setPosition(IntRect::fromXYWH(86, kBandY + 30 + i * 50, 37, 28));
        caption(128, kBandY + 40 + i * 50, i == 0 ? "OFF" : "ON");
    }

    caption(170, kBandY, "RADIO SET");
    const char* waves[] = {"SINE", "TRIANGLE", "SAW", "SQUARE", "RANDOM"};
    parameters_.push_back(makeHeap<EnumParameter>(
        0, "Wave", std::initializer_list<std::string_view>{"Sine", "Triangle", "Saw", "Square", "Random"},
        2));
    auto* radio = addChild(heapNew<tessary::TessaryRadioButtonSet>(
        static_cast<IntegerParameter*>(parameters_.back().get()), ctx));
    radio->setPosition(IntRect::fromXYWH(172, kBandY + 18, 59, 140));
    for (int i = 0; i < 5; ++i) caption(172 + 22, kBandY + 18 + i * 28 + 10, waves[i]);

    caption(290, kBandY, "DROP-DOWN");
    for (int i = 0; i < 2; ++i) {
        parameters_.push_back(makeHeap<EnumParameter>(
            0, "Tempo", std::initializer_list<std::string_view>{"1/16", "1/8", "1/4", "1/2", "1/1", "2/1"},
            2));
        auto* dropdown = addChild(heapNew<tessary::TessaryDropdown>(
            ctx, static_cast<IntegerParameter*>(parameters_.back().get()), lato_.get(),
            std::vector<std::string>{"1/16", "1/8", "1/4", "1/2", "1/1", "2/1"}));
        dropdown->setPosition(IntRect::fromXYWH(290 + i * 70, kBandY + 22, 47, 175));
        dropdown->setZOrder(2);
        caption(290 + i * 70, kBandY + 11, i == 0 ? "CLOSED" : "OPEN");
        if (i == 1) {
            dropdown->open = true;
            dropdown->openAnimation = 1.0f;
        }
    }

    // ---- Labels, logo, hint, bow game --------------------------------------------------------------
    caption(440, kBandY, "LABELS");
    auto* label = addChild(heapNew<UILabel>(ctx, lato_.get(), "STEREO WIDTH"));
    label->setTextSize(11.0f);
    label->setLetterSpacing(0.5f);
    label->setTextColor(RGBA{158, 164, 170, 14});
    label->setPosition(IntRect::fromXYWH(440, kBandY + 16, 100, 16));
    auto* title = addChild(heapNew<UILabel>(ctx, spartan_.get(), "SPATIALIZATION TOOLBOX"));
    title->setTextSize(9.0f);
    title->setLetterSpacing(1.0f);
    title->setTextColor(RGBA{150, 150, 150, 0});
    title->setPosition(IntRect::fromXYWH(440, kBandY + 34, 150, 14));

    caption(440, kBandY + 60, "LOGO");
    auto* logo = addChild(heapNew<UILogo>(ctx, makeLogo()));
    logo->baseEmissive = 0;
    logo->hoverEmissive = 80;
    logo->restEmissive = 10;
    logo->setPosition(IntRect::fromXYWH(440, kBandY + 74, 64, 56));

    caption(530, kBandY + 60, "VALUE HINT");
    parameters_.push_back(makeHeap<GainParameter>(0, "Output Level", 6.0, -3.5));
    auto* hint = addChild(heapNew<PosedHint>(ctx, parameters_.back().get(), lato_.get()));
    hint->bandDiffuse = RGBA{130, 90, 45, 5};
    hint->textColorHidden = RGBA{91, 90, 89, 13};
    hint->textColorShown = RGBA{41, 40, 49, 13};
    hint->boxDiffuseHidden = RGBA{91, 90, 89, 13};
    hint->boxDiffuseShown = RGBA{253, 245, 240, 43};
    hint->boxMaterial = RGBA{0, 255, 192, 255};
    hint->backdropAlpha = 0.0f;
    hint->setZOrder(3);
    hint->changed = true;
    hint->visibility = 1.0f;
    hint->setPosition(IntRect::fromXYWH(540, kBandY + 80, 40, 22));

    caption(630, kBandY, "BOW GAME");
    auto* game = addChild(heapNew<BowGame>(ctx));
    game->setPosition(IntRect::fromXYWH(630, kBandY + 18, 105, 84));
    game->newGame();
    BowGame::forEachInPattern(1, 1, [game](std::int32_t r, std::int32_t col) { game->toggle(r, col); });
    BowGame::forEachInPattern(2, 3, [game](std::int32_t r, std::int32_t col) { game->markPreview(r, col); });
    caption(630, kBandY + 108, "PREVIEW (2, 3)");

    // ---- Displays: panoramas and phase scopes, fed by the demo signal -------------------------
    demo_ = makeDemoSignal(kDemoRate);
    constexpr int kPanoramaY = 540, kScopeY = 744;
    caption(12, kPanoramaY - 40, "PANORAMA");
    struct Setting {
        Param index;
        const char* value;
    };
    struct PanoramaPose {
        int zoom;  // 0..3: x1..x4
        std::vector<Setting> settings;
        const char* lines[2];
    };
    const PanoramaPose poses[3] = {
        {0,
         {{kPan, "-50"},
          {kDistance, "-14"},
          {kTilt, "5"},
          {kOutputLevel, "-6"},
          {kLfoToPan, "40"},
          {kLfoSynced, "no"},
          {kLfoFreq, "0.5"},
          {kLfoPhase, "90"}},
         {"X1  PAN -50  DISTANCE -14", "TILT +5 DB  LFO > PAN 40 %"}},
        {1,
         {{kPan, "20"}, {kDistance, "-5"}, {kTilt, "-5"}, {kOutputLevel, "6"}, {kDryWet, "50"}},
         {"X2  PAN +20  DISTANCE -5", "TILT -5 DB  DRY / WET 50 %"}},
        {3,
         {{kPan, "75"},
          {kDistance, "1"},
          {kOutputLevel, "-24"},
          {kLfoToDistance, "60"},
          {kLfoToGain, "80"},
          {kLfoSynced, "no"},
          {kLfoFreq, "2"}},
         {"X4  PAN +75  DISTANCE +1", "LFO > DISTANCE, GAIN  HOVER"}},
    };
    for (int i = 0; i < 3; ++i) {
        auto& player = *players_.emplace_back(std::make_unique<DemoPlayer>(demo_));
        for (const Setting& setting : poses[i].settings) player.set(setting.index, setting.value);
        auto* panorama =
            addChild(heapNew<PanoramaDisplay>(ctx, player.parameter(kPan), player.parameter(kDistance),
                                              player.parameter(kTilt), player.parameter(kOutputLevel)));
        const IntRect box = IntRect::fromXYWH(12 + i * 250, kPanoramaY, 238, 141);
        panorama->setPosition(box);
        panoramas_.push_back(panorama);
        while (panorama->zoomIndex() != poses[i].zoom)
            panorama->onMouseWheel(0, 0, 0, panorama->zoomIndex() < poses[i].zoom ? 1 : -1, {});
        player.panorama = panorama;
        player.play(static_cast<std::int64_t>(kTonesStart * kDemoRate), false);
        caption(box.min.x, kPanoramaY - 26, poses[i].lines[0]);
        caption(box.min.x, kPanoramaY - 15, poses[i].lines[1]);
    }

    caption(12, kScopeY - 44, "PHASE SCOPE");
    caption(12, kScopeY - 30,
            "THE DEMO SIGNAL AT PAN +30, DISTANCE -6, STEREO WIDTH 160 %, M-TO-S AMOUNT 50 %");
    struct ScopePose {
        double start;
        int clicks;  // 0 plain, 1 left (bright), 2 right (off)
        const char* name;
    };
    const ScopePose scopePoses[4] = {{kTonesStart, 0, "TONES"},
                                     {kTonesStart, 1, "TONES, BRIGHT"},
                                     {kNoiseStart, 1, "NOISE, BRIGHT"},
                                     {kTonesStart, 2, "OFF"}};
    for (int i = 0; i < 4; ++i) {
        auto& player = *players_.emplace_back(std::make_unique<DemoPlayer>(demo_));
        player.set(kPan, "30");
        player.set(kDistance, "-6");
        player.set(kStereoWidth, "160");
        player.set(kMtoSAmount, "50");
        auto* scope = addChild(heapNew<PhaseDisplay>(ctx));
        const IntRect box = IntRect::fromXYWH(12 + i * 154, kScopeY, PhaseDisplay::kDefaultWidth,
                                              PhaseDisplay::kDefaultHeight);
        scope->setPosition(box);
        scopes_.push_back(scope);
        if (scopePoses[i].clicks > 0)
            scope->onMouseClick(0, 0, scopePoses[i].clicks == 1 ? MouseButton::left : MouseButton::right,
                                false, {});
        player.scope = scope;
        player.play(static_cast<std::int64_t>(scopePoses[i].start * kDemoRate), false);
        caption(box.min.x, kScopeY - 15, scopePoses[i].name);
    }
    const char* clicks[] = {"LEFT CLICK:", "BRIGHT", "", "RIGHT CLICK:", "OFF"};
    for (int i = 0; i < 5; ++i) caption(632, kScopeY + 4 + i * 12, clicks[i]);

    // ---- Bitmap fonts ---------------------------------------------------------------------------------
    constexpr int kFontY = 910;
    caption(12, kFontY - 14, "BITMAP FONTS 8 X 8 AND 8 X 16");
    caption(12, kFontY, printable(32, 79).c_str());
    caption(12, kFontY + 10, printable(80, 126).c_str());
    caption(12, kFontY + 22, printable(32, 79).c_str(), true);
    caption(12, kFontY + 40, printable(80, 126).c_str(), true);

    // The editor's colour grading over everything.
    auto* grading = addChild(heapNew<UIColorCorrection>(ctx));
    grading->setPosition(IntRect{{0, 0}, {kWidth, kHeight}});
    const float levels[3][4] = {
        {0.0f, 0.94f, 1.095f, 0.21f}, {0.0f, 0.94f, 1.09f, 0.185f}, {0.07f, 0.89f, 1.025f, 0.215f}};
    grading->setLevelsMatrix(levels);
}

WidgetGallery::~WidgetGallery() {
    // Widgets listen to the parameters: destroy them first.
    for (std::size_t i = 0; i < _children.length(); ++i) heapDelete(_children[i]);
    _children.clear();
}

void WidgetGallery::onAnimate(double dt, double) {
    const double frames = dt * kDemoRate;
    if (!(frames > 0.0)) return;
    const auto n = static_cast<std::int64_t>(std::min(frames, 1.0 * kDemoRate) + 0.5);
    for (auto& player : players_) player->play(n);
}

FloatParameter* WidgetGallery::floatParameter(double normalized) {
    parameters_.push_back(makeHeap<LinearFloatParameter>(0, "Value", "", 0.0, 1.0, normalized));
    return static_cast<FloatParameter*>(parameters_.back().get());
}

void WidgetGallery::caption(std::int32_t x, std::int32_t y, const char* text, bool tall) {
    if (text[0] == 0) return;
    const BitmapFontSize size = tall ? BitmapFontSize::tall8x16 : BitmapFontSize::small8x8;
    auto* c = addChild(heapNew<BitmapCaption>(&uiContext(), text, size));
    const IntRect m = measureBitmapText(text, size);
    c->setPosition(m.translated(x, y));
}

void WidgetGallery::reflow(IntRect availableSpace) {
    _position = availableSpace;
}

void WidgetGallery::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap,
                              ImageView<RGBA> materialMap, const Vec<IntRect>& dirtyRects) {
    for (const IntRect& r : dirtyRects) {
        fillBox(diffuseMap, r, kPanel);
        fillBox(depthMap, r, L16{kPanelDepth});
        fillBox(materialMap, r, kPanelMaterial);
        auto recess = [&](const UIElement* display) {
            const IntRect box = display->position();
            const IntRect framed{{box.min.x - kScreenFrame, box.min.y - kScreenFrame},
                                 {box.max.x + kScreenFrame, box.max.y + kScreenFrame}};
            fillBox(diffuseMap, r.intersection(framed), kScreen);
            fillBox(depthMap, r.intersection(framed), L16{kScreenDepth});
        };
        for (const PanoramaDisplay* panorama : panoramas_) recess(panorama);
        for (const PhaseDisplay* scope : scopes_) recess(scope);
    }
}

HeapPtr<OwnedImage<RGBA>> renderWidgetGallery() {
    WidgetGallery gallery;
    return renderWidgetGallery(gallery);
}

HeapPtr<OwnedImage<RGBA>> renderWidgetGallery(WidgetGallery& gallery) {
    gallery.setWindowFactory(&HeadlessWindow::create);
    gallery.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
    auto* window = static_cast<HeadlessWindow*>(gallery.window());
    window->paint();  // the first paint delivers the size
    window->mouseMove(kHoverX, kHoverY);
    for (std::int32_t t = 0; t < WidgetGallery::kDemoTicks; ++t) window->tick();
    auto image = makeHeap<OwnedImage<RGBA>>(window->width(), window->height());
    copyBox(window->screen(), image->view());
    gallery.closeUI();
    gallery.setWindowFactory(nullptr);
    return image;
}

}  // namespace velmora::gallery
