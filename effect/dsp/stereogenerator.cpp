#include "effect/dsp/stereogenerator.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "effect/dsp/rest.h"
#include "korvo/core/nogc.h"

namespace velmora {

namespace {
constexpr std::size_t kScratchAlignment = 16;
constexpr double kTwoPi = 6.283185307179586;
// Mutually non-harmonic tap spacing: no two taps line up into one strong comb.
constexpr float kTapRatios[StereoGenerator::kNumTaps] = {1.0f, 1.37f, 1.81f, 2.29f, 2.73f, 3.17f};
constexpr float kTapWeight = 0.40824829f;  // 1 / sqrt(6): the six taps keep the mid's power
constexpr double kBassCornerHz = 120.0;    // below this the generated side fades out: bass stays centred

// The weighted tap sums of frames i .. i + 3 from six straight runs (alternating signs, in tap
// order, in float), widened to doubles into out[0..4). Adding -1 x is subtracting x, and the sum
// starts from +0 as the scalar sum does.
[[gnu::always_inline]] inline void weightedTaps4(const float* const* runs, std::int32_t i,
                                                 double* out) noexcept {
    static_assert(StereoGenerator::kNumTaps == 6);
    __m128 taps = _mm_add_ps(_mm_setzero_ps(), _mm_loadu_ps(runs[0] + i));
    taps = _mm_sub_ps(taps, _mm_loadu_ps(runs[1] + i));
    taps = _mm_add_ps(taps, _mm_loadu_ps(runs[2] + i));
    taps = _mm_sub_ps(taps, _mm_loadu_ps(runs[3] + i));
    taps = _mm_add_ps(taps, _mm_loadu_ps(runs[4] + i));
    taps = _mm_sub_ps(taps, _mm_loadu_ps(runs[5] + i));
    const __m128 weighted = _mm_mul_ps(taps, _mm_set1_ps(kTapWeight));
    _mm_storeu_pd(out, _mm_cvtps_pd(weighted));
    _mm_storeu_pd(out + 2, _mm_cvtps_pd(_mm_movehl_ps(weighted, weighted)));
}

// The same for one frame.
inline double weightedTaps1(const float* const* runs, std::int32_t i) noexcept {
    float taps = 0.0f;
    for (int t = 0; t < StereoGenerator::kNumTaps; ++t)
        taps = t % 2 == 0 ? taps + runs[t][i] : taps - runs[t][i];
    return static_cast<double>(taps * kTapWeight);
}
// The side filter and the amount of one block, in a local the compiler keeps in registers (the
// sample stores cannot touch it): the bass highpass and the two lowpass stages of the weighted tap
// sum, then the glided amount.
struct SideFilter {
    double bass, stage1, stage2, highpass, coefficient;
    korvo::ExpSmoother amountGlide;
    float amount;
    bool amountSettled;

