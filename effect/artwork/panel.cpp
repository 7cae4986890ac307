// The editor background: an anodised instrument panel with recessed glass screens, machined seats
// and rims around the controls, engraved labels and scales.
#include <algorithm>
#include <cmath>
#include <string>

#include "effect/artwork/artwork.h"
#include "effect/artwork/canvas.h"
#include "effect/artwork/layout.h"
#include "effect/artwork/text.h"

namespace velmora::artgen {

using korvo::Font;
using korvo::IntRect;

namespace {

constexpr float kPi = 3.14159265358979f;

// ---- Palette ----------------------------------------------------------------------------------
constexpr Color3 kPanel{76, 86, 101};
constexpr Color3 kPlate{84, 93, 107};     // the tilted plates (visor, output block)
constexpr Color3 kTrayFloor{50, 56, 66};  // the LFO tray
constexpr Color3 kFooter{64, 71, 82};
constexpr Color3 kSeat{60, 67, 78};     // knob seats and slider slots
constexpr Color3 kTrim{150, 158, 170};  // machined metal edges
constexpr Color3 kGlass{14, 18, 24};
constexpr Color3 kGlassLine{56, 78, 88};
constexpr Color3 kLabel{184, 190, 198};
constexpr Color3 kTitle{204, 211, 220};
constexpr Color3 kScale{166, 172, 180};
constexpr Color3 kAccent{110, 196, 214};

constexpr Material kPanelMat{170, 60, 80};
constexpr Material kTrimMat{60, 200, 200};
constexpr Material kGlassMat{30, 0, 150};
constexpr Material kPaintMat{150, 0, 60};
constexpr Material kFooterMat{190, 40, 60};

constexpr float kPanelLevel = 128.0f;
constexpr float kGlassLevel = 74.0f;  // screens sit as low as the visor's lower edge

// Type.
constexpr float kLabelSize = 35.0f / 3.0f;  // 7-pixel capitals in the label face
constexpr float kLabelSpacing = 0.5f;
constexpr float kScaleSize = 10.0f;
constexpr float kTitleSize = 11.5f;
constexpr float kTitleSpacing = 2.0f;

struct TextStyle {
    Font* font;
    float size;
    float spacing;
    Color3 color;
    float emissive;
    float engrave;  // steps the ink sinks into the panel
    bool control;
};

class PanelPainter {
public:
    PanelPainter(Canvas& canvas, Font& labelFont, Font& titleFont, std::vector<LabelRecord>& labels)
        : c_(canvas), label_(labelFont), title_(titleFont), labels_(labels) {}

    void paint() {
        base();
        plates();
        footer();
        screens();
        header();
        leftColumn();
        generator();
        panCluster();
        lfo();
        rightColumn();
        slopes();
    }

private:
    static IntRect around(float cx, float cy, float r) {
        return IntRect{{static_cast<std::int32_t>(std::floor(cx - r - 2)),
                        static_cast<std::int32_t>(std::floor(cy - r - 2))},
                       {static_cast<std::int32_t>(std::ceil(cx + r + 2)),
                        static_cast<std::int32_t>(std::ceil(cy + r + 2))}};
    }
    static IntRect grow(IntRect r, std::int32_t by) {
        return IntRect{{r.min.x - by, r.min.y - by}, {r.max.x + by, r.max.y + by}};
    }
    static RoundBox roundBox(IntRect r, float grow, float radius) {
        return RoundBox{static_cast<float>(r.min.x) - grow, static_cast<float>(r.min.y) - grow,
                        static_cast<float>(r.max.x) + grow, static_cast<float>(r.max.y) + grow, radius};
    }

    // ---- Text ----
    TextStyle controlStyle() { return TextStyle{&label_, kLabelSize, kLabelSpacing, kLabel, 16, 6, true}; }
    TextStyle scaleStyle() { return TextStyle{&label_, kScaleSize, 0.0f, kScale, 12, 4, false}; }
    TextStyle titleStyle() { return TextStyle{&title_, kTitleSize, kTitleSpacing, kTitle, 22, 7, false}; }
    TextStyle glassStyle() { return TextStyle{&label_, kScaleSize, 0.0f, kGlassLine, 14, 0, false}; }

