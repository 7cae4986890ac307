// The effect's editor: lighting, artwork, layout and the two display feeds.
#include "effect/gui.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "effect/artwork/artwork.h"
#include "effect/bowgame.h"
#include "effect/main.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/graphics/decode.h"
#include "korvo/graphics/resample.h"
#include "korvo/gui/context.h"
#include "korvo/gui/focusring.h"
#include "korvo/client/presetfile.h"
#include "korvo/gui/history.h"
#include "korvo/window/window.h"
#include "korvo/widgets/colorcorrection.h"
#include "korvo/widgets/knob.h"
#include "korvo/widgets/label.h"
#include "korvo/widgets/logo.h"
#include "korvo/widgets/menu.h"
#include "korvo/widgets/onoffswitch.h"
#include "korvo/widgets/paramhint.h"
#include "korvo/widgets/presetstrip.h"
#include "korvo/widgets/slider.h"
#include "korvo/widgets/textfield.h"
#include "korvo_resources_resources.h"
#include "tessary/widgets/dropdown.h"
#include "tessary/widgets/radiobuttonset.h"
#include "velmora_resources_resources.h"

namespace velmora {

using korvo::IntRect;
using korvo::RGBA;

namespace {

constexpr float kPi = 3.14159265358979323846f;

constexpr IntRect box(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    return IntRect{{x0, y0}, {x1, y1}};
}

// Trail colours shared by every knob: cyan lit, amber alternate, grey unlit.
constexpr RGBA kLitTrail{192, 245, 255, 112};
constexpr RGBA kAltTrail{255, 190, 80, 150};
constexpr RGBA kUnlitTrail{90, 94, 98, 0};

// The four knob style sets.
struct KnobSet {
    float knobRadius;
    RGBA knobMaterial;
    korvo::KnobStyle style;
    std::int32_t numLEDs;
    float LEDRadiusMin, LEDRadiusMax;
    RGBA LEDDiffuseLit, LEDDiffuseUnlit;
    float LEDDistanceFromCenter, LEDDistanceFromCenterPushed;
    std::uint16_t LEDDepth;
    float trailRadiusMin, trailRadiusMax;
    RGBA unlitTrailDiffuse;
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
                         kUnlitTrail};
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
                        kUnlitTrail};
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
                        kUnlitTrail};
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

// Travel of a knob as fractions of pi, measured from twelve o'clock, clockwise.
struct Angles {
    float min, base, max;
};

// Style, angles, sensitivity and the trail parallax: a fraction of a pixel toward (381.5, 419.9),
// from the knob's centre in integer arithmetic.
void styleKnob(korvo::UIKnob& knob, const KnobSet& set, IntRect at, const Angles* angles, float sensitivity) {
    knob.setPosition(at);
    knob.knobRadius = set.knobRadius;
    knob.knobDiffuse = RGBA{255, 255, 255, 0};
    knob.knobMaterial = set.knobMaterial;
    knob.style = set.style;
    knob.numLEDs = set.numLEDs;
    knob.LEDRadiusMin = set.LEDRadiusMin;
    knob.LEDRadiusMax = set.LEDRadiusMax;
    knob.LEDDiffuseLit = set.LEDDiffuseLit;
    knob.LEDDiffuseUnlit = set.LEDDiffuseUnlit;
    knob.LEDDistanceFromCenter = set.LEDDistanceFromCenter;
    knob.LEDDistanceFromCenterPushed = set.LEDDistanceFromCenterPushed;
    knob.LEDDepth = set.LEDDepth;
    knob.trailRadiusMin = set.trailRadiusMin;
    knob.trailRadiusMax = set.trailRadiusMax;
    knob.unlitTrailDiffuse = set.unlitTrailDiffuse;
    knob.litTrailDiffuse = kLitTrail;
    knob.litTrailDiffuseAlt = kAltTrail;
    knob.hasAlternateTrail = true;
    if (angles != nullptr) {
        knob.minAngle = angles->min * kPi;
        knob.trailBaseAngle = angles->base * kPi;
        knob.maxAngle = angles->max * kPi;
    }
    knob.setSensitivity(sensitivity);
    const std::int32_t cx = (at.min.x + at.max.x) / 2, cy = (at.min.y + at.max.y) / 2;
    knob.trailOffsetX = (static_cast<float>(cx) - 381.5f) * -0.02f / 381.5f;
    knob.trailOffsetY = (static_cast<float>(cy) - 419.9f) * -0.02f / 381.5f;
}

void styleSlider(korvo::UISlider& slider, IntRect at, float sensitivity) {
    slider.setPosition(at);
    slider.trailDepth = 30000;
    slider.unlitTrailDiffuse = kUnlitTrail;
    slider.litTrailDiffuse = kLitTrail;
    slider.handleStyle = 2;
    slider.handleHeightRatio = 0.25f;
    slider.handleWidthRatio = 0.65f;
    slider.handleDiffuse = RGBA{245, 252, 255, 10};
    slider.handleMaterial = RGBA{0, 1, 129, 255};
    slider.setSensitivity(sensitivity);
}

