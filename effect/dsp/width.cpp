#include "effect/dsp/width.h"

namespace velmora {

void applyWidth(float* left, float* right, korvo::ExpSmoother& width, float target,
                std::int32_t frames) noexcept {
    if (width.isStalled(target)) {
        const float s = width.current;
        for (std::int32_t i = 0; i < frames; ++i) {
            const float mid = left[i] + right[i];
            const float side = (left[i] - right[i]) * s;
            left[i] = mid + side;
            right[i] = mid - side;
        }
        return;
    }
    for (std::int32_t i = 0; i < frames; ++i) {
        const float mid = left[i] + right[i];
        const float side = (left[i] - right[i]) * width.nextSample(target);
        left[i] = mid + side;
        right[i] = mid - side;
    }
}

}  // namespace velmora
