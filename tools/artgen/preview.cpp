// The artwork lit by the real compositor, in the effect's real editor.
#include "tools/artgen/preview.h"

#include <algorithm>

#include "effect/artwork/layout.h"
#include "effect/gui.h"
#include "effect/main.h"
#include "korvo/graphics/decode.h"
#include "korvo/gui/context.h"
#include "korvo/widgets/colorcorrection.h"
#include "korvo/widgets/label.h"
#include "tools/offscreen/screenshot.h"

namespace velmora::artgen {

using korvo::ElementFlags;
using korvo::HeapPtr;
using korvo::ImageView;
using korvo::IntRect;
using korvo::OwnedImage;
using korvo::RGBA;
using korvo::UIContext;
using korvo::UIElement;
using korvo::Vec;

namespace {

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

}  // namespace

HeapPtr<OwnedImage<RGBA>> renderPreview(const EncodedArtwork& files, const PreviewOptions& options) {
    VelmoraClient client;  // the parameters at their defaults
    auto* editor = dynamic_cast<VelmoraGUI*>(client.ensureGraphics());
    if (editor == nullptr) korvo::fatalError("artgen: the effect made no editor");
    if (!editor->replaceBackground(
            korvo::decodeWithAlphaImage(files[0].data(), files[0].size(), files[1].data(), files[1].size()),
            korvo::decodeToRGBA(files[2].data(), files[2].size()),
            VelmoraGUI::depthFromPNG(files[3].data(), files[3].size())))
        korvo::fatalError("artgen: the background artwork is not 763 x 494");
    editor->uiContext().setSkybox(korvo::decodeToRGBA(files[4].data(), files[4].size()).release());
    editor->subtitle()->setText(VelmoraGUI::kSubtitles[0]);
    if (!options.widgets)
        for (std::size_t i = 0; i < editor->childCount(); ++i)
            if (editor->child(i) != editor->colorCorrection()) editor->child(i)->setVisible(false);
    if (options.outlines)
        editor->addChild(korvo::makeHeap<Outlines>(&editor->uiContext()))
            ->setPosition(IntRect{{0, 0}, {kWidth, kHeight}});
    return korvo::renderScreenshot(*editor);
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
