#pragma once
// Delayline: a power-of-two ring of floats, fed a block at a time and read at fractional delays with
// a 6-point, 5th-order polynomial.
//
// Owners size it with resize() as the longest delay they read plus the largest block they feed, feed
// each block whole with feedBlock() and then read it back with readFractional(); a block therefore
// never overwrites samples still to be read. The ring is owned by the Delayline and released by its
// destructor. Single-threaded: resize belongs to the owner's reset, the rest to its audio path.
//
// A ring that cannot be allocated (a length beyond what an int32 mask can address) is left empty:
// capacity() is 0, feedBlock ignores its input and readFractional returns 0. Owners check isEmpty().

#include <cstdint>

namespace korvo {

class Delayline {
public:
    Delayline() noexcept = default;
    ~Delayline();
    Delayline(const Delayline&) = delete;
    Delayline& operator=(const Delayline&) = delete;

    // Makes room for numSamples of history: the capacity becomes the smallest power of two strictly
    // greater than numSamples (0 -> 1, 1023 -> 1024, 1024 -> 2048). The contents are cleared and the
    // first sample fed lands in element 0. A negative length is a programming error and ends the
    // process. Allocates. [audio-thread, reset only]
    void resize(std::int32_t numSamples) noexcept;

    // Appends n samples in ring order (n <= capacity; of a longer block only the newest capacity
    // samples are kept). At most two bulk copies. [audio-thread]
    void feedBlock(const float* samples, std::int32_t n) noexcept;

    // The sample written `delaySamples` samples ago (0 = the newest), interpolated between integer
    // delays; integer delays return the stored sample exactly. The read touches samples from
    // delay - 3 to delay + 3, so owners keep delays >= 3 after a block has been fed. All arithmetic
    // is single precision. [audio-thread]
    float readFractional(float delaySamples) const noexcept;

    // A cheaper read for modulation effects: 4-point cubic (Catmull-Rom) interpolation, exact at
    // integer delays, touching samples down to delay - 2. [audio-thread]
    float readCubic(float delaySamples) const noexcept;

    std::int32_t capacity() const noexcept { return mask + 1; }            // [audio-thread]
    bool isEmpty() const noexcept { return data == nullptr; }              // [audio-thread]
    std::int32_t requestedSamples() const noexcept { return numSamples; }  // [audio-thread]

private:
    void release() noexcept;

    float* data = nullptr;        // ring of capacity floats
    std::int32_t index = 0;       // element holding the most recently written sample
    std::int32_t mask = -1;       // capacity - 1 (-1 while empty)
    std::int32_t numSamples = 0;  // length asked for at resize (kept, not used for reading)
};

// The reads are inline: owners call them once per sample and channel.
inline float Delayline::readFractional(float delaySamples) const noexcept {
    if (data == nullptr) return 0.0f;
    const std::int32_t cap = mask + 1;
    // Adding two capacities keeps the position positive for every delay the ring can hold.
    const float pos =
        static_cast<float>(index) - delaySamples + static_cast<float>(2 * static_cast<std::int64_t>(cap));
    const std::int32_t i = static_cast<std::int32_t>(pos);
    const float t = pos - static_cast<float>(i);

    const float xm2 = data[(i - 2) & mask];
    const float xm1 = data[(i - 1) & mask];
    const float x0 = data[i & mask];
    const float x1 = data[(i + 1) & mask];
    const float x2 = data[(i + 2) & mask];
    const float x3 = data[(i + 3) & mask];

    const float c1 = 16.0f * (x1 - xm1) + 2.0f * (xm2 - x2);
    const float c2 = 16.0f * (xm1 + x1) - xm2 - 30.0f * x0 - x2;
    const float c3 = 66.0f * x1 - 70.0f * x0 - 33.0f * x2 + 39.0f * xm1 + 7.0f * x3 - 9.0f * xm2;
    const float c4 = 126.0f * x0 - 124.0f * x1 + 61.0f * x2 - 64.0f * xm1 - 12.0f * x3 + 13.0f * xm2;
    const float c5 = 50.0f * (x1 - x0) + 5.0f * (x3 - xm2) + 25.0f * (xm1 - x2);

    return x0 + (0.041666668f * t) * (c1 + t * (c2 + t * (c3 + t * (c4 + t * c5))));
}

inline float Delayline::readCubic(float delaySamples) const noexcept {
    if (data == nullptr) return 0.0f;
    const float pos = static_cast<float>(index) - delaySamples +
                      static_cast<float>(2 * static_cast<std::int64_t>(mask + 1));
    const std::int32_t i = static_cast<std::int32_t>(pos);
    const float t = pos - static_cast<float>(i);
    const float xm1 = data[(i - 1) & mask];
    const float x0 = data[i & mask];
    const float x1 = data[(i + 1) & mask];
    const float x2 = data[(i + 2) & mask];
    const float c1 = 0.5f * (x1 - xm1);
    const float c2 = xm1 - 2.5f * x0 + 2.0f * x1 - 0.5f * x2;
    const float c3 = 0.5f * (x2 - xm1) + 1.5f * (x0 - x1);
    return x0 + t * (c1 + t * (c2 + t * c3));
}

}  // namespace korvo
