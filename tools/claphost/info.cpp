// What a CLAP host sees of a module, printed.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "tools/claphost/host.h"
#include "tools/vst3host/host.h"

namespace claphost {

using vst3host::appendf;

namespace {

const char* text(const char* s) {
    return s != nullptr ? s : "(null)";
}

std::string paramFlags(std::uint32_t flags) {
    static const std::pair<std::uint32_t, const char*> kNames[] = {
        {c::kParamIsStepped, "stepped"},
        {c::kParamIsPeriodic, "periodic"},
        {c::kParamIsHidden, "hidden"},
        {c::kParamIsReadonly, "readonly"},
        {c::kParamIsBypass, "bypass"},
        {c::kParamIsAutomatable, "automatable"},
        {c::kParamIsModulatable, "modulatable"},
        {c::kParamRequiresProcess, "requires-process"},
        {c::kParamIsEnum, "enum"}};
    std::string out;
    for (const auto& [bit, name] : kNames)
        if ((flags & bit) != 0) out += (out.empty() ? "" : "|") + std::string(name);
    return out.empty() ? "none" : out;
}

void printPort(std::string& out, const char* side, const c::AudioPortInfo& port) {
    appendf(out, "    %s port id %u \"%s\", %u channels, type %s, flags 0x%x, in-place pair %d\n", side,
            static_cast<unsigned>(port.id), port.name, static_cast<unsigned>(port.channelCount),
            text(port.portType), static_cast<unsigned>(port.flags), static_cast<int>(port.inPlacePair));
}

}  // namespace

bool printModuleInfo(const std::string& path, const std::string& hostName, std::string& out) {
    Module module;
    std::string error;
    if (!module.load(path, error)) {
        out += "error: " + error + "\n";
        return false;
    }
    const c::PluginEntry* entry = module.entry();
    appendf(out, "Entry: CLAP %u.%u.%u\n", static_cast<unsigned>(entry->clapVersion.major),
            static_cast<unsigned>(entry->clapVersion.minor),
            static_cast<unsigned>(entry->clapVersion.revision));
    const c::PluginFactory* factory = module.factory();
    const std::uint32_t count = factory->getPluginCount(factory);
    appendf(out, "Plug-ins: %u\n", static_cast<unsigned>(count));
    Host host(hostName);
    for (std::uint32_t k = 0; k < count; ++k) {
        const c::PluginDescriptor* d = factory->getPluginDescriptor(factory, k);
        if (d == nullptr) continue;
        appendf(out,
                "Plug-in %u\n  id: %s\n  name: %s\n  vendor: %s\n  version: %s\n  url: %s\n  manual url: %s\n"
                "  support url: %s\n  description: %s\n  features:",
                static_cast<unsigned>(k), text(d->id), text(d->name), text(d->vendor), text(d->version),
                text(d->url), text(d->manualUrl), text(d->supportUrl), text(d->description));
        for (const char* const* f = d->features; f != nullptr && *f != nullptr; ++f) appendf(out, " %s", *f);
        out += "\n";
        Instance instance(module, host, text(d->id));
        if (!instance.ok()) {
            out += "  (cannot create an instance)\n";
            continue;
        }
        static const char* const kExtensions[] = {c::kExtParams,
                                                  c::kExtState,
                                                  c::kExtLatency,
                                                  c::kExtTail,
                                                  c::kExtAudioPorts,
                                                  c::kExtAudioPortsConfig,
                                                  c::kExtAudioPortsConfigInfo,
                                                  c::kExtGui,
                                                  c::kExtTimerSupport,
                                                  c::kExtPosixFdSupport};
        out += "  extensions:";
        for (const char* id : kExtensions)
            if (instance.plugin->getExtension(instance.plugin, id) != nullptr) appendf(out, " %s", id);
        out += "\n";
        if (const auto* gui = static_cast<const c::PluginGui*>(instance.plugin->getExtension(instance.plugin, c::kExtGui))) {
            out += "  gui apis:";
            for (const char* api : {c::kWindowApiWin32, c::kWindowApiX11})
                for (const bool floating : {false, true})
                    if (gui->isApiSupported(instance.plugin, api, floating))
                        appendf(out, " %s%s", api, floating ? " (floating)" : " (embedded)");
            out += "\n";
        }
        if (instance.audioPortsConfig != nullptr) {
            const std::uint32_t configs = instance.audioPortsConfig->count(instance.plugin);
            const c::ClapId current = instance.audioPortsConfigInfo != nullptr
                                          ? instance.audioPortsConfigInfo->currentConfig(instance.plugin)
                                          : c::kInvalidId;
            for (std::uint32_t i = 0; i < configs; ++i) {
                c::AudioPortsConfig config{};
                if (!instance.audioPortsConfig->get(instance.plugin, i, &config)) continue;
                appendf(
                    out, "  configuration %u \"%s\"%s: %u in (%u channels, %s), %u out (%u channels, %s)\n",
                    static_cast<unsigned>(config.id), config.name, config.id == current ? " (current)" : "",
                    static_cast<unsigned>(config.inputPortCount),
                    static_cast<unsigned>(config.mainInputChannelCount), text(config.mainInputPortType),
                    static_cast<unsigned>(config.outputPortCount),
                    static_cast<unsigned>(config.mainOutputChannelCount), text(config.mainOutputPortType));
            }
        }
        if (instance.audioPorts != nullptr)
            for (int side = 1; side >= 0; --side)
                for (std::uint32_t i = 0; i < instance.audioPorts->count(instance.plugin, side == 1); ++i) {
                    c::AudioPortInfo port{};
                    if (instance.audioPorts->get(instance.plugin, i, side == 1, &port))
                        printPort(out, side == 1 ? "input" : "output", port);
                }
        if (instance.prepare(48000.0, 512)) {
            appendf(
                out, "  at 48000 Hz: latency %u samples, tail %u samples\n",
                instance.latency != nullptr ? static_cast<unsigned>(instance.latency->get(instance.plugin))
                                            : 0u,
                instance.tail != nullptr ? static_cast<unsigned>(instance.tail->get(instance.plugin)) : 0u);
            instance.stop();
        }
        if (instance.params == nullptr) continue;
        const std::uint32_t params = instance.params->count(instance.plugin);
        appendf(out, "  parameters: %u\n", static_cast<unsigned>(params));
        for (std::uint32_t i = 0; i < params; ++i) {
            c::ParamInfo p{};
            if (!instance.params->getInfo(instance.plugin, i, &p)) continue;
            appendf(
                out, "  [%u] id %u \"%s\" %s, %g..%g, default %g \"%s\"; min \"%s\", max \"%s\"\n",
                static_cast<unsigned>(i), static_cast<unsigned>(p.id), p.name, paramFlags(p.flags).c_str(),
                p.minValue, p.maxValue, p.defaultValue, instance.valueText(p.id, p.defaultValue).c_str(),
                instance.valueText(p.id, p.minValue).c_str(), instance.valueText(p.id, p.maxValue).c_str());
        }
    }
    return true;
}

}  // namespace claphost
