#pragma once
// Our declarations of the CLAP extensions a stereo effect uses, plug-in and host sides: params,
// state, latency, tail, audio-ports, audio-ports-config (with its info), thread-check, log, and
// the editor's gui, timer-support and posix-fd-support.
// The core is korvo/clap/abi.h; the same rules hold here (plain C data, natural alignment, the
// owner first in every function, static_asserts on sizes and offsets).
//
// An extension with a null function pointer counts as not implemented: hosts and plug-ins fill
// every slot. Thread contract: declarations only.

#include <cstddef>
#include <cstdint>

#include "korvo/clap/abi.h"

namespace korvo::clap {

// ---- Extension identifiers ------------------------------------------------------------------------

inline constexpr char kExtParams[] = "clap.params";
inline constexpr char kExtState[] = "clap.state";
inline constexpr char kExtLatency[] = "clap.latency";
inline constexpr char kExtTail[] = "clap.tail";
inline constexpr char kExtAudioPorts[] = "clap.audio-ports";
inline constexpr char kExtAudioPortsConfig[] = "clap.audio-ports-config";
inline constexpr char kExtAudioPortsConfigInfo[] = "clap.audio-ports-config-info/1";
inline constexpr char kExtAudioPortsConfigInfoCompat[] = "clap.audio-ports-config-info/draft-0";
inline constexpr char kExtThreadCheck[] = "clap.thread-check";
inline constexpr char kExtLog[] = "clap.log";
inline constexpr char kExtGui[] = "clap.gui";

inline constexpr char kPortMono[] = "mono";
inline constexpr char kPortStereo[] = "stereo";

// ---- params ---------------------------------------------------------------------------------------

enum ParamInfoFlags : std::uint32_t {
    kParamIsStepped = 1,
    kParamIsPeriodic = 2,
    kParamIsHidden = 4,
    kParamIsReadonly = 8,
    kParamIsBypass = 16,
    kParamIsAutomatable = 32,
    kParamIsAutomatablePerNoteId = 64,
    kParamIsAutomatablePerKey = 128,
    kParamIsAutomatablePerChannel = 256,
    kParamIsAutomatablePerPort = 512,
    kParamIsModulatable = 1024,
    kParamRequiresProcess = 32768,
    kParamIsEnum = 65536,
};

enum ParamRescanFlags : std::uint32_t {
    kParamRescanValues = 1,
    kParamRescanText = 2,
    kParamRescanInfo = 4,
    kParamRescanAll = 8,
};

enum ParamClearFlags : std::uint32_t {
    kParamClearAll = 1,
    kParamClearAutomations = 2,
    kParamClearModulations = 4,
};

struct ParamInfo {
    ClapId id;
    std::uint32_t flags;
    void* cookie;
    char name[kNameSize];
    char module[kPathSize];
    double minValue;
    double maxValue;
    double defaultValue;
};

struct PluginParams {
    std::uint32_t(KORVO_CLAP_API* count)(const Plugin* plugin);
    bool(KORVO_CLAP_API* getInfo)(const Plugin* plugin, std::uint32_t paramIndex, ParamInfo* info);
    bool(KORVO_CLAP_API* getValue)(const Plugin* plugin, ClapId paramId, double* outValue);
    bool(KORVO_CLAP_API* valueToText)(const Plugin* plugin, ClapId paramId, double value, char* outBuffer,
                                      std::uint32_t outBufferCapacity);
    bool(KORVO_CLAP_API* textToValue)(const Plugin* plugin, ClapId paramId, const char* text,
                                      double* outValue);
    void(KORVO_CLAP_API* flush)(const Plugin* plugin, const InputEvents* in, const OutputEvents* out);
};

struct HostParams {
    void(KORVO_CLAP_API* rescan)(const Host* host, std::uint32_t flags);
    void(KORVO_CLAP_API* clear)(const Host* host, ClapId paramId, std::uint32_t flags);
    void(KORVO_CLAP_API* requestFlush)(const Host* host);
};

// ---- state ----------------------------------------------------------------------------------------

struct PluginState {
    bool(KORVO_CLAP_API* save)(const Plugin* plugin, const OStream* stream);
    bool(KORVO_CLAP_API* load)(const Plugin* plugin, const IStream* stream);
};

struct HostState {
    void(KORVO_CLAP_API* markDirty)(const Host* host);
};

// ---- latency and tail -----------------------------------------------------------------------------

struct PluginLatency {
    std::uint32_t(KORVO_CLAP_API* get)(const Plugin* plugin);
};
struct HostLatency {
    void(KORVO_CLAP_API* changed)(const Host* host);  // only while the plug-in activates
};
struct PluginTail {
    std::uint32_t(KORVO_CLAP_API* get)(const Plugin* plugin);  // INT32_MAX or more: infinite
};
struct HostTail {
    void(KORVO_CLAP_API* changed)(const Host* host);
};

// ---- audio-ports and audio-ports-config ------------------------------------------------------------

enum AudioPortFlags : std::uint32_t {
    kAudioPortIsMain = 1,
    kAudioPortSupports64Bits = 2,
    kAudioPortPrefers64Bits = 4,
    kAudioPortRequiresCommonSampleSize = 8,
};

enum AudioPortsRescanFlags : std::uint32_t {
    kAudioPortsRescanNames = 1,
    kAudioPortsRescanFlags = 2,
    kAudioPortsRescanChannelCount = 4,
    kAudioPortsRescanPortType = 8,
    kAudioPortsRescanInPlacePair = 16,
    kAudioPortsRescanList = 32,
};

struct AudioPortInfo {
    ClapId id;
    char name[kNameSize];
    std::uint32_t flags;
    std::uint32_t channelCount;
    const char* portType;  // null or "": unspecified
    ClapId inPlacePair;
};

struct PluginAudioPorts {
    std::uint32_t(KORVO_CLAP_API* count)(const Plugin* plugin, bool isInput);
    bool(KORVO_CLAP_API* get)(const Plugin* plugin, std::uint32_t index, bool isInput, AudioPortInfo* info);
};

struct HostAudioPorts {
    bool(KORVO_CLAP_API* isRescanFlagSupported)(const Host* host, std::uint32_t flag);
    void(KORVO_CLAP_API* rescan)(const Host* host, std::uint32_t flags);
};

struct AudioPortsConfig {
    ClapId id;
    char name[kNameSize];
    std::uint32_t inputPortCount;
    std::uint32_t outputPortCount;
    bool hasMainInput;
    std::uint32_t mainInputChannelCount;
    const char* mainInputPortType;
    bool hasMainOutput;
    std::uint32_t mainOutputChannelCount;
    const char* mainOutputPortType;
};

struct PluginAudioPortsConfig {
    std::uint32_t(KORVO_CLAP_API* count)(const Plugin* plugin);
    bool(KORVO_CLAP_API* get)(const Plugin* plugin, std::uint32_t index, AudioPortsConfig* config);
    bool(KORVO_CLAP_API* select)(const Plugin* plugin, ClapId configId);  // only while inactive
};

struct PluginAudioPortsConfigInfo {
    ClapId(KORVO_CLAP_API* currentConfig)(const Plugin* plugin);
    bool(KORVO_CLAP_API* get)(const Plugin* plugin, ClapId configId, std::uint32_t portIndex, bool isInput,
                              AudioPortInfo* info);
};

struct HostAudioPortsConfig {
    void(KORVO_CLAP_API* rescan)(const Host* host);
};

// ---- thread-check and log -------------------------------------------------------------------------

struct HostThreadCheck {
    bool(KORVO_CLAP_API* isMainThread)(const Host* host);
    bool(KORVO_CLAP_API* isAudioThread)(const Host* host);
};

enum LogSeverity : std::int32_t {
    kLogDebug = 0,
    kLogInfo = 1,
    kLogWarning = 2,
    kLogError = 3,
    kLogFatal = 4,
    kLogHostMisbehaving = 5,
    kLogPluginMisbehaving = 6,
};

struct HostLog {
    void(KORVO_CLAP_API* log)(const Host* host, std::int32_t severity, const char* message);
};

// ---- Layout checks --------------------------------------------------------------------------------

static_assert(sizeof(ParamInfo) == 1320 && offsetof(ParamInfo, flags) == 4 &&
              offsetof(ParamInfo, cookie) == 8 && offsetof(ParamInfo, name) == 16 &&
              offsetof(ParamInfo, module) == 272 && offsetof(ParamInfo, minValue) == 1296 &&
              offsetof(ParamInfo, maxValue) == 1304 && offsetof(ParamInfo, defaultValue) == 1312);
static_assert(sizeof(PluginParams) == 48 && offsetof(PluginParams, valueToText) == 24 &&
              offsetof(PluginParams, flush) == 40);
static_assert(sizeof(HostParams) == 24 && offsetof(HostParams, requestFlush) == 16);
static_assert(sizeof(PluginState) == 16 && sizeof(HostState) == 8);
static_assert(sizeof(PluginLatency) == 8 && sizeof(HostLatency) == 8 && sizeof(PluginTail) == 8 &&
              sizeof(HostTail) == 8);
static_assert(sizeof(AudioPortInfo) == 288 && offsetof(AudioPortInfo, name) == 4 &&
              offsetof(AudioPortInfo, flags) == 260 && offsetof(AudioPortInfo, channelCount) == 264 &&
              offsetof(AudioPortInfo, portType) == 272 && offsetof(AudioPortInfo, inPlacePair) == 280);
static_assert(sizeof(PluginAudioPorts) == 16 && sizeof(HostAudioPorts) == 16);
static_assert(sizeof(AudioPortsConfig) == 304 && offsetof(AudioPortsConfig, name) == 4 &&
              offsetof(AudioPortsConfig, inputPortCount) == 260 &&
              offsetof(AudioPortsConfig, outputPortCount) == 264 &&
              offsetof(AudioPortsConfig, hasMainInput) == 268 &&
              offsetof(AudioPortsConfig, mainInputChannelCount) == 272 &&
              offsetof(AudioPortsConfig, mainInputPortType) == 280 &&
              offsetof(AudioPortsConfig, hasMainOutput) == 288 &&
              offsetof(AudioPortsConfig, mainOutputChannelCount) == 292 &&
              offsetof(AudioPortsConfig, mainOutputPortType) == 296);
static_assert(sizeof(PluginAudioPortsConfig) == 24 && offsetof(PluginAudioPortsConfig, select) == 16);
static_assert(sizeof(PluginAudioPortsConfigInfo) == 16 && sizeof(HostAudioPortsConfig) == 8);
static_assert(sizeof(HostThreadCheck) == 16 && sizeof(HostLog) == 8);

// ---- gui, timer-support, posix-fd-support ---------------------------------------------------------

inline constexpr char kExtTimerSupport[] = "clap.timer-support";
inline constexpr char kExtPosixFdSupport[] = "clap.posix-fd-support";
inline constexpr char kWindowApiWin32[] = "win32";
inline constexpr char kWindowApiX11[] = "x11";

struct Window {
    const char* api;
    union {
        void* cocoa;
        unsigned long x11;
        void* win32;
        void* ptr;
    };
};

struct GuiResizeHints {
    bool canResizeHorizontally;
    bool canResizeVertically;
    bool preserveAspectRatio;
    std::uint32_t aspectRatioWidth;
    std::uint32_t aspectRatioHeight;
};

struct PluginGui {
    bool(KORVO_CLAP_API* isApiSupported)(const Plugin* plugin, const char* api, bool isFloating);
    bool(KORVO_CLAP_API* getPreferredApi)(const Plugin* plugin, const char** api, bool* isFloating);
    bool(KORVO_CLAP_API* create)(const Plugin* plugin, const char* api, bool isFloating);
    void(KORVO_CLAP_API* destroy)(const Plugin* plugin);
    bool(KORVO_CLAP_API* setScale)(const Plugin* plugin, double scale);
    bool(KORVO_CLAP_API* getSize)(const Plugin* plugin, std::uint32_t* width, std::uint32_t* height);
    bool(KORVO_CLAP_API* canResize)(const Plugin* plugin);
    bool(KORVO_CLAP_API* getResizeHints)(const Plugin* plugin, GuiResizeHints* hints);
    bool(KORVO_CLAP_API* adjustSize)(const Plugin* plugin, std::uint32_t* width, std::uint32_t* height);
    bool(KORVO_CLAP_API* setSize)(const Plugin* plugin, std::uint32_t width, std::uint32_t height);
    bool(KORVO_CLAP_API* setParent)(const Plugin* plugin, const Window* window);
    bool(KORVO_CLAP_API* setTransient)(const Plugin* plugin, const Window* window);
    void(KORVO_CLAP_API* suggestTitle)(const Plugin* plugin, const char* title);
    bool(KORVO_CLAP_API* show)(const Plugin* plugin);
    bool(KORVO_CLAP_API* hide)(const Plugin* plugin);
};

struct HostGui {
    void(KORVO_CLAP_API* resizeHintsChanged)(const Host* host);
    bool(KORVO_CLAP_API* requestResize)(const Host* host, std::uint32_t width, std::uint32_t height);
    bool(KORVO_CLAP_API* requestShow)(const Host* host);
    bool(KORVO_CLAP_API* requestHide)(const Host* host);
    void(KORVO_CLAP_API* closed)(const Host* host, bool wasDestroyed);
};

struct PluginTimerSupport {
    void(KORVO_CLAP_API* onTimer)(const Plugin* plugin, ClapId timerId);
};
struct HostTimerSupport {
    bool(KORVO_CLAP_API* registerTimer)(const Host* host, std::uint32_t periodMs, ClapId* timerId);
    bool(KORVO_CLAP_API* unregisterTimer)(const Host* host, ClapId timerId);
};

enum PosixFdFlags : std::uint32_t { kPosixFdRead = 1, kPosixFdWrite = 2, kPosixFdError = 4 };
struct PluginPosixFdSupport {
    void(KORVO_CLAP_API* onFd)(const Plugin* plugin, int fd, std::uint32_t flags);
};
struct HostPosixFdSupport {
    bool(KORVO_CLAP_API* registerFd)(const Host* host, int fd, std::uint32_t flags);
    bool(KORVO_CLAP_API* modifyFd)(const Host* host, int fd, std::uint32_t flags);
    bool(KORVO_CLAP_API* unregisterFd)(const Host* host, int fd);
};

static_assert(sizeof(Window) == 16 && offsetof(Window, x11) == 8 && offsetof(Window, win32) == 8);
static_assert(sizeof(GuiResizeHints) == 12 && offsetof(GuiResizeHints, aspectRatioWidth) == 4 &&
              offsetof(GuiResizeHints, aspectRatioHeight) == 8);
static_assert(sizeof(PluginGui) == 120 && offsetof(PluginGui, setScale) == 32 && offsetof(PluginGui, setSize) == 72 &&
              offsetof(PluginGui, setParent) == 80 && offsetof(PluginGui, show) == 104 &&
              offsetof(PluginGui, hide) == 112);
static_assert(sizeof(HostGui) == 40 && offsetof(HostGui, requestResize) == 8 && offsetof(HostGui, closed) == 32);
static_assert(sizeof(PluginTimerSupport) == 8 && sizeof(HostTimerSupport) == 16);
static_assert(sizeof(PluginPosixFdSupport) == 8 && sizeof(HostPosixFdSupport) == 24 &&
              offsetof(HostPosixFdSupport, unregisterFd) == 16);

}  // namespace korvo::clap
