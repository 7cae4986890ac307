#include "tools/vst3host/host.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vst3host {

namespace fs = std::filesystem;

std::string narrow(const v::char16* text, std::size_t limit) {
    std::string out;
    if (text == nullptr) return out;
    for (std::size_t i = 0; i < limit && text[i] != 0; ++i) {
        const unsigned unit = static_cast<std::uint16_t>(text[i]);
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return out;
}

String16 widen(const std::string& text) {
    String16 out;
    for (unsigned char c : text) out.push_back(static_cast<v::char16>(c));
    return out;
}

std::string hexBytes(const char* bytes, std::size_t count) {
    std::string out;
    char digits[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof(digits), "%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
        out += digits;
    }
    return out;
}

std::string uidText(const char* bytes) {
#if defined(_WIN32)
    const char order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    char words[16];
    for (int i = 0; i < 16; ++i) words[i] = bytes[static_cast<int>(order[i])];
    return hexBytes(words);
#else
    return hexBytes(bytes);
#endif
}

// ---- Host objects -----------------------------------------------------------------------------

v::tresult HostApplication::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIHostApplication);
}

v::tresult HostApplication::getName(v::String128 name) {
    if (name == nullptr) return v::kInvalidArgument;
    if (unterminated_) {
        for (std::size_t i = 0; i < 128; ++i)
            name[i] = static_cast<v::char16>(i < name_.size() ? static_cast<unsigned char>(name_[i]) : 'x');
        return v::kResultOk;
    }
    std::size_t i = 0;
    for (; i < name_.size() && i < 127; ++i)
        name[i] = static_cast<v::char16>(static_cast<unsigned char>(name_[i]));
    name[i] = 0;
    return v::kResultOk;
}

v::tresult HostApplication::createInstance(v::TUID, v::TUID, void** obj) {
    if (obj != nullptr) *obj = nullptr;
    return v::kResultFalse;
}

v::tresult ComponentHandler::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIComponentHandler);
}
v::tresult ComponentHandler::beginEdit(v::ParamID id) {
    calls.push_back({Kind::beginEdit, id, 0.0, 0});
    return v::kResultOk;
}
v::tresult ComponentHandler::performEdit(v::ParamID id, v::ParamValue value) {
    calls.push_back({Kind::performEdit, id, value, 0});
    return v::kResultOk;
}
v::tresult ComponentHandler::endEdit(v::ParamID id) {
    calls.push_back({Kind::endEdit, id, 0.0, 0});
    return v::kResultOk;
}
v::tresult ComponentHandler::restartComponent(v::int32 flags) {
    calls.push_back({Kind::restartComponent, 0, 0.0, flags});
    return v::kResultOk;
}

v::tresult MemoryStream::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIBStream);
}

v::tresult MemoryStream::read(void* buffer, v::int32 numBytes, v::int32* numBytesRead) {
    if (numBytesRead != nullptr) *numBytesRead = 0;
    if (failReadsAfter_ == 0) return v::kResultFalse;
    if (failReadsAfter_ > 0) --failReadsAfter_;
    if (buffer == nullptr || numBytes < 0) return v::kInvalidArgument;
    const std::int64_t size = static_cast<std::int64_t>(bytes_.size());
    const std::int64_t available = position_ < size ? size - position_ : 0;
    std::int64_t n = numBytes < available ? numBytes : available;
    if (bytesPerRead_ > 0 && n > bytesPerRead_) n = bytesPerRead_;
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    if (numBytesRead != nullptr) *numBytesRead = static_cast<v::int32>(n);
    return v::kResultOk;
}

v::tresult MemoryStream::write(void* buffer, v::int32 numBytes, v::int32* numBytesWritten) {
    if (numBytesWritten != nullptr) *numBytesWritten = 0;
    if (failWritesAfter_ == 0) return v::kResultFalse;
    if (failWritesAfter_ > 0) --failWritesAfter_;
    if (buffer == nullptr || numBytes < 0) return v::kInvalidArgument;
    if (bytesPerWrite_ > 0 && numBytes > bytesPerWrite_) numBytes = bytesPerWrite_;
    const std::size_t end = static_cast<std::size_t>(position_) + static_cast<std::size_t>(numBytes);
    if (bytes_.size() < end) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(numBytes));
    position_ = static_cast<std::int64_t>(end);
    if (numBytesWritten != nullptr) *numBytesWritten = numBytes;
    return v::kResultOk;
}