// The parameter at `index` as the kind a widget needs. The effect's parameter table is part of the
// program, so a mismatch is a build error and ends the process.
template <class P>
P* parameterAs(VelmoraClient& client, std::int32_t index) {
    if (index >= client.parameterCount()) korvo::fatalError("editor: the client has too few parameters");
    auto* p = dynamic_cast<P*>(&client.parameter(index));
    if (p == nullptr) korvo::fatalError("editor: a parameter is not of the kind its widget needs");
    return p;
}

struct HintPlace {
    std::int32_t parameter;
    korvo::IntPoint point;  // the box's top-left corner sits 2 pixels left of it
};
constexpr HintPlace kHints[VelmoraGUI::kHintCount] = {
    {kDistance, {79, 186}},       {kOutputLevel, {722, 156}}, {kStereoWidth, {45, 355}},
    {kDryWet, {686, 355}},        {kMtoSAmount, {199, 355}},  {kMtoSDelay, {145, 294}},
    {kMtoSLowpass, {253, 294}},   {kTilt, {244, 397}},        {kPan, {380, 406}},
    {kHeadSize, {333, 465}},      {kLevelPan, {381, 461}},    {kSpectralPan, {429, 465}},
    {kLfoPhase, {479, 265}},      {kLfoFreq, {475, 209}},     {kLfoToPan, {554, 102}},
    {kLfoToDistance, {554, 155}}, {kLfoToGain, {554, 208}},   {kLfoToTilt, {554, 257}},
};

}  // namespace

const std::array<VelmoraGUI::Slope, 4> VelmoraGUI::kSlopes{{
    {box(0, 466, 763, 494), 16962, 0, [](float t) { return t * t; }},
    {box(300, 0, 463, 90), 52919, 18962, [](float t) { return std::sqrt(t); }},
    {box(645, 67, 763, 380), 62819, 17962, [](float t) { return std::pow(t, 0.7f); }},
    {box(403, 100, 643, 250), 16962, 25000, [](float t) { return std::pow(t, 1.4f); }},
}};

const char* VelmoraGUI::subtitleFor(const void* address) noexcept {
    return (reinterpret_cast<std::uintptr_t>(address) >> 9 & 1u) == 0 ? kSubtitles[0] : kSubtitles[1];
}

korvo::HeapPtr<korvo::OwnedImage<korvo::L16>> VelmoraGUI::depthFromPNG(const std::uint8_t* bytes,
                                                                       std::size_t size) {
    // The artwork stores the height as the average of R, G and B; 257 / 3 spreads it over 16 bits.
    const korvo::DecodedImage png = korvo::decodeImage(bytes, size, 4);
    auto depth = korvo::makeHeap<korvo::OwnedImage<korvo::L16>>(png.w, png.h);
    for (std::int32_t y = 0; y < png.h; ++y)
        for (std::int32_t x = 0; x < png.w; ++x) {
            const std::uint8_t* p = png.pixels + (static_cast<std::size_t>(y) * png.w + x) * 4;
            const std::uint32_t sum = std::uint32_t{p[0]} + p[1] + p[2];
            *depth->pixelAt(x, y) = korvo::L16{static_cast<std::uint16_t>(sum * 257u / 3u)};
        }
    return depth;
}

bool VelmoraGUI::replaceBackground(korvo::HeapPtr<korvo::OwnedImage<RGBA>> diffuse,
                                   korvo::HeapPtr<korvo::OwnedImage<RGBA>> material,
                                   korvo::HeapPtr<korvo::OwnedImage<korvo::L16>> depth) {
    const auto fits = [this](const auto& image) {
        return image && image->w() == _editorWidth && image->h() == _editorHeight;
    };
    ensureArtwork();  // the logo's picture too
    if (!fits(diffuse) || !fits(material) || !fits(depth)) return false;
    backgroundDiffuse_ = std::move(diffuse);
    backgroundMaterial_ = std::move(material);
    backgroundDepth_ = std::move(depth);
    setDirtyAll(korvo::DirtyLayer::fromFlags);
    return true;
}

