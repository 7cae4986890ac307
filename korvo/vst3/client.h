#pragma once
// VST3Client: the one object the factory makes per plug-in instance. It is at once the VST3
// component, the audio processor and the edit controller of a single-component plug-in, and owns
// the host-neutral Client, the HostProcessor that runs it (korvo/client/hostprocessor.h: input
// copies, bypass and its crossfade, the persistent state's bytes) and its VST3HostCommand.
// createView makes a KorvoView (view.h) when the client has an editor, and returns null otherwise,
// so hosts fall back to their generic editor.
//
// Faces: five separate interface sub-objects, in this order, IAudioProcessor, IComponent,
// IEditController, IEditController2, IUnitInfo. They are separate on purpose: IComponent and
// IEditController declare the same setState/getState (and initialize/terminate), and only the
// component's state calls do real work; one class inheriting both would merge them. All faces
// share the object's one reference count (refcounted.h; starts at 1, release to 0 destroys the
// object). Each face's entry checks nothing itself: it puts up the floating-point guard and
// forwards to the object (faces.cpp).
//
// queryInterface: IAudioProcessor and FUnknown -> processor face; IComponent and IPluginBase ->
// component face; IEditController, IEditController2, IUnitInfo -> their faces. Anything else ->
// null and kNoInterface.
//
// Host parameter list: index 0 is the bypass (ID 998), index 1 the program (ID 999), index 2 + i
// the client parameter i (ID i). The component state stream is the HostProcessor's persistent
// state: a version byte 0, a bypass byte, then the client's state chunk to the end of the stream.
//
// Files: client.cpp (life, identity, buses, state, controller, units), processor.cpp (the audio
// processor), faces.cpp (the interface entries), strings.cpp and streams.cpp (host text and
// IBStream transfers).
//
// Threads
// - process: the host's audio thread. It never allocates, takes no lock and never logs. The client
//   and every buffer are sized on the main thread (setupProcessing, setBusArrangements,
//   setActive); a restarted processing (setProcessing true) only clears the client's state, in the
//   next block. A call without samples (a host's parameter flush) applies its parameter changes
//   and nothing else, whatever buses and buffers it carries. All changes of a block apply at its
//   start.
// - setProcessing: audio or main thread. Everything else: the host's main thread, never at the
//   same time as process for the calls that size (setupProcessing, setBusArrangements, setActive).
// - Every entry point that runs plug-in code does so under the floating-point guard (FPControl):
//   denormals flushed to zero, exceptions masked; the host's own setting is restored on return.
// - Shared between the two: sampleRate and maxSamplesPerBlock (atomics), the HostProcessor's
//   reset request and bypass (atomics); parameters synchronise themselves.
//
// Untrusted input: every out pointer is checked (kInvalidArgument when null); parameter queues for
// unknown IDs are ignored; normalized values that are NaN or outside [0, 1] are handled without
// undefined behaviour; host blocks longer than the announced maximum are processed in pieces that
// fit the buffers; a component state that claims more than 1 MiB is refused.

#include <atomic>
#include <cstdint>

#include "korvo/client/client.h"
#include "korvo/client/hostprocessor.h"
#include "korvo/core/nogc.h"
#include "korvo/core/vec.h"
#include "korvo/vst3/abi.h"
#include "korvo/vst3/refcounted.h"
#include "korvo/vst3/view.h"

namespace korvo::vst3 {

// IDs of the two adapter parameters.
inline constexpr ParamID kBypassParamId = 998;
inline constexpr ParamID kProgramParamId = 999;
inline constexpr ProgramListID kProgramListId = 999;
// Highest sample rate setupProcessing accepts (Hz).
inline constexpr double kMaxSampleRate = 10.0e6;

class VST3Client : public RefCounted<VST3Client> {
public:
    // Takes the client (not null), gives it the host command. Reference count 1. [main-thread]
    explicit VST3Client(HeapPtr<Client> client);
    // Destroys the client first, then the buffers, the host command and the bus lists.
    ~VST3Client();
    VST3Client(const VST3Client&) = delete;
    VST3Client& operator=(const VST3Client&) = delete;

