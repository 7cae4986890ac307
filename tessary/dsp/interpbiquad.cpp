#include "tessary/dsp/interpbiquad.h"

#include <cmath>

namespace tessary {

void InterpolatedBiquad::initialise(float sampleRate) noexcept {
    chunkShift = 5;
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

void InterpolatedBiquad::glide(const korvo::BiquadCoeffs& target, float fraction) noexcept {
    const double f = static_cast<double>(fraction);
    b0 = b0 + (target.b0 - b0) * f;
    b1 = b1 + (target.b1 - b1) * f;
    b2 = b2 + (target.b2 - b2) * f;
    a1 = a1 + (target.a1 - a1) * f;
    a2 = a2 + (target.a2 - a2) * f;
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
    if (output != input)
        for (std::int32_t j = 0; j < count; ++j) output[j] = input[j];
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

void InterpolatedBiquad::processPair(InterpolatedBiquad& f, const float* inF, float* outF,
                                     const korvo::BiquadCoeffs& targetF, InterpolatedBiquad& g, const float* inG,
                                     float* outG, const korvo::BiquadCoeffs& targetG, std::int32_t frames) noexcept {
    if (frames <= 0) return;
    const std::int32_t chunk = std::int32_t{1} << f.chunkShift;
    for (std::int32_t start = 0; start < frames; start += chunk) {
        const std::int32_t n = frames - start < chunk ? frames - start : chunk;
        f.glide(targetF, f.glideAlpha[n - 1]);
        g.glide(targetG, g.glideAlpha[n - 1]);
        const bool fIdentity = f.isIdentity(), gIdentity = g.isIdentity();
        if (fIdentity || gIdentity) {
            // One of them is transparent: no recursion to overlap.
            if (fIdentity)
                f.passThrough(inF + start, outF + start, n);
            else
                f.filter(inF + start, outF + start, n);
            if (gIdentity)
                g.passThrough(inG + start, outG + start, n);
            else
                g.filter(inG + start, outG + start, n);
            continue;
        }
        double fx1 = f.x1, fx2 = f.x2, fy1 = f.y1, fy2 = f.y2;
        double gx1 = g.x1, gx2 = g.x2, gy1 = g.y1, gy2 = g.y2;
        const float* xf = inF + start;
        const float* xg = inG + start;
        float* yf = outF + start;
        float* yg = outG + start;
        for (std::int32_t j = 0; j < n; ++j) {
            const double a = static_cast<double>(xf[j]);
            const double b = static_cast<double>(xg[j]);
            const double ya = (f.b0 * a + f.b1 * fx1 - f.a1 * fy1) + (f.b2 * fx2 - f.a2 * fy2);
            const double yb = (g.b0 * b + g.b1 * gx1 - g.a1 * gy1) + (g.b2 * gx2 - g.a2 * gy2);
            yf[j] = static_cast<float>(ya);
            yg[j] = static_cast<float>(yb);
            fx2 = fx1, fx1 = a, fy2 = fy1, fy1 = ya;
            gx2 = gx1, gx1 = b, gy2 = gy1, gy1 = yb;
        }
        f.x1 = fx1, f.x2 = fx2, f.y1 = fy1, f.y2 = fy2;
        g.x1 = gx1, g.x2 = gx2, g.y1 = gy1, g.y2 = gy2;
    }
}

void InterpolatedBiquad::processBlock(const float* input, float* output, std::int32_t frames,
                                      const korvo::BiquadCoeffs& target) noexcept {
    if (frames <= 0) return;
    const std::int32_t chunk = std::int32_t{1} << chunkShift;
    const std::int32_t fullChunks = frames >> chunkShift;
    const std::int32_t rest = frames - chunk * fullChunks;
    for (std::int32_t c = 0; c < fullChunks; ++c) {
        glide(target, glideAlpha[chunk - 1]);
        if (isIdentity())
            passThrough(input + c * chunk, output + c * chunk, chunk);
        else
            filter(input + c * chunk, output + c * chunk, chunk);
    }
    if (rest > 0) {
        glide(target, glideAlpha[rest - 1]);
        if (isIdentity())
            passThrough(input + fullChunks * chunk, output + fullChunks * chunk, rest);
        else
            filter(input + fullChunks * chunk, output + fullChunks * chunk, rest);
    }
}

}  // namespace tessary