VelmoraGUI::VelmoraGUI(VelmoraClient& client)
    : GUIGraphics(kWidth, kHeight, korvo::ElementFlags::drawsPBR | korvo::ElementFlags::wantsAnimation),
      client_(client) {
    std::vector<korvo::Parameter*> parameters;
    for (std::int32_t i = 0; i < client.parameterCount(); ++i) parameters.push_back(&client.parameter(i));
    history_ = korvo::makeHeap<korvo::EditHistory>(std::move(parameters));
    setEditHistory(history_.get());
    presetBrowser_ = korvo::makeHeap<korvo::PresetBrowser>(
        client, *history_,
        korvo::userPresetFolder(client.description().vendorName, client.description().pluginName));
    // Lighting: a warm key light from the upper left, a cool specular light from above, cool
    // shadow fill, little ambient light and a moderate skybox.
    korvo::PBRCompositor& c = compositor();
    c.shadowLightColor = {0.1984f, 0.2480f, 0.2976f};
    const float d = 1.0f / std::sqrt(2.01f), s = 1.0f / std::sqrt(1.01f);
    c.diffuseLightDir = {-d, d, 0.1f * d};
    c.diffuseLightColor = {0.4743f, 0.3689f, 0.2635f};
    c.specularLightDir = {0.0f, s, 0.1f * s};
    c.specularLightColor = {0.1612f, 0.1860f, 0.2108f};
    c.ambientAmount = 0.062f;
    c.skyboxStrength = 0.3968f;
    setLitMargin(kLitMargin);

    fontLato_ = korvo::makeHeap<korvo::Font>(korvo::resources::Lato_Semibold_ttf,
                                             korvo::resources::Lato_Semibold_ttf_size);
    fontCouture_ = korvo::makeHeap<korvo::Font>(korvo::resources::LeagueSpartan_Bold_otf,
                                                korvo::resources::LeagueSpartan_Bold_otf_size);

    namespace res = velmora::resources;
    uiContext().setSkybox(korvo::decodeToRGBA(res::skybox_jpg, res::skybox_jpg_size).release());

    korvo::UIContext* ctx = &uiContext();
    using korvo::FloatParameter;
    auto knobAt = [&](std::int32_t param, const KnobSet& set, IntRect at, const Angles* angles,
                      float sensitivity = 0.2f) {
        auto* knob =
            addChild(korvo::makeHeap<korvo::UIKnob>(ctx, parameterAs<FloatParameter>(client, param)));
        styleKnob(*knob, set, at, angles, sensitivity);
        return knob;
    };
    constexpr Angles kSymmetric{-0.75f, 0.0f, 0.75f}, kFromLeft{-0.75f, -0.75f, 0.75f};
    constexpr Angles kGenerator{-0.7f, -0.7f, 0.7f}, kFullTurn{-1.0f, 0.0f, 1.0f};
    constexpr Angles kPanTravel{-0.654f, 0.0f, 0.654f};

    // 1. Logo: glows under the pointer, opens the vendor's page.
    logo_ = addChild(korvo::makeHeap<korvo::UILogo>(ctx, nullptr));
    logo_->setPosition(box(24, 6, 88, 62));
    logo_->baseEmissive = 0;
    logo_->hoverEmissive = 80;
    logo_->restEmissive = 10;
    logo_->targetURL = client.homepage();
    // 2. Subtitle.
    subtitle_ = addChild(korvo::makeHeap<korvo::UILabel>(ctx, fontCouture_.get(), subtitleFor(this)));
    subtitle_->setPosition(box(516, 34, 711, 47));
    subtitle_->setTextSize(9.0f);
    subtitle_->setLetterSpacing(1.0f);
    subtitle_->setTextColor(RGBA{150, 150, 150, 0});
    // 3, 4. Sliders.
    distanceSlider_ =
        addChild(korvo::makeHeap<korvo::UISlider>(ctx, parameterAs<FloatParameter>(client, kDistance)));
    styleSlider(*distanceSlider_, box(47, 114, 76, 257), 0.55f);
    outputLevelSlider_ =
        addChild(korvo::makeHeap<korvo::UISlider>(ctx, parameterAs<FloatParameter>(client, kOutputLevel)));
    styleSlider(*outputLevelSlider_, box(689, 114, 718, 257), 0.65f);
    // 5, 6. The large knobs.
    stereoWidthKnob_ = knobAt(kStereoWidth, kLarge, box(30, 291, 95, 356), &kSymmetric, 0.25f);
    knobAt(kDryWet, kLarge, box(672, 291, 737, 356), &kFromLeft, 0.275f);
    // 7. "Test Mono".
    testMonoSwitch_ = addChild(
        korvo::makeHeap<korvo::UIOnOffSwitch>(ctx, parameterAs<korvo::BoolParameter>(client, kTestMono)));
    testMonoSwitch_->setPosition(box(685, 426, 722, 454));
    testMonoSwitch_->diffuseOn = kLitTrail;
    testMonoSwitch_->diffuseOff = kUnlitTrail;
    testMonoSwitch_->orientation = 1;
    testMonoSwitch_->depthLow = 10000;
    testMonoSwitch_->depthHigh = 30000;
    testMonoSwitch_->holeDepth = 0;
    // 8. Bow game.
    bowGame_ = addChild(korvo::makeHeap<BowGame>(ctx, korvo::ElementFlags::drawsPBR));
    bowGame_->setPosition(box(10, 395, 115, 479));
    // 9 - 12. Generator and tilt.
    knobAt(kMtoSAmount, kFlat, box(195, 292, 239, 336), &kGenerator);
    knobAt(kMtoSDelay, kDome, box(146, 331, 180, 365), &kGenerator);
    knobAt(kMtoSLowpass, kDome, box(254, 331, 288, 365), &kGenerator);
    knobAt(kTilt, kFlat, box(195, 426, 239, 470), &kSymmetric);
    // 13 - 16. Pan and the three cues.
    panKnob_ = addChild(korvo::makeHeap<korvo::PanKnob>(ctx, parameterAs<FloatParameter>(client, kPan)));
    styleKnob(*panKnob_, kPanSet, box(344, 300, 452, 408), &kPanTravel, 0.225f);
    knobAt(kHeadSize, kDome, box(334, 416, 368, 450), &kFullTurn);
    knobAt(kLevelPan, kDome, box(382, 412, 416, 446), &kFullTurn);
    knobAt(kSpectralPan, kDome, box(430, 416, 464, 450), &kFullTurn);
    // 17, 18. Displays.
    phaseDisplay_ = addChild(korvo::makeHeap<PhaseDisplay>(ctx));
    phaseDisplay_->setPosition(box(492, 318, 631, 452));
    panorama_ = addChild(korvo::makeHeap<PanoramaDisplay>(
        ctx, parameterAs<FloatParameter>(client, kPan), parameterAs<FloatParameter>(client, kDistance),
        parameterAs<FloatParameter>(client, kTilt), parameterAs<FloatParameter>(client, kOutputLevel)));
    panorama_->setPosition(box(143, 88, 381, 229));
    // 19 - 23. LFO depths and phase.
    knobAt(kLfoToPan, kDome, box(596, 96, 630, 130), &kFullTurn);
    knobAt(kLfoToDistance, kDome, box(596, 149, 630, 183), &kFullTurn);
    knobAt(kLfoToGain, kDome, box(596, 202, 630, 236), &kFullTurn);
    knobAt(kLfoToTilt, kDome, box(596, 251, 630, 285), &kFullTurn)->trailOffsetY = 0.06f;
    knobAt(kLfoPhase, kDome, box(522, 260, 556, 294), &kFullTurn);
    // 24. Tempo drop-down over its neighbours when open.
    auto* tempo = parameterAs<korvo::EnumParameter>(client, kLfoTempo);
    std::vector<std::string> tempoLabels;
    for (std::int32_t i = 0; i < tempo->possibleValueCount(); ++i)
        tempoLabels.push_back(tempo->possibleValue(i));
    tempoDropdown_ = addChild(
        korvo::makeHeap<tessary::TessaryDropdown>(ctx, tempo, fontLato_.get(), std::move(tempoLabels)));
    tempoDropdown_->setPosition(box(516, 101, 563, 421));
    tempoDropdown_->setZOrder(2);
    // 25. Wave buttons.
    waveButtons_ = addChild(korvo::makeHeap<tessary::TessaryRadioButtonSet>(
        parameterAs<korvo::IntegerParameter>(client, kLfoWave), ctx));
    waveButtons_->setPosition(box(438, 108, 497, 248));
    // 26. Rate, amber when lit.
    knobAt(kLfoFreq, kFlat, box(517, 201, 561, 245), nullptr)->litTrailDiffuse = kAltTrail;
    // 27. "LFO Synced".
    lfoSyncedSwitch_ = addChild(
        korvo::makeHeap<korvo::UIOnOffSwitch>(ctx, parameterAs<korvo::BoolParameter>(client, kLfoSynced)));
    lfoSyncedSwitch_->setPosition(box(527, 146, 552, 182));
    lfoSyncedSwitch_->diffuseOn = kLitTrail;
    lfoSyncedSwitch_->diffuseOff = kAltTrail;
    lfoSyncedSwitch_->orientation = 0;
    lfoSyncedSwitch_->depthLow = 20000;
    lfoSyncedSwitch_->depthHigh = 10000;
    lfoSyncedSwitch_->holeDepth = 0;

    createParamHints();

    // The preset strip in the header's band right of the grille, and the text field that takes
    // the name window's place for "Save as...".
    presetStrip_ = addChild(korvo::makeHeap<korvo::UIPresetStrip>(ctx, fontLato_.get()));
    presetStrip_->setPosition(box(472, 6, 758, 30));
    presetStrip_->onPress = [this](korvo::UIPresetStrip::Part part) {
        pressPresetStrip(static_cast<std::int32_t>(part));
    };
    textField_ = addChild(korvo::makeHeap<korvo::UITextField>(ctx, fontLato_.get()));
    textField_->setZOrder(4);
    updatePresetStrip();

    // The keyboard focus ring, over the controls.
    auto* ring = addChild(korvo::makeHeap<korvo::UIFocusRing>(ctx));
    ring->setPosition(box(0, 0, kWidth, kHeight));
    ring->setZOrder(5);
    setFocusRing(ring);

    // The size menu, over everything when open.
    sizeMenu_ = addChild(korvo::makeHeap<korvo::UIMenu>(ctx, fontLato_.get()));
    sizeMenu_->setPosition(box(0, 0, kWidth, kHeight));
    sizeMenu_->setZOrder(10);

    // Colour grading of everything drawn: the last child.
    colorCorrection_ = addChild(korvo::makeHeap<korvo::UIColorCorrection>(ctx));
    colorCorrection_->setPosition(box(0, 0, kWidth, kHeight));
    const float levels[3][4] = {
        {0.0f, 0.94f, 1.095f, 0.21f}, {0.0f, 0.94f, 1.09f, 0.185f}, {0.07f, 0.89f, 1.025f, 0.215f}};
    colorCorrection_->setLevelsMatrix(levels);

    bowGame_->newGame();
    client_.attachDisplays(panorama_, phaseDisplay_);
}

