#include "effect/dsp/lfo.h"

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace velmora {

namespace {
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
constexpr std::int64_t kNoCycle = std::numeric_limits<std::int64_t>::min();
constexpr double kMaxCycles = 1e15;
constexpr double kDefaultTempo = 120.0;  // beats per minute when the host gives none
constexpr double kEdgeSeconds = 0.01;    // softened jumps of square and saw
constexpr double kMaxEdgeCycles = 0.1;
constexpr double kRandomGlideSeconds = 0.05;  // random's move to its new value
constexpr double kMaxRandomGlideCycles = 0.5;

// "LFO Tempo": "128/4" .. "1/4" count quarter notes, "3/16" and "2/16" sixteenth notes.
constexpr double kQuarters[12] = {128.0, 64.0, 32.0, 16.0, 12.0, 8.0, 4.0, 3.0, 2.0, 1.0, 0.75, 0.5};

std::int32_t floorMod(std::int64_t value, std::int32_t divisor) noexcept {
    const std::int64_t r = value % divisor;
    return static_cast<std::int32_t>(r < 0 ? r + divisor : r);
}

// Raised-cosine move from 0 to 1 over t = 0..1.
double smoothStep(double t) noexcept {
    return 0.5 - 0.5 * std::cos(kPi * t);
}

}  // namespace

void LFO::reset(float rate, std::uint32_t seed) noexcept {
    phaseIncrementPerHz = static_cast<float>(kTwoPi / static_cast<double>(rate));
    phase = 0.0f;
    heldState = 0;
    randomState = seed;
    sampleRate = rate > 0.0f ? static_cast<double>(rate) : 44100.0;
    cycleCount = 0;
    drawnCycle = kNoCycle;
    position = 0;
    expectedPosition = 0;
    rateHz = 0.0;
    playing = false;
    fresh = true;
    cellFrames = 0;
    cellDone = 0;
    rampFrom = rampTo = 0.0f;
    rampFromLater.pending = rampToLater.pending = false;
    gainDepth.initialise(0.0f, 0.02f, rate);
}

double LFO::quartersPerCycle(std::int32_t tempoIndex) noexcept {
    return kQuarters[std::clamp<std::int32_t>(tempoIndex, 0, 11)];
}

void LFO::beginBlock(const LFOSettings& settings, const korvo::HostTiming& timing,
                     std::int32_t frames) noexcept {
    double tempo = timing.tempo;
    if (!(tempo > 0.0) || !std::isfinite(tempo)) tempo = kDefaultTempo;
    tempo = std::clamp(tempo, 1.0, 1000.0);
    rateHz = settings.synced ? tempo / (60.0 * quartersPerCycle(settings.tempoIndex))
                             : static_cast<double>(settings.freqHz);
    if (!(rateHz >= 0.0) || !std::isfinite(rateHz)) rateHz = 0.0;

    // Synced with a playing host: the position is the clock. A start or a jump relocks the phase.
    const bool nowPlaying = settings.synced && timing.hostIsPlaying;
    if (nowPlaying) {
        if (!playing || timing.timeInSamples != expectedPosition) fresh = true;
        position = timing.timeInSamples;
        expectedPosition = static_cast<std::int64_t>(static_cast<std::uint64_t>(position) +
                                                     static_cast<std::uint64_t>(std::max(frames, 0)));
    }
    playing = nowPlaying;
}

void LFO::enterCell(const LFOSettings& settings, bool valuesLater) noexcept {
    const auto value = [&](float& into, Deferred& later) {
        if (valuesLater) {
            valueHereOrLater(settings, into, later);
        } else {
            into = valueHere(settings);
            later.pending = false;
        }
    };
    std::int32_t length = kCellFrames;
    if (fresh) {
        // Start from the oscillator's value right here; a playing host also aligns the cell grid
        // to multiples of kCellFrames of its position.
        if (playing) {
            length = kCellFrames - floorMod(position, kCellFrames);
            advance(0);
        }
        value(rampFrom, rampFromLater);
        fresh = false;
    } else {
        rampFrom = rampTo;
        rampFromLater = rampToLater;
    }
    advance(length);
    value(rampTo, rampToLater);
    cellFrames = length;
    cellDone = 0;
}

std::int32_t LFO::walk(std::int32_t framesLeft) noexcept {
    const std::int32_t frames = std::min(std::max(framesLeft, 0), cellFrames - cellDone);
    cellDone += frames;
    if (playing)  // wraps instead of overflowing, as the host's position does
        position = static_cast<std::int64_t>(static_cast<std::uint64_t>(position) +
                                             static_cast<std::uint64_t>(frames));
    return frames;
}

LFOSegment LFO::nextSegment(const LFOSettings& settings, std::int32_t framesLeft) noexcept {
    if (fresh || cellDone >= cellFrames) enterCell(settings, false);
    resolve(rampFrom, rampFromLater);
    resolve(rampTo, rampToLater);
    LFOSegment segment;
    segment.value = rampTo;
    segment.rampStart = rampFrom;
    segment.rampStep = (rampTo - rampFrom) / static_cast<float>(cellFrames);
    segment.rampDone = cellDone;
    segment.frames = walk(framesLeft);
    return segment;
}

void LFO::skip(const LFOSettings& settings, std::int32_t frames) noexcept {
    // nextSegment's walk through the cells, with the values left for later where they can be (5 % of
    // the chain's time at default settings, where no block is modulated).
    for (std::int32_t done = 0; done < frames;) {
        if (fresh || cellDone >= cellFrames) enterCell(settings, true);
        done += walk(frames - done);
    }
}

void LFO::valueHereOrLater(const LFOSettings& settings, float& value, Deferred& later) noexcept {
    if (settings.wave == LFOWave::sine || settings.wave == LFOWave::triangle) {
        later = {true, settings.wave, cycleCount, phase, settings.phaseDegrees};
    } else {
        value = valueHere(settings);
        later.pending = false;
    }
}

void LFO::resolve(float& value, Deferred& later) noexcept {
    if (!later.pending) return;
    // Sine and triangle use neither the edge nor the random values.
    value = shape(later.wave, cyclePosition(later.cycleCount, later.phase, later.phaseDegrees).fraction, 0.0,
                  0.0, 0.0f, 0.0f);
    later.pending = false;
}

LFO::CyclePosition LFO::cyclePosition(std::int64_t cycles, float phaseNow, float phaseDegrees) noexcept {
    const double total = static_cast<double>(cycles) + static_cast<double>(phaseNow) / kTwoPi +
                         static_cast<double>(phaseDegrees) / 360.0;
    const double whole = std::floor(total);
    return {whole, total - whole};
}

float LFO::applyTremolo(const LFOSegment& segment, float depthTarget, float* left, float* right) noexcept {
    float g = 1.0f;
    const bool depthSettled = gainDepth.isStalled(depthTarget);
    std::int32_t i = 0;
    if (depthSettled) {
        // A settled depth: four frames at a time, each lane with the scalar operations in order
        // (3.5 % of the chain's time with the tremolo on).
        const float d = gainDepth.current;
        const __m128 depth = _mm_set1_ps(d), magnitude = _mm_set1_ps(std::fabs(d));
        const __m128 one = _mm_set1_ps(1.0f), half = _mm_set1_ps(0.5f);
        const __m128 rampStart = _mm_set1_ps(segment.rampStart), rampStep = _mm_set1_ps(segment.rampStep);
        for (; i + 4 <= segment.frames; i += 4) {
            const std::int32_t step = segment.rampDone + i + 1;
            const __m128 ramp = _mm_add_ps(
                rampStart,
                _mm_mul_ps(rampStep, _mm_cvtepi32_ps(_mm_setr_epi32(step, step + 1, step + 2, step + 3))));
            const __m128 gains =
                _mm_sub_ps(one, _mm_mul_ps(half, _mm_sub_ps(magnitude, _mm_mul_ps(depth, ramp))));
            _mm_storeu_ps(left + i, _mm_mul_ps(_mm_loadu_ps(left + i), gains));
            _mm_storeu_ps(right + i, _mm_mul_ps(_mm_loadu_ps(right + i), gains));
            g = _mm_cvtss_f32(_mm_shuffle_ps(gains, gains, 3));
        }
    }
    // The depth glide in a local, so the sample stores cannot be taken to touch it (it stays in a
    // register from frame to frame).
    korvo::ExpSmoother depth = gainDepth;
    for (; i < segment.frames; ++i) {
        const float d = depthSettled ? depth.current : depth.nextSample(depthTarget);
        g = 1.0f - 0.5f * (std::fabs(d) - d * segment.rampAt(i));
        left[i] *= g;
        right[i] *= g;
    }
    gainDepth = depth;
    return g;
}

void LFO::advance(std::int32_t frames) noexcept {
    if (playing) {
        // The phase at `frames` after the current host position.
        double cycles = (static_cast<double>(position) + frames) * rateHz / sampleRate;
        // Absurd host positions: keep the cycle count far inside the integer range.
        if (!std::isfinite(cycles)) cycles = 0.0;
        if (std::fabs(cycles) > kMaxCycles) cycles = std::fmod(cycles, kMaxCycles);
        const double whole = std::floor(cycles);
        cycleCount = static_cast<std::int64_t>(whole);
        phase = static_cast<float>((cycles - whole) * kTwoPi);
    } else {
        phase += static_cast<float>(static_cast<double>(phaseIncrementPerHz) * rateHz * frames);
    }
    while (phase >= static_cast<float>(kTwoPi)) {
        phase -= static_cast<float>(kTwoPi);
        ++cycleCount;
    }
    if (phase < 0.0f) phase = 0.0f;
}

float LFO::valueHere(const LFOSettings& settings) noexcept {
    const CyclePosition at = cyclePosition(cycleCount, phase, settings.phaseDegrees);
    const double whole = at.whole;
    const double f = at.fraction;
    auto previous = std::bit_cast<float>(static_cast<std::uint32_t>(heldState >> 32));
    auto current = std::bit_cast<float>(static_cast<std::uint32_t>(heldState));
    if (settings.wave == LFOWave::random) {
        const auto cycle = static_cast<std::int64_t>(whole);
        if (cycle != drawnCycle) {
            // xorshift32; a zero state would stay zero, so it is replaced by a fixed odd value.
            std::uint32_t x = randomState != 0 ? randomState : 0x9E3779B9u;
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            randomState = x;
            previous = current;
            current = static_cast<float>(x >> 8) * (2.0f / 16777216.0f) - 1.0f;
            heldState = (static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(previous)) << 32) |
                        std::bit_cast<std::uint32_t>(current);
            drawnCycle = cycle;
        }
    }
    const double edge = std::min(kMaxEdgeCycles, kEdgeSeconds * rateHz);
    const double glide = std::min(kMaxRandomGlideCycles, kRandomGlideSeconds * rateHz);
    return shape(settings.wave, f, edge, glide, previous, current);
}