v::tresult MemoryStream::seek(v::int64 pos, v::int32 mode, v::int64* result) {
    std::int64_t base = 0;
    if (mode == v::kIBSeekCur)
        base = position_;
    else if (mode == v::kIBSeekEnd)
        base = claimedEnd_ >= 0 ? claimedEnd_ : static_cast<std::int64_t>(bytes_.size());
    else if (mode != v::kIBSeekSet)
        return v::kInvalidArgument;
    if (base + pos < 0) return v::kResultFalse;
    position_ = base + pos;
    if (result != nullptr) *result = position_;
    return v::kResultOk;
}

v::tresult MemoryStream::tell(v::int64* pos) {
    if (pos == nullptr) return v::kInvalidArgument;
    *pos = position_;
    return v::kResultOk;
}

v::tresult ParamValueQueue::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIParamValueQueue);
}

v::tresult ParamValueQueue::getPoint(v::int32 index, v::int32& sampleOffset, v::ParamValue& value) {
    if (index < 0 || index >= static_cast<v::int32>(points_.size())) return v::kResultFalse;
    sampleOffset = points_[static_cast<std::size_t>(index)].first;
    value = points_[static_cast<std::size_t>(index)].second;
    return v::kResultOk;
}

v::tresult ParamValueQueue::addPoint(v::int32 sampleOffset, v::ParamValue value, v::int32& index) {
    points_.emplace_back(sampleOffset, value);
    index = static_cast<v::int32>(points_.size()) - 1;
    return v::kResultOk;
}

v::tresult ParameterChanges::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIParameterChanges);
}

void ParameterChanges::add(v::ParamID id, v::int32 offset, v::ParamValue value) {
    v::int32 index = 0;
    addParameterData(id, index)->addPoint(offset, value, index);
}

void ParameterChanges::addEmptyQueue(v::ParamID id) {
    queues_.push_back(std::make_unique<ParamValueQueue>(id));
}

v::IParamValueQueue* ParameterChanges::getParameterData(v::int32 index) {
    if (index < 0 || index >= static_cast<v::int32>(queues_.size())) return nullptr;
    return queues_[static_cast<std::size_t>(index)].get();
}

v::IParamValueQueue* ParameterChanges::addParameterData(const v::ParamID& id, v::int32& index) {
    for (std::size_t i = 0; i < queues_.size(); ++i) {
        if (queues_[i]->getParameterId() == id) {
            index = static_cast<v::int32>(i);
            return queues_[i].get();
        }
    }
    queues_.push_back(std::make_unique<ParamValueQueue>(id));
    index = static_cast<v::int32>(queues_.size()) - 1;
    return queues_.back().get();
}

void EventList::addNoteOn(v::int32 offset, v::int16 channel, v::int16 pitch, float velocity) {
    v::Event e{};
    e.sampleOffset = offset;
    e.type = v::kNoteOnEvent;
    e.noteOn.channel = channel;
    e.noteOn.pitch = pitch;
    e.noteOn.velocity = velocity;
    e.noteOn.noteId = -1;
    events_.push_back(e);
}

void EventList::addNoteOff(v::int32 offset, v::int16 channel, v::int16 pitch, float velocity) {
    v::Event e{};
    e.sampleOffset = offset;
    e.type = v::kNoteOffEvent;
    e.noteOff.channel = channel;
    e.noteOff.pitch = pitch;
    e.noteOff.velocity = velocity;
    e.noteOff.noteId = -1;
    events_.push_back(e);
}

v::tresult EventList::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIEventList);
}

v::tresult EventList::getEvent(v::int32 index, v::Event& e) {
    if (index < 0 || index >= static_cast<v::int32>(events_.size())) return v::kResultFalse;
    e = events_[static_cast<std::size_t>(index)];
    return v::kResultOk;
}

