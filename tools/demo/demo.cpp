#include "tools/demo/demo.h"

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Small deterministic noise source (32-bit linear congruential generator).
class Noise {
public:
    float white() noexcept {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<std::int32_t>(state_)) * (1.0f / 2147483648.0f);
    }

    // Pink noise by a sum of three first-order filtered white noises (about -3 dB per octave over
    // the audible range).
    float pink() noexcept {
        const float w = white();
        b0_ = 0.99765f * b0_ + w * 0.0990460f;
        b1_ = 0.96300f * b1_ + w * 0.2965164f;
        b2_ = 0.57000f * b2_ + w * 1.0526913f;
        return (b0_ + b1_ + b2_ + w * 0.1848f) * 0.2f;
    }

private:
    std::uint32_t state_ = 0x2545F491u;
    float b0_ = 0.0f, b1_ = 0.0f, b2_ = 0.0f;
};

}  // namespace

std::vector<float> makeDemoSignal(std::int32_t sampleRate) {
    const double rate = sampleRate;
    const auto at = [rate](double seconds) { return static_cast<std::size_t>(seconds * rate); };
    std::vector<float> out(at(kDemoSeconds), 0.0f);

    // Clicks: a one-sided decaying burst of about 1 ms, alternately loud and soft.
    const std::size_t clickLength = at(0.001) + 1;
    for (int k = 0; k < 6; ++k) {
        const std::size_t start = at(0.125 + 0.25 * k);
        const float peak = (k % 2 == 0) ? 0.7f : 0.45f;
        for (std::size_t i = 0; i < clickLength && start + i < out.size(); ++i) {
            out[start + i] = peak * static_cast<float>(std::exp(-5.0 * static_cast<double>(i) /
                                                                static_cast<double>(clickLength)));
        }
    }

    // Phrase: eight notes of a pentatonic line, each a fundamental with a softer octave, a 10 ms
    // attack and an exponential decay.
    const double notes[] = {440.0, 523.25, 587.33, 659.25, 783.99, 659.25, 587.33, 440.0};
    const double noteSeconds = 0.25;
    for (int n = 0; n < 8; ++n) {
        const std::size_t start = at(1.5 + noteSeconds * n);
        const std::size_t length = at(noteSeconds);
        for (std::size_t i = 0; i < length && start + i < out.size(); ++i) {
            const double t = static_cast<double>(i) / rate;
            const double envelope = std::min(1.0, t / 0.01) * std::exp(-t * 6.0);
            const double phase = 2.0 * kPi * notes[n] * t;
            out[start + i] =
                static_cast<float>(0.4 * envelope * (std::sin(phase) + 0.3 * std::sin(2.0 * phase)));
        }
    }

    // Noise bursts: four bursts of 0.25 s with 5 ms fades, 0.25 s apart.
    Noise noise;
    const std::size_t burstLength = at(0.25);
    const double fade = 0.005 * rate;
    for (int b = 0; b < 4; ++b) {
        const std::size_t start = at(3.5 + 0.5 * b);
        for (std::size_t i = 0; i < burstLength && start + i < out.size(); ++i) {
            const double fromEdge = static_cast<double>(std::min(i, burstLength - 1 - i));
            const double gain = std::min(1.0, fromEdge / fade);
            out[start + i] = static_cast<float>(0.4 * gain) * noise.pink();
        }
    }
    return out;
}

}  // namespace velmora
