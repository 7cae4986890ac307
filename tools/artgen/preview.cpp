// The artwork lit by the real compositor, with stand-ins of the widgets.
#include "tools/artgen/preview.h"

#include <algorithm>
#include <cmath>

#include "effect/main.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"
#include "korvo/graphics/decode.h"
#include "korvo/graphics/font.h"
#include "korvo/gui/context.h"
#include "korvo/gui/graphics.h"
#include "korvo/window/screenshot.h"
#include "korvo_resources_resources.h"
#include "tools/artgen/layout.h"

namespace velmora::artgen {

using korvo::ElementFlags;
using korvo::HeapPtr;
using korvo::ImageView;
using korvo::IntRect;
using korvo::L16;
using korvo::OwnedImage;
using korvo::RGBA;
using korvo::UIContext;
using korvo::UIElement;
using korvo::Vec;

namespace {

constexpr float kPi = 3.14159265358979f;

void blendAll(RGBA& p, RGBA c, float k) {
    if (!(k > 0.0f)) return;
    const auto a = static_cast<std::uint32_t>(std::min(k, 1.0f) * 255.0f + 0.5f);
    korvo::detail::PixelTraits<RGBA>::blend(p, c, static_cast<int>(a));
}
void blendDepth(L16& p, float value, float k) {
    if (!(k > 0.0f)) return;
    k = std::min(k, 1.0f);
    p.l = static_cast<std::uint16_t>(static_cast<float>(p.l) * (1.0f - k) + value * k);
}

// The knob style sets: disc radius and trail radii as fractions of half the square, material,
// depth profile (0 dimple, 1 cylinder, 2 dome), travel and base angles (radians from straight up).
struct KnobLook {
    float disc, trail0, trail1;
    RGBA material;
    int profile;
    float minAngle, baseAngle, maxAngle;
};

KnobLook knobLook(std::string_view name) {
    const KnobLook large{0.8f, 0.8f, 0.97f, RGBA{64, 255, 128, 255}, 0, -0.75f * kPi, 0.0f, 0.75f * kPi};
    const KnobLook flat{0.8f, 0.7f, 1.0f, RGBA{0, 255, 128, 255}, 1, -0.7f * kPi, -0.7f * kPi, 0.7f * kPi};
    const KnobLook dome{0.75f, 0.7f, 1.0f, RGBA{0, 193, 128, 255}, 2, -kPi, 0.0f, kPi};
    if (name == "Stereo Width") return large;
    if (name == "Dry / Wet")
        return KnobLook{large.disc, large.trail0, large.trail1, large.material,
                        0,          -0.75f * kPi, -0.75f * kPi, 0.75f * kPi};
    if (name == "Pan")
        return KnobLook{0.75f, 0.875f, 1.0f, RGBA{96, 255, 128, 255}, 0, -0.654f * kPi, 0.0f, 0.654f * kPi};
    if (name == "M-to-S Amount.") return flat;
    if (name == "Tilt" || name == "LFO Freq")
        return KnobLook{flat.disc,
                        flat.trail0,
                        flat.trail1,
                        flat.material,
                        1,
                        -0.75f * kPi,
                        name == "Tilt" ? 0.0f : -0.75f * kPi,
                        0.75f * kPi};
    if (name == "M-to-S Delay" || name == "M-to-S Lowpass")
        return KnobLook{dome.disc, dome.trail0, dome.trail1, dome.material,
                        2,         -0.7f * kPi, -0.7f * kPi, 0.7f * kPi};
    return dome;
}

// A stand-in of one widget, drawn directly into the frame's layers.
class StandIn final : public UIElement {
public:
    StandIn(UIContext* context, const WidgetBox& widget, const OwnedImage<RGBA>* logo, korvo::Font* titleFont)
        : UIElement(context, ElementFlags::drawsPBR), widget_(widget), logo_(logo), titleFont_(titleFont) {
        if (widget.kind == WidgetKind::dropdown) setZOrder(2);
    }

