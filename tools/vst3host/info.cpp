// What a host sees of a module, printed.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tools/vst3host/host.h"

namespace vst3host {

namespace {
std::string field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}
}  // namespace

bool printModuleInfo(const std::string& path, const std::string& hostName, std::string& out) {
    Module module;
    std::string error;
    if (!module.load(path, error)) {
        out += "error: " + error + "\n";
        return false;
    }
    v::IPluginFactory* factory = module.factory();
    v::PFactoryInfo info{};
    factory->getFactoryInfo(&info);
    appendf(out, "Factory\n  vendor: %s\n  url: %s\n  email: %s\n  flags: %d\n",
            field(info.vendor, 64).c_str(), field(info.url, 256).c_str(), field(info.email, 128).c_str(),
            static_cast<int>(info.flags));
    auto* factory2 = [&]() -> v::IPluginFactory2* {
        void* f2 = nullptr;
        if (factory->queryInterface(v::iidIPluginFactory2.data(), &f2) != v::kResultOk) return nullptr;
        return static_cast<v::IPluginFactory2*>(f2);
    }();
    HostApplication host(hostName);
    const int classCount = factory->countClasses();
    appendf(out, "Classes: %d\n", classCount);
    for (int c = 0; c < classCount; ++c) {
        v::PClassInfo2 ci{};
        if (factory2 == nullptr || factory2->getClassInfo2(c, &ci) != v::kResultOk) {
            v::PClassInfo basic{};
            if (factory->getClassInfo(c, &basic) != v::kResultOk) continue;
            std::memcpy(&ci, &basic, sizeof(basic));
        }
        appendf(out,
                "Class %d\n  name: %s\n  category: %s\n  sub-categories: %s\n  vendor: %s\n  version: %s\n"
                "  sdk: %s\n  class flags: %u\n  cardinality: %d\n  cid: %s (identifier %s)\n",
                c, field(ci.name, 64).c_str(), field(ci.category, 32).c_str(),
                field(ci.subCategories, 128).c_str(), field(ci.vendor, 64).c_str(),
                field(ci.version, 64).c_str(), field(ci.sdkVersion, 64).c_str(),
                static_cast<unsigned>(ci.classFlags), static_cast<int>(ci.cardinality),
                hexBytes(ci.cid).c_str(), uidText(ci.cid).c_str());
        if (field(ci.category, 32) != v::kVstAudioEffectClass) continue;

        Plugin plugin(factory, ci.cid, &host);
        if (!plugin.ok()) {
            appendf(out, "  (cannot create an instance)\n");
            continue;
        }
        appendf(out, "  latency: %u samples, tail at 44100 Hz: %u samples\n",
                static_cast<unsigned>(plugin.processor->getLatencySamples()),
                static_cast<unsigned>(plugin.processor->getTailSamples()));
        static const char* const kMedia[] = {"audio", "event"};
        static const char* const kDir[] = {"input", "output"};
        for (int m = 0; m < 2; ++m) {
            for (int d = 0; d < 2; ++d) {
                const int count = plugin.component->getBusCount(m, d);
                for (int b = 0; b < count; ++b) {
                    v::BusInfo bus{};
                    plugin.component->getBusInfo(m, d, b, bus);
                    v::SpeakerArrangement arr = 0;
                    if (m == v::kAudio) plugin.processor->getBusArrangement(d, b, arr);
                    appendf(out,
                            "  bus %s %s %d: \"%s\", %d channels, arrangement 0x%llx, type %d, flags %u\n",
                            kMedia[m], kDir[d], b, toUtf8(bus.name).c_str(),
                            static_cast<int>(bus.channelCount), static_cast<unsigned long long>(arr),
                            static_cast<int>(bus.busType), static_cast<unsigned>(bus.flags));
                }
            }
        }
        const int paramCount = plugin.controller->getParameterCount();
        appendf(out, "  parameters: %d\n", paramCount);
        for (int p = 0; p < paramCount; ++p) {
            v::ParameterInfo pi{};
            if (plugin.controller->getParameterInfo(p, pi) != v::kResultOk) continue;
            appendf(
                out,
                "  [%d] id %u \"%s\" (short \"%s\", units \"%s\") steps %d default %.6f \"%s\" flags 0x%x "
                "unit %d; 0 \"%s\", 0.5 \"%s\", 1 \"%s\"\n",
                p, static_cast<unsigned>(pi.id), toUtf8(pi.title).c_str(), toUtf8(pi.shortTitle).c_str(),
                toUtf8(pi.units).c_str(), static_cast<int>(pi.stepCount), pi.defaultNormalizedValue,
                plugin.paramString(pi.id, pi.defaultNormalizedValue).c_str(), static_cast<unsigned>(pi.flags),
                static_cast<int>(pi.unitId), plugin.paramString(pi.id, 0.0).c_str(),
                plugin.paramString(pi.id, 0.5).c_str(), plugin.paramString(pi.id, 1.0).c_str());
        }
        if (plugin.unitInfo != nullptr) {
            const int units = plugin.unitInfo->getUnitCount();
            for (int u = 0; u < units; ++u) {
                v::UnitInfo ui{};
                if (plugin.unitInfo->getUnitInfo(u, ui) != v::kResultOk) continue;
                appendf(out, "  unit %d: id %d parent %d \"%s\" program list %d\n", u,
                        static_cast<int>(ui.id), static_cast<int>(ui.parentUnitId), toUtf8(ui.name).c_str(),
                        static_cast<int>(ui.programListId));
            }
            const int lists = plugin.unitInfo->getProgramListCount();
            for (int l = 0; l < lists; ++l) {
                v::ProgramListInfo li{};
                if (plugin.unitInfo->getProgramListInfo(l, li) != v::kResultOk) continue;
                appendf(out, "  program list %d: id %d \"%s\", %d programs\n", l, static_cast<int>(li.id),
                        toUtf8(li.name).c_str(), static_cast<int>(li.programCount));
                for (int i = 0; i < li.programCount; ++i) {
                    v::String128 name = {};
                    if (plugin.unitInfo->getProgramName(li.id, i, name) != v::kResultOk) continue;
                    appendf(out, "    program %d: \"%s\"\n", i, toUtf8(name).c_str());
                }
            }
        }
    }
    if (factory2 != nullptr) factory2->release();
    return true;
}

}  // namespace vst3host
