// Separable area and linear resampling.
#include "korvo/graphics/resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace korvo {

namespace {

// The taps of one output coordinate: `count` source indices from `first`, their weights summing
// to 1.
struct Taps {
    std::int32_t first = 0;
    std::int32_t count = 0;
    std::size_t weightsAt = 0;
};

void makeTaps(std::int32_t sourceSize, std::int32_t destinationSize, std::vector<Taps>& taps,
              std::vector<float>& weights) {
    taps.assign(static_cast<std::size_t>(destinationSize), Taps{});
    weights.clear();
    const double ratio = static_cast<double>(sourceSize) / destinationSize;
    for (std::int32_t i = 0; i < destinationSize; ++i) {
        Taps& t = taps[static_cast<std::size_t>(i)];
        t.weightsAt = weights.size();
        if (ratio > 1.0) {
            // The source span [i r, (i + 1) r) the output pixel covers, by area.
            const double x0 = i * ratio, x1 = x0 + ratio;
            const auto first = static_cast<std::int32_t>(std::floor(x0));
            const auto last = std::min(static_cast<std::int32_t>(std::ceil(x1)), sourceSize);
            t.first = first;
            for (std::int32_t s = first; s < last; ++s) {
                const double covered = std::min<double>(s + 1, x1) - std::max<double>(s, x0);
                weights.push_back(static_cast<float>(covered / ratio));
                ++t.count;
            }
        } else {
            // Between the two source centres around the output centre.
            const double c = (i + 0.5) * ratio - 0.5;
            const double f = std::floor(c);
            const auto s0 = static_cast<std::int32_t>(f);
            const double u = c - f;
            const std::int32_t a = std::clamp(s0, 0, sourceSize - 1),
                               b = std::clamp(s0 + 1, 0, sourceSize - 1);
            t.first = a;
            if (a == b || u == 0.0) {
                weights.push_back(1.0f);
                t.count = 1;
            } else {
                weights.push_back(static_cast<float>(1.0 - u));
                weights.push_back(static_cast<float>(u));
                t.count = 2;
            }
        }
    }
}

template <class COLOR, int CHANNELS, class Get, class Put>
void resampleImpl(const ImageView<COLOR>& source, const ImageView<COLOR>& destination, Get get, Put put) {
    if (source.empty() || destination.empty()) return;
    if (source.w == destination.w && source.h == destination.h) {
        copyBox(source, destination);
        return;
    }
    std::vector<Taps> xTaps, yTaps;
    std::vector<float> xWeights, yWeights;
    makeTaps(source.w, destination.w, xTaps, xWeights);
    makeTaps(source.h, destination.h, yTaps, yWeights);
    // Horizontal pass: every source row at the destination's width.
    const auto rowFloats = static_cast<std::size_t>(destination.w) * CHANNELS;
    std::vector<float> rows(rowFloats * static_cast<std::size_t>(source.h));
    for (std::int32_t y = 0; y < source.h; ++y) {
        const COLOR* in = source.row(y);
        float* out = rows.data() + rowFloats * static_cast<std::size_t>(y);
        for (std::int32_t x = 0; x < destination.w; ++x) {
            const Taps& t = xTaps[static_cast<std::size_t>(x)];
            float sum[CHANNELS] = {};
            for (std::int32_t k = 0; k < t.count; ++k) {
                const float w = xWeights[t.weightsAt + static_cast<std::size_t>(k)];
                float v[CHANNELS];
                get(in[t.first + k], v);
                for (int c = 0; c < CHANNELS; ++c) sum[c] += v[c] * w;
            }
            for (int c = 0; c < CHANNELS; ++c) out[x * CHANNELS + c] = sum[c];
        }
    }
    // Vertical pass.
    for (std::int32_t y = 0; y < destination.h; ++y) {
        const Taps& t = yTaps[static_cast<std::size_t>(y)];
        COLOR* out = destination.row(y);
        for (std::int32_t x = 0; x < destination.w; ++x) {
            float sum[CHANNELS] = {};
            for (std::int32_t k = 0; k < t.count; ++k) {
                const float w = yWeights[t.weightsAt + static_cast<std::size_t>(k)];
                const float* in = rows.data() + rowFloats * static_cast<std::size_t>(t.first + k) +
                                  static_cast<std::size_t>(x) * CHANNELS;
                for (int c = 0; c < CHANNELS; ++c) sum[c] += in[c] * w;
            }
            put(sum, out[x]);
        }
    }
}

template <class T>
T roundTo(float v, float hi) noexcept {
    return static_cast<T>(std::clamp(std::floor(v + 0.5f), 0.0f, hi));
}

}  // namespace

void resample(const ImageView<RGBA>& source, const ImageView<RGBA>& destination) {
    resampleImpl<RGBA, 4>(
        source, destination,
        [](const RGBA& p, float* v) {
            v[0] = p.r;
            v[1] = p.g;
            v[2] = p.b;
            v[3] = p.a;
        },
        [](const float* v, RGBA& p) {
            p = RGBA{roundTo<std::uint8_t>(v[0], 255.0f), roundTo<std::uint8_t>(v[1], 255.0f),
                     roundTo<std::uint8_t>(v[2], 255.0f), roundTo<std::uint8_t>(v[3], 255.0f)};
        });
}

void resample(const ImageView<L16>& source, const ImageView<L16>& destination) {
    resampleImpl<L16, 1>(
        source, destination, [](const L16& p, float* v) { v[0] = p.l; },
        [](const float* v, L16& p) { p = L16{roundTo<std::uint16_t>(v[0], 65535.0f)}; });
}

}  // namespace korvo
