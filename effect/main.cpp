#include "effect/main.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>

#include "effect/dsp/rest.h"
#include "effect/gui.h"
#include "effect/panorama.h"
#include "effect/phasedisplay.h"

namespace velmora {

using korvo::HeapPtr;
using korvo::makeHeap;

namespace {

// A modulated block runs cell by cell. A cell holds whole glide chunks of the filters, so a cell's
// filters glide as they would over the same frames of an unmodulated block, and it fits one piece
// of the panner, which then takes it in one pass.
static_assert(LFO::kCellFrames % tessary::InterpolatedBiquad::kChunkSize == 0,
              "an LFO cell must hold whole filter glide chunks");
static_assert(PsychoacousticPanner::kPieceFrames % LFO::kCellFrames == 0,
              "an LFO cell must fit the panner's pieces");

constexpr float kDecibelsToNepers = 0.115129255f;  // ln(10) / 20, as the float all gains use
constexpr std::int32_t kMaxFrames = 512;

// Reads a parameter's plain value for the DSP: one atomic load, no lock.
template <class P>
auto plain(const korvo::Client& client, std::int32_t index) noexcept {
    return static_cast<const P&>(client.parameter(index)).value();
}

float floatParam(const korvo::Client& client, std::int32_t index) noexcept {
    return static_cast<float>(plain<korvo::FloatParameter>(client, index));
}

bool isSilent(const float* samples, std::int32_t frames) noexcept {
    for (std::int32_t i = 0; i < frames; ++i)
        if (samples[i] != 0.0f) return false;  // -0.0 counts as zero, NaN does not
    return true;
}

// Largest input magnitude the chain takes (+120 dB over full scale): beyond it nothing is music, and
// the bound keeps every filter's state far from overflow.
constexpr float kInputLimit = 1.0e6f;

// True when every sample's magnitude is at most `limit` (NaN fails the comparison); four at a time.
bool allWithin(const float* samples, std::int32_t frames, float limit) noexcept {
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    const __m128 bound = _mm_set1_ps(limit);
    __m128 within = _mm_castsi128_ps(_mm_set1_epi32(-1));
    std::int32_t i = 0;
    for (; i + 4 <= frames; i += 4)
        within = _mm_and_ps(within, _mm_cmple_ps(_mm_and_ps(_mm_loadu_ps(samples + i), magnitude), bound));
    bool all = _mm_movemask_ps(within) == 0xF;
    for (; i < frames; ++i) all &= std::fabs(samples[i]) <= limit;
    return all;
}

// True when every sample is finite and within the limit.
bool isClean(const float* samples, std::int32_t frames) noexcept {
    return allWithin(samples, frames, kInputLimit);
}

// Non-finite samples become silence and huge ones are held at the limit.
void sanitise(const float* in, float* out, std::int32_t frames) noexcept {
    for (std::int32_t i = 0; i < frames; ++i) {
        const float x = in[i];
        out[i] = std::fabs(x) <= std::numeric_limits<float>::max() ? std::clamp(x, -kInputLimit, kInputLimit)
                                                                   : 0.0f;
    }
}

bool isFinite(const float* samples, std::int32_t frames) noexcept {
    return allWithin(samples, frames, std::numeric_limits<float>::max());
}

void zero(float* samples, std::int32_t frames) noexcept {
    for (std::int32_t i = 0; i < frames; ++i) samples[i] = 0.0f;
}

// Distance modulation at 100 % spans three quarters of the way to either end of its range.
constexpr float kDistanceSweep = 0.75f;

// Moves `base` toward `high` for m > 0 and toward `low` for m < 0, by the fraction |m| (<= 1) of the
// way: the result stays in [low, high], and m = 0 gives base exactly.
float sweep(float base, float low, float high, float m) noexcept {
    if (m > 0.0f) return base + m * (high - base);
    if (m < 0.0f) return base + m * (base - low);
    return base;
}

}  // namespace

VelmoraClient::VelmoraClient() {
    initialize();
}

VelmoraClient::~VelmoraClient() {
    // The editor reads this object's members: take it away from the audio thread first.
    destroyGraphics();
}

korvo::PluginDescription VelmoraClient::buildDescription() {
    korvo::PluginDescription d;
    d.vendorName = "Tessary";
    d.vendorUniqueID = "Tsry";
    d.vendorSupportEmail = "support@tessary.example";
    d.pluginName = "Velmora";
    d.pluginHomepage = "https://tessary.example/velmora";
    d.pluginUniqueID = "@v17";
    d.versionMajor = 1;
    d.versionMinor = 4;
    d.versionPatch = 0;
    d.hasGUI = true;
    d.receivesMIDI = false;
    d.category = 5;  // spatial effect
    d.bundleIdentifiers[0] = "example.tessary.velmora";
    d.bundleIdentifiers[1] = "example.tessary.velmora.au";
    d.bundleIdentifiers[2] = "example.tessary.velmora.aax";
    return d;
}

korvo::Vec<korvo::ChannelConfig> VelmoraClient::buildChannelConfigs() {
    korvo::Vec<korvo::ChannelConfig> configs;
    configs.push({1, 2});
    configs.push({2, 2});
    return configs;
}

korvo::ParameterList VelmoraClient::buildParameters() {
    using namespace korvo;
    const char* degree = "\xC2\xB0";
    ParameterList p;
    p.reserve(kParamCount);
    // Minimum, maximum and default of the linear and logarithmic parameters are single-precision
    // constants, widened to double when stored (0.2 is kept as 0.20000000298023224).
    auto linear = [&](const char* name, const char* label, float min, float max, float def) {
        const auto index = static_cast<std::int32_t>(p.size());
        p.push_back(HeapPtr<Parameter>(heapNew<LinearFloatParameter>(index, name, label, min, max, def)));
    };
    auto logarithmic = [&](const char* name, const char* label, float min, float max, float def) {
        const auto index = static_cast<std::int32_t>(p.size());
        p.push_back(HeapPtr<Parameter>(heapNew<LogFloatParameter>(index, name, label, min, max, def)));
    };
    auto boolean = [&](const char* name, bool def) {
        const auto index = static_cast<std::int32_t>(p.size());
        p.push_back(HeapPtr<Parameter>(heapNew<BoolParameter>(index, name, def)));
    };
    auto integer = [&](const char* name, std::int32_t min, std::int32_t max, std::int32_t def) {
        const auto index = static_cast<std::int32_t>(p.size());
        p.push_back(HeapPtr<Parameter>(heapNew<IntegerParameter>(index, name, "", min, max, def)));
    };
    auto enumeration = [&](const char* name, std::initializer_list<std::string_view> values,
                           std::int32_t def) {
        const auto index = static_cast<std::int32_t>(p.size());
        p.push_back(HeapPtr<Parameter>(heapNew<EnumParameter>(index, name, values, def)));
    };

    linear("Distance", "", -24.0f, 6.0f, 0.0f);
    linear("Stereo Width", "%", 0.0f, 200.0f, 100.0f);
    linear("M-to-S Amount.", "%", 0.0f, 100.0f, 0.0f);
    logarithmic("M-to-S Delay", "ms", 3.0f, 12.0f, 6.0f);
    logarithmic("M-to-S Lowpass", "kHz", 0.2f, 22.0f, 2.1f);
    linear("Tilt", "dB", -6.0f, 6.0f, 0.0f);
    linear("Pan", degree, -90.0f, 90.0f, 0.0f);
    linear("Head size", "%", 0.0f, 200.0f, 100.0f);
    linear("Spectral Pan", "%", 0.0f, 200.0f, 100.0f);
    enumeration("LFO Wave", {"sine", "tri", "square", "saw", "random"}, 0);
    boolean("LFO Synced", true);
    enumeration("LFO Tempo",
                {"128/4", "64/4", "32/4", "16/4", "12/4", "8/4", "4/4", "3/4", "2/4", "1/4", "3/16", "2/16"},
                5);
    linear("LFO Phase", degree, -180.0f, 180.0f, 0.0f);
    logarithmic("LFO Freq", "Hz", 0.05f, 10.0f, 1.0f);
    linear("LFO > Pan", "%", -100.0f, 100.0f, 0.0f);
    linear("LFO > Distance", "%", -100.0f, 100.0f, 0.0f);
    linear("LFO > Gain", "%", -100.0f, 100.0f, 0.0f);
    linear("LFO > Tilt", "%", -100.0f, 100.0f, 0.0f);
    p.push_back(HeapPtr<Parameter>(heapNew<GainParameter>(kOutputLevel, "Output Level", 18.0, 0.0)));
    linear("Dry / Wet", "%", 0.0f, 100.0f, 100.0f);
    boolean("Test Mono", false);
    integer("Reserved #0", 0, 16, 0);
    linear("Level pan", "%", 0.0f, 200.0f, 100.0f);
    linear("Reserved #2", "%", 0.0f, 200.0f, 100.0f);
    linear("Reserved #3", "%", 0.0f, 200.0f, 100.0f);
    linear("Reserved #4", "%", 0.0f, 1.0f, 0.0f);
    linear("Reserved #5", "%", 0.0f, 1.0f, 0.5f);
    linear("Reserved #6", "%", 0.0f, 1.0f, 0.5f);
    linear("Reserved #7", "%", 0.0f, 1.0f, 0.5f);
    boolean("Reserved #8", false);
    linear("Reserved #9", "", 0.0f, 1.0f, 0.0f);
    boolean("Reserved #10", true);
    integer("Reserved #11", 0, 11, 5);
    linear("Reserved #12", "", -180.0f, 180.0f, 0.0f);
    logarithmic("Reserved #13", "", 0.05f, 10.0f, 1.0f);
    linear("Reserved #14", "", -100.0f, 100.0f, 0.0f);
    linear("Reserved #15", "", -100.0f, 100.0f, 0.0f);
    linear("Reserved #16", "", -100.0f, 100.0f, 0.0f);
    linear("Reserved #17", "", -100.0f, 100.0f, 0.0f);
    integer("Reserved #18", 1, 12, 6);
    linear("Reserved #19", "", -180.0f, 180.0f, 0.0f);
    linear("Reserved #20", "", 0.0f, 1.0f, 0.0f);
    // The reserved parameters keep their places (IDs, presets, state) but nothing reads them: hosts
    // need not show or automate them.
    for (const HeapPtr<Parameter>& parameter : p)
        if (parameter->name().starts_with("Reserved")) parameter->setHidden(true);
    return p;
}

korvo::PresetList VelmoraClient::buildPresets() {
    constexpr float keep = std::numeric_limits<float>::quiet_NaN();
    korvo::PresetList presets;
    // One factory preset: the defaults, then "Dry / Wet" 100 %, the "Test Mono" flag, "Reserved #0"
    // at 0, and the given normalized values of parameters 0 to 19 (not finite: keep the default).
    auto add = [&](const char* name, std::initializer_list<std::pair<std::int32_t, float>> values,
                   bool testMono) {
        korvo::Preset preset = korvo::buildDefaultPreset(*this);
        preset.name = name;
        float given[20];
        for (float& v : given) v = keep;
        given[kDryWet] = 1.0f;
        for (const auto& [index, value] : values) given[index] = value;
        for (std::int32_t i = 0; i < 20; ++i)
            if (std::isfinite(given[i])) preset.normalizedValues[static_cast<std::size_t>(i)] = given[i];
        preset.normalizedValues[kTestMono] = testMono ? 1.0f : 0.0f;
        preset.normalizedValues[kReserved0] = 0.0f;
        presets.push_back(std::move(preset));
    };
    add("Default", {}, false);
    add("Left 75%", {{kPan, 0.125f}}, false);
    add("Left 25%", {{kPan, 0.375f}}, false);
    add("Right 25% ", {{kPan, 0.625f}}, false);
    add("Right 75% ", {{kPan, 0.875f}}, false);
    add("Delay Pan Only", {{kPan, 0.0f}, {kHeadSize, 0.75f}, {kSpectralPan, 0.0f}}, false);
    add("Spectral Pan Only", {{kPan, 1.0f}, {kHeadSize, 0.0f}, {kSpectralPan, 1.0f}}, false);
    add("Far-Left", {{kDistance, 0.2f}, {kPan, 0.0f}, {kOutputLevel, 1.0f}}, false);
    add("Far-Center", {{kDistance, 0.2f}, {kPan, 0.5f}, {kOutputLevel, 1.0f}}, false);
    add("Far-Right", {{kDistance, 0.2f}, {kPan, 1.0f}, {kOutputLevel, 1.0f}}, false);
    add("Left Brain", {{kDistance, 0.93f}, {kPan, 0.0f}, {kOutputLevel, 0.32f}}, false);
    add("Right Brain", {{kDistance, 0.93f}, {kPan, 1.0f}, {kOutputLevel, 0.32f}}, false);
    while (presets.size() < kPresetCount) add("Default", {}, false);
    return presets;
}

korvo::HeapPtr<korvo::IGraphics> VelmoraClient::createGraphics() {
    return korvo::makeHeap<VelmoraGUI>(*this);
}

std::int32_t VelmoraClient::latencySamples(double) noexcept {
    return PsychoacousticPanner::kBaseDelaySamples;  // the whole chain's delay, at every rate
}

float VelmoraClient::tailSizeInSeconds() noexcept {
    return 0.2f;
}

std::int32_t VelmoraClient::maxFramesInProcess() noexcept {
    return kMaxFrames;
}

void VelmoraClient::reset(double sampleRate, std::int32_t maxFrames, std::int32_t, std::int32_t) noexcept {
    const auto rate = static_cast<float>(sampleRate);
    if (maxFrames < 0) maxFrames = 0;
    // Sizing: each piece allocates only when its size changes, so a reset at the same rate and block
    // size allocates nothing. The state itself is set by resetState.
    stereoGenerator_.reset(rate, 0.04f, maxFrames);
    panner_.reset(rate, maxFrames);
    tiltFilter_.reset(rate, maxFrames);
    distance_.reset(rate);
    if (maxFrames == 0) {
        for (korvo::Vec<float>* buffer : {&cleanLeft_, &cleanRight_}) buffer->release();
    } else if (cleanLeft_.length() != static_cast<std::size_t>(maxFrames)) {
        for (korvo::Vec<float>* buffer : {&cleanLeft_, &cleanRight_})
            buffer->resize(static_cast<std::size_t>(maxFrames));
    }
    sampleRate_ = rate;
    sampleRateDouble_ = sampleRate;
    resetState();
}

void VelmoraClient::resetState() noexcept {
    stereoGenerator_.restart();
    panner_.restart();
    tiltFilter_.restart();
    distance_.reset(sampleRate_);
    widthSmoother_.initialise(1.0f, 0.04f, sampleRate_);
    // The random seed is per instance: the low 32 bits of this object's address.
    lfo_.reset(sampleRate_, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(this)));
    silentFrames_ = 0;
    asleep_ = false;
    silenceLimit_ = static_cast<std::int64_t>(sampleRateDouble_ * 0.2 + 0.5);
}

