// VST3Client's audio processor: bus arrangements, set-up, and process, which turns the host's
// ProcessData into HostProcessor calls (korvo/client/hostprocessor.h).
#include <algorithm>
#include <cmath>

#include "korvo/core/fpcontrol.h"
#include "korvo/vst3/client.h"

namespace korvo::vst3 {

tresult VST3Client::setBusArrangements(SpeakerArrangement* inputs, int32 numIns, SpeakerArrangement* outputs,
                                       int32 numOuts) noexcept {
    if (numIns < 0 || numOuts < 0) return kInvalidArgument;
    if ((numIns > 0 && inputs == nullptr) || (numOuts > 0 && outputs == nullptr)) return kInvalidArgument;
    if (numIns > static_cast<int32>(audioInputs_.size()) ||
        numOuts > static_cast<int32>(audioOutputs_.size()))
        return kResultFalse;
    // Only what the channels mean to us: mono (kSpeakerM) or left/right in, left/right out. Other
    // two-channel layouts (centre + LFE, a surround or side pair) are refused, not reinterpreted.
    auto channelsOf = [](SpeakerArrangement arrangement) -> std::int32_t {
        if (arrangement == kArrMono) return 1;
        if (arrangement == kArrStereo) return 2;
        return -1;
    };
    const std::int32_t nIn = numIns == 1 ? channelsOf(inputs[0]) : 0;
    const std::int32_t nOut = numOuts == 1 ? channelsOf(outputs[0]) : 0;
    if (nIn < 0 || nOut < 0 || !client_->isLegalChannelConfig(nIn, nOut)) return kResultFalse;
    if (numIns == 1) {
        audioInputs_[0].arrangement = inputs[0];
        audioInputs_[0].info.channelCount = nIn;
    }
    if (numOuts == 1) {
        audioOutputs_[0].arrangement = outputs[0];
        audioOutputs_[0].info.channelCount = nOut;
    }
    prepareProcessing();
    return kResultOk;
}

tresult VST3Client::getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement* arr) noexcept {
    Vec<BusEntry>* list = dir == kOutput ? &audioOutputs_ : (dir == kInput ? &audioInputs_ : nullptr);
    if (list == nullptr || index < 0 || index >= static_cast<int32>(list->size())) return kInvalidArgument;
    if (arr == nullptr) return kInvalidArgument;
    *arr = (*list)[static_cast<std::size_t>(index)].arrangement;
    return kResultOk;
}

uint32 VST3Client::getLatencySamples() noexcept {
    FPControl guard;
    return static_cast<uint32>(std::max<std::int32_t>(0, client_->latencySamples(sampleRate_.load())));
}

tresult VST3Client::setupProcessing(const ProcessSetup* setup) noexcept {
    FPControl guard;
    if (setup == nullptr) return kInvalidArgument;
    // A rate that is not a positive number up to 10 MHz, or a block size below 1, cannot size
    // anything sensibly.
    if (!(setup->sampleRate > 0.0 && setup->sampleRate <= kMaxSampleRate) || setup->maxSamplesPerBlock < 1)
        return kInvalidArgument;
    const float rate = static_cast<float>(setup->sampleRate);
    const bool changed = !(rate == sampleRateHostView_);  // also true when either is NaN
    sampleRateHostView_ = rate;
    if (changed && componentHandler_ != nullptr) componentHandler_->restartComponent(kLatencyChanged);
    sampleRate_.store(rate);
    maxSamplesPerBlock_.store(setup->maxSamplesPerBlock);
    prepareProcessing();
    return setup->symbolicSampleSize == kSample32 ? kResultOk : kResultFalse;
}

tresult VST3Client::setProcessing(TBool state) noexcept {
    if (state) processing_->requestReset();
    return kResultOk;
}

uint32 VST3Client::getTailSamples() noexcept {
    const float samples = sampleRate_.load() * client_->tailSizeInSeconds() + 0.5f;
    if (!(samples >= 0.0f)) return 0;  // also NaN
    if (samples >= 4294967040.0f) return 0xFFFFFF00u;
    return static_cast<uint32>(samples);
}

// Sizes the client and the buffers for the current rate, block size and bus arrangement; main
// thread only, so process itself never allocates. Done again only when one of them changed.
// [main-thread]
void VST3Client::prepareProcessing() noexcept {
    const std::int32_t nIn = audioInputs_.empty() ? 0 : audioInputs_[0].info.channelCount;
    const std::int32_t nOut = audioOutputs_.empty() ? 0 : audioOutputs_[0].info.channelCount;
    processing_->prepare(sampleRate_.load(), maxSamplesPerBlock_.load(), nIn, nOut);
}