    void reflow(IntRect) override {
        _position = widget_.kind == WidgetKind::dropdown ? kDropdownHeader : widget_.box;
    }

    void onDrawPBR(ImageView<RGBA> diffuse, ImageView<L16> depth, ImageView<RGBA> material,
                   const Vec<IntRect>& dirtyRects) override {
        for (const IntRect& r : dirtyRects) {
            for (std::int32_t y = r.min.y; y < r.max.y; ++y)
                for (std::int32_t x = r.min.x; x < r.max.x; ++x)
                    drawPixel(x, y, diffuse.at(x, y), depth.at(x, y), material.at(x, y));
            if (widget_.kind == WidgetKind::label)
                korvo::fillText(diffuse.sub(r), *titleFont_, "HE WHO CONTROLS THE SPACE", 9.0f, 1.0f,
                                RGBA{150, 150, 150, 0},
                                0.5f * static_cast<float>(_position.width()) - static_cast<float>(r.min.x),
                                0.5f * static_cast<float>(_position.height()) - static_cast<float>(r.min.y));
        }
    }

private:
    void drawPixel(std::int32_t x, std::int32_t y, RGBA& dif, L16& dep, RGBA& mat) const {
        const float w = static_cast<float>(_position.width()), h = static_cast<float>(_position.height());
        const float px = static_cast<float>(x), py = static_cast<float>(y);
        switch (widget_.kind) {
            case WidgetKind::knob:
            case WidgetKind::panKnob:
                knob(px, py, w, h, dif, dep, mat);
                break;
            case WidgetKind::slider: {
                const float v = widget_.name == "Distance" ? 0.8f : 0.3548f;  // the defaults
                const float gx0 = std::floor((w - std::round(w * 0.2f)) * 0.5f),
                            gx1 = gx0 + std::round(w * 0.2f);
                const float hw = std::round(0.65f * w), hh = std::round(0.25f * h);
                const float hx = std::round((w - hw) * 0.5f), hy = std::round((h - hh) * (1.0f - v));
                if (px >= gx0 && px < gx1) {
                    dep.l = 30000;
                    blendAll(dif, RGBA{90, 94, 98, 0}, 1.0f);
                    if (py >= hy + hh * 0.5f) blendAll(dif, RGBA{192, 245, 255, 112}, 1.0f);
                }
                if (px >= hx && px < hx + hw && py >= hy && py < hy + hh) {
                    const float t = (py - hy) / hh;
                    dep.l = static_cast<std::uint16_t>(t < 0.5f ? 50000.0f - 60000.0f * t
                                                                : 20000.0f + 60000.0f * (t - 0.5f));
                    dif = RGBA{245, 252, 255, 10};
                    mat = RGBA{0, 1, 129, 255};
                }
                break;
            }
            case WidgetKind::onOffSwitch: {
                const bool mono = widget_.name == "Test Mono";
                dep.l = 0;
                if (px >= 0.1f * w && px < 0.9f * w && py >= 0.1f * h && py < 0.9f * h) {
                    const float t = mono ? (px - 0.1f * w) / (0.8f * w) : (py - 0.1f * h) / (0.8f * h);
                    const float a = mono ? 10000.0f : 20000.0f, b = mono ? 30000.0f : 10000.0f;
                    dep.l = static_cast<std::uint16_t>(a + (b - a) * t);
                    dif = mono ? RGBA{90, 94, 98, 0} : RGBA{192, 245, 255, 112};
                    mat = RGBA{192, 10, 128, 255};
                }
                break;
            }
            case WidgetKind::radioSet: {
                const float bh = std::floor(h / 5.0f);
                const int row = static_cast<int>(py / bh);
                if (row > 4) break;
                const float cx = 0.425f * bh, cy = (static_cast<float>(row) + 0.5f) * bh;
                const float d2 = (px - cx) * (px - cx) + (py - cy) * (py - cy);
                if (d2 < 25.0f) blendDepth(dep, 40000.0f, 0.5f * (1.0f - d2 / 25.0f));
                blendAll(dif, RGBA{120, 135, 148, 0}, std::clamp(5.0f - std::sqrt(d2), 0.0f, 1.0f));
                if (row == 0) {
                    const float h2 = (px - cx) * (px - cx) + (py - cy + 1.0f) * (py - cy + 1.0f);
                    blendAll(dif, RGBA{200, 230, 255, 0}, std::clamp(3.5f - std::sqrt(h2), 0.0f, 1.0f));
                }
                break;
            }
            case WidgetKind::dropdown:
                dep.l = 0;
                dif = RGBA{100, 100, 100, 0};
                mat = RGBA{255, 32, 128, 255};
                break;
            case WidgetKind::panorama:
            case WidgetKind::phaseScope: break;  // the effect's own displays are used
            case WidgetKind::bowGame:
                dif = RGBA{230, 230, 230, 0};
                dep.l = 28000;
                mat = RGBA{128, 255, 255, 255};
                if (static_cast<int>(px) % 21 == 0 || static_cast<int>(py) % 21 == 0) dep.l = 20000;
                break;
            case WidgetKind::logo: {
                if (logo_ == nullptr || x >= logo_->w() || y >= logo_->h()) break;
                const RGBA l = *const_cast<OwnedImage<RGBA>*>(logo_)->pixelAt(x, y);
                const std::uint32_t a = l.a;
                const auto over = [a](std::uint32_t image, std::uint32_t old) {
                    return static_cast<std::uint8_t>((image * a + old * (255u - a)) / 255u);
                };
                const std::uint32_t blendedAlpha = over(l.a, dif.a);
                dif = RGBA{over(l.r, dif.r), over(l.g, dif.g), over(l.b, dif.b),
                           static_cast<std::uint8_t>((blendedAlpha * 10u + 128u) / 256u)};
                break;
            }
            case WidgetKind::label:
                break;
        }
    }

