// The CLAP entry, factory, descriptor, extensions and thread checks, through the real loader.
#include <cstring>
#include <set>
#include <thread>

#include "tests/integration/clap/clapfixture.h"

namespace clapit {
namespace {

// A host and a wrapper may both load the file: init counts, and only the last deinit lets go.
TEST(ClapEntry, InitAndDeinitMayComeMoreThanOnce) {
    LoadedClap clap(velmoraClapPath());
    ASSERT_TRUE(clap.loaded());
    const c::PluginEntry* entry = clap.module().entry();
    EXPECT_EQ(entry->clapVersion.major, 1u);
    EXPECT_EQ(entry->clapVersion.minor, 2u);
    EXPECT_EQ(entry->getFactory("clap.preset-discovery-factory/2"), nullptr);
    EXPECT_EQ(entry->getFactory(nullptr), nullptr);

    EXPECT_TRUE(entry->init("elsewhere.clap"));  // a second user: count 2
    entry->deinit();                             // back to 1: still initialised
    ASSERT_NE(entry->getFactory(c::kPluginFactoryId), nullptr);
    Host host;
    EXPECT_TRUE(Instance(clap.module(), host).ok());
    entry->deinit();  // the last: nothing is answered any more
    EXPECT_EQ(entry->getFactory(c::kPluginFactoryId), nullptr);
    entry->deinit();  // one too many does nothing
    EXPECT_TRUE(entry->init("again.clap"));
    const auto* factory = static_cast<const c::PluginFactory*>(entry->getFactory(c::kPluginFactoryId));
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->getPluginCount(factory), 1u);
    EXPECT_TRUE(Instance(clap.module(), host).ok());
}  // the module's unload is the matching deinit

TEST(ClapFactory, PublishesTheProductsDescriptor) {
    LoadedClap clap(velmoraClapPath());
    ASSERT_TRUE(clap.loaded());
    const c::PluginFactory* factory = clap.module().factory();
    ASSERT_EQ(factory->getPluginCount(factory), 1u);
    EXPECT_EQ(factory->getPluginDescriptor(factory, 1), nullptr);
    const c::PluginDescriptor* d = factory->getPluginDescriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->clapVersion.major, 1u);
    EXPECT_STREQ(d->id, "example.tessary.velmora");
    EXPECT_STREQ(d->name, "Velmora");
    EXPECT_STREQ(d->vendor, "Tessary");
    EXPECT_STREQ(d->version, "1.4.0");
    EXPECT_STREQ(d->url, "https://tessary.example/velmora");
    EXPECT_STREQ(d->supportUrl, "mailto:support@tessary.example");
    EXPECT_STREQ(d->manualUrl, "");
    std::vector<std::string> features;
    for (const char* const* f = d->features; *f != nullptr; ++f) features.push_back(*f);
    EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "tessary:spatial", "stereo", "mono"}));

    Host host;
    EXPECT_EQ(factory->createPlugin(factory, host.clapHost(), "example.tessary.other"), nullptr);
    EXPECT_EQ(factory->createPlugin(factory, nullptr, d->id), nullptr);
    EXPECT_EQ(factory->createPlugin(factory, host.clapHost(), nullptr), nullptr);
    c::Host old = *host.clapHost();
    old.clapVersion = {0, 9, 0};  // a development version of the interface
    EXPECT_EQ(factory->createPlugin(factory, &old, d->id), nullptr);
    // Creating makes no host call: the host's counters stay at zero.
    const c::Plugin* plugin = factory->createPlugin(factory, host.clapHost(), d->id);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->desc, d);
    EXPECT_EQ(host.callbackRequests + host.restartRequests + host.latencyChanges, 0);
    plugin->destroy(plugin);  // never initialised: destroy is all a host may still do
}

