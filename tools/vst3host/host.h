#pragma once
// vst3host: our minimal VST3 host, for the integration tests and the `vst3host` command.
//
// It loads a module the way a DAW does (dlopen / LoadLibrary of the bundle's binary, the exported
// entry points, GetPluginFactory, createInstance) and drives it only through the published binary
// interface. It shares nothing with the plug-in beyond the interface declarations of
// korvo/vst3/abi.h.
//
// Host objects (HostApplication, ComponentHandler, MemoryStream, ParameterChanges) are owned by
// the code that makes them: their reference count is tracked (so tests can check that the plug-in
// gives back what it takes) but reaching 0 does not delete them.
//
// Threads: everything here runs on the calling thread; process() is the "audio thread" call.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "korvo/vst3/abi.h"

namespace vst3host {

namespace v = korvo::vst3;
using String16 = std::basic_string<v::char16>;

// UTF-16 to bytes (units above 0x7F become '?') and bytes to UTF-16, stopping at the first NUL or
// after `limit` units.
std::string narrow(const v::char16* text, std::size_t limit = 128);
String16 widen(const std::string& text);
// UTF-16 as UTF-8 (each unit on its own, surrogates not paired), for showing exactly what a
// plug-in reported; stops at the first NUL or after `limit` units.
std::string toUtf8(const v::char16* text, std::size_t limit = 128);

// 16 bytes as 32 upper-case hex digits.
std::string hexBytes(const char* bytes, std::size_t count = 16);
// printf-style text appended to out (at most 2047 bytes of it).
void appendf(std::string& out, const char* format, ...);
// The text form of an identifier as this platform stores it: its four words in upper-case hex (on
// Windows the first two words are read in GUID order, elsewhere all bytes are big-endian), the
// same text on every platform for the same identifier.
std::string uidText(const char* bytes);

// A reference count that never deletes its object.
template <class Interface>
class HostObject : public Interface {
public:
    v::uint32 KORVO_VST3_API addRef() override { return static_cast<v::uint32>(++refCount_); }
    v::uint32 KORVO_VST3_API release() override { return static_cast<v::uint32>(--refCount_); }
    std::int32_t refCount() const { return refCount_.load(); }

protected:
    // Answers FUnknown and the interface's own identifier.
    v::tresult answer(const v::TUID iid, void** obj, const v::Uid& own) {
        if (obj == nullptr) return v::kInvalidArgument;
        if (v::uidEquals(iid, own) || v::uidEquals(iid, v::iidFUnknown)) {
            addRef();
            *obj = static_cast<Interface*>(this);
            return v::kResultOk;
        }
        *obj = nullptr;
        return v::kNoInterface;
    }

private:
    std::atomic<std::int32_t> refCount_{1};
};

// The initialize context. name is reported through getName; with unterminated set, all 128 units
// are filled and no terminator is written.
class HostApplication final : public HostObject<v::IHostApplication> {
public:
    explicit HostApplication(std::string name = "vst3host") : name_(std::move(name)) {}
    void setName(std::string name) { name_ = std::move(name); }
    void setUnterminated(bool on) { unterminated_ = on; }

    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override;
    v::tresult KORVO_VST3_API getName(v::String128 name) override;
    v::tresult KORVO_VST3_API createInstance(v::TUID cid, v::TUID iid, void** obj) override;

private:
    std::string name_;
    bool unterminated_ = false;
};

// Records every call in order.
// The component handler, with IComponentHandler2's group edits (startGroupEdit and
// finishGroupEdit recorded as calls too).
class ComponentHandler final : public HostObject<v::IComponentHandler> {
public:
    enum class Kind { beginEdit, performEdit, endEdit, restartComponent, startGroupEdit, finishGroupEdit };
    struct Call {
        Kind kind;
        v::ParamID id;
        double value;
        v::int32 flags;
    };
    std::vector<Call> calls;
    // Calls made on another thread than the one that made the handler (a plug-in calls its
    // handler on the UI thread only); such calls are counted, not recorded.
    std::atomic<std::int64_t> callsOffThread{0};

    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override;
    v::tresult KORVO_VST3_API beginEdit(v::ParamID id) override;
    v::tresult KORVO_VST3_API performEdit(v::ParamID id, v::ParamValue value) override;
    v::tresult KORVO_VST3_API endEdit(v::ParamID id) override;
    v::tresult KORVO_VST3_API restartComponent(v::int32 flags) override;
    ComponentHandler();
    ~ComponentHandler();

