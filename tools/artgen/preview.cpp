// The artwork lit by the real compositor, with the editor's widgets.
#include "tools/artgen/preview.h"

#include <algorithm>
#include <cmath>

#include "effect/bowgame.h"
#include "effect/main.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/graphics/decode.h"
#include "korvo/graphics/font.h"
#include "korvo/gui/context.h"
#include "korvo/gui/graphics.h"
#include "korvo/widgets/colorcorrection.h"
#include "korvo/widgets/knob.h"
#include "korvo/widgets/label.h"
#include "korvo/widgets/logo.h"
#include "korvo/widgets/onoffswitch.h"
#include "korvo/widgets/slider.h"
#include "korvo/window/screenshot.h"
#include "korvo_resources_resources.h"
#include "tessary/widgets/dropdown.h"
#include "tessary/widgets/radiobuttonset.h"
#include "tools/artgen/layout.h"

namespace velmora::artgen {

using korvo::ElementFlags;
using korvo::HeapPtr;
using korvo::ImageView;
using korvo::IntRect;
using korvo::L16;
using korvo::OwnedImage;
using korvo::RGBA;
using korvo::UIContext;
using korvo::UIElement;
using korvo::Vec;

namespace {

constexpr float kPi = 3.14159265358979f;

// The editor's knob style sets.
struct KnobSet {
    float radius;
    RGBA material;
    korvo::KnobStyle style;
    std::int32_t leds;
    float ledMin, ledMax;
    RGBA ledLit, ledUnlit;
    float ledDistance, ledDistancePushed;
    std::uint16_t ledDepth;
    float trailMin, trailMax;
    RGBA unlitTrail;
};
constexpr KnobSet kLarge{0.8f,
                         {64, 255, 128, 255},
                         korvo::KnobStyle::dimple,
                         7,
                         0.06f,
                         0.1f,
                         {32, 32, 96, 80},
                         {32, 32, 96, 40},
                         0.95f,
                         0.9f,
                         65000,
                         0.8f,
                         0.97f,
                         {90, 94, 98, 0}};
constexpr KnobSet kFlat{0.8f,
                        {0, 255, 128, 255},
                        korvo::KnobStyle::cylinder,
                        13,
                        0.06f,
                        0.06f,
                        {32, 32, 32, 40},
                        {32, 32, 32, 40},
                        0.94f,
                        0.93f,
                        65000,
                        0.7f,
                        1.0f,
                        {90, 94, 98, 0}};
constexpr KnobSet kDome{0.75f,
                        {0, 193, 128, 255},
                        korvo::KnobStyle::dome,
                        1,
                        0.15f,
                        0.15f,
                        {96, 96, 96, 150},
                        {96, 96, 96, 100},
                        0.8f,
                        0.7f,
                        0,
                        0.7f,
                        1.0f,
                        {90, 94, 98, 0}};
constexpr KnobSet kPanSet{0.75f,
                          {96, 255, 128, 255},
                          korvo::KnobStyle::dimple,
                          7,
                          0.11f,
                          0.12f,
                          {230, 240, 255, 255},
                          {230, 240, 255, 100},
                          0.8f,
                          0.8f,
                          10000,
                          0.875f,
                          1.0f,
                          {150, 155, 155, 60}};

struct KnobPlace {
    std::string_view widget;
    Param param;
    const KnobSet* set;
    float minAngle, baseAngle, maxAngle;  // multiples of pi
};
constexpr KnobPlace kKnobs[] = {
    {"Stereo Width", kStereoWidth, &kLarge, -0.75f, 0.0f, 0.75f},
    {"Dry / Wet", kDryWet, &kLarge, -0.75f, -0.75f, 0.75f},
    {"M-to-S Amount.", kMtoSAmount, &kFlat, -0.7f, -0.7f, 0.7f},
    {"M-to-S Delay", kMtoSDelay, &kDome, -0.7f, -0.7f, 0.7f},
    {"M-to-S Lowpass", kMtoSLowpass, &kDome, -0.7f, -0.7f, 0.7f},
    {"Tilt", kTilt, &kFlat, -0.75f, 0.0f, 0.75f},
    {"Pan", kPan, &kPanSet, -0.654f, 0.0f, 0.654f},
    {"Head size", kHeadSize, &kDome, -1.0f, 0.0f, 1.0f},
    {"Level pan", kLevelPan, &kDome, -1.0f, 0.0f, 1.0f},
    {"Spectral Pan", kSpectralPan, &kDome, -1.0f, 0.0f, 1.0f},
    {"LFO > Pan", kLfoToPan, &kDome, -1.0f, 0.0f, 1.0f},
    {"LFO > Distance", kLfoToDistance, &kDome, -1.0f, 0.0f, 1.0f},
    {"LFO > Gain", kLfoToGain, &kDome, -1.0f, 0.0f, 1.0f},
    {"LFO > Tilt", kLfoToTilt, &kDome, -1.0f, 0.0f, 1.0f},
    {"LFO Phase", kLfoPhase, &kDome, -1.0f, 0.0f, 1.0f},
    {"LFO Freq", kLfoFreq, &kFlat, -0.75f, -0.75f, 0.75f},
};

IntRect widgetBox(std::string_view name) {
    for (const WidgetBox& w : kWidgets)
        if (w.name == name) return w.box;
    return IntRect{};
}

// Thin outlines of the widget boxes (magenta) and hint boxes (yellow) over everything.
class Outlines final : public UIElement {
public:
    explicit Outlines(UIContext* context) : UIElement(context, ElementFlags::drawsRaw) {}
    void onDrawRaw(ImageView<RGBA> raw, const Vec<IntRect>& dirtyRects) override {
        for (const IntRect& r : dirtyRects) {
            const ImageView<RGBA> view = raw.sub(r);
            const auto frame = [&](IntRect b, RGBA c) {
                b = b.translated(-r.min.x, -r.min.y);
                korvo::blendBox(view, IntRect{b.min, {b.max.x, b.min.y + 1}}, c, 150);
                korvo::blendBox(view, IntRect{{b.min.x, b.max.y - 1}, b.max}, c, 150);
                korvo::blendBox(view, IntRect{{b.min.x, b.min.y + 1}, {b.min.x + 1, b.max.y - 1}}, c, 150);
                korvo::blendBox(view, IntRect{{b.max.x - 1, b.min.y + 1}, {b.max.x, b.max.y - 1}}, c, 150);
            };
            for (const WidgetBox& w : kWidgets) frame(w.box, RGBA{255, 0, 255, 255});
            for (korvo::IntPoint p : kHintPoints) frame(hintBox(p), RGBA{255, 230, 0, 255});
            for (const Slope& s : kSlopes) frame(s.box, RGBA{0, 160, 255, 255});
        }
    }
};

class PreviewEditor final : public korvo::GUIGraphics {
public:
    // The displays bind to `client`'s parameters: it must outlive the editor.
    PreviewEditor(const EncodedArtwork& files, const PreviewOptions& options, VelmoraClient& client)
        : GUIGraphics(kWidth, kHeight, ElementFlags::drawsPBR),
          labelFont_(korvo::resources::Lato_Semibold_ttf, korvo::resources::Lato_Semibold_ttf_size),
          titleFont_(korvo::resources::LeagueSpartan_Bold_otf,
                     korvo::resources::LeagueSpartan_Bold_otf_size) {
        // The editor's lighting.
        korvo::PBRCompositor& c = compositor();
        c.shadowLightColor = {0.1984f, 0.2480f, 0.2976f};
        const float d = 1.0f / std::sqrt(2.01f), s = 1.0f / std::sqrt(1.01f);
        c.diffuseLightDir = {-d, d, 0.1f * d};
        c.diffuseLightColor = {0.4743f, 0.3689f, 0.2635f};
        c.specularLightDir = {0.0f, s, 0.1f * s};
        c.specularLightColor = {0.1612f, 0.1860f, 0.2108f};
        c.ambientAmount = 0.062f;
        c.skyboxStrength = 0.3968f;
        setLitMargin(19);
        diffuse_ =
            korvo::decodeWithAlphaImage(files[0].data(), files[0].size(), files[1].data(), files[1].size());
        material_ = korvo::decodeToRGBA(files[2].data(), files[2].size());
        const korvo::DecodedImage depth = korvo::decodeImage(files[3].data(), files[3].size(), 4);
        depth_ = korvo::makeHeap<OwnedImage<L16>>(depth.w, depth.h);
        for (std::int32_t i = 0; i < depth.w * depth.h; ++i) {
            const std::uint8_t* p = depth.pixels + 4 * static_cast<std::size_t>(i);
            depth_->pixels()[i] = L16{static_cast<std::uint16_t>((p[0] + p[1] + p[2]) * 257 / 3)};
        }
        uiContext().setSkybox(korvo::decodeToRGBA(files[4].data(), files[4].size()).release());
        if (options.widgets) addWidgets(files, client);
        auto correction = korvo::makeHeap<korvo::UIColorCorrection>(_context);
        const float levels[3][4] = {
            {0.0f, 0.94f, 1.095f, 0.21f}, {0.0f, 0.94f, 1.09f, 0.185f}, {0.07f, 0.89f, 1.025f, 0.215f}};
        correction->setLevelsMatrix(levels);
        place(addChild(std::move(correction)), IntRect{{0, 0}, {kWidth, kHeight}});
        if (options.outlines)
            place(addChild(korvo::makeHeap<Outlines>(_context)), IntRect{{0, 0}, {kWidth, kHeight}});
    }

