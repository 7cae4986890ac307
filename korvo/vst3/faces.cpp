// The interface entries of VST3Client: each puts up the floating-point guard and forwards to the
// object, turning the interface's reference parameters back into the pointers hosts really pass.
#include "korvo/core/fpcontrol.h"
#include "korvo/vst3/client.h"

namespace korvo::vst3 {

namespace {

// The address behind a reference parameter. Hosts pass references as plain pointers, which may be
// null; the empty asm keeps the compiler from assuming otherwise.
template <class T>
T* hostPointer(T& ref) noexcept {
    T* p = &ref;
    __asm__("" : "+r"(p));
    return p;
}

}  // namespace

#define KORVO_FACE_UNKNOWN(Face)                                           \
    tresult VST3Client::Face::queryInterface(const TUID iid, void** obj) { \
        return owner.queryInterface(iid, obj);                             \
    }                                                                      \
    uint32 VST3Client::Face::addRef() {                                    \
        return owner.addRefCount();                                        \
    }                                                                      \
    uint32 VST3Client::Face::release() {                                   \
        FPControl guard;                                                   \
        return owner.releaseRefCount();                                    \
    }

KORVO_FACE_UNKNOWN(ProcessorFace)
KORVO_FACE_UNKNOWN(ComponentFace)
KORVO_FACE_UNKNOWN(ControllerFace)
KORVO_FACE_UNKNOWN(Controller2Face)
KORVO_FACE_UNKNOWN(UnitInfoFace)
#undef KORVO_FACE_UNKNOWN

tresult VST3Client::ProcessorFace::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                      SpeakerArrangement* outputs, int32 numOuts) {
    FPControl guard;
    return owner.setBusArrangements(inputs, numIns, outputs, numOuts);
}
tresult VST3Client::ProcessorFace::getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) {
    FPControl guard;
    return owner.getBusArrangement(dir, index, hostPointer(arr));
}
tresult VST3Client::ProcessorFace::canProcessSampleSize(int32 size) {
    FPControl guard;
    return size == kSample32 ? kResultOk : kResultFalse;
}
uint32 VST3Client::ProcessorFace::getLatencySamples() {
    FPControl guard;
    return owner.getLatencySamples();
}
tresult VST3Client::ProcessorFace::setupProcessing(ProcessSetup& setup) {
    FPControl guard;
    return owner.setupProcessing(hostPointer(setup));
}
tresult VST3Client::ProcessorFace::setProcessing(TBool state) {
    FPControl guard;
    return owner.setProcessing(state);
}
tresult VST3Client::ProcessorFace::process(ProcessData& data) {
    FPControl guard;
    return owner.process(hostPointer(data));
}
uint32 VST3Client::ProcessorFace::getTailSamples() {
    FPControl guard;
    return owner.getTailSamples();
}

tresult VST3Client::ComponentFace::initialize(FUnknown* context) {
    FPControl guard;
    return owner.initialize(context);
}
tresult VST3Client::ComponentFace::terminate() {
    FPControl guard;
    return owner.terminate();
}
tresult VST3Client::ComponentFace::getControllerClassId(TUID) {
    FPControl guard;
    return kNotImplemented;
}
tresult VST3Client::ComponentFace::setIoMode(IoMode) {
    FPControl guard;
    return kNotImplemented;
}
int32 VST3Client::ComponentFace::getBusCount(MediaType type, BusDirection dir) {
    FPControl guard;
    return owner.getBusCount(type, dir);
}
tresult VST3Client::ComponentFace::getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) {
    FPControl guard;
    return owner.getBusInfo(type, dir, index, hostPointer(bus));
}
tresult VST3Client::ComponentFace::getRoutingInfo(RoutingInfo&, RoutingInfo&) {
    FPControl guard;
    return kNotImplemented;
}
tresult VST3Client::ComponentFace::activateBus(MediaType type, BusDirection dir, int32 index, TBool state) {
    FPControl guard;
    return owner.activateBus(type, dir, index, state);
}
tresult VST3Client::ComponentFace::setActive(TBool state) {
    FPControl guard;
    if (state) owner.prepareProcessing();
    return kResultOk;
}
tresult VST3Client::ComponentFace::setState(IBStream* state) {
    FPControl guard;
    return owner.loadComponentState(state);
}
tresult VST3Client::ComponentFace::getState(IBStream* state) {
    FPControl guard;
    owner.deliverPendingNotifications();
    return owner.saveComponentState(state);
}

