#pragma once
// The VST3 interfaces: pure virtual methods in their exact slot order, no data, no virtual
// destructor (a destructor would add vtable slots that differ between compilers). See abi.h.
// Thread contract: declarations only.

#include "korvo/vst3/types.h"

namespace korvo::vst3 {

// ---- Interfaces -----------------------------------------------------------------------------------
// Slot numbers in the comments; FUnknown holds slots 0-2 of every interface.

class FUnknown {
public:
    virtual tresult KORVO_VST3_API queryInterface(const TUID iid, void** obj) = 0;  // 0
    virtual uint32 KORVO_VST3_API addRef() = 0;                                     // 1
    virtual uint32 KORVO_VST3_API release() = 0;                                    // 2
};

class IPluginBase : public FUnknown {
public:
    virtual tresult KORVO_VST3_API initialize(FUnknown* context) = 0;  // 3
    virtual tresult KORVO_VST3_API terminate() = 0;                    // 4
};

class IPluginFactory : public FUnknown {
public:
    virtual tresult KORVO_VST3_API getFactoryInfo(PFactoryInfo* info) = 0;                        // 3
    virtual int32 KORVO_VST3_API countClasses() = 0;                                              // 4
    virtual tresult KORVO_VST3_API getClassInfo(int32 index, PClassInfo* info) = 0;               // 5
    virtual tresult KORVO_VST3_API createInstance(FIDString cid, FIDString iid, void** obj) = 0;  // 6
};

class IPluginFactory2 : public IPluginFactory {
public:
    virtual tresult KORVO_VST3_API getClassInfo2(int32 index, PClassInfo2* info) = 0;  // 7
};

class IPluginFactory3 : public IPluginFactory2 {
public:
    virtual tresult KORVO_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) = 0;  // 8
    virtual tresult KORVO_VST3_API setHostContext(FUnknown* context) = 0;                    // 9
};

class IBStream : public FUnknown {
public:
    virtual tresult KORVO_VST3_API read(void* buffer, int32 numBytes, int32* numBytesRead) = 0;      // 3
    virtual tresult KORVO_VST3_API write(void* buffer, int32 numBytes, int32* numBytesWritten) = 0;  // 4
    virtual tresult KORVO_VST3_API seek(int64 pos, int32 mode, int64* result) = 0;                   // 5
    virtual tresult KORVO_VST3_API tell(int64* pos) = 0;                                             // 6
};

class IComponent : public IPluginBase {
public:
    virtual tresult KORVO_VST3_API getControllerClassId(TUID classId) = 0;           // 5
    virtual tresult KORVO_VST3_API setIoMode(IoMode mode) = 0;                       // 6
    virtual int32 KORVO_VST3_API getBusCount(MediaType type, BusDirection dir) = 0;  // 7
    virtual tresult KORVO_VST3_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                              BusInfo& bus) = 0;                                   // 8
    virtual tresult KORVO_VST3_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) = 0;  // 9
    virtual tresult KORVO_VST3_API activateBus(MediaType type, BusDirection dir, int32 index,
                                               TBool state) = 0;   // 10
    virtual tresult KORVO_VST3_API setActive(TBool state) = 0;     // 11
    virtual tresult KORVO_VST3_API setState(IBStream* state) = 0;  // 12
    virtual tresult KORVO_VST3_API getState(IBStream* state) = 0;  // 13
};

class IAudioProcessor : public FUnknown {
public:
    virtual tresult KORVO_VST3_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                      SpeakerArrangement* outputs, int32 numOuts) = 0;  // 3
    virtual tresult KORVO_VST3_API getBusArrangement(BusDirection dir, int32 index,
                                                     SpeakerArrangement& arr) = 0;      // 4
    virtual tresult KORVO_VST3_API canProcessSampleSize(int32 symbolicSampleSize) = 0;  // 5
    virtual uint32 KORVO_VST3_API getLatencySamples() = 0;                              // 6
    virtual tresult KORVO_VST3_API setupProcessing(ProcessSetup& setup) = 0;            // 7
    virtual tresult KORVO_VST3_API setProcessing(TBool state) = 0;                      // 8
    virtual tresult KORVO_VST3_API process(ProcessData& data) = 0;                      // 9
    virtual uint32 KORVO_VST3_API getTailSamples() = 0;                                 // 10
};

class IPlugView;
class IComponentHandler;