    // IComponentHandler3: the context menu a plug-in asked for. The host's own items come first
    // (one, "Automate"); popup records where it was asked to appear and runs the plug-in's item
    // named `chooseOnPopup` (none when empty), as a user's choice in a modal menu does.
    struct MenuRequest {
        v::ParamID id = 0;
        bool hadId = false;
        std::vector<std::string> items;  // the plug-in's items, in order (separators as "-")
        v::int32 x = 0, y = 0;
        bool poppedUp = false;
    };
    std::vector<MenuRequest> menus;
    std::string chooseOnPopup;
    bool offersMenus = true;

private:
    void record(const Call& call);
    std::uint64_t thread_;  // the thread that made the handler
    class ContextMenu;
    class Menus final : public v::IComponentHandler3 {
    public:
        explicit Menus(ComponentHandler& owner) : owner_(owner) {}
        v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override {
            return owner_.queryInterface(iid, obj);
        }
        v::uint32 KORVO_VST3_API addRef() override { return owner_.addRef(); }
        v::uint32 KORVO_VST3_API release() override { return owner_.release(); }
        v::IContextMenu* KORVO_VST3_API createContextMenu(v::IPlugView* view, const v::ParamID* id) override;

    private:
        ComponentHandler& owner_;
    };
    Menus menus_{*this};
    std::vector<std::unique_ptr<ContextMenu>> contextMenus_;
    class Grouping final : public v::IComponentHandler2 {
    public:
        explicit Grouping(ComponentHandler& owner) : owner_(owner) {}
        v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override {
            return owner_.queryInterface(iid, obj);
        }
        v::uint32 KORVO_VST3_API addRef() override { return owner_.addRef(); }
        v::uint32 KORVO_VST3_API release() override { return owner_.release(); }
        v::tresult KORVO_VST3_API setDirty(v::TBool) override { return v::kResultOk; }
        v::tresult KORVO_VST3_API requestOpenEditor(v::FIDString) override { return v::kResultFalse; }
        v::tresult KORVO_VST3_API startGroupEdit() override {
            owner_.record({Kind::startGroupEdit, 0, 0.0, 0});
            return v::kResultOk;
        }
        v::tresult KORVO_VST3_API finishGroupEdit() override {
            owner_.record({Kind::finishGroupEdit, 0, 0.0, 0});
            return v::kResultOk;
        }

    private:
        ComponentHandler& owner_;
    };
    Grouping grouping_{*this};
};

// A growable byte stream with knobs for misbehaving hosts.
class MemoryStream final : public HostObject<v::IBStream> {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::vector<std::uint8_t>& bytes() { return bytes_; }
    std::int64_t position() const { return position_; }
    void rewind() { position_ = 0; }
    // Seeking to the end reports this position instead of the real end (-1: the real end).
    void setClaimedEnd(std::int64_t end) { claimedEnd_ = end; }
    // Reads fail after this many successful read calls (-1: never).
    void setFailReadsAfter(int calls) { failReadsAfter_ = calls; }
    // Writes fail after this many successful write calls (-1: never).
    void setFailWritesAfter(int calls) { failWritesAfter_ = calls; }
    // Each read (write) call moves at most this many bytes, as some hosts' streams do (0: any).
    void setBytesPerRead(int bytes) { bytesPerRead_ = bytes; }
    void setBytesPerWrite(int bytes) { bytesPerWrite_ = bytes; }

    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override;
    v::tresult KORVO_VST3_API read(void* buffer, v::int32 numBytes, v::int32* numBytesRead) override;
    v::tresult KORVO_VST3_API write(void* buffer, v::int32 numBytes, v::int32* numBytesWritten) override;
    v::tresult KORVO_VST3_API seek(v::int64 pos, v::int32 mode, v::int64* result) override;
    v::tresult KORVO_VST3_API tell(v::int64* pos) override;

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t position_ = 0;
    std::int64_t claimedEnd_ = -1;
    int failReadsAfter_ = -1;
    int failWritesAfter_ = -1;
    int bytesPerRead_ = 0;
    int bytesPerWrite_ = 0;
};

class ParamValueQueue final : public HostObject<v::IParamValueQueue> {
public:
    explicit ParamValueQueue(v::ParamID id) : id_(id) {}
    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override;
    v::ParamID KORVO_VST3_API getParameterId() override { return id_; }
    v::int32 KORVO_VST3_API getPointCount() override { return static_cast<v::int32>(points_.size()); }
    v::tresult KORVO_VST3_API getPoint(v::int32 index, v::int32& sampleOffset, v::ParamValue& value) override;
    v::tresult KORVO_VST3_API addPoint(v::int32 sampleOffset, v::ParamValue value, v::int32& index) override;

private:
    v::ParamID id_;
    std::vector<std::pair<v::int32, v::ParamValue>> points_;
};

class ParameterChanges final : public HostObject<v::IParameterChanges> {
public:
    // Adds a point to the queue of id (made on first use).
    void add(v::ParamID id, v::int32 offset, v::ParamValue value);
    // Adds an empty queue.
    void addEmptyQueue(v::ParamID id);
    void clear() { queues_.clear(); }

    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override;
    v::int32 KORVO_VST3_API getParameterCount() override { return static_cast<v::int32>(queues_.size()); }
    v::IParamValueQueue* KORVO_VST3_API getParameterData(v::int32 index) override;
    v::IParamValueQueue* KORVO_VST3_API addParameterData(const v::ParamID& id, v::int32& index) override;

private:
    std::vector<std::unique_ptr<ParamValueQueue>> queues_;
};

class EventList final : public HostObject<v::IEventList> {
public:
    void addNoteOn(v::int32 offset, v::int16 channel, v::int16 pitch, float velocity);
    void addNoteOff(v::int32 offset, v::int16 channel, v::int16 pitch, float velocity);
    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override;
    v::int32 KORVO_VST3_API getEventCount() override { return static_cast<v::int32>(events_.size()); }
    v::tresult KORVO_VST3_API getEvent(v::int32 index, v::Event& e) override;
    v::tresult KORVO_VST3_API addEvent(v::Event& e) override;

private:
    std::vector<v::Event> events_;
};

// A loaded module. Unloads (factory released, exit function, dlclose / FreeLibrary) on destruction.
class Module {
public:
    Module() = default;
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // The binary inside a bundle folder (Linux: Contents/x86_64-linux/<stem>.so; Windows:
    // Contents/x86_64-win/<folder name>); a path that is not a folder is taken as the binary.
    static std::string binaryPath(const std::string& path);