TEST(ClapFactory, AnswersItsExtensionsAndNoOthers) {
    LoadedClap clap(velmoraClapPath());
    ASSERT_TRUE(clap.loaded());
    Host host;
    Instance instance(clap.module(), host);
    ASSERT_TRUE(instance.ok());
    EXPECT_TRUE(instance.plugin->init(instance.plugin));  // a second init changes nothing
    for (const char* id :
         {c::kExtParams, c::kExtState, c::kExtLatency, c::kExtTail, c::kExtAudioPorts,
          c::kExtAudioPortsConfig, c::kExtAudioPortsConfigInfo, c::kExtAudioPortsConfigInfoCompat, c::kExtGui})
        EXPECT_NE(instance.plugin->getExtension(instance.plugin, id), nullptr) << id;
    // The host's timer and descriptors drive the X11 window only.
    for (const char* id : {c::kExtTimerSupport, c::kExtPosixFdSupport})
#if defined(_WIN32)
        EXPECT_EQ(instance.plugin->getExtension(instance.plugin, id), nullptr) << id;
#else
        EXPECT_NE(instance.plugin->getExtension(instance.plugin, id), nullptr) << id;
#endif
    for (const char* id : {"clap.note-ports", "clap.render", "", "clap.params/2"})
        EXPECT_EQ(instance.plugin->getExtension(instance.plugin, id), nullptr) << id;
    EXPECT_EQ(instance.plugin->getExtension(instance.plugin, nullptr), nullptr);
    // No slot is left empty (hosts ignore an extension with one).
    const auto* params = instance.params;
    EXPECT_TRUE(params->count && params->getInfo && params->getValue && params->valueToText &&
                params->textToValue && params->flush);
    EXPECT_TRUE(instance.state->save && instance.state->load && instance.audioPortsConfig->select);
    // A Plugin structure not made by the module (another plug-in's data behind it) is refused.
    c::Plugin forged = *instance.plugin;
    std::uint64_t foreign[64] = {};
    forged.pluginData = foreign;
    EXPECT_FALSE(instance.plugin->activate(&forged, 48000.0, 1, 512));
    EXPECT_EQ(instance.params->count(&forged), 0u);
    EXPECT_EQ(instance.params->count(nullptr), 0u);
}

// The test module is built with its thread checks on: main-thread functions called on another
// thread, and audio-thread functions called off the audio thread, are reported through the
// host's log; right calls are not, and without a thread-check nothing is judged.
TEST(ClapThreads, WrongThreadsAreReportedThroughTheHostsLog) {
    LoadedClap clap(testClapPath());
    ASSERT_TRUE(clap.loaded());
    Host host;
    Instance instance(clap.module(), host);
    ASSERT_TRUE(instance.ok());
    ASSERT_TRUE(instance.prepare(48000.0, 512));
    EXPECT_EQ(instance.params->count(instance.plugin), 5u);
    float frame[2][8] = {};
    float* channels[2] = {frame[0], frame[1]};
    EXPECT_EQ(instance.process(channels, 2, channels, 2, 8), c::kProcessContinue);
    EXPECT_TRUE(host.logs.empty());

    std::thread([&] {
        instance.params->count(instance.plugin);
        c::ParamInfo info{};
        instance.params->getInfo(instance.plugin, 0, &info);
    }).join();
    host.setAudioThread(std::thread::id());  // the audio thread is elsewhere now
    instance.process(channels, 2, channels, 2, 8);
    EventList none;
    instance.flush(none);  // active: an audio-thread call
    ASSERT_EQ(host.logs.size(), 4u);
    for (const Host::LogLine& line : host.logs) EXPECT_EQ(line.severity, c::kLogHostMisbehaving);
    EXPECT_NE(host.logs[0].message.find("params.count"), std::string::npos);
    EXPECT_NE(host.logs[1].message.find("params.get_info"), std::string::npos);
    EXPECT_NE(host.logs[2].message.find("process called off the audio thread"), std::string::npos);
    EXPECT_NE(host.logs[3].message.find("params.flush"), std::string::npos);
    host.setAudioThread(std::this_thread::get_id());
    instance.stop();
    instance.flush(none);  // inactive: a main-thread call, on the main thread
    EXPECT_EQ(host.logs.size(), 4u);

    Host unchecked;
    unchecked.offerThreadCheck = false;
    Instance quiet(clap.module(), unchecked);
    std::thread([&] { quiet.params->count(quiet.plugin); }).join();
    EXPECT_TRUE(unchecked.logs.empty());
}

}  // namespace
}  // namespace clapit
