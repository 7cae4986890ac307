#pragma once
// UILogo: an image blended over the diffuse layer that glows more while the pointer is over it,
// and opens a web page when clicked (http and https only, see korvo/window/shellopen.h).
//
// Emissive: with a' the blended alpha byte of a pixel and h the hover animation (0 at rest, 1
// under the pointer), the diffuse alpha (emissive) becomes
//   (baseEmissive * 256 + a' * E + 128) / 256,  E = round(hoverEmissive * h + restEmissive * (1 - h)).
// The hover animation follows its target (1 while the pointer is over the logo and it is not
// pressed) with e = exp(-animationTimeConstant * dt) per tick.
//
// Thread contract: [main-thread]; drawing runs on a pool thread.

#include <string>

#include "korvo/core/nogc.h"
#include "korvo/gui/element.h"

namespace korvo {

class UILogo : public UIElement {
public:
    static constexpr const char* kPlaceholderURL = "https://example.com/";

    // Takes the image (made with heapNew; may be null: nothing is drawn). The image is drawn at
    // the element's top-left corner, clipped to the element.
    UILogo(UIContext* context, HeapPtr<OwnedImage<RGBA>> image);

    std::string targetURL = kPlaceholderURL;
    float animationTimeConstant = 30.0f;
    std::uint8_t baseEmissive = 0;
    std::uint8_t hoverEmissive = 0;
    std::uint8_t restEmissive = 0;
    float hoverAnimation = 0.0f;

    const OwnedImage<RGBA>* image() const noexcept { return _image.get(); }
    // Replaces the image (the editor's drawing at another scale) and marks the logo dirty.
    void setImage(HeapPtr<OwnedImage<RGBA>> image);

    bool onMouseClick(std::int32_t x, std::int32_t y, MouseButton button, bool isDoubleClick,
                      MouseState mouseState) override;
    void onAnimate(double dt, double time) override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override;

private:
    HeapPtr<OwnedImage<RGBA>> _image;
};

}  // namespace korvo