    // Loads the module, calls its entry function and GetPluginFactory. False with error set on any
    // failure.
    bool load(const std::string& path, std::string& error);
    void unload();

    v::IPluginFactory* factory() const { return factory_; }
    // Hands the module's factory reference to the caller (the module then releases nothing).
    v::IPluginFactory* takeFactory() {
        v::IPluginFactory* f = factory_;
        factory_ = nullptr;
        return f;
    }
    // Looks up an exported symbol (null when absent).
    void* symbol(const char* name) const;

private:
    void* handle_ = nullptr;
    v::IPluginFactory* factory_ = nullptr;
};

// One instance made through the factory, with all its faces and set up the way hosts do it.
class Plugin {
public:
    // createInstance(cid, IComponent), then the other faces through queryInterface, then
    // initialize(host). ok() tells whether all of that worked.
    Plugin(v::IPluginFactory* factory, const char* cid, HostApplication* host);
    ~Plugin();  // terminate, then release every face
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool ok() const { return component != nullptr && processor != nullptr && controller != nullptr; }

    // setBusArrangements (numIn channels in, 2 out), setupProcessing (32-bit, realtime), setActive,
    // setProcessing(true). Returns the first failing result, or kResultOk.
    v::tresult prepare(double sampleRate, v::int32 maxBlock, v::int32 inputChannels = 2);

    // One process call. in/out hold channel pointers (entries may be null); numInputs/numOutputs
    // are the bus counts given to the plug-in (0 or 1).
    v::tresult process(float* const* in, v::int32 inChannels, float* const* out, v::int32 outChannels,
                       v::int32 frames, v::IParameterChanges* changes = nullptr,
                       v::ProcessContext* context = nullptr, v::int32 numInputs = 1, v::int32 numOutputs = 1);

    v::tresult getState(MemoryStream& stream);
    v::tresult setState(MemoryStream& stream);

    std::string paramString(v::ParamID id, double normalized);

    v::IComponent* component = nullptr;
    v::IAudioProcessor* processor = nullptr;
    v::IEditController* controller = nullptr;
    v::IEditController2* controller2 = nullptr;
    v::IUnitInfo* unitInfo = nullptr;
    v::tresult createResult = v::kResultFalse;
    v::tresult initializeResult = v::kResultFalse;
};

// Prints what a host sees of a module: factory, classes, and for each audio effect class its
// buses, parameters (titles, units, defaults, value strings), units and programs. Returns false
// when the module cannot be loaded.
bool printModuleInfo(const std::string& path, const std::string& hostName, std::string& out);

// The module's moduleinfo.json (the module name from the path, the factory's information, every
// class), for hosts that scan without loading. False with the reason when it cannot be loaded.
bool moduleInfoJson(const std::string& path, std::string& json, std::string& error);

}  // namespace vst3host
