// The framework demo scene.
#include "tools/offscreen/demoscene.h"

#include <cmath>

#include "korvo/gui/bufferedelement.h"

namespace korvo {

namespace {

std::int32_t scaled(std::int32_t size, float fraction) noexcept {
    return static_cast<std::int32_t>(static_cast<float>(size) * fraction);
}

// Paints a disc mask of radius r around the cache's centre (anti-aliased over one pixel).
void discMask(ImageView<L8> mask, float cx, float cy, float r) {
    softDisc(mask, cx, cy, r - 1.0f, r, L8{255}, 1.0f);
}

// A polished metal dome.
class DemoDome final : public UIBufferedElementPBR {
public:
    explicit DemoDome(UIContext* context) : UIBufferedElementPBR(context, ElementFlags::drawsPBR) {}

    void redrawCachePBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                        ImageView<L8> diffuseOpacity, ImageView<L8> depthOpacity,
                        ImageView<L8> materialOpacity) override {
        const float cx = static_cast<float>(diffuse.w) * 0.5f, cy = static_cast<float>(diffuse.h) * 0.5f;
        const float r = (cx < cy ? cx : cy) - 1.0f;
        if (r <= 1.0f) return;
        fill(diffuse, RGBA{225, 228, 235, 0});
        fill(material, RGBA{48, 255, 140, 255});
        for (std::int32_t y = 0; y < depth.h; ++y) {
            for (std::int32_t x = 0; x < depth.w; ++x) {
                const float dx = (static_cast<float>(x) + 0.5f - cx) / r,
                            dy = (static_cast<float>(y) + 0.5f - cy) / r;
                const float d2 = dx * dx + dy * dy;
                const float height = d2 < 1.0f ? std::sqrt(1.0f - d2) : 0.0f;
                depth.at(x, y) = L16{static_cast<std::uint16_t>(12000.0f + 26000.0f * height)};
            }
        }
        discMask(diffuseOpacity, cx, cy, r);
        discMask(depthOpacity, cx, cy, r);
        discMask(materialOpacity, cx, cy, r);
    }
};

// A glowing lamp: emissive diffuse (alpha) on a low cap.
class DemoLamp final : public UIBufferedElementPBR {
public:
    explicit DemoLamp(UIContext* context) : UIBufferedElementPBR(context, ElementFlags::drawsPBR) {}

    void redrawCachePBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                        ImageView<L8> diffuseOpacity, ImageView<L8> depthOpacity,
                        ImageView<L8> materialOpacity) override {
        const float cx = static_cast<float>(diffuse.w) * 0.5f, cy = static_cast<float>(diffuse.h) * 0.5f;
        const float r = (cx < cy ? cx : cy) - 1.0f;
        if (r <= 1.0f) return;
        fill(diffuse, RGBA{255, 160, 60, 230});
        fill(depth, L16{16000});
        fill(material, RGBA{120, 0, 200, 255});
        discMask(diffuseOpacity, cx, cy, r);
        discMask(depthOpacity, cx, cy, r);
        discMask(materialOpacity, cx, cy, r);
    }
};

// A raised slab with bevelled edges and a rough, slightly metallic finish.
class DemoSlab final : public UIBufferedElementPBR {
public:
    explicit DemoSlab(UIContext* context) : UIBufferedElementPBR(context, ElementFlags::drawsPBR) {}

    void redrawCachePBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                        ImageView<L8> diffuseOpacity, ImageView<L8> depthOpacity,
                        ImageView<L8> materialOpacity) override {
        constexpr std::int32_t kBevel = 6;
        fill(diffuse, RGBA{110, 150, 196, 0});
        fill(material, RGBA{170, 60, 90, 255});
        for (std::int32_t y = 0; y < depth.h; ++y) {
            for (std::int32_t x = 0; x < depth.w; ++x) {
                std::int32_t edge = x;
                if (y < edge) edge = y;
                if (depth.w - 1 - x < edge) edge = depth.w - 1 - x;
                if (depth.h - 1 - y < edge) edge = depth.h - 1 - y;
                const std::int32_t ramp = edge < kBevel ? edge : kBevel;
                depth.at(x, y) = L16{static_cast<std::uint16_t>(14000 + ramp * 2500)};
            }
        }
        fill(diffuseOpacity, L8{255});
        fill(depthOpacity, L8{255});
        fill(materialOpacity, L8{255});
        // A lighter stripe drawn on the top face only.
        fillBoxAA(diffuse, 10.0f, static_cast<float>(depth.h) * 0.45f, static_cast<float>(depth.w) - 10.0f,
                  static_cast<float>(depth.h) * 0.55f, RGBA{230, 236, 240, 0}, 0.8f);
    }
};

// A recessed well with a dark matte floor (drawn directly, not buffered).
class DemoWell final : public UIElement {
public:
    explicit DemoWell(UIContext* context) : UIElement(context, ElementFlags::drawsPBR) {}

    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override {
        for (const IntRect& r : dirtyRects) {
            fillBox(diffuseMap, r, RGBA{40, 44, 52, 0});
            fillBox(depthMap, r, L16{3000});
            fillBox(materialMap, r, RGBA{230, 0, 20, 255});
        }
    }
};

// A raw-layer overlay: a thin frame and a diagonal line drawn on top of the lit image.
class DemoOverlay final : public UIElement {
public:
    explicit DemoOverlay(UIContext* context) : UIElement(context, ElementFlags::drawsRaw) {}