VelmoraGUI::~VelmoraGUI() {
    // The audio thread must stop feeding the displays before they go.
    client_.attachDisplays(nullptr, nullptr);
    stopArtworkDrawing();
    closeUI();
    // The widgets use the fonts: destroy them while the fonts still exist.
    for (korvo::UIElement* child : _children) korvo::heapDelete(child);
    _children.clear();
}

namespace {

// One embedded picture set: the background's colour, emissive, material and depth, and the logo.
struct ArtworkSet {
    const std::uint8_t *color, *emissive, *material, *depth, *logo;
    std::size_t colorSize, emissiveSize, materialSize, depthSize, logoSize;
};
ArtworkSet artworkSet(bool doubled) noexcept {
    namespace res = velmora::resources;
    if (!doubled)
        return ArtworkSet{res::background_color_jpg,
                          res::background_emissive_png,
                          res::background_material_png,
                          res::background_depth_png,
                          res::logo_png,
                          res::background_color_jpg_size,
                          res::background_emissive_png_size,
                          res::background_material_png_size,
                          res::background_depth_png_size,
                          res::logo_png_size};
    return ArtworkSet{res::background_color_2x_jpg,
                      res::background_emissive_2x_png,
                      res::background_material_2x_png,
                      res::background_depth_2x_png,
                      res::logo_2x_png,
                      res::background_color_2x_jpg_size,
                      res::background_emissive_2x_png_size,
                      res::background_material_2x_png_size,
                      res::background_depth_2x_png_size,
                      res::logo_2x_png_size};
}

// `image` as it is when it has the size, else resampled to it.
template <class COLOR>
korvo::HeapPtr<korvo::OwnedImage<COLOR>> sized(korvo::HeapPtr<korvo::OwnedImage<COLOR>> image, std::int32_t w,
                                               std::int32_t h) {
    if (image->w() == w && image->h() == h) return image;
    auto out = korvo::makeHeap<korvo::OwnedImage<COLOR>>(w, h);
    korvo::resample(image->view(), out->view());
    return out;
}

}  // namespace

