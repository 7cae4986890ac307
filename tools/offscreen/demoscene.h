#pragma once
// A small scene exercising the framework: a background and a few default and buffered elements
// with depth and materials (a checkerboard, a metal dome, a glowing lamp, a bevelled slab, a
// recessed well) under a procedural skybox, plus a raw-layer overlay. Tools render it for
// screenshots, the tests compare it with a stored image, and the benchmark draws it at the
// editor's size. The layout scales with the size given.
//
// Thread contract: [main-thread], like every GUIGraphics.

#include <cstdint>

#include "korvo/gui/graphics.h"

namespace korvo {

class DemoScene final : public GUIGraphics {
public:
    // Default size of the demo screenshot.
    static constexpr std::int32_t kDefaultWidth = 192;
    static constexpr std::int32_t kDefaultHeight = 128;

    DemoScene(std::int32_t width = kDefaultWidth, std::int32_t height = kDefaultHeight);

    void reflow(IntRect availableSpace) override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;

    // A default (checkerboard) element of 40 x 40 pixels, for measuring small changes.
    UIElement* smallElement() const noexcept { return small_; }

private:
    UIElement* checker_ = nullptr;
    UIElement* dome_ = nullptr;
    UIElement* lamp_ = nullptr;
    UIElement* slab_ = nullptr;
    UIElement* well_ = nullptr;
    UIElement* small_ = nullptr;
    UIElement* overlay_ = nullptr;
};

// Builds the demo's skybox: a vertical gradient from a blue zenith to a bright horizon over a
// dark ground, with a warm sun (w x h, made with heapNew, for UIContext::setSkybox).
OwnedImage<RGBA>* makeDemoSkybox(std::int32_t w, std::int32_t h);

}  // namespace korvo