    // Every child at its own box.
    void reflow(IntRect box) override {
        _position = box;
        for (std::size_t i = 0; i < _children.length(); ++i) _children[i]->reflow(boxes_[i]);
    }

    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override {
        for (const IntRect& r : dirtyRects) {
            korvo::copyBox(diffuse_->view().sub(r), diffuseMap.sub(r));
            korvo::copyBox(depth_->view().sub(r), depthMap.sub(r));
            korvo::copyBox(material_->view().sub(r), materialMap.sub(r));
            for (const Slope& s : kSlopes) {
                const IntRect part = s.box.intersection(r);
                if (part.empty()) continue;
                // The gradient over the whole box, clipped to the dirty part.
                const float exponent = s.exponent;
                for (std::int32_t y = part.min.y; y < part.max.y; ++y) {
                    const float t = static_cast<float>(y - s.box.min.y) / static_cast<float>(s.box.height());
                    const float wf = std::pow(t, exponent) * 65535.0f + 0.5f;
                    const auto w = static_cast<std::uint32_t>(std::clamp(wf, 0.0f, 65535.0f));
                    const auto v = static_cast<std::uint16_t>((s.top * (65535u - w) + s.bottom * w) / 65535u);
                    for (std::int32_t x = part.min.x; x < part.max.x; ++x) depthMap.at(x, y) = L16{v};
                }
            }
        }
    }

private:
    template <class T>
    T* place(T* child, IntRect box) {
        boxes_.push_back(box);
        return child;
    }

