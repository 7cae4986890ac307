#include "effect/dsp/stereogenerator.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "korvo/core/nogc.h"

namespace velmora {

namespace {
constexpr std::size_t kScratchAlignment = 16;
constexpr double kTwoPi = 6.283185307179586;
// Mutually non-harmonic tap spacing: no two taps line up into one strong comb.
constexpr float kTapRatios[StereoGenerator::kNumTaps] = {1.0f, 1.37f, 1.81f, 2.29f, 2.73f, 3.17f};
constexpr float kTapWeight = 0.40824829f;  // 1 / sqrt(6): the six taps keep the mid's power
constexpr double kBassCornerHz = 120.0;    // below this the generated side fades out: bass stays centred
}  // namespace

StereoGenerator::~StereoGenerator() {
    korvo::alignedRelease(scratch, kScratchAlignment);
}

float StereoGenerator::tapRatio(int i) noexcept {
    return kTapRatios[i];
}

void StereoGenerator::reset(float rate, float maxTapSeconds, std::int32_t maxFrames) noexcept {
    sampleRate = rate;
    maxFrames = std::max<std::int32_t>(maxFrames, 0);
    // The float product is held inside int32 before the conversion (absurd rates cannot wrap it).
    const float tapSamples = std::min(maxTapSeconds * rate * 6.0f + 1.5f, 1.0e9f);
    const std::int64_t length =
        static_cast<std::int64_t>(static_cast<std::int32_t>(std::max(tapSamples, 0.0f))) + maxFrames;
    history.resize(
        static_cast<std::int32_t>(std::min<std::int64_t>(length, std::numeric_limits<std::int32_t>::max())));
    highpassCoefficient = 1.0 - std::exp(-kTwoPi * kBassCornerHz / static_cast<double>(rate));
    maxTapMs = maxTapSeconds * 1000.0f;

    if (maxFrames != scratchSize) {
        korvo::alignedRelease(scratch, kScratchAlignment);
        scratch = nullptr;
        scratchSize = 0;
        if (maxFrames > 0) {
            scratch = static_cast<float*>(
                korvo::alignedAlloc(static_cast<std::size_t>(maxFrames) * sizeof(float), kScratchAlignment));
            scratchSize = maxFrames;
        }
    }
    restart();
}

void StereoGenerator::restart() noexcept {
    history.clear();
    for (korvo::ExpSmoother& tapSmoother : tapSmoothers) tapSmoother.initialise(3.0f, 0.05f, sampleRate);
    amountSmoother.initialise(0.0f, 0.03f, sampleRate);
    filterState[0] = filterState[1] = filterState[2] = 0.0;
    if (scratch != nullptr) std::fill(scratch, scratch + scratchSize, 0.0f);
    targetsDelayMs = lowpassStepHz = std::numeric_limits<float>::quiet_NaN();  // the rate may have changed
}

float StereoGenerator::tapTarget(int t, float delayMs) const noexcept {
    // Tap targets fall on whole samples, so a settled tap reads one stored sample instead of
    // interpolating (the glide stalls within a few hundredths of a sample of its target).
    const float samplesPerMs = sampleRate * 0.001f;
    return std::round(std::min(delayMs * kTapRatios[t], maxTapMs) * samplesPerMs) / samplesPerMs;
}

void StereoGenerator::settle(float amount, float delayMs) noexcept {
    for (int t = 0; t < kNumTaps; ++t) tapSmoothers[t].current = tapTarget(t, delayMs);
    amountSmoother.current = amount;
}

void StereoGenerator::processBlock(float* left, float* right, float amount, float delayMs, float lowpassHz,
                                   std::int32_t frames) noexcept {
    if (frames <= 0 || frames > scratchSize || history.isEmpty()) return;

    // The mid signal goes into the history whatever the amount, so the taps always read fresh sound.
    for (std::int32_t i = 0; i < frames; ++i) scratch[i] = (left[i] + right[i]) * 0.5f;
    history.feedBlock(scratch, frames);

    if (!(delayMs == targetsDelayMs)) {
        for (int t = 0; t < kNumTaps; ++t) targetsMs[t] = tapTarget(t, delayMs);
        targetsDelayMs = delayMs;
    }
    const float* targets = targetsMs;
    const float samplesPerMs = sampleRate * 0.001f;

    if (amount == 0.0f && amountSmoother.current == 0.0f) {
        // Nothing to add: only the delay glides advance, as they would while generating.
        for (int t = 0; t < kNumTaps; ++t)
            for (std::int32_t i = 0; i < frames && !tapSmoothers[t].isStalled(targets[t]); ++i)
                tapSmoothers[t].nextSample(targets[t]);
        filterState[0] = filterState[1] = filterState[2] =
            0.0;  // the next fade-in starts from a clean lowpass
        return;
    }

    // The side lowpass: two one-pole stages y = y + (x - y) * c, designed once per block.
    if (!(lowpassHz == lowpassStepHz)) {
        lowpassStep =
            1.0 - std::exp(-kTwoPi * static_cast<double>(lowpassHz) / static_cast<double>(sampleRate));
        lowpassStepHz = lowpassHz;
    }
    const double coefficient = lowpassStep;
    double stage1 = filterState[0];
    double stage2 = filterState[1];
    double bass = filterState[2];
    // The six delay glides advance side by side, frame by frame (independent, so they overlap); the
    // taps are then read four frames at a time and summed per frame in tap order. The mid signal in
    // scratch has gone into the history, so scratch holds the sums.
    float* sum = scratch;
    constexpr std::int32_t kChunk = 128;
    float delays[kNumTaps][kChunk];
    for (std::int32_t start = 0; start < frames; start += kChunk) {
        const std::int32_t m = std::min(kChunk, frames - start);
        // A settled glide gives its current value for every frame: no need to step it, and its tap
        // is read at the whole sample it stands on.
        bool settled[kNumTaps];
        std::int32_t wholeDelay[kNumTaps];
        for (int t = 0; t < kNumTaps; ++t) {
            settled[t] = tapSmoothers[t].isStalled(targets[t]);
            wholeDelay[t] =
                settled[t] ? static_cast<std::int32_t>(std::lround(tapSmoothers[t].current * samplesPerMs))
                           : 0;
        }
        bool anyGliding = false;
        for (int t = 0; t < kNumTaps; ++t) anyGliding |= !settled[t];
        for (std::int32_t i = 0; i < m; ++i) sum[start + i] = 0.0f;
        for (std::int32_t i = 0; i < m && anyGliding; ++i) {
            // Frame start + i lies (frames - 1 - start - i) samples before the newest history sample.
            const float back = static_cast<float>(frames - 1 - (start + i));
            for (int t = 0; t < kNumTaps; ++t)
                if (!settled[t]) delays[t][i] = tapSmoothers[t].nextSample(targets[t]) * samplesPerMs + back;
        }
        float sign = 1.0f;
        for (int t = 0; t < kNumTaps; ++t) {
            if (settled[t]) {
                history.addWholeRun(wholeDelay[t] + (frames - 1 - start), m, sign, sum + start);
                sign = -sign;
                continue;
            }
            std::int32_t i = 0;
            for (; i + 4 <= m; i += 4) {
                float taps[4];
                history.readCubic4(&delays[t][i], taps);
                for (std::int32_t k = 0; k < 4; ++k) sum[start + i + k] += sign * taps[k];
            }
            for (; i < m; ++i) sum[start + i] += sign * history.readCubic(delays[t][i]);
            sign = -sign;
        }
    }
    const bool amountSettled = amountSmoother.isStalled(amount);
    for (std::int32_t i = 0; i < frames; ++i) {
        const double tapSum = static_cast<double>(sum[i] * kTapWeight);
        bass += (tapSum - bass) * highpassCoefficient;
        stage1 += ((tapSum - bass) - stage1) * coefficient;
        stage2 += (stage1 - stage2) * coefficient;
        const float gain = amountSettled ? amountSmoother.current : amountSmoother.nextSample(amount);
        const float side = gain * static_cast<float>(stage2);
        left[i] += side;
        right[i] -= side;
    }
    filterState[0] = stage1;
    filterState[1] = stage2;
    filterState[2] = bass;
}

}  // namespace velmora
