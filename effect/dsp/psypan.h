#pragma once
// PsychoacousticPanner: places a stereo signal between the ears with three separately scaled cues
// and applies the chain's output gain.
//
//   delay pan     the far ear hears the sound later (inter-aural delay, up to 0.653 ms x headSize),
//   spectral pan  the far ear duller, the near ear brighter (high shelves at 4032 Hz),
//   level pan     the far ear quieter (up to 7.95 dB x levelPan at full pan).
//
// Both channels are always delayed by at least 3 samples (the base delay). Delays glide over 50 ms,
// gains over 40 ms, shelf coefficients over 40 ms, so no argument change clicks. The panner never
// reads parameters: its owner passes plain numbers once per block. Owned by the effect client and
// used only from its reset and audio path, which never run concurrently.
//
// If the delay rings cannot be allocated at reset, the delay cue is skipped (the samples pass through
// undelayed) while the shelves and gains still apply.

#include <cstdint>

#include "korvo/dsp/delayline.h"
#include "korvo/dsp/smooth.h"
#include "tessary/dsp/iir.h"
#include "tessary/dsp/interpbiquad.h"

namespace velmora {

class PsychoacousticPanner {
public:
    // Every channel's delay once the glides have settled (the near ear's at any pan): the chain's
    // latency.
    static constexpr std::int32_t kBaseDelaySamples = 3;
    // A block is processed in pieces of this many frames (glides, reads, shelves and gains of a
    // piece while its data is in the cache). A piece is whole glide chunks of the shelves, so they
    // glide as over the whole block.
    static constexpr std::int32_t kPieceFrames = 64;
    static_assert(kPieceFrames % tessary::InterpolatedBiquad::kChunkSize == 0,
                  "a piece must hold whole shelf glide chunks, or the shelves would glide by other steps");

    // Sizes the delay lines for 2 ms of inter-aural delay plus maxFrames, restarts the delay glides at
    // 2 samples and the gain glides at 0.5, and puts the shelves at identity.
    // Allocates only when the delay lines need another size. [main-thread or audio-thread reset]
    void reset(float sampleRate, std::int32_t maxFrames) noexcept;

    // What reset does once the sizes are right: clears the delay lines and restarts the glides and
    // the shelves, allocating nothing. [audio-thread]
    void restart() noexcept;

    // Processes both channels in place (frames <= the reset's maxFrames). pan: -1 full left .. +1 full
    // right (clamped); headSize, spectralPan, levelPan: amounts as fractions (1 = 100 %, up to 2);
    // gain: linear factor applied to both channels. [audio-thread]
    void processBlock(float* left, float* right, float pan, float headSize, float spectralPan, float levelPan,
                      float gain, std::int32_t frames) noexcept;

    // The plain per-frame form of processBlock, step by step as the algorithm reads: the whole block
    // fed, then per frame the delay glides and the interpolated reads, the shelves over the block
    // by InterpolatedBiquad::processBlock, then per frame the gain glides. processBlock gives its
    // bits; it is here for the tests that hold the fast form to it, and nothing else runs it.
    // [audio-thread]
    void processBlockPlain(float* left, float* right, float pan, float headSize, float spectralPan,
                           float levelPan, float gain, std::int32_t frames) noexcept;

    // Runs every glide (delays, gains, shelf coefficients) from where it stands toward the targets
    // these arguments give until it comes to rest, as it would if the panner ran on them long
    // enough; the histories are left as they are. [audio-thread]
    void settle(float pan, float headSize, float spectralPan, float levelPan, float gain) noexcept;

    // Inspection for tests and displays. [audio-thread]
    float delayTargetLeft() const noexcept { return lastDelayTargetLeft; }
    float delayTargetRight() const noexcept { return lastDelayTargetRight; }
    float gainTargetLeft() const noexcept { return lastGainTargetLeft; }
    float gainTargetRight() const noexcept { return lastGainTargetRight; }
    float currentDelayLeft() const noexcept { return delaySmootherLeft.current; }
    float currentDelayRight() const noexcept { return delaySmootherRight.current; }
    float currentGainLeft() const noexcept { return gainSmootherLeft.current; }
    float currentGainRight() const noexcept { return gainSmootherRight.current; }
    const tessary::InterpolatedBiquad& leftShelf() const noexcept { return shelfLeft; }
    const tessary::InterpolatedBiquad& rightShelf() const noexcept { return shelfRight; }

    // Shelf gains in dB for a clamped pan and a spectral amount: at full right with amount 1 the left
    // ear gets -11.25 dB and the right ear +3 dB (mirrored at full left), 0 dB at the centre. [any-thread]
    static void shelfGainsDb(float p, float spectralPan, double& leftDb, double& rightDb) noexcept;

private:
    // The targets of one block for a clamped pan p.
    void delayTargets(float p, float headSize, float& left, float& right) const noexcept;
    void shelfTargets(float p, float spectralPan, korvo::BiquadCoeffs& left,
                      korvo::BiquadCoeffs& right) const noexcept;
    void gainTargets(float p, float levelPan, float gain, float& left, float& right) noexcept;

    float sampleRate = 44100.0f;
    korvo::Delayline delayLeft, delayRight;
    korvo::ExpSmoother delaySmootherLeft, delaySmootherRight;
    korvo::ExpSmoother gainSmootherLeft, gainSmootherRight;
    tessary::InterpolatedBiquad shelfLeft, shelfRight;

    float lastDelayTargetLeft = 3.0f, lastDelayTargetRight = 3.0f;
    float lastGainTargetLeft = 0.5f, lastGainTargetRight = 0.5f;

    // processBlock's last designs and the bits of the arguments they were made from (4 % of the
    // chain's time for 64 instances in 128-frame blocks), so a block
    // with the same arguments skips their cos, exp, pow and sin; restart forgets them (the rate may
    // have changed). The level law's factors depend on levelPan alone and are kept for it apart.
    struct Designs {
        bool haveDelay = false, haveShelf = false, haveGain = false, haveLevel = false;
        std::uint32_t delayKey[2], shelfKey[2], gainKey[3], levelKey;
        float delayLeft, delayRight, gainLeft, gainRight, levelF, levelE;
        korvo::BiquadCoeffs shelfLeft, shelfRight;
    };
    tessary::ShelfCorner shelfCorner{};  // the shelves' corner at the rate
    Designs designs{};
};

}  // namespace velmora