    void knob(float px, float py, float w, float h, RGBA& dif, L16& dep, RGBA& mat) const {
        const KnobLook k = knobLook(widget_.name);
        const float s = std::min(w, h), half = s * 0.5f;
        const float cx = std::floor((w - 1.0f) * 0.5f), cy = std::floor((h - 1.0f) * 0.5f);
        const float dx = px - cx, dy = py - cy, d = std::sqrt(dx * dx + dy * dy);
        const float R = k.disc * half;
        // Trails: the whole travel unlit, base to the default value lit (the default is the base
        // for every knob but the generator's, which rest at their minimum).
        const float a = std::atan2(dx, -dy);
        const float r0 = k.trail0 * half, r1 = k.trail1 * half;
        if (d >= r0 && d < r1) {
            const float radial = std::min({d - r0, r1 - d, 1.0f});
            if (a >= k.minAngle && a <= k.maxAngle) blendAll(dif, RGBA{90, 94, 98, 0}, radial);
            if (widget_.name == "Dry / Wet")
                blendAll(dif, RGBA{192, 245, 255, 112}, radial * (a <= k.maxAngle));
        }
        // Disc.
        const auto disc = [&](float inner, float outer, float value) {
            if (d >= outer) return;
            const float t = d <= inner ? 0.0f : (d * d - inner * inner) / (outer * outer - inner * inner);
            blendDepth(dep, value, 1.0f - t);
        };
        if (k.profile == 0) {
            disc(0.6f * R, R, 65535.0f);
            disc(0.0f, 0.6f * R, 38400.0f);
        } else if (k.profile == 1) {
            disc(R - 5.0f, R, 65535.0f);
        } else {
            disc(0.0f, R, 65535.0f);
        }
        if (d < R) {
            blendAll(dif, RGBA{255, 255, 255, 0},
                     d < R - 1.0f ? 1.0f : (R * R - d * d) / (R * R - (R - 1) * (R - 1)));
            const float m = d < R - 5.0f ? 1.0f : (R * R - d * d) / (R * R - (R - 5) * (R - 5));
            blendAll(mat, k.material, m);
        }
        // One LED pointing at the base angle.
        const float lx = cx + std::sin(k.baseAngle) * 0.8f * R, ly = cy - std::cos(k.baseAngle) * 0.8f * R;
        const float ld2 = (px - lx) * (px - lx) + (py - ly) * (py - ly), lr = 0.12f * R;
        if (ld2 < lr * lr) blendAll(dif, RGBA{96, 96, 96, 100}, 1.0f - ld2 / (lr * lr));
    }