    // The faces. [any-thread]
    IAudioProcessor* processorFace() noexcept { return &processor_; }
    IComponent* componentFace() noexcept { return &component_; }
    IEditController* controllerFace() noexcept { return &controller_; }

    Client& client() noexcept { return *client_; }
    HostKind hostKind() const noexcept { return hostKind_; }
    IComponentHandler* componentHandler() const noexcept { return componentHandler_; }
    // Tells the host that parameter values changed (restartComponent with kParamValuesChanged).
    // [main-thread]
    void notifyParameterValuesChanged() noexcept;

    // ---- FUnknown, shared by every face (addRef and release: the base's count) -----------------------
    tresult queryInterface(const TUID iid, void** obj) noexcept;

    // ---- IPluginBase / IComponent -------------------------------------------------------------------
    tresult initialize(FUnknown* context) noexcept;
    tresult terminate() noexcept;
    int32 getBusCount(MediaType type, BusDirection dir) noexcept;
    tresult getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo* bus) noexcept;
    tresult activateBus(MediaType type, BusDirection dir, int32 index, TBool state) noexcept;
    tresult loadComponentState(IBStream* stream) noexcept;  // IComponent::setState
    tresult saveComponentState(IBStream* stream) noexcept;  // IComponent::getState
    // IEditController::setState / getState: the editor's state (view.cpp): the tag "KZED", a
    // version byte (1) and the user's zoom as a little-endian float32; later versions may add
    // fields after it. An empty stream (a project saved before the editor kept a state) means 100 %;
    // a short or foreign one is refused and changes nothing.
    tresult loadEditorState(IBStream* stream) noexcept;
    tresult saveEditorState(IBStream* stream) noexcept;
    // The view whose editor is open (attached and not removed), null when none. [main-thread]
    KorvoView* openView() const noexcept { return openView_; }
    void setOpenView(KorvoView* view) noexcept { openView_ = view; }

    // ---- IAudioProcessor ----------------------------------------------------------------------------
    tresult setBusArrangements(SpeakerArrangement* inputs, int32 numIns, SpeakerArrangement* outputs,
                               int32 numOuts) noexcept;
    tresult getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement* arr) noexcept;
    uint32 getLatencySamples() noexcept;
    tresult setupProcessing(const ProcessSetup* setup) noexcept;
    tresult setProcessing(TBool state) noexcept;
    // Sizes the client and the buffers for the current set-up and arrangement (when it changed).
    // [main-thread]
    void prepareProcessing() noexcept;
    // Delivers a notification the audio thread left for the main thread (a program change inside a
    // block moved the parameters). Called by the main-thread entry points. [main-thread]
    void deliverPendingNotifications() noexcept;
    tresult process(ProcessData* data) noexcept;  // [audio-thread]
    uint32 getTailSamples() noexcept;

    // ---- IEditController ----------------------------------------------------------------------------
    int32 getParameterCount() noexcept;
    tresult getParameterInfo(int32 index, ParameterInfo* info) noexcept;
    tresult getParamStringByValue(ParamID id, ParamValue value, char16* string) noexcept;
    tresult getParamValueByString(ParamID id, const char16* string, ParamValue* value) noexcept;
    ParamValue normalizedParamToPlain(ParamID id, ParamValue value) noexcept;
    ParamValue plainParamToNormalized(ParamID id, ParamValue plain) noexcept;
    ParamValue getParamNormalized(ParamID id) noexcept;
    tresult setParamNormalized(ParamID id, ParamValue value) noexcept;
    tresult setComponentHandler(IComponentHandler* handler) noexcept;
    IPlugView* createView(FIDString name) noexcept;

    // ---- IUnitInfo ----------------------------------------------------------------------------------
    tresult getUnitInfo(int32 index, UnitInfo* info) noexcept;
    tresult getProgramListInfo(int32 index, ProgramListInfo* info) noexcept;
    tresult getProgramName(ProgramListID listId, int32 index, char16* name) noexcept;