void VST3Client::applyParameterChanges(IParameterChanges* changes) noexcept {
    if (changes == nullptr) return;
    const std::int32_t queues = changes->getParameterCount();
    const std::int32_t paramCount = client_->parameterCount();
    for (std::int32_t q = 0; q < queues; ++q) {
        IParamValueQueue* queue = changes->getParameterData(q);
        if (queue == nullptr) continue;
        const std::int32_t points = queue->getPointCount();
        if (points <= 0) continue;
        int32 offset = 0;
        ParamValue value = 0.0;
        if (queue->getPoint(points - 1, offset, value) != kResultOk) continue;
        const ParamID id = queue->getParameterId();
        if (id == kProgramParamId) {
            // The host hears of the other parameters' new values on the main thread.
            if (applyProgramChange(value)) parameterValuesChanged_.store(1);
        } else if (id == kBypassParamId) {
            if (!isNaN(value)) processing_->setBypassed(value >= 0.5);
        } else if (id < static_cast<ParamID>(paramCount)) {
            if (!isNaN(value))
                client_->setParameterFromHost(static_cast<std::int32_t>(id),
                                              static_cast<float>(clamp01(value)));
        }
    }
}

tresult VST3Client::process(ProcessData* dataPointer) noexcept {
    FPControl guard;
    if (dataPointer == nullptr) return kResultOk;
    ProcessData& data = *dataPointer;

    // Parameter changes first: all changes of a block apply at its start. A call without samples
    // (a host's parameter flush, with or without buses and buffers) does that and nothing else.
    applyParameterChanges(data.inputParameterChanges);
    if (data.numSamples <= 0) return kResultOk;

    if (data.inputEvents != nullptr && client_->description().receivesMIDI) {
        const std::int32_t count = data.inputEvents->getEventCount();
        for (std::int32_t i = 0; i < count; ++i) {
            Event e{};
            if (data.inputEvents->getEvent(i, e) != kResultOk) continue;
            MidiMessage m{};
            m.offset = e.sampleOffset;
            if (e.type == kNoteOnEvent) {
                const float v = std::clamp(e.noteOn.velocity, 0.0f, 1.0f);
                m.status = static_cast<std::uint8_t>(0x90 | (e.noteOn.channel & 0x0F));
                m.data1 = static_cast<std::uint8_t>(e.noteOn.pitch & 0x7F);
                m.data2 = static_cast<std::uint8_t>(std::lround(v * 127.0f));
            } else if (e.type == kNoteOffEvent) {
                const float v = std::clamp(e.noteOff.velocity, 0.0f, 1.0f);
                m.status = static_cast<std::uint8_t>(0x80 | (e.noteOff.channel & 0x0F));
                m.data1 = static_cast<std::uint8_t>(e.noteOff.pitch & 0x7F);
                m.data2 = static_cast<std::uint8_t>(std::lround(v * 127.0f));
            } else {
                continue;
            }
            client_->enqueueMidiFromHost(m);
        }
    }

    // The block is placed at the host's position when it gives one, else at our own running
    // count; either way the count then moves past the block, so the next block without a
    // context starts where this one ends.
    std::int64_t blockStart = timeInSamples_;
    if (const ProcessContext* context = data.processContext) {
        if (context->state & kTempoValid) tempo_ = context->tempo;
        blockStart = context->projectTimeSamples;
        hostIsPlaying_ = (context->state & kPlaying) != 0;
    }
    timeInSamples_ = blockStart + data.numSamples;

    // The host's channels of bus 0 of each direction (HostProcessor limits them to the client's).
    const std::int32_t nIn = (data.numInputs > 0 && data.inputs != nullptr) ? data.inputs[0].numChannels : 0;
    const std::int32_t nOut =
        (data.numOutputs > 0 && data.outputs != nullptr) ? data.outputs[0].numChannels : 0;
    float* const* hostIn = nIn > 0 ? data.inputs[0].channelBuffers32 : nullptr;
    float* const* hostOut = nOut > 0 ? data.outputs[0].channelBuffers32 : nullptr;
    processing_->process(hostIn, nIn, hostOut, nOut, data.numSamples,
                         HostTiming{tempo_, blockStart, hostIsPlaying_});
    return kResultOk;
}

}  // namespace korvo::vst3
