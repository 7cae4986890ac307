// Module entry, factory and instance identity, through the exported entry points.
#include <cstdio>
#include <cstring>

#include "korvo/core/fpcontrol.h"
#include "tests/integration/vst3fixture.h"

namespace vst3it {
namespace {

std::string text(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

TEST(Vst3Factory, RepeatedGetPluginFactoryAddsReferencesToOneFactory) {
    Module module;
    std::string error;
    ASSERT_TRUE(module.load(testModulePath(), error)) << error;
    auto getFactory = reinterpret_cast<v::GetFactoryProc>(module.symbol("GetPluginFactory"));
    ASSERT_NE(getFactory, nullptr);
    v::IPluginFactory* second = getFactory();
    EXPECT_EQ(second, module.factory());
    // Two references are out: one more and one less tell the count.
    EXPECT_EQ(second->addRef(), 3u);
    EXPECT_EQ(second->release(), 2u);
    EXPECT_EQ(second->release(), 1u);

    void* face = nullptr;
    for (const v::Uid* iid :
         {&v::iidFUnknown, &v::iidIPluginFactory, &v::iidIPluginFactory2, &v::iidIPluginFactory3}) {
        ASSERT_EQ(module.factory()->queryInterface(iid->data(), &face), v::kResultOk);
        EXPECT_EQ(face, module.factory());
        static_cast<v::FUnknown*>(face)->release();
    }
    face = &module;
    EXPECT_EQ(module.factory()->queryInterface(v::iidIComponent.data(), &face), v::kNoInterface);
    EXPECT_EQ(face, nullptr);
}

TEST(Vst3Factory, LastReleaseForgetsTheFactorySoTheNextCallBuildsAgain) {
    Module module;
    std::string error;
    ASSERT_TRUE(module.load(testModulePath(), error)) << error;
    auto getFactory = reinterpret_cast<v::GetFactoryProc>(module.symbol("GetPluginFactory"));
    v::IPluginFactory* first = module.takeFactory();
    EXPECT_EQ(first->release(), 0u);  // destroyed
    v::IPluginFactory* fresh = getFactory();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->countClasses(), 1);
    EXPECT_EQ(fresh->addRef(), 2u);  // a new factory starts at 1 again
    EXPECT_EQ(fresh->release(), 1u);
    EXPECT_EQ(fresh->release(), 0u);
}

TEST(Vst3Factory, EntryFunctionsReportSuccess) {
    Module module;
    std::string error;
    ASSERT_TRUE(module.load(testModulePath(), error)) << error;
    for (const char* name : {"InitDll", "ExitDll", "bundleExit"}) {
        auto fn = reinterpret_cast<v::InitModuleProc>(module.symbol(name));
        ASSERT_NE(fn, nullptr) << name;
        EXPECT_TRUE(fn()) << name;
    }
    auto bundleEntry = reinterpret_cast<v::ModuleEntryProc>(module.symbol("bundleEntry"));
    ASSERT_NE(bundleEntry, nullptr);
    EXPECT_TRUE(bundleEntry(nullptr));
#if !defined(_WIN32)
    EXPECT_NE(module.symbol("ModuleEntry"), nullptr);
    EXPECT_NE(module.symbol("ModuleExit"), nullptr);
#endif
    // Nothing of the framework leaks out of the module.
    EXPECT_EQ(module.symbol("_ZN5korvo4vst316getPluginFactoryEv"), nullptr);
}

TEST(Vst3Factory, ClassInfoDescribesTheEffect) {
    LoadedModule m(velmoraBundlePath());
    ASSERT_TRUE(m.loaded());
    v::IPluginFactory* factory = m.factory();
    v::PFactoryInfo info{};
    ASSERT_EQ(factory->getFactoryInfo(&info), v::kResultOk);
    EXPECT_EQ(info.flags, 16);
    EXPECT_FALSE(text(info.vendor, 64).empty());
    EXPECT_FALSE(text(info.url, 256).empty());
    EXPECT_FALSE(text(info.email, 128).empty());
    EXPECT_EQ(factory->getFactoryInfo(nullptr), v::kInvalidArgument);
    ASSERT_EQ(factory->countClasses(), 1);

    v::PClassInfo basic{};
    ASSERT_EQ(factory->getClassInfo(0, &basic), v::kResultOk);
    EXPECT_EQ(text(basic.category, 32), "Audio Module Class");
    EXPECT_EQ(basic.cardinality, 0x7FFFFFFF);
    // One identifier on every platform: its text is 0B20BA92 0CE0B145 "yrsT" "71v@"; Windows stores
    // the first two words in GUID order, Linux in plain big-endian order.
#if defined(_WIN32)
    const unsigned char expectedCid[16] = {0x92, 0xBA, 0x20, 0x0B, 0xE0, 0x0C, 0x45, 0xB1,
                                           'y',  'r',  's',  'T',  '7',  '1',  'v',  '@'};
#else
    const unsigned char expectedCid[16] = {0x0B, 0x20, 0xBA, 0x92, 0x0C, 0xE0, 0xB1, 0x45,
                                           'y',  'r',  's',  'T',  '7',  '1',  'v',  '@'};
#endif
    EXPECT_EQ(std::memcmp(basic.cid, expectedCid, 16), 0) << vst3host::hexBytes(basic.cid);
    EXPECT_EQ(vst3host::uidText(basic.cid), "0B20BA920CE0B1457972735437317640");
    EXPECT_EQ(factory->getClassInfo(1, &basic), v::kInvalidArgument);
    EXPECT_EQ(factory->getClassInfo(-1, &basic), v::kInvalidArgument);
    EXPECT_EQ(factory->getClassInfo(0, nullptr), v::kInvalidArgument);

    void* face = nullptr;
    ASSERT_EQ(factory->queryInterface(v::iidIPluginFactory3.data(), &face), v::kResultOk);
    auto* factory3 = static_cast<v::IPluginFactory3*>(face);
    v::PClassInfo2 info2{};
    ASSERT_EQ(factory3->getClassInfo2(0, &info2), v::kResultOk);
    EXPECT_EQ(text(info2.subCategories, 128), "Fx|Spatial");
    EXPECT_EQ(text(info2.version, 64), "1.4.0");
    EXPECT_EQ(text(info2.sdkVersion, 64), "VST 3.6.11");
    EXPECT_EQ(info2.classFlags, 2u);
    EXPECT_EQ(text(info2.name, 64), text(basic.name, 64));
    EXPECT_EQ(factory3->getClassInfo2(1, &info2), v::kInvalidArgument);

    v::PClassInfoW wide{};
    ASSERT_EQ(factory3->getClassInfoUnicode(0, &wide), v::kResultOk);
    EXPECT_EQ(vst3host::narrow(wide.version, 64), "1.4.0");
    EXPECT_EQ(vst3host::narrow(wide.sdkVersion, 64), "VST 3.6.11");
    EXPECT_EQ(vst3host::narrow(wide.name, 64), text(basic.name, 64));
    EXPECT_EQ(text(wide.subCategories, 128), "Fx|Spatial");
    EXPECT_EQ(std::memcmp(wide.cid, expectedCid, 16), 0);
    EXPECT_EQ(factory3->getClassInfoUnicode(-1, &wide), v::kInvalidArgument);
    EXPECT_EQ(factory3->setHostContext(nullptr), v::kNotImplemented);
    factory3->release();
}

// The bundle's moduleinfo.json says what the module's factory says.
TEST(Vst3Factory, TheBundlesModuleInfoIsTheFactorys) {
    const std::string bundle = platformPath(VELMORA_VST3_BUNDLE);
    std::FILE* file = std::fopen((bundle + (bundle.find('\\') != std::string::npos
                                                ? "\\Contents\\Resources\\moduleinfo.json"
                                                : "/Contents/Resources/moduleinfo.json"))
                                     .c_str(),
                                 "rb");
    ASSERT_NE(file, nullptr);
    std::string stored;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) stored.append(chunk, n);
    std::fclose(file);
    std::string json, error;
    ASSERT_TRUE(vst3host::moduleInfoJson(bundle, json, error)) << error;
    EXPECT_EQ(stored, json);
    for (const char* fact :
         {"\"Name\": \"Velmora\",\n  \"Version\": \"1.4.0\"", "\"Unicode\": true", "\"Classes Discardable\": false",
          "\"CID\": \"0B20BA920CE0B1457972735437317640\"", "\"Category\": \"Audio Module Class\"",
          "\"SDKVersion\": \"VST 3.6.11\"", "\"Sub Categories\": [\"Fx\", \"Spatial\"]", "\"Class Flags\": 2,",
          "\"Cardinality\": 2147483647,"})
        EXPECT_NE(stored.find(fact), std::string::npos) << fact;
    EXPECT_EQ(stored.find("\"CID\""), stored.rfind("\"CID\""));  // one class
}

TEST(Vst3Factory, CreateInstanceAnswersOnlyKnownClassesAndInterfaces) {
    LoadedModule m(testModulePath());
    ASSERT_TRUE(m.loaded());
    void* obj = &m;
    char wrongCid[16];
    std::memcpy(wrongCid, m.cid(), 16);
    wrongCid[15] ^= 1;
    EXPECT_EQ(m.factory()->createInstance(wrongCid, v::iidIComponent.data(), &obj), v::kNoInterface);
    EXPECT_EQ(obj, nullptr);
    // A known class asked for an interface it lacks: the new object is destroyed again (the leak
    // checker of the sanitizer build would see it otherwise).
    obj = &m;
    EXPECT_EQ(m.factory()->createInstance(m.cid(), v::iidIPlugView.data(), &obj), v::kNoInterface);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(m.factory()->createInstance(m.cid(), v::iidIComponent.data(), nullptr), v::kInvalidArgument);

    ASSERT_EQ(m.factory()->createInstance(m.cid(), v::iidIComponent.data(), &obj), v::kResultOk);
    auto* component = static_cast<v::IComponent*>(obj);
    EXPECT_EQ(component->getBusCount(v::kAudio, v::kOutput), 0);  // buses appear with initialize
    EXPECT_EQ(component->release(), 0u);
}

TEST(Vst3Factory, FacesAreSeparateAndShareOneCount) {
    LoadedModule m(testModulePath());
    ASSERT_TRUE(m.loaded());
    void* obj = nullptr;
    ASSERT_EQ(m.factory()->createInstance(m.cid(), v::iidIAudioProcessor.data(), &obj), v::kResultOk);
    auto* processor = static_cast<v::IAudioProcessor*>(obj);
    auto face = [&](const v::Uid& iid) {
        void* out = nullptr;
        EXPECT_EQ(processor->queryInterface(iid.data(), &out), v::kResultOk);
        return out;
    };
    void* unknown = face(v::iidFUnknown);
    void* component = face(v::iidIComponent);
    void* base = face(v::iidIPluginBase);
    void* controller = face(v::iidIEditController);
    void* controller2 = face(v::iidIEditController2);
    void* unitInfo = face(v::iidIUnitInfo);
    EXPECT_EQ(unknown, static_cast<void*>(processor));
    EXPECT_EQ(base, component);
    EXPECT_NE(component, controller);
    EXPECT_NE(controller, controller2);
    EXPECT_NE(controller2, unitInfo);
    EXPECT_NE(static_cast<void*>(processor), component);
    // 1 + 6 queries: every face counts on the same number.
    EXPECT_EQ(static_cast<v::IUnitInfo*>(unitInfo)->addRef(), 8u);
    EXPECT_EQ(static_cast<v::IEditController*>(controller)->release(), 7u);
    void* none = processor;
    EXPECT_EQ(processor->queryInterface(v::iidIPlugView.data(), &none), v::kNoInterface);
    EXPECT_EQ(none, nullptr);

    // Same-named state calls stay apart: the component's holds the parameters, the controller's
    // only the editor's own (its zoom), and neither takes the other's.
    MemoryStream stream;
    EXPECT_EQ(static_cast<v::IComponent*>(component)->getState(&stream), v::kResultOk);
    EXPECT_GT(stream.bytes().size(), 2u);
    MemoryStream other;
    EXPECT_EQ(static_cast<v::IEditController*>(controller)->getState(&other), v::kResultOk);
    EXPECT_EQ(other.bytes().size(), 9u);
    stream.rewind();
    EXPECT_EQ(static_cast<v::IEditController*>(controller)->setState(&stream), v::kResultFalse);
    EXPECT_EQ(static_cast<v::IEditController*>(controller)->setComponentState(&stream), v::kNotImplemented);

    for (void* f : {unknown, component, base, controller, controller2, unitInfo})
        static_cast<v::FUnknown*>(f)->release();
    EXPECT_EQ(processor->release(), 0u);
}

}  // namespace
}  // namespace vst3it