float LFO::shape(LFOWave wave, double f, double edge, double glide, float previous, float current) noexcept {
    switch (wave) {
        case LFOWave::sine:
            return static_cast<float>(std::sin(kTwoPi * f));
        case LFOWave::triangle:
            if (f < 0.25) return static_cast<float>(4.0 * f);
            if (f < 0.75) return static_cast<float>(2.0 - 4.0 * f);
            return static_cast<float>(4.0 * f - 4.0);
        case LFOWave::square:
            if (f < edge) return static_cast<float>(2.0 * smoothStep(f / edge) - 1.0);
            if (f < 0.5) return 1.0f;
            if (f < 0.5 + edge) return static_cast<float>(1.0 - 2.0 * smoothStep((f - 0.5) / edge));
            return -1.0f;
        case LFOWave::saw: {
            // Rises through 0 at the cycle's start; the fall back sits just before mid-cycle.
            const double g = f < 0.5 ? f + 0.5 : f - 0.5;
            if (g < 1.0 - edge) return static_cast<float>(-1.0 + 2.0 * g / (1.0 - edge));
            return static_cast<float>(1.0 - 2.0 * smoothStep((g - (1.0 - edge)) / edge));
        }
        case LFOWave::random:
            if (f < glide)
                return static_cast<float>(static_cast<double>(previous) +
                                          static_cast<double>(current - previous) * smoothStep(f / glide));
            return current;
    }
    return 0.0f;
}

void LFO::skipPlain(const LFOSettings& settings, std::int32_t frames) noexcept {
    for (std::int32_t done = 0; done < frames;) done += nextSegment(settings, frames - done).frames;
}

float LFO::applyTremoloPlain(const LFOSegment& segment, float depthTarget, float* left,
                             float* right) noexcept {
    float g = 1.0f;
    for (std::int32_t i = 0; i < segment.frames; ++i) {
        const float d = gainDepth.nextSample(depthTarget);
        g = 1.0f - 0.5f * (std::fabs(d) - d * segment.rampAt(i));
        left[i] *= g;
        right[i] *= g;
    }
    return g;
}

}  // namespace velmora
