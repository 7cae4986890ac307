#pragma once
// VelmoraClient: the effect as a host-neutral plug-in client.
//
// It declares what the plug-in is (description, channel configurations, latency, tail, a 512-frame
// block limit), builds its 42 parameters and 32 factory presets, owns the DSP processors, prepares
// them in reset and runs the signal chain in processAudio:
//
//   input -> distance model -> tilt filter -> mono-to-stereo generator -> width (mid/side, smoothed)
//   -> psychoacoustic panner (with the output level) -> LFO tremolo -> "Test Mono" -> output,
//
// and the editor's displays are fed from the final samples. The tilt filter, the generator and the
// tremolo leave the samples untouched while they are inactive ("Tilt" 0 dB, "M-to-S Amount." 0 %,
// "LFO > Gain" 0 %, each after its glide), so the chain is then exactly the distance/width/panner
// chain.
//
// The LFO moves pan, distance, tilt and output gain by four signed depths. At 100 % pan sweeps the
// whole field, distance three quarters of the way to either end of its range, tilt its whole range,
// and the gain is a tremolo down to silence that never rises above the unmodulated level; negative
// depths invert the direction. A modulated value moves from the knob's value toward the range's end
// in proportion to depth x LFO value, so it always stays inside the parameter's range. "Dry / Wet"
// scales the modulated pan, distance and tilt as it scales the plain ones, and the tremolo depth.
// While any depth is non-zero the block is processed in the LFO's 64-frame cells, each with its own
// modulated arguments (the cells follow the host position while it plays, so the result does not
// depend on the host's block size); with all depths at 0 (or "Dry / Wet" at 0) the block runs in
// one piece, exactly as without an LFO. Fast pan and distance sweeps are rounded off by the
// panner's and the distance model's own glides (40 to 50 ms); the tremolo follows the LFO frame by
// frame. The panorama display receives the modulated values and the tremolo gain.
//
// "Test Mono" folds whatever comes out. The generator adds its side signal as +s to the left and -s
// to the right, so with a centred source the fold is the same at any amount, up to float rounding.
// A panned source gets different delays, shelves and levels on its two sides, so part of the side
// signal then survives the fold (about 12 to 15 dB below the source, like the comb filtering the
// panned source itself gets in mono).
//
// It is the only place where parameter values become DSP arguments: every parameter is read once
// per block with a single atomic load. "Dry / Wet" scales the amount of every effect (pan, distance,
// the width deviation from 1, the output level deviation from unity, the tilt, the generated side
// and the modulation) instead of cross-fading.
// After 0.2 s of exact digital silence at the input the processors stop and the output is zero until
// sound returns.
//
// Bad input never poisons the chain: a sample that is not finite counts as silence and magnitudes
// above 1e6 are held there, so no filter state can overflow; a block whose output is still not
// finite is silenced and the chain reset.
//
// Threads: construction and destruction on the main thread; reset and processAudio on the audio
// path, never at the same time, never allocating (reset may allocate: hosts call it when the rate or
// block size changes) and never blocking.

#include <cstdint>

#include "effect/dsp/distance.h"
#include "effect/dsp/lfo.h"
#include "effect/dsp/psypan.h"
#include "effect/dsp/stereogenerator.h"
#include "effect/dsp/tiltfilter.h"
#include "effect/dsp/width.h"
#include "korvo/client/client.h"
#include "korvo/core/vec.h"
#include "korvo/dsp/smooth.h"

