// The widget gallery: layout, poses and the panel.
#include "tools/gallery/gallery.h"

#include <cmath>
#include <string>

#include "effect/bowgame.h"
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
#include "korvo/window/screenshot.h"
#include "korvo_resources_resources.h"
#include "tessary/widgets/dropdown.h"
#include "tessary/widgets/radiobuttonset.h"
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

WidgetGallery::WidgetGallery()
    : GUIGraphics(kWidth, kHeight, ElementFlags::drawsPBR),
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

    // ---- Bitmap fonts ---------------------------------------------------------------------------------
    constexpr int kFontY = 496;
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
    }
}

HeapPtr<OwnedImage<RGBA>> renderWidgetGallery() {
    WidgetGallery gallery;
    return renderScreenshot(gallery);
}

}  // namespace velmora::gallery
