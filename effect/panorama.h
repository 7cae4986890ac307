#pragma once
// PanoramaDisplay: the editor's half-disc map of the sound source.
//
// The listener sits at L = (w / 2, h - 18), the middle of the bottom edge; the source is drawn at
// the angle "Pan" gives (0 straight up, +90 degrees to the right) and at the radius "Distance"
// gives (+6 on the listener, -24 on the rim at zoom x1). The user drags the source to set both
// parameters at once, resets them with a double click (Alt-click also resets the zoom), and
// zooms the distance scale with the wheel (x1 to x4; x2 at first). Beside the parameters'
// position it shows, fainter, the position the audio thread actually applies (after "Dry / Wet"
// and the LFO), with the tremolo gain as the size of that dot; the audio thread sends it through
// a TimedFIFO of 16 states, each standing for 512 samples of display time.
//
// Geometry (element coordinates, w and h the element's size): usable radius
// Rmax = max(0, min(w / 2, h - 14)) - 28, 91 pixels in the editor's 238 x 141 box. A click is
// taken within Rmax + 30 of L and not below the element.
//
// Layers: a depth dome rising from the rim to L in the PBR layers (diffuse and material are left
// to the background); every mark in the raw layer (zero-distance disc, lines, halos, dots, the
// output-level ring, the hover preview, the zoom label).
//
// Threads
// - sendPanoramaState: [audio-thread], never waits (an atomic store and a try-lock on the FIFO;
//   a busy lock drops that state and the display keeps the previous one).
// - onParameterChanged may run on any thread, the audio thread included (host automation). Seen
//   while the editor's thread dispatches an input event (the user's own edit) it redraws the
//   marks at once; otherwise it only sets an atomic flag and the next animation tick does
//   (requestRefresh).
//
// Redrawing: the marks draw what they show from a copy of their inputs (Shown), taken on the
// editor's thread whenever one of them changes; the area redrawn is where the moving marks were
// and where they go (the whole display when the zoom changes), so dragging the source redraws a
// few boxes, not the display.
// - zoomIndex and zoomFactor are atomic because the renderer may draw on its pool threads.
// - Everything else: [main-thread] (the editor's thread; drawing on its pool during a frame).
//
// Ownership: the parameters are the client's and must outlive the display; the display registers
// as their listener at construction and unregisters at destruction.

#include <atomic>
#include <cstdint>

#include "korvo/client/params.h"
#include "korvo/core/ringbuf.h"
#include "korvo/gui/element.h"

namespace velmora {

class PanoramaDisplay : public korvo::UIElement, public korvo::IParameterListener {
public:
    // One state from the audio thread: pan (-1..1), distance, tilt (dB) and the tremolo gain.
    struct State {
        float pan = 0.0f;
        float distance = 0.0f;
        float tilt = 0.0f;
        float gain = 1.0f;
    };
    static_assert(sizeof(State) == 16);

    struct Point {
        float x = 0.0f;
        float y = 0.0f;
    };
    struct PanDistance {
        float panDegrees = 0.0f;
        float distance = 0.0f;
    };

    static constexpr std::int32_t kFifoSize = 16;
    static constexpr float kSamplesPerState = 512.0f;  // display time of one state
    static constexpr float kClickMargin = 30.0f;       // pixels beyond Rmax still taken
    // The most the audio marks trail the audio (after a pause in the ticks).
    static constexpr double kMaxLagSeconds = 0.05;

    // Binds "Pan", "Distance", "Tilt" and "Output Level" (not owned) and listens to them; zoom x2.
    // [main-thread]
    PanoramaDisplay(korvo::UIContext* context, korvo::FloatParameter* pan, korvo::FloatParameter* distance,
                    korvo::FloatParameter* tilt, korvo::FloatParameter* outputLevel);
    ~PanoramaDisplay() override;
    // The panorama is the pan control (its dot's distance follows the distance slider).
    korvo::Parameter* editedParameterAt(std::int32_t, std::int32_t) const noexcept override {
        return paramPan_;
    }

