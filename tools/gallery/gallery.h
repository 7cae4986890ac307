#pragma once
// The widget gallery: one sheet showing every widget of the editor's set in its states, drawn
// through the real renderer and compositor (the picture reviewers look at, and a golden image in
// the tests).
//
// It shows each knob style at the values 0, 0.5 and 1, plain, hovered and pushed; the pan knob;
// a slider; both states of the switch; the radio set; the drop-down closed and open; labels; the
// logo; a value hint at full visibility; the bow game with a preview; the panorama display at
// three zooms with different pan, distance, tilt and output level (one with the hover preview);
// the phase scope with tones, plain and bright, with noise, and switched off; and both bitmap
// fonts. The lighting and colour grading are the editor's.
//
// The displays show live data: instances of the effect play the built-in demo signal (48 kHz,
// mono in, stereo out) and feed the displays after every block of at most 512 frames, as the
// effect feeds its editor: the panoramas get the modulated pan, distance, tilt and tremolo gain,
// the scopes the output samples. Each animation tick plays the tick's share of the signal, so
// the picture depends only on how many ticks ran; renderWidgetGallery runs kDemoTicks of them.
//
// Adding a section: give it a box in the layout (kGallery... constants in gallery.cpp), build its
// widgets in the constructor and caption it with `caption`.
//
// Thread contract: [main-thread], like every GUIGraphics.

#include <cstdint>
#include <memory>
#include <vector>

#include "korvo/client/params.h"
#include "korvo/core/nogc.h"
#include "korvo/graphics/font.h"
#include "korvo/gui/graphics.h"

namespace velmora {
class PanoramaDisplay;
class PhaseDisplay;
}  // namespace velmora

namespace velmora::gallery {

class DemoPlayer;

class WidgetGallery final : public korvo::GUIGraphics {
public:
    static constexpr std::int32_t kWidth = 760;
    static constexpr std::int32_t kHeight = 974;
    static constexpr std::int32_t kDemoTicks = 16;

    WidgetGallery();
    ~WidgetGallery() override;

    // Children keep the boxes the gallery gave them.
    void reflow(korvo::IntRect availableSpace) override;
    // The panel behind the widgets.
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;

    // Plays dt of the demo signal into the displays (nothing once the signal has ended).
    void onAnimate(double dt, double time) override;

    // A caption in the 8 x 8 bitmap font (raw layer, drawn over the lit picture).
    void caption(std::int32_t x, std::int32_t y, const char* text, bool tall = false);

    // The displays in the sheet's order: panoramas at x1, x2 and x4; scopes with the tones, the
    // tones bright, a noise burst bright, and switched off.
    const std::vector<PanoramaDisplay*>& panoramas() const noexcept { return panoramas_; }
    const std::vector<PhaseDisplay*>& scopes() const noexcept { return scopes_; }

private:
    std::vector<korvo::HeapPtr<korvo::Parameter>> parameters_;
    std::vector<float> demo_;
    std::vector<std::unique_ptr<DemoPlayer>> players_;
    std::vector<PanoramaDisplay*> panoramas_;  // children, recessed in the panel
    std::vector<PhaseDisplay*> scopes_;
    std::unique_ptr<korvo::Font> lato_;
    std::unique_ptr<korvo::Font> spartan_;
    korvo::FloatParameter* floatParameter(double normalized);
};

// Renders the gallery through the headless window (kWidth x kHeight, RGBA, alpha 255): the first
// paint, the pointer over the third panorama, then kDemoTicks animation ticks. The second form
// renders a gallery the caller keeps (a fresh one: the displays go on from where they stand).
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> renderWidgetGallery();
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> renderWidgetGallery(WidgetGallery& gallery);

}  // namespace velmora::gallery
