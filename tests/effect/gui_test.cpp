// The effect's editor: layout, artwork, slopes, subtitles, display attachment and golden pictures.
//
// To regenerate the golden pictures after an intended change of the artwork, a widget or the
// renderer, run the Linux test binary with KORVO_UPDATE_GOLDEN=1:
//   KORVO_UPDATE_GOLDEN=1 build/linux/tests/effect_tests --gtest_filter='VelmoraGUIGolden.*'
// and look at the new pictures (tests/data/editor_*.png) before committing them.
#include "effect/gui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <typeinfo>
#include <vector>

#include "effect/bowgame.h"
#include "effect/main.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/graphics/decode.h"
#include "korvo/gui/context.h"
#include "korvo/gui/focusring.h"
#include "korvo/widgets/colorcorrection.h"
#include "korvo/widgets/knob.h"
#include "korvo/widgets/label.h"
#include "korvo/widgets/logo.h"
#include "korvo/widgets/menu.h"
#include "korvo/widgets/onoffswitch.h"
#include "korvo/widgets/paramhint.h"
#include "korvo/widgets/presetstrip.h"
#include "korvo/widgets/textfield.h"
#include "korvo/widgets/slider.h"
#include "korvo/window/headless.h"
#include "tools/offscreen/screenshot.h"
#include "tessary/widgets/dropdown.h"
#include "tessary/widgets/radiobuttonset.h"
#include "tests/support/golden.h"
#include "velmora_resources_resources.h"