    // Text rasterised at the canvas's scale (size, spacing and position scaled, the baseline
    // snapped to a whole pixel of the canvas).
    void text(const std::string& s, const TextStyle& st, float x, std::int32_t baseline, Align align) {
        if (c_.cancelled()) return;
        const float k = c_.scale();
        const TextRun run = layoutText(*st.font, s, st.size * k, st.spacing * k, x * k,
                                       korvo::scaleCoord(baseline, k), align);
        if (run.ink.empty()) return;
        const auto cover = [&run](std::int32_t px, std::int32_t py) { return run.at(px, py); };
        const IntRect bounds = c_.toBase(run.ink);
        c_.paintColor(bounds, cover, st.color);
        c_.paintEmissive(bounds, cover, st.emissive);
        c_.paintMaterial(bounds, cover, kPaintMat);
        if (st.engrave != 0.0f) c_.addHeight(bounds, cover, -st.engrave);
        labels_.push_back(LabelRecord{s, run.ink, capHeightPixels(*st.font, st.size * k), st.control});
    }
    void control(const std::string& s, float x, std::int32_t baseline, Align align = Align::centre) {
        text(s, controlStyle(), x, baseline, align);
    }
    void title(const std::string& s, float x, std::int32_t baseline, Align align = Align::centre) {
        text(s, titleStyle(), x, baseline, align);
    }
    // A centred title with engraved rules on both sides reaching from x0 to x1.
    void ruledTitle(const std::string& s, float x, std::int32_t baseline, float x0, float x1) {
        title(s, x, baseline);
        if (c_.cancelled() || labels_.empty()) return;
        const IntRect ink = c_.toBase(labels_.back().ink);
        const float y = static_cast<float>(ink.min.y + ink.max.y) * 0.5f;
        line(x0, y, static_cast<float>(ink.min.x) - 7.0f, y, 0.5f, kScale, 0.55f, 0.0f);
        line(static_cast<float>(ink.max.x) + 7.0f, y, x1, y, 0.5f, kScale, 0.55f, 0.0f);
    }
    void scale(const std::string& s, float x, std::int32_t baseline, Align align) {
        text(s, scaleStyle(), x, baseline, align);
    }

    // ---- Relief pieces ----
    // A raised machined rim along a ring: rounded profile, polished metal.
    void rimRing(float cx, float cy, float r, float half, float height) {
        const Ring ring{cx, cy, r, half};
        const IntRect b = around(cx, cy, r + half);
        c_.addHeight(b, c_.rampOf(ring, half), height);
        c_.paintColor(b, c_.fillOf(ring), kTrim, 0.85f);
        c_.paintMaterial(b, c_.fillOf(ring), kTrimMat);
    }
    // A recessed round seat under a knob's trail.
    void seat(float cx, float cy, float r, float depth) {
        const Circle circle{cx, cy, r};
        const IntRect b = around(cx, cy, r);
        c_.setHeight(b, c_.rampOf(circle, 3.0f), kPanelLevel - depth);
        c_.paintColor(b, c_.fillOf(circle), kSeat);
    }
    // A raised bezel around a box (a frame of the given width with rounded corners).
    void bezel(IntRect inner, float width, float height, float radius) {
        const RoundBox outer = roundBox(inner, width, radius + width);
        const IntRect b = grow(inner, static_cast<std::int32_t>(width) + 3);
        c_.addHeight(b, c_.rampOf(outer, 2.5f), height);
        const auto frame = [this, outer, inner = roundBox(inner, 0.0f, radius)](std::int32_t x,
                                                                                std::int32_t y) {
            const float px = c_.cx(x), py = c_.cx(y);
            return std::min(c_.coverage(outer.distance(px, py)), c_.coverage(-inner.distance(px, py)));
        };
        c_.paintColor(b, frame, kTrim, 0.8f);
        c_.paintMaterial(b, frame, kTrimMat);
    }
    // A recessed pocket: floor at `level`, walls `ramp` pixels wide.
    void pocket(IntRect r, float grow, float radius, float level, float ramp, Color3 floor) {
        const RoundBox shape = roundBox(r, grow, radius);
        const IntRect b = this->grow(r, static_cast<std::int32_t>(grow) + 2);
        c_.setHeight(b, c_.rampOf(shape, ramp), level);
        c_.paintColor(b, c_.fillOf(shape), floor);
    }
    // A recessed glass screen in a machined frame, with a faint sheen from the upper left.
    void screen(const IntRect& r) {
        bezel(r, 4.0f, 18.0f, 6.0f);
        pocket(r, 0.0f, 6.0f, kGlassLevel, 3.0f, kGlass);
        const RoundBox glass = roundBox(r, 0.0f, 6.0f);
        c_.paintMaterial(grow(r, 1), c_.fillOf(glass), kGlassMat);
        const float x0 = static_cast<float>(r.min.x), y0 = static_cast<float>(r.min.y);
        const float reach = 0.7f * static_cast<float>(r.width() + r.height());
        c_.paintColor(
            r,
            [&](std::int32_t x, std::int32_t y) {
                const float t = (c_.bx(x) - x0 + c_.bx(y) - y0) / reach;
                return c_.fillOf(glass)(x, y) * 0.12f * (1.0f - smooth01(t));
            },
            Color3{70, 82, 96});
    }
    void line(float x0, float y0, float x1, float y1, float half, Color3 color, float alpha, float emissive) {
        const Segment s{x0, y0, x1, y1, half};
        const IntRect b{{static_cast<std::int32_t>(std::floor(std::min(x0, x1) - half - 2)),
                         static_cast<std::int32_t>(std::floor(std::min(y0, y1) - half - 2))},
                        {static_cast<std::int32_t>(std::ceil(std::max(x0, x1) + half + 2)),
                         static_cast<std::int32_t>(std::ceil(std::max(y0, y1) + half + 2))}};
        c_.paintColor(b, c_.fillOf(s), color, alpha);
        if (emissive > 0) c_.paintEmissive(b, c_.fillOf(s), emissive);
    }