    void onDrawRaw(ImageView<RGBA> rawMap, const Vec<IntRect>& dirtyRects) override {
        const float w = static_cast<float>(_position.width()), h = static_cast<float>(_position.height());
        for (const IntRect& r : dirtyRects) {
            const CroppedView<RGBA> view{rawMap, r};
            const float ox = static_cast<float>(-r.min.x - _drawOffset.x);
            const float oy = static_cast<float>(-r.min.y - _drawOffset.y);
            lineAA(view, ox + 2.0f, oy + h - 3.0f, ox + w - 3.0f, oy + 2.0f, RGBA{120, 255, 180, 255}, 200);
            const IntRect frame{{0, 0}, {_position.width(), _position.height()}};
            const IntRect local =
                frame.translated(static_cast<std::int32_t>(ox), static_cast<std::int32_t>(oy));
            blendBox(view, IntRect{local.min, {local.max.x, local.min.y + 1}}, RGBA{255, 255, 255, 255}, 160);
            blendBox(view, IntRect{{local.min.x, local.max.y - 1}, local.max}, RGBA{255, 255, 255, 255}, 160);
        }
    }
};

}  // namespace

OwnedImage<RGBA>* makeDemoSkybox(std::int32_t w, std::int32_t h) {
    auto* sky = heapNew<OwnedImage<RGBA>>(w, h);
    const ImageView<RGBA> v = sky->view();
    for (std::int32_t y = 0; y < h; ++y) {
        const float t = static_cast<float>(y) / static_cast<float>(h > 1 ? h - 1 : 1);
        for (std::int32_t x = 0; x < w; ++x) {
            RGBA p;
            if (t < 0.55f) {  // sky: deep blue at the zenith to a pale horizon
                const float k = t / 0.55f;
                p = RGBA{static_cast<std::uint8_t>(40 + 180 * k), static_cast<std::uint8_t>(80 + 150 * k),
                         static_cast<std::uint8_t>(160 + 90 * k), 255};
            } else {  // ground
                const float k = (t - 0.55f) / 0.45f;
                p = RGBA{static_cast<std::uint8_t>(90 - 60 * k), static_cast<std::uint8_t>(70 - 45 * k),
                         static_cast<std::uint8_t>(50 - 30 * k), 255};
            }
            const float dx = static_cast<float>(x) / static_cast<float>(w) - 0.3f, dy = t - 0.25f;
            if (dx * dx + dy * dy < 0.004f) p = RGBA{255, 240, 200, 255};  // the sun
            v.at(x, y) = p;
        }
    }
    return sky;
}

DemoScene::DemoScene(std::int32_t width, std::int32_t height)
    : GUIGraphics(width, height, ElementFlags::drawsPBR) {
    setLitMargin(19);
    _uiContext->setSkybox(makeDemoSkybox(64, 64));
    checker_ = addChild(heapNew<UIElement>(_context, ElementFlags::drawsPBR));
    well_ = addChild(heapNew<DemoWell>(_context));
    slab_ = addChild(heapNew<DemoSlab>(_context));
    dome_ = addChild(heapNew<DemoDome>(_context));
    lamp_ = addChild(heapNew<DemoLamp>(_context));
    small_ = addChild(heapNew<UIElement>(_context, ElementFlags::drawsPBR));
    overlay_ = addChild(heapNew<DemoOverlay>(_context));
    small_->setZOrder(1);  // drawn above the well it overlaps
}

void DemoScene::reflow(IntRect box) {
    _position = box;
    const std::int32_t w = box.width(), h = box.height();
    const std::int32_t side = w < h ? w : h;
    auto place = [&](UIElement* e, std::int32_t x, std::int32_t y, std::int32_t ew, std::int32_t eh) {
        e->reflow(IntRect::fromXYWH(box.min.x + x, box.min.y + y, ew, eh));
    };
    place(checker_, scaled(w, 0.05f), scaled(h, 0.08f), scaled(w, 0.25f), scaled(h, 0.35f));
    place(dome_, scaled(w, 0.36f), scaled(h, 0.06f), scaled(side, 0.4f), scaled(side, 0.4f));
    place(lamp_, scaled(w, 0.74f), scaled(h, 0.10f), scaled(side, 0.22f), scaled(side, 0.22f));
    place(slab_, scaled(w, 0.05f), scaled(h, 0.55f), scaled(w, 0.42f), scaled(h, 0.36f));
    place(well_, scaled(w, 0.55f), scaled(h, 0.55f), scaled(w, 0.38f), scaled(h, 0.36f));
    place(small_, scaled(w, 0.62f), scaled(h, 0.42f), 40, 40);
    place(overlay_, scaled(w, 0.02f), scaled(h, 0.02f), w - 2 * scaled(w, 0.02f), h - 2 * scaled(h, 0.02f));
}

void DemoScene::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                          const Vec<IntRect>& dirtyRects) {
    const std::int32_t h = _position.height() > 0 ? _position.height() : 1;
    const std::int32_t grooveY = scaled(h, 0.48f);
    for (const IntRect& rect : dirtyRects) {
        const IntRect r = rect.intersection(diffuseMap.bounds());
        for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
            const std::int32_t ey = y + _drawOffset.y;
            const auto shade = static_cast<std::uint8_t>(40 * ey / h);
            const RGBA diffuse{static_cast<std::uint8_t>(58 + shade), static_cast<std::uint8_t>(64 + shade),
                               static_cast<std::uint8_t>(76 + shade), 0};
            // A shallow V groove across the panel.
            const std::int32_t distance = ey > grooveY ? ey - grooveY : grooveY - ey;
            const std::uint16_t depth =
                static_cast<std::uint16_t>(distance < 4 ? 9000 + 750 * distance : 12000);
            for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                diffuseMap.at(x, y) = diffuse;
                depthMap.at(x, y) = L16{depth};
                materialMap.at(x, y) = RGBA{200, 0, 40, 255};
            }
        }
    }
}

}  // namespace korvo
