// ClapPlugin: life, activation and processing.
#include "korvo/clap/plugin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "korvo/client/daw.h"

namespace korvo::clap {

// Fills the Plugin structure's functions (entries.cpp).
void fillPluginStruct(Plugin& plugin, const PluginDescriptor* descriptor, ClapPlugin* owner) noexcept;

namespace {

bool isParamValue(const EventHeader* event) noexcept {
    return event != nullptr && event->spaceId == kCoreEventSpaceId && event->type == kEventParamValue &&
           event->size >= sizeof(EventParamValue);
}

// The timed parameter events of one block, read from the host's list as HostProcessor asks.
// Events that are not parameter values of the core space are passed over (they cut nothing).
class BlockEvents final : public IBlockEvents {
public:
    BlockEvents(ClapPlugin& owner, const InputEvents* list) noexcept : owner_(owner) {
        if (list != nullptr && list->size != nullptr && list->get != nullptr) {
            list_ = list;
            count_ = list->size(list);
        }
    }
    std::int32_t nextEventOffset() noexcept override {
        const EventHeader* event = skipToOurs();
        if (event == nullptr) return std::numeric_limits<std::int32_t>::max();
        return static_cast<std::int32_t>(std::min<std::uint32_t>(event->time, INT32_MAX));
    }
    void applyEventsUpTo(std::int32_t position) noexcept override {
        for (const EventHeader* event = skipToOurs(); event != nullptr; event = skipToOurs()) {
            if (event->time > static_cast<std::uint32_t>(position)) break;
            owner_.applyEvent(event);
            ++next_;
        }
    }

private:
    const EventHeader* skipToOurs() noexcept {
        for (; next_ < count_; ++next_) {
            const EventHeader* event = list_->get(list_, next_);
            if (isParamValue(event)) return event;
        }
        return nullptr;
    }

