#pragma once
// claphost: our minimal CLAP host, for the integration tests and the `claphost` command.
//
// It loads a .clap file the way a DAW does (dlopen / LoadLibrary, the exported clap_entry, init
// with the file's path, the plug-in factory, create_plugin) and drives the plug-in only through
// the published binary interface. It shares nothing with the plug-in beyond the declarations of
// korvo/clap/abi.h and ext.h.
//
// Host: the clap_host structure and the host extensions (thread-check, log, params, latency,
// tail, state, audio-ports, audio-ports-config; gui, timer-support and posix-fd-support forward
// to the editor host of editor.h), each recording what the plug-in asks of it, so
// tests can check it. Thread-check says "main" for the thread that made the Host and "audio" for
// the thread set as the audio thread (the same one unless a test says otherwise).
//
// Threads: everything runs on the calling thread unless a test moves a call elsewhere on purpose.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "korvo/clap/abi.h"
#include "korvo/clap/ext.h"

namespace claphost {

namespace c = korvo::clap;

// A loaded module. Unloads (deinit, dlclose / FreeLibrary) on destruction.
class Module {
public:
    Module() = default;
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Loads the file, finds clap_entry, checks its version, calls init(path) and gets the plug-in
    // factory. False with error set on any failure.
    bool load(const std::string& path, std::string& error);
    void unload();

    const c::PluginEntry* entry() const { return entry_; }
    const c::PluginFactory* factory() const { return factory_; }
    // The first descriptor's id ("" when the factory has none).
    std::string firstPluginId() const;
    // An exported symbol (null when absent).
    void* symbol(const char* name) const;

private:
    void* handle_ = nullptr;
    const c::PluginEntry* entry_ = nullptr;
    const c::PluginFactory* factory_ = nullptr;
};

// Where the host's gui, timer-support and posix-fd-support extensions go: the editor host
// (editor.h) while it has an editor open. Without one the calls fail.
class GuiHandler {
public:
    virtual ~GuiHandler() = default;
    virtual bool requestResize(std::uint32_t width, std::uint32_t height) = 0;
    virtual bool registerTimer(std::uint32_t periodMs, c::ClapId* timerId) = 0;
    virtual bool unregisterTimer(c::ClapId timerId) = 0;
    virtual bool registerFd(int fd, std::uint32_t flags) = 0;
    virtual bool modifyFd(int fd, std::uint32_t flags) = 0;
    virtual bool unregisterFd(int fd) = 0;
};

class Host {
public:
    explicit Host(std::string name = "claphost");
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    const c::Host* clapHost() const { return &host_; }
    // Thread-check answers for this thread from now on: audio (and main only if it is the main one).
    void setAudioThread(std::thread::id id) { audioThread_ = id; }
    // Extensions the host offers (all by default); set before the plug-in's init.
    bool offerThreadCheck = true;
    bool offerLog = true;
    bool offerGui = true;  // gui, timer-support and posix-fd-support
    GuiHandler* gui = nullptr;

    // What the plug-in asked.
    std::atomic<int> restartRequests{0}, processRequests{0}, callbackRequests{0};
    std::atomic<int> latencyChanges{0}, tailChanges{0}, dirtyMarks{0}, flushRequests{0};
    std::vector<std::uint32_t> paramRescans;  // flags of each params.rescan
    std::vector<std::uint32_t> portRescans;   // flags of each audio_ports.rescan
    struct LogLine {
        std::int32_t severity;
        std::string message;
    };
    std::vector<LogLine> logs;

    bool isMainThread() const { return std::this_thread::get_id() == mainThread_; }
    bool isAudioThread() const { return std::this_thread::get_id() == audioThread_; }

private:
    static const void* KORVO_CLAP_API getExtension(const c::Host* host, const char* id);
    static Host& self(const c::Host* host) { return *static_cast<Host*>(host->hostData); }

