#pragma once
// VelmoraClient: the effect as a host-neutral plug-in client.
//
// It declares what the plug-in is (description, channel configurations, latency, tail, a 512-frame
// block limit), builds its 42 parameters and 32 factory presets, owns the DSP processors, prepares
// them in reset and runs the signal chain in processAudio:
//
//   input -> distance model -> width (mid/side, smoothed) -> psychoacoustic panner (with the output
//   level) -> "Test Mono" -> output, and the editor's displays are fed from the final samples.
//
// It is the only place where parameter values become DSP arguments: every parameter is read once
// per block with a single atomic load. "Dry / Wet" scales the amount of every effect (pan, distance,
// the width deviation from 1 and the output level deviation from unity) instead of cross-fading.
// After 0.2 s of exact digital silence at the input the processors stop and the output is zero until
// sound returns.
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

// What the effect's editor offers the audio thread: the displays' feeds. Both only try locks.
class IEffectDisplays {
public:
    virtual ~IEffectDisplays() = default;
    // The source as the panorama display shows it. [audio-thread]
    virtual void sendPanoramaState(float sampleRate, float gainValue, float tilt, float distance,
                                   float pan) noexcept = 0;
    // The final output samples of one block, for the phase scope. [audio-thread]
    virtual void sendPhaseSamples(const float* left, const float* right, std::int32_t frames,
                                  float sampleRate) noexcept = 0;
};

class VelmoraClient : public korvo::Client {
public:
    VelmoraClient();
    ~VelmoraClient() override;

    korvo::HeapPtr<korvo::IGraphics> createGraphics() override;
    void reset(double sampleRate, std::int32_t maxFrames, std::int32_t numInputs,
               std::int32_t numOutputs) noexcept override;
    std::int32_t latencySamples(double sampleRate) noexcept override;  // 2 at every rate
    float tailSizeInSeconds() noexcept override;                       // 0.2
    std::int32_t maxFramesInProcess() noexcept override;               // 512
    void processAudio(const float* const* inputs, std::int32_t numInputs, float* const* outputs,
                      std::int32_t numOutputs, std::int32_t frames, korvo::HostTiming timing) noexcept override;

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

private:
    float sampleRate_ = 0.0f;
    StereoGenerator stereoGenerator_;
    PsychoacousticPanner panner_;
    TiltFilter tiltFilter_;
    DistanceModel distance_;
    LFO lfo_;
    korvo::ExpSmoother widthSmoother_;
    std::int64_t silentFrames_ = 0;
    std::int64_t silenceLimit_ = 0;
    korvo::Vec<float> midBuffer_{32};
    korvo::Vec<float> sideBuffer_{32};
};

}  // namespace velmora