private:
    struct BusEntry {
        bool active;
        SpeakerArrangement arrangement;
        BusInfo info;
    };

    // One interface sub-object each; every call goes to the owner.
    struct ProcessorFace final : IAudioProcessor {
        explicit ProcessorFace(VST3Client& o) noexcept : owner(o) {}
        tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override;
        uint32 KORVO_VST3_API addRef() override;
        uint32 KORVO_VST3_API release() override;
        tresult KORVO_VST3_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                  SpeakerArrangement* outputs, int32 numOuts) override;
        tresult KORVO_VST3_API getBusArrangement(BusDirection dir, int32 index,
                                                 SpeakerArrangement& arr) override;
        tresult KORVO_VST3_API canProcessSampleSize(int32 symbolicSampleSize) override;
        uint32 KORVO_VST3_API getLatencySamples() override;
        tresult KORVO_VST3_API setupProcessing(ProcessSetup& setup) override;
        tresult KORVO_VST3_API setProcessing(TBool state) override;
        tresult KORVO_VST3_API process(ProcessData& data) override;
        uint32 KORVO_VST3_API getTailSamples() override;
        VST3Client& owner;
    };
    struct ComponentFace final : IComponent {
        explicit ComponentFace(VST3Client& o) noexcept : owner(o) {}
        tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override;
        uint32 KORVO_VST3_API addRef() override;
        uint32 KORVO_VST3_API release() override;
        tresult KORVO_VST3_API initialize(FUnknown* context) override;
        tresult KORVO_VST3_API terminate() override;
        tresult KORVO_VST3_API getControllerClassId(TUID classId) override;
        tresult KORVO_VST3_API setIoMode(IoMode mode) override;
        int32 KORVO_VST3_API getBusCount(MediaType type, BusDirection dir) override;
        tresult KORVO_VST3_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                          BusInfo& bus) override;
        tresult KORVO_VST3_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) override;
        tresult KORVO_VST3_API activateBus(MediaType type, BusDirection dir, int32 index,
                                           TBool state) override;
        tresult KORVO_VST3_API setActive(TBool state) override;
        tresult KORVO_VST3_API setState(IBStream* state) override;
        tresult KORVO_VST3_API getState(IBStream* state) override;
        VST3Client& owner;
    };
    struct ControllerFace final : IEditController {
        explicit ControllerFace(VST3Client& o) noexcept : owner(o) {}
        tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override;
        uint32 KORVO_VST3_API addRef() override;
        uint32 KORVO_VST3_API release() override;
        tresult KORVO_VST3_API initialize(FUnknown* context) override;
        tresult KORVO_VST3_API terminate() override;
        tresult KORVO_VST3_API setComponentState(IBStream* state) override;
        tresult KORVO_VST3_API setState(IBStream* state) override;
        tresult KORVO_VST3_API getState(IBStream* state) override;
        int32 KORVO_VST3_API getParameterCount() override;
        tresult KORVO_VST3_API getParameterInfo(int32 paramIndex, ParameterInfo& info) override;
        tresult KORVO_VST3_API getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                     String128 string) override;
        tresult KORVO_VST3_API getParamValueByString(ParamID id, TChar* string,
                                                     ParamValue& valueNormalized) override;
        ParamValue KORVO_VST3_API normalizedParamToPlain(ParamID id, ParamValue valueNormalized) override;
        ParamValue KORVO_VST3_API plainParamToNormalized(ParamID id, ParamValue plainValue) override;
        ParamValue KORVO_VST3_API getParamNormalized(ParamID id) override;
        tresult KORVO_VST3_API setParamNormalized(ParamID id, ParamValue value) override;
        tresult KORVO_VST3_API setComponentHandler(IComponentHandler* handler) override;
        IPlugView* KORVO_VST3_API createView(FIDString name) override;
        VST3Client& owner;
    };
    struct Controller2Face final : IEditController2 {
        explicit Controller2Face(VST3Client& o) noexcept : owner(o) {}
        tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override;
        uint32 KORVO_VST3_API addRef() override;
        uint32 KORVO_VST3_API release() override;
        tresult KORVO_VST3_API setKnobMode(KnobMode mode) override;
        tresult KORVO_VST3_API openHelp(TBool onlyCheck) override;
        tresult KORVO_VST3_API openAboutBox(TBool onlyCheck) override;
        VST3Client& owner;
    };
    struct UnitInfoFace final : IUnitInfo {
        explicit UnitInfoFace(VST3Client& o) noexcept : owner(o) {}
        tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) override;
        uint32 KORVO_VST3_API addRef() override;
        uint32 KORVO_VST3_API release() override;
        int32 KORVO_VST3_API getUnitCount() override;
        tresult KORVO_VST3_API getUnitInfo(int32 unitIndex, UnitInfo& info) override;
        int32 KORVO_VST3_API getProgramListCount() override;
        tresult KORVO_VST3_API getProgramListInfo(int32 listIndex, ProgramListInfo& info) override;
        tresult KORVO_VST3_API getProgramName(ProgramListID listId, int32 programIndex,
                                              String128 name) override;
        tresult KORVO_VST3_API getProgramInfo(ProgramListID listId, int32 programIndex, CString attributeId,
                                              String128 attributeValue) override;
        tresult KORVO_VST3_API hasProgramPitchNames(ProgramListID listId, int32 programIndex) override;
        tresult KORVO_VST3_API getProgramPitchName(ProgramListID listId, int32 programIndex, int16 midiPitch,
                                                   String128 name) override;
        UnitID KORVO_VST3_API getSelectedUnit() override;
        tresult KORVO_VST3_API selectUnit(UnitID unitId) override;
        tresult KORVO_VST3_API getUnitByBus(MediaType type, BusDirection dir, int32 busIndex, int32 channel,
                                            UnitID& unitId) override;
        tresult KORVO_VST3_API setUnitProgramData(int32 listOrUnitId, int32 programIndex,
                                                  IBStream* data) override;
        VST3Client& owner;
    };

    static bool isNaN(double v) noexcept { return v != v; }
    // NaN stays NaN.
    static double clamp01(double v) noexcept { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

    Vec<BusEntry>* busList(MediaType type, BusDirection dir) noexcept;
    // Preset index for a normalized program value: min(steps, truncate((steps + 1) * v)) with v
    // clamped to [0, 1]; -1 for NaN.
    std::int32_t programIndexFor(double value) const noexcept;
    // Selects the preset for a normalized program value; false when nothing was selected.
    bool applyProgramChange(double value) noexcept;
    void applyParameterChanges(IParameterChanges* changes) noexcept;

    // Faces first, in their published order.
    ProcessorFace processor_{*this};
    ComponentFace component_{*this};
    ControllerFace controller_{*this};
    Controller2Face controller2_{*this};
    UnitInfoFace unitInfo_{*this};

    HeapPtr<Client> client_;
    HeapPtr<HostProcessor> processing_;
    IComponentHandler* componentHandler_ = nullptr;  // one reference held
    HeapPtr<VST3HostCommand> hostCommand_;
    std::atomic<std::uint8_t> parameterValuesChanged_{0};  // set by process, delivered on the main thread
    std::int32_t presetStepCount_ = 0;
    float sampleRateHostView_;
    std::atomic<float> sampleRate_{44100.0f};
    std::atomic<std::int32_t> maxSamplesPerBlock_{-1};
    HostKind hostKind_ = HostKind::unknown;
    KorvoView* openView_ = nullptr;
    char hostName_[kMaxHostNameChars + 1] = {};
    double tempo_ = 120.0;
    std::int64_t timeInSamples_ = 0;
    bool hostIsPlaying_ = false;
    Vec<BusEntry> audioInputs_;
    Vec<BusEntry> audioOutputs_;
    Vec<BusEntry> eventInputs_;
    Vec<BusEntry> eventOutputs_;
    IHostApplication* hostApplication_ = nullptr;  // one reference held between initialize and terminate
};

}  // namespace korvo::vst3
