// One plug-in instance with its faces, set up and driven the way hosts do it.
#include "tools/vst3host/host.h"

namespace vst3host {

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

}  // namespace vst3host
