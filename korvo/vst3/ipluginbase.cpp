#include "korvo/vst3/ipluginbase.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvo/core/fpcontrol.h"
#include "korvo/vst3/client.h"

namespace korvo::vst3 {

namespace {

// The one factory, held as its IPluginFactory3 face; null until built and after its last release.
IPluginFactory3* gFactory = nullptr;

// Copies text into a fixed field, keeping room for the terminator, and zero-fills the rest.
void copyText(char* field, std::size_t fieldSize, const char* text) noexcept {
    std::memset(field, 0, fieldSize);
    if (text == nullptr) return;
    std::size_t n = std::strlen(text);
    if (n > fieldSize - 1) n = fieldSize - 1;
    std::memcpy(field, text, n);
}

// Widens bytes to UTF-16, one unit per byte, always terminated within the field.
void widenText(char16* field, std::size_t fieldChars, const char* text) noexcept {
    std::size_t i = 0;
    for (; text != nullptr && text[i] != 0 && i + 1 < fieldChars; ++i)
        field[i] = static_cast<char16>(static_cast<unsigned char>(text[i]));
    for (; i < fieldChars; ++i) field[i] = 0;
}

// Copies at most fieldSize - 1 bytes of a possibly unterminated field and terminates.
void copyField(char* out, const char* in, std::size_t fieldSize) noexcept {
    std::size_t n = 0;
    while (n < fieldSize - 1 && in[n] != 0) ++n;
    std::memcpy(out, in, n);
    std::memset(out + n, 0, fieldSize - n);
}

FUnknown* createEffectInstance(void*) {
    FPControl guard;
    VST3Client* object = heapNew<VST3Client>(createPluginClient());
    return object->processorFace();
}

}  // namespace

const char* subCategoriesForCategory(std::int32_t category) noexcept {
    static const char* const kTable[] = {
        "Fx|Analyzer",     "Fx|Delay",           "Fx|Distortion",    "Fx|Dynamics",      "Fx|EQ",
        "Fx|Spatial",      "Fx|Modulation",      "Fx|Pitch Shift",   "Fx|Reverb",        "Fx",
        "Instrument|Drum", "Instrument|Sampler", "Instrument|Synth", "Instrument|Synth",
    };
    if (category < 0 || category >= static_cast<std::int32_t>(sizeof(kTable) / sizeof(kTable[0]))) return "";
    return kTable[category];
}

void makeClassId(const char* vendorCode, const char* productCode, char out[16]) noexcept {
    auto codeChar = [](const char* code, int i) -> std::uint32_t {
        if (code == nullptr) return 0;
        for (int k = 0; k < i; ++k)
            if (code[k] == 0) return 0;
        return static_cast<unsigned char>(code[i]);
    };
    // The identifier as four words, each code's characters last to first; makeUid lays them out
    // the way this platform stores identifiers, so every platform shows the same identifier text
    // (0B20BA92-0CE0B145-...) and the Windows bytes are 92 BA 20 0B E0 0C 45 B1 ...
    std::uint32_t vendor = 0, product = 0;
    for (int i = 0; i < 4; ++i) {
        vendor = (vendor << 8) | codeChar(vendorCode, 3 - i);
        product = (product << 8) | codeChar(productCode, 3 - i);
    }
    const Uid uid = makeUid(kClassIdWord1, kClassIdWord2, vendor, product);
    std::memcpy(out, uid.bytes, 16);
}

// ---- CPluginFactory -------------------------------------------------------------------------------

CPluginFactory::CPluginFactory(const PFactoryInfo& info) noexcept : factoryInfo_(info) {}

CPluginFactory::~CPluginFactory() {
    if (gFactory == this) gFactory = nullptr;
    std::free(classes_);
}

bool CPluginFactory::append(const ClassEntry& entry) noexcept {
    if (classCount_ == classCapacity_) {
        const std::int32_t capacity = classCapacity_ + 10;
        void* grown = std::realloc(classes_, sizeof(ClassEntry) * static_cast<std::size_t>(capacity));
        if (grown == nullptr) return false;
        classes_ = static_cast<ClassEntry*>(grown);
        classCapacity_ = capacity;
    }
    classes_[classCount_++] = entry;
    return true;
}

bool CPluginFactory::registerClass(const PClassInfo* info, CreateFunction create, void* context) noexcept {
    if (info == nullptr || create == nullptr) return false;
    PClassInfo2 info2{};
    std::memcpy(&info2, info, sizeof(PClassInfo));
    return registerClass(&info2, create, context);
}

bool CPluginFactory::registerClass(const PClassInfo2* info, CreateFunction create, void* context) noexcept {
    if (info == nullptr || create == nullptr) return false;
    ClassEntry entry{};
    entry.info2 = *info;
    std::memcpy(entry.infoW.cid, info->cid, sizeof(TUID));
    entry.infoW.cardinality = info->cardinality;
    copyField(entry.infoW.category, info->category, sizeof(info->category));
    char text[129];
    copyField(text, info->name, sizeof(info->name));
    widenText(entry.infoW.name, 64, text);
    entry.infoW.classFlags = info->classFlags;
    copyField(entry.infoW.subCategories, info->subCategories, sizeof(info->subCategories));
    copyField(text, info->vendor, sizeof(info->vendor));
    widenText(entry.infoW.vendor, 64, text);
    copyField(text, info->version, sizeof(info->version));
    widenText(entry.infoW.version, 64, text);
    copyField(text, info->sdkVersion, sizeof(info->sdkVersion));
    widenText(entry.infoW.sdkVersion, 64, text);
    entry.create = create;
    entry.context = context;
    entry.wide = false;
    return append(entry);
}

bool CPluginFactory::registerClass(const PClassInfoW* info, CreateFunction create, void* context) noexcept {
    if (info == nullptr || create == nullptr) return false;
    ClassEntry entry{};
    entry.infoW = *info;
    std::memcpy(entry.info2.cid, info->cid, sizeof(TUID));
    entry.create = create;
    entry.context = context;
    entry.wide = true;
    return append(entry);
}

tresult CPluginFactory::queryInterface(const TUID iid, void** obj) {
    const bool matches = uidEquals(iid, iidFUnknown) || uidEquals(iid, iidIPluginFactory) ||
                         uidEquals(iid, iidIPluginFactory2) || uidEquals(iid, iidIPluginFactory3);
    return answerInterface(*this, matches, static_cast<IPluginFactory3*>(this), obj);
}

tresult CPluginFactory::getFactoryInfo(PFactoryInfo* info) {
    if (info == nullptr) return kInvalidArgument;
    *info = factoryInfo_;
    return kResultOk;
}

int32 CPluginFactory::countClasses() {
    return classCount_;
}

tresult CPluginFactory::getClassInfo(int32 index, PClassInfo* info) {
    if (index < 0 || info == nullptr || index >= classCount_) return kInvalidArgument;
    if (classes_[index].wide) {
        std::memset(info, 0, sizeof(PClassInfo));
        return kResultFalse;
    }
    std::memcpy(info, &classes_[index].info2, sizeof(PClassInfo));
    return kResultOk;
}

tresult CPluginFactory::getClassInfo2(int32 index, PClassInfo2* info) {
    if (index < 0 || info == nullptr || index >= classCount_) return kInvalidArgument;
    if (classes_[index].wide) {
        std::memset(info, 0, sizeof(PClassInfo2));
        return kResultFalse;
    }
    *info = classes_[index].info2;
    return kResultOk;
}

tresult CPluginFactory::getClassInfoUnicode(int32 index, PClassInfoW* info) {
    if (index < 0 || info == nullptr || index >= classCount_) return kInvalidArgument;
    *info = classes_[index].infoW;
    return kResultOk;
}

tresult CPluginFactory::createInstance(FIDString cid, FIDString iid, void** obj) {
    if (obj == nullptr) return kInvalidArgument;
    *obj = nullptr;
    if (cid == nullptr || iid == nullptr) return kInvalidArgument;
    const ClassEntry* found = nullptr;
    for (std::int32_t i = 0; i < classCount_; ++i) {
        if (std::memcmp(classes_[i].info2.cid, cid, sizeof(TUID)) == 0) {
            found = &classes_[i];
            break;
        }
    }
    if (found == nullptr) return kNoInterface;
    FUnknown* object = found->create(found->context);
    if (object == nullptr) return kNoInterface;
    const tresult result = object->queryInterface(iid, obj);
    object->release();  // the creation reference: the object dies here when the query failed
    if (result == kResultOk) return kResultOk;
    *obj = nullptr;
    return kNoInterface;
}

tresult CPluginFactory::setHostContext(FUnknown*) {
    return kNotImplemented;
}

// ---- GetPluginFactory ----------------------------------------------------------------------------

IPluginFactory* getPluginFactory() noexcept {
    FPControl guard;
    if (gFactory != nullptr) {
        gFactory->addRef();
        return gFactory;
    }
    HeapPtr<Client> client = createPluginClient();
    const PluginDescription& d = client->description();

    PFactoryInfo factoryInfo{};
    copyText(factoryInfo.vendor, sizeof(factoryInfo.vendor), d.vendorName.c_str());
    copyText(factoryInfo.url, sizeof(factoryInfo.url), client->homepage());
    copyText(factoryInfo.email, sizeof(factoryInfo.email), client->supportEmail());
    factoryInfo.flags = kUnicode;
    CPluginFactory* factory = heapNew<CPluginFactory>(factoryInfo);

    PClassInfo2 info{};
    makeClassId(d.vendorUniqueID.c_str(), d.pluginUniqueID.c_str(), info.cid);
    info.cardinality = kManyInstances;
    copyText(info.category, sizeof(info.category), kVstAudioEffectClass);
    copyText(info.name, sizeof(info.name), d.pluginName.c_str());
    info.classFlags = kSimpleModeSupported;
    copyText(info.subCategories, sizeof(info.subCategories), subCategoriesForCategory(d.category));
    copyText(info.vendor, sizeof(info.vendor), d.vendorName.c_str());
    char version[64];
    std::snprintf(version, sizeof(version), "%d.%d.%d", static_cast<int>(d.versionMajor),
                  static_cast<int>(d.versionMinor), static_cast<int>(d.versionPatch));
    copyText(info.version, sizeof(info.version), version);
    copyText(info.sdkVersion, sizeof(info.sdkVersion), kVstVersionString);
    if (!factory->registerClass(&info, createEffectInstance, nullptr))
        fatalError("cannot register the plug-in class");

    client.reset();
    gFactory = factory;
    return gFactory;
}

}  // namespace korvo::vst3
