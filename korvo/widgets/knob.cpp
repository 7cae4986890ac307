// UIKnob and PanKnob: drag rules, push animation and painting.
#include "korvo/widgets/knob.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "korvo/gui/context.h"
#include "korvo/widgets/paint.h"

namespace korvo {

using widgets::blendCoverage;
using widgets::blendDepth;
using widgets::PaintFrame;

namespace {
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPiD = 3.141592653589793;
constexpr float kInf = std::numeric_limits<float>::infinity();
// Beyond this many LEDs a value change redraws the whole knob rather than a box per LED.
constexpr std::int32_t kMostMarkedLEDs = 16;

// Where LED `i` of `leds` sits for a value at screen angle `valueAngle`, and its radius (0: not
// drawn). The disc's centre (cx, cy), radius R and the LEDs' distance from the centre are given.
struct LED {
    float x, y, r;
};
LED ledAt(const UIKnob& k, std::int32_t i, std::int32_t leds, double valueAngle, float cx, float cy, float R,
          float distance) noexcept {
    const double t = kTwoPi * i / leds;
    const double theta = valueAngle + kPiD * 0.5 + t;
    const auto u = static_cast<float>(2.0 * std::fabs(t - kPiD) / kPiD - 1.0);
    const float sizeFactor = (1.0f - u) * k.LEDRadiusMin + u * k.LEDRadiusMax;
    return LED{static_cast<float>(cx + std::sin(theta) * distance),
               static_cast<float>(cy - std::cos(theta) * distance),
               R * (sizeFactor > 0.0f ? sizeFactor : 0.0f)};
}
std::int32_t ledCount(std::int32_t n) noexcept {
    return n < 0 ? 0 : (n > 256 ? 256 : n);
}
float pushed(float p) noexcept {
    return p < 0.0f ? 0.0f : (p > 1.0f ? 1.0f : p);
}
}  // namespace

UIKnob::UIKnob(UIContext* context, FloatParameter* parameter)
    : UIElement(context, ElementFlags::drawsPBR | ElementFlags::wantsAnimation),
      param(parameter),
      lastZeroCrossY(kInf),
      lastOneCrossY(-kInf) {
    sensitivity = 0.25f;
    if (param != nullptr) param->addListener(this);
    pushedAnimation = 0.0f;
    resetDragBounds();
    drawnValue_ = displayedValue();
}

UIKnob::~UIKnob() {
    if (param != nullptr) param->removeListener(this);
}

void UIKnob::onParameterChanged(Parameter&) noexcept {
    requestRefresh();
}

void UIKnob::refreshShown() {
    const double was = drawnValue_, next = displayedValue();
    if (next == was) return;
    drawnValue_ = next;
    const double base = getTrailBaseAngle(), from = angleAt(was), to = angleAt(next);
    // The alternate colour across the base recolours the whole lit trail.
    if ((hasAlternateTrail && (base > from) != (base > to)) || ledCount(numLEDs) > kMostMarkedLEDs) {
        setDirtyAll(DirtyLayer::fromFlags);
        return;
    }
    markValueMarks(was, next);
    markTrailSector(from, to);
}

// The boxes marked below reach a pixel beyond what is drawn, for the rounding between element and
// view coordinates.
void UIKnob::markValueMarks(double from, double to) {
    const std::int32_t leds = ledCount(numLEDs);
    const float cx = centerX(), cy = centerY(), R = discRadius(), p = pushed(pushedAnimation);
    const float distance = R * ((1.0f - p) * LEDDistanceFromCenter + p * LEDDistanceFromCenterPushed);
    const double a = angleAt(from), b = angleAt(to);
    // One box per LED around both of its places: they overlap for a small step.
    for (std::int32_t i = 0; i < leds; ++i) {
        const LED l = ledAt(*this, i, leds, a, cx, cy, R, distance),
                  m = ledAt(*this, i, leds, b, cx, cy, R, distance);
        if (!(l.r > 0.0f)) continue;
        setDirtyCovering(DirtyLayer::fromFlags, std::min(l.x, m.x) - l.r - 2.0f,
                         std::min(l.y, m.y) - l.r - 2.0f, std::max(l.x, m.x) + l.r + 3.0f,
                         std::max(l.y, m.y) + l.r + 3.0f);
    }
}

void UIKnob::markTrailSector(double from, double to) {
    if (from > to) std::swap(from, to);
    const float s = squareSide(), R = discRadius();
    const float cx = centerX() + trailOffsetX * R, cy = centerY() + trailOffsetY * R;
    const float inner = std::max(0.0f, trailRadiusMin * s * 0.5f - 1.0f),
                outer = trailRadiusMax * s * 0.5f + 1.0f;
    float x0 = kInf, y0 = kInf, x1 = -kInf, y1 = -kInf;
    auto take = [&](double angle, float radius) {
        const auto x = static_cast<float>(cx + std::cos(angle) * radius);
        const auto y = static_cast<float>(cy + std::sin(angle) * radius);
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    };
    for (const float radius : {inner, outer}) {
        take(from, radius);
        take(to, radius);
    }
    // The sector bulges out at every quarter turn it spans.
    for (double q = std::ceil(from / (0.5 * kPiD)) * 0.5 * kPiD; q < to && std::isfinite(q); q += 0.5 * kPiD)
        take(q, outer);
    // The arc's anti-aliased rim and ends reach a pixel farther.
    setDirtyCovering(DirtyLayer::fromFlags, x0 - 3.0f, y0 - 3.0f, x1 + 4.0f, y1 + 4.0f);
}
void UIKnob::onBeginParameterEdit(Parameter&) noexcept {}
void UIKnob::onEndParameterEdit(Parameter&) noexcept {}

double UIKnob::getMinAngle() const noexcept {
    return static_cast<double>(minAngle) + 1.5 * kPiD;
}
double UIKnob::getMaxAngle() const noexcept {
    return static_cast<double>(maxAngle) + 1.5 * kPiD;
}
double UIKnob::getTrailBaseAngle() const noexcept {
    return static_cast<double>(trailBaseAngle) + 1.5 * kPiD;
}
double UIKnob::displayedValue() const noexcept {
    return param != nullptr ? widgets::sanitizeUnit(param->getNormalized()) : 0.0;
}
double UIKnob::angleAt(double v) const noexcept {
    return getMinAngle() * (1.0 - v) + getMaxAngle() * v;
}
double UIKnob::getValueAngle() const noexcept {
    return angleAt(drawnValue_);
}
void UIKnob::resetDragBounds() noexcept {
    lastZeroCrossY = kInf;
    lastOneCrossY = -kInf;
}

float UIKnob::squareSide() const noexcept {
    const std::int32_t w = _position.width(), h = _position.height();
    return static_cast<float>(w < h ? w : h);
}
float UIKnob::centerX() const noexcept {
    const std::int32_t w = _position.width(), s = static_cast<std::int32_t>(squareSide());
    const std::int32_t x0 = (w - s) / 2;
    return static_cast<float>(x0 + x0 + s - 1) * 0.5f;
}
float UIKnob::centerY() const noexcept {
    const std::int32_t h = _position.height(), s = static_cast<std::int32_t>(squareSide());
    const std::int32_t y0 = (h - s) / 2;
    return static_cast<float>(y0 + y0 + s - 1) * 0.5f;
}
bool UIKnob::hitTest(float x, float y) const noexcept {
    const float dx = x - centerX(), dy = y - centerY(), r = squareSide() * 0.5f;
    return dx * dx + dy * dy < r * r;
}

// ---- Input ------------------------------------------------------------------------------------

bool UIKnob::onMouseClick(std::int32_t x, std::int32_t y, MouseButton, bool isDoubleClick, MouseState state) {
    if (!hitTest(static_cast<float>(x), static_cast<float>(y))) return false;
    if ((isDoubleClick || state.alt) && param != nullptr) param->resetToDefaultFromEditor();
    return true;
}

void UIKnob::onBeginDrag() {
    if (param != nullptr) param->beginEdit();
    setDirtyAll(DirtyLayer::fromFlags);
}

void UIKnob::onMouseDrag(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t dy, MouseState state) {
    (void)x;
    if (param == nullptr) return;
    const double old = displayedValue();
    const double h = layoutHeightInPixels();
    double next;
    if (state.alt) {
        next = widgets::sanitizeUnit(param->getNormalizedDefault());
    } else {
        if (h <= 0.0) return;
        const double fine = (state.ctrl || state.shift) ? 0.1 : 1.0;
        next = old - (static_cast<double>(dy) / h) * fine * static_cast<double>(getSensitivity());
    }
    if (std::isnan(next)) return;  // a NaN sensitivity must not reach the parameter
    const auto fy = static_cast<float>(y);
    if (fy > lastZeroCrossY || fy < lastOneCrossY) return;  // still beyond where an end was hit
    if (old > 0.0 && next <= 0.0) lastZeroCrossY = fy;
    if (old < 1.0 && next >= 1.0) lastOneCrossY = fy;
    next = next < 0.0 ? 0.0 : (next > 1.0 ? 1.0 : next);
    if (next > 0.0) lastZeroCrossY = kInf;
    if (next < 1.0) lastOneCrossY = -kInf;
    if (next != old) param->setFromEditorNormalized(next);
}

void UIKnob::onStopDrag() {
    if (param != nullptr) param->endEdit();
    resetDragBounds();
    setDirtyAll(DirtyLayer::fromFlags);
}

void UIKnob::onMouseMove(std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, MouseState) {
    const bool over = hitTest(static_cast<float>(x), static_cast<float>(y));
    if (over == mouseOverDisc) return;  // the picture only changes with the hover state
    mouseOverDisc = over;
    setDirtyAll(DirtyLayer::fromFlags);
}

void UIKnob::onMouseExit() {
    if (!mouseOverDisc) return;
    mouseOverDisc = false;
    setDirtyAll(DirtyLayer::fromFlags);
}

void UIKnob::onAnimate(double dt, double) {
    const float target = isDragged() ? 1.0f : 0.0f;
    const float e = std::exp(-animationTimeConstant * static_cast<float>(dt));
    float next = pushedAnimation * e + target * (1.0f - e);
    if (!std::isfinite(next)) next = target;
    if (std::fabs(next - pushedAnimation) > 0.001f) {
        pushedAnimation = next;
        setDirtyAll(DirtyLayer::fromFlags);
    }
}

// ---- Painting ---------------------------------------------------------------------------------

namespace knobpaint {

namespace {
// atan2 within kAngleError (the polynomial's own error is below 1e-5 radians), without the
// library's exact evaluation; (0, 0) gives 0.
constexpr double kAngleError = 2e-3;
double roughAngle(double y, double x) noexcept {
    const double ax = std::fabs(x), ay = std::fabs(y);
    const bool steep = ay > ax;
    const double z = steep ? ax / ay : (ax > 0.0 ? ay / ax : 0.0);
    const double z2 = z * z;
    double r = z * (0.9998660 + z2 * (-0.3302995 + z2 * (0.1801410 + z2 * (-0.0851330 + z2 * 0.0208351))));
    if (steep) r = 0.5 * kPiD - r;
    if (x < 0.0) r = kPiD - r;
    return y < 0.0 ? -r : r;
}
}  // namespace

void arcFill(ImageView<RGBA> map, IntRect box, IntPoint offset, float cx, float cy, float r0, float r1,
             double start, double stop, RGBA color) noexcept {
    if (!(start != stop) || !std::isfinite(start) || !std::isfinite(stop)) return;
    if (start > stop) stop += kTwoPi;
    if (start < -kPiD || stop < -kPiD) {
        start += kTwoPi;
        stop += kTwoPi;
    }
    const float lo = r0 - 1.0f, hi = r1 + 1.0f;
    const float lo2 = lo > 0.0f ? lo * lo : 0.0f, hi2 = hi * hi;
    const PaintFrame frame{box, offset};
    frame.forEach(cx - hi, cy - hi, cx + hi + 1.0f, cy + hi + 1.0f,
                  [&](std::int32_t mx, std::int32_t my, std::int32_t ex, std::int32_t ey) {
                      const float dx = static_cast<float>(ex) - cx, dy = static_cast<float>(ey) - cy;
                      const float d2 = dx * dx + dy * dy;
                      if (d2 < lo2 || d2 > hi2) return;
                      const float d = std::sqrt(d2);
                      if (!(d >= r0 && d < r1)) return;
                      float coverage = d > r1 - 1.0f ? r1 - d : (d < r0 + 1.0f ? d - r0 : 1.0f);
                      // Most pixels lie clearly inside or outside the angles, away from the
                      // ends' one-pixel fade: a rough angle decides those exactly as the exact
                      // one would. Near an end (or the +-pi seam) the exact angle is taken.
                      const double w = 1.0 / static_cast<double>(d);
                      const double rough = roughAngle(static_cast<double>(dy), static_cast<double>(dx));
                      if (std::fabs(rough) < kPiD - kAngleError && std::fabs(rough - start) > kAngleError &&
                          std::fabs(rough - stop) > kAngleError) {
                          const double r = (rough < start || rough > stop) ? rough + kTwoPi : rough;
                          if (r < start || r > stop) {
                              if (std::fabs(r - start) > kAngleError && std::fabs(r - stop) > kAngleError)
                                  return;
                          } else if (r >= start + w + kAngleError && r + w + kAngleError <= stop) {
                              blendCoverage(map.at(mx, my), color, coverage);
                              return;
                          }
                      }
                      double a = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
                      if (a < start || a > stop) a += kTwoPi;
                      if (a < start || a > stop) return;
                      if (a < start + w)
                          coverage *= static_cast<float>((a - start) / w);
                      else if (a + w > stop)
                          coverage *= static_cast<float>((stop - a) / w);
                      blendCoverage(map.at(mx, my), color, coverage);
                  });
}

void softDiscDepth(ImageView<L16> map, IntRect box, IntPoint offset, float cx, float cy, float ri, float ro,
                   std::uint16_t value, float alpha, bool curved) noexcept {
    if (!(ro > 0.0f)) return;
    if (!(ri >= 0.0f)) ri = 0.0f;
    const float ri2 = ri * ri, ro2 = ro * ro, span = ro2 - ri2;
    const PaintFrame frame{box, offset};
    frame.forEach(cx - ro - 1.0f, cy - ro - 1.0f, cx + ro + 2.0f, cy + ro + 2.0f,
                  [&](std::int32_t mx, std::int32_t my, std::int32_t ex, std::int32_t ey) {
                      const float dx = static_cast<float>(ex) - cx, dy = static_cast<float>(ey) - cy;
                      const float d2 = dx * dx + dy * dy;
                      float c;
                      if (d2 < ri2) {
                          c = alpha;
                      } else if (d2 < ro2 && span > 0.0f) {
                          const float t = (d2 - ri2) / span;
                          c = alpha * (curved ? 1.0f - std::pow(t, 1.2f) : 1.0f - t);
                      } else {
                          return;
                      }
                      blendDepth(map.at(mx, my), value, c);
                  });
}

}  // namespace knobpaint

namespace {
// Coverage 1 inside `inner`, falling linearly in d^2 to 0 at `outer`.
template <class F>
void ringFalloff(const PaintFrame& frame, float cx, float cy, float inner, float outer, F&& blend) {
    if (!(outer > 0.0f)) return;
    const float in2 = inner > 0.0f ? inner * inner : 0.0f, out2 = outer * outer, span = out2 - in2;
    frame.forEach(cx - outer - 1.0f, cy - outer - 1.0f, cx + outer + 2.0f, cy + outer + 2.0f,
                  [&](std::int32_t mx, std::int32_t my, std::int32_t ex, std::int32_t ey) {
                      const float dx = static_cast<float>(ex) - cx, dy = static_cast<float>(ey) - cy;
                      const float d2 = dx * dx + dy * dy;
                      if (d2 >= out2) return;
                      const float c = (d2 < in2 || span <= 0.0f) ? 1.0f : (out2 - d2) / span;
                      blend(mx, my, c);
                  });
}
}  // namespace

void UIKnob::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                       const Vec<IntRect>& dirtyRects) {
    drawTrail(diffuseMap, depthMap, materialMap, dirtyRects);
    drawKnob(diffuseMap, depthMap, materialMap, dirtyRects);
}

