#pragma once
// The randomised hosts' generator: splitmix64, small, fast and the same on every platform, so a
// seed gives the same run on Linux and Windows.

#include <cstddef>
#include <cstdint>

namespace vst3host {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n - 1
    std::int32_t below(std::int32_t n) {
        return n <= 0 ? 0 : static_cast<std::int32_t>(next() % static_cast<std::uint64_t>(n));
    }
    // lo .. hi, both included
    std::int32_t between(std::int32_t lo, std::int32_t hi) { return lo + below(hi - lo + 1); }
    bool chance(double p) { return unit() < p; }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    template <class T, std::size_t N>
    T pick(const T (&values)[N]) {
        return values[static_cast<std::size_t>(below(static_cast<std::int32_t>(N)))];
    }

private:
    std::uint64_t state_;
};

}  // namespace vst3host
