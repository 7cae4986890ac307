#pragma once
// LFO: the state of the low-frequency oscillator that will move the source (pan, distance, gain,
// tilt by four signed depths). Only its starting state is defined so far; the oscillator and the
// routing are not implemented. Embedded in the effect client, used from its audio path only.

#include <cstdint>

namespace velmora {

struct LFO {
    float phaseIncrementPerHz = 0.0f;  // radians per sample at a 1 Hz rate: 2 pi / sampleRate
    float phase = 0.0f;                // radians
    std::uint64_t heldState = 0;       // further oscillator memory (e.g. the held random value)
    std::uint32_t randomState = 0;     // random generator state

    // Restarts the phase at 0 and reseeds the random generator with `seed` (the owner passes the same
    // per-instance value every time, so an instance repeats its random sequence after each reset).
    // [audio-thread, reset only]
    void reset(float sampleRate, std::uint32_t seed) noexcept;
};

}  // namespace velmora
