#pragma once
// Client: the host-neutral plug-in object.
//
// A plug-in is a subclass of Client that supplies its description, accepted channel
// configurations, parameters, presets and audio processing by overriding the build* operations
// and the processing operations. A format adapter owns one Client, turns host calls into the
// operations below and gives the client an IHostCommand to talk back to the host. The client owns
// its parameters, its PresetBank and, once created, its editor (an IGraphics made by the subclass),
// and cuts host blocks into blocks of at most maxFramesInProcess frames.
//
// Construction is two-phase. C++ does not dispatch virtual calls made from a base constructor to
// the subclass, so the Client constructor builds nothing; the subclass constructor must call
// initialize() as its last statement. initialize() runs, in order: buildDescription,
// buildChannelConfigs, buildParameters (each parameter gets its client pointer; parameter i must
// have index i), buildPresets (which may use buildDefaultPreset, the parameters exist by then),
// maxFramesInProcess, and computes maxInputs/maxOutputs. A further subclass of a class that
// already calls initialize() gets its parent's build* results.
//
//   class MyClient : public korvo::Client {
//   public:
//       MyClient() { initialize(); }
//       ...overrides...
//   };
//
// After construction the adapter calls setHostCommand.
//
// Threads
// - Main thread: construction, destruction, editor creation/open/close, parameter text and info,
//   preset bank reads, state chunks, parameter changes from the controller.
// - Audio thread: resetFromHost, processAudioFromHost, setParameterFromHost, enqueueMidiFromHost,
//   and (carried in an audio block) selectPresetFromHost. None of them allocates or blocks (only
//   the subclass's reset may size its buffers). reset and processAudio are never called at the
//   same time.
// - The editor is shared with the audio thread only through the graphicsAvailable try-lock:
//   the audio thread calls tryAcquireGraphics() and, when it gets the editor, releaseGraphics()
//   when done. Destruction (destroyGraphics) spins until it can take the editor itself.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "korvo/client/daw.h"
#include "korvo/client/params.h"
#include "korvo/client/preset.h"
#include "korvo/core/nogc.h"
#include "korvo/core/vec.h"
#include "korvo/window/backend.h"

namespace korvo {

// What the plug-in is. Returned by value from buildDescription and copied into the client.
struct PluginDescription {
    std::string vendorName;
    std::string vendorUniqueID;      // exactly 4 characters
    std::string vendorSupportEmail;  // empty: supportEmail() gives a neutral placeholder
    std::string pluginName;
    std::string pluginHomepage;  // empty: homepage() gives a neutral placeholder
    std::string pluginUniqueID;  // exactly 4 characters
    std::int32_t versionMajor = 0;
    std::int32_t versionMinor = 0;
    std::int32_t versionPatch = 0;
    bool hasGUI = false;
    bool otherFormatFlag1 = false;  // meaningful to other plug-in formats only; kept false
    bool receivesMIDI = false;
    bool otherFormatFlag2 = false;     // meaningful to other plug-in formats only; kept false
    std::int32_t category = 0;         // index into the adapter's category table
    std::string bundleIdentifiers[3];  // for other plug-in formats; unused on the VST3 path