    // An engraved groove: a narrow dark channel with a lit lower lip.
    void groove(float x0, float y0, float x1, float y1) {
        const Segment channel{x0, y0, x1, y1, 1.0f};
        const IntRect b{{static_cast<std::int32_t>(std::min(x0, x1)) - 4,
                         static_cast<std::int32_t>(std::min(y0, y1)) - 4},
                        {static_cast<std::int32_t>(std::max(x0, x1)) + 4,
                         static_cast<std::int32_t>(std::max(y0, y1)) + 4}};
        c_.addHeight(b, c_.rampOf(Segment{x0, y0, x1, y1, 2.5f}, 2.0f), -12.0f);
        c_.paintColor(b, c_.fillOf(channel), Color3{40, 45, 54}, 0.8f);
    }

    // Knob geometry: centre and the radius of the square's inscribed circle.
    static void knobCircle(const IntRect& r, float& cx, float& cy, float& half) {
        cx = 0.5f * static_cast<float>(r.min.x + r.max.x);
        cy = 0.5f * static_cast<float>(r.min.y + r.max.y);
        half = 0.5f * static_cast<float>(std::min(r.width(), r.height()));
    }
    static const IntRect& widget(std::string_view name) {
        for (const WidgetBox& w : kWidgets)
            if (w.name == name) return w.box;
        return kWidgets[0].box;
    }
    // Seat and (for the larger knobs) a machined rim around a knob of the layout.
    void knobSeat(std::string_view name, bool withRim) {
        float cx, cy, half;
        knobCircle(widget(name), cx, cy, half);
        seat(cx, cy, half + 1.0f, 10.0f);
        if (withRim) rimRing(cx, cy, half + 2.5f, 1.2f, 20.0f);
    }

    // ---- Sections ----
    void base() {
        for (std::int32_t y = 0; y < c_.h() && !c_.cancelled(); ++y)
            for (std::int32_t x = 0; x < c_.w(); ++x) {
                const float fx = c_.bx(x), fy = c_.bx(y);
                // Brushed grain: streaks long along x, short along y.
                const float grain = 1.8f * valueNoise(fx / 53.0f, fy / 1.3f, 7u) +
                                    0.9f * valueNoise(fx / 7.0f, fy / 0.7f, 11u);
                // Light from above, a little darker towards the sides.
                const float u = fx / static_cast<float>(c_.baseW()) - 0.5f;
                const float lift = 8.0f * (1.0f - fy / static_cast<float>(c_.baseH())) - 10.0f * u * u;
                Color3& p = c_.color(x, y);
                p = Color3{kPanel.r + grain + lift, kPanel.g + grain + lift, kPanel.b + grain * 1.1f + lift};
                c_.material(x, y) = kPanelMat;
            }
    }

