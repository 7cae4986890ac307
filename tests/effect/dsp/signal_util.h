#pragma once
// Small signal helpers for the processor tests: test tones and level measurement.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace velmora::test {

inline std::vector<float> sine(double hz, double rate, int frames, double amplitude = 0.5) {
    std::vector<float> v(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        v[static_cast<size_t>(i)] = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    return v;
}

// RMS of v[from, from + count).
inline double rms(const std::vector<float>& v, size_t from, size_t count) {
    double sum = 0.0;
    for (size_t i = from; i < from + count; ++i) sum += static_cast<double>(v[i]) * static_cast<double>(v[i]);
    return std::sqrt(sum / static_cast<double>(count));
}

inline double toDb(double ratio) {
    return 20.0 * std::log10(ratio);
}

// Index of the largest magnitude in v.
inline size_t peakIndex(const std::vector<float>& v) {
    size_t best = 0;
    for (size_t i = 1; i < v.size(); ++i)
        if (std::fabs(v[i]) > std::fabs(v[best])) best = i;
    return best;
}

// Runs `process(left, right, frames)` in blocks of `block` over whole buffers.
template <class Process>
void inBlocks(std::vector<float>& left, std::vector<float>& right, int block, Process process) {
    const int total = static_cast<int>(left.size());
    for (int pos = 0; pos < total; pos += block) {
        const int n = std::min(block, total - pos);
        process(left.data() + pos, right.data() + pos, n);
    }
}

}  // namespace velmora::test