void VelmoraGUI::loadArtwork(float scale) {
    const ArtworkSet set = artworkSet(scale > 1.0f);
    const std::int32_t w = korvo::scaleCoord(kWidth, scale), h = korvo::scaleCoord(kHeight, scale);
    // The four pictures decode side by side on the render pool (an editor opening at 200 % spends
    // most of its time here).
    korvo::DecodedImage color, emissive;
    korvo::HeapPtr<korvo::OwnedImage<RGBA>> material, logo;
    korvo::HeapPtr<korvo::OwnedImage<korvo::L16>> depth;
    const IntRect logoBox = logo_->position();
    auto decode = [&](std::int32_t job) {
        switch (job) {
            case 0:
                color = korvo::decodeImage(set.color, set.colorSize, 3);
                break;
            case 1:
                emissive = korvo::decodeImage(set.emissive, set.emissiveSize, 1);
                logo = sized(korvo::decodeToRGBA(set.logo, set.logoSize), logoBox.width(), logoBox.height());
                break;
            case 2:
                material = sized(korvo::decodeToRGBA(set.material, set.materialSize), w, h);
                break;
            default:
                depth = sized(depthFromPNG(set.depth, set.depthSize), w, h);
                break;
        }
    };
    threadPool().runParallel(4, decode);
    if (color.w != emissive.w || color.h != emissive.h)
        korvo::fatalError("editor: the background's colour and emissive pictures differ in size");
    auto diffuse = korvo::makeHeap<korvo::OwnedImage<RGBA>>(color.w, color.h);
    const std::size_t count = static_cast<std::size_t>(color.w) * static_cast<std::size_t>(color.h);
    RGBA* out = diffuse->pixels();
    for (std::size_t i = 0; i < count; ++i)
        out[i] =
            RGBA{color.pixels[3 * i], color.pixels[3 * i + 1], color.pixels[3 * i + 2], emissive.pixels[i]};
    backgroundDiffuse_ = sized(std::move(diffuse), w, h);
    backgroundMaterial_ = std::move(material);
    backgroundDepth_ = std::move(depth);
    logo_->setImage(std::move(logo));
    artworkScale_ = scale;
}