void UIKnob::drawTrail(ImageView<RGBA> diffuseMap, ImageView<L16>, ImageView<RGBA>,
                       const Vec<IntRect>& dirtyRects) {
    const float s = squareSide(), R = discRadius();
    const float cx = centerX() + trailOffsetX * R, cy = centerY() + trailOffsetY * R;
    const float r0 = trailRadiusMin * s * 0.5f, r1 = trailRadiusMax * s * 0.5f;
    const double base = getTrailBaseAngle(), value = getValueAngle();
    RGBA lit = (hasAlternateTrail && base > value) ? litTrailDiffuseAlt : litTrailDiffuse;
    if (isDragged()) lit.a = widgets::addAlpha(lit.a, lit.a);
    for (const IntRect& r : dirtyRects) {
        knobpaint::arcFill(diffuseMap, r, _drawOffset, cx, cy, r0, r1, getMinAngle(), getMaxAngle(),
                           unlitTrailDiffuse);
        knobpaint::arcFill(diffuseMap, r, _drawOffset, cx, cy, r0, r1, base < value ? base : value,
                           base < value ? value : base, lit);
    }
}

void UIKnob::drawKnob(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                      const Vec<IntRect>& dirtyRects) {
    const float cx = centerX(), cy = centerY(), R = discRadius();
    const float p = pushed(pushedAnimation);
    const auto pushedDepth = static_cast<std::uint16_t>(std::lround((1.0f - p) * 65535.0f + p * 45000.0f));
    RGBA disc = knobDiffuse;
    disc.a = (mouseOverDisc && !isDragged()) ? 30 : 0;
    const double valueAngle = getValueAngle();
    const float ledDistance = R * ((1.0f - p) * LEDDistanceFromCenter + p * LEDDistanceFromCenterPushed);
    const RGBA ledColor = widgets::lerpColor(LEDDiffuseUnlit, LEDDiffuseLit, p);
    const std::int32_t leds = ledCount(numLEDs);

    for (const IntRect& r : dirtyRects) {
        const PaintFrame frame{r, _drawOffset};
        // 1. Depth profile.
        switch (style) {
            case KnobStyle::dimple: {
                const float inner = R * 3.0f / 5.0f;
                knobpaint::softDiscDepth(depthMap, r, _drawOffset, cx, cy, inner > 0.0f ? inner : 0.0f, R,
                                         65535, 1.0f, false);
                knobpaint::softDiscDepth(depthMap, r, _drawOffset, cx, cy, 0.0f, R * 0.6f, 38400, 1.0f,
                                         false);
                break;
            }
            case KnobStyle::cylinder:
                knobpaint::softDiscDepth(depthMap, r, _drawOffset, cx, cy, R - 5.0f, R, pushedDepth, 1.0f,
                                         false);
                break;
            case KnobStyle::dome:
                knobpaint::softDiscDepth(depthMap, r, _drawOffset, cx, cy, 0.0f, R, pushedDepth, 1.0f, false);
                break;
            case KnobStyle::ball:
                knobpaint::softDiscDepth(depthMap, r, _drawOffset, cx, cy, 2.0f, R, pushedDepth, 1.0f, true);
                break;
        }
        // 2. Diffuse, with the hover glow in its alpha.
        ringFalloff(frame, cx, cy, R - 1.0f, R, [&](std::int32_t x, std::int32_t y, float c) {
            blendCoverage(diffuseMap.at(x, y), disc, c);
        });
        // 3. Material.
        ringFalloff(frame, cx, cy, R - 5.0f, R, [&](std::int32_t x, std::int32_t y, float c) {
            blendCoverage(materialMap.at(x, y), knobMaterial, c);
        });
        // 4. LEDs, LED 0 pointing at the value.
        for (std::int32_t i = 0; i < leds; ++i) {
            const LED led = ledAt(*this, i, leds, valueAngle, cx, cy, R, ledDistance);
            const float lx = led.x, ly = led.y, lr = led.r;
            if (!(lr > 0.0f)) continue;
            knobpaint::softDiscDepth(depthMap, r, _drawOffset, lx, ly, 0.0f, lr, LEDDepth, 1.0f, false);
            const float lr2 = lr * lr;
            frame.forEach(lx - lr - 1.0f, ly - lr - 1.0f, lx + lr + 2.0f, ly + lr + 2.0f,
                          [&](std::int32_t mx, std::int32_t my, std::int32_t ex, std::int32_t ey) {
                              const float dx = static_cast<float>(ex) - lx, dy = static_cast<float>(ey) - ly;
                              const float d2 = dx * dx + dy * dy;
                              if (d2 < lr2) blendCoverage(diffuseMap.at(mx, my), ledColor, 1.0f - d2 / lr2);
                          });
            ringFalloff(frame, lx, ly, 0.714f * lr, lr, [&](std::int32_t x, std::int32_t y, float c) {
                blendCoverage(materialMap.at(x, y), RGBA{128, 128, 255, 255}, c);
            });
        }
    }
}