tresult VST3Client::ControllerFace::initialize(FUnknown* context) {
    FPControl guard;
    return owner.initialize(context);
}
tresult VST3Client::ControllerFace::terminate() {
    FPControl guard;
    return owner.terminate();
}
// The component's state holds every parameter: the controller has nothing to take from it.
tresult VST3Client::ControllerFace::setComponentState(IBStream*) {
    FPControl guard;
    return kNotImplemented;
}
// The controller's own state is the editor's (view.cpp).
tresult VST3Client::ControllerFace::setState(IBStream* state) {
    FPControl guard;
    return owner.loadEditorState(state);
}
tresult VST3Client::ControllerFace::getState(IBStream* state) {
    FPControl guard;
    return owner.saveEditorState(state);
}
int32 VST3Client::ControllerFace::getParameterCount() {
    FPControl guard;
    return owner.getParameterCount();
}
tresult VST3Client::ControllerFace::getParameterInfo(int32 index, ParameterInfo& info) {
    FPControl guard;
    return owner.getParameterInfo(index, hostPointer(info));
}
tresult VST3Client::ControllerFace::getParamStringByValue(ParamID id, ParamValue value, String128 string) {
    FPControl guard;
    return owner.getParamStringByValue(id, value, string);
}
tresult VST3Client::ControllerFace::getParamValueByString(ParamID id, TChar* string, ParamValue& value) {
    FPControl guard;
    return owner.getParamValueByString(id, string, hostPointer(value));
}
ParamValue VST3Client::ControllerFace::normalizedParamToPlain(ParamID id, ParamValue value) {
    FPControl guard;
    return owner.normalizedParamToPlain(id, value);
}
ParamValue VST3Client::ControllerFace::plainParamToNormalized(ParamID id, ParamValue plain) {
    FPControl guard;
    return owner.plainParamToNormalized(id, plain);
}
ParamValue VST3Client::ControllerFace::getParamNormalized(ParamID id) {
    FPControl guard;
    owner.deliverPendingNotifications();
    return owner.getParamNormalized(id);
}
tresult VST3Client::ControllerFace::setParamNormalized(ParamID id, ParamValue value) {
    FPControl guard;
    owner.deliverPendingNotifications();
    return owner.setParamNormalized(id, value);
}
tresult VST3Client::ControllerFace::setComponentHandler(IComponentHandler* handler) {
    FPControl guard;
    return owner.setComponentHandler(handler);
}
IPlugView* VST3Client::ControllerFace::createView(FIDString name) {
    FPControl guard;
    return owner.createView(name);
}

tresult VST3Client::Controller2Face::setKnobMode(KnobMode mode) {
    FPControl guard;
    return mode == kLinearMode ? kResultOk : kResultFalse;
}
tresult VST3Client::Controller2Face::openHelp(TBool) {
    FPControl guard;
    return kResultFalse;
}
tresult VST3Client::Controller2Face::openAboutBox(TBool) {
    FPControl guard;
    return kResultFalse;
}

int32 VST3Client::UnitInfoFace::getUnitCount() {
    FPControl guard;
    return 1;
}
tresult VST3Client::UnitInfoFace::getUnitInfo(int32 index, UnitInfo& info) {
    FPControl guard;
    return owner.getUnitInfo(index, hostPointer(info));
}
int32 VST3Client::UnitInfoFace::getProgramListCount() {
    FPControl guard;
    return 1;
}
tresult VST3Client::UnitInfoFace::getProgramListInfo(int32 index, ProgramListInfo& info) {
    FPControl guard;
    return owner.getProgramListInfo(index, hostPointer(info));
}
tresult VST3Client::UnitInfoFace::getProgramName(ProgramListID listId, int32 index, String128 name) {
    FPControl guard;
    return owner.getProgramName(listId, index, name);
}
tresult VST3Client::UnitInfoFace::getProgramInfo(ProgramListID, int32, CString, String128) {
    FPControl guard;
    return kNotImplemented;
}
tresult VST3Client::UnitInfoFace::hasProgramPitchNames(ProgramListID, int32) {
    FPControl guard;
    return kResultFalse;
}
tresult VST3Client::UnitInfoFace::getProgramPitchName(ProgramListID, int32, int16, String128) {
    FPControl guard;
    return kResultFalse;
}
UnitID VST3Client::UnitInfoFace::getSelectedUnit() {
    FPControl guard;
    return kRootUnitId;
}
tresult VST3Client::UnitInfoFace::selectUnit(UnitID id) {
    FPControl guard;
    return id == kRootUnitId ? kResultOk : kResultFalse;
}
tresult VST3Client::UnitInfoFace::getUnitByBus(MediaType, BusDirection, int32, int32, UnitID& unitId) {
    FPControl guard;
    UnitID* out = hostPointer(unitId);
    if (out == nullptr) return kInvalidArgument;
    *out = kRootUnitId;
    return kResultOk;
}
tresult VST3Client::UnitInfoFace::setUnitProgramData(int32, int32, IBStream*) {
    FPControl guard;
    return kNotImplemented;
}

}  // namespace korvo::vst3