class IEditController : public IPluginBase {
public:
    virtual tresult KORVO_VST3_API setComponentState(IBStream* state) = 0;                       // 5
    virtual tresult KORVO_VST3_API setState(IBStream* state) = 0;                                // 6
    virtual tresult KORVO_VST3_API getState(IBStream* state) = 0;                                // 7
    virtual int32 KORVO_VST3_API getParameterCount() = 0;                                        // 8
    virtual tresult KORVO_VST3_API getParameterInfo(int32 paramIndex, ParameterInfo& info) = 0;  // 9
    virtual tresult KORVO_VST3_API getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                         String128 string) = 0;  // 10
    virtual tresult KORVO_VST3_API getParamValueByString(ParamID id, TChar* string,
                                                         ParamValue& valueNormalized) = 0;  // 11
    virtual ParamValue KORVO_VST3_API normalizedParamToPlain(ParamID id,
                                                             ParamValue valueNormalized) = 0;         // 12
    virtual ParamValue KORVO_VST3_API plainParamToNormalized(ParamID id, ParamValue plainValue) = 0;  // 13
    virtual ParamValue KORVO_VST3_API getParamNormalized(ParamID id) = 0;                             // 14
    virtual tresult KORVO_VST3_API setParamNormalized(ParamID id, ParamValue value) = 0;              // 15
    virtual tresult KORVO_VST3_API setComponentHandler(IComponentHandler* handler) = 0;               // 16
    virtual IPlugView* KORVO_VST3_API createView(FIDString name) = 0;                                 // 17
};

class IEditController2 : public FUnknown {
public:
    virtual tresult KORVO_VST3_API setKnobMode(KnobMode mode) = 0;     // 3
    virtual tresult KORVO_VST3_API openHelp(TBool onlyCheck) = 0;      // 4
    virtual tresult KORVO_VST3_API openAboutBox(TBool onlyCheck) = 0;  // 5
};

class IUnitInfo : public FUnknown {
public:
    virtual int32 KORVO_VST3_API getUnitCount() = 0;                                                // 3
    virtual tresult KORVO_VST3_API getUnitInfo(int32 unitIndex, UnitInfo& info) = 0;                // 4
    virtual int32 KORVO_VST3_API getProgramListCount() = 0;                                         // 5
    virtual tresult KORVO_VST3_API getProgramListInfo(int32 listIndex, ProgramListInfo& info) = 0;  // 6
    virtual tresult KORVO_VST3_API getProgramName(ProgramListID listId, int32 programIndex,
                                                  String128 name) = 0;  // 7
    virtual tresult KORVO_VST3_API getProgramInfo(ProgramListID listId, int32 programIndex,
                                                  CString attributeId,
                                                  String128 attributeValue) = 0;                        // 8
    virtual tresult KORVO_VST3_API hasProgramPitchNames(ProgramListID listId, int32 programIndex) = 0;  // 9
    virtual tresult KORVO_VST3_API getProgramPitchName(ProgramListID listId, int32 programIndex,
                                                       int16 midiPitch,
                                                       String128 name) = 0;  // 10
    virtual UnitID KORVO_VST3_API getSelectedUnit() = 0;                     // 11
    virtual tresult KORVO_VST3_API selectUnit(UnitID unitId) = 0;            // 12
    virtual tresult KORVO_VST3_API getUnitByBus(MediaType type, BusDirection dir, int32 busIndex,
                                                int32 channel,
                                                UnitID& unitId) = 0;  // 13
    virtual tresult KORVO_VST3_API setUnitProgramData(int32 listOrUnitId, int32 programIndex,
                                                      IBStream* data) = 0;  // 14
};

class IComponentHandler : public FUnknown {
public:
    virtual tresult KORVO_VST3_API beginEdit(ParamID id) = 0;                                // 3
    virtual tresult KORVO_VST3_API performEdit(ParamID id, ParamValue valueNormalized) = 0;  // 4
    virtual tresult KORVO_VST3_API endEdit(ParamID id) = 0;                                  // 5
    virtual tresult KORVO_VST3_API restartComponent(int32 flags) = 0;                        // 6
};

class IComponentHandler2 : public FUnknown {
public:
    virtual tresult KORVO_VST3_API setDirty(TBool state) = 0;                 // 3
    virtual tresult KORVO_VST3_API requestOpenEditor(FIDString name) = 0;     // 4
    virtual tresult KORVO_VST3_API startGroupEdit() = 0;                      // 5
    virtual tresult KORVO_VST3_API finishGroupEdit() = 0;                     // 6
};

// One item of a host's context menu (264 bytes).
struct IContextMenuItem {
    enum Flags : int32 { kIsSeparator = 1, kIsDisabled = 2, kIsChecked = 4 };
    String128 name;  // UTF-16, NUL-terminated
    int32 tag;
    int32 flags;
};
static_assert(sizeof(IContextMenuItem) == 264);

class IContextMenuTarget : public FUnknown {
public:
    virtual tresult KORVO_VST3_API executeMenuItem(int32 tag) = 0;  // 3
};

class IContextMenu : public FUnknown {
public:
    virtual int32 KORVO_VST3_API getItemCount() = 0;  // 3
    virtual tresult KORVO_VST3_API getItem(int32 index, IContextMenuItem& item,
                                           IContextMenuTarget** target) = 0;                             // 4
    virtual tresult KORVO_VST3_API addItem(const IContextMenuItem& item, IContextMenuTarget* target) = 0;     // 5
    virtual tresult KORVO_VST3_API removeItem(const IContextMenuItem& item, IContextMenuTarget* target) = 0;  // 6
    virtual tresult KORVO_VST3_API popup(int32 x, int32 y) = 0;                                              // 7
};