    // major * 65536 + minor * 256 + patch (1.4.0 -> 0x00010400).
    std::int32_t packedVersion() const noexcept {
        return versionMajor * 65536 + versionMinor * 256 + versionPatch;
    }
};

// One accepted pair of channel counts.
struct ChannelConfig {
    std::int32_t numInputs;
    std::int32_t numOutputs;
};

// Host transport for one block. Passed by value to processAudio.
struct HostTiming {
    double tempo = 120.0;            // beats per minute
    std::int64_t timeInSamples = 0;  // host position of the block's first frame
    bool hostIsPlaying = false;
};

// One timed short MIDI message.
struct MidiMessage {
    std::int32_t offset;  // frame offset within the current host block
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
};


// The client's way back to the host. Implemented by the adapter; not owned by the client; it
// outlives the client.
class IHostCommand {
public:
    virtual ~IHostCommand() = default;
    // An edit gesture starts on a parameter. [main-thread]
    virtual void beginParameterEdit(std::int32_t paramIndex) noexcept = 0;
    // The parameter took a new value from the editor. [main-thread]
    virtual void automateParameter(std::int32_t paramIndex, float normalizedValue) noexcept = 0;
    // The gesture ends. [main-thread]
    virtual void endParameterEdit(std::int32_t paramIndex) noexcept = 0;
    // The editor set many values at once outside a gesture (a preset it loaded, as a program
    // change does): the host reads every value again. [main-thread] [nothing]
    virtual void parameterValuesChanged() noexcept {}
    // The gestures until endGroupEdit make one user action (a compare switch), where the host
    // offers grouping. [main-thread] [nothing]
    virtual void beginGroupEdit() noexcept {}
    virtual void endGroupEdit() noexcept {}
    // A control's menu: the host's own menu for parameter `paramIndex` (its automation and
    // controller items) with `items` added after them, popped up at (x, y), the editor's device
    // pixels; choosing one of ours calls onChoose(its index), then or later. False when the host
    // offers no such menu: the editor shows its own. [main-thread] [false]
    virtual bool popUpParameterMenu(std::int32_t paramIndex, std::int32_t x, std::int32_t y,
                                    const std::vector<std::string>& items,
                                    std::function<void(std::int32_t)> onChoose) {
        (void)paramIndex;
        (void)x;
        (void)y;
        (void)items;
        (void)onChoose;
        return false;
    }
    // Asks the host to resize the editor window; false when refused. [main-thread]
    virtual bool requestResize(std::int32_t width, std::int32_t height) noexcept = 0;
    // The host identified at initialisation. [any-thread]
    virtual HostKind hostKind() const noexcept = 0;
};

// The editor object's face to the client and the adapter. Implemented by the editor base class;
// owned by the client (destroyed with heapDelete). [main-thread] for every operation.
class IGraphics {
public:
    virtual ~IGraphics() = default;
    // Creates the editor window inside parent; returns the native window handle. controlInfo is
    // null, except with the X11 backend, where it is the host's event loop (a korvo::IEventLoop*,
    // korvo/window/eventloop.h) the window runs on.
    virtual void* openUI(void* parentWindow, void* controlInfo, HostKind hostKind, WindowBackend backend) = 0;
    // Destroys the window; the editor object survives and may be opened again.
    virtual void closeUI() = 0;
    // The editor's size in device pixels.
    virtual void getGUISize(std::int32_t* width, std::int32_t* height) = 0;

    // ---- Scale and size ---------------------------------------------------------------------------
    // An editor that scales draws at (screen scale) x (user zoom) device pixels per pixel of its
    // base size. The screen scale is the host's content scale when it gave one, else the monitor's.
    // The defaults describe an editor of one fixed size.
    //
    // The host's content scale; false, and nothing changes, for a factor outside [0.5, 4] (NaN and
    // infinities included) or an editor that does not scale.
    virtual bool setHostScale(float scale) {
        (void)scale;
        return false;
    }
    // The user may resize the editor.
    virtual bool canResize() { return false; }
    // Turns a requested size into the nearest size the editor can take.
    virtual void constrainSize(std::int32_t* width, std::int32_t* height) {
        (void)width;
        (void)height;
    }
    // The host made the editor's window this size: the editor follows it (true) or keeps its own
    // (false).
    virtual bool setGUISize(std::int32_t width, std::int32_t height) {
        (void)width;
        (void)height;
        return false;
    }
    // The user's zoom (1 = 100 %), kept with the controller's state.
    virtual float userZoom() { return 1.0f; }
    virtual void setUserZoom(float zoom) { (void)zoom; }
    // Where the editor asks for a new window size (IHostCommand::requestResize). Not owned.
    virtual void setHostCommand(IHostCommand* hostCommand) { (void)hostCommand; }
    // Shows or hides the open window (it keeps everything).
    virtual void setVisible(bool visible) { (void)visible; }
    // The index of the parameter whose control lies under (x, y), in the window's device pixels;
    // -1 over the panel and outside.
    virtual std::int32_t parameterAt(std::int32_t x, std::int32_t y) {
        (void)x;
        (void)y;
        return -1;
    }
};

// The client's parameters, in index order. Create each with makeHeap (they are freed with
// heapDelete).
using ParameterList = std::vector<HeapPtr<Parameter>>;

class Client {
public:
    // Longest MIDI queue; a message arriving when it is full is dropped.
    static constexpr std::int32_t kMaxMidiMessages = 511;

    Client() noexcept;
    // Takes the editor (destroyGraphics), then destroys presets, parameters, channel configs and
    // the MIDI buffer. The audio thread must have stopped calling processing operations.
    // [main-thread]
    virtual ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // ---- Virtual operations, in slot order ------------------------------------------------------

    // Widens normalized to double and calls the parameter's setNormalizedFromHost. No index check:
    // callers pass an index in [0, parameterCount()). [any-thread, including audio]
    virtual void setParameterFromHost(std::int32_t index, float normalized) noexcept;

    // Subclass: creates the editor bound to this client. The base has no editor (null).
    // [main-thread]
    virtual HeapPtr<IGraphics> createGraphics();