v::tresult EventList::addEvent(v::Event& e) {
    events_.push_back(e);
    return v::kResultOk;
}

// ---- Module -----------------------------------------------------------------------------------

std::string Module::binaryPath(const std::string& path) {
    std::error_code ec;
    fs::path p(path);
    if (!fs::is_directory(p, ec)) return path;
    fs::path folder = p;
    if (!folder.has_filename()) folder = folder.parent_path();  // trailing separator
    const std::string name = folder.filename().string();
#if defined(_WIN32)
    return (folder / "Contents" / "x86_64-win" / name).string();
#else
    return (folder / "Contents" / "x86_64-linux" / (folder.stem().string() + ".so")).string();
#endif
}

Module::~Module() {
    unload();
}

void* Module::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

bool Module::load(const std::string& path, std::string& error) {
    unload();
    const std::string binary = binaryPath(path);
#if defined(_WIN32)
    std::wstring wide(binary.begin(), binary.end());
    handle_ = LoadLibraryW(wide.c_str());
    if (handle_ == nullptr) {
        error = "cannot load " + binary + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    auto getFactory = reinterpret_cast<v::GetFactoryProc>(symbol("GetPluginFactory"));
    if (getFactory == nullptr) {
        error = "no GetPluginFactory in " + binary;
        unload();
        return false;
    }
    if (auto init = reinterpret_cast<v::InitModuleProc>(symbol("InitDll")); init != nullptr && !init()) {
        error = "InitDll failed";
        unload();
        return false;
    }
#else
    handle_ = dlopen(binary.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + binary + ": " + (why != nullptr ? why : "?");
        return false;
    }
    auto getFactory = reinterpret_cast<v::GetFactoryProc>(symbol("GetPluginFactory"));
    auto entry = reinterpret_cast<v::ModuleEntryProc>(symbol("ModuleEntry"));
    if (getFactory == nullptr || entry == nullptr || symbol("ModuleExit") == nullptr) {
        error = "GetPluginFactory, ModuleEntry or ModuleExit missing in " + binary;
        unload();
        return false;
    }
    if (!entry(handle_)) {
        error = "ModuleEntry failed";
        unload();
        return false;
    }
#endif
    factory_ = getFactory();
    if (factory_ == nullptr) {
        error = "GetPluginFactory returned null";
        unload();
        return false;
    }
    return true;
}

void Module::unload() {
    if (handle_ == nullptr) return;
    if (factory_ != nullptr) factory_->release();
    factory_ = nullptr;
#if defined(_WIN32)
    if (auto exit = reinterpret_cast<v::ExitModuleProc>(symbol("ExitDll"))) exit();
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    if (auto exit = reinterpret_cast<v::ExitModuleProc>(symbol("ModuleExit"))) exit();
    dlclose(handle_);
#endif
    handle_ = nullptr;
}

// ---- Plugin -----------------------------------------------------------------------------------

namespace {
template <class I>
I* query(v::FUnknown* object, const v::Uid& iid) {
    void* out = nullptr;
    if (object == nullptr || object->queryInterface(iid.data(), &out) != v::kResultOk) return nullptr;
    return static_cast<I*>(out);
}
template <class I>
void releaseFace(I*& face) {
    if (face != nullptr) face->release();
    face = nullptr;
}
}  // namespace

Plugin::Plugin(v::IPluginFactory* factory, const char* cid, HostApplication* host) {
    void* object = nullptr;
    createResult = factory->createInstance(cid, v::iidIComponent.data(), &object);
    if (createResult != v::kResultOk || object == nullptr) return;
    component = static_cast<v::IComponent*>(object);
    processor = query<v::IAudioProcessor>(component, v::iidIAudioProcessor);
    controller = query<v::IEditController>(component, v::iidIEditController);
    controller2 = query<v::IEditController2>(component, v::iidIEditController2);
    unitInfo = query<v::IUnitInfo>(component, v::iidIUnitInfo);
    initializeResult = component->initialize(host);
}

Plugin::~Plugin() {
    if (component != nullptr) component->terminate();
    releaseFace(unitInfo);
    releaseFace(controller2);
    releaseFace(controller);
    releaseFace(processor);
    releaseFace(component);
}

v::tresult Plugin::prepare(double sampleRate, v::int32 maxBlock, v::int32 inputChannels) {
    v::SpeakerArrangement in = inputChannels == 1 ? v::kArrMono : v::kArrStereo;
    v::SpeakerArrangement out = v::kArrStereo;
    v::tresult r = processor->setBusArrangements(&in, 1, &out, 1);
    if (r != v::kResultOk) return r;
    v::ProcessSetup setup{v::kRealtime, v::kSample32, maxBlock, sampleRate};
    r = processor->setupProcessing(setup);
    if (r != v::kResultOk) return r;
    r = component->setActive(1);
    if (r != v::kResultOk) return r;
    return processor->setProcessing(1);
}

v::tresult Plugin::process(float* const* in, v::int32 inChannels, float* const* out, v::int32 outChannels,
                           v::int32 frames, v::IParameterChanges* changes, v::ProcessContext* context,
                           v::int32 numInputs, v::int32 numOutputs) {
    v::AudioBusBuffers inputs{};
    inputs.numChannels = inChannels;
    inputs.channelBuffers32 = const_cast<float**>(in);
    v::AudioBusBuffers outputs{};
    outputs.numChannels = outChannels;
    outputs.channelBuffers32 = const_cast<float**>(out);
    v::ProcessData data{};
    data.processMode = v::kRealtime;
    data.symbolicSampleSize = v::kSample32;
    data.numSamples = frames;
    data.numInputs = numInputs;
    data.numOutputs = numOutputs;
    data.inputs = numInputs > 0 ? &inputs : nullptr;
    data.outputs = numOutputs > 0 ? &outputs : nullptr;
    data.inputParameterChanges = changes;
    data.processContext = context;
    return processor->process(data);
}

v::tresult Plugin::getState(MemoryStream& stream) {
    return component->getState(&stream);
}
v::tresult Plugin::setState(MemoryStream& stream) {
    return component->setState(&stream);
}

std::string Plugin::paramString(v::ParamID id, double normalized) {
    v::String128 text = {};
    if (controller->getParamStringByValue(id, normalized, text) != v::kResultOk) return "<error>";
    return narrow(text);
}

// ---- Info ---------------------------------------------------------------------------------------

namespace {
void appendf(std::string& out, const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    out += buffer;
}
std::string field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}
// UTF-16 as UTF-8, for printing exactly what the plug-in reported.
std::string display(const v::char16* text, std::size_t limit = 128) {
    std::string out;
    for (std::size_t i = 0; i < limit && text[i] != 0; ++i) {
        const unsigned u = static_cast<std::uint16_t>(text[i]);
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
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
                            kMedia[m], kDir[d], b, display(bus.name).c_str(),
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
                p, static_cast<unsigned>(pi.id), display(pi.title).c_str(), display(pi.shortTitle).c_str(),
                display(pi.units).c_str(), static_cast<int>(pi.stepCount), pi.defaultNormalizedValue,
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
                        static_cast<int>(ui.id), static_cast<int>(ui.parentUnitId), display(ui.name).c_str(),
                        static_cast<int>(ui.programListId));
            }
            const int lists = plugin.unitInfo->getProgramListCount();
            for (int l = 0; l < lists; ++l) {
                v::ProgramListInfo li{};
                if (plugin.unitInfo->getProgramListInfo(l, li) != v::kResultOk) continue;
                appendf(out, "  program list %d: id %d \"%s\", %d programs\n", l, static_cast<int>(li.id),
                        display(li.name).c_str(), static_cast<int>(li.programCount));
                for (int i = 0; i < li.programCount; ++i) {
                    v::String128 name = {};
                    if (plugin.unitInfo->getProgramName(li.id, i, name) != v::kResultOk) continue;
                    appendf(out, "    program %d: \"%s\"\n", i, display(name).c_str());
                }
            }
        }
    }
    if (factory2 != nullptr) factory2->release();
    return true;
}

}  // namespace vst3host