class IComponentHandler3 : public FUnknown {
public:
    // The caller releases the menu.
    virtual IContextMenu* KORVO_VST3_API createContextMenu(IPlugView* view, const ParamID* paramID) = 0;  // 3
};

class IHostApplication : public FUnknown {
public:
    virtual tresult KORVO_VST3_API getName(String128 name) = 0;                         // 3
    virtual tresult KORVO_VST3_API createInstance(TUID cid, TUID iid, void** obj) = 0;  // 4
};

class IParamValueQueue : public FUnknown {
public:
    virtual ParamID KORVO_VST3_API getParameterId() = 0;                                               // 3
    virtual int32 KORVO_VST3_API getPointCount() = 0;                                                  // 4
    virtual tresult KORVO_VST3_API getPoint(int32 index, int32& sampleOffset, ParamValue& value) = 0;  // 5
    virtual tresult KORVO_VST3_API addPoint(int32 sampleOffset, ParamValue value, int32& index) = 0;   // 6
};

class IParameterChanges : public FUnknown {
public:
    virtual int32 KORVO_VST3_API getParameterCount() = 0;                                            // 3
    virtual IParamValueQueue* KORVO_VST3_API getParameterData(int32 index) = 0;                      // 4
    virtual IParamValueQueue* KORVO_VST3_API addParameterData(const ParamID& id, int32& index) = 0;  // 5
};

class IEventList : public FUnknown {
public:
    virtual int32 KORVO_VST3_API getEventCount() = 0;                    // 3
    virtual tresult KORVO_VST3_API getEvent(int32 index, Event& e) = 0;  // 4
    virtual tresult KORVO_VST3_API addEvent(Event& e) = 0;               // 5
};

class IPlugFrame : public FUnknown {
public:
    virtual tresult KORVO_VST3_API resizeView(IPlugView* view, ViewRect* newSize) = 0;  // 3
};

class IPlugView : public FUnknown {
public:
    virtual tresult KORVO_VST3_API isPlatformTypeSupported(FIDString type) = 0;                // 3
    virtual tresult KORVO_VST3_API attached(void* parent, FIDString type) = 0;                 // 4
    virtual tresult KORVO_VST3_API removed() = 0;                                              // 5
    virtual tresult KORVO_VST3_API onWheel(float distance) = 0;                                // 6
    virtual tresult KORVO_VST3_API onKeyDown(char16 key, int16 keyCode, int16 modifiers) = 0;  // 7
    virtual tresult KORVO_VST3_API onKeyUp(char16 key, int16 keyCode, int16 modifiers) = 0;    // 8
    virtual tresult KORVO_VST3_API getSize(ViewRect* size) = 0;                                // 9
    virtual tresult KORVO_VST3_API onSize(ViewRect* newSize) = 0;                              // 10
    virtual tresult KORVO_VST3_API onFocus(TBool state) = 0;                                   // 11
    virtual tresult KORVO_VST3_API setFrame(IPlugFrame* frame) = 0;                            // 12
    virtual tresult KORVO_VST3_API canResize() = 0;                                            // 13
    virtual tresult KORVO_VST3_API checkSizeConstraint(ViewRect* rect) = 0;                    // 14
};

class IPlugViewContentScaleSupport : public FUnknown {
public:
    virtual tresult KORVO_VST3_API setContentScaleFactor(float factor) = 0;  // 3
};

class IParameterFinder : public FUnknown {
public:
    virtual tresult KORVO_VST3_API findParameter(int32 xPos, int32 yPos, ParamID& resultTag) = 0;  // 3
};

// Linux only: the host's run loop, through which a plug-in's editor gets its timer and the
// readiness of its file descriptors on the host's UI thread.
class IEventHandler : public FUnknown {
public:
    virtual void KORVO_VST3_API onFDIsSet(FileDescriptor fd) = 0;  // 3
};

class ITimerHandler : public FUnknown {
public:
    virtual void KORVO_VST3_API onTimer() = 0;  // 3
};

class IRunLoop : public FUnknown {
public:
    virtual tresult KORVO_VST3_API registerEventHandler(IEventHandler* handler, FileDescriptor fd) = 0;  // 3
    virtual tresult KORVO_VST3_API unregisterEventHandler(IEventHandler* handler) = 0;                   // 4
    virtual tresult KORVO_VST3_API registerTimer(ITimerHandler* handler,
                                                 TimerInterval milliseconds) = 0;  // 5
    virtual tresult KORVO_VST3_API unregisterTimer(ITimerHandler* handler) = 0;    // 6
};

// Signatures of the module's exported functions.
using GetFactoryProc = IPluginFactory*(KORVO_VST3_API*)();
using InitModuleProc = bool (*)();
using ExitModuleProc = bool (*)();
using ModuleEntryProc = bool (*)(void*);

}  // namespace korvo::vst3
