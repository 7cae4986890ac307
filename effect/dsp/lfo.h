#pragma once
// LFO: the low-frequency oscillator that moves the source (pan, distance, gain and tilt by four
// signed depths; the routing is the effect client's).
//
// Shapes, all in -1..+1 and starting upward from the cycle's start like a sine: "sine", "tri",
// "square" (+1 for the first half), "saw" (rising through 0 at the start, falling back at
// mid-cycle) and "random" (a new value per cycle drawn from randomState). The jumps of square and
// saw are raised-cosine edges of 10 ms (at most a tenth of the cycle) and random glides to its new
// value over 50 ms (at most half the cycle), so even a full-depth tremolo does not click.
// "LFO Phase" shifts the cycle (+90 degrees starts a sine at its top).
//
// Rate: "LFO Freq" when not synced. Synced, the cycle lasts n quarter notes for "n/4" and n sixteenth
// notes for "n/16" at the host tempo (120 BPM when the host gives none or an unusable one). While the
// host plays, the oscillator is a function of the host position (cycles = position / cycle length),
// so a bounce matches real-time playback and a jump in the song lands on the right phase; while the
// host is stopped it runs freely at the host tempo from where it was.
//
// Evaluation: the oscillator is evaluated once per cell of kCellFrames frames, at the cell's end; in
// between its value is a straight ramp from the previous cell's value. While the host plays, the cells
// lie on a grid of the host position (multiples of kCellFrames); otherwise they continue the grid
// counted since the last reset or play. The result therefore does not depend on how the host cuts its
// blocks. The owner walks a block with beginBlock and nextSegment; each segment lies inside one cell.
//
// Embedded in the effect client, used from its audio path only. No allocation; one sine or cosine per
// cell at most.

#include <cstdint>

#include "korvo/client/client.h"
#include "korvo/dsp/smooth.h"

namespace velmora {

enum class LFOWave : std::int32_t { sine = 0, triangle = 1, square = 2, saw = 3, random = 4 };

// The oscillator's controls, read by the owner once per block.
struct LFOSettings {
    LFOWave wave = LFOWave::sine;
    bool synced = true;
    std::int32_t tempoIndex = 5;  // index into "LFO Tempo": "128/4" .. "2/16"
    float phaseDegrees = 0.0f;    // -180..180
    float freqHz = 1.0f;          // 0.05..10, used when not synced
};

// A run of frames inside one evaluation cell.
struct LFOSegment {
    std::int32_t frames = 0;
    float value = 0.0f;      // the oscillator at the end of the cell: the segment's modulation value
    float rampStart = 0.0f;  // the ramp toward value, for per-frame use (gain)
    float rampStep = 0.0f;
    std::int32_t rampDone = 0;  // frames of the ramp before this segment

    // The ramp at frame k of the segment (k = frames - 1 ends on `value` when the cell ends). [any-thread]
    float rampAt(std::int32_t k) const noexcept {
        return rampStart + rampStep * static_cast<float>(rampDone + k + 1);
    }
};

struct LFO {
    static constexpr std::int32_t kCellFrames = 64;

    float phaseIncrementPerHz = 0.0f;  // radians per sample at a 1 Hz rate: 2 pi / sampleRate
    float phase = 0.0f;                // radians, 0..2 pi, at the end of the current cell
    std::uint64_t heldState = 0;       // random values: previous (high 32 bits) and current, as float bits
    std::uint32_t randomState = 0;     // random generator state

    // Further oscillator memory.
    double sampleRate = 44100.0;
    std::int64_t cycleCount = 0;        // whole cycles behind `phase`
    std::int64_t drawnCycle = 0;        // cycle whose random value is held (kNoCycle: none yet)
    std::int64_t position = 0;          // host position of the next frame while the host plays
    std::int64_t expectedPosition = 0;  // where the host should continue if it plays on
    double rateHz = 0.0;                // cycles per second for the current block
    bool playing = false;
    bool fresh = true;            // the next cell starts from the current value, not the last ramp
    std::int32_t cellFrames = 0;  // length of the current cell
    std::int32_t cellDone = 0;    // frames of the current cell already handed out
    float rampFrom = 0.0f, rampTo = 0.0f;
    // A ramp end left to be worked out later: where the oscillator stood (whole cycles, phase and
    // phase offset) when the value was due.
    struct Deferred {
        bool pending = false;
        LFOWave wave = LFOWave::sine;
        std::int64_t cycleCount = 0;
        float phase = 0.0f;
        float phaseDegrees = 0.0f;
    };
    Deferred rampFromLater, rampToLater;
    korvo::ExpSmoother gainDepth;  // glided tremolo depth ("LFO > Gain" x wet, -1..1, 20 ms): no clicks

