#pragma once
// The built-in demo signal: a mono source that shows off spatialisation when panned.
//
//   0.0 - 1.5 s  a click train, four clicks a second (sharp transients: the inter-aural delay)
//   1.5 - 3.5 s  a short melodic phrase of soft tones (pitch: the level and head-shadow cues)
//   3.5 - 5.5 s  pink-noise bursts (broadband: every cue at once)
//   5.5 - 6.0 s  silence, so the effect's tail is heard
//
// Deterministic: the same rate gives the same samples on every run and machine. Peaks stay below
// -3 dBFS. [main-thread]

#include <cstdint>
#include <vector>

namespace velmora {

inline constexpr double kDemoSeconds = 6.0;

std::vector<float> makeDemoSignal(std::int32_t sampleRate);

}  // namespace velmora