namespace velmora {

// Parameter indices (the index is the parameter's identity everywhere).
enum Param : std::int32_t {
    kDistance = 0,
    kStereoWidth = 1,
    kMtoSAmount = 2,
    kMtoSDelay = 3,
    kMtoSLowpass = 4,
    kTilt = 5,
    kPan = 6,
    kHeadSize = 7,
    kSpectralPan = 8,
    kLfoWave = 9,
    kLfoSynced = 10,
    kLfoTempo = 11,
    kLfoPhase = 12,
    kLfoFreq = 13,
    kLfoToPan = 14,
    kLfoToDistance = 15,
    kLfoToGain = 16,
    kLfoToTilt = 17,
    kOutputLevel = 18,
    kDryWet = 19,
    kTestMono = 20,
    kReserved0 = 21,
    kLevelPan = 22,
    // 23 .. 41: "Reserved #2" .. "Reserved #20", never read by the processing.
    kParamCount = 42,
};

inline constexpr std::int32_t kPresetCount = 32;

class PanoramaDisplay;
class PhaseDisplay;

class VelmoraClient : public korvo::Client {
public:
    VelmoraClient();
    ~VelmoraClient() override;

    korvo::HeapPtr<korvo::IGraphics> createGraphics() override;
    void reset(double sampleRate, std::int32_t maxFrames, std::int32_t numInputs,
               std::int32_t numOutputs) noexcept override;
    // Clears every history and restarts every glide at the last reset's sizes; allocates nothing.
    void resetState() noexcept override;
    std::int32_t latencySamples(double sampleRate) noexcept override;  // 3 at every rate
    float tailSizeInSeconds() noexcept override;                       // 0.2
    std::int32_t maxFramesInProcess() noexcept override;               // 512
    // True after a block the silence stopped (0.2 s of silent input): its output was zero and stays
    // zero while the input does.
    bool isAsleep() const noexcept override { return asleep_; }
    void processAudio(const float* const* inputs, std::int32_t numInputs, float* const* outputs,
                      std::int32_t numOutputs, std::int32_t frames,
                      korvo::HostTiming timing) noexcept override;

    korvo::ParameterList buildParameters() override;
    korvo::PresetList buildPresets() override;
    korvo::PluginDescription buildDescription() override;
    korvo::Vec<korvo::ChannelConfig> buildChannelConfigs() override;

    // Inspection for tests and tools.
    float sampleRate() const noexcept { return sampleRate_; }
    std::int64_t silentFrames() const noexcept { return silentFrames_; }
    std::int64_t silenceLimit() const noexcept { return silenceLimit_; }
    const PsychoacousticPanner& panner() const noexcept { return panner_; }
    const DistanceModel& distanceModel() const noexcept { return distance_; }
    const StereoGenerator& stereoGenerator() const noexcept { return stereoGenerator_; }
    const TiltFilter& tiltFilter() const noexcept { return tiltFilter_; }
    const LFO& lfo() const noexcept { return lfo_; }
    const korvo::ExpSmoother& widthSmoother() const noexcept { return widthSmoother_; }

    // What the panorama display was last sent (also kept without an editor): modulated pan (-1..1),
    // distance, tilt (dB, both after "Dry / Wet") and the tremolo gain (1 without one). [audio-thread]
    struct PanoramaState {
        float gain = 1.0f, tilt = 0.0f, distance = 0.0f, pan = 0.0f;
    };
    PanoramaState lastPanoramaState() const noexcept { return panorama_; }

    // Runs every glide of the chain (filter coefficients, delays, gains, width, generator taps and
    // amount, tilt, tremolo depth) from where it stands toward the target the current parameters
    // give until it comes to rest, step by step as the chain itself would: the state the plug-in
    // reaches when it runs on these settings long enough (a glide rests a little short of its
    // target, where its steps round away). Histories stay as they are (clear after a reset). This is
    // where a host's export starts after its pre-roll. The LFO's modulation is not applied (the
    // glides follow it from the first block). Call after reset. [audio-thread]
    void settle() noexcept;