    // Subclass: prepares the DSP and sizes its buffers (the one processing call that may
    // allocate). maxFrames is already clamped to maxFramesInProcess. [audio-thread or main-thread,
    // never at the same time as processAudio]
    virtual void reset(double sampleRate, std::int32_t maxFrames, std::int32_t numInputs,
                       std::int32_t numOutputs) noexcept;

    // Subclass: puts the DSP back where reset leaves it (histories cleared, glides restarted) at the
    // sizes and rate of the last reset, allocating nothing. Base: calls reset again with the last
    // reset's arguments, so a subclass whose reset allocates even at unchanged sizes must override
    // it. Never called before the first reset. [audio-thread]
    virtual void resetState() noexcept;

    // Subclass: latency in samples at sampleRate. Base: 0. [any-thread]
    virtual std::int32_t latencySamples(double sampleRate) noexcept;
    // Subclass: tail in seconds. Base: 0. [any-thread]
    virtual float tailSizeInSeconds() noexcept;
    // Subclass: largest block processAudio accepts; 0 means no limit. Base: 0. Read once by
    // initialize(). [main-thread]
    virtual std::int32_t maxFramesInProcess() noexcept;
    // Subclass: true when the last processAudio block was silence made from silent input, and more
    // silent input keeps the output silent whatever the parameters do: an adapter may then let the
    // host stop calling until sound returns. Base: false. [audio-thread]
    virtual bool isAsleep() const noexcept;

    // Subclass: processes one block of at most maxFramesInProcess frames (any length, including
    // 0, without a limit). inputs has numInputs channel pointers, outputs numOutputs.
    // [audio-thread]
    virtual void processAudio(const float* const* inputs, std::int32_t numInputs, float* const* outputs,
                              std::int32_t numOutputs, std::int32_t frames, HostTiming timing) noexcept = 0;

    // Adds a message to the MIDI queue (a min-heap on frame offset). A full queue drops it.
    // [audio-thread]
    virtual void enqueueMidiFromHost(MidiMessage message) noexcept;

    // Cuts a host block into processAudio calls of at most maxFramesInProcess frames. With a limit:
    // frames <= 0 makes no call; otherwise after each chunk every pointer of inputs and outputs is
    // advanced by the chunk (the caller's arrays are modified in place) and timing.timeInSamples
    // grows by the chunk, so on return it has advanced by `frames`. Without a limit: one call with
    // `frames` as given, pointers and timing untouched. Tempo and play state of every chunk are the
    // host block's. [audio-thread]
    virtual void processAudioFromHost(const float** inputs, std::int32_t numInputs, float** outputs,
                                      std::int32_t numOutputs, std::int32_t frames,
                                      HostTiming& timing) noexcept;

    // Empties the MIDI queue and calls reset with maxFrames clamped to maxFramesInProcess when a
    // limit is set and not above maxFrames (host 100 -> 100, host 4096 -> 512 for a 512 limit).
    // [audio-thread]
    virtual void resetFromHost(double sampleRate, std::int32_t maxFrames, std::int32_t numInputs,
                               std::int32_t numOutputs) noexcept;

    // Empties the MIDI queue and calls resetState; nothing before the first resetFromHost. Allocates
    // nothing. [audio-thread]
    void resetStateFromHost() noexcept;
    // True once resetFromHost has run. [any-thread]
    bool hasBeenReset() const noexcept { return lastResetMaxFrames_ >= 0; }

    // Subclass builders, called once by initialize(). [main-thread]
    virtual ParameterList buildParameters() = 0;
    virtual PresetList buildPresets() = 0;
    virtual PluginDescription buildDescription() = 0;
    virtual Vec<ChannelConfig> buildChannelConfigs() = 0;

    // ---- Accessors ------------------------------------------------------------------------------

    // Parameters: index = identity. [any-thread]
    std::int32_t parameterCount() const noexcept { return static_cast<std::int32_t>(parameters_.size()); }
    Parameter& parameter(std::int32_t index) const noexcept {
        return *parameters_[static_cast<std::size_t>(index)];
    }
    const ParameterList& parameters() const noexcept { return parameters_; }

    // The preset bank (exists after initialize()). [any-thread; see preset.h for its contract]
    PresetBank& presetBank() noexcept { return *checkedPresetBank(); }
    const PresetBank& presetBank() const noexcept { return *checkedPresetBank(); }

    // The adapter's host command; null until set. [any-thread]
    IHostCommand* hostCommand() const noexcept { return hostCommand_; }
    // [main-thread] right after construction.
    void setHostCommand(IHostCommand* command) noexcept { hostCommand_ = command; }