    WidgetBox widget_;
    const OwnedImage<RGBA>* logo_;
    korvo::Font* titleFont_;
};

// The editor's colour correction: one tone curve per channel over the raw layer.
class ColorCorrection final : public UIElement {
public:
    explicit ColorCorrection(UIContext* context) : UIElement(context, ElementFlags::drawsRaw) {
        const float rows[3][4] = {
            {0.0f, 0.94f, 1.095f, 0.21f}, {0.0f, 0.94f, 1.09f, 0.185f}, {0.07f, 0.89f, 1.025f, 0.215f}};
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i) {
                const float x = static_cast<float>(i) / 255.0f;
                const float t = std::clamp((x + (1.0f - x) * rows[c][0]) * rows[c][2], 0.0f, 1.0f);
                const float y = std::clamp(std::pow(t, 1.0f / rows[c][1]), 0.0f, 1.0f);
                const float s = y * y * (3.0f - 2.0f * y);
                tables_[c][i] =
                    static_cast<std::uint8_t>((y * (1.0f - rows[c][3]) + s * rows[c][3]) * 255.0f + 0.5f);
            }
    }
    void onDrawRaw(ImageView<RGBA> raw, const Vec<IntRect>& dirtyRects) override {
        for (const IntRect& r : dirtyRects)
            for (std::int32_t y = r.min.y; y < r.max.y; ++y)
                for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                    RGBA& p = raw.at(x, y);
                    p = RGBA{tables_[0][p.r], tables_[1][p.g], tables_[2][p.b], p.a};
                }
    }

private:
    std::uint8_t tables_[3][256];
};

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

class PreviewEditor final : public korvo::GUIGraphics {
public:
    // The displays bind to `client`'s parameters: it must outlive the editor.
    PreviewEditor(const EncodedArtwork& files, const PreviewOptions& options, VelmoraClient& client)
        : GUIGraphics(kWidth, kHeight, ElementFlags::drawsPBR),
          titleFont_(korvo::resources::LeagueSpartan_Bold_otf,
                     korvo::resources::LeagueSpartan_Bold_otf_size) {
        // The editor's lighting.
        korvo::PBRCompositor& c = compositor();
        c.shadowLightColor = {0.1984f, 0.2480f, 0.2976f};
        const float d = 1.0f / std::sqrt(2.01f), s = 1.0f / std::sqrt(1.01f);
        c.diffuseLightDir = {-d, d, 0.1f * d};
        c.diffuseLightColor = {0.4743f, 0.3689f, 0.2635f};
        c.specularLightDir = {0.0f, s, 0.1f * s};
        c.specularLightColor = {0.1612f, 0.1860f, 0.2108f};
        c.ambientAmount = 0.062f;
        c.skyboxStrength = 0.3968f;
        setLitMargin(19);
        diffuse_ =
            korvo::decodeWithAlphaImage(files[0].data(), files[0].size(), files[1].data(), files[1].size());
        material_ = korvo::decodeToRGBA(files[2].data(), files[2].size());
        const korvo::DecodedImage depth = korvo::decodeImage(files[3].data(), files[3].size(), 4);
        depth_ = korvo::makeHeap<OwnedImage<L16>>(depth.w, depth.h);
        for (std::int32_t i = 0; i < depth.w * depth.h; ++i) {
            const std::uint8_t* p = depth.pixels + 4 * static_cast<std::size_t>(i);
            depth_->pixels()[i] = L16{static_cast<std::uint16_t>((p[0] + p[1] + p[2]) * 257 / 3)};
        }
        uiContext().setSkybox(korvo::decodeToRGBA(files[4].data(), files[4].size()).release());
        logo_ = korvo::decodeToRGBA(files[5].data(), files[5].size());
        if (options.standIns) {
            const auto param = [&client](Param index) {
                return static_cast<korvo::FloatParameter*>(&client.parameter(index));
            };
            for (const WidgetBox& w : kWidgets) {
                // The effect's own displays; stand-ins for the rest.
                if (w.kind == WidgetKind::panorama)
                    displays_[0] = addChild(korvo::makeHeap<PanoramaDisplay>(
                        _context, param(kPan), param(kDistance), param(kTilt), param(kOutputLevel)));
                else if (w.kind == WidgetKind::phaseScope)
                    displays_[1] = addChild(korvo::makeHeap<PhaseDisplay>(_context));
                else
                    addChild(korvo::makeHeap<StandIn>(_context, w, logo_.get(), &titleFont_));
            }
        }
        addChild(korvo::makeHeap<ColorCorrection>(_context));
        if (options.outlines) addChild(korvo::makeHeap<Outlines>(_context));
    }