    ClapPlugin& owner_;
    const InputEvents* list_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t next_ = 0;
};

// The channels of a port the host gave: 32-bit channels, or a flag for a port with 64-bit ones
// only.
struct PortChannels {
    float* const* data = nullptr;
    std::int32_t count = 0;
    bool only64 = false;
};
PortChannels portChannels(const AudioBuffer* ports, std::uint32_t portCount) noexcept {
    PortChannels c;
    if (ports == nullptr || portCount == 0) return c;
    const AudioBuffer& port = ports[0];
    c.only64 = port.data32 == nullptr && port.data64 != nullptr && port.channelCount > 0;
    c.data = port.data32;
    c.count =
        c.data != nullptr ? static_cast<std::int32_t>(std::min<std::uint32_t>(port.channelCount, 64)) : 0;
    return c;
}

}  // namespace

ClapPlugin::ClapPlugin(const Host* host, const PluginDescriptor* descriptor, HeapPtr<Client> client)
    : host_(host), client_(std::move(client)) {
    fillPluginStruct(plugin_, descriptor, this);
    processing_ = makeHeap<HostProcessor>(*client_);
    hostCommand_ = makeHeap<ClapHostCommand>(*this);
    edits_ = makeHeap<EditorEventQueue>();
    client_->setHostCommand(hostCommand_.get());
    presetCount_ = client_->presetBank().count();
    for (std::int32_t i = 0; i < client_->parameterCount(); ++i) {
        const Parameter& p = client_->parameter(i);
        ParamShape shape;
        shape.integer = dynamic_cast<const IntegerParameter*>(&p);
        shape.boolean = dynamic_cast<const BoolParameter*>(&p);
        if (shape.integer != nullptr) {
            shape.min = shape.integer->minValue();
            shape.max = std::max(shape.integer->minValue(), shape.integer->maxValue());
            shape.stepped = true;
            shape.enumerated = dynamic_cast<const EnumParameter*>(&p) != nullptr;
        } else if (shape.boolean != nullptr) {
            shape.stepped = shape.enumerated = true;
        }
        shapes_.push_back(shape);
    }
    gestureOpen_.assign(shapes_.size(), false);
    // The widest configuration first: stereo in when the client takes it.
    const Vec<ChannelConfig>& configs = client_->channelConfigs();
    for (std::size_t i = 0; i < configs.size(); ++i)
        if (configs[i].numInputs == client_->maxInputs() && configs[i].numOutputs == client_->maxOutputs()) {
            config_ = static_cast<std::int32_t>(i);
            break;
        }
}

ClapPlugin::~ClapPlugin() {
    magic_ = 0;
    editor_.reset();  // a host that destroys the instance with its editor open
    client_.reset();  // before the host command: it may still reach it
}

ClapPlugin* ClapPlugin::from(const Plugin* plugin) noexcept {
    if (plugin == nullptr || plugin->pluginData == nullptr) return nullptr;
    auto* object = static_cast<ClapPlugin*>(plugin->pluginData);
    return object->magic_ == kMagic && object->plugin() == plugin ? object : nullptr;
}

bool ClapPlugin::init() noexcept {
    if (initialized_) return true;
    initialized_ = true;
    auto extension = [&](const char* id) -> const void* {
        return host_->getExtension != nullptr ? host_->getExtension(host_, id) : nullptr;
    };
    // A host extension with an empty slot counts as absent.
    if (auto* e = static_cast<const HostThreadCheck*>(extension(kExtThreadCheck)))
        if (e->isMainThread != nullptr && e->isAudioThread != nullptr) hostThreadCheck_ = e;
    if (auto* e = static_cast<const HostLog*>(extension(kExtLog)))
        if (e->log != nullptr) hostLog_ = e;
    if (auto* e = static_cast<const HostParams*>(extension(kExtParams)))
        if (e->rescan != nullptr && e->clear != nullptr && e->requestFlush != nullptr) hostParams_ = e;
    if (auto* e = static_cast<const HostLatency*>(extension(kExtLatency)))
        if (e->changed != nullptr) hostLatency_ = e;
    if (auto* e = static_cast<const HostState*>(extension(kExtState)))
        if (e->markDirty != nullptr) hostState_ = e;
    hostCommand_->setHostKind(identifyHost(host_->name != nullptr ? host_->name : ""));
    if (client_->description().hasGUI) editor_ = makeHeap<ClapEditor>(host_, *client_);
    return true;
}

bool ClapPlugin::activate(double sampleRate, std::uint32_t minFrames, std::uint32_t maxFrames) noexcept {
    if (!initialized_ || active_) return false;
    // A rate that is not a positive number up to 10 MHz, or frame counts outside [1, INT32_MAX]
    // in order, cannot size anything sensibly.
    if (!(sampleRate > 0.0 && sampleRate <= kMaxSampleRate) || minFrames < 1 || maxFrames < minFrames ||
        maxFrames > static_cast<std::uint32_t>(INT32_MAX))
        return false;
    const ChannelConfig& config = client_->channelConfigs()[static_cast<std::size_t>(config_)];
    sampleRate_ = sampleRate;
    processing_->prepare(static_cast<float>(sampleRate), static_cast<std::int32_t>(maxFrames),
                         config.numInputs, config.numOutputs);
    // The host hears of a latency other than the one it knows (none before the first activation).
    const std::int32_t latency = std::max<std::int32_t>(0, client_->latencySamples(sampleRate));
    if (latency != std::max<std::int32_t>(0, reportedLatency_)) {
        if (hostLatency_ != nullptr) hostLatency_->changed(host_);
    }
    reportedLatency_ = latency;
    // Every activation starts from a clean state, also one with the sizes of the last.
    processing_->requestReset();
    active_ = true;
    processingStarted_ = false;
    return true;
}

void ClapPlugin::deactivate() noexcept {
    active_ = false;
    processingStarted_ = false;
}

bool ClapPlugin::startProcessing() noexcept {
    if (!active_) return false;
    // The state is kept: hosts stop processing to let a plug-in sleep, and a sleeping chain keeps
    // its state to go on with when sound returns. reset and activate clear it.
    processingStarted_ = true;
    return true;
}

void ClapPlugin::stopProcessing() noexcept {
    processingStarted_ = false;
}

void ClapPlugin::reset() noexcept {
    processing_->requestReset();
}

std::int32_t ClapPlugin::process(const Process* process) noexcept {
    if (process == nullptr || !active_ || !processingStarted_) return kProcessError;
    if (process->framesCount > static_cast<std::uint32_t>(INT32_MAX)) return kProcessError;
    const auto frames = static_cast<std::int32_t>(process->framesCount);

    // The block is placed at the host's song position when it gives one, else at our own
    // running count; either way the count then moves past the block.
    std::int64_t blockStart = timeInSamples_;
    if (const EventTransport* transport = process->transport) {
        if ((transport->flags & kTransportHasTempo) != 0) tempo_ = transport->tempo;
        hostIsPlaying_ = (transport->flags & kTransportIsPlaying) != 0;
        if ((transport->flags & kTransportHasSecondsTimeline) != 0)
            blockStart = std::llround(static_cast<double>(transport->songPosSeconds) / kFixedPointFactor *
                                      sampleRate_);
    }
    timeInSamples_ = blockStart + frames;

    const PortChannels in = portChannels(process->audioInputs, process->audioInputsCount);
    const PortChannels out = portChannels(process->audioOutputs, process->audioOutputsCount);
    if (process->audioOutputs != nullptr && process->audioOutputsCount > 0)
        process->audioOutputs[0].constantMask = 0;
    BlockEvents events(*this, process->inEvents);
    if (in.only64 || out.only64) {
        // Only 32-bit buffers are offered: a block of 64-bit ones is refused (the host discards
        // its output), its parameter changes kept.
        events.applyEventsUpTo(std::numeric_limits<std::int32_t>::max());
        return kProcessError;
    }
    const bool asleep = processing_->process(in.data, in.count, out.data, out.count, frames,
                                             HostTiming{tempo_, blockStart, hostIsPlaying_}, &events);
    sendEditorEvents(process->outEvents);
    return asleep ? kProcessSleep : kProcessContinue;
}

// ---- The editor's edits ------------------------------------------------------------------------------

void ClapHostCommand::beginParameterEdit(std::int32_t paramIndex) noexcept {
    owner_.editorEdit(kEventParamGestureBegin, paramIndex, 0.0f);
}
void ClapHostCommand::automateParameter(std::int32_t paramIndex, float normalizedValue) noexcept {
    owner_.editorEdit(kEventParamValue, paramIndex, normalizedValue);
}
void ClapHostCommand::endParameterEdit(std::int32_t paramIndex) noexcept {
    owner_.editorEdit(kEventParamGestureEnd, paramIndex, 0.0f);
}
void ClapHostCommand::parameterValuesChanged() noexcept {
    owner_.rescanParameterValues();
}
bool ClapHostCommand::requestResize(std::int32_t width, std::int32_t height) noexcept {
    ClapEditor* editor = owner_.editor();
    return editor != nullptr && editor->requestResize(width, height);
}

void ClapPlugin::editorEdit(std::uint16_t type, std::int32_t index, float normalized) noexcept {
    if (index < 0 || index >= client_->parameterCount()) return;
    const auto slot = static_cast<std::size_t>(index);
    EditorEvent event;
    event.type = type;
    event.paramId = static_cast<ClapId>(index);
    // A begin or a value leaves room for the gesture's end, so a gesture the host saw begin
    // always ends; an end whose begin found the queue full is not sent either.
    bool queued = false;
    if (type == kEventParamGestureBegin) {
        queued = !gestureOpen_[slot] && edits_->push(event, 2);
        if (queued) gestureOpen_[slot] = true;
    } else if (type == kEventParamValue) {
        if (normalized != normalized) return;
        event.value = plainFromNormalized(index, normalized);
        queued = edits_->push(event, 2);
    } else if (gestureOpen_[slot]) {
        queued = edits_->push(event, 1);
        gestureOpen_[slot] = false;
    }
    // The host sends a process or a flush for them soon (at once when it is not processing).
    if (queued && hostParams_ != nullptr) hostParams_->requestFlush(host_);
}

void ClapPlugin::sendEditorEvents(const OutputEvents* out) noexcept {
    if (out == nullptr || out->tryPush == nullptr) return;
    for (EditorEvent event; edits_->peek(event);) {
        bool taken = false;
        if (event.type == kEventParamValue) {
            EventParamValue e{};
            e.header = {sizeof(EventParamValue), 0, kCoreEventSpaceId, kEventParamValue, 0};
            e.paramId = event.paramId;
            e.noteId = -1;
            e.portIndex = e.channel = e.key = -1;
            e.value = event.value;
            taken = out->tryPush(out, &e.header);
        } else {
            EventParamGesture e{};
            e.header = {sizeof(EventParamGesture), 0, kCoreEventSpaceId, event.type, 0};
            e.paramId = event.paramId;
            taken = out->tryPush(out, &e.header);
        }
        if (!taken) return;  // the rest waits for the next block
        edits_->pop();
    }
}

void ClapPlugin::rescanParameterValues() noexcept {
    if (hostParams_ != nullptr) hostParams_->rescan(host_, kParamRescanValues);
}

void ClapPlugin::onMainThread() noexcept {
    // A program change on the audio thread moved every parameter.
    if (valuesMoved_.exchange(0) != 0 && hostParams_ != nullptr)
        hostParams_->rescan(host_, kParamRescanValues);
}

void ClapPlugin::checkThread([[maybe_unused]] ThreadRule rule,
                             [[maybe_unused]] const char* function) const noexcept {
#if KORVO_CLAP_THREAD_CHECKS
    if (hostThreadCheck_ == nullptr || hostLog_ == nullptr) return;
    const bool audio = rule == ThreadRule::audio || (rule == ThreadRule::audioWhileActive && active_);
    const bool right = audio ? hostThreadCheck_->isAudioThread(host_) : hostThreadCheck_->isMainThread(host_);
    if (right) return;
    char message[160];
    std::snprintf(message, sizeof(message), "%s called off the %s thread", function,
                  audio ? "audio" : "main");
    hostLog_->log(host_, kLogHostMisbehaving, message);
#endif
}

}  // namespace korvo::clap