    std::string name_;
    c::Host host_{};
    std::thread::id mainThread_;
    std::thread::id audioThread_;
};

// A list of input events, laid out as CLAP blocks of `size` bytes.
class EventList {
public:
    EventList();
    EventList(const EventList&) = delete;  // the structure points back at this object
    EventList& operator=(const EventList&) = delete;
    // A parameter value at a frame offset.
    void addValue(std::uint32_t time, c::ClapId id, double value);
    // Any event, copied as given (its header's size is taken as its length).
    void addRaw(const c::EventHeader& event);
    void clear() { offsets_.clear(), bytes_.clear(); }
    std::uint32_t count() const { return static_cast<std::uint32_t>(offsets_.size()); }
    const c::InputEvents* input() const { return &input_; }

private:
    static std::uint32_t KORVO_CLAP_API size(const c::InputEvents* list);
    static const c::EventHeader* KORVO_CLAP_API get(const c::InputEvents* list, std::uint32_t index);
    c::InputEvents input_{};
    std::vector<std::size_t> offsets_;
    std::vector<std::uint64_t> bytes_;  // 8-byte aligned storage
};

// Output events the plug-in pushes, kept.
class OutputList {
public:
    OutputList();
    OutputList(const OutputList&) = delete;  // the structure points back at this object
    OutputList& operator=(const OutputList&) = delete;
    const c::OutputEvents* output() const { return &output_; }
    std::vector<std::vector<std::uint8_t>> events;

private:
    static bool KORVO_CLAP_API tryPush(const c::OutputEvents* list, const c::EventHeader* event);
    c::OutputEvents output_{};
};

// Streams over memory with knobs for misbehaving hosts.
class OutStream {
public:
    OutStream();
    OutStream(const OutStream&) = delete;  // the structure points back at this object
    OutStream& operator=(const OutStream&) = delete;
    const c::OStream* stream() const { return &stream_; }
    std::vector<std::uint8_t> bytes;
    std::uint64_t bytesPerCall = 0;  // at most this many per write (0: all)
    int failAfterCalls = -1;         // writes fail (-1) after this many calls (-1: never)
    int calls = 0;

private:
    static std::int64_t KORVO_CLAP_API write(const c::OStream* stream, const void* buffer,
                                             std::uint64_t size);
    c::OStream stream_{};
};

class InStream {
public:
    explicit InStream(std::vector<std::uint8_t> data = {});
    InStream(const InStream&) = delete;  // the structure points back at this object
    InStream& operator=(const InStream&) = delete;
    const c::IStream* stream() const { return &stream_; }
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
    std::uint64_t bytesPerCall = 0;  // at most this many per read (0: all)
    int failAfterCalls = -1;         // reads fail (-1) after this many calls (-1: never)
    std::int64_t overclaim = 0;      // each read claims this many bytes more than it gave
    bool failed = false;             // a read has failed

private:
    static std::int64_t KORVO_CLAP_API read(const c::IStream* stream, void* buffer, std::uint64_t size);
    c::IStream stream_{};
};

// One plug-in instance made through the factory and initialised, with its extensions. The
// destructor stops processing, deactivates and destroys it as hosts do.
class Instance {
public:
    Instance(const Module& module, Host& host, const std::string& pluginId = "");
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool ok() const { return plugin != nullptr && initialized; }

    // Selects the configuration with inputChannels in (audio-ports-config), activates and starts
    // processing. False when a step fails.
    bool prepare(double sampleRate, std::uint32_t maxFrames, std::uint32_t inputChannels = 2);
    void stop();  // stop processing and deactivate (what is running)

    // One process call on 32-bit buffers of the main ports (either pointer array may be null).
    std::int32_t process(float* const* in, std::uint32_t inChannels, float* const* out,
                         std::uint32_t outChannels, std::uint32_t frames, const EventList* events = nullptr,
                         const c::EventTransport* transport = nullptr, OutputList* outEvents = nullptr);
    void flush(const EventList& events, OutputList* outEvents = nullptr);

    bool save(OutStream& stream);
    bool load(InStream& stream);
    std::vector<std::uint8_t> savedState();  // a plain save; empty when it failed

    std::string valueText(c::ClapId id, double value);  // "<error>" when refused
    double value(c::ClapId id);                         // NaN when refused

    const c::Plugin* plugin = nullptr;
    bool initialized = false;
    bool active = false;
    bool processing = false;
    const c::PluginParams* params = nullptr;
    const c::PluginState* state = nullptr;
    const c::PluginLatency* latency = nullptr;
    const c::PluginTail* tail = nullptr;
    const c::PluginAudioPorts* audioPorts = nullptr;
    const c::PluginAudioPortsConfig* audioPortsConfig = nullptr;
    const c::PluginAudioPortsConfigInfo* audioPortsConfigInfo = nullptr;
};

// What a host sees of a module: the descriptor, the extensions answered, ports and their
// configurations, latency and tail, and every parameter with its flags, range and texts.
// False when the module cannot be loaded.
bool printModuleInfo(const std::string& path, const std::string& hostName, std::string& out);

}  // namespace claphost
