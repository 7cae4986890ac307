#pragma once
// The module's factory: GetPluginFactory's logic and CPluginFactory.
//
// The first getPluginFactory() call builds the one factory from the description of a temporary
// client (made through the product's createPluginClient hook, korvo/client/factoryhook.h) and
// registers one audio effect class; later calls add a reference to the same factory. The
// factory's last release destroys it and forgets it, so a later call builds a new one. Instances
// made by createInstance are independent of the factory and may outlive it.
//
// Class identifier: 8 fixed bytes 0x92 0xBA 0x20 0x0B 0xE0 0x0C 0x45 0xB1, then the vendor code's
// four characters last to first, then the product code's four characters last to first. Hosts keep
// it in their projects: it never changes between versions.
//
// Reference counting: the adapter's one base (refcounted.h); the count starts at 1, release to 0
// destroys the object.
//
// Threads: getPluginFactory and the factory's queries run on the host's main thread; the global
// factory pointer is not locked. addRef/release may come from any thread.

#include <cstdint>

#include "korvo/client/client.h"
#include "korvo/client/factoryhook.h"
#include "korvo/core/nogc.h"
#include "korvo/vst3/abi.h"
#include "korvo/vst3/refcounted.h"

namespace korvo::vst3 {

// The exported GetPluginFactory: the factory's IPluginFactory3 face, with one reference owned by
// the caller. Runs under the floating-point guard. [main-thread]
IPluginFactory* getPluginFactory() noexcept;

// Sub-category text for a description category code ("" for 14 and above or negative codes).
const char* subCategoriesForCategory(std::int32_t category) noexcept;

// The 16 class identifier bytes for a vendor and product code (missing characters count as 0).
void makeClassId(const char* vendorCode, const char* productCode, char out[16]) noexcept;
// The class identifier's fixed first two words.
inline constexpr uint32 kClassIdWord1 = 0x0B20BA92;
inline constexpr uint32 kClassIdWord2 = 0x0CE0B145;

// Creation function of a registered class: returns a new object (count 1) or null.
using CreateFunction = FUnknown* (*)(void* context);

class CPluginFactory final : public ComObject<CPluginFactory, IPluginFactory3> {
public:
    explicit CPluginFactory(const PFactoryInfo& info) noexcept;
    ~CPluginFactory();
    CPluginFactory(const CPluginFactory&) = delete;
    CPluginFactory& operator=(const CPluginFactory&) = delete;

    // Registration (main thread, while building). Each refuses a null description or creation
    // function with false; the class array grows by 10 entries when full.
    bool registerClass(const PClassInfo* info, CreateFunction create, void* context) noexcept;
    bool registerClass(const PClassInfo2* info, CreateFunction create, void* context) noexcept;
    bool registerClass(const PClassInfoW* info, CreateFunction create, void* context) noexcept;

    // FUnknown (addRef and release: the base's count)
    tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override;
    // IPluginFactory
    tresult KORVO_VST3_API getFactoryInfo(PFactoryInfo* info) override;
    int32 KORVO_VST3_API countClasses() override;
    tresult KORVO_VST3_API getClassInfo(int32 index, PClassInfo* info) override;
    tresult KORVO_VST3_API createInstance(FIDString cid, FIDString iid, void** obj) override;
    // IPluginFactory2
    tresult KORVO_VST3_API getClassInfo2(int32 index, PClassInfo2* info) override;
    // IPluginFactory3
    tresult KORVO_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) override;
    tresult KORVO_VST3_API setHostContext(FUnknown* context) override;

private:
    struct ClassEntry {
        PClassInfo2 info2;
        PClassInfoW infoW;
        CreateFunction create;
        void* context;
        bool wide;
    };
    bool append(const ClassEntry& entry) noexcept;

    PFactoryInfo factoryInfo_;
    ClassEntry* classes_ = nullptr;
    std::int32_t classCount_ = 0;
    std::int32_t classCapacity_ = 0;
};

}  // namespace korvo::vst3
