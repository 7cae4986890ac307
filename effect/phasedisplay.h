#pragma once
// PhaseDisplay: the editor's phase scope (goniometer) of the effect's output.
//
// Each stereo sample becomes a point: horizontally the side signal L - R, vertically the mid
// signal L + R (positive mid downward; a mono signal is a vertical line through the centre
// (69, 69)). The points go into a persistent intensity grid of the element's size that fades a
// little at every animation step that reads a batch, and drawing adds the grid as light onto the
// raw layer (drawing changes nothing: a redraw for any other reason shows the same trace). Each
// batch is scaled by its own peak, so the loudest point of a batch lands 58.5 pixels from the
// centre; between consecutive points five sub-pixel splats keep the trace continuous. At a scale
// s of the editor the grid has the element's device size, the distances are s times as many
// pixels and the splats 5 x ceil(s).
//
// The audio thread hands over the final output samples of every block (sendPhaseSamples) through
// a TimedFIFO of 16384 pairs that stores one pair in four and releases them at the pace of real
// time. The feed never allocates and needs no scratch: it reads the pairs the FIFO keeps straight
// from the two channel arrays, whatever the block's length.
//
// A left click switches the bright mode (faster fading, brighter splats); a right click switches
// the scope off and on. Two indicator squares in the PBR layer show the state. Every step with
// sound redraws; after it, 20 more steps without sound (without data, or while switched off)
// still redraw, and then the scope stops asking for redraws: an idle scope costs nothing, and
// every trace has faded to black by then (a cell fades from 255 at most, and 20 x 13 > 255).
//
// Samples that are not finite, or so large that their squares overflow, are left out of the
// batch (they neither set the scale nor are drawn), and every splat is checked against the grid,
// so no input draws outside it.
//
// Threads: sendPhaseSamples is [audio-thread] (an atomic load of `disabled`, its own scratch, a
// try-lock on the FIFO); `disabled` and `brightMode` are atomic. Everything else is
// [main-thread] (drawing may run on the renderer's pool during a frame).

#include <atomic>
#include <cstdint>

#include "korvo/core/ringbuf.h"
#include "korvo/core/vec.h"
#include "korvo/gui/element.h"

namespace velmora {

class PhaseDisplay : public korvo::UIElement {
public:
    struct Pair {
        float a = 0.0f;  // left as fed; side (L - R) once converted
        float b = 0.0f;  // right as fed; mid (L + R) once converted
    };
    static_assert(sizeof(Pair) == 8);

    static constexpr std::int32_t kFifoSize = 16384;
    static constexpr std::int32_t kFifoResolution = 4;  // one pair in four is stored
    static constexpr std::int32_t kMaxPoints = 256;     // pairs read per animation step
    static constexpr std::int32_t kSilentStepsBeforeIdle = 20;
    // The most the scope trails the audio: after a pause in the ticks (the window closed, the
    // editor's thread held up) it goes on with what plays now.
    static constexpr double kMaxLagSeconds = 0.05;
    // The editor's box for the scope; the grid follows the element's actual size.
    static constexpr std::int32_t kDefaultWidth = 139;
    static constexpr std::int32_t kDefaultHeight = 134;

    // The grid is cleared; the feed's scratch is allocated here. [main-thread]
    explicit PhaseDisplay(korvo::UIContext* context);
    ~PhaseDisplay() override;

    // The feed: the final output channels of one block (any length). Ignored while the scope is
    // switched off. Null channels or frames <= 0 only store the rate. [audio-thread]
    virtual void sendPhaseSamples(const float* left, const float* right, std::int32_t frames,
                                  float sampleRate) noexcept;

    // ---- UIElement -------------------------------------------------------------------------------
    // Left: bright mode on/off; right: scope off/on. Always taken.
    bool onMouseClick(std::int32_t x, std::int32_t y, korvo::MouseButton button, bool isDoubleClick,
                      korvo::MouseState mouseState) override;
    void onDrawRaw(korvo::ImageView<korvo::RGBA> rawMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;
    void onAnimate(double dt, double time) override;

    // ---- Inspection --------------------------------------------------------------------------------
    bool isDisabled() const noexcept { return disabled_.load(std::memory_order_relaxed); }
    bool isBright() const noexcept { return brightMode_.load(std::memory_order_relaxed); }
    std::int32_t pointCount() const noexcept { return pointCount_; }
    const Pair* points() const noexcept { return points_; }
    std::int32_t silentSteps() const noexcept { return silentFrames_; }
    std::int32_t gridWidth() const noexcept { return gridW_; }
    std::int32_t gridHeight() const noexcept { return gridH_; }
    // Intensity of cell (x, y) (unchecked).
    std::int32_t cell(std::int32_t x, std::int32_t y) const noexcept {
        return grid_[static_cast<std::size_t>(y * gridW_ + x)];
    }
    korvo::TimedFIFO<Pair>& sampleFifo() noexcept { return sampleFifo_; }

private:
    void resizeGrid(std::int32_t w, std::int32_t h);
    void splat(float x, float y, float scale, float centre, std::int32_t shift) noexcept;
    // One step of the trace: fade the grid, then splat the batch just read.
    void advanceGrid() noexcept;

    std::atomic<bool> disabled_{false};
    std::atomic<bool> brightMode_{false};
    korvo::TimedFIFO<Pair> sampleFifo_;
    std::int32_t pointCount_ = 0;
    Pair points_[kMaxPoints];
    std::int32_t silentFrames_ = 0;
    korvo::Vec<std::int32_t> grid_;
    std::int32_t gridW_ = 0;
    std::int32_t gridH_ = 0;
};

}  // namespace velmora