    void plates() {
        // The tilted plates: the visor over the screens and the output block.
        const IntRect visor = kSlopes[1].box, block = kSlopes[2].box, tray = kSlopes[3].box;
        c_.paintColor(visor, c_.fillOf(roundBox(visor, 0.0f, 0.0f)), kPlate);
        c_.paintColor(block, c_.fillOf(roundBox(block, 0.0f, 0.0f)), kPlate);
        // Trims: polished edges along the plates' free sides.
        const auto trimLine = [&](float x0, float y0, float x1, float y1) {
            const Segment s{x0, y0, x1, y1, 0.9f};
            const IntRect b{{static_cast<std::int32_t>(std::min(x0, x1)) - 3,
                             static_cast<std::int32_t>(std::min(y0, y1)) - 3},
                            {static_cast<std::int32_t>(std::max(x0, x1)) + 3,
                             static_cast<std::int32_t>(std::max(y0, y1)) + 3}};
            c_.paintColor(b, c_.fillOf(s), kTrim, 0.7f);
            c_.paintMaterial(b, c_.fillOf(s), kTrimMat);
        };
        // The visor's grille: perforations on arcs around the middle of its lower edge, the
        // panorama's motif (colour only: the editor owns the visor's depth).
        const RoundBox grille{310.0f, 7.0f, 453.0f, 84.0f, 6.0f};
        const float gx = 381.5f, gy = 96.0f;
        for (int ring = 0; ring < 14; ++ring) {
            const float r = 16.0f + 5.5f * static_cast<float>(ring);
            const int holes = static_cast<int>(kPi * r / 5.5f);
            for (int i = 0; i <= holes; ++i) {
                const float a = -0.5f * kPi + kPi * static_cast<float>(i) / static_cast<float>(holes);
                const float hx = gx + std::sin(a) * r, hy = gy - std::cos(a) * r;
                if (grille.distance(hx, hy) > -2.0f) continue;
                const Circle hole{hx, hy, 1.35f};
                const IntRect b = around(hx, hy, 2.0f);
                c_.paintColor(b, c_.fillOf(hole), Color3{26, 30, 37});
                c_.paintMaterial(b, c_.fillOf(hole), Material{220, 0, 20});
            }
        }
        trimLine(300.5f, 0.0f, 300.5f, 89.5f);
        trimLine(462.5f, 0.0f, 462.5f, 89.5f);
        trimLine(300.5f, 89.5f, 462.5f, 89.5f);
        trimLine(645.5f, 67.5f, 762.0f, 67.5f);
        trimLine(645.5f, 67.5f, 645.5f, 379.5f);
        trimLine(645.5f, 379.5f, 762.0f, 379.5f);
        c_.paintColor(tray, c_.fillOf(roundBox(tray, 0.0f, 3.0f)), kTrayFloor);
        c_.paintMaterial(tray, c_.fillOf(roundBox(tray, 0.0f, 3.0f)), Material{185, 30, 60});
    }

