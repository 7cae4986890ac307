#include "korvo/vst3/client.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "korvo/client/daw.h"
#include "korvo/core/fpcontrol.h"

namespace korvo::vst3 {

namespace {

// Text handed to the host: UTF-8 decoded to UTF-16 (a character beyond the basic plane as a
// surrogate pair; a malformed sequence as U+FFFD), at most 127 units, never a split pair,
// terminated.
void widenString128(const char* text, std::size_t length, char16* out) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t n = 0, i = 0;
    while (i < length) {
        const unsigned lead = bytes[i];
        std::uint32_t code = 0xFFFD;
        std::size_t extra = 0;
        std::uint32_t least = 0;
        if (lead < 0x80) {
            code = lead;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            extra = 1, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            extra = 3, code = lead & 0x07, least = 0x10000;
        }
        std::size_t used = 1;
        if (extra > 0) {
            bool valid = true;
            for (std::size_t k = 1; valid && k <= extra; ++k) {
                if (i + k >= length || (bytes[i + k] & 0xC0) != 0x80)
                    valid = false;
                else
                    code = (code << 6) | (bytes[i + k] & 0x3F);
            }
            if (valid && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
                used = extra + 1;
            } else {
                code = 0xFFFD;
            }
        }
        i += used;
        if (code >= 0x10000) {
            if (n + 2 > 127) break;
            code -= 0x10000;
            out[n++] = static_cast<char16>(0xD800 + (code >> 10));
            out[n++] = static_cast<char16>(0xDC00 + (code & 0x3FF));
        } else {
            if (n + 1 > 127) break;
            out[n++] = static_cast<char16>(code);
        }
    }
    out[n] = 0;
}

// Host text to UTF-8, up to the terminator or 128 units; an unpaired surrogate becomes U+FFFD.
std::size_t narrowString128(const char16* text, char* out, std::size_t capacity) noexcept {
    std::size_t n = 0;
    auto put = [&](std::uint32_t code) {
        char encoded[4];
        std::size_t size = 0;
        if (code < 0x80) {
            encoded[size++] = static_cast<char>(code);
        } else if (code < 0x800) {
            encoded[size++] = static_cast<char>(0xC0 | (code >> 6));
            encoded[size++] = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            encoded[size++] = static_cast<char>(0xE0 | (code >> 12));
            encoded[size++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            encoded[size++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            encoded[size++] = static_cast<char>(0xF0 | (code >> 18));
            encoded[size++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            encoded[size++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            encoded[size++] = static_cast<char>(0x80 | (code & 0x3F));
        }
        if (n + size >= capacity) return false;
        for (std::size_t k = 0; k < size; ++k) out[n++] = encoded[k];
        return true;
    };
    for (std::size_t i = 0; i < 128 && text[i] != 0; ++i) {
        std::uint32_t code = static_cast<std::uint16_t>(text[i]);
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < 128) {
            const std::uint32_t low = static_cast<std::uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (!put(code)) break;
    }
    out[n] = 0;
    return n;
}
void widenString128(const std::string& text, char16* out) noexcept {
    widenString128(text.data(), text.size(), out);
}
void widenString128(const char* text, char16* out) noexcept {
    widenString128(text, std::strlen(text), out);
}

SpeakerArrangement lowestBits(std::int32_t count) noexcept {
    if (count <= 0) return 0;
    if (count >= 64) return ~SpeakerArrangement{0};
    return (SpeakerArrangement{1} << count) - 1;
}

// The address behind a reference parameter. Hosts pass references as plain pointers, which may be
// null; the empty asm keeps the compiler from assuming otherwise.
template <class T>
T* hostPointer(T& ref) noexcept {
    T* p = &ref;
    __asm__("" : "+r"(p));
    return p;
}

bool isNaN(double v) noexcept {
    return v != v;
}

double clamp01(double v) noexcept {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

}  // namespace

bool readAll(IBStream* stream, std::vector<std::uint8_t>& out) noexcept {
    std::uint8_t piece[4096];
    for (;;) {
        int32 got = 0;
        const tresult result = stream->read(piece, static_cast<int32>(sizeof(piece)), &got);
        if (result != kResultOk || got <= 0) return true;
        got = std::min<int32>(got, static_cast<int32>(sizeof(piece)));
        if (out.size() + static_cast<std::size_t>(got) > static_cast<std::size_t>(kMaxStateBytes))
            return false;
        out.insert(out.end(), piece, piece + got);
    }
}

// Writes all bytes, in as many calls as the stream needs; false when a write fails or stalls.
bool writeAll(IBStream* stream, const std::uint8_t* bytes, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const int32 ask = static_cast<int32>(std::min<std::size_t>(size - done, 1 << 20));
        int32 written = 0;
        if (stream->write(const_cast<std::uint8_t*>(bytes + done), ask, &written) != kResultOk) return false;
        if (written <= 0 || written > ask) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// ---- VST3Client: life and identity -----------------------------------------------------------------

VST3Client::VST3Client(HeapPtr<Client> client) : client_(std::move(client)) {
    sampleRateHostView_ = std::numeric_limits<float>::quiet_NaN();
    hostCommand_ = makeHeap<VST3HostCommand>(*this);
    client_->setHostCommand(hostCommand_.get());
    presetStepCount_ = std::max<std::int32_t>(0, client_->presetBank().count() - 1);
    // Sized once for the largest channel counts, so process never grows them.
    const std::int32_t maxIn = std::max<std::int32_t>(0, client_->maxInputs());
    const std::int32_t maxOut = std::max<std::int32_t>(0, client_->maxOutputs());
    inputPointers_.resize(static_cast<std::size_t>(maxIn));
    outputPointers_.resize(static_cast<std::size_t>(maxOut));
    inputCopies_.resize(static_cast<std::size_t>(maxIn));
    spareOutputs_.resize(static_cast<std::size_t>(maxOut));
    dryLines_ = std::vector<Delayline>(static_cast<std::size_t>(maxIn));
}

VST3Client::~VST3Client() {
    client_.reset();
    if (componentHandler_ != nullptr) componentHandler_->release();
    if (hostApplication_ != nullptr) hostApplication_->release();
}

tresult VST3Client::queryInterface(const TUID iid, void** obj) noexcept {
    if (obj == nullptr) return kInvalidArgument;
    void* face = nullptr;
    if (uidEquals(iid, iidIAudioProcessor) || uidEquals(iid, iidFUnknown))
        face = static_cast<IAudioProcessor*>(&processor_);
    else if (uidEquals(iid, iidIComponent) || uidEquals(iid, iidIPluginBase))
        face = static_cast<IComponent*>(&component_);
    else if (uidEquals(iid, iidIEditController))
        face = static_cast<IEditController*>(&controller_);
    else if (uidEquals(iid, iidIEditController2))
        face = static_cast<IEditController2*>(&controller2_);
    else if (uidEquals(iid, iidIUnitInfo))
        face = static_cast<IUnitInfo*>(&unitInfo_);
    if (face == nullptr) {
        *obj = nullptr;
        return kNoInterface;
    }
    addRef();
    *obj = face;
    return kResultOk;
}

uint32 VST3Client::addRef() noexcept {
    return static_cast<uint32>(refCount_.fetch_add(1) + 1);
}

uint32 VST3Client::release() noexcept {
    const std::int32_t count = refCount_.fetch_sub(1) - 1;
    if (count == 0) heapDelete(this);
    return static_cast<uint32>(count);
}

// ---- Component ------------------------------------------------------------------------------------

tresult VST3Client::initialize(FUnknown* context) noexcept {
    if (hostApplication_ != nullptr) {
        hostApplication_->release();
        hostApplication_ = nullptr;
    }
    void* found = nullptr;
    if (context != nullptr && context->queryInterface(iidIHostApplication.data(), &found) == kResultOk &&
        found != nullptr) {
        hostApplication_ = static_cast<IHostApplication*>(found);
        String128 name = {};
        hostApplication_->getName(name);
        static_assert(sizeof(char16) == sizeof(char16_t));
        char16_t wide[128];
        std::memcpy(wide, name, sizeof(wide));
        narrowHostName(wide, hostName_, sizeof(hostName_));  // stops after 128 units, terminated or not
        hostKind_ = identifyHost(hostName_);
    }
    audioInputs_.clear();
    audioOutputs_.clear();
    eventInputs_.clear();
    sampleRateHostView_ = -42.0f;

    auto makeBus = [](MediaType type, BusDirection dir, std::int32_t channels, SpeakerArrangement arr,
                      const char* name) {
        BusEntry entry{};
        entry.active = true;
        entry.arrangement = arr;
        entry.info.mediaType = type;
        entry.info.direction = dir;
        entry.info.channelCount = channels;
        widenString128(name, entry.info.name);
        entry.info.busType = kMain;
        entry.info.flags = kDefaultActive;
        return entry;
    };
    const std::int32_t maxIn = client_->maxInputs();
    const std::int32_t maxOut = client_->maxOutputs();
    if (maxIn > 0) audioInputs_.push(makeBus(kAudio, kInput, maxIn, lowestBits(maxIn), "Audio Input"));
    if (maxOut > 0) audioOutputs_.push(makeBus(kAudio, kOutput, maxOut, lowestBits(maxOut), "Audio Output"));
    if (client_->description().receivesMIDI) eventInputs_.push(makeBus(kEvent, kInput, 1, 0, "MIDI Input"));
    return kResultOk;
}

tresult VST3Client::terminate() noexcept {
    if (hostApplication_ != nullptr) hostApplication_->release();
    hostApplication_ = nullptr;
    // Every host interface still held is dropped here.
    if (componentHandler_ != nullptr) componentHandler_->release();
    componentHandler_ = nullptr;
    return kResultOk;
}

Vec<VST3Client::BusEntry>* VST3Client::busList(MediaType type, BusDirection dir) noexcept {
    if (type == kAudio && dir == kInput) return &audioInputs_;
    if (type == kAudio && dir == kOutput) return &audioOutputs_;
    if (type == kEvent && dir == kInput) return &eventInputs_;
    if (type == kEvent && dir == kOutput) return &eventOutputs_;
    return nullptr;
}

int32 VST3Client::getBusCount(MediaType type, BusDirection dir) noexcept {
    Vec<BusEntry>* list = busList(type, dir);
    return list == nullptr ? 0 : static_cast<int32>(list->size());
}

tresult VST3Client::getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo* bus) noexcept {
    Vec<BusEntry>* list = busList(type, dir);
    if (list == nullptr || bus == nullptr) return kInvalidArgument;
    if (index < 0 || index >= static_cast<int32>(list->size())) return kResultFalse;
    *bus = (*list)[static_cast<std::size_t>(index)].info;
    return kResultOk;
}

tresult VST3Client::activateBus(MediaType type, BusDirection dir, int32 index, TBool state) noexcept {
    Vec<BusEntry>* list = busList(type, dir);
    if (list == nullptr) return kInvalidArgument;
    if (index < 0 || index >= static_cast<int32>(list->size())) return kResultFalse;
    (*list)[static_cast<std::size_t>(index)].active = state != 0;
    return kResultOk;
}

// ---- Processor ------------------------------------------------------------------------------------

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
    if (state) resetRequested_.store(1);
    return kResultOk;
}

uint32 VST3Client::getTailSamples() noexcept {
    const float samples = sampleRate_.load() * client_->tailSizeInSeconds() + 0.5f;
    if (!(samples >= 0.0f)) return 0;  // also NaN
    if (samples >= 4294967040.0f) return 0xFFFFFF00u;
    return static_cast<uint32>(samples);
}

std::int32_t VST3Client::programIndexFor(double value) const noexcept {
    if (isNaN(value)) return -1;
    const double scaled = static_cast<double>(presetStepCount_ + 1) * clamp01(value);
    return std::min(presetStepCount_, static_cast<std::int32_t>(scaled));
}

bool VST3Client::applyProgramChange(double value) noexcept {
    const std::int32_t index = programIndexFor(value);
    if (index < 0 || presetStepCount_ >= client_->presetBank().count()) return false;
    client_->presetBank().selectPresetFromHost(index);
    return true;
}

// Sizes the client and the adapter's buffers for the current rate, block size and bus
// arrangement; main thread only, so process itself never allocates. Done again only when one of
// them changed. [main-thread]
void VST3Client::prepareProcessing() noexcept {
    const float rate = sampleRate_.load();
    const std::int32_t block = maxSamplesPerBlock_.load();
    if (block < 1) return;  // not set up yet
    const std::int32_t nIn = audioInputs_.empty() ? 0 : audioInputs_[0].info.channelCount;
    const std::int32_t nOut = audioOutputs_.empty() ? 0 : audioOutputs_[0].info.channelCount;
    if (rate == lastSampleRate_ && block == lastBlockSize_ && nIn == lastInputCount_ &&
        nOut == lastOutputCount_)
        return;
    lastSampleRate_ = rate;
    lastBlockSize_ = block;
    lastInputCount_ = nIn;
    lastOutputCount_ = nOut;
    client_->resetFromHost(rate, block, nIn, nOut);
    const std::size_t frames = static_cast<std::size_t>(block);
    for (Vec<float>& copy : inputCopies_) copy.resize(frames);
    silentInput_.resize(frames);
    std::memset(silentInput_.data(), 0, frames * sizeof(float));
    for (Vec<float>& spare : spareOutputs_) spare.resize(frames);
    // The dry path of the bypass: the input delayed by what the client reports.
    latencySamples_ = std::max<std::int32_t>(0, client_->latencySamples(rate));
    for (Delayline& line : dryLines_) line.resize(latencySamples_ + block);
    bypassFadeStep_ = 1.0f / std::max(1.0f, std::round(kBypassFadeSeconds * rate));
    bypassMix_ = bypassed_.load() != 0 ? 1.0f : 0.0f;
    // The client starts fresh: the next process call need not reset it again.
    resetRequested_.store(0);
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
            if (!isNaN(value)) bypassed_.store(value >= 0.5 ? 1 : 0);
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

    // The host's channels, never more than the arrangement (and the client) takes.
    const std::int32_t arrangedIn = std::max<std::int32_t>(lastInputCount_, 0);
    const std::int32_t arrangedOut = std::max<std::int32_t>(lastOutputCount_, 0);
    std::int32_t nIn = (data.numInputs > 0 && data.inputs != nullptr) ? data.inputs[0].numChannels : 0;
    std::int32_t nOut = (data.numOutputs > 0 && data.outputs != nullptr) ? data.outputs[0].numChannels : 0;
    nIn = std::clamp<std::int32_t>(nIn, 0, client_->maxInputs());
    nOut = std::clamp<std::int32_t>(nOut, 0, client_->maxOutputs());
    float* const* hostIn = nIn > 0 ? data.inputs[0].channelBuffers32 : nullptr;
    float* const* hostOut = nOut > 0 ? data.outputs[0].channelBuffers32 : nullptr;

    const std::int32_t frames = data.numSamples;
    const std::int32_t block = lastBlockSize_;
    if (block < 1 || !client_->hasBeenReset()) {
        // Processing was never set up: nothing can run safely, so give silence.
        for (std::int32_t c = 0; c < nOut; ++c)
            if (hostOut != nullptr && hostOut[c] != nullptr)
                std::memset(hostOut[c], 0, static_cast<std::size_t>(frames) * sizeof(float));
        return kResultOk;
    }
    // A restart clears the client's state and the dry history; the buffers were sized on the main
    // thread. A bypass found on a restart needs no fade.
    const float bypassTarget = bypassed_.load() != 0 ? 1.0f : 0.0f;
    if (resetRequested_.exchange(0) != 0) {
        client_->resetStateFromHost();
        for (Delayline& line : dryLines_) line.clear();
        bypassMix_ = bypassTarget;
    }

    // Missing buses or channels: the client still gets the arranged channel counts, fed with
    // silence and writing into scratch, so its time goes on as the host's does.
    const std::int32_t runIn = nIn > 0 ? std::min(nIn, std::max(arrangedIn, 1)) : arrangedIn;
    const std::int32_t runOut = std::max(nOut, arrangedOut);
    HostTiming timing{tempo_, blockStart, hostIsPlaying_};
    // Pieces never longer than the buffers, should the host exceed the block size it announced.
    for (std::int32_t done = 0; done < frames;) {
        const std::int32_t piece = std::min(block, frames - done);
        for (std::int32_t c = 0; c < runIn; ++c) {
            const float* src =
                c < nIn && hostIn != nullptr && hostIn[c] != nullptr ? hostIn[c] + done : silentInput_.data();
            float* copy = inputCopies_[c].data();
            std::memcpy(copy, src, static_cast<std::size_t>(piece) * sizeof(float));
            // A sample that is not finite is silence, for the client and the bypass's dry path.
            for (std::int32_t i = 0; i < piece; ++i)
                copy[i] = std::fabs(copy[i]) <= std::numeric_limits<float>::max() ? copy[i] : 0.0f;
            inputPointers_[c] = copy;
        }
        for (std::int32_t c = 0; c < runOut; ++c) {
            float* dst = c < nOut && hostOut != nullptr ? hostOut[c] : nullptr;
            outputPointers_[c] = dst != nullptr ? dst + done : spareOutputs_[c].data();
        }
        HostTiming pieceTiming = timing;
        pieceTiming.timeInSamples = timing.timeInSamples + done;
        // The chain runs while bypassed too, so it is warm when the bypass ends.
        client_->processAudioFromHost(inputPointers_.data(), runIn, outputPointers_.data(), runOut, piece,
                                      pieceTiming);
        for (std::int32_t c = 0; c < runIn; ++c) dryLines_[c].feedBlock(inputCopies_[c].data(), piece);
        if (bypassMix_ != 0.0f || bypassTarget != 0.0f) {
            for (std::int32_t c = 0; c < runOut; ++c) {
                float* dst = c < nOut && hostOut != nullptr ? hostOut[c] : nullptr;
                outputPointers_[c] = dst != nullptr ? dst + done : spareOutputs_[c].data();
            }
            mixBypass(runIn, runOut, piece, bypassTarget);
        }
        done += piece;
    }
    return kResultOk;
}

// Crossfades the client's output (in the output pointers) with the dry input delayed by the
// reported latency, so toggling the bypass neither clicks nor shifts the audio. A mono input feeds
// both dry outputs. [audio-thread]
void VST3Client::mixBypass(std::int32_t runIn, std::int32_t runOut, std::int32_t frames,
                           float target) noexcept {
    const float start = bypassMix_;
    for (std::int32_t c = 0; c < runOut; ++c) {
        float* out = outputPointers_[c];
        const Delayline* dry = runIn > 0 ? &dryLines_[std::min(c, runIn - 1)] : nullptr;
        float mix = start;
        for (std::int32_t i = 0; i < frames; ++i) {
            if (mix != target)
                mix = target > mix ? std::min(target, mix + bypassFadeStep_)
                                   : std::max(target, mix - bypassFadeStep_);
            const float d = dry != nullptr ? dry->readWhole(latencySamples_ + (frames - 1 - i)) : 0.0f;
            out[i] = mix == 1.0f ? d : out[i] * (1.0f - mix) + d * mix;
        }
        bypassMix_ = mix;
    }
    if (runOut == 0) bypassMix_ = target;
}

// ---- State ----------------------------------------------------------------------------------------

tresult VST3Client::saveComponentState(IBStream* stream) noexcept {
    if (stream == nullptr) return kInvalidArgument;
    Vec<std::uint8_t> bytes = client_->presetBank().writeStateChunk();
    std::uint8_t header[2] = {0, static_cast<std::uint8_t>(bypassed_.load() != 0 ? 1 : 0)};
    if (!writeAll(stream, header, sizeof(header))) return kResultFalse;
    return writeAll(stream, bytes.data(), bytes.size()) ? kResultOk : kResultFalse;
}

tresult VST3Client::loadComponentState(IBStream* stream) noexcept {
    if (stream == nullptr) return kInvalidArgument;
    // The whole state first: streams may hand it out a few bytes per read, and need not seek.
    std::vector<std::uint8_t> bytes;
    if (!readAll(stream, bytes)) return kResultFalse;
    if (bytes.size() < 2 || bytes[0] != 0) return kResultFalse;
    // The chunk is checked whole before anything is applied; the bypass goes with it.
    const ChunkResult result = client_->presetBank().readStateChunk(bytes.data() + 2, bytes.size() - 2);
    if (!result.ok) return kResultFalse;
    bypassed_.store(bytes[1] != 0 ? 1 : 0);
    notifyParameterValuesChanged();
    return kResultOk;
}

void VST3Client::notifyParameterValuesChanged() noexcept {
    parameterValuesChanged_.store(0);
    if (componentHandler_ != nullptr) componentHandler_->restartComponent(kParamValuesChanged);
}

void VST3Client::deliverPendingNotifications() noexcept {
    if (parameterValuesChanged_.load() != 0) notifyParameterValuesChanged();
}

// ---- Controller -----------------------------------------------------------------------------------

int32 VST3Client::getParameterCount() noexcept {
    return client_->parameterCount() + 2;
}

tresult VST3Client::getParameterInfo(int32 index, ParameterInfo* info) noexcept {
    if (info == nullptr) return kInvalidArgument;
    if (index < 0 || index >= getParameterCount()) return kResultFalse;
    std::memset(info, 0, sizeof(ParameterInfo));
    info->unitId = kRootUnitId;
    if (index == 0) {
        info->id = kBypassParamId;
        widenString128("Bypass", info->title);
        widenString128("Byp", info->shortTitle);
        info->stepCount = 1;
        info->defaultNormalizedValue = 0.0;
        info->flags = kCanAutomate | kIsList | kIsBypass;
    } else if (index == 1) {
        info->id = kProgramParamId;
        widenString128("Preset", info->title);
        widenString128("Pre", info->shortTitle);
        info->stepCount = presetStepCount_;
        info->defaultNormalizedValue = 0.0;
        info->flags = kIsList | kIsProgramChange;
    } else {
        const Parameter& p = client_->parameter(index - 2);
        info->id = static_cast<ParamID>(index - 2);
        widenString128(p.name(), info->title);
        widenString128(p.name(), info->shortTitle);
        widenString128(p.label(), info->units);
        info->stepCount = p.stepCount();
        info->defaultNormalizedValue = p.getNormalizedDefault();
        if (p.isHidden())
            info->flags = kIsHidden;  // kept in place, neither shown nor automatable
        else
            info->flags = kCanAutomate | (dynamic_cast<const EnumParameter*>(&p) != nullptr ? kIsList : 0);
    }
    return kResultOk;
}

tresult VST3Client::getParamStringByValue(ParamID id, ParamValue value, char16* string) noexcept {
    if (string == nullptr) return kInvalidArgument;
    if (id == kProgramParamId) {
        const PresetBank& bank = client_->presetBank();
        const std::int32_t index = programIndexFor(value);
        if (presetStepCount_ >= 0 && presetStepCount_ < bank.count() && index >= 0)
            widenString128(bank.presetName(index), string);
        else
            widenString128("None", string);
        return kResultOk;
    }
    if (id == kBypassParamId) {
        widenString128(value >= 0.5 ? "Yes" : "No", string);
        return kResultOk;
    }
    if (id >= static_cast<ParamID>(client_->parameterCount())) return kResultFalse;
    char text[128] = {};
    client_->parameter(static_cast<std::int32_t>(id)).formatNormalized(value, text, sizeof(text));
    text[127] = 0;
    widenString128(text, string);
    return kResultOk;
}

tresult VST3Client::getParamValueByString(ParamID id, const char16* string, ParamValue* value) noexcept {
    if (string == nullptr || value == nullptr) return kInvalidArgument;
    if (id == kBypassParamId || id == kProgramParamId ||
        id >= static_cast<ParamID>(client_->parameterCount()))
        return kResultFalse;
    char text[4 * 128 + 1];
    const std::size_t n = narrowString128(string, text, sizeof(text));
    const ParseResult parsed =
        client_->parameter(static_cast<std::int32_t>(id)).parseToNormalized(std::string_view(text, n));
    if (!parsed.ok) return kResultFalse;
    *value = parsed.normalized;
    return kResultOk;
}

ParamValue VST3Client::normalizedParamToPlain(ParamID id, ParamValue value) noexcept {
    if (id == kProgramParamId) return std::max<std::int32_t>(0, programIndexFor(value));
    if (id == kBypassParamId)
        return isNaN(value) ? 0.0
                            : std::min(static_cast<double>(static_cast<int>(2.0 * clamp01(value))), 1.0);
    if (id >= static_cast<ParamID>(client_->parameterCount())) return 0.0;
    return value;
}

ParamValue VST3Client::plainParamToNormalized(ParamID id, ParamValue plain) noexcept {
    if (id == kProgramParamId) return presetStepCount_ == 0 ? 0.0 : plain / presetStepCount_;
    if (id == kBypassParamId) return plain;
    if (id >= static_cast<ParamID>(client_->parameterCount())) return 0.0;
    return plain;
}

ParamValue VST3Client::getParamNormalized(ParamID id) noexcept {
    if (id == kProgramParamId)
        return presetStepCount_ == 0
                   ? 0.0
                   : static_cast<double>(client_->presetBank().current()) / presetStepCount_;
    if (id == kBypassParamId) return bypassed_.load() != 0 ? 1.0 : 0.0;
    if (id >= static_cast<ParamID>(client_->parameterCount())) return 0.0;
    return client_->parameter(static_cast<std::int32_t>(id)).normalizedForHost();
}

tresult VST3Client::setParamNormalized(ParamID id, ParamValue value) noexcept {
    const bool known =
        id == kProgramParamId || id == kBypassParamId || id < static_cast<ParamID>(client_->parameterCount());
    if (!known) return kResultFalse;
    if (isNaN(value)) return kInvalidArgument;
    if (id == kProgramParamId) {
        if (applyProgramChange(value)) notifyParameterValuesChanged();
    } else if (id == kBypassParamId) {
        bypassed_.store(value >= 0.5 ? 1 : 0);
    } else {
        client_->parameter(static_cast<std::int32_t>(id)).setNormalizedFromHost(clamp01(value));
    }
    return kResultOk;
}

tresult VST3Client::setComponentHandler(IComponentHandler* handler) noexcept {
    if (handler == componentHandler_) return kResultOk;
    if (componentHandler_ != nullptr) componentHandler_->release();
    componentHandler_ = handler;
    if (componentHandler_ != nullptr) componentHandler_->addRef();
    return kResultOk;
}

IPlugView* VST3Client::createView(FIDString name) noexcept {
    if (name == nullptr || std::strcmp(name, kEditorViewType) != 0) return nullptr;
    // Without an editor the host shows its own generic one instead of a view that cannot open.
    if (!client_->description().hasGUI) return nullptr;
    {
        FPControl guard;
        if (client_->ensureGraphics() == nullptr) return nullptr;
    }
    return heapNew<KorvoView>(*this);
}

// ---- Units and programs ---------------------------------------------------------------------------

tresult VST3Client::getUnitInfo(int32 index, UnitInfo* info) noexcept {
    if (info == nullptr) return kInvalidArgument;
    if (index != 0) return kResultFalse;
    std::memset(info, 0, sizeof(UnitInfo));
    info->id = kRootUnitId;
    info->parentUnitId = kNoParentUnitId;
    widenString128("Root Unit", info->name);
    info->programListId = kProgramListId;
    return kResultOk;
}

tresult VST3Client::getProgramListInfo(int32, ProgramListInfo* info) noexcept {
    if (info == nullptr) return kInvalidArgument;
    std::memset(info, 0, sizeof(ProgramListInfo));
    info->id = kProgramListId;
    widenString128("Factory Presets", info->name);
    info->programCount = client_->presetBank().count();
    return kResultOk;
}

tresult VST3Client::getProgramName(ProgramListID listId, int32 index, char16* name) noexcept {
    if (name == nullptr) return kInvalidArgument;
    const PresetBank& bank = client_->presetBank();
    if (listId != kProgramListId || index < 0 || index >= bank.count()) return kResultFalse;
    widenString128(bank.presetName(index), name);
    return kResultOk;
}

// ---- Faces ----------------------------------------------------------------------------------------

#define KORVO_FACE_UNKNOWN(Face)                                           \
    tresult VST3Client::Face::queryInterface(const TUID iid, void** obj) { \
        return owner.queryInterface(iid, obj);                             \
    }                                                                      \
    uint32 VST3Client::Face::addRef() {                                    \
        return owner.addRef();                                             \
    }                                                                      \
    uint32 VST3Client::Face::release() {                                   \
        FPControl guard;                                                   \
        return owner.release();                                            \
    }

KORVO_FACE_UNKNOWN(ProcessorFace)
KORVO_FACE_UNKNOWN(ComponentFace)
KORVO_FACE_UNKNOWN(ControllerFace)
KORVO_FACE_UNKNOWN(Controller2Face)
KORVO_FACE_UNKNOWN(UnitInfoFace)
#undef KORVO_FACE_UNKNOWN

tresult VST3Client::ProcessorFace::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                      SpeakerArrangement* outputs, int32 numOuts) {
    FPControl guard;
    return owner.setBusArrangements(inputs, numIns, outputs, numOuts);
}
tresult VST3Client::ProcessorFace::getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) {
    FPControl guard;
    return owner.getBusArrangement(dir, index, hostPointer(arr));
}
tresult VST3Client::ProcessorFace::canProcessSampleSize(int32 size) {
    FPControl guard;
    return size == kSample32 ? kResultOk : kResultFalse;
}
uint32 VST3Client::ProcessorFace::getLatencySamples() {
    FPControl guard;
    return owner.getLatencySamples();
}
tresult VST3Client::ProcessorFace::setupProcessing(ProcessSetup& setup) {
    FPControl guard;
    return owner.setupProcessing(hostPointer(setup));
}
tresult VST3Client::ProcessorFace::setProcessing(TBool state) {
    FPControl guard;
    return owner.setProcessing(state);
}
tresult VST3Client::ProcessorFace::process(ProcessData& data) {
    FPControl guard;
    return owner.process(hostPointer(data));
}
uint32 VST3Client::ProcessorFace::getTailSamples() {
    FPControl guard;
    return owner.getTailSamples();
}

tresult VST3Client::ComponentFace::initialize(FUnknown* context) {
    FPControl guard;
    return owner.initialize(context);
}
tresult VST3Client::ComponentFace::terminate() {
    FPControl guard;
    return owner.terminate();
}
tresult VST3Client::ComponentFace::getControllerClassId(TUID) {
    FPControl guard;
    return kNotImplemented;
}
tresult VST3Client::ComponentFace::setIoMode(IoMode) {
    FPControl guard;
    return kNotImplemented;
}
int32 VST3Client::ComponentFace::getBusCount(MediaType type, BusDirection dir) {
    FPControl guard;
    return owner.getBusCount(type, dir);
}
tresult VST3Client::ComponentFace::getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) {
    FPControl guard;
    return owner.getBusInfo(type, dir, index, hostPointer(bus));
}
tresult VST3Client::ComponentFace::getRoutingInfo(RoutingInfo&, RoutingInfo&) {
    FPControl guard;
    return kNotImplemented;
}
tresult VST3Client::ComponentFace::activateBus(MediaType type, BusDirection dir, int32 index, TBool state) {
    FPControl guard;
    return owner.activateBus(type, dir, index, state);
}
tresult VST3Client::ComponentFace::setActive(TBool state) {
    FPControl guard;
    if (state) owner.prepareProcessing();
    return kResultOk;
}
tresult VST3Client::ComponentFace::setState(IBStream* state) {
    FPControl guard;
    return owner.loadComponentState(state);
}
tresult VST3Client::ComponentFace::getState(IBStream* state) {
    FPControl guard;
    owner.deliverPendingNotifications();
    return owner.saveComponentState(state);
}

tresult VST3Client::ControllerFace::initialize(FUnknown* context) {
    FPControl guard;
    return owner.initialize(context);
}
tresult VST3Client::ControllerFace::terminate() {
    FPControl guard;
    return owner.terminate();
}
// The component's state holds every parameter: the controller has nothing to take from it.
tresult VST3Client::ControllerFace::setComponentState(IBStream*) {
    FPControl guard;
    return kNotImplemented;
}
// The controller's own state is the editor's (view.cpp).
tresult VST3Client::ControllerFace::setState(IBStream* state) {
    FPControl guard;
    return owner.loadEditorState(state);
}
tresult VST3Client::ControllerFace::getState(IBStream* state) {
    FPControl guard;
    return owner.saveEditorState(state);
}
int32 VST3Client::ControllerFace::getParameterCount() {
    FPControl guard;
    return owner.getParameterCount();
}
tresult VST3Client::ControllerFace::getParameterInfo(int32 index, ParameterInfo& info) {
    FPControl guard;
    return owner.getParameterInfo(index, hostPointer(info));
}
tresult VST3Client::ControllerFace::getParamStringByValue(ParamID id, ParamValue value, String128 string) {
    FPControl guard;
    return owner.getParamStringByValue(id, value, string);
}
tresult VST3Client::ControllerFace::getParamValueByString(ParamID id, TChar* string, ParamValue& value) {
    FPControl guard;
    return owner.getParamValueByString(id, string, hostPointer(value));
}
ParamValue VST3Client::ControllerFace::normalizedParamToPlain(ParamID id, ParamValue value) {
    FPControl guard;
    return owner.normalizedParamToPlain(id, value);
}
ParamValue VST3Client::ControllerFace::plainParamToNormalized(ParamID id, ParamValue plain) {
    FPControl guard;
    return owner.plainParamToNormalized(id, plain);
}
ParamValue VST3Client::ControllerFace::getParamNormalized(ParamID id) {
    FPControl guard;
    owner.deliverPendingNotifications();
    return owner.getParamNormalized(id);
}
tresult VST3Client::ControllerFace::setParamNormalized(ParamID id, ParamValue value) {
    FPControl guard;
    owner.deliverPendingNotifications();
    return owner.setParamNormalized(id, value);
}
tresult VST3Client::ControllerFace::setComponentHandler(IComponentHandler* handler) {
    FPControl guard;
    return owner.setComponentHandler(handler);
}
IPlugView* VST3Client::ControllerFace::createView(FIDString name) {
    FPControl guard;
    return owner.createView(name);
}

tresult VST3Client::Controller2Face::setKnobMode(KnobMode mode) {
    FPControl guard;
    return mode == kLinearMode ? kResultOk : kResultFalse;
}
tresult VST3Client::Controller2Face::openHelp(TBool) {
    FPControl guard;
    return kResultFalse;
}
tresult VST3Client::Controller2Face::openAboutBox(TBool) {
    FPControl guard;
    return kResultFalse;
}

int32 VST3Client::UnitInfoFace::getUnitCount() {
    FPControl guard;
    return 1;
}
tresult VST3Client::UnitInfoFace::getUnitInfo(int32 index, UnitInfo& info) {
    FPControl guard;
    return owner.getUnitInfo(index, hostPointer(info));
}
int32 VST3Client::UnitInfoFace::getProgramListCount() {
    FPControl guard;
    return 1;
}
tresult VST3Client::UnitInfoFace::getProgramListInfo(int32 index, ProgramListInfo& info) {
    FPControl guard;
    return owner.getProgramListInfo(index, hostPointer(info));
}
tresult VST3Client::UnitInfoFace::getProgramName(ProgramListID listId, int32 index, String128 name) {
    FPControl guard;
    return owner.getProgramName(listId, index, name);
}
tresult VST3Client::UnitInfoFace::getProgramInfo(ProgramListID, int32, CString, String128) {
    FPControl guard;
    return kNotImplemented;
}
tresult VST3Client::UnitInfoFace::hasProgramPitchNames(ProgramListID, int32) {
    FPControl guard;
    return kResultFalse;
}
tresult VST3Client::UnitInfoFace::getProgramPitchName(ProgramListID, int32, int16, String128) {
    FPControl guard;
    return kResultFalse;
}
UnitID VST3Client::UnitInfoFace::getSelectedUnit() {
    FPControl guard;
    return kRootUnitId;
}
tresult VST3Client::UnitInfoFace::selectUnit(UnitID id) {
    FPControl guard;
    return id == kRootUnitId ? kResultOk : kResultFalse;
}
tresult VST3Client::UnitInfoFace::getUnitByBus(MediaType, BusDirection, int32, int32, UnitID& unitId) {
    FPControl guard;
    UnitID* out = hostPointer(unitId);
    if (out == nullptr) return kInvalidArgument;
    *out = kRootUnitId;
    return kResultOk;
}
tresult VST3Client::UnitInfoFace::setUnitProgramData(int32, int32, IBStream*) {
    FPControl guard;
    return kNotImplemented;
}

}  // namespace korvo::vst3
