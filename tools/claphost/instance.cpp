// claphost's plug-in instances: made, initialised, set up and driven the way hosts do it.
#include <cmath>
#include <limits>

#include "tools/claphost/host.h"

namespace claphost {

Instance::Instance(const Module& module, Host& host, const std::string& pluginId) {
    const c::PluginFactory* factory = module.factory();
    if (factory == nullptr) return;
    const std::string id = pluginId.empty() ? module.firstPluginId() : pluginId;
    plugin = factory->createPlugin(factory, host.clapHost(), id.c_str());
    if (plugin == nullptr) return;
    initialized = plugin->init(plugin);
    if (!initialized) return;
    auto extension = [&](const char* name) { return plugin->getExtension(plugin, name); };
    params = static_cast<const c::PluginParams*>(extension(c::kExtParams));
    state = static_cast<const c::PluginState*>(extension(c::kExtState));
    latency = static_cast<const c::PluginLatency*>(extension(c::kExtLatency));
    tail = static_cast<const c::PluginTail*>(extension(c::kExtTail));
    audioPorts = static_cast<const c::PluginAudioPorts*>(extension(c::kExtAudioPorts));
    audioPortsConfig = static_cast<const c::PluginAudioPortsConfig*>(extension(c::kExtAudioPortsConfig));
    audioPortsConfigInfo =
        static_cast<const c::PluginAudioPortsConfigInfo*>(extension(c::kExtAudioPortsConfigInfo));
}

Instance::~Instance() {
    if (plugin == nullptr) return;
    stop();
    plugin->destroy(plugin);
}

bool Instance::prepare(double sampleRate, std::uint32_t maxFrames, std::uint32_t inputChannels) {
    stop();
    if (audioPortsConfig != nullptr) {
        const std::uint32_t count = audioPortsConfig->count(plugin);
        bool selected = false;
        for (std::uint32_t i = 0; i < count && !selected; ++i) {
            c::AudioPortsConfig config{};
            if (audioPortsConfig->get(plugin, i, &config) && config.mainInputChannelCount == inputChannels)
                selected = audioPortsConfig->select(plugin, config.id);
        }
        if (!selected) return false;
    }
    active = plugin->activate(plugin, sampleRate, 1, maxFrames);
    if (!active) return false;
    processing = plugin->startProcessing(plugin);
    return processing;
}

void Instance::stop() {
    if (processing) plugin->stopProcessing(plugin);
    processing = false;
    if (active) plugin->deactivate(plugin);
    active = false;
}

std::int32_t Instance::process(float* const* in, std::uint32_t inChannels, float* const* out,
                               std::uint32_t outChannels, std::uint32_t frames, const EventList* events,
                               const c::EventTransport* transport, OutputList* outEvents) {
    static const EventList kNoEvents;
    static OutputList discarded;
    c::AudioBuffer input{};
    input.data32 = const_cast<float**>(in);
    input.channelCount = inChannels;
    c::AudioBuffer output{};
    output.data32 = const_cast<float**>(out);
    output.channelCount = outChannels;
    c::Process p{};
    p.steadyTime = -1;
    p.framesCount = frames;
    p.transport = transport;
    p.audioInputs = &input;
    p.audioOutputs = &output;
    p.audioInputsCount = 1;
    p.audioOutputsCount = 1;
    p.inEvents = (events != nullptr ? events : &kNoEvents)->input();
    p.outEvents = (outEvents != nullptr ? outEvents : &discarded)->output();
    return plugin->process(plugin, &p);
}

void Instance::flush(const EventList& events, OutputList* outEvents) {
    OutputList out;
    params->flush(plugin, events.input(), (outEvents != nullptr ? outEvents : &out)->output());
}

bool Instance::save(OutStream& stream) {
    return state->save(plugin, stream.stream());
}

bool Instance::load(InStream& stream) {
    return state->load(plugin, stream.stream());
}

std::vector<std::uint8_t> Instance::savedState() {
    OutStream stream;
    if (!save(stream)) return {};
    return stream.bytes;
}

std::string Instance::valueText(c::ClapId id, double value) {
    char text[c::kNameSize] = {};
    if (!params->valueToText(plugin, id, value, text, sizeof(text))) return "<error>";
    return text;
}

double Instance::value(c::ClapId id) {
    double v = 0.0;
    return params->getValue(plugin, id, &v) ? v : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace claphost