    void screens() {
        // Panorama: recessed glass in a machined frame; the marks of the half-disc map.
        const IntRect pano = widget("panorama");
        screen(pano);
        const float lx = 262.0f, ly = 211.0f, rmax = 91.0f;  // listener and reach of the source
        const auto arc = [&](float r, float half, float alpha, float emissive, bool dashed) {
            const Ring ring{lx, ly, r, half};
            const IntRect b = around(lx, ly, r + half).intersection(pano);
            const auto cover = [=, this](std::int32_t x, std::int32_t y) {
                const float px = c_.cx(x) - lx, py = c_.cx(y) - ly;
                if (py > 0.5f) return 0.0f;  // upper half only
                float k = c_.coverage(ring.distance(c_.cx(x), c_.cx(y)));
                if (dashed) {
                    const float a = std::atan2(px, -py) / kPi * 180.0f;  // degrees from straight up
                    const float phase = std::fmod(a + 180.0f, 6.0f);
                    k *= std::clamp(std::min(phase, 6.0f - phase) - 1.0f, 0.0f, 1.0f);
                }
                return k;
            };
            c_.paintColor(b, cover, kGlassLine, alpha);
            c_.paintEmissive(b, cover, emissive);
        };
        arc(rmax, 0.6f, 1.0f, 16.0f, false);
        arc(rmax * 2.0f / 3.0f, 0.5f, 0.7f, 8.0f, true);
        // Pan ticks every 15 degrees on the rim, longer at left, centre and right.
        for (int i = -6; i <= 6; ++i) {
            const float a = static_cast<float>(i) * kPi / 12.0f;
            const float r0 = rmax + 2.0f, r1 = rmax + ((i % 3 == 0) ? 7.0f : 4.0f);
            line(lx + std::sin(a) * r0, ly - std::cos(a) * r0, lx + std::sin(a) * r1, ly - std::cos(a) * r1,
                 0.55f, kGlassLine, 1.0f, 14.0f);
        }
        line(lx - rmax, ly + 0.5f, lx + rmax, ly + 0.5f, 0.5f, kGlassLine, 0.6f, 8.0f);
        text("L", glassStyle(), lx - rmax - 9.0f, static_cast<std::int32_t>(ly) + 4, Align::right);
        text("R", glassStyle(), lx + rmax + 9.0f, static_cast<std::int32_t>(ly) + 4, Align::left);
        text("C", glassStyle(), lx, static_cast<std::int32_t>(ly - rmax) - 9, Align::centre);

        // Phase scope: the same glass; axes, diagonals and the full-scale circle.
        const IntRect scope = widget("phase scope");
        screen(scope);
        const float sx = 561.5f, sy = 387.5f, sr = 58.5f;
        const Ring full{sx, sy, sr, 0.5f};
        c_.paintColor(around(sx, sy, sr), c_.fillOf(full), kGlassLine, 0.8f);
        c_.paintEmissive(around(sx, sy, sr), c_.fillOf(full), 10.0f);
        line(sx, sy - sr, sx, sy + sr, 0.5f, kGlassLine, 0.7f, 8.0f);
        line(sx - sr, sy, sx + sr, sy, 0.5f, kGlassLine, 0.5f, 6.0f);
        const float d = sr * 0.70710678f;
        line(sx - d, sy - d, sx + d, sy + d, 0.5f, kGlassLine, 0.5f, 6.0f);
        line(sx + d, sy - d, sx - d, sy + d, 0.5f, kGlassLine, 0.5f, 6.0f);
        text("M", glassStyle(), sx + 4.0f, 330, Align::left);
        text("L", glassStyle(), sx - d - 3.0f, static_cast<std::int32_t>(sy - d) + 1, Align::right);
        text("R", glassStyle(), sx + d + 3.0f, static_cast<std::int32_t>(sy - d) + 1, Align::left);
    }

    void header() {
        // Logo badge: a shallow recess with a fine rim.
        const IntRect logo = widget("logo");
        bezel(logo, 3.0f, 12.0f, 8.0f);
        pocket(logo, 0.0f, 8.0f, kPanelLevel - 14.0f, 3.0f, kSeat);
        TextStyle name{&title_, 24.0f, 4.0f, kTitle, 20, 8, false};
        text("VELMORA", name, 102.0f, 44, Align::left);
        // Machined grooves under the header, on both sides of the visor.
        groove(10.0f, 73.5f, 291.0f, 73.5f);
        groove(472.0f, 58.5f, 753.0f, 58.5f);
    }

    void leftColumn() {
        const IntRect distance = widget("Distance");
        sliderSlot(distance);
        control("DISTANCE", 61.5f, 105);
        scale("NEAR", 35.0f, 136, Align::right);
        scale("FAR", 35.0f, 243, Align::right);
        sliderTicks(distance, true);
        knobSeat("Stereo Width", true);
        control("STEREO WIDTH", 62.5f, 283);
        // The bow game's tray.
        const IntRect bow = widget("bow game");
        bezel(bow, 3.0f, 14.0f, 4.0f);
        pocket(bow, 0.0f, 3.0f, kPanelLevel - 24.0f, 2.5f, kSeat);
    }

    void generator() {
        ruledTitle("MONO TO STEREO", 217.0f, 256, 126.0f, 308.0f);
        knobSeat("M-to-S Amount.", true);
        control("AMOUNT", 217.0f, 285);
        knobSeat("M-to-S Delay", false);
        control("DELAY", 163.0f, 379);
        knobSeat("M-to-S Lowpass", false);
        control("LOW-PASS", 271.0f, 379);
        knobSeat("Tilt", true);
        control("TILT", 217.0f, 419);
    }

