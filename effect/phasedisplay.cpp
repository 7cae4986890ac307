#include "effect/phasedisplay.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>

namespace velmora {

using korvo::ImageView;
using korvo::IntRect;
using korvo::L16;
using korvo::RGBA;

namespace {

constexpr float kInitialRate = 44100.0f;  // until the first feed
constexpr float kMinPeak = 1e-10f;
constexpr float kCentre = 69.0f;
constexpr float kReach = 65.0f;  // pixels from the centre for a full-scale point, before the margin
constexpr float kMargin = 0.9f;  // the batch's loudest point lands at 0.9 x 65 = 58.5 pixels
constexpr std::int32_t kDecay = 13;
constexpr std::int32_t kDecayBright = 26;
constexpr std::int32_t kShift = 4;
constexpr std::int32_t kShiftBright = 3;
constexpr float kSplatSteps[5] = {0.0f, 0.2f, 0.4f, 0.6f, 0.8f};

const RGBA kIndicatorOn{32, 192, 192, 192};
const RGBA kIndicatorOff{192, 32, 150, 192};
const IntRect kStateSquare{{122, 118}, {125, 121}};
const IntRect kBrightSquare{{116, 118}, {119, 121}};

// A converted point takes part in a batch only when its squared length is a finite float:
// NaN, infinities and values whose squares overflow are left out.
bool usable(const PhaseDisplay::Pair& p, float& length2) noexcept {
    length2 = p.a * p.a + p.b * p.b;
    return length2 <= FLT_MAX;
}

// slots[k] = (left[k * step], right[k * step]) for k in [0, count): two pairs per 16-byte store.
void gatherPairs(const float* left, const float* right, std::int32_t step, PhaseDisplay::Pair* slots,
                 std::int32_t count) noexcept {
    static_assert(sizeof(PhaseDisplay::Pair) == 2 * sizeof(float), "a pair is two packed floats");
    auto* out = reinterpret_cast<float*>(slots);
    const std::ptrdiff_t s = step;
    std::int32_t k = 0;
    for (; k + 2 <= count; k += 2, left += 2 * s, right += 2 * s, out += 4) {
        const __m128 first = _mm_unpacklo_ps(_mm_load_ss(left), _mm_load_ss(right));
        const __m128 second = _mm_unpacklo_ps(_mm_load_ss(left + s), _mm_load_ss(right + s));
        _mm_storeu_ps(out, _mm_movelh_ps(first, second));
    }
    if (k < count) slots[k] = PhaseDisplay::Pair{*left, *right};
}

}  // namespace

PhaseDisplay::PhaseDisplay(korvo::UIContext* context)
    : UIElement(context, korvo::ElementFlags::drawsRaw | korvo::ElementFlags::drawsPBR |
                             korvo::ElementFlags::wantsAnimation) {
    sampleFifo_.initialize(kFifoSize, kFifoResolution);
    sampleFifo_.pushSamples(nullptr, 0, kInitialRate);  // stores the rate only
    resizeGrid(kDefaultWidth, kDefaultHeight);
}

PhaseDisplay::~PhaseDisplay() = default;

void PhaseDisplay::resizeGrid(std::int32_t w, std::int32_t h) {
    gridW_ = std::max(0, w);
    gridH_ = std::max(0, h);
    grid_.resize(static_cast<std::size_t>(gridW_) * static_cast<std::size_t>(gridH_));
    std::fill(grid_.begin(), grid_.end(), 0);
}

// ---- Feed --------------------------------------------------------------------------------------

void PhaseDisplay::sendPhaseSamples(const float* left, const float* right, std::int32_t frames,
                                    float sampleRate) noexcept {
    if (disabled_.load(std::memory_order_relaxed)) return;
    if (left == nullptr || right == nullptr) frames = 0;  // only the rate is stored
    // The pairs are read straight from the two channels into the FIFO's slots, and only those it
    // keeps.
    sampleFifo_.pushRuns(
        frames, sampleRate,
        [left, right](Pair* slots, std::int32_t count, std::int32_t index, std::int32_t step) {
            gatherPairs(left + index, right + index, step, slots, count);
        });
}

// ---- Animation ---------------------------------------------------------------------------------

void PhaseDisplay::onAnimate(double dt, double) {
    sampleFifo_.dropOlderThan(kMaxLagSeconds);
    const std::int32_t n = sampleFifo_.readOldestAndDrop(points_, kMaxPoints, dt, 0);
    // Switched off: what was still queued drains unseen, so the grid fades at once.
    pointCount_ = isDisabled() ? 0 : n;
    bool sound = false;
    for (std::int32_t i = 0; i < pointCount_; ++i) {
        const float l = points_[i].a, r = points_[i].b;
        if (l != 0.0f || r != 0.0f) sound = true;  // a NaN counts as sound
        points_[i] = Pair{l - r, l + r};
    }
    // Twenty redraws after the last sound: enough for the brightest trace to fade out (the fade
    // starts from 255 at most, 20 x 13 > 255). Then the scope rests until sound returns.
    if (sound)
        silentFrames_ = 0;
    else if (silentFrames_ < kSilentStepsBeforeIdle)
        ++silentFrames_;
    else
        return;
    advanceGrid();
    setDirtyAll(korvo::DirtyLayer::rawLayerOnly);
}

void PhaseDisplay::advanceGrid() noexcept {
    if (_position.width() != gridW_ || _position.height() != gridH_)
        resizeGrid(_position.width(), _position.height());
    const bool bright = isBright();

    // 1. Scale from the batch's loudest usable point.
    float peak = kMinPeak;
    for (std::int32_t i = 0; i < pointCount_; ++i) {
        float length2;
        if (usable(points_[i], length2)) peak = std::max(peak, length2);
    }
    // Distances in base pixels, the grid at the drawing's scale.
    const float k = UIElement::scale();
    const float scale = kMargin / std::sqrt(peak) * kReach * k;
    const float centre = kCentre * k;

    // 2. Fade, once per step. A cell above 255 shows as 255, and fades from there.
    const std::int32_t decay = bright ? kDecayBright : kDecay;
    for (std::int32_t& v : grid_) v = std::max(0, std::min(v, 255) - decay);

    // 3. Splats between consecutive usable points.
    // A trace k times as long in pixels takes k times as many splats, so it stays as bright.
    const std::int32_t shift = bright ? kShiftBright : kShift;
    const int spread = k > 1.0f ? static_cast<int>(std::ceil(k)) : 1;
    for (std::int32_t i = 0; i + 1 < pointCount_; ++i) {
        const Pair p0 = points_[i], p1 = points_[i + 1];
        float unused;
        if (!usable(p0, unused) || !usable(p1, unused)) continue;
        if (spread == 1) {
            for (const float t : kSplatSteps)
                splat(p0.a * (1.0f - t) + p1.a * t, p0.b * (1.0f - t) + p1.b * t, scale, centre, shift);
            continue;
        }
        const int steps = 5 * spread;
        for (int j = 0; j < steps; ++j) {
            const float t = static_cast<float>(j) / static_cast<float>(steps);
            splat(p0.a * (1.0f - t) + p1.a * t, p0.b * (1.0f - t) + p1.b * t, scale, centre, shift);
        }
    }
}

// ---- Drawing -----------------------------------------------------------------------------------

void PhaseDisplay::splat(float x, float y, float scale, float centre, std::int32_t shift) noexcept {
    const float fxp = (x * scale + centre) * 16.0f;
    const float fyp = (y * scale + centre) * 16.0f;
    constexpr float kLimit = 1 << 30;  // keeps the conversion to int defined
    if (!(fxp > -kLimit && fxp < kLimit && fyp > -kLimit && fyp < kLimit)) return;
    const auto px = static_cast<std::int32_t>(fxp), py = static_cast<std::int32_t>(fyp);
    const std::int32_t c = px >> 4, r = py >> 4;
    if (c < 0 || r < 0 || c + 1 >= gridW_ || r + 1 >= gridH_) return;
    const std::int32_t fx = px & 15, fy = py & 15;
    std::int32_t* row0 = grid_.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(gridW_) + c;
    std::int32_t* row1 = row0 + gridW_;
    row0[0] += ((15 - fx) * (15 - fy)) >> shift;
    row0[1] += (fx * (15 - fy)) >> shift;
    row1[0] += ((15 - fx) * fy) >> shift;
    row1[1] += (fx * fy) >> shift;
}

void PhaseDisplay::onDrawRaw(ImageView<RGBA> rawMap, const korvo::Vec<IntRect>& dirtyRects) {
    // Drawing only shows the grid: however often the area is redrawn (a neighbour's change, a
    // partial rectangle), the trace is the same.
    // The grid as light on the raw layer. A cell brighter than 255 counts as 255, and light is
    // only ever added.
    for (const IntRect& rect : dirtyRects) {
        const IntRect r = rect.intersection(rawMap.bounds());
        for (std::int32_t y = r.min.y; y < r.max.y; ++y) {
            const std::int32_t gy = y + _drawOffset.y;
            if (gy < 0 || gy >= gridH_) continue;
            RGBA* row = rawMap.row(y);
            const std::int32_t* cells =
                grid_.data() + static_cast<std::size_t>(gy) * static_cast<std::size_t>(gridW_);
            for (std::int32_t x = r.min.x; x < r.max.x; ++x) {
                const std::int32_t gx = x + _drawOffset.x;
                if (gx < 0 || gx >= gridW_) continue;
                const std::int32_t v = std::min(cells[gx], 255);
                if (v == 0) continue;
                RGBA& p = row[x];
                p.r = static_cast<std::uint8_t>(std::max<std::int32_t>(p.r, std::min(p.r + v, 210)));
                p.g = static_cast<std::uint8_t>(std::max<std::int32_t>(p.g, std::min(p.g + v, 210)));
                p.b = static_cast<std::uint8_t>(std::min(p.b + v, 255));
            }
        }
    }
}

void PhaseDisplay::onDrawPBR(ImageView<RGBA> diffuseMap, ImageView<L16>, ImageView<RGBA>,
                             const korvo::Vec<IntRect>& dirtyRects) {
    const bool disabled = isDisabled();
    const RGBA color = disabled ? kIndicatorOff : kIndicatorOn;
    for (const IntRect& rect : dirtyRects) {
        const korvo::CroppedView<RGBA> target{diffuseMap, rect};
        const std::int32_t dx = -rect.min.x - _drawOffset.x, dy = -rect.min.y - _drawOffset.y;
        korvo::fillBox(target, korvo::scaleRect(kStateSquare, scale()).translated(dx, dy), color);
        if (isBright() && !disabled)
            korvo::fillBox(target, korvo::scaleRect(kBrightSquare, scale()).translated(dx, dy), color);
    }
}

// ---- Mouse -------------------------------------------------------------------------------------

bool PhaseDisplay::onMouseClick(std::int32_t, std::int32_t, korvo::MouseButton button, bool,
                                korvo::MouseState) {
    if (button == korvo::MouseButton::left) {
        brightMode_.store(!isBright(), std::memory_order_relaxed);
    } else if (button == korvo::MouseButton::right) {
        disabled_.store(!isDisabled(), std::memory_order_relaxed);
    } else {
        return true;
    }
    setDirtyAll(korvo::DirtyLayer::fromFlags);
    return true;
}

}  // namespace velmora
