#pragma once
// ExpSmoother: a one-pole exponential glide of one float toward a target, advanced once per sample.
//
// Used for every audible control that changes per block (delays in samples, gains, widths): the
// owner calls nextSample(target) once per sample with the block's target and gets the glided value.
// Plain value, no memory besides its fields. Single-threaded: it belongs to its owner's audio path.

#include <cmath>

namespace korvo {

struct ExpSmoother {
    float current = 0.0f;     // the smoothed value
    float alpha = 0.0f;       // per-sample step fraction, 1 - exp(-1 / (timeConstant * sampleRate))
    float sampleRate = 0.0f;  // rate alpha was computed for (Hz)

    // Restarts the glide at initialValue. timeConstantSeconds is the one-pole time constant.
    // The step fraction is computed in double from the single-precision arguments (so a time constant
    // of 0.04f enters as 0.03999999910593033) and stored rounded to float. [audio-thread]
    void initialise(float initialValue, float timeConstantSeconds, float rate) noexcept {
        current = initialValue;
        sampleRate = rate;
        alpha = static_cast<float>(
            1.0 - std::exp(-1.0 / (static_cast<double>(timeConstantSeconds) * static_cast<double>(rate))));
    }

    // Moves one sample toward target and returns the new value. A target equal to the current value
    // leaves it bit-identical; a remaining difference below 1e-10 (absolute) snaps onto the target so
    // the glide ends instead of creeping through denormals. [audio-thread]
    // True when nextSample(target) would leave current as it is, now and on every later call with the
    // same target: it has arrived, or its steps have become smaller than the float spacing at current
    // (the glide stalls just short of a target above the snap threshold). Lets owners skip per-sample
    // work that would not change anything.
    bool isStalled(float target) const noexcept {
        const float diff = target - current;
        if (diff == 0.0f) return true;
        if (std::fabs(diff) < 1e-10f) return false;  // the next step snaps
        return current + diff * alpha == current;
    }

    // True when every step from here to target is a plain step, current + (target - current) alpha:
    // current and target have the same sign and at least 2^-10 in magnitude, so every value on the
    // way (a step moves toward the target and rounding cannot pass it) is a multiple of 2^-33 away
    // from the target (more than the snap threshold) or on it, where the step adds +0 to a nonzero
    // value. nextPlainStep(target) then gives nextSample(target)'s bits without its tests.
    // [audio-thread]
    bool stepsPlainlyTo(float target) const noexcept {
        constexpr float kLeast = 0.0009765625f;  // 2^-10
        return (current >= kLeast && target >= kLeast) || (current <= -kLeast && target <= -kLeast);
    }
    float nextPlainStep(float target) noexcept {
        current = current + (target - current) * alpha;
        return current;
    }

    float nextSample(float target) noexcept {
        const float diff = target - current;
        if (diff == 0.0f) return current;
        if (std::fabs(diff) < 1e-10f)
            current = target;
        else
            current = current + diff * alpha;
        return current;
    }
};

}  // namespace korvo