    // The widgets with the editor's settings, in the editor's order.
    void addWidgets(const EncodedArtwork& files, VelmoraClient& client) {
        const auto param = [&client](Param index) { return &client.parameter(index); };
        const auto floatParam = [&](Param index) {
            return static_cast<korvo::FloatParameter*>(param(index));
        };
        auto logo =
            korvo::makeHeap<korvo::UILogo>(_context, korvo::decodeToRGBA(files[5].data(), files[5].size()));
        logo->hoverEmissive = 80;
        logo->restEmissive = 10;
        place(addChild(std::move(logo)), widgetBox("logo"));
        auto subtitle = korvo::makeHeap<korvo::UILabel>(_context, &titleFont_, "HE WHO CONTROLS THE SPACE");
        subtitle->setTextSize(9.0f);
        subtitle->setLetterSpacing(1.0f);
        subtitle->setTextColor(RGBA{150, 150, 150, 0});
        place(addChild(std::move(subtitle)), widgetBox("subtitle"));
        for (auto [name, index] : {std::pair{"Distance", kDistance}, {"Output Level", kOutputLevel}}) {
            auto slider = korvo::makeHeap<korvo::UISlider>(_context, param(index));
            slider->unlitTrailDiffuse = RGBA{90, 94, 98, 0};
            slider->litTrailDiffuse = RGBA{192, 245, 255, 112};
            slider->handleStyle = 2;
            slider->handleHeightRatio = 0.25f;
            slider->handleWidthRatio = 0.65f;
            slider->handleDiffuse = RGBA{245, 252, 255, 10};
            slider->handleMaterial = RGBA{0, 1, 129, 255};
            place(addChild(std::move(slider)), widgetBox(name));
        }
        for (const KnobPlace& k : kKnobs) {
            const KnobSet& set = *k.set;
            auto knob = k.param == kPan ? korvo::makeHeap<korvo::PanKnob>(_context, floatParam(k.param))
                                        : korvo::makeHeap<korvo::UIKnob>(_context, floatParam(k.param));
            knob->knobRadius = set.radius;
            knob->knobDiffuse = RGBA{255, 255, 255, 0};
            knob->knobMaterial = set.material;
            knob->style = set.style;
            knob->numLEDs = set.leds;
            knob->LEDRadiusMin = set.ledMin;
            knob->LEDRadiusMax = set.ledMax;
            knob->LEDDiffuseLit = set.ledLit;
            knob->LEDDiffuseUnlit = set.ledUnlit;
            knob->LEDDistanceFromCenter = set.ledDistance;
            knob->LEDDistanceFromCenterPushed = set.ledDistancePushed;
            knob->LEDDepth = set.ledDepth;
            knob->trailRadiusMin = set.trailMin;
            knob->trailRadiusMax = set.trailMax;
            knob->unlitTrailDiffuse = set.unlitTrail;
            knob->hasAlternateTrail = true;
            knob->litTrailDiffuseAlt = RGBA{255, 190, 80, 150};
            knob->litTrailDiffuse = k.param == kLfoFreq ? RGBA{255, 190, 80, 150} : RGBA{192, 245, 255, 112};
            knob->minAngle = k.minAngle * kPi;
            knob->trailBaseAngle = k.baseAngle * kPi;
            knob->maxAngle = k.maxAngle * kPi;
            const IntRect b = widgetBox(k.widget);
            const float cx = static_cast<float>((b.min.x + b.max.x) / 2),
                        cy = static_cast<float>((b.min.y + b.max.y) / 2);
            knob->trailOffsetX = (cx - 381.5f) * -0.02f / 381.5f;
            knob->trailOffsetY = k.param == kLfoToTilt ? 0.06f : (cy - 419.9f) * -0.02f / 381.5f;
            place(addChild(std::move(knob)), b);
        }
        struct SwitchPlace {
            const char* widget;
            Param param;
            RGBA off;
            std::int32_t orientation;
            std::uint16_t low, high;
        };
        for (const SwitchPlace& w :
             {SwitchPlace{"Test Mono", kTestMono, {90, 94, 98, 0}, 1, 10000, 30000},
              SwitchPlace{"LFO Synced", kLfoSynced, {255, 190, 80, 150}, 0, 20000, 10000}}) {
            auto sw = korvo::makeHeap<korvo::UIOnOffSwitch>(
                _context, static_cast<korvo::BoolParameter*>(param(w.param)));
            sw->diffuseOn = RGBA{192, 245, 255, 112};
            sw->diffuseOff = w.off;
            sw->orientation = w.orientation;
            sw->depthLow = w.low;
            sw->depthHigh = w.high;
            sw->holeDepth = 0;
            place(addChild(std::move(sw)), widgetBox(w.widget));
        }
        auto bow = korvo::makeHeap<BowGame>(_context);
        bow->newGame();
        place(addChild(std::move(bow)), widgetBox("bow game"));
        place(addChild(korvo::makeHeap<PanoramaDisplay>(_context, floatParam(kPan), floatParam(kDistance),
                                                        floatParam(kTilt), floatParam(kOutputLevel))),
              widgetBox("panorama"));
        place(addChild(korvo::makeHeap<PhaseDisplay>(_context)), widgetBox("phase scope"));
        auto* tempo = static_cast<korvo::EnumParameter*>(param(kLfoTempo));
        std::vector<std::string> labels;
        for (std::int32_t i = 0; i < tempo->possibleValueCount(); ++i)
            labels.push_back(tempo->possibleValue(i));
        auto dropdown = korvo::makeHeap<tessary::TessaryDropdown>(_context, tempo, &labelFont_, labels);
        dropdown->setZOrder(2);
        place(addChild(std::move(dropdown)), widgetBox("LFO Tempo"));
        place(addChild(korvo::makeHeap<tessary::TessaryRadioButtonSet>(
                  static_cast<korvo::IntegerParameter*>(param(kLfoWave)), _context)),
              widgetBox("LFO Wave"));
    }

    std::vector<IntRect> boxes_;  // each child's box, in child order
    korvo::Font labelFont_;
    korvo::Font titleFont_;
    HeapPtr<OwnedImage<RGBA>> diffuse_;
    HeapPtr<OwnedImage<RGBA>> material_;
    HeapPtr<OwnedImage<L16>> depth_;
};

}  // namespace

HeapPtr<OwnedImage<RGBA>> renderPreview(const EncodedArtwork& files, const PreviewOptions& options) {
    VelmoraClient client;  // parameters for the displays, at their defaults
    PreviewEditor editor(files, options, client);
    return korvo::renderScreenshot(editor);
}

HeapPtr<OwnedImage<RGBA>> enlarge(const ImageView<RGBA>& image, IntRect part, std::int32_t factor) {
    part = part.intersection(image.bounds());
    factor = std::max(factor, 1);
    auto out = korvo::makeHeap<OwnedImage<RGBA>>(part.width() * factor, part.height() * factor);
    for (std::int32_t y = 0; y < out->h(); ++y)
        for (std::int32_t x = 0; x < out->w(); ++x)
            *out->pixelAt(x, y) = image.at(part.min.x + x / factor, part.min.y + y / factor);
    return out;
}

}  // namespace velmora::artgen