PanKnob::Needle PanKnob::needleAt(double value) const noexcept {
    const double theta = angleAt(value) + kPiD * 0.5;
    const float reach = 0.9375f * squareSide() * 0.5f;
    return Needle{static_cast<float>(centerX() + std::sin(theta) * reach),
                  static_cast<float>(centerY() - std::cos(theta) * reach)};
}

void PanKnob::markValueMarks(double from, double to) {
    UIKnob::markValueMarks(from, to);
    const Needle n = needleAt(from), m = needleAt(to);
    setDirtyCovering(DirtyLayer::fromFlags, std::min(n.x, m.x) - 5.0f, std::min(n.y, m.y) - 5.0f,
                     std::max(n.x, m.x) + 6.0f, std::max(n.y, m.y) + 6.0f);
}

void PanKnob::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16> depthMap, ImageView<RGBA> materialMap,
                        const Vec<IntRect>& dirtyRects) {
    drawTrail(diffuseMap, depthMap, materialMap, dirtyRects);
    drawKnob(diffuseMap, depthMap, materialMap, dirtyRects);
    const auto [nx, ny] = needleAt(drawnValue());
    for (const IntRect& r : dirtyRects) {
        const PaintFrame frame{r, _drawOffset};
        frame.forEach(nx - 4.0f, ny - 4.0f, nx + 5.0f, ny + 5.0f,
                      [&](std::int32_t mx, std::int32_t my, std::int32_t ex, std::int32_t ey) {
                          const float dx = static_cast<float>(ex) - nx, dy = static_cast<float>(ey) - ny;
                          const float d2 = dx * dx + dy * dy;
                          if (d2 >= 9.0f) return;
                          const float c = d2 < 4.0f ? 1.0f : 1.0f - 0.2f * (d2 - 4.0f);
                          blendCoverage(diffuseMap.at(mx, my), RGBA{60, 60, 60, 0}, c);
                      });
    }
}

}  // namespace korvo