    void panCluster() {
        float cx, cy, half;
        knobCircle(widget("Pan"), cx, cy, half);
        seat(cx, cy, half + 1.0f, 10.0f);
        // The machined ring follows the travel of the knob (open at the bottom, where the three
        // small pan controls sit).
        const float travel = 0.654f * kPi + 0.08f;
        const Ring ring{cx, cy, half + 2.5f, 1.2f};
        const IntRect b = around(cx, cy, half + 4.0f);
        const auto arcCover = [=, this](std::int32_t x, std::int32_t y) {
            const float px = c_.cx(x) - cx, py = c_.cx(y) - cy;
            const float a = std::fabs(std::atan2(px, -py));
            return std::clamp((travel - a) * (half + 2.5f) * c_.scale(), 0.0f, 1.0f);
        };
        c_.addHeight(
            b, [&](std::int32_t x, std::int32_t y) { return c_.rampOf(ring, 1.2f)(x, y) * arcCover(x, y); },
            20.0f);
        const auto trim = [&](std::int32_t x, std::int32_t y) {
            return c_.fillOf(ring)(x, y) * arcCover(x, y);
        };
        c_.paintColor(b, trim, kTrim, 0.85f);
        c_.paintMaterial(b, trim, kTrimMat);
        ruledTitle("PAN", cx, 275, cx - 56.0f, cx + 56.0f);
        // Left, centre and right marks just outside the ring.
        const float r = half + 9.0f, edge = 0.654f * kPi;
        scale("L", cx - std::sin(edge) * r - 1.0f, static_cast<std::int32_t>(cy + std::cos(edge) * -r) + 4,
              Align::right);
        scale("R", cx + std::sin(edge) * r + 1.0f, static_cast<std::int32_t>(cy + std::cos(edge) * -r) + 4,
              Align::left);
        scale("C", cx, static_cast<std::int32_t>(cy - half) - 6, Align::centre);
        knobSeat("Head size", false);
        knobSeat("Level pan", false);
        knobSeat("Spectral Pan", false);
        // The three small knobs are 48 pixels apart with value hints right below them: "HEAD SIZE"
        // goes beside its knob, the other two under theirs on two rows.
        control("HEAD", 329.0f, 432, Align::right);
        control("SIZE", 329.0f, 443, Align::right);
        control("LEVEL PAN", 397.0f, 456);
        control("SPECTRAL PAN", 428.0f, 463, Align::left);
    }

    void lfo() {
        title("LFO", 410.0f, 116, Align::left);
        // Drop-down header and sync switch in machined bezels.
        bezel(kDropdownHeader, 2.5f, 14.0f, 2.0f);
        control("TEMPO", 539.5f, 95);
        bezel(widget("LFO Synced"), 2.5f, 14.0f, 2.0f);
        control("SYNC", 539.5f, 141);
        knobSeat("LFO Freq", false);
        control("RATE", 539.0f, 198);
        knobSeat("LFO Phase", false);
        control("PHASE", 539.0f, 306);
        // Wave shapes beside the radio lights (rows of 28 pixels from y = 108).
        const char* waves[] = {"SINE", "TRI", "SQUARE", "SAW", "RANDOM"};
        const std::int32_t baselines[] = {126, 154, 182, 208, 239};
        for (int i = 0; i < 5; ++i) control(waves[i], 459.0f, baselines[i], Align::left);
        // Targets.
        title("DEPTH", 613.0f, 91);
        const char* targets[] = {"LFO > Pan", "LFO > Distance", "LFO > Gain", "LFO > Tilt"};
        const char* names[] = {"PAN", "DISTANCE", "GAIN", "TILT"};
        const std::int32_t below[] = {139, 192, 245, 294};  // right under each knob
        for (int i = 0; i < 4; ++i) {
            knobSeat(targets[i], false);
            control(names[i], 613.0f, below[i]);
        }
    }

    void rightColumn() {
        title("OUTPUT", 703.5f, 86);
        const IntRect level = widget("Output Level");
        sliderSlot(level);
        control("LEVEL", 703.5f, 105);
        sliderTicks(level, false);
        knobSeat("Dry / Wet", true);
        control("DRY / WET", 704.5f, 282);
        bezel(widget("Test Mono"), 3.0f, 16.0f, 3.0f);
        control("TEST MONO", 703.5f, 418);
    }

    void footer() {
        const IntRect strip = kSlopes[0].box;
        c_.paintColor(strip, c_.fillOf(roundBox(strip, 0.0f, 0.0f)), kFooter);
        c_.paintMaterial(strip, c_.fillOf(roundBox(strip, 0.0f, 0.0f)), kFooterMat);
        line(124.0f, 468.5f, 752.0f, 468.5f, 0.5f, kAccent, 0.8f, 40.0f);
    }