    // One frame's filter; returns the second lowpass stage.
    [[gnu::always_inline]] double filter(double tapSum) noexcept {
        bass += (tapSum - bass) * highpass;
        stage1 += ((tapSum - bass) - stage1) * coefficient;
        stage2 += (stage1 - stage2) * coefficient;
        return stage2;
    }
};

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
    targetsDelayMs = lowpassStepHz = std::numeric_limits<float>::quiet_NaN();
    for (float& from : wholeFromMs) from = std::numeric_limits<float>::quiet_NaN();
    if (scratch != nullptr) std::fill(scratch, scratch + scratchSize, 0.0f);
}

float StereoGenerator::tapTarget(int t, float delayMs) const noexcept {
    // Tap targets fall on whole samples, so a settled tap reads one stored sample instead of
    // interpolating (the glide stalls within a few hundredths of a sample of its target).
    const float samplesPerMs = sampleRate * 0.001f;
    return std::round(std::min(delayMs * kTapRatios[t], maxTapMs) * samplesPerMs) / samplesPerMs;
}

void StereoGenerator::settle(float amount, float delayMs) noexcept {
    for (int t = 0; t < kNumTaps; ++t) runToRest(tapSmoothers[t], tapTarget(t, delayMs));
    runToRest(amountSmoother, amount);
}

inline void StereoGenerator::feedMid(const float* left, const float* right, std::int32_t frames) noexcept {
    std::int32_t i = 0;
    const __m128 half = _mm_set1_ps(0.5f);
    for (; i + 4 <= frames; i += 4)
        _mm_store_ps(scratch + i,
                     _mm_mul_ps(_mm_add_ps(_mm_loadu_ps(left + i), _mm_loadu_ps(right + i)), half));
    for (; i < frames; ++i) scratch[i] = (left[i] + right[i]) * 0.5f;
    history.feedBlock(scratch, frames);
}

inline const float* StereoGenerator::targetsFor(float delayMs) noexcept {
    if (!(delayMs == targetsDelayMs)) {
        for (int t = 0; t < kNumTaps; ++t) targetsMs[t] = tapTarget(t, delayMs);
        targetsDelayMs = delayMs;
    }
    return targetsMs;
}

inline double StereoGenerator::lowpassFor(float lowpassHz) noexcept {
    if (!(lowpassHz == lowpassStepHz)) {
        lowpassStep =
            1.0 - std::exp(-kTwoPi * static_cast<double>(lowpassHz) / static_cast<double>(sampleRate));
        lowpassStepHz = lowpassHz;
    }
    return lowpassStep;
}

inline std::int32_t StereoGenerator::wholeDelay(int t) noexcept {
    if (!(tapSmoothers[t].current == wholeFromMs[t])) {
        wholeSamples[t] =
            static_cast<std::int32_t>(std::lround(tapSmoothers[t].current * (sampleRate * 0.001f)));
        wholeFromMs[t] = tapSmoothers[t].current;
    }
    return wholeSamples[t];
}

void StereoGenerator::processBlock(float* left, float* right, float amount, float delayMs, float lowpassHz,
                                   std::int32_t frames) noexcept {
    if (frames <= 0 || frames > scratchSize || history.isEmpty()) return;

    // The mid signal goes into the history whatever the amount, so the taps always read fresh sound.
    feedMid(left, right, frames);
    const float* targets = targetsFor(delayMs);
    const float samplesPerMs = sampleRate * 0.001f;

    if (amount == 0.0f && amountSmoother.current == 0.0f) {
        // Nothing to add: only the delay glides advance, as they would while generating, and a
        // stalled glide is left as it is (70 to 77 % of the chain's time with the generator off).
        for (int t = 0; t < kNumTaps; ++t)
            for (std::int32_t i = 0; i < frames && !tapSmoothers[t].isStalled(targets[t]); ++i)
                tapSmoothers[t].nextSample(targets[t]);
        filterState[0] = filterState[1] = filterState[2] =
            0.0;  // the next fade-in starts from a clean lowpass
        return;
    }

    // The side filter and the amount in a local run (kept in registers: the sample stores cannot
    // touch it). One frame of the filter and the output; tapSum is the frame's weighted tap sum.
    SideFilter run{};
    run.bass = filterState[2];
    run.stage1 = filterState[0];
    run.stage2 = filterState[1];
    run.highpass = highpassCoefficient;
    run.coefficient = lowpassFor(lowpassHz);
    run.amountGlide = amountSmoother;
    run.amount = amount;
    // The taps leave the amount alone, so its glide can be judged before them.
    run.amountSettled = amountSmoother.isStalled(amount);
    auto filterFrame = [&](double tapSum, std::int32_t i) __attribute__((always_inline)) {
        const auto filtered = static_cast<float>(run.filter(tapSum));
        const float side =
            (run.amountSettled ? run.amountGlide.current : run.amountGlide.nextSample(amount)) * filtered;
        left[i] += side;
        right[i] -= side;
    };
    // The six delay glides advance side by side, frame by frame (independent, so they overlap); the
    // taps are then read four frames at a time and summed per frame in tap order, and the side
    // filter runs over the chunk. The mid signal in scratch has gone into the history, so scratch
    // holds the sums.
    float* sum = scratch;
    constexpr std::int32_t kChunk = kTapRunFrames;
    float delays[kNumTaps][kChunk];
    for (std::int32_t start = 0; start < frames; start += kChunk) {
        const std::int32_t m = std::min(kChunk, frames - start);
        // A settled glide gives its current value for every frame: no need to step it, and its tap
        // is read at the whole sample it stands on (kept with the value it was rounded from).
        bool settled[kNumTaps];
        bool anyGliding = false;
        std::int32_t wholeDelays[kNumTaps];
        for (int t = 0; t < kNumTaps; ++t) {
            settled[t] = tapSmoothers[t].isStalled(targets[t]);
            anyGliding |= !settled[t];
            wholeDelays[t] = settled[t] ? wholeDelay(t) : 0;
        }
        // Every tap settled and lying straight in the ring (3.5 % of the chain's time with every stage
        // at work): the taps are summed four frames at a time
        // right before the filter takes those frames, so the sums of later frames are worked out
        // while the filter's recursions wait on each other.
        const float* runs[kNumTaps] = {};
        bool straight = !anyGliding;
        for (int t = 0; t < kNumTaps && straight; ++t) {
            runs[t] = history.straightRun(wholeDelays[t] + (frames - 1 - start), m);
            straight = runs[t] != nullptr;
        }
        if (straight) {
            std::int32_t i = 0;
            for (; i + 4 <= m; i += 4) {
                alignas(16) double tapSums[4];
                weightedTaps4(runs, i, tapSums);
                if (run.amountSettled) {
                    // A settled amount: the four frames' outputs are scaled and added four wide.
                    const double side0 = run.filter(tapSums[0]);
                    const double side1 = run.filter(tapSums[1]);
                    const double side2 = run.filter(tapSums[2]);
                    const double side3 = run.filter(tapSums[3]);
                    const __m128 side = _mm_mul_ps(_mm_set1_ps(run.amountGlide.current),
                                                   _mm_movelh_ps(_mm_cvtpd_ps(_mm_set_pd(side1, side0)),
                                                                 _mm_cvtpd_ps(_mm_set_pd(side3, side2))));
                    float* l = left + start + i;
                    float* r = right + start + i;
                    _mm_storeu_ps(l, _mm_add_ps(_mm_loadu_ps(l), side));
                    _mm_storeu_ps(r, _mm_sub_ps(_mm_loadu_ps(r), side));
                    continue;
                }
                for (std::int32_t k = 0; k < 4; ++k) filterFrame(tapSums[k], start + i + k);
            }
            for (; i < m; ++i) filterFrame(weightedTaps1(runs, i), start + i);
            continue;
        }
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
                history.addWholeRun(wholeDelays[t] + (frames - 1 - start), m, sign, sum + start);
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
        for (std::int32_t i = start; i < start + m; ++i)
            filterFrame(static_cast<double>(sum[i] * kTapWeight), i);
    }
    amountSmoother = run.amountGlide;
    filterState[0] = run.stage1;
    filterState[1] = run.stage2;
    filterState[2] = run.bass;
}

void StereoGenerator::processBlockPlain(float* left, float* right, float amount, float delayMs,
                                        float lowpassHz, std::int32_t frames) noexcept {
    if (frames <= 0 || frames > scratchSize || history.isEmpty()) return;
    for (std::int32_t i = 0; i < frames; ++i) scratch[i] = (left[i] + right[i]) * 0.5f;
    history.feedBlock(scratch, frames);
    float targets[kNumTaps];
    for (int t = 0; t < kNumTaps; ++t) targets[t] = tapTarget(t, delayMs);
    if (amount == 0.0f && amountSmoother.current == 0.0f) {
        for (int t = 0; t < kNumTaps; ++t)
            for (std::int32_t i = 0; i < frames; ++i) tapSmoothers[t].nextSample(targets[t]);
        filterState[0] = filterState[1] = filterState[2] = 0.0;
        return;
    }
    const float samplesPerMs = sampleRate * 0.001f;
    const double lowpass =
        1.0 - std::exp(-kTwoPi * static_cast<double>(lowpassHz) / static_cast<double>(sampleRate));
    double& stage1 = filterState[0];
    double& stage2 = filterState[1];
    double& bass = filterState[2];
    bool stalled[kNumTaps] = {};
    for (std::int32_t i = 0; i < frames; ++i) {
        if (i % kTapRunFrames == 0)
            for (int t = 0; t < kNumTaps; ++t) stalled[t] = tapSmoothers[t].isStalled(targets[t]);
        const std::int32_t back = frames - 1 - i;
        float sum = 0.0f, sign = 1.0f;
        for (int t = 0; t < kNumTaps; ++t, sign = -sign) {
            const float tap =
                stalled[t] ? history.readWhole(static_cast<std::int32_t>(
                                                   std::lround(tapSmoothers[t].current * samplesPerMs)) +
                                               back)
                           : history.readCubic(tapSmoothers[t].nextSample(targets[t]) * samplesPerMs +
                                               static_cast<float>(back));
            sum += sign * tap;
        }
        const auto tapSum = static_cast<double>(sum * kTapWeight);
        bass += (tapSum - bass) * highpassCoefficient;
        stage1 += ((tapSum - bass) - stage1) * lowpass;
        stage2 += (stage1 - stage2) * lowpass;
        const float side = amountSmoother.nextSample(amount) * static_cast<float>(stage2);
        left[i] += side;
        right[i] -= side;
    }
}

}  // namespace velmora