    // The stages whose plain per-frame forms run instead of their fast forms, for the tests that
    // hold the fast forms to the plain ones bit for bit over the whole chain (and name the stage
    // that breaks ranks); nothing else sets them. 0, the default, runs every fast form. Set
    // between blocks. [audio-thread]
    enum PlainStage : unsigned {
        kPlainDistance = 1u << 0,
        kPlainTilt = 1u << 1,
        kPlainGenerator = 1u << 2,
        kPlainWidth = 1u << 3,
        kPlainPanner = 1u << 4,
        kPlainLfo = 1u << 5,  // skipped blocks and the tremolo
        kPlainEvery = (1u << 6) - 1,
    };
    void setPlainStages(unsigned stages) noexcept { plainStages_ = stages; }

    // ---- The editor's displays ------------------------------------------------------------------
    // After every block (a silenced one too) the audio thread feeds the panorama display (pan,
    // distance, tilt, tremolo gain) and then the phase display (the final output samples), but
    // only while it holds the editor (tryAcquireGraphics); when the editor is busy or absent the
    // block is not shown. The client does not own the displays: the editor does, and tells the
    // client which ones to feed.
    //
    // The editor (VelmoraGUI) calls attachDisplays(panorama, phase) in its constructor and
    // attachDisplays(nullptr, nullptr) first thing in its destructor. Both moments are safe without
    // waiting: createGraphics runs before the client publishes the editor to the audio thread, and
    // destroyGraphics takes the editor away from the audio thread, for good, before destroying it.
    // So a block that arrives while the editor is being destroyed is never fed to a freed display.
    // At any other time attachDisplays takes the editor itself, waiting for a feed in progress to
    // end. Either pointer may be null (that display is not fed). [main-thread]
    void attachDisplays(PanoramaDisplay* panorama, PhaseDisplay* phase) noexcept;
    PanoramaDisplay* panoramaDisplay() const noexcept { return panoramaDisplay_; }
    PhaseDisplay* phaseDisplay() const noexcept { return phaseDisplay_; }

private:
    // The per-block values of the chain that the LFO does not touch.
    struct ChainSettings {
        float widthTarget, headSize, spectral, levelPan, outBlend;
        float generatorAmount, generatorDelayMs, generatorLowpassHz;
    };
    // Every parameter read once for a block, as the chain uses it.
    struct BlockValues {
        float wet, panDegrees, pan, distanceKnob, distance, tilt;
        bool testMono;
        LFOSettings lfo;
        float depthPan, depthDistance, depthGain, depthTilt;
        ChainSettings chain;
    };
    BlockValues readBlockValues() const noexcept;
    // The panner's cue amounts and level for a (modulated) distance and the distance model's gain
    // for it: what runChain hands the panner and settle() settles it on, from this one place.
    struct PannerArguments {
        float headSize, spectral, levelPan, gain;
    };
    static PannerArguments pannerArguments(const ChainSettings& chain, float distance,
                                           float distanceGain) noexcept;
    // Runs distance, tilt, generator, width and panner over one run of frames (inputs to outputs).
    void runChain(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                  std::int32_t frames, const ChainSettings& chain, float pan, float distance,
                  float tiltDb) noexcept;

    float sampleRate_ = 0.0f;
    double sampleRateDouble_ = 0.0;
    StereoGenerator stereoGenerator_;
    PsychoacousticPanner panner_;
    TiltFilter tiltFilter_;
    DistanceModel distance_;
    LFO lfo_;
    korvo::ExpSmoother widthSmoother_;
    std::int64_t silentFrames_ = 0;
    std::int64_t silenceLimit_ = 0;
    bool asleep_ = false;  // the last block was silenced
    // Sanitised copies of bad input blocks; their length is the largest block reset prepared for.
    korvo::Vec<float> cleanLeft_{32}, cleanRight_{32};
    PanoramaState panorama_;
    unsigned plainStages_ = 0;
    // Fed only while the audio thread holds the editor; written as attachDisplays says.
    PanoramaDisplay* panoramaDisplay_ = nullptr;
    PhaseDisplay* phaseDisplay_ = nullptr;
};

}  // namespace velmora