VelmoraClient::BlockValues VelmoraClient::readBlockValues() const noexcept {
    // Every parameter once for the whole block, in single precision.
    BlockValues b;
    b.wet = floatParam(*this, kDryWet) * 0.01f;
    const float width = floatParam(*this, kStereoWidth) * 0.01f;
    b.panDegrees = floatParam(*this, kPan);
    b.pan = (b.panDegrees * b.wet) / 90.0f;
    b.distanceKnob = floatParam(*this, kDistance);
    b.distance = b.distanceKnob * b.wet;
    b.tilt = floatParam(*this, kTilt);
    const float outputGain = std::exp(floatParam(*this, kOutputLevel) * kDecibelsToNepers);  // -inf dB -> 0
    b.testMono = plain<korvo::BoolParameter>(*this, kTestMono);
    b.lfo.wave = static_cast<LFOWave>(std::clamp(plain<korvo::IntegerParameter>(*this, kLfoWave), 0, 4));
    b.lfo.synced = plain<korvo::BoolParameter>(*this, kLfoSynced);
    b.lfo.tempoIndex = plain<korvo::IntegerParameter>(*this, kLfoTempo);
    b.lfo.phaseDegrees = floatParam(*this, kLfoPhase);
    b.lfo.freqHz = floatParam(*this, kLfoFreq);
    b.depthPan = floatParam(*this, kLfoToPan) * 0.01f;
    b.depthDistance = floatParam(*this, kLfoToDistance) * 0.01f;
    b.depthGain = floatParam(*this, kLfoToGain) * 0.01f;
    b.depthTilt = floatParam(*this, kLfoToTilt) * 0.01f;
    b.chain.widthTarget = width + (1.0f - width) * (1.0f - b.wet);
    b.chain.headSize = floatParam(*this, kHeadSize) * 0.01f;
    b.chain.spectral = floatParam(*this, kSpectralPan) * 0.01f;
    b.chain.levelPan = floatParam(*this, kLevelPan) * 0.01f;
    b.chain.outBlend = outputGain + (1.0f - outputGain) * (1.0f - b.wet);
    b.chain.generatorAmount = floatParam(*this, kMtoSAmount) * 0.01f * b.wet;
    b.chain.generatorDelayMs = floatParam(*this, kMtoSDelay);
    b.chain.generatorLowpassHz = floatParam(*this, kMtoSLowpass) * 1000.0f;
    return b;
}