// A drawing of the panel and the logo at one scale, on a thread of its own.
struct VelmoraGUI::ArtworkDrawing {
    explicit ArtworkDrawing(float s) : scale(s), thread(korvo::ThreadCallback{this, &run}, 0) {}
    static void run(void* object) {
        auto* self = static_cast<ArtworkDrawing*>(object);
        self->art = artgen::drawScaledPanelAndLogo(self->scale, &self->cancel);
        self->done.store(true, std::memory_order_release);
    }
    float scale;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    artgen::Artwork art;
    korvo::Thread thread;
};

void VelmoraGUI::stopArtworkDrawing() noexcept {
    if (!drawing_) return;
    drawing_->cancel.store(true, std::memory_order_relaxed);
    drawing_->thread.join();
    drawing_.reset();
}

void VelmoraGUI::ensureArtwork() {
    const float scale = drawScale();
    if (artworkScale_ == scale) return;
    stopArtworkDrawing();
    loadArtwork(scale);
    // The embedded scales are drawn already; any other is drawn now, beside the editor.
    if (scale != 1.0f && scale != 2.0f) {
        drawing_ = korvo::makeHeap<ArtworkDrawing>(scale);
        drawing_->thread.start();
    }
}

void VelmoraGUI::updatePresetStrip() {
    presetBrowser_->followHost();
    presetStrip_->setName(presetBrowser_->currentName());
    presetStrip_->setModified(presetBrowser_->modified());
    presetStrip_->setSlot(presetBrowser_->slot());
    presetStrip_->setUndoable(history_->canUndo(), history_->canRedo());
}

korvo::IntPoint VelmoraGUI::belowName() const noexcept {
    const IntRect name = presetStrip_->nameWindow();
    return korvo::IntPoint{name.min.x, name.max.y + 1};
}

void VelmoraGUI::pressPresetStrip(std::int32_t part) {
    using Part = korvo::UIPresetStrip::Part;
    std::string message;
    switch (static_cast<Part>(part)) {
        case Part::previous: presetBrowser_->step(-1, message); break;
        case Part::next: presetBrowser_->step(1, message); break;
        case Part::name: openPresetList(); break;
        case Part::slotA:
        case Part::slotB:
            if (presetBrowser_->slot() != (static_cast<Part>(part) == Part::slotA ? 0 : 1))
                presetBrowser_->switchSlot();
            break;
        case Part::compareMenu: {
            const bool a = presetBrowser_->slot() == 0;
            std::vector<korvo::MenuItem> items(1);
            items[0].text = a ? "Copy A to B" : "Copy B to A";
            const IntRect pair = korvo::scaleRect(
                korvo::UIPresetStrip::partBox(Part::slotA).translated(presetStrip_->layoutBox().min.x,
                                                                     presetStrip_->layoutBox().min.y),
                scale());
            sizeMenu_->open(std::move(items), korvo::IntPoint{pair.min.x, pair.max.y + 1},
                            [this](std::int32_t) { presetBrowser_->copyToOther(); });
            break;
        }
        case Part::undo: history_->undo(); break;
        case Part::redo: history_->redo(); break;
        default: break;
    }
    if (!message.empty()) presetStrip_->showMessage(message);
    updatePresetStrip();
}

void VelmoraGUI::openPresetList() {
    constexpr std::int32_t kSaveAs = -2;
    listed_ = presetBrowser_->entries();
    std::vector<korvo::MenuItem> items;
    bool userPart = false;
    for (std::size_t i = 0; i < listed_.size(); ++i) {
        const korvo::PresetBrowser::Entry& e = listed_[i];
        if (e.factoryIndex < 0 && !userPart) {
            userPart = true;
            items.push_back(korvo::MenuItem{{}, 0, false, true, true});
        }
        korvo::MenuItem item;
        item.text = e.name;
        item.id = static_cast<std::int32_t>(i);
        item.checked = presetBrowser_->isCurrent(e);
        item.enabled = e.problem == nullptr;
        items.push_back(std::move(item));
    }
    items.push_back(korvo::MenuItem{{}, 0, false, true, true});
    items.push_back(korvo::MenuItem{"Save as...", kSaveAs, false, true, false});
    sizeMenu_->open(std::move(items), belowName(), [this](std::int32_t id) {
        if (id == kSaveAs) {
            startSaveAs();
            return;
        }
        if (id < 0 || id >= static_cast<std::int32_t>(listed_.size())) return;
        std::string message;
        if (!presetBrowser_->load(listed_[static_cast<std::size_t>(id)], message))
            presetStrip_->showMessage(message);
        updatePresetStrip();
    });
}

void VelmoraGUI::openParameterMenu(korvo::Parameter& parameter, korvo::IntPoint at) {
    korvo::Parameter* p = &parameter;
    const auto choose = [this, p](std::int32_t item) {
        if (item == 0) p->resetToDefaultFromEditor();
        if (item == 1) startValueEntry(*p);
    };
    const std::vector<std::string> ours{kMenuReset, kMenuEnterValue};
    korvo::IHostCommand* host = client_.hostCommand();
    if (host != nullptr && host->popUpParameterMenu(p->index(), at.x, at.y, ours, choose)) return;
    std::vector<korvo::MenuItem> items(ours.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        items[i].text = ours[i];
        items[i].id = static_cast<std::int32_t>(i);
    }
    sizeMenu_->open(std::move(items), at, choose);
}

