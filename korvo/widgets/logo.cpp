// UILogo: image blend, hover glow and the link.
#include "korvo/widgets/logo.h"

#include <cmath>

#include "korvo/window/shellopen.h"

namespace korvo {

UILogo::UILogo(UIContext* context, HeapPtr<OwnedImage<RGBA>> image)
    : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation), _image(std::move(image)) {}

void UILogo::setImage(HeapPtr<OwnedImage<RGBA>> image) {
    _image = std::move(image);
    setDirtyAll(DirtyLayer::fromFlags);
}

bool UILogo::onMouseClick(std::int32_t, std::int32_t, MouseButton, bool, MouseState) {
    openURL(targetURL);
    return true;
}

void UILogo::onAnimate(double dt, double) {
    const float target = (_mouseOver && !isDragged()) ? 1.0f : 0.0f;
    const float e = std::exp(-animationTimeConstant * static_cast<float>(dt));
    float next = hoverAnimation * e + target * (1.0f - e);
    if (!std::isfinite(next)) next = target;  // a non-finite dt or constant settles at once
    if (std::fabs(next - hoverAnimation) > 0.001f) {
        hoverAnimation = next;
        setDirtyAll(DirtyLayer::fromFlags);
    }
}

void UILogo::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16>, ImageView<RGBA>,
                       const Vec<IntRect>& dirtyRects) {
    if (_image == nullptr) return;
    const ImageView<RGBA> image = _image->view();
    const float h = hoverAnimation < 0.0f ? 0.0f : (hoverAnimation > 1.0f ? 1.0f : hoverAnimation);
    const auto emissive = static_cast<std::uint32_t>(
        std::lround(static_cast<float>(hoverEmissive) * h + static_cast<float>(restEmissive) * (1.0f - h)));
    for (const IntRect& r : dirtyRects) {
        // Map pixel (x, y) is image pixel (x + offset); only the part the image covers is drawn.
        const IntRect inImage = r.translated(_drawOffset.x, _drawOffset.y).intersection(image.bounds());
        for (std::int32_t iy = inImage.min.y; iy < inImage.max.y; ++iy) {
            RGBA* out = diffuseMap.row(iy - _drawOffset.y) - _drawOffset.x;
            const RGBA* src = image.row(iy);
            for (std::int32_t ix = inImage.min.x; ix < inImage.max.x; ++ix) {
                const RGBA s = src[ix];
                RGBA& d = out[ix];
                const std::uint32_t a = s.a;
                auto mix = [a](std::uint32_t c, std::uint32_t old) {
                    return static_cast<std::uint8_t>((c * a + old * (255u - a)) / 255u);
                };
                d.r = mix(s.r, d.r);
                d.g = mix(s.g, d.g);
                d.b = mix(s.b, d.b);
                const std::uint32_t blendedAlpha = mix(s.a, d.a);
                d.a =
                    static_cast<std::uint8_t>((baseEmissive * 256u + blendedAlpha * emissive + 128u) / 256u);
            }
        }
    }
}

}  // namespace korvo