VelmoraClient::PannerArguments VelmoraClient::pannerArguments(const ChainSettings& chain, float distance,
                                                              float distanceGain) noexcept {
    const float closeness = std::max(0.0f, distance / 6.0f);
    const float psyScale = 1.0f - closeness;  // at distance +6 the pan cues are gone
    // 0.5 undoes the width stage's doubling.
    return {chain.headSize * psyScale, chain.spectral * psyScale, chain.levelPan * psyScale,
            distanceGain * 0.5f * chain.outBlend};
}

void VelmoraClient::settle() noexcept {
    const BlockValues b = readBlockValues();
    const ChainSettings& chain = b.chain;
    // The arguments runChain hands each stage, without modulation.
    const PannerArguments cues = pannerArguments(chain, b.distance, distance_.settle(b.distance));
    tiltFilter_.settle(b.tilt * b.wet);
    stereoGenerator_.settle(chain.generatorAmount, chain.generatorDelayMs);
    runToRest(widthSmoother_, chain.widthTarget);
    panner_.settle(b.pan, cues.headSize, cues.spectral, cues.levelPan, cues.gain);
    runToRest(lfo_.gainDepth, b.depthGain * b.wet);
}

void VelmoraClient::runChain(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                             std::int32_t n, const ChainSettings& chain, float pan, float distance,
                             float tiltDb) noexcept {
    const float distanceGain =
        (plainStages_ & kPlainDistance) != 0
            ? distance_.processBlockPlain(inLeft, inRight, distance, outLeft, outRight, n)
            : distance_.processBlock(inLeft, inRight, distance, outLeft, outRight, n);
    const PannerArguments cues = pannerArguments(chain, distance, distanceGain);

    // Tone and generated image before the width stage, so "Stereo Width" also scales the generated side.
    if ((plainStages_ & kPlainTilt) != 0)
        tiltFilter_.processBlockPlain(outLeft, outRight, tiltDb, n);
    else
        tiltFilter_.processBlock(outLeft, outRight, tiltDb, n);
    if ((plainStages_ & kPlainGenerator) != 0)
        stereoGenerator_.processBlockPlain(outLeft, outRight, chain.generatorAmount, chain.generatorDelayMs,
                                           chain.generatorLowpassHz, n);
    else
        stereoGenerator_.processBlock(outLeft, outRight, chain.generatorAmount, chain.generatorDelayMs,
                                      chain.generatorLowpassHz, n);

    // Width (mid/side): with s = 1 this gives 2L and 2R.
    if ((plainStages_ & kPlainWidth) != 0)
        applyWidthPlain(outLeft, outRight, widthSmoother_, chain.widthTarget, n);
    else
        applyWidth(outLeft, outRight, widthSmoother_, chain.widthTarget, n);

    if ((plainStages_ & kPlainPanner) != 0)
        panner_.processBlockPlain(outLeft, outRight, pan, cues.headSize, cues.spectral, cues.levelPan,
                                  cues.gain, n);
    else
        panner_.processBlock(outLeft, outRight, pan, cues.headSize, cues.spectral, cues.levelPan, cues.gain,
                             n);
}