    const PluginDescription& description() const noexcept { return description_; }
    // The description's support e-mail and homepage, or neutral placeholders when empty.
    const char* supportEmail() const noexcept;
    const char* homepage() const noexcept;

    const Vec<ChannelConfig>& channelConfigs() const noexcept { return channelConfigs_; }
    std::int32_t maxInputs() const noexcept { return maxInputs_; }
    std::int32_t maxOutputs() const noexcept { return maxOutputs_; }
    // True when some ChannelConfig equals (numInputs, numOutputs). [any-thread]
    bool isLegalChannelConfig(std::int32_t numInputs, std::int32_t numOutputs) const noexcept;
    // The limit cached by initialize(). [any-thread]
    std::int32_t cachedMaxFramesInProcess() const noexcept { return maxFramesInProcess_; }

    // ---- Editor object ----------------------------------------------------------------------------

    // The editor, null until first needed. [main-thread]
    IGraphics* graphics() const noexcept { return graphics_.get(); }
    // The user's editor zoom (1 = 100 %), kept per instance with the controller's state: the
    // editor's own once it exists, else the one stored for it. Setting it stores it and hands it
    // to the editor. [main-thread]
    float editorZoom() const noexcept { return graphics_ ? graphics_->userZoom() : editorZoom_; }
    void setEditorZoom(float zoom) noexcept;
    // The controller's state: the editor's zoom ('KZED', version 1, float32), and its reading:
    // empty bytes (a project from before the zoom) mean 100 %; anything damaged is refused with
    // nothing changed. [main-thread]
    std::vector<std::uint8_t> writeEditorState() const;
    bool readEditorState(const std::vector<std::uint8_t>& bytes) noexcept;
    // Creates the editor on first need (createGraphics, then graphicsAvailable <- 1) and returns
    // it; null when the plug-in has no editor. Call under the adapter's view lock. [main-thread]
    IGraphics* ensureGraphics();
    // Takes the editor for the audio thread: atomically changes graphicsAvailable from 1 to 0.
    // Null when there is no editor or someone else holds it: skip the editor for this block.
    // [audio-thread]
    IGraphics* tryAcquireGraphics() noexcept;
    // Gives back an editor taken with tryAcquireGraphics (graphicsAvailable <- 1). [audio-thread]
    void releaseGraphics() noexcept;
    // Spins until it can take the editor (1 -> 0), then destroys it. A subclass whose editor uses
    // the subclass's own members calls this first in its destructor. [main-thread]
    void destroyGraphics() noexcept;
    // 1: the editor exists and nobody holds it. [any-thread]
    std::uint8_t graphicsAvailable() const noexcept {
        return graphicsAvailable_.load(std::memory_order_acquire);
    }

    // ---- MIDI queue -------------------------------------------------------------------------------

    // Queued messages and heap slots 1..count (slot 1 has the smallest offset). [audio-thread]
    std::int32_t midiQueueCount() const noexcept { return midiCount_; }
    const MidiMessage& midiQueueSlot(std::int32_t slot) const noexcept { return midiHeap_[slot]; }
    // Removes the message with the smallest offset into `out`; false when empty. [audio-thread]
    bool popMidiMessage(MidiMessage& out) noexcept;

protected:
    // Builds everything through the build* overrides; call once, at the end of the subclass
    // constructor. [main-thread]
    void initialize();

private:
    PresetBank* checkedPresetBank() const noexcept {
        if (!presetBank_) fatalError("the client was used before initialize()");
        return presetBank_.get();
    }

    HeapPtr<IGraphics> graphics_;
    std::atomic<std::uint8_t> graphicsAvailable_{0};
    float editorZoom_ = 1.0f;
    IHostCommand* hostCommand_ = nullptr;
    PluginDescription description_;
    ParameterList parameters_;
    HeapPtr<PresetBank> presetBank_;
    Vec<ChannelConfig> channelConfigs_;
    std::int32_t maxInputs_ = 0;
    std::int32_t maxOutputs_ = 0;
    std::int32_t maxFramesInProcess_ = 0;
    bool initialized_ = false;
    // The arguments of the last reset (maxFrames -1: none yet).
    double lastResetRate_ = 0.0;
    std::int32_t lastResetMaxFrames_ = -1;
    std::int32_t lastResetInputs_ = 0;
    std::int32_t lastResetOutputs_ = 0;

    // MIDI: offset of the current block, heap count and slots (slot 0 unused), and the message
    // buffer reserved at construction.
    std::int32_t midiBlockOffset_ = 0;
    std::int32_t midiCount_ = 0;
    MidiMessage midiHeap_[kMaxMidiMessages + 1] = {};
    Vec<MidiMessage> midiBuffer_;
};

}  // namespace korvo