void VelmoraGUI::startValueEntry(korvo::Parameter& parameter) {
    // Over the parameter's value hint (the panorama has none: over the pan knob's).
    IntRect over = korvo::IntRect::fromXYWH(kWidth / 2 - 40, kHeight / 2 - 9, 80, 18);
    for (korvo::UIParamHint* hint : hints_)
        if (hint->param == &parameter) {
            const IntRect b = hint->layoutBox();
            const std::int32_t cx = (b.min.x + b.max.x) / 2, cy = (b.min.y + b.max.y) / 2;
            over = korvo::IntRect::fromXYWH(std::clamp(cx - 40, 0, kWidth - 80), std::clamp(cy - 9, 0, kHeight - 18), 80, 18);
        }
    char text[128];
    parameter.formatNormalized(parameter.getNormalized(), text, sizeof text);
    std::string value = text;
    if (!parameter.label().empty()) value += " " + std::string(parameter.label());
    korvo::Parameter* p = &parameter;
    textField_->begin(
        over, value,
        [this, p](const std::string& typed) {
            const korvo::ParseResult parsed = p->parseToNormalized(typed);
            if (!parsed.ok) {
                presetStrip_->showMessage("Not a value of \"" + std::string(p->name()) + "\": " + typed);
                startValueEntry(*p);
                return;
            }
            returnKeyboard();
            p->beginEdit();
            p->setFromEditorNormalized(parsed.normalized);
            p->endEdit();
        },
        [this] { returnKeyboard(); });
}

void VelmoraGUI::returnKeyboard() {
    if (window() != nullptr) window()->returnFocus();
}

void VelmoraGUI::startSaveAs() {
    const IntRect name = korvo::UIPresetStrip::partBox(korvo::UIPresetStrip::Part::name)
                             .translated(presetStrip_->layoutBox().min.x, presetStrip_->layoutBox().min.y);
    textField_->begin(
        name, presetBrowser_->currentName(),
        [this](const std::string& text) {
            returnKeyboard();
            saveAs(text, false);
        },
        [this] { returnKeyboard(); });
}

void VelmoraGUI::saveAs(const std::string& name, bool replace) {
    std::string message;
    switch (presetBrowser_->save(name, replace, message)) {
        case korvo::PresetBrowser::SaveResult::saved:
            presetStrip_->showMessage("Saved");
            break;
        case korvo::PresetBrowser::SaveResult::exists: {
            std::vector<korvo::MenuItem> items(2);
            items[0].text = "Replace \"" + korvo::presetFileName(name) + "\"";
            items[0].id = 1;
            items[1].text = "Cancel";
            items[1].id = 0;
            sizeMenu_->open(std::move(items), belowName(), [this, name](std::int32_t id) {
                if (id == 1) saveAs(name, true);
            });
            break;
        }
        case korvo::PresetBrowser::SaveResult::failed:
            presetStrip_->showMessage(message);
            break;
    }
    updatePresetStrip();
}

void VelmoraGUI::onAnimate(double, double) {
    updatePresetStrip();
    if (!drawing_ || !drawing_->done.load(std::memory_order_acquire)) return;
    drawing_->thread.join();
    artgen::Artwork& art = drawing_->art;
    const std::int32_t w = _editorWidth, h = _editorHeight;
    if (art.color && art.color->w() == w && art.color->h() == h) {
        // Colour with the emissive as its alpha, the material as it is, the depth from the grey
        // height (the sum of three channels, as the embedded pictures store it).
        auto diffuse = korvo::makeHeap<korvo::OwnedImage<RGBA>>(w, h);
        auto depth = korvo::makeHeap<korvo::OwnedImage<korvo::L16>>(w, h);
        for (std::int32_t y = 0; y < h; ++y) {
            const RGBA* c = art.color->view().row(y);
            const RGBA* e = art.emissive->view().row(y);
            const RGBA* d = art.depth->view().row(y);
            RGBA* outDiffuse = diffuse->view().row(y);
            korvo::L16* outDepth = depth->view().row(y);
            for (std::int32_t x = 0; x < w; ++x) {
                outDiffuse[x] = RGBA{c[x].r, c[x].g, c[x].b, e[x].r};
                const std::uint32_t sum = std::uint32_t{d[x].r} + d[x].g + d[x].b;
                outDepth[x] = korvo::L16{static_cast<std::uint16_t>(sum * 257u / 3u)};
            }
        }
        backgroundDiffuse_ = std::move(diffuse);
        backgroundDepth_ = std::move(depth);
        backgroundMaterial_ = sized(std::move(art.material), w, h);
        const IntRect logoBox = logo_->position();
        logo_->setImage(sized(std::move(art.logo), logoBox.width(), logoBox.height()));
        setDirtyAll(korvo::DirtyLayer::fromFlags);
    }
    drawing_.reset();
}