    void reflow(IntRect box) override {
        _position = box;
        for (UIElement* child : _children) child->reflow(box);
        for (int i = 0; i < 2; ++i)
            if (displays_[i] != nullptr)
                displays_[i]->reflow(widgetBox(i == 0 ? WidgetKind::panorama : WidgetKind::phaseScope));
    }

    void onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                   const Vec<IntRect>& dirtyRects) override {
        for (const IntRect& r : dirtyRects) {
            korvo::copyBox(diffuse_->view().sub(r), diffuseMap.sub(r));
            korvo::copyBox(depth_->view().sub(r), depthMap.sub(r));
            korvo::copyBox(material_->view().sub(r), materialMap.sub(r));
            for (const Slope& s : kSlopes) {
                const IntRect part = s.box.intersection(r);
                if (part.empty()) continue;
                // The gradient over the whole box, clipped to the dirty part.
                const float exponent = s.exponent;
                for (std::int32_t y = part.min.y; y < part.max.y; ++y) {
                    const float t = static_cast<float>(y - s.box.min.y) / static_cast<float>(s.box.height());
                    const float wf = std::pow(t, exponent) * 65535.0f + 0.5f;
                    const auto w = static_cast<std::uint32_t>(std::clamp(wf, 0.0f, 65535.0f));
                    const auto v = static_cast<std::uint16_t>((s.top * (65535u - w) + s.bottom * w) / 65535u);
                    for (std::int32_t x = part.min.x; x < part.max.x; ++x) depthMap.at(x, y) = L16{v};
                }
            }
        }
    }

private:
    static IntRect widgetBox(WidgetKind kind) {
        for (const WidgetBox& w : kWidgets)
            if (w.kind == kind) return w.box;
        return IntRect{};
    }

    UIElement* displays_[2] = {nullptr, nullptr};
    korvo::Font titleFont_;
    HeapPtr<OwnedImage<RGBA>> diffuse_;
    HeapPtr<OwnedImage<RGBA>> material_;
    HeapPtr<OwnedImage<L16>> depth_;
    HeapPtr<OwnedImage<RGBA>> logo_;
};

}  // namespace

HeapPtr<OwnedImage<RGBA>> renderPreview(const EncodedArtwork& files, const PreviewOptions& options) {
    VelmoraClient client;  // parameters for the displays, at their defaults
    PreviewEditor editor(files, options, client);
    return korvo::renderScreenshot(editor);
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
