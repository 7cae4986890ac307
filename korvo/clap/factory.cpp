#include "korvo/clap/factory.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "korvo/clap/plugin.h"
#include "korvo/client/factoryhook.h"
#include "korvo/core/fpcontrol.h"
#include "korvo/core/sync.h"

namespace korvo::clap {

namespace {

// The descriptor and the strings it points into, alive from the first init to the last deinit.
struct Published {
    std::string id, name, vendor, url, supportUrl, version;
    std::vector<std::string> features;
    std::vector<const char*> featurePointers;  // null-terminated
    PluginDescriptor descriptor{};
};

UncheckedMutex& entryLock() {
    static UncheckedMutex lock;
    return lock;
}
std::int32_t gInitCount = 0;                  // under entryLock
std::atomic<Published*> gPublished{nullptr};  // set while initialised

Published* publish() {
    HeapPtr<Client> client = createPluginClient();
    const PluginDescription& d = client->description();
    Published* p = heapNew<Published>();
    p->id = d.bundleIdentifiers[0];
    p->name = d.pluginName;
    p->vendor = d.vendorName;
    p->url = client->homepage();
    p->supportUrl = std::string("mailto:") + client->supportEmail();
    char version[64];
    std::snprintf(version, sizeof(version), "%d.%d.%d", static_cast<int>(d.versionMajor),
                  static_cast<int>(d.versionMinor), static_cast<int>(d.versionPatch));
    p->version = version;
    p->features = featuresForCategory(d.category, d.vendorName);
    bool stereo = false, mono = false;
    for (const ChannelConfig& config : client->channelConfigs()) {
        stereo = stereo || config.numOutputs == 2;
        mono = mono || config.numInputs == 1;
    }
    if (stereo) p->features.push_back("stereo");
    if (mono) p->features.push_back("mono");
    for (const std::string& feature : p->features) p->featurePointers.push_back(feature.c_str());
    p->featurePointers.push_back(nullptr);
    PluginDescriptor& desc = p->descriptor;
    desc.clapVersion = kVersion;
    desc.id = p->id.c_str();
    desc.name = p->name.c_str();
    desc.vendor = p->vendor.c_str();
    desc.url = p->url.c_str();
    desc.manualUrl = "";
    desc.supportUrl = p->supportUrl.c_str();
    desc.version = p->version.c_str();
    desc.description = "";
    desc.features = p->featurePointers.data();
    return p;
}

std::uint32_t KORVO_CLAP_API factoryCount(const PluginFactory*) {
    return gPublished.load() != nullptr ? 1 : 0;
}

const PluginDescriptor* KORVO_CLAP_API factoryDescriptor(const PluginFactory*, std::uint32_t index) {
    Published* p = gPublished.load();
    return p != nullptr && index == 0 ? &p->descriptor : nullptr;
}

const Plugin* KORVO_CLAP_API factoryCreate(const PluginFactory*, const Host* host, const char* pluginId) {
    Published* p = gPublished.load();
    if (p == nullptr || host == nullptr || pluginId == nullptr) return nullptr;
    if (!versionIsCompatible(host->clapVersion) || std::strcmp(pluginId, p->id.c_str()) != 0) return nullptr;
    FPControl guard;
    ClapPlugin* object = heapNew<ClapPlugin>(host, &p->descriptor, createPluginClient());
    return object->plugin();
}

constexpr PluginFactory kFactory = {factoryCount, factoryDescriptor, factoryCreate};

}  // namespace

std::vector<std::string> featuresForCategory(std::int32_t category, const std::string& vendorName) {
    std::string space;
    for (char c : vendorName)
        space.push_back(c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    const std::string own = space + ":";
    // The same codes as the VST3 sub-categories: Analyzer, Delay, Distortion, Dynamics, EQ,
    // Spatial, Modulation, Pitch Shift, Reverb, plain effect, then four instrument kinds.
    switch (category) {
        case 0:
            return {"analyzer"};
        case 1:
            return {"audio-effect", "delay"};
        case 2:
            return {"audio-effect", own + "distortion"};
        case 3:
            return {"audio-effect", own + "dynamics"};
        case 4:
            return {"audio-effect", "equalizer"};
        case 5:
            return {"audio-effect", own + "spatial"};
        case 6:
            return {"audio-effect", own + "modulation"};
        case 7:
            return {"audio-effect", own + "pitch-shift"};
        case 8:
            return {"audio-effect", "reverb"};
        case 10:
        case 11:
        case 12:
        case 13:
            return {"instrument"};
        default:
            return {"audio-effect"};
    }
}

bool entryInit(const char*) noexcept {
    FPControl guard;
    ScopedLock hold(entryLock());
    if (gInitCount++ == 0) gPublished.store(publish());
    return true;
}

void entryDeinit() noexcept {
    FPControl guard;
    ScopedLock hold(entryLock());
    if (gInitCount == 0) return;  // one deinit too many
    if (--gInitCount == 0) heapDelete(gPublished.exchange(nullptr));
}

const void* entryGetFactory(const char* factoryId) noexcept {
    if (factoryId == nullptr || gPublished.load() == nullptr) return nullptr;
    return std::strcmp(factoryId, kPluginFactoryId) == 0 ? &kFactory : nullptr;
}

}  // namespace korvo::clap
