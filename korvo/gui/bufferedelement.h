#pragma once
// UIBufferedElementPBR: an element that paints itself once into private caches of the three PBR
// layers (with an opacity mask each) and afterwards only blends the caches into the frame's
// layers. The caches are redrawn (redrawCachePBR) after any setDirty/setDirtyAll, whatever the
// layer value, and after a size change.
//
// Blending through a mask value m (0 = the cache does not cover the pixel, which keeps the layer;
// 255 = full cover):
//   RGBA layers, each channel: (cache * m + layer * (255 - m) + 127) / 255
//   L16 layer, with w = m * 257: (cache * w + layer * (65535 - w) + 32768) >> 16
//
// Thread contract: as UIElement; onDrawPBR runs on a pool thread during a frame.

#include <atomic>

#include "korvo/core/nogc.h"
#include "korvo/gui/element.h"

namespace korvo {

class UIBufferedElementPBR : public UIElement {
public:
    UIBufferedElementPBR(UIContext* context, ElementFlags flags);
    ~UIBufferedElementPBR() override;

    void setDirtyAll(DirtyLayer layer) override;
    void setDirty(DirtyLayer layer, IntRect rect) override;
    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) final;
    // Sizes the caches to the element and redraws them when stale (onDrawPBR does it first too).
    void prepareDrawing() override;

    // Redraws the whole widget into the caches (element-sized, diffuse pre-filled with
    // (128, 128, 128, 0), masks 0), painting opacity into the masks where it draws.
    virtual void redrawCachePBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap,
                                ImageView<RGBA> materialMap, ImageView<L8> diffuseOpacity,
                                ImageView<L8> depthOpacity, ImageView<L8> materialOpacity) = 0;

    bool isCacheStale() const noexcept { return _cacheStale.load(std::memory_order_acquire); }

protected:
    HeapPtr<OwnedImage<RGBA>> _cacheDiffuse;
    HeapPtr<OwnedImage<L16>> _cacheDepth;
    HeapPtr<OwnedImage<RGBA>> _cacheMaterial;
    HeapPtr<OwnedImage<L8>> _opacityDiffuse;
    HeapPtr<OwnedImage<L8>> _opacityDepth;
    HeapPtr<OwnedImage<L8>> _opacityMaterial;
    std::atomic<bool> _cacheStale{true};
};

}  // namespace korvo