    // Restarts the phase at 0 and reseeds the random generator with `seed` (the owner passes the same
    // per-instance value every time, so an instance repeats its random sequence after each reset).
    // [audio-thread, reset only]
    void reset(float sampleRate, std::uint32_t seed) noexcept;

    // Starts a block of `frames` frames: takes the rate and the host position. [audio-thread]
    void beginBlock(const LFOSettings& settings, const korvo::HostTiming& timing,
                    std::int32_t frames) noexcept;

    // The next segment of at most framesLeft (> 0) frames; the segments of a block follow each other.
    // [audio-thread]
    LFOSegment nextSegment(const LFOSettings& settings, std::int32_t framesLeft) noexcept;

    // What nextSegment called over `frames` frames would do to the oscillator, for blocks that use
    // no modulation value: the phase, the cells and the random sequence move on alike, but the
    // values of shapes that draw nothing (sine, triangle) are worked out only when a segment asks
    // for them. [audio-thread]
    void skip(const LFOSettings& settings, std::int32_t frames) noexcept;

    // The tremolo over one segment: each frame of left and right is scaled by
    // 1 - (|d| - d r) / 2, with r the segment's ramp at that frame and d the depth gliding toward
    // depthTarget in gainDepth (-1..1), so the gain lies in [1 - |d|, 1]. Returns the last frame's
    // gain. [audio-thread]
    float applyTremolo(const LFOSegment& segment, float depthTarget, float* left, float* right) noexcept;

    // The plain forms: skip as nextSegment called over the frames, applyTremolo one frame at a time
    // with its glide stepped per frame. The fast forms give their bits; only the tests that hold
    // them to it run these. [audio-thread]
    void skipPlain(const LFOSettings& settings, std::int32_t frames) noexcept;
    float applyTremoloPlain(const LFOSegment& segment, float depthTarget, float* left, float* right) noexcept;

    // Length of one synced cycle in quarter notes for a "LFO Tempo" index (0.5 .. 128). [any-thread]
    static double quartersPerCycle(std::int32_t tempoIndex) noexcept;

    // The shape at cycle position f (0..1). edge: softened edge of square and saw, glide: random's
    // transition, both in cycles; previous and current: random's values. [any-thread]
    static float shape(LFOWave wave, double f, double edge, double glide, float previous,
                       float current) noexcept;

private:
    float valueHere(const LFOSettings& settings) noexcept;
    // The value now (drawing random values as valueHere does), or for sine and triangle a note of
    // where the oscillator stands, to be worked out by `resolve`.
    void valueHereOrLater(const LFOSettings& settings, float& value, Deferred& later) noexcept;
    static void resolve(float& value, Deferred& later) noexcept;
    // Starts the next cell: its ramp from the end of the last (or from here when fresh) to the
    // oscillator's value at the cell's end, worked out now or, with valuesLater, where it can be,
    // later.
    void enterCell(const LFOSettings& settings, bool valuesLater) noexcept;
    // Hands out up to framesLeft frames of the current cell; returns how many.
    std::int32_t walk(std::int32_t framesLeft) noexcept;
    // The oscillator at cycleCount + phase, shifted by phaseDegrees: its whole cycles and its
    // position within the cycle (0..1).
    struct CyclePosition {
        double whole, fraction;
    };
    static CyclePosition cyclePosition(std::int64_t cycleCount, float phase, float phaseDegrees) noexcept;
    void advance(std::int32_t frames) noexcept;
};

}  // namespace velmora