korvo::ImageView<RGBA> VelmoraGUI::onResize(std::int32_t width, std::int32_t height) {
    ensureArtwork();
    return GUIGraphics::onResize(width, height);
}

const korvo::OwnedImage<RGBA>& VelmoraGUI::backgroundDiffuse() {
    ensureArtwork();
    return *backgroundDiffuse_;
}
const korvo::OwnedImage<RGBA>& VelmoraGUI::backgroundMaterial() {
    ensureArtwork();
    return *backgroundMaterial_;
}
const korvo::OwnedImage<korvo::L16>& VelmoraGUI::backgroundDepth() {
    ensureArtwork();
    return *backgroundDepth_;
}

bool VelmoraGUI::onMouseClick(std::int32_t x, std::int32_t y, korvo::MouseButton button, bool,
                              korvo::MouseState) {
    if (button != korvo::MouseButton::right) return false;
    menuPending_ = true;
    menuAt_ = korvo::IntPoint{x, y};
    return true;
}

void VelmoraGUI::onStopDrag() {
    if (!menuPending_) return;
    menuPending_ = false;
    openSizeMenu(menuAt_);
}

void VelmoraGUI::openSizeMenu(korvo::IntPoint at) {
    std::vector<korvo::MenuItem> items;
    const float zoom = userZoom();
    for (std::size_t i = 0; i < kZooms.size(); ++i) {
        korvo::MenuItem item;
        item.text = std::to_string(static_cast<int>(std::lround(kZooms[i] * 100.0f))) + " %";
        item.id = static_cast<std::int32_t>(i);
        item.checked = std::fabs(kZooms[i] - zoom) < 0.005f;
        item.enabled = screenScale() * kZooms[i] <= kMaxScale + 1e-4f;
        items.push_back(std::move(item));
    }
    sizeMenu_->open(std::move(items), at, [this](std::int32_t id) {
        if (id >= 0 && id < static_cast<std::int32_t>(kZooms.size()))
            chooseUserZoom(kZooms[static_cast<std::size_t>(id)]);
    });
}

void VelmoraGUI::createParamHints() {
    for (std::int32_t i = 0; i < kHintCount; ++i) {
        const HintPlace& place = kHints[i];
        auto* hint = addChild(korvo::makeHeap<korvo::UIParamHint>(
            &uiContext(), &client_.parameter(place.parameter), fontLato_.get()));
        hint->setPosition(IntRect::fromXYWH(place.point.x - 2, place.point.y, kHintWidth, kHintHeight));
        hint->setZOrder(3);
        hint->textSize = 9.5f;
        hint->bandDiffuse = RGBA{130, 90, 45, 5};
        hint->textColorHidden = RGBA{91, 90, 89, 13};
        hint->textColorShown = RGBA{41, 40, 49, 13};
        hint->boxDiffuseHidden = RGBA{91, 90, 89, 13};
        hint->boxDiffuseShown = RGBA{253, 245, 240, 43};
        hint->boxMaterial = RGBA{0, 255, 192, 255};
        hint->backdropAlpha = 0.0f;
        hints_[static_cast<std::size_t>(i)] = hint;
    }
}

void VelmoraGUI::sendPanoramaState(float sampleRate, float gain, float tilt, float distance,
                                   float pan) noexcept {
    panorama_->sendPanoramaState(sampleRate, gain, tilt, distance, pan);
}

void VelmoraGUI::sendPhaseSamples(const float* left, const float* right, std::int32_t frames,
                                  float sampleRate) noexcept {
    phaseDisplay_->sendPhaseSamples(left, right, frames, sampleRate);
}

void VelmoraGUI::reflow(IntRect availableSpace) {
    _position = availableSpace;
}

void VelmoraGUI::onDrawPBR(korvo::ImageView<RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                           korvo::ImageView<RGBA> materialMap, const korvo::Vec<IntRect>& dirtyRects) {
    if (!backgroundDiffuse_) return;  // frames come after onResize, which loads the artwork
    for (const IntRect& r : dirtyRects) {
        korvo::copyBox(backgroundDiffuse_->view().sub(r), diffuseMap.sub(r));
        korvo::copyBox(backgroundDepth_->view().sub(r), depthMap.sub(r));
        korvo::copyBox(backgroundMaterial_->view().sub(r), materialMap.sub(r));
        // Each slope is the gradient of its whole box, written only inside the dirty rectangle.
        const korvo::CroppedView<korvo::L16> clipped{depthMap, r};
        for (const Slope& slope : kSlopes) {
            const IntRect at = korvo::scaleRect(slope.box, scale());
            if (at.intersection(r).empty()) continue;
            korvo::fillVerticalGradient(clipped, at.translated(-r.min.x, -r.min.y), korvo::L16{slope.top},
                                        korvo::L16{slope.bottom}, slope.curve);
        }
    }
}

}  // namespace velmora
