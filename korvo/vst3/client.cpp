// VST3Client: life and identity, the component (buses, state), the edit controller and the unit
// and program interfaces.
#include "korvo/vst3/client.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "korvo/client/daw.h"
#include "korvo/core/fpcontrol.h"
#include "korvo/vst3/streams.h"
#include "korvo/vst3/strings.h"

namespace korvo::vst3 {

namespace {

SpeakerArrangement lowestBits(std::int32_t count) noexcept {
    if (count <= 0) return 0;
    if (count >= 64) return ~SpeakerArrangement{0};
    return (SpeakerArrangement{1} << count) - 1;
}

}  // namespace

// ---- VST3Client: life and identity -----------------------------------------------------------------

VST3Client::VST3Client(HeapPtr<Client> client) : client_(std::move(client)) {
    sampleRateHostView_ = std::numeric_limits<float>::quiet_NaN();
    hostCommand_ = makeHeap<VST3HostCommand>(*this);
    client_->setHostCommand(hostCommand_.get());
    presetStepCount_ = std::max<std::int32_t>(0, client_->presetBank().count() - 1);
    processing_ = makeHeap<HostProcessor>(*client_);
}

VST3Client::~VST3Client() {
    client_.reset();
    if (componentHandler_ != nullptr) componentHandler_->release();
    if (hostApplication_ != nullptr) hostApplication_->release();
}

tresult VST3Client::queryInterface(const TUID iid, void** obj) noexcept {
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
    return answerInterface(*this, face != nullptr, face, obj);
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
// ---- State ----------------------------------------------------------------------------------------

tresult VST3Client::saveComponentState(IBStream* stream) noexcept {
    if (stream == nullptr) return kInvalidArgument;
    const std::vector<std::uint8_t> bytes = processing_->writeState();
    // The header and the chunk in two transfers, as hosts have always seen them.
    if (!writeAll(stream, bytes.data(), kStateHeaderBytes)) return kResultFalse;
    return writeAll(stream, bytes.data() + kStateHeaderBytes, bytes.size() - kStateHeaderBytes)
               ? kResultOk
               : kResultFalse;
}

tresult VST3Client::loadComponentState(IBStream* stream) noexcept {
    if (stream == nullptr) return kInvalidArgument;
    // The whole state first: streams may hand it out a few bytes per read, and need not seek.
    std::vector<std::uint8_t> bytes;
    if (!readAll(stream, bytes, kMaxStateBytes)) return kResultFalse;
    if (!processing_->readState(bytes.data(), bytes.size())) return kResultFalse;
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
    if (id == kBypassParamId) return processing_->bypassed() ? 1.0 : 0.0;
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
        processing_->setBypassed(value >= 0.5);
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

}  // namespace korvo::vst3