namespace vst3it {
namespace {

// The factory entry, the creation function, setupProcessing and getLatencySamples run the plug-in
// with denormals flushed and every exception masked, and give the host its own setting back.
TEST(Vst3FloatingPoint, GuardedEntriesRunWithThePluginSettingAndRestoreTheHosts) {
    const std::uint32_t savedMXCSR = korvo::FPControl::readMXCSR();
    const std::uint16_t savedFPUCW = korvo::FPControl::readFPUCW();
    const std::uint32_t hostMXCSR = 0x1D80;  // no flushing, divide-by-zero unmasked
    const std::uint16_t hostFPUCW = 0x27F;   // 53-bit precision
    auto hostSettingIntact = [&] {
        return (korvo::FPControl::readMXCSR() & 0xFFC0u) == hostMXCSR &&
               korvo::FPControl::readFPUCW() == hostFPUCW;
    };
    korvo::FPControl::writeMXCSR(hostMXCSR);
    korvo::FPControl::writeFPUCW(hostFPUCW);
    {
        Module module;
        std::string error;
        const bool loaded = module.load(testModulePath(), error);
        EXPECT_TRUE(hostSettingIntact());
        if (loaded) {
            v::PFactoryInfo info{};
            module.factory()->getFactoryInfo(&info);
            EXPECT_STREQ(info.url, "https://example.invalid/mxcsr/9FC0");
            v::PClassInfo ci{};
            module.factory()->getClassInfo(0, &ci);
            HostApplication host;
            {
                Plugin plugin(module.factory(), ci.cid, &host);
                EXPECT_TRUE(hostSettingIntact());
                EXPECT_EQ(plugin.processor->getLatencySamples(), 2u);
                EXPECT_TRUE(hostSettingIntact());
                v::ProcessSetup setup{v::kRealtime, v::kSample32, 256, 44100.0};
                EXPECT_EQ(plugin.processor->setupProcessing(setup), v::kResultOk);
                EXPECT_TRUE(hostSettingIntact());
            }
        }
    }
    korvo::FPControl::writeMXCSR(savedMXCSR);
    korvo::FPControl::writeFPUCW(savedFPUCW);
}

}  // namespace
}  // namespace vst3it
