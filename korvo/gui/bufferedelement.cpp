// Buffered PBR element: cache management and masked blending into the layers.
#include "korvo/gui/bufferedelement.h"

namespace korvo {

UIBufferedElementPBR::UIBufferedElementPBR(UIContext* context, ElementFlags flags)
    : UIElement(context, flags),
      _cacheDiffuse(makeHeap<OwnedImage<RGBA>>()),
      _cacheDepth(makeHeap<OwnedImage<L16>>()),
      _cacheMaterial(makeHeap<OwnedImage<RGBA>>()),
      _opacityDiffuse(makeHeap<OwnedImage<L8>>()),
      _opacityDepth(makeHeap<OwnedImage<L8>>()),
      _opacityMaterial(makeHeap<OwnedImage<L8>>()) {}

UIBufferedElementPBR::~UIBufferedElementPBR() = default;

void UIBufferedElementPBR::setDirtyAll(DirtyLayer layer) {
    UIElement::setDirtyAll(layer);
    _cacheStale.store(true, std::memory_order_release);
}

void UIBufferedElementPBR::setDirty(DirtyLayer layer, IntRect rect) {
    UIElement::setDirty(layer, rect);
    _cacheStale.store(true, std::memory_order_release);
}

namespace {

inline std::uint8_t blendChannel(std::uint32_t cache, std::uint32_t layer, std::uint32_t m) noexcept {
    return static_cast<std::uint8_t>((cache * m + layer * (255u - m) + 127u) / 255u);
}

void blendRGBA(ImageView<RGBA> layer, const ImageView<RGBA>& cache, const ImageView<L8>& mask, IntRect r,
               IntPoint offset) noexcept {
    for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
        RGBA* dst = layer.row(y);
        const RGBA* src = cache.row(y + offset.y) + offset.x;
        const L8* m = mask.row(y + offset.y) + offset.x;
        for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
            const std::uint32_t a = m[x].l;
            if (a == 0) continue;
            const RGBA c = src[x];
            RGBA& d = dst[x];
            d = RGBA{blendChannel(c.r, d.r, a), blendChannel(c.g, d.g, a), blendChannel(c.b, d.b, a),
                     blendChannel(c.a, d.a, a)};
        }
    }
}

void blendL16(ImageView<L16> layer, const ImageView<L16>& cache, const ImageView<L8>& mask, IntRect r,
              IntPoint offset) noexcept {
    for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
        L16* dst = layer.row(y);
        const L16* src = cache.row(y + offset.y) + offset.x;
        const L8* m = mask.row(y + offset.y) + offset.x;
        for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
            // Mask 0 keeps the layer exactly (the rounding formula would lower values above 32768).
            if (m[x].l == 0) continue;
            const std::uint32_t w = std::uint32_t{m[x].l} * 257u;
            const std::uint32_t v =
                (std::uint32_t{src[x].l} * w + std::uint32_t{dst[x].l} * (65535u - w) + 32768u) >> 16;
            dst[x].l = static_cast<std::uint16_t>(v);
        }
    }
}

}  // namespace

void UIBufferedElementPBR::prepareDrawing() {
    const std::int32_t w = _position.width(), h = _position.height();
    if (w <= 0 || h <= 0) return;
    if (w != _cacheDiffuse->w() || h != _cacheDiffuse->h()) {
        _cacheDiffuse->setSize(w, h);
        _cacheDepth->setSize(w, h);
        _cacheMaterial->setSize(w, h);
        _opacityDiffuse->setSize(w, h);
        _opacityDepth->setSize(w, h);
        _opacityMaterial->setSize(w, h);
        _cacheStale.store(true, std::memory_order_release);
    }
    // Taken before the redraw: a change marked during it sets the flag again for the next frame.
    if (_cacheStale.exchange(false, std::memory_order_acq_rel)) {
        fill(_opacityDiffuse->view(), L8{0});
        fill(_opacityDepth->view(), L8{0});
        fill(_opacityMaterial->view(), L8{0});
        fill(_cacheDiffuse->view(), RGBA{128, 128, 128, 0});
        // The caches' contents are otherwise undefined; zeroing them keeps uncovered pixels defined.
        fill(_cacheDepth->view(), L16{0});
        fill(_cacheMaterial->view(), RGBA{0, 0, 0, 0});
        redrawCachePBR(_cacheDiffuse->view(), _cacheDepth->view(), _cacheMaterial->view(),
                       _opacityDiffuse->view(), _opacityDepth->view(), _opacityMaterial->view());
    }
}

void UIBufferedElementPBR::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap,
                                     ImageView<RGBA> materialMap, const Vec<IntRect>& dirtyRects) {
    const std::int32_t w = _position.width(), h = _position.height();
    if (w <= 0 || h <= 0) return;
    prepareDrawing();  // nothing left to do when the renderer called it already this frame
    // The views may be clipped by the window; _drawOffset maps their pixels to the caches'.
    const IntRect cacheBounds{{0, 0}, {w, h}};
    const IntRect viewInCache =
        diffuseMap.bounds().translated(_drawOffset.x, _drawOffset.y).intersection(cacheBounds);
    const IntRect valid = viewInCache.translated(-_drawOffset.x, -_drawOffset.y);
    for (const IntRect& rect : dirtyRects) {
        const IntRect r = rect.intersection(valid);
        if (r.empty()) continue;
        blendRGBA(diffuseMap, _cacheDiffuse->view(), _opacityDiffuse->view(), r, _drawOffset);
        blendL16(depthMap, _cacheDepth->view(), _opacityDepth->view(), r, _drawOffset);
        blendRGBA(materialMap, _cacheMaterial->view(), _opacityMaterial->view(), r, _drawOffset);
    }
}

}  // namespace korvo
