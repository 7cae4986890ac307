#pragma once
// ClapPlugin: the object the CLAP factory makes per plug-in instance. It owns the host-neutral
// Client and the HostProcessor that runs it (korvo/client/hostprocessor.h), and is the Plugin
// structure a host holds plus the extensions it answers: params, state, latency, tail,
// audio-ports, audio-ports-config and audio-ports-config-info. It offers no editor yet ("clap.gui"
// is not answered).
//
// Every host entry is a trampoline (entries.cpp): it finds the object behind the Plugin pointer
// (null, or not one of ours: nothing happens and the call fails), puts up the floating-point guard
// (denormals flushed, exceptions masked; the host's setting comes back on return), checks the
// calling thread in debug builds, and forwards here. This object does the format's work and leaves
// the rest to the client.
//
// Parameters (params.cpp): the same list and IDs as the VST3 build, in the same order: the bypass
// (ID 998, stepped 0..1, the host's bypass), the preset as a stepped program parameter (ID 999,
// 0..presets - 1, its texts the preset names), then client parameter i with ID i. Discrete
// parameters carry their own whole values (a boolean 0..1, an integer min..max, a choice
// 0..count - 1; stepped, and enum for booleans and choices); continuous ones travel as their
// normalized value 0..1, exactly the VST3 value, so automation means the same in both formats,
// while their texts show the real units. Hidden parameters stay hidden. Parameter events are
// applied at their frame offsets: HostProcessor cuts the block there.
//
// State (state.cpp): exactly the VST3 component state (a version byte, the bypass byte, the
// client's chunk), written and read in loops over partial transfers; a damaged, short or too long
// state is refused with nothing applied.
//
// Audio (ports.cpp): one input port and one stereo output port; the configurations are the
// client's channel configurations (here mono in or stereo in), chosen by audio-ports-config while
// inactive. 32-bit buffers only: a block that offers 64-bit buffers alone is refused with an error
// status. Latency is the client's at the activated rate (a change is told to the host while
// activating), the tail its tail in samples; a block after which the client sleeps in silence
// returns the sleep status. Activation and reset clear the state; stopping and starting processing
// (around a sleep) keeps it.
//
// Threads, as CLAP states them: [main-thread] for everything but process, start_processing,
// stop_processing and reset ([audio-thread]), flush ([audio-thread] while active, else
// [main-thread]), the tail (either) and get_extension and the factory ([any-thread]). The
// audio-thread functions never allocate, lock or log (a debug build's report of a wrong thread
// aside). A program change on the audio thread tells the host of the moved
// values from on_main_thread (through request_callback). Debug builds (KORVO_CLAP_THREAD_CHECKS)
// ask the host's thread-check on every entry and report a wrong thread through the host's log.
//
// Untrusted input: every pointer and index is checked; values that are NaN are ignored, others
// clamped into range; events of other types, spaces or with a short size are skipped; blocks
// longer than announced are processed in pieces that fit the buffers.

#include <atomic>
#include <cstdint>
#include <vector>

#include "korvo/clap/abi.h"
#include "korvo/clap/ext.h"
#include "korvo/clap/gui.h"
#include "korvo/client/client.h"
#include "korvo/client/hostprocessor.h"
#include "korvo/core/nogc.h"

// Thread checks: on in debug builds, off otherwise, unless the build says (the test module has
// them on).
#if !defined(KORVO_CLAP_THREAD_CHECKS)
#if defined(NDEBUG)
#define KORVO_CLAP_THREAD_CHECKS 0
#else
#define KORVO_CLAP_THREAD_CHECKS 1
#endif
#endif

namespace korvo::clap {

// IDs of the two adapter parameters (as in the VST3 build).
inline constexpr ClapId kBypassParamId = 998;
inline constexpr ClapId kProgramParamId = 999;
// Highest sample rate activate accepts (Hz).
inline constexpr double kMaxSampleRate = 10.0e6;

class ClapPlugin;

// The client's way back to a CLAP host: the editor's edits become events for the host, and its
// wish for a new size a request to the host's window. [main-thread]
class ClapHostCommand final : public IHostCommand {
public:
    explicit ClapHostCommand(ClapPlugin& owner) noexcept : owner_(owner) {}
    void beginParameterEdit(std::int32_t paramIndex) noexcept override;
    void automateParameter(std::int32_t paramIndex, float normalizedValue) noexcept override;
    void endParameterEdit(std::int32_t paramIndex) noexcept override;
    // The host's params rescan of the values.
    void parameterValuesChanged() noexcept override;
    bool requestResize(std::int32_t width, std::int32_t height) noexcept override;
    HostKind hostKind() const noexcept override { return kind_; }
    void setHostKind(HostKind kind) noexcept { kind_ = kind; }

private:
    ClapPlugin& owner_;
    HostKind kind_ = HostKind::unknown;
};

class ClapPlugin {
public:
    // No host call happens here (hosts forbid it during create). [main-thread]
    ClapPlugin(const Host* host, const PluginDescriptor* descriptor, HeapPtr<Client> client);
    ~ClapPlugin();
    ClapPlugin(const ClapPlugin&) = delete;
    ClapPlugin& operator=(const ClapPlugin&) = delete;

    // The structure handed to the host.
    const Plugin* plugin() const noexcept { return &plugin_; }
    // The object behind a host's Plugin pointer; null for null or a structure not made here.
    static ClapPlugin* from(const Plugin* plugin) noexcept;

    Client& client() noexcept { return *client_; }
    HostProcessor& processing() noexcept { return *processing_; }
    bool isActive() const noexcept { return active_; }

