#include "tessary/dsp/interpbiquad.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace tessary {

void InterpolatedBiquad::initialise(float sampleRate) noexcept {
    chunkShift = 5;
    stalledFraction = -1.0f;
    x1 = x2 = y1 = y2 = 0.0;
    const korvo::BiquadCoeffs identity = korvo::BiquadCoeffs::identity();
    b0 = identity.b0;
    b1 = identity.b1;
    b2 = identity.b2;
    a1 = identity.a1;
    a2 = identity.a2;
    // A run of k samples moves as far as a 40 ms one-pole glide updated once every k samples.
    const double timeConstant = static_cast<double>(0.04f);
    for (int k = 1; k <= kChunkSize; ++k) {
        const float updateRate = sampleRate / static_cast<float>(k);
        glideAlpha[k - 1] =
            static_cast<float>(1.0 - std::exp(-1.0 / (static_cast<double>(updateRate) * timeConstant)));
    }
}

void InterpolatedBiquad::settle(const korvo::BiquadCoeffs& target) noexcept {
    // A glide moves each coefficient monotonically toward its target and stops where the step
    // rounds away; the bound only guards against a target that is not a number.
    constexpr int kMaxChunks = 1 << 20;
    for (int i = 0; i < kMaxChunks; ++i) {
        const korvo::BiquadCoeffs before = coefficients();
        glide(target, glideAlpha[kChunkSize - 1]);
        if (sameBits(before, coefficients())) return;
    }
}

void InterpolatedBiquad::filter(const float* input, float* output, std::int32_t count) noexcept {
    for (std::int32_t j = 0; j < count; ++j) {
        const double x = static_cast<double>(input[j]);
        const double y = (b0 * x + b1 * x1 - a1 * y1) + (b2 * x2 - a2 * y2);
        output[j] = static_cast<float>(y);
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
}

void InterpolatedBiquad::passThrough(const float* input, float* output, std::int32_t count) noexcept {
    if (count <= 0) return;
    if (output != input) std::memmove(output, input, static_cast<std::size_t>(count) * sizeof(float));
    // With identity coefficients each output equals its input, so the state follows the inputs.
    const double last = static_cast<double>(input[count - 1]);
    if (count >= 2) {
        x2 = y2 = static_cast<double>(input[count - 2]);
    } else {
        x2 = x1;
        y2 = y1;
    }
    x1 = y1 = last;
}

void InterpolatedBiquad::runChunk(const float* input, float* output, std::int32_t count) noexcept {
    if (isIdentity())
        passThrough(input, output, count);
    else
        filter(input, output, count);
}

void InterpolatedBiquad::processBlock(const float* input, float* output, std::int32_t frames,
                                      const korvo::BiquadCoeffs& target) noexcept {
    if (frames <= 0) return;
    const std::int32_t chunk = std::int32_t{1} << chunkShift;
    const std::int32_t fullChunks = frames >> chunkShift;
    const std::int32_t rest = frames - chunk * fullChunks;
    for (std::int32_t c = 0; c < fullChunks; ++c) {
        glide(target, glideAlpha[chunk - 1]);
        runChunk(input + c * chunk, output + c * chunk, chunk);
    }
    if (rest > 0) {
        glide(target, glideAlpha[rest - 1]);
        runChunk(input + fullChunks * chunk, output + fullChunks * chunk, rest);
    }
}

}  // namespace tessary