    // Slider slot: a recessed track along the travel.
    void sliderSlot(const IntRect& r) {
        bezel(grow(r, 2), 2.5f, 14.0f, 5.0f);
        pocket(r, 2.0f, 5.0f, kPanelLevel - 12.0f, 2.5f, kSeat);
    }
    // Ticks on the slider's left side; the output slider gets its dB scale.
    void sliderTicks(const IntRect& r, bool plain) {
        const float x1 = static_cast<float>(r.min.x) - 6.0f, x0 = x1 - 4.0f;
        const float top = static_cast<float>(r.min.y) + 18.0f,
                    travel = static_cast<float>(r.height()) - 36.0f;
        if (plain) {
            for (int i = 0; i <= 10; ++i) {
                const float y = std::floor(top + travel * static_cast<float>(i) / 10.0f) + 0.5f;
                const float len = (i % 5 == 0) ? 4.0f : 2.0f;
                line(x1 - len, y, x1, y, 0.5f, kScale, 0.9f, 10.0f);
            }
            return;
        }
        struct Mark {
            float dB;
            const char* text;
        };
        const Mark marks[] = {{18, "+18"},
                              {12, "+12"},
                              {6, "+6"},
                              {0, "0"},
                              {-12,
                               "\xE2\x88\x92"
                               "12"},
                              {-1000, "\xE2\x88\x92\xE2\x88\x9E"}};
        for (const Mark& m : marks) {
            const float v = m.dB < -200 ? 0.0f : std::pow(10.0f, (m.dB - 18.0f) / 40.0f);
            const float y = std::floor(top + travel * (1.0f - v)) + 0.5f;
            line(x0, y, x1, y, 0.5f, kScale, 0.9f, 10.0f);
            scale(m.text, x0 - 2.0f, static_cast<std::int32_t>(y) + 4, Align::right);
        }
    }

    void slopes() {
        // Inside the four slope boxes the editor replaces the depth; write the same values so the
        // picture of the relief reads whole, and ramp the panel around them into their edges. The
        // editor draws each slope over its box at the drawing's scale: so does this.
        const float k = c_.scale();
        for (const Slope& slope : kSlopes) {
            Slope s = slope;
            s.box = korvo::scaleRect(slope.box, k);
            const auto levelAt = [&s](std::int32_t y) {
                const float t = static_cast<float>(y - s.box.min.y) / static_cast<float>(s.box.height());
                const float w = std::floor(std::pow(t, s.exponent) * 65535.0f + 0.5f);
                const float v = std::floor(
                    (static_cast<float>(s.top) * (65535.0f - w) + static_cast<float>(s.bottom) * w) /
                    65535.0f);
                return v / 257.0f;
            };
            constexpr std::int32_t kSkirtBase = 4;
            const float skirt = static_cast<float>(kSkirtBase) * k;
            const IntRect b = grow(s.box, static_cast<std::int32_t>(std::ceil(skirt)));
            for (std::int32_t y = std::max(b.min.y, 0); y < std::min(b.max.y, c_.h()) && !c_.cancelled(); ++y)
                for (std::int32_t x = std::max(b.min.x, 0); x < std::min(b.max.x, c_.w()); ++x) {
                    const std::int32_t nx = std::clamp(x, s.box.min.x, s.box.max.x - 1);
                    const std::int32_t ny = std::clamp(y, s.box.min.y, s.box.max.y - 1);
                    const float dx = static_cast<float>(x - nx), dy = static_cast<float>(y - ny);
                    const float d = std::sqrt(dx * dx + dy * dy);
                    const float blend = 1.0f - smooth01(d / skirt);
                    float& h = c_.height(x, y);
                    h += (levelAt(ny) - h) * blend;
                }
        }
    }

    Canvas& c_;
    Font& label_;
    Font& title_;
    std::vector<LabelRecord>& labels_;
};

}  // namespace

Artwork drawPanel(Font& labelFont, Font& titleFont, float scale, const std::atomic<bool>* cancel) {
    Canvas canvas(kWidth, kHeight, scale, cancel);
    Artwork art;
    PanelPainter(canvas, labelFont, titleFont, art.labels).paint();
    art.color = canvas.colorImage();
    art.emissive = canvas.emissiveImage();
    art.material = canvas.materialImage();
    art.depth = canvas.depthImage();
    return art;
}

}  // namespace velmora::artgen
