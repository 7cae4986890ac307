#include "effect/panorama.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "korvo/gui/context.h"
#include "korvo/widgets/bitmapfont.h"

namespace velmora {

using korvo::ImageView;
using korvo::IntRect;
using korvo::L16;
using korvo::RGBA;

namespace {

constexpr float kHalfPi = 1.57079632679489661923f;
constexpr float kZoomFactors[4] = {1.0f, 2.0f, 3.0f, 4.0f};
constexpr float kZeroDiscPeak[4] = {0.45f, 0.40f, 0.35f, 0.30f};
constexpr std::int32_t kZoomLineLength[4] = {13, 8, 6, 4};
constexpr const char* kZoomLabels[4] = {"x1", "x2", "x3", "x4"};
constexpr float kDomeDepth = 50000.0f;

const RGBA kZeroDiscColor{54, 54, 60, 255};
const RGBA kLineColor{210, 210, 255, 255};
const RGBA kHoverColor{255, 250, 230, 255};
const RGBA kZoomLabelColor{139, 151, 150, 192};

// Where the marks draw: a piece of the display, its pixel (0, 0) being the display's pixel
// (ox, oy). Every mark is placed in the display's own coordinates, so a piece drawn alone holds
// the same pixels as that piece of the whole display drawn at once.
struct Canvas {
    ImageView<RGBA> view;
    std::int32_t ox = 0, oy = 0;

