#include "effect/dsp/lfo.h"

namespace velmora {

void LFO::reset(float sampleRate, std::uint32_t seed) noexcept {
    constexpr double kTwoPi = 6.283185307179586;
    phaseIncrementPerHz = static_cast<float>(kTwoPi / static_cast<double>(sampleRate));
    phase = 0.0f;
    heldState = 0;
    randomState = seed;
}

}  // namespace velmora
