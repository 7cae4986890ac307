#pragma once
// Our declarations of the CLAP binary interface (CLAP 1.2, x86_64 Windows and Linux): the core
// (version, entry, factory, descriptor, plug-in, host, process, events, streams). The extensions a
// stereo effect uses are in korvo/clap/ext.h.
//
// Shared by the plug-in adapter (korvo/clap) and our own host (tools/claphost); nothing else is
// shared between the two. Everything here is plain C data: structures of values and function
// pointers with natural alignment, identical on both targets. Every function's first parameter
// is the object that holds the pointer, except in PluginEntry. Text is UTF-8, NUL-terminated.
// The static_asserts pin every size and the offsets that matter, so a layout mistake breaks the
// build rather than a host.
//
// Calling convention: the platform's C convention (on x64 Windows __cdecl is the Microsoft x64
// convention whatever is written). No function passes or returns a structure by value.
//
// Thread contract: declarations only.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define KORVO_CLAP_API __cdecl
#else
#define KORVO_CLAP_API
#endif

namespace korvo::clap {

// ---- Basic types and constants --------------------------------------------------------------------

using ClapId = std::uint32_t;
inline constexpr ClapId kInvalidId = 0xFFFFFFFFu;

inline constexpr std::size_t kNameSize = 256;   // display names, terminator included
inline constexpr std::size_t kPathSize = 1024;  // module paths, terminator included

// Fixed point of beat and second positions: value * 2^31.
inline constexpr double kFixedPointFactor = 2147483648.0;

struct Version {
    std::uint32_t major;
    std::uint32_t minor;
    std::uint32_t revision;
};
// What the plug-in writes into its entry and descriptor.
inline constexpr Version kVersion = {1, 2, 10};
// 1.x keeps the binary interface; 0.x were development versions.
constexpr bool versionIsCompatible(const Version& v) noexcept {
    return v.major >= 1;
}

// ---- Entry, factory, descriptor --------------------------------------------------------------------

// The one exported data symbol, "clap_entry". Its functions take no self parameter.
struct PluginEntry {
    Version clapVersion;
    bool(KORVO_CLAP_API* init)(const char* pluginPath);
    void(KORVO_CLAP_API* deinit)();
    const void*(KORVO_CLAP_API* getFactory)(const char* factoryId);
};

inline constexpr char kPluginFactoryId[] = "clap.plugin-factory";

struct Host;
struct Plugin;

struct PluginDescriptor {
    Version clapVersion;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manualUrl;
    const char* supportUrl;
    const char* version;
    const char* description;
    const char* const* features;  // null-terminated
};

struct PluginFactory {
    std::uint32_t(KORVO_CLAP_API* getPluginCount)(const PluginFactory* factory);
    const PluginDescriptor*(KORVO_CLAP_API* getPluginDescriptor)(const PluginFactory* factory,
                                                                 std::uint32_t index);
    const Plugin*(KORVO_CLAP_API* createPlugin)(const PluginFactory* factory, const Host* host,
                                                const char* pluginId);
};

// ---- Events ---------------------------------------------------------------------------------------

inline constexpr std::uint16_t kCoreEventSpaceId = 0;

enum EventType : std::uint16_t {
    kEventNoteOn = 0,
    kEventNoteOff = 1,
    kEventNoteChoke = 2,
    kEventNoteEnd = 3,
    kEventNoteExpression = 4,
    kEventParamValue = 5,
    kEventParamMod = 6,
    kEventParamGestureBegin = 7,
    kEventParamGestureEnd = 8,
    kEventTransport = 9,
    kEventMidi = 10,
    kEventMidiSysex = 11,
    kEventMidi2 = 12,
};

inline constexpr std::uint32_t kEventIsLive = 1;
inline constexpr std::uint32_t kEventDontRecord = 2;

struct EventHeader {
    std::uint32_t size;  // of the whole event
    std::uint32_t time;  // frame offset in the block
    std::uint16_t spaceId;
    std::uint16_t type;
    std::uint32_t flags;
};

struct EventParamValue {
    EventHeader header;
    ClapId paramId;
    void* cookie;
    std::int32_t noteId;  // -1: any, in these four
    std::int16_t portIndex;
    std::int16_t channel;
    std::int16_t key;
    double value;  // plain value in [min, max]
};

struct EventParamMod {
    EventHeader header;
    ClapId paramId;
    void* cookie;
    std::int32_t noteId;
    std::int16_t portIndex;
    std::int16_t channel;
    std::int16_t key;
    double amount;
};

struct EventParamGesture {
    EventHeader header;
    ClapId paramId;
};

enum TransportFlags : std::uint32_t {
    kTransportHasTempo = 1,
    kTransportHasBeatsTimeline = 2,
    kTransportHasSecondsTimeline = 4,
    kTransportHasTimeSignature = 8,
    kTransportIsPlaying = 16,
    kTransportIsRecording = 32,
    kTransportIsLoopActive = 64,
    kTransportIsWithinPreRoll = 128,
};

struct EventTransport {
    EventHeader header;
    std::uint32_t flags;
    std::int64_t songPosBeats;    // beats * 2^31
    std::int64_t songPosSeconds;  // seconds * 2^31
    double tempo;                 // beats per minute
    double tempoInc;
    std::int64_t loopStartBeats;
    std::int64_t loopEndBeats;
    std::int64_t loopStartSeconds;
    std::int64_t loopEndSeconds;
    std::int64_t barStart;
    std::int32_t barNumber;
    std::uint16_t tsigNum;
    std::uint16_t tsigDenom;
};

struct InputEvents {
    void* ctx;
    std::uint32_t(KORVO_CLAP_API* size)(const InputEvents* list);
    const EventHeader*(KORVO_CLAP_API* get)(const InputEvents* list, std::uint32_t index);
};

struct OutputEvents {
    void* ctx;
    // The host copies the event; false when it could not take it.
    bool(KORVO_CLAP_API* tryPush)(const OutputEvents* list, const EventHeader* event);
};

// ---- Processing -----------------------------------------------------------------------------------

struct AudioBuffer {
    float** data32;
    double** data64;
    std::uint32_t channelCount;
    std::uint32_t latency;
    std::uint64_t constantMask;
};

struct Process {
    std::int64_t steadyTime;  // -1 when unknown
    std::uint32_t framesCount;
    const EventTransport* transport;  // null: no transport
    const AudioBuffer* audioInputs;
    AudioBuffer* audioOutputs;
    std::uint32_t audioInputsCount;
    std::uint32_t audioOutputsCount;
    const InputEvents* inEvents;
    const OutputEvents* outEvents;
};

enum ProcessStatus : std::int32_t {
    kProcessError = 0,
    kProcessContinue = 1,
    kProcessContinueIfNotQuiet = 2,
    kProcessTail = 3,
    kProcessSleep = 4,
};

// ---- Plug-in and host -----------------------------------------------------------------------------

struct Plugin {
    const PluginDescriptor* desc;
    void* pluginData;
    bool(KORVO_CLAP_API* init)(const Plugin* plugin);
    void(KORVO_CLAP_API* destroy)(const Plugin* plugin);
    bool(KORVO_CLAP_API* activate)(const Plugin* plugin, double sampleRate, std::uint32_t minFramesCount,
                                   std::uint32_t maxFramesCount);
    void(KORVO_CLAP_API* deactivate)(const Plugin* plugin);
    bool(KORVO_CLAP_API* startProcessing)(const Plugin* plugin);
    void(KORVO_CLAP_API* stopProcessing)(const Plugin* plugin);
    void(KORVO_CLAP_API* reset)(const Plugin* plugin);
    std::int32_t(KORVO_CLAP_API* process)(const Plugin* plugin, const Process* process);
    const void*(KORVO_CLAP_API* getExtension)(const Plugin* plugin, const char* id);
    void(KORVO_CLAP_API* onMainThread)(const Plugin* plugin);
};

struct Host {
    Version clapVersion;
    void* hostData;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    const void*(KORVO_CLAP_API* getExtension)(const Host* host, const char* extensionId);
    void(KORVO_CLAP_API* requestRestart)(const Host* host);
    void(KORVO_CLAP_API* requestProcess)(const Host* host);
    void(KORVO_CLAP_API* requestCallback)(const Host* host);
};

// ---- Streams --------------------------------------------------------------------------------------

// Transfers may be partial: loop. read returns the bytes read, 0 at the end, -1 on error; write the
// bytes written, -1 on error.
struct IStream {
    void* ctx;
    std::int64_t(KORVO_CLAP_API* read)(const IStream* stream, void* buffer, std::uint64_t size);
};
struct OStream {
    void* ctx;
    std::int64_t(KORVO_CLAP_API* write)(const OStream* stream, const void* buffer, std::uint64_t size);
};

// ---- Layout checks --------------------------------------------------------------------------------

static_assert(sizeof(Version) == 12 && alignof(Version) == 4);
static_assert(sizeof(PluginEntry) == 40 && offsetof(PluginEntry, init) == 16 &&
              offsetof(PluginEntry, deinit) == 24 && offsetof(PluginEntry, getFactory) == 32);
static_assert(sizeof(PluginFactory) == 24 && offsetof(PluginFactory, createPlugin) == 16);
static_assert(sizeof(PluginDescriptor) == 88 && offsetof(PluginDescriptor, id) == 16 &&
              offsetof(PluginDescriptor, name) == 24 && offsetof(PluginDescriptor, vendor) == 32 &&
              offsetof(PluginDescriptor, url) == 40 && offsetof(PluginDescriptor, version) == 64 &&
              offsetof(PluginDescriptor, description) == 72 && offsetof(PluginDescriptor, features) == 80);
static_assert(sizeof(EventHeader) == 16 && alignof(EventHeader) == 4 && offsetof(EventHeader, time) == 4 &&
              offsetof(EventHeader, spaceId) == 8 && offsetof(EventHeader, type) == 10 &&
              offsetof(EventHeader, flags) == 12);
static_assert(sizeof(EventParamValue) == 56 && offsetof(EventParamValue, paramId) == 16 &&
              offsetof(EventParamValue, cookie) == 24 && offsetof(EventParamValue, noteId) == 32 &&
              offsetof(EventParamValue, portIndex) == 36 && offsetof(EventParamValue, channel) == 38 &&
              offsetof(EventParamValue, key) == 40 && offsetof(EventParamValue, value) == 48);
static_assert(sizeof(EventParamMod) == 56 && offsetof(EventParamMod, amount) == 48);
static_assert(sizeof(EventParamGesture) == 20 && offsetof(EventParamGesture, paramId) == 16);
static_assert(sizeof(EventTransport) == 104 && offsetof(EventTransport, flags) == 16 &&
              offsetof(EventTransport, songPosBeats) == 24 &&
              offsetof(EventTransport, songPosSeconds) == 32 && offsetof(EventTransport, tempo) == 40 &&
              offsetof(EventTransport, tempoInc) == 48 && offsetof(EventTransport, loopStartBeats) == 56 &&
              offsetof(EventTransport, barStart) == 88 && offsetof(EventTransport, barNumber) == 96 &&
              offsetof(EventTransport, tsigNum) == 100 && offsetof(EventTransport, tsigDenom) == 102);
static_assert(sizeof(InputEvents) == 24 && offsetof(InputEvents, size) == 8 &&
              offsetof(InputEvents, get) == 16);
static_assert(sizeof(OutputEvents) == 16 && offsetof(OutputEvents, tryPush) == 8);
static_assert(sizeof(AudioBuffer) == 32 && offsetof(AudioBuffer, data64) == 8 &&
              offsetof(AudioBuffer, channelCount) == 16 && offsetof(AudioBuffer, latency) == 20 &&
              offsetof(AudioBuffer, constantMask) == 24);
static_assert(sizeof(Process) == 64 && offsetof(Process, framesCount) == 8 &&
              offsetof(Process, transport) == 16 && offsetof(Process, audioInputs) == 24 &&
              offsetof(Process, audioOutputs) == 32 && offsetof(Process, audioInputsCount) == 40 &&
              offsetof(Process, audioOutputsCount) == 44 && offsetof(Process, inEvents) == 48 &&
              offsetof(Process, outEvents) == 56);
static_assert(sizeof(Plugin) == 96 && offsetof(Plugin, pluginData) == 8 && offsetof(Plugin, init) == 16 &&
              offsetof(Plugin, destroy) == 24 && offsetof(Plugin, activate) == 32 &&
              offsetof(Plugin, deactivate) == 40 && offsetof(Plugin, startProcessing) == 48 &&
              offsetof(Plugin, stopProcessing) == 56 && offsetof(Plugin, reset) == 64 &&
              offsetof(Plugin, process) == 72 && offsetof(Plugin, getExtension) == 80 &&
              offsetof(Plugin, onMainThread) == 88);
static_assert(sizeof(Host) == 88 && offsetof(Host, hostData) == 16 && offsetof(Host, name) == 24 &&
              offsetof(Host, version) == 48 && offsetof(Host, getExtension) == 56 &&
              offsetof(Host, requestRestart) == 64 && offsetof(Host, requestProcess) == 72 &&
              offsetof(Host, requestCallback) == 80);
static_assert(sizeof(IStream) == 16 && offsetof(IStream, read) == 8);
static_assert(sizeof(OStream) == 16 && offsetof(OStream, write) == 8);
static_assert(sizeof(bool) == 1, "CLAP's bool is one byte");

}  // namespace korvo::clap