    // The piece as a cropped view whose coordinates are the display's.
    korvo::CroppedView<RGBA> cropped() const noexcept {
        return {view, IntRect{{-ox, -oy}, {view.w, view.h}}};
    }
};

// Blends `color` into the pixels around (cx, cy) whose squared distance d² to the centre is below
// reach², with alpha = coverage(d²) x peak. A centre or reach that is not finite draws nothing.
template <class Coverage>
void radialMark(const Canvas& canvas, float cx, float cy, float reach, RGBA color, float peak,
                Coverage&& coverage) noexcept {
    const ImageView<RGBA>& view = canvas.view;
    if (view.empty() || !std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(reach) || !(reach > 0.0f))
        return;
    std::int32_t x0, x1, y0, y1;
    if (!korvo::detail::clipSpan(std::floor(cx - reach) - 1.0 - canvas.ox,
                                 std::ceil(cx + reach) + 2.0 - canvas.ox, view.w, x0, x1) ||
        !korvo::detail::clipSpan(std::floor(cy - reach) - 1.0 - canvas.oy,
                                 std::ceil(cy + reach) + 2.0 - canvas.oy, view.h, y0, y1))
        return;
    const float reach2 = reach * reach;
    for (std::int32_t y = y0; y < y1; ++y) {
        const float dy = cy - static_cast<float>(y + canvas.oy);
        RGBA* row = view.row(y);
        for (std::int32_t x = x0; x < x1; ++x) {
            const float dx = cx - static_cast<float>(x + canvas.ox);
            const float d2 = dx * dx + dy * dy;
            if (!(d2 < reach2)) continue;
            const int a = korvo::detail::coverage255(coverage(d2) * peak);
            if (a > 0) korvo::detail::PixelTraits<RGBA>::blend(row[x], color, a);
        }
    }
}

// 1 inside radius a, falling linearly in d² to 0 at radius b (a < b; a below 0 counts as 0).
struct Ramp {
    float a2, b2;
    Ramp(float a, float b) noexcept : a2(a > 0.0f ? a * a : 0.0f), b2(b * b) {}
    float operator()(float d2) const noexcept {
        if (d2 < a2) return 1.0f;
        return b2 > a2 ? (b2 - d2) / (b2 - a2) : 0.0f;
    }
};

// A halo: 1 - d² / r².
struct Halo {
    float r2;
    explicit Halo(float r) noexcept : r2(r * r) {}
    float operator()(float d2) const noexcept { return 1.0f - d2 / r2; }
};

// A ring of radius rho: rising linearly in d² from 0 at rho - w to 1 at rho, then falling to 0 at
// rho + w.
struct Ring {
    float in2, mid2, out2;
    Ring(float rho, float w) noexcept {
        const float in = rho - w > 0.0f ? rho - w : 0.0f;
        in2 = in * in;
        mid2 = rho * rho;
        out2 = (rho + w) * (rho + w);
    }
    float operator()(float d2) const noexcept {
        if (d2 <= in2) return 0.0f;
        if (d2 < mid2) return (d2 - in2) / (mid2 - in2);
        return (out2 - d2) / (out2 - mid2);
    }
};

// The parameter dot, radius 3 (base pixels; d² is divided by the scale's square): 1 for d² < 1,
// then 1 - (d² - 1) / 8.
struct Dot {
    float inverseScale2;
    float operator()(float d2) const noexcept {
        if (inverseScale2 != 1.0f) d2 *= inverseScale2;
        return d2 < 1.0f ? 1.0f : 1.0f - (d2 - 1.0f) / 8.0f;
    }
};

// A line of the marks, as wide as the scale (parallel one-pixel lines a pixel apart).
void wideLine(const Canvas& canvas, float x1, float y1, float x2, float y2, RGBA color, int alpha,
              float scale) noexcept {
    const int lines = scale > 1.25f ? static_cast<int>(std::lround(scale)) : 1;
    const korvo::CroppedView<RGBA> target = canvas.cropped();
    if (lines == 1) {
        korvo::lineAA(target, x1, y1, x2, y2, color, alpha);
        return;
    }
    const float dx = x2 - x1, dy = y2 - y1, length = std::sqrt(dx * dx + dy * dy);
    const float nx = length > 0.0f ? -dy / length : 0.0f, ny = length > 0.0f ? dx / length : 1.0f;
    for (int i = 0; i < lines; ++i) {
        const float o = static_cast<float>(i) - 0.5f * static_cast<float>(lines - 1);
        korvo::lineAA(target, x1 + nx * o, y1 + ny * o, x2 + nx * o, y2 + ny * o, color, alpha);
    }
}

}  // namespace

PanoramaDisplay::PanoramaDisplay(korvo::UIContext* context, korvo::FloatParameter* pan,
                                 korvo::FloatParameter* distance, korvo::FloatParameter* tilt,
                                 korvo::FloatParameter* outputLevel)
    : UIElement(context, korvo::ElementFlags::drawsRaw | korvo::ElementFlags::drawsPBR |
                             korvo::ElementFlags::wantsAnimation),
      paramPan_(pan),
      paramDistance_(distance),
      paramTilt_(tilt),
      paramOutputLevel_(outputLevel) {
    for (korvo::FloatParameter* p : {paramPan_, paramDistance_, paramTilt_, paramOutputLevel_})
        p->addListener(this);
    stateFifo_.initialize(kFifoSize, 1);
    setZoomIndex(1);
    shown_ = current();
}

PanoramaDisplay::~PanoramaDisplay() {
    for (korvo::FloatParameter* p : {paramPan_, paramDistance_, paramTilt_, paramOutputLevel_})
        p->removeListener(this);
}

// ---- Geometry ----------------------------------------------------------------------------------

float PanoramaDisplay::usableRadius() const noexcept {
    const float k = scale();
    const float r = std::max(0.0f, std::min(width() / 2.0f, height() - 14.0f * k)) - 28.0f * k;
    return r > 0.0f ? r : 0.0f;
}

PanoramaDisplay::Point PanoramaDisplay::listenerPoint() const noexcept {
    return Point{width() / 2.0f, height() - 18.0f * scale()};
}

PanoramaDisplay::Point PanoramaDisplay::pointFromPanDistance(float distance, float pan) const noexcept {
    return pointAt(distance, pan, zoomIndex());
}

PanoramaDisplay::Point PanoramaDisplay::pointAt(float distance, float pan, std::int32_t zoom) const noexcept {
    float k = std::min(1.0f, (1.0f - (distance + 24.0f) / 30.0f) * kZoomFactors[std::clamp(zoom, 0, 3)]);
    k = std::max(0.0f, k);
    const float r = k * usableRadius();
    const float a = std::clamp(pan, -1.0f, 1.0f) * kHalfPi;
    const Point l = listenerPoint();
    return Point{l.x + std::sin(a) * r, l.y - std::cos(a) * r};
}

PanoramaDisplay::PanDistance PanoramaDisplay::panDistanceFromPoint(float x, float y) const noexcept {
    const float rmax = usableRadius();
    const auto currentPan = static_cast<float>(paramPan_->value());
    if (!(rmax > 0.0f)) return PanDistance{currentPan, static_cast<float>(paramDistance_->value())};
    const Point l = listenerPoint();
    const float dx = (x - l.x) / rmax;
    const float dy = (y - l.y) / rmax;
    const float len = std::sqrt(dx * dx + dy * dy);
    PanDistance result;
    result.distance = (len / zoomFactor() - 1.0f) * -30.0f - 24.0f;
    // On the listener the angle is undefined: the pan stays where it is.
    result.panDegrees = len > 0.0f
                            ? std::clamp(std::atan2(dx / len, -dy / len) / kHalfPi * 90.0f, -90.0f, 90.0f)
                            : currentPan;
    return result;
}

RGBA PanoramaDisplay::colorFromTilt(float tilt) const noexcept {
    float t = std::clamp(tilt, -12.0f, 12.0f);
    if (t != t) t = 0.0f;  // NaN: neutral
    const float v = t * 80.0f / 12.0f;
    if (t >= 0.0f) return RGBA{static_cast<std::uint8_t>(std::lround(220.0f - v)), 220, 255, 255};
    return RGBA{220, 220, static_cast<std::uint8_t>(std::lround(255.0f + v)), 255};
}

bool PanoramaDisplay::isNearPanorama(float x, float y, float margin) const noexcept {
    if (y > height()) return false;
    const Point l = listenerPoint();
    const float dx = x - l.x, dy = y - l.y;
    return std::sqrt(dx * dx + dy * dy) < usableRadius() + margin;
}

void PanoramaDisplay::setParamsFromPoint(float x, float y) noexcept {
    const PanDistance pd = panDistanceFromPoint(x, y);
    paramPan_->setFromEditor(pd.panDegrees);
    paramDistance_->setFromEditor(pd.distance);
}

void PanoramaDisplay::setZoomIndex(std::int32_t index) noexcept {
    index = std::clamp(index, 0, 3);
    zoomIndex_.store(index, std::memory_order_relaxed);
    zoomFactor_.store(kZoomFactors[index], std::memory_order_relaxed);
    refreshMarks();
}

// ---- What the marks show -----------------------------------------------------------------------

PanoramaDisplay::Shown PanoramaDisplay::current() const noexcept {
    Shown s;
    s.pan = static_cast<float>(paramPan_->value());
    s.distance = static_cast<float>(paramDistance_->value());
    s.tilt = static_cast<float>(paramTilt_->value());
    s.outputLevel = static_cast<float>(paramOutputLevel_->value());
    s.audio = lastState_;
    s.zoom = zoomIndex();
    const auto mx = static_cast<float>(mouseX_), my = static_cast<float>(mouseY_);
    s.hover = pointerOver_ && !isDragged() && isNearPanorama(mx, my, kClickMargin * scale()) ? 1 : 0;
    if (s.hover != 0) s.hovered = panDistanceFromPoint(mx, my);
    return s;
}

namespace {
// Bit for bit (the struct has no padding), so a NaN the audio sent compares equal to itself.
bool sameShown(const void* a, const void* b, std::size_t n) noexcept {
    return std::memcmp(a, b, n) == 0;
}
}  // namespace

void PanoramaDisplay::refreshMarks() noexcept {
    Shown next = current();
    const bool zoomed = next.zoom != shown_.zoom;
    if (sameShown(&next, &shown_, sizeof next)) return;
    if (zoomed) {
        shown_ = next;
        setDirtyAll(korvo::DirtyLayer::rawLayerOnly);
        return;
    }
    markMovingMarks(shown_);
    shown_ = next;
    markMovingMarks(shown_);
}

void PanoramaDisplay::markMovingMarks(const Shown& s) noexcept {
    const float k = scale();
    const Point l = listenerPoint();
    const Point p = pointAt(s.distance, s.pan / 90.0f, s.zoom);
    const Point a = pointAt(s.audio.distance, s.audio.pan, s.zoom);
    const float rho = 8.0f * (1.0f + std::max(-48.0f, s.outputLevel) / 64.0f) * k;
    // A box around every pixel a mark may touch: its reach, the anti-aliased edge and a pixel for
    // rounding between element and view coordinates.
    const float edge = 3.0f + k;
    auto box = [this, edge](Point from, Point to, float reach) {
        const float grow = reach + edge;
        setDirtyCovering(korvo::DirtyLayer::rawLayerOnly, std::min(from.x, to.x) - grow,
                         std::min(from.y, to.y) - grow, std::max(from.x, to.x) + grow,
                         std::max(from.y, to.y) + grow);
    };
    // The line to the listener, the halo, ring and dot around the source; the audio's line, halo
    // and dot; the hover preview's line, halo, ring and dot.
    box(p, l, 0.0f);
    box(p, p, std::max(20.0f * k, rho + 2.0f * k));
    box(a, p, 0.0f);
    box(a, a, 10.0f * std::max(1.0f, s.audio.gain) * k);
    if (s.hover != 0) {
        const Point m = pointAt(s.hovered.distance, s.hovered.panDegrees / 90.0f, s.zoom);
        box(m, l, 0.0f);
        box(m, m, std::max(20.0f * k, rho + 2.0f * k));
    }
}

// ---- Feed and listener -------------------------------------------------------------------------

void PanoramaDisplay::sendPanoramaState(float sampleRate, float gain, float tilt, float distance,
                                        float pan) noexcept {
    stateFifo_.pushOne(State{pan, distance, tilt, gain}, sampleRate / kSamplesPerState);
}

void PanoramaDisplay::onParameterChanged(korvo::Parameter&) noexcept {
    requestRefresh();  // the marks only: nothing lit moves
}

void PanoramaDisplay::onAnimate(double dt, double) {
    stateFifo_.dropOlderThan(kMaxLagSeconds);
    State state;
    if (stateFifo_.readOldestAndDrop(&state, 1, dt, 0) > 0) {
        lastState_ = state;
        refreshMarks();
    }
}

// ---- Mouse -------------------------------------------------------------------------------------

bool PanoramaDisplay::onMouseClick(std::int32_t x, std::int32_t y, korvo::MouseButton, bool isDoubleClick,
                                   korvo::MouseState mouseState) {
    const auto fx = static_cast<float>(x), fy = static_cast<float>(y);
    if (!isNearPanorama(fx, fy, kClickMargin * scale())) return false;
    if (isDoubleClick || mouseState.alt) {
        if (mouseState.alt) setZoomIndex(1);
        paramPan_->resetToDefaultFromEditor();
        paramDistance_->resetToDefaultFromEditor();
        return true;
    }
    paramPan_->beginEdit();
    paramDistance_->beginEdit();
    setParamsFromPoint(fx, fy);
    paramPan_->endEdit();
    paramDistance_->endEdit();
    return true;
}

void PanoramaDisplay::onBeginDrag() {
    paramPan_->beginEdit();
    paramDistance_->beginEdit();
    refreshMarks();  // no hover preview while dragging
}

void PanoramaDisplay::onStopDrag() {
    paramDistance_->endEdit();
    paramPan_->endEdit();
    refreshMarks();
}

void PanoramaDisplay::onMouseDrag(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
                                  korvo::MouseState) {
    mouseX_ = x;
    mouseY_ = y;
    setParamsFromPoint(static_cast<float>(x), static_cast<float>(y));
}

void PanoramaDisplay::onMouseMove(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
                                  korvo::MouseState) {
    mouseX_ = x;
    mouseY_ = y;
    pointerOver_ = true;
    refreshMarks();
}

void PanoramaDisplay::onMouseExit() {
    pointerOver_ = false;
    refreshMarks();
}

bool PanoramaDisplay::onMouseWheel(std::int32_t, std::int32_t, std::int32_t, std::int32_t wheelDeltaY,
                                   korvo::MouseState) {
    if (wheelDeltaY == 0) return false;
    const std::int32_t current = zoomIndex();
    const std::int32_t next = std::clamp(current + (wheelDeltaY > 0 ? 1 : -1), 0, 3);
    if (next != current) setZoomIndex(next);
    return true;  // taken at the ends too, so the host does not scroll
}

// ---- Drawing -----------------------------------------------------------------------------------

void PanoramaDisplay::onDrawPBR(ImageView<RGBA>, ImageView<L16> depthMap, ImageView<RGBA>,
                                const korvo::Vec<IntRect>& dirtyRects) {
    const float radius = std::max(0.0f, std::min(width() / 2.0f, height() - 14.0f * scale()));
    if (!(radius > 0.0f)) return;
    const Point l = listenerPoint();
    for (const IntRect& rect : dirtyRects) {
        const korvo::CroppedView<L16> target{depthMap, rect};
        const float ox = static_cast<float>(rect.min.x + _drawOffset.x);
        const float oy = static_cast<float>(rect.min.y + _drawOffset.y);
        korvo::softDisc(target, l.x - ox, l.y - oy, 0.0f, radius, L16{static_cast<std::uint16_t>(kDomeDepth)},
                        1.0f);
    }
}

void PanoramaDisplay::onDrawRaw(ImageView<RGBA> rawMap, const korvo::Vec<IntRect>& dirtyRects) {
    for (const IntRect& rect : dirtyRects) {
        const ImageView<RGBA> target = rawMap.sub(rect);
        if (target.empty()) continue;
        drawMarks(target, rect.min.x + _drawOffset.x, rect.min.y + _drawOffset.y);
    }
}

// Every mark, in order, into `piece`, whose pixel (0, 0) is element pixel (ox, oy).
void PanoramaDisplay::drawMarks(ImageView<RGBA> piece, std::int32_t ox, std::int32_t oy) const noexcept {
    const Canvas target{piece, ox, oy};
    const Shown& shown = shown_;
    const std::int32_t zoom = std::clamp(shown.zoom, 0, 3);
    const float rmax = usableRadius();
    const State audio = shown.audio;
    const Point l = listenerPoint();
    const Point pParam = pointAt(shown.distance, shown.pan / 90.0f, zoom);
    const Point pAudio = pointAt(audio.distance, audio.pan, zoom);
    const RGBA cParam = colorFromTilt(shown.tilt);
    const RGBA cAudio = colorFromTilt(audio.tilt);
    const float g = audio.gain;
    const float level = std::max(-48.0f, shown.outputLevel);  // -inf dB: -48
    // Sizes in base pixels, drawn at the scale.
    const float k = scale();
    const float rho = 8.0f * (1.0f + level / 64.0f) * k;
    const Dot dotCoverage{1.0f / (k * k)};

    const float lx = l.x, ly = l.y, px = pParam.x, py = pParam.y, ax = pAudio.x, ay = pAudio.y;

    // 1. The disc of distance 0.
    const float r0 = kZoomFactors[zoom] * rmax * 0.2f;
    radialMark(target, lx, ly, r0 + 1.0f * k, kZeroDiscColor, kZeroDiscPeak[zoom],
               Ramp(r0 - 1.0f * k, r0 + 1.0f * k));
    // 2. Lines: parameter point to the listener, audio point to the parameter point.
    wideLine(target, px, py, lx, ly, kLineColor, 80, k);
    wideLine(target, ax, ay, px, py, kLineColor, 40, k);
    // 3, 4. Halos.
    radialMark(target, ax, ay, 10.0f * g * k, cAudio, 0.15f, Halo(10.0f * g * k));
    radialMark(target, px, py, 20.0f * k, cParam, 0.1f, Halo(20.0f * k));
    // 5. The audio dot, its size following the tremolo gain.
    radialMark(target, ax, ay, 5.0f * g * k, cAudio, 0.8f, Ramp((5.0f * g - 2.0f) * k, 5.0f * g * k));
    // 6. The output-level ring, 7. the parameter dot.
    radialMark(target, px, py, rho + 2.0f * k, cParam, 0.8f, Ring(rho, 2.0f * k));
    radialMark(target, px, py, 3.0f * k, cParam, 0.8f, dotCoverage);

    // 8. Where a click would put the source, while the pointer hovers without dragging.
    if (shown.hover != 0) {
        const Point pMouse = pointAt(shown.hovered.distance, shown.hovered.panDegrees / 90.0f, zoom);
        const float mx = pMouse.x, my = pMouse.y;
        wideLine(target, mx, my, lx, ly, kHoverColor, 40, k);
        radialMark(target, mx, my, 20.0f * k, kHoverColor, 0.05f, Halo(20.0f * k));
        radialMark(target, mx, my, rho + 2.0f * k, kHoverColor, 0.4f, Ring(rho, 2.0f * k));
        radialMark(target, mx, my, 3.0f * k, kHoverColor, 0.4f, dotCoverage);
    }

    // 9. The zoom label in the 8 x 8 bitmap font, and under it a line 9 pixels lower, centred 7
    // pixels right of the text's origin, shorter as the zoom grows.
    // (Base pixels, placed and drawn at the scale.)
    const auto at = [k](std::int32_t v) { return korvo::scaleCoord(v, k); };
    const std::int32_t textX = _position.width() - at(39), textY = _position.height() - at(13);
    const std::int32_t length = kZoomLineLength[zoom];
    const std::int32_t lineX = textX + at(7 - length / 2);
    korvo::drawBitmapText(piece, textX - ox, textY - oy, kZoomLabels[zoom], kZoomLabelColor,
                          korvo::BitmapFontSize::small8x8, k);
    const IntRect line{{lineX, textY + at(9)}, {lineX + at(length), textY + at(10)}};
    korvo::blendBox(target.cropped(), line,
                    RGBA{kZoomLabelColor.r, kZoomLabelColor.g, kZoomLabelColor.b, 255},
                    static_cast<int>(kZoomLabelColor.a));
}

}  // namespace velmora
