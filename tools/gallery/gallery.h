#pragma once
// The widget gallery: one sheet showing every widget of the editor's set in its states, drawn
// through the real renderer and compositor (the picture reviewers look at, and a golden image in
// the tests).
//
// It shows each knob style at the values 0, 0.5 and 1, plain, hovered and pushed; the pan knob;
// a slider; both states of the switch; the radio set; the drop-down closed and open; labels; the
// logo; a value hint at full visibility; the bow game with a preview; and both bitmap fonts. The
// lighting and colour grading are the editor's.
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

namespace velmora::gallery {

class WidgetGallery final : public korvo::GUIGraphics {
public:
    static constexpr std::int32_t kWidth = 760;
    static constexpr std::int32_t kHeight = 560;

    WidgetGallery();
    ~WidgetGallery() override;

    // Children keep the boxes the gallery gave them.
    void reflow(korvo::IntRect availableSpace) override;
    // The panel behind the widgets.
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;

    // A caption in the 8 x 8 bitmap font (raw layer, drawn over the lit picture).
    void caption(std::int32_t x, std::int32_t y, const char* text, bool tall = false);

private:
    std::vector<korvo::HeapPtr<korvo::Parameter>> parameters_;
    std::unique_ptr<korvo::Font> lato_;
    std::unique_ptr<korvo::Font> spartan_;
    korvo::FloatParameter* floatParameter(double normalized);
};

// Renders the gallery through the headless window (kWidth x kHeight, RGBA, alpha 255).
korvo::HeapPtr<korvo::OwnedImage<korvo::RGBA>> renderWidgetGallery();

}  // namespace velmora::gallery