namespace velmora {
namespace {

using korvo::IntRect;
using korvo::RGBA;

constexpr float kPi = 3.14159265358979323846f;

IntRect box(int x0, int y0, int x1, int y1) {
    return IntRect{{x0, y0}, {x1, y1}};
}

VelmoraGUI& editorOf(VelmoraClient& client) {
    auto* gui = dynamic_cast<VelmoraGUI*>(client.ensureGraphics());
    EXPECT_NE(gui, nullptr);
    return *gui;
}

// ---- Layout ----------------------------------------------------------------------------------------

enum class Kind { logo, label, slider, knob, panKnob, onOff, bowGame, phase, panorama, dropdown, radio };

struct Expected {
    Kind kind;
    IntRect box;
    int parameter;  // -1: none
    int zOrder;
};

// The layout as the editor must build it, in child order.
const Expected kLayout[] = {
    {Kind::logo, box(24, 6, 88, 62), -1, 0},
    {Kind::label, box(516, 34, 711, 47), -1, 0},
    {Kind::slider, box(47, 114, 76, 257), kDistance, 0},
    {Kind::slider, box(689, 114, 718, 257), kOutputLevel, 0},
    {Kind::knob, box(30, 291, 95, 356), kStereoWidth, 0},
    {Kind::knob, box(672, 291, 737, 356), kDryWet, 0},
    {Kind::onOff, box(685, 426, 722, 454), kTestMono, 0},
    {Kind::bowGame, box(10, 395, 115, 479), -1, 0},
    {Kind::knob, box(195, 292, 239, 336), kMtoSAmount, 0},
    {Kind::knob, box(146, 331, 180, 365), kMtoSDelay, 0},
    {Kind::knob, box(254, 331, 288, 365), kMtoSLowpass, 0},
    {Kind::knob, box(195, 426, 239, 470), kTilt, 0},
    {Kind::panKnob, box(344, 300, 452, 408), kPan, 0},
    {Kind::knob, box(334, 416, 368, 450), kHeadSize, 0},
    {Kind::knob, box(382, 412, 416, 446), kLevelPan, 0},
    {Kind::knob, box(430, 416, 464, 450), kSpectralPan, 0},
    {Kind::phase, box(492, 318, 631, 452), -1, 0},
    {Kind::panorama, box(143, 88, 381, 229), kPan, 0},
    {Kind::knob, box(596, 96, 630, 130), kLfoToPan, 0},
    {Kind::knob, box(596, 149, 630, 183), kLfoToDistance, 0},
    {Kind::knob, box(596, 202, 630, 236), kLfoToGain, 0},
    {Kind::knob, box(596, 251, 630, 285), kLfoToTilt, 0},
    {Kind::knob, box(522, 260, 556, 294), kLfoPhase, 0},
    {Kind::dropdown, box(516, 101, 563, 421), kLfoTempo, 2},
    {Kind::radio, box(438, 108, 497, 248), kLfoWave, 0},
    {Kind::knob, box(517, 201, 561, 245), kLfoFreq, 0},
    {Kind::onOff, box(527, 146, 552, 182), kLfoSynced, 0},
};
constexpr int kWidgetCount = sizeof(kLayout) / sizeof(kLayout[0]);

const std::pair<int, korvo::IntPoint> kHintPoints[VelmoraGUI::kHintCount] = {
    {kDistance, {79, 186}},       {kOutputLevel, {722, 156}}, {kStereoWidth, {45, 355}},
    {kDryWet, {686, 355}},        {kMtoSAmount, {199, 355}},  {kMtoSDelay, {145, 294}},
    {kMtoSLowpass, {253, 294}},   {kTilt, {244, 397}},        {kPan, {380, 406}},
    {kHeadSize, {333, 465}},      {kLevelPan, {381, 461}},    {kSpectralPan, {429, 465}},
    {kLfoPhase, {479, 265}},      {kLfoFreq, {475, 209}},     {kLfoToPan, {554, 102}},
    {kLfoToDistance, {554, 155}}, {kLfoToGain, {554, 208}},   {kLfoToTilt, {554, 257}},
};

// The parameter a widget is bound to, checking the kind the widget needs.
int boundIndex(Kind kind, korvo::UIElement* e) {
    switch (kind) {
        case Kind::slider:
            return static_cast<korvo::UISlider*>(e)->param->index();
        case Kind::knob:
        case Kind::panKnob: {
            korvo::Parameter* p = static_cast<korvo::UIKnob*>(e)->param;
            EXPECT_NE(dynamic_cast<korvo::FloatParameter*>(p), nullptr);
            return p->index();
        }
        case Kind::onOff: {
            korvo::Parameter* p = static_cast<korvo::UIOnOffSwitch*>(e)->param;
            EXPECT_NE(dynamic_cast<korvo::BoolParameter*>(p), nullptr);
            return p->index();
        }
        case Kind::dropdown:
            return static_cast<tessary::TessaryDropdown*>(e)->param->index();
        case Kind::radio:
            return static_cast<tessary::TessaryRadioButtonSet*>(e)->param->index();
        default:
            return -1;
    }
}

bool isKind(Kind kind, korvo::UIElement* e) {
    switch (kind) {
        case Kind::logo:
            return dynamic_cast<korvo::UILogo*>(e) != nullptr;
        case Kind::label:
            return dynamic_cast<korvo::UILabel*>(e) != nullptr;
        case Kind::slider:
            return dynamic_cast<korvo::UISlider*>(e) != nullptr;
        case Kind::knob:
            return typeid(*e) == typeid(korvo::UIKnob);
        case Kind::panKnob:
            return dynamic_cast<korvo::PanKnob*>(e) != nullptr;
        case Kind::onOff:
            return dynamic_cast<korvo::UIOnOffSwitch*>(e) != nullptr;
        case Kind::bowGame:
            return dynamic_cast<BowGame*>(e) != nullptr;
        case Kind::phase:
            return dynamic_cast<PhaseDisplay*>(e) != nullptr;
        case Kind::panorama:
            return dynamic_cast<PanoramaDisplay*>(e) != nullptr;
        case Kind::dropdown:
            return dynamic_cast<tessary::TessaryDropdown*>(e) != nullptr;
        case Kind::radio:
            return dynamic_cast<tessary::TessaryRadioButtonSet*>(e) != nullptr;
    }
    return false;
}

TEST(VelmoraGUI, EveryWidgetSitsAtItsBoxBoundToItsParameterInLayoutOrder) {
    VelmoraClient client;
    VelmoraGUI& gui = editorOf(client);
    ASSERT_EQ(static_cast<int>(gui.childCount()), kWidgetCount + VelmoraGUI::kHintCount + 5);
    for (int i = 0; i < kWidgetCount; ++i) {
        SCOPED_TRACE("widget " + std::to_string(i + 1));
        korvo::UIElement* e = gui.child(static_cast<std::size_t>(i));
        const Expected& want = kLayout[i];
        EXPECT_TRUE(isKind(want.kind, e)) << typeid(*e).name();
        if (!isKind(want.kind, e)) continue;
        EXPECT_EQ(e->position(), want.box);
        EXPECT_EQ(e->zOrder(), want.zOrder);
        if (want.kind != Kind::panorama) {
            EXPECT_EQ(boundIndex(want.kind, e), want.parameter);
        }
    }
    for (int i = 0; i < VelmoraGUI::kHintCount; ++i) {
        SCOPED_TRACE("hint " + std::to_string(i));
        auto* hint = dynamic_cast<korvo::UIParamHint*>(gui.child(static_cast<std::size_t>(kWidgetCount + i)));
        ASSERT_NE(hint, nullptr);
        const auto [parameter, point] = kHintPoints[i];
        EXPECT_EQ(hint->param->index(), parameter);
        EXPECT_EQ(hint->position(), IntRect::fromXYWH(point.x - 2, point.y, 40, 22));
        EXPECT_EQ(hint->zOrder(), 3);
        EXPECT_EQ(hint->font(), &gui.fontLato());
        EXPECT_EQ(hint->boxDiffuseShown, (RGBA{253, 245, 240, 43}));
        EXPECT_EQ(hint->backdropAlpha, 0.0f);
    }
    // The preset strip in the header's band, the text field hidden over it, the focus ring over
    // the controls, hidden; the size menu over everything, closed; then the colour grading, last.
    EXPECT_EQ(gui.child(gui.childCount() - 5), static_cast<korvo::UIElement*>(gui.presetStrip()));
    EXPECT_EQ(gui.presetStrip()->position(), (IntRect{{472, 6}, {758, 30}}));
    EXPECT_EQ(gui.child(gui.childCount() - 4), static_cast<korvo::UIElement*>(gui.textField()));
    EXPECT_FALSE(gui.textField()->isVisible());
    auto* ring = dynamic_cast<korvo::UIFocusRing*>(gui.child(gui.childCount() - 3));
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(gui.focusRing(), ring);
    EXPECT_EQ(ring->surrounded(), nullptr);
    EXPECT_EQ(gui.child(gui.childCount() - 2), static_cast<korvo::UIElement*>(gui.sizeMenu()));
    EXPECT_EQ(gui.sizeMenu()->zOrder(), 10);
    EXPECT_FALSE(gui.sizeMenu()->isVisible());
    auto* grading = dynamic_cast<korvo::UIColorCorrection*>(gui.child(gui.childCount() - 1));
    ASSERT_NE(grading, nullptr);
    EXPECT_EQ(grading->position(), box(0, 0, 763, 494));
    korvo::UIColorCorrection reference(&gui.uiContext());
    reference.setLevels({0.0f, 0.94f, 1.095f, 0.21f}, {0.0f, 0.94f, 1.09f, 0.185f},
                        {0.07f, 0.89f, 1.025f, 0.215f});
    for (int c = 0; c < 3; ++c) EXPECT_EQ(grading->table(c), reference.table(c));

    EXPECT_EQ(gui.panorama(), gui.child(17));
    EXPECT_EQ(gui.phaseDisplay(), gui.child(16));
}

// What a host's "parameter under the mouse" finds: each control's parameter at its centre (the
// panorama is Pan), at every scale, and nothing over the panel, the displays or a closed list.
TEST(VelmoraGUI, TheParameterUnderEachControlsCentreIsItsOwn) {
    VelmoraClient client;
    VelmoraGUI& gui = editorOf(client);
    for (const float scale : {1.0f, 2.0f}) {
        gui.setScale(scale);
        const auto at = [&](std::int32_t x, std::int32_t y) {
            return gui.parameterAt(static_cast<std::int32_t>(std::lround(x * scale)),
                                   static_cast<std::int32_t>(std::lround(y * scale)));
        };
        for (const Expected& want : kLayout) {
            if (want.kind == Kind::dropdown) continue;  // its box is the list's, closed
            const IntRect& b = want.box;
            EXPECT_EQ(at((b.min.x + b.max.x) / 2, (b.min.y + b.max.y) / 2), want.parameter)
                << "scale " << scale << " box " << b.min.x << "," << b.min.y;
        }
        EXPECT_EQ(at(539, 110), kLfoTempo);  // the list's header
        EXPECT_EQ(at(300, 20), -1);
        EXPECT_EQ(at(5, 489), -1);
        EXPECT_EQ(at(-1, 100), -1);
        EXPECT_EQ(at(763, 100), -1);
    }
}

TEST(VelmoraGUI, KnobsCarryTheirStyleSetAnglesSensitivityAndParallax) {
    VelmoraClient client;
    VelmoraGUI& gui = editorOf(client);
    auto knob = [&](int child) {
        return static_cast<korvo::UIKnob*>(gui.child(static_cast<std::size_t>(child)));
    };
    auto parallax = [](IntRect b, float& x, float& y) {
        const int cx = (b.min.x + b.max.x) / 2, cy = (b.min.y + b.max.y) / 2;
        x = (static_cast<float>(cx) - 381.5f) * -0.02f / 381.5f;
        y = (static_cast<float>(cy) - 419.9f) * -0.02f / 381.5f;
    };
    for (int i = 0; i < kWidgetCount; ++i) {
        if (kLayout[i].kind != Kind::knob && kLayout[i].kind != Kind::panKnob) continue;
        SCOPED_TRACE("widget " + std::to_string(i + 1));
        korvo::UIKnob* k = knob(i);
        float x = 0, y = 0;
        parallax(kLayout[i].box, x, y);
        EXPECT_EQ(k->trailOffsetX, x);
        EXPECT_EQ(k->trailOffsetY, kLayout[i].parameter == kLfoToTilt ? 0.06f : y);
        EXPECT_TRUE(k->hasAlternateTrail);
        EXPECT_EQ(k->litTrailDiffuseAlt, (RGBA{255, 190, 80, 150}));
        const RGBA lit =
            kLayout[i].parameter == kLfoFreq ? RGBA{255, 190, 80, 150} : RGBA{192, 245, 255, 112};
        EXPECT_EQ(k->litTrailDiffuse, lit);
        EXPECT_EQ(k->knobDiffuse, (RGBA{255, 255, 255, 0}));
    }
    // One of each set, and the layout's own angles and sensitivities.
    korvo::UIKnob* width = knob(4);  // Large
    EXPECT_EQ(width->style, korvo::KnobStyle::dimple);
    EXPECT_EQ(width->numLEDs, 7);
    EXPECT_EQ(width->LEDDepth, 65000);
    EXPECT_EQ(width->trailRadiusMax, 0.97f);
    EXPECT_EQ(width->getSensitivity(), 0.25f);
    EXPECT_EQ(width->minAngle, -0.75f * kPi);
    EXPECT_EQ(width->trailBaseAngle, 0.0f);
    EXPECT_EQ(knob(5)->trailBaseAngle, -0.75f * kPi);  // "Dry / Wet" lights from the left
    EXPECT_EQ(knob(5)->getSensitivity(), 0.275f);
    korvo::UIKnob* amount = knob(8);  // Flat
    EXPECT_EQ(amount->style, korvo::KnobStyle::cylinder);
    EXPECT_EQ(amount->numLEDs, 13);
    EXPECT_EQ(amount->knobMaterial, (RGBA{0, 255, 128, 255}));
    EXPECT_EQ(amount->maxAngle, 0.7f * kPi);
    EXPECT_EQ(amount->getSensitivity(), 0.2f);
    korvo::UIKnob* delay = knob(9);  // Dome
    EXPECT_EQ(delay->style, korvo::KnobStyle::dome);
    EXPECT_EQ(delay->LEDDepth, 0);
    EXPECT_EQ(delay->LEDDiffuseLit, (RGBA{96, 96, 96, 150}));
    korvo::UIKnob* pan = knob(12);  // Pan
    EXPECT_EQ(pan, gui.panKnob());
    EXPECT_EQ(pan->LEDDepth, 10000);
    EXPECT_EQ(pan->unlitTrailDiffuse, (RGBA{150, 155, 155, 60}));
    EXPECT_EQ(pan->trailRadiusMin, 0.875f);
    EXPECT_EQ(pan->maxAngle, 0.654f * kPi);
    EXPECT_EQ(pan->getSensitivity(), 0.225f);
    EXPECT_EQ(knob(13)->minAngle, -kPi);  // "Head size"
    korvo::UIKnob* rate = knob(25);       // "LFO Freq": class-default angles
    EXPECT_EQ(rate->trailBaseAngle, -0.75f * kPi);
    EXPECT_EQ(rate->maxAngle, 0.75f * kPi);

    EXPECT_EQ(gui.distanceSlider()->getSensitivity(), 0.55f);
    EXPECT_EQ(gui.outputLevelSlider()->getSensitivity(), 0.65f);
    EXPECT_EQ(gui.outputLevelSlider()->handleMaterial, (RGBA{0, 1, 129, 255}));
    EXPECT_EQ(gui.testMonoSwitch()->orientation, 1);
    EXPECT_EQ(gui.lfoSyncedSwitch()->diffuseOff, (RGBA{255, 190, 80, 150}));
    EXPECT_EQ(gui.lfoSyncedSwitch()->depthLow, 20000);
    EXPECT_EQ(gui.tempoDropdown()->count(), 12);
    EXPECT_EQ(gui.tempoDropdown()->labels[0], "128/4");
    EXPECT_EQ(gui.tempoDropdown()->font, &gui.fontLato());
    EXPECT_EQ(gui.waveButtons()->count(), 5);
    EXPECT_EQ(gui.logo()->hoverEmissive, 80);
    EXPECT_EQ(gui.logo()->targetURL, client.homepage());
    EXPECT_TRUE(gui.bowGame()->allOn());
}

TEST(VelmoraGUI, LightingMarginAndSizeAreTheEditors) {
    VelmoraClient client;
    VelmoraGUI& gui = editorOf(client);
    const korvo::PBRCompositor& c = gui.compositor();
    EXPECT_EQ(c.diffuseLightColor.x, 0.4743f);
    EXPECT_EQ(c.ambientAmount, 0.062f);
    EXPECT_EQ(c.skyboxStrength, 0.3968f);
    EXPECT_NEAR(c.diffuseLightDir.x, -1.0 / std::sqrt(2.01), 1e-7);
    EXPECT_NEAR(c.specularLightDir.z, 0.1 / std::sqrt(1.01), 1e-7);
    EXPECT_EQ(gui.litMargin(), 19);
    std::int32_t w = 0, h = 0;
    gui.getGUISize(&w, &h);
    EXPECT_EQ(w, 763);
    EXPECT_EQ(h, 494);
    ASSERT_NE(gui.uiContext().skybox, nullptr);
    EXPECT_EQ(gui.uiContext().skybox->level(0).w(), 1024);
}

// ---- Artwork and slopes ------------------------------------------------------------------------------

TEST(VelmoraGUI, BackgroundLayersComeFromTheArtworkWithTheDepthSpreadOverSixteenBits) {
    VelmoraClient client;
    VelmoraGUI& gui = editorOf(client);
    namespace res = velmora::resources;
    const korvo::DecodedImage depth =
        korvo::decodeImage(res::background_depth_png, res::background_depth_png_size, 4);
    const korvo::DecodedImage emissive =
        korvo::decodeImage(res::background_emissive_png, res::background_emissive_png_size, 1);
    const korvo::DecodedImage color =
        korvo::decodeImage(res::background_color_jpg, res::background_color_jpg_size, 3);
    ASSERT_EQ(depth.w, 763);
    for (std::int32_t y = 0; y < 494; y += 7)
        for (std::int32_t x = 0; x < 763; x += 5) {
            const std::uint8_t* p = depth.pixels + (static_cast<std::size_t>(y) * 763 + x) * 4;
            ASSERT_EQ(gui.backgroundDepth().view().at(x, y).l, (p[0] + p[1] + p[2]) * 257 / 3);
            const RGBA d = gui.backgroundDiffuse().view().at(x, y);
            const std::uint8_t* c = color.pixels + (static_cast<std::size_t>(y) * 763 + x) * 3;
            ASSERT_EQ(d, (RGBA{c[0], c[1], c[2], emissive.pixels[y * 763 + x]}));
        }
    // Artwork of another size is refused and the embedded layers stay.
    const RGBA before = gui.backgroundDiffuse().view().at(5, 5);
    EXPECT_FALSE(gui.replaceBackground(korvo::makeHeap<korvo::OwnedImage<RGBA>>(763, 494),
                                       korvo::makeHeap<korvo::OwnedImage<RGBA>>(763, 493),
                                       korvo::makeHeap<korvo::OwnedImage<korvo::L16>>(763, 494)));
    EXPECT_EQ(gui.backgroundDiffuse().view().at(5, 5), before);
}

// The expected slope value of row y, from the whole box.
std::uint16_t slopeAt(const VelmoraGUI::Slope& s, std::int32_t y) {
    const float t = static_cast<float>(y - s.box.min.y) / static_cast<float>(s.box.height());
    const float c = s.curve(t);
    std::uint32_t w = static_cast<std::uint32_t>(std::fmin(std::fmax(c * 65535.0f + 0.5f, 0.0f), 65535.0f));
    return static_cast<std::uint16_t>((s.top * (65535u - w) + s.bottom * w) / 65535u);
}

TEST(VelmoraGUI, ADirtyRectangleCrossingASlopeGetsTheSlopeOnlyInsideTheIntersection) {
    VelmoraClient client;
    VelmoraGUI& gui = editorOf(client);
    ASSERT_EQ(VelmoraGUI::kSlopes[1].box, box(300, 0, 463, 90));
    EXPECT_EQ(VelmoraGUI::kSlopes[0].curve(0.5f), 0.25f);
    EXPECT_EQ(VelmoraGUI::kSlopes[1].curve(0.25f), 0.5f);
    korvo::OwnedImage<RGBA> diffuse(763, 494), material(763, 494);
    korvo::OwnedImage<korvo::L16> depth(763, 494);
    const RGBA untouched{1, 2, 3, 4};
    korvo::fill(diffuse.view(), untouched);
    korvo::fill(material.view(), untouched);
    korvo::fill(depth.view(), korvo::L16{7});
    // Crosses the left edge of the top-middle slope and the top of the LFO slope's box.
    const IntRect dirty = box(280, 60, 420, 120);
    korvo::Vec<IntRect> rects;
    rects.push(dirty);
    gui.backgroundDiffuse();  // the artwork is decoded on first need (a frame's onResize loads it)
    gui.onDrawPBR(diffuse.view(), depth.view(), material.view(), rects);
    int slopePixels = 0;
    for (std::int32_t y = 40; y < 140; ++y)
        for (std::int32_t x = 260; x < 440; ++x) {
            const korvo::L16 got = depth.view().at(x, y);
            if (!dirty.contains(x, y)) {
                ASSERT_EQ(got.l, 7) << x << ", " << y;
                ASSERT_EQ(diffuse.view().at(x, y), untouched);
                continue;
            }
            ASSERT_EQ(diffuse.view().at(x, y), gui.backgroundDiffuse().view().at(x, y));
            ASSERT_EQ(material.view().at(x, y), gui.backgroundMaterial().view().at(x, y));
            std::uint16_t want = gui.backgroundDepth().view().at(x, y).l;
            for (const VelmoraGUI::Slope& s : VelmoraGUI::kSlopes)
                if (s.box.contains(x, y)) want = slopeAt(s, y);
            slopePixels += want != gui.backgroundDepth().view().at(x, y).l;
            ASSERT_EQ(got.l, want) << x << ", " << y;
        }
    EXPECT_GT(slopePixels, 1000);
    // Row 89 of the top slope ends just above 18962, the value of its (excluded) bottom edge.
    EXPECT_EQ(depth.view().at(350, 89).l, slopeAt(VelmoraGUI::kSlopes[1], 89));
    EXPECT_GT(depth.view().at(350, 89).l, 18962);
}

// ---- Subtitle ------------------------------------------------------------------------------------------

TEST(VelmoraGUI, TheSubtitleFollowsBitNineOfTheAddressAndBothTextsFitTheirBox) {
    EXPECT_STREQ(VelmoraGUI::subtitleFor(reinterpret_cast<void*>(std::uintptr_t{0x1000})),
                 VelmoraGUI::kSubtitles[0]);
    EXPECT_STREQ(VelmoraGUI::subtitleFor(reinterpret_cast<void*>(std::uintptr_t{0x1200})),
                 VelmoraGUI::kSubtitles[1]);
    EXPECT_STREQ(VelmoraGUI::subtitleFor(reinterpret_cast<void*>(std::uintptr_t{0x11FF})),
                 VelmoraGUI::kSubtitles[0]);
    EXPECT_STREQ(VelmoraGUI::subtitleFor(reinterpret_cast<void*>(std::uintptr_t{0x13FF})),
                 VelmoraGUI::kSubtitles[1]);
    VelmoraClient client;
    VelmoraGUI& gui = editorOf(client);
    EXPECT_EQ(gui.subtitle()->text(), VelmoraGUI::subtitleFor(&gui));
    EXPECT_EQ(gui.subtitle()->font(), &gui.fontCouture());
    const IntRect subtitleBox = gui.subtitle()->position();
    for (const char* text : VelmoraGUI::kSubtitles) {
        SCOPED_TRACE(text);
        const IntRect m = gui.fontCouture().measureText(text, 9.0f, 1.0f);
        EXPECT_GT(m.width(), 100);
        EXPECT_LE(m.width(), subtitleBox.width() - 2);
        EXPECT_LE(m.height(), subtitleBox.height());
    }
}

// ---- Lifetime and feed -----------------------------------------------------------------------------------

TEST(VelmoraGUI, TheClientMakesOneEditorThatFeedsItsDisplaysUntilItGoes) {
    auto client = korvo::makeHeap<VelmoraClient>();
    EXPECT_TRUE(client->description().hasGUI);
    EXPECT_EQ(client->panoramaDisplay(), nullptr);
    VelmoraGUI& gui = editorOf(*client);
    EXPECT_EQ(client->ensureGraphics(), static_cast<korvo::IGraphics*>(&gui));  // reused, not remade
    EXPECT_EQ(client->panoramaDisplay(), gui.panorama());
    EXPECT_EQ(client->phaseDisplay(), gui.phaseDisplay());

    // Closing and reopening the view keeps the same editor and its widgets' state.
    gui.bowGame()->toggle(0, 0);
    (void)korvo::renderScreenshot(gui);
    EXPECT_EQ(client->graphics(), static_cast<korvo::IGraphics*>(&gui));
    EXPECT_FALSE(gui.bowGame()->allOn());

    // The editor's own feed operations reach the displays.
    const float left[4] = {0.5f, -0.25f, 0.125f, 0.0f}, right[4] = {0.5f, 0.25f, -0.125f, 0.0f};
    gui.sendPanoramaState(48000.0f, 1.0f, 0.0f, -6.0f, 0.5f);
    gui.sendPhaseSamples(left, right, 4, 48000.0f);
    EXPECT_EQ(gui.panorama()->stateFifo().count(), 1);

    client->resetFromHost(48000.0, 512, 2, 2);
    client.reset();  // destroys the editor after detaching its displays (ASan checks the rest)
}

// ---- Input through a window ------------------------------------------------------------------------------

class EditLog final : public korvo::IHostCommand {
public:
    void beginParameterEdit(std::int32_t i) noexcept override { log += "b" + std::to_string(i) + " "; }
    void automateParameter(std::int32_t i, float) noexcept override { log += "p" + std::to_string(i) + " "; }
    void endParameterEdit(std::int32_t i) noexcept override { log += "e" + std::to_string(i) + " "; }
    bool requestResize(std::int32_t, std::int32_t) noexcept override { return false; }
    korvo::HostKind hostKind() const noexcept override { return korvo::HostKind::unknown; }
    std::string log;
};

// Energy of each output channel in one block of a steady mono tone, after the glides.
std::pair<float, float> energies(VelmoraClient& client) {
    std::vector<float> in(512), left(512), right(512);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = 0.5f * std::sin(0.07f * static_cast<float>(i));
    std::pair<float, float> peak{0.0f, 0.0f};
    for (int block = 0; block < 20; ++block) {  // past the glides
        const float* inputs[1] = {in.data()};
        float* outputs[2] = {left.data(), right.data()};
        korvo::HostTiming timing;
        client.processAudioFromHost(inputs, 1, outputs, 2, 512, timing);
    }
    for (std::size_t i = 0; i < in.size(); ++i) {
        peak.first += left[i] * left[i];
        peak.second += right[i] * right[i];
    }
    return peak;
}

// An editor open in a headless window, its edits logged as the host gets them.
struct OpenEditor {
    explicit OpenEditor(std::int32_t inputs) {
        client.setHostCommand(&host);
        client.resetFromHost(48000.0, 512, inputs, 2);
        gui = &editorOf(client);
        gui->setWindowFactory(&korvo::HeadlessWindow::create);
        gui->openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
        window = static_cast<korvo::HeadlessWindow*>(gui->window());
        window->paint();
        window->tick();
    }
    ~OpenEditor() { gui->closeUI(); }
    VelmoraClient client;
    EditLog host;
    VelmoraGUI* gui = nullptr;
    korvo::HeadlessWindow* window = nullptr;
};

TEST(VelmoraGUI, DragsOnThePanKnobAndThePanoramaReachTheHostAndTheSound) {
    OpenEditor open(1);
    VelmoraClient& client = open.client;
    EditLog& host = open.host;
    VelmoraGUI& gui = *open.gui;
    korvo::HeadlessWindow& window = *open.window;
    const auto centred = energies(client);
    EXPECT_NEAR(centred.first, centred.second, 1e-3f * centred.first);

    // Pan knob: press on the disc, drag up 48 pixels (to the right), release.
    window.mouseMove(398, 354);
    window.mouseDown(korvo::MouseButton::left);
    for (int i = 1; i <= 4; ++i) window.mouseMove(398, 354 - 12 * i, korvo::MouseState{.left = true});
    window.mouseUp(korvo::MouseButton::left);
    EXPECT_EQ(host.log, "b6 p6 p6 p6 p6 e6 ");
    EXPECT_NEAR(client.parameter(kPan).getNormalized(), 0.5 + 48.0 / 108.0 * 0.225, 1e-6);
    const auto right = energies(client);
    EXPECT_GT(right.second, right.first * 1.2f);

    // Panorama: press on the left part of the half-disc and drag further left and out.
    host.log.clear();
    window.mouseMove(220, 180);
    window.mouseDown(korvo::MouseButton::left);
    window.mouseMove(200, 185, korvo::MouseState{.left = true});
    window.mouseUp(korvo::MouseButton::left);
    // The press is a gesture of its own (the source jumps there), then the drag is another.
    EXPECT_EQ(host.log, "b6 b0 p6 p0 e6 e0 b6 b0 p6 p0 e0 e6 ");
    EXPECT_LT(client.parameter(kPan).getNormalized(), 0.5);
    const auto left = energies(client);
    EXPECT_GT(left.first, left.second * 1.2f);
    gui.closeUI();
}

TEST(VelmoraGUI, AnIdleEditorDrawsNothingUntilSomethingChanges) {
    VelmoraClient client;
    client.resetFromHost(48000.0, 512, 2, 2);
    VelmoraGUI& gui = editorOf(client);
    gui.setWindowFactory(&korvo::HeadlessWindow::create);
    gui.openUI(nullptr, nullptr, korvo::HostKind::unknown, korvo::WindowBackend::win32);
    auto& window = *static_cast<korvo::HeadlessWindow*>(gui.window());
    window.paint();
    for (int i = 0; i < 200; ++i) window.tick();  // start-up fades and the scope come to rest
    const std::int32_t rested = window.paintCount();
    for (int i = 0; i < 300; ++i) window.tick();
    EXPECT_EQ(window.paintCount(), rested);
    // Host automation draws (the knob, its hint fading in and out, the relit glow), then rests.
    client.parameter(kStereoWidth).setNormalizedFromHost(0.9);
    for (int i = 0; i < 400; ++i) window.tick();
    const std::int32_t after = window.paintCount();
    EXPECT_GT(after, rested);
    for (int i = 0; i < 300; ++i) window.tick();
    EXPECT_EQ(window.paintCount(), after);
    gui.closeUI();
}

// ---- Golden pictures ---------------------------------------------------------------------------------

// The whole editor, freshly opened at the client's state, with the first subtitle.
korvo::HeapPtr<korvo::OwnedImage<RGBA>> renderEditor(VelmoraClient& client) {
    VelmoraGUI& gui = editorOf(client);
    gui.subtitle()->setText(VelmoraGUI::kSubtitles[0]);
    return korvo::renderScreenshot(gui);
}

int compareWithGolden(const char* name, korvo::ImageView<RGBA> rendered) {
    return korvo::test::compareWithGolden(name, rendered).worst;
}

// The whole editor is drawn with integer and single-precision arithmetic, except the specular
// power, which goes through the C runtime's pow (glibc and mingw may differ in the last bit): one
// level per channel is allowed anywhere, nothing more. (Linux, Windows and the sanitizer build
// reproduce the pictures exactly today.)
// The column left of the distance slider where the focus ring's left side is drawn, as shown.
std::vector<std::uint8_t> ringSide(korvo::HeadlessWindow& window) {
    window.tick();
    window.paint();
    std::vector<std::uint8_t> out;
    const korvo::ImageView<RGBA> screen = window.screen();
    for (std::int32_t y = 111; y < 260; ++y)
        for (std::int32_t x = 44; x < 46; ++x) {
            const RGBA p = screen.at(x, y);
            out.insert(out.end(), {p.r, p.g, p.b});
        }
    return out;
}

// Keys: the control under the pointer takes them, one gesture per press (steps of 1 %, 0.1 % with
// Shift, 10 % by page, the ends, the default; the next choice of a discrete one); Tab and
// Shift+Tab move a ring through the controls in layout order and the focused one takes the keys;
// a click takes the ring away; keys the editor does not use are left to the host.
TEST(VelmoraGUI, KeysStepTheControlUnderThePointerOrInFocusOneGesturePerPress) {
    OpenEditor open(2);
    VelmoraClient& client = open.client;
    EditLog& host = open.host;
    VelmoraGUI& gui = *open.gui;
    korvo::HeadlessWindow& window = *open.window;
    korvo::Parameter& pan = client.parameter(kPan);
    using korvo::Key;

    window.mouseMove(398, 354);  // over the pan knob
    EXPECT_TRUE(window.keyDown(Key::arrowUp));
    EXPECT_EQ(host.log, "b6 p6 e6 ");
    EXPECT_NEAR(pan.getNormalized(), 0.51, 1e-6);
    EXPECT_TRUE(window.keyDown(Key::arrowLeft, korvo::MouseState{.shift = true}));
    EXPECT_NEAR(pan.getNormalized(), 0.509, 1e-6);
    EXPECT_TRUE(window.keyDown(Key::pageDown));
    EXPECT_NEAR(pan.getNormalized(), 0.409, 1e-6);
    EXPECT_TRUE(window.keyDown(Key::end));
    EXPECT_EQ(pan.getNormalized(), 1.0);
    EXPECT_TRUE(window.keyDown(Key::arrowUp));  // stays at the end
    EXPECT_EQ(pan.getNormalized(), 1.0);
    EXPECT_TRUE(window.keyDown(Key::deleteKey));
    EXPECT_EQ(pan.getNormalized(), pan.getNormalizedDefault());
    EXPECT_FALSE(window.keyDown(Key::q));  // the host's
    window.mouseMove(450, 178);  // the LFO wave's radio set: the next choice
    const double wave = client.parameter(kLfoWave).getNormalized();
    host.log.clear();
    EXPECT_TRUE(window.keyDown(Key::arrowUp));
    EXPECT_EQ(host.log, "b" + std::to_string(kLfoWave) + " p" + std::to_string(kLfoWave) + " e" +
                            std::to_string(kLfoWave) + " ");
    EXPECT_NEAR(std::abs(client.parameter(kLfoWave).getNormalized() - wave),
                1.0 / client.parameter(kLfoWave).stepCount(), 1e-9);
    window.mouseMove(300, 20);  // over the panel: nothing to step
    EXPECT_FALSE(window.keyDown(Key::arrowUp));

    // Tab: the first control of the layout, the distance slider, with its ring (its left side is
    // clear of every hint); a click takes the ring away.
    const auto before = ringSide(window);
    EXPECT_TRUE(window.keyDown(Key::tab));
    EXPECT_EQ(gui.focusRing()->surrounded(), gui.child(2));
    EXPECT_NE(ringSide(window), before);
    window.click(300, 20);
    EXPECT_EQ(gui.focusRing()->surrounded(), nullptr);
    EXPECT_EQ(ringSide(window), before);
    // The focused control takes the keys wherever the pointer is; Shift+Tab goes round to the last.
    EXPECT_TRUE(window.keyDown(Key::tab));
    const double distance = client.parameter(kDistance).getNormalized();
    EXPECT_TRUE(window.keyDown(Key::arrowUp));
    EXPECT_NEAR(client.parameter(kDistance).getNormalized(), distance + 0.01, 1e-6);
    EXPECT_TRUE(window.keyDown(Key::tab, korvo::MouseState{.shift = true}));
    EXPECT_EQ(gui.focusRing()->surrounded(), gui.child(kWidgetCount - 1));  // "LFO Synced"
    gui.closeUI();
}

// Undo and redo: a drag is one step however many values it moved, a key press one; Ctrl+Z takes
// them back in turn (each value as a gesture), Ctrl+Shift+Z and Ctrl+Y redo; host automation is
// no step; a new edit drops the redo; far more than 64 steps are kept.
TEST(VelmoraGUI, UndoAndRedoTakeBackWhatTheUserDidStepByStep) {
    OpenEditor open(2);
    VelmoraClient& client = open.client;
    EditLog& host = open.host;
    VelmoraGUI& gui = *open.gui;
    korvo::HeadlessWindow& window = *open.window;
    using korvo::Key;
    const korvo::MouseState ctrl{.ctrl = true}, ctrlShift{.ctrl = true, .shift = true};
    korvo::Parameter& pan = client.parameter(kPan);
    korvo::Parameter& width = client.parameter(kStereoWidth);

    window.mouseMove(398, 354);
    window.mouseDown(korvo::MouseButton::left);
    for (int i = 1; i <= 4; ++i) window.mouseMove(398, 354 - 12 * i, korvo::MouseState{.left = true});
    window.mouseUp(korvo::MouseButton::left);
    const double dragged = pan.getNormalized();
    EXPECT_GT(dragged, 0.55);
    window.mouseMove(62, 323);  // the width knob
    EXPECT_TRUE(window.keyDown(Key::arrowUp));
    const double stepped = width.getNormalized();
    client.setParameterFromHost(kTilt, 0.3f);  // automation: not the user's
    EXPECT_EQ(gui.history().undoSteps(), 2u);

    host.log.clear();
    EXPECT_TRUE(window.keyDown(Key::z, ctrl));
    EXPECT_EQ(host.log, "b1 p1 e1 ");
    EXPECT_EQ(width.getNormalized(), width.getNormalizedDefault());
    EXPECT_TRUE(window.keyDown(Key::z, ctrl));
    EXPECT_EQ(pan.getNormalized(), 0.5);
    EXPECT_FALSE(gui.history().canUndo());
    EXPECT_TRUE(window.keyDown(Key::z, ctrl));  // nothing left: taken all the same
    EXPECT_NEAR(client.parameter(kTilt).getNormalized(), 0.3, 1e-6);

    EXPECT_TRUE(window.keyDown(Key::Z, ctrlShift));
    EXPECT_EQ(pan.getNormalized(), dragged);
    EXPECT_TRUE(window.keyDown(Key::y, ctrl));
    EXPECT_EQ(width.getNormalized(), stepped);
    EXPECT_TRUE(window.keyDown(Key::z, ctrl));
    EXPECT_TRUE(window.keyDown(Key::arrowDown));  // a new step: nothing to redo
    EXPECT_FALSE(gui.history().canRedo());

    for (int i = 0; i < 70; ++i) window.keyDown(i % 2 == 0 ? Key::arrowUp : Key::arrowDown);
    EXPECT_EQ(gui.history().undoSteps(), 72u);
    gui.closeUI();
}

TEST(VelmoraGUIGolden, DefaultStateMatchesTheStoredPictureWithinOneLevel) {
    VelmoraClient client;
    auto picture = renderEditor(client);
    ASSERT_EQ(picture->w(), 763);
    ASSERT_EQ(picture->h(), 494);
    EXPECT_LE(compareWithGolden("editor_default.png", picture->view()), 1);
}

TEST(VelmoraGUIGolden, FarLeftPresetMatchesTheStoredPictureWithinOneLevel) {
    VelmoraClient client;
    const korvo::PresetBank& bank = client.presetBank();
    std::int32_t farLeft = -1;
    for (std::int32_t i = 0; i < bank.count(); ++i)
        if (bank.presetName(i) == "Far-Left") farLeft = i;
    ASSERT_GE(farLeft, 0);
    client.presetBank().selectPresetFromHost(farLeft);
    auto picture = renderEditor(client);
    EXPECT_LE(compareWithGolden("editor_far_left.png", picture->view()), 1);
}

}  // namespace
}  // namespace velmora