    // ---- Operations of the display, in slot order -----------------------------------------------
    // The feed: one state per audio block, counted as 512 samples at sampleRate. [audio-thread]
    virtual void sendPanoramaState(float sampleRate, float gain, float tilt, float distance,
                                   float pan) noexcept;
    // Where (pan -1..1, distance) is drawn at the current zoom. Distance 6 (or more) gives L; the
    // radius reaches Rmax (the rim) and goes no farther. [any-thread]
    virtual Point pointFromPanDistance(float distance, float pan) const noexcept;
    // The inverse: pan in degrees clamped to -90..90, distance unclamped (the parameter clamps).
    // At L itself, or when the element is too small to have a radius, the angle is undefined and
    // the pan parameter's current value is returned. [any-thread]
    virtual PanDistance panDistanceFromPoint(float x, float y) const noexcept;
    // The marks' colour: bluish for positive tilt, yellowish for negative (clamped to +-12 dB).
    virtual korvo::RGBA colorFromTilt(float tilt) const noexcept;
    // False below the element (y > h); otherwise whether (x, y) lies closer than Rmax + margin to L.
    virtual bool isNearPanorama(float x, float y, float margin) const noexcept;
    // Sets pan, then distance, from the editor (each clamped by its parameter). [main-thread]
    virtual void setParamsFromPoint(float x, float y) noexcept;

    // ---- IParameterListener ------------------------------------------------------------------------
    // Redraws the marks now on the editor's input thread, else at the next tick (requestRefresh).
    // [any-thread, audio included]
    void onParameterChanged(korvo::Parameter& parameter) noexcept override;
    void onBeginParameterEdit(korvo::Parameter&) noexcept override {}
    void onEndParameterEdit(korvo::Parameter&) noexcept override {}

    // ---- UIElement -------------------------------------------------------------------------------
    bool onMouseClick(std::int32_t x, std::int32_t y, korvo::MouseButton button, bool isDoubleClick,
                      korvo::MouseState mouseState) override;
    bool onMouseWheel(std::int32_t x, std::int32_t y, std::int32_t wheelDeltaX, std::int32_t wheelDeltaY,
                      korvo::MouseState mouseState) override;
    void onMouseMove(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     korvo::MouseState mouseState) override;
    void onBeginDrag() override;
    void onMouseDrag(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy,
                     korvo::MouseState mouseState) override;
    void onStopDrag() override;
    void onMouseExit() override;
    void onDrawRaw(korvo::ImageView<korvo::RGBA> rawMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;
    void onDrawPBR(korvo::ImageView<korvo::RGBA> diffuseMap, korvo::ImageView<korvo::L16> depthMap,
                   korvo::ImageView<korvo::RGBA> materialMap,
                   const korvo::Vec<korvo::IntRect>& dirtyRects) override;
    void onAnimate(double dt, double time) override;
    void refreshShown() override { refreshMarks(); }

    // ---- Inspection --------------------------------------------------------------------------------
    std::int32_t zoomIndex() const noexcept { return zoomIndex_.load(std::memory_order_relaxed); }
    float zoomFactor() const noexcept { return zoomFactor_.load(std::memory_order_relaxed); }
    // Rmax for the current size (pixels; 0 when the element is too small).
    float usableRadius() const noexcept;
    Point listenerPoint() const noexcept;
    // The newest state read from the audio thread (gain 1 and zeros before the first).
    State lastState() const noexcept { return lastState_; }
    korvo::TimedFIFO<State>& stateFifo() noexcept { return stateFifo_; }

private:
    // What the marks show: the parameters, the newest audio state, the zoom and the hover preview
    // (its pan and distance, when shown).
    struct Shown {
        float pan = 0.0f, distance = 0.0f, tilt = 0.0f, outputLevel = 0.0f;
        State audio;
        std::int32_t zoom = 1;
        std::uint32_t hover = 0;  // 1: the preview shows; a word, so the struct has no padding
        PanDistance hovered;
    };
    static_assert(sizeof(Shown) == 12 * sizeof(float));
    Shown current() const noexcept;
    // Takes the current inputs; where they differ from the shown ones, marks the moving marks'
    // boxes before and after (all of the display when the zoom changed). [main-thread]
    void refreshMarks() noexcept;
    void markMovingMarks(const Shown& shown) noexcept;
    Point pointAt(float distance, float pan, std::int32_t zoom) const noexcept;
    void setZoomIndex(std::int32_t index) noexcept;
    float width() const noexcept { return static_cast<float>(_position.width()); }
    float height() const noexcept { return static_cast<float>(_position.height()); }
    void drawMarks(korvo::ImageView<korvo::RGBA> piece, std::int32_t ox, std::int32_t oy) const noexcept;

    korvo::FloatParameter* paramPan_;
    korvo::FloatParameter* paramDistance_;
    korvo::FloatParameter* paramTilt_;
    korvo::FloatParameter* paramOutputLevel_;
    std::atomic<std::int32_t> zoomIndex_{1};
    std::atomic<float> zoomFactor_{2.0f};
    korvo::TimedFIFO<State> stateFifo_;
    State lastState_;
    Shown shown_;
    bool pointerOver_ = false;  // between onMouseMove and onMouseExit
    std::int32_t mouseX_ = 0;
    std::int32_t mouseY_ = 0;
};

}  // namespace velmora
