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

}  // namespace korvo