    // ---- Lifecycle (plugin.cpp) -------------------------------------------------------------------
    bool init() noexcept;  // [main-thread]
    bool activate(double sampleRate, std::uint32_t minFrames,
                  std::uint32_t maxFrames) noexcept;        // [main-thread]
    void deactivate() noexcept;                             // [main-thread]
    bool startProcessing() noexcept;                        // [audio-thread]
    void stopProcessing() noexcept;                         // [audio-thread]
    void reset() noexcept;                                  // [audio-thread]
    std::int32_t process(const Process* process) noexcept;  // [audio-thread]
    const void* extension(const char* id) const noexcept;   // [any-thread]
    void onMainThread() noexcept;                           // [main-thread]
    void rescanParameterValues() noexcept;                  // [main-thread]

    // ---- params (params.cpp) ----------------------------------------------------------------------
    std::uint32_t paramCount() const noexcept;
    bool paramInfo(std::uint32_t index, ParamInfo* info) const noexcept;
    bool paramValue(ClapId id, double* value) const noexcept;
    bool valueToText(ClapId id, double value, char* out, std::uint32_t capacity) const noexcept;
    bool textToValue(ClapId id, const char* text, double* value) const noexcept;
    // [audio-thread] while active, [main-thread] otherwise; never at the same time as process.
    void flush(const InputEvents* in, const OutputEvents* out) noexcept;
    // Applies one event when it is a parameter value of ours. [audio-thread or flush's thread]
    void applyEvent(const EventHeader* event) noexcept;

    // ---- state (state.cpp) ------------------------------------------------------------------------
    bool saveState(const OStream* stream) noexcept;
    bool loadState(const IStream* stream) noexcept;

    // ---- audio ports, latency, tail (ports.cpp) ----------------------------------------------------
    std::uint32_t portCount(bool isInput) const noexcept;
    bool portInfo(std::uint32_t index, bool isInput, AudioPortInfo* info) const noexcept;
    std::uint32_t configCount() const noexcept;
    bool configInfo(std::uint32_t index, AudioPortsConfig* config) const noexcept;
    bool selectConfig(ClapId id) noexcept;
    ClapId currentConfig() const noexcept { return static_cast<ClapId>(config_); }
    bool configPortInfo(ClapId config, std::uint32_t index, bool isInput, AudioPortInfo* info) const noexcept;
    std::uint32_t latency() noexcept;
    std::uint32_t tail() noexcept;

    // ---- The editor (gui.cpp; the entries call it through editor()) -------------------------------
    // Null when the client has no editor or before init.
    ClapEditor* editor() noexcept { return editor_.get(); }
    HostKind hostKind() const noexcept { return hostCommand_->hostKind(); }
    // An edit from the editor on client parameter `index`, queued for the host's next process or
    // flush. [main-thread]
    void editorEdit(std::uint16_t type, std::int32_t index, float normalized) noexcept;

    // ---- Thread checks (debug builds) -------------------------------------------------------------
    enum class ThreadRule { main, audio, audioWhileActive };
    // Logs a wrong thread through the host's log (when the host has thread-check). [any-thread]
    void checkThread(ThreadRule rule, const char* function) const noexcept;

private:
    static constexpr std::uint64_t kMagic = 0x4B4F52564F434C41ull;  // "KORVOCLA"
    // How a client parameter shows its plain value to the host (fixed at construction).
    struct ParamShape {
        double min = 0.0, max = 1.0;
        bool stepped = false, enumerated = false;
        const IntegerParameter* integer = nullptr;  // Integer and Enum kinds
        const BoolParameter* boolean = nullptr;
    };
    // The plain value a parameter shows the host, and back (see the header comment).
    double normalizedFromPlain(std::int32_t index, double plain) const noexcept;
    double plainFromNormalized(std::int32_t index, double normalized) const noexcept;
    // Selects a preset from the program parameter's plain value; false for NaN.
    bool applyProgram(double plain) noexcept;
    // Sends the editor's queued events to the host, oldest first, while it takes them.
    void sendEditorEvents(const OutputEvents* out) noexcept;
    // Fills an AudioPortInfo for one of a configuration's ports.
    void describePort(std::int32_t config, bool isInput, AudioPortInfo* info) const noexcept;

    // First, so from() can tell our objects from others before it trusts anything else.
    std::uint64_t magic_ = kMagic;
    Plugin plugin_;
    const Host* host_;
    std::vector<ParamShape> shapes_;
    HeapPtr<Client> client_;
    HeapPtr<HostProcessor> processing_;
    HeapPtr<ClapHostCommand> hostCommand_;
    HeapPtr<ClapEditor> editor_;       // made by init when the client has an editor
    HeapPtr<EditorEventQueue> edits_;  // the editor's edits on their way to the host
    std::vector<bool> gestureOpen_;    // per client parameter: a begin was queued, its end not yet
    // Host extensions, fetched by init (null when the host has none).
    const HostThreadCheck* hostThreadCheck_ = nullptr;
    const HostLog* hostLog_ = nullptr;
    const HostParams* hostParams_ = nullptr;
    const HostLatency* hostLatency_ = nullptr;
    const HostState* hostState_ = nullptr;
    bool initialized_ = false;
    bool active_ = false;
    bool processingStarted_ = false;
    std::int32_t config_ = 0;  // index into the client's channel configurations
    std::int32_t presetCount_ = 0;
    double sampleRate_ = 44100.0;        // the activated rate (44100 before the first)
    std::int32_t reportedLatency_ = -1;  // last latency told to the host (-1: none yet)
    std::int64_t timeInSamples_ = 0;     // our own count, for blocks without a timeline
    double tempo_ = 120.0;
    bool hostIsPlaying_ = false;
    std::atomic<std::uint8_t> valuesMoved_{0};  // a program change on the audio thread, for the main thread
};

}  // namespace korvo::clap