void VelmoraClient::processAudio(const float* const* inputs, std::int32_t numInputs, float* const* outputs,
                                 std::int32_t numOutputs, std::int32_t frames,
                                 korvo::HostTiming timing) noexcept {
    if (numOutputs < 2 || outputs == nullptr) return;
    float* outLeft = outputs[0];
    float* outRight = outputs[1];
    const std::int32_t n = frames > 0 ? frames : 0;
    // Without inputs, or with more frames than reset prepared for, nothing sensible can be computed.
    if (numInputs < 1 || inputs == nullptr || static_cast<std::size_t>(n) > cleanLeft_.length()) {
        zero(outLeft, n);
        zero(outRight, n);
        return;
    }
    const float* inLeft = inputs[0];
    const float* inRight = numInputs == 2 ? inputs[1] : inputs[0];  // mono feeds both sides
    // Bad samples from the host (NaN, infinities, absurd magnitudes) would poison the filters for
    // good: they are treated as silence or held at the limit, in copies.
    if (!isClean(inLeft, n) || (inRight != inLeft && !isClean(inRight, n))) {
        sanitise(inLeft, cleanLeft_.data(), n);
        if (inRight != inLeft) sanitise(inRight, cleanRight_.data(), n);
        inRight = inRight == inLeft ? cleanLeft_.data() : cleanRight_.data();
        inLeft = cleanLeft_.data();
    }

    const BlockValues values = readBlockValues();
    const float wet = values.wet;
    const float panDegrees = values.panDegrees;
    const float pan = values.pan;
    const float distanceKnob = values.distanceKnob;
    const float distance = values.distance;
    const float tilt = values.tilt;
    const bool testMono = values.testMono;
    const LFOSettings& lfoSettings = values.lfo;
    const float depthPan = values.depthPan;
    const float depthDistance = values.depthDistance;
    const float depthGain = values.depthGain;
    const float depthTilt = values.depthTilt;

    // Silence: after silenceLimit frames of exact zeros the processors stop and keep their state.
    bool silenced = false;
    if (n == 0 || (isSilent(inLeft, n) && (inRight == inLeft || isSilent(inRight, n)))) {
        silenced = silentFrames_ >= silenceLimit_;
        silentFrames_ += n;
    } else {
        silentFrames_ = 0;
    }

    PanoramaState feed{1.0f, tilt * wet, distance, pan};
    if (silenced) {
        zero(outLeft, n);
        zero(outRight, n);
    } else {
        const ChainSettings& chain = values.chain;

        // The LFO runs whenever the chain runs, so its phase and random sequence go on while no depth
        // is set. With every depth at 0 the block runs in one piece, exactly as without an LFO.
        // "Dry / Wet" scales the modulation: at wet 0 there is none. The tremolo depth glides (with wet
        // included) and keeps the cells running until it has settled at exactly 0.
        lfo_.beginBlock(lfoSettings, timing, n);
        const float tremoloDepth = depthGain * wet;
        const bool modulated = (wet != 0.0f && (depthPan != 0.0f || depthDistance != 0.0f ||
                                                depthTilt != 0.0f || depthGain != 0.0f)) ||
                               lfo_.gainDepth.current != 0.0f;
        if (!modulated) {
            if ((plainStages_ & kPlainLfo) != 0)
                lfo_.skipPlain(lfoSettings, n);
            else
                lfo_.skip(lfoSettings, n);
            runChain(inLeft, inRight, outLeft, outRight, n, chain, pan, distance, tilt * wet);
        } else {
            for (std::int32_t done = 0; done < n;) {
                const LFOSegment segment = lfo_.nextSegment(lfoSettings, n - done);
                const float v = segment.value;
                const float modPan = (sweep(panDegrees, -90.0f, 90.0f, depthPan * v) * wet) / 90.0f;
                const float modDistance =
                    sweep(distanceKnob, -24.0f, 6.0f, kDistanceSweep * depthDistance * v) * wet;
                const float modTilt = sweep(tilt, -6.0f, 6.0f, depthTilt * v) * wet;
                float* left = outLeft + done;
                float* right = outRight + done;
                runChain(inLeft + done, inRight + done, left, right, segment.frames, chain, modPan,
                         modDistance, modTilt);
                // Tremolo per frame along the LFO's ramp: 1 - (|d| - d v) / 2 lies in [1 - |d|, 1].
                if (tremoloDepth != 0.0f || lfo_.gainDepth.current != 0.0f)
                    feed.gain = (plainStages_ & kPlainLfo) != 0
                                    ? lfo_.applyTremoloPlain(segment, tremoloDepth, left, right)
                                    : lfo_.applyTremolo(segment, tremoloDepth, left, right);
                feed.pan = modPan;
                feed.distance = modDistance;
                feed.tilt = modTilt;
                done += segment.frames;
            }
        }

        if (testMono) {
            for (std::int32_t i = 0; i < n; ++i) {
                const float m = (outLeft[i] + outRight[i]) * 0.5f;
                outLeft[i] = m;
                outRight[i] = m;
            }
        }
    }
    // Should anything still go wrong, the block is silenced and the chain starts afresh, so one bad
    // block never poisons the next.
    asleep_ = silenced;
    if (!isFinite(outLeft, n) || !isFinite(outRight, n)) {
        zero(outLeft, n);
        zero(outRight, n);
        resetState();
    }
    panorama_ = feed;

    // Editor feed, also after a silenced block; skipped when the editor is busy or absent.
    if (tryAcquireGraphics() != nullptr) {
        if (panoramaDisplay_ != nullptr)
            panoramaDisplay_->sendPanoramaState(sampleRate_, feed.gain, feed.tilt, feed.distance, feed.pan);
        if (phaseDisplay_ != nullptr) phaseDisplay_->sendPhaseSamples(outLeft, outRight, n, sampleRate_);
        releaseGraphics();
    }
}

void VelmoraClient::attachDisplays(PanoramaDisplay* panorama, PhaseDisplay* phase) noexcept {
    // No editor published (inside createGraphics, or while destroyGraphics tears it down): the
    // audio thread cannot be feeding.
    if (graphics() == nullptr) {
        panoramaDisplay_ = panorama;
        phaseDisplay_ = phase;
        return;
    }
    while (tryAcquireGraphics() == nullptr) std::this_thread::yield();
    panoramaDisplay_ = panorama;
    phaseDisplay_ = phase;
    releaseGraphics();
}

}  // namespace velmora
