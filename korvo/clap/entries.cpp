// ClapPlugin's host entries: the Plugin structure's functions and the extension tables. Each
// finds the object (a call for a structure not made here fails, or does nothing), puts up the
// floating-point guard, checks the thread in debug builds and forwards.
#include <cstring>

#include "korvo/clap/plugin.h"
#include "korvo/core/fpcontrol.h"

namespace korvo::clap {

namespace {

using Rule = ClapPlugin::ThreadRule;

// The object behind `plugin` with the guard up and the thread checked, or null.
struct Entry {
    Entry(const Plugin* plugin, Rule rule, const char* function) noexcept : object(ClapPlugin::from(plugin)) {
        if (object != nullptr) object->checkThread(rule, function);
    }
    ClapPlugin* object;
    FPControl guard;
};

// ---- Plugin -----------------------------------------------------------------------------------------

bool KORVO_CLAP_API pluginInit(const Plugin* plugin) {
    Entry e(plugin, Rule::main, "init");
    return e.object != nullptr && e.object->init();
}
void KORVO_CLAP_API pluginDestroy(const Plugin* plugin) {
    Entry e(plugin, Rule::main, "destroy");
    if (e.object == nullptr) return;
    if (e.object->isActive()) e.object->deactivate();  // a host that destroys an active instance
    heapDelete(e.object);
}
bool KORVO_CLAP_API pluginActivate(const Plugin* plugin, double rate, std::uint32_t minFrames,
                                   std::uint32_t maxFrames) {
    Entry e(plugin, Rule::main, "activate");
    return e.object != nullptr && e.object->activate(rate, minFrames, maxFrames);
}
void KORVO_CLAP_API pluginDeactivate(const Plugin* plugin) {
    Entry e(plugin, Rule::main, "deactivate");
    if (e.object != nullptr) e.object->deactivate();
}
bool KORVO_CLAP_API pluginStartProcessing(const Plugin* plugin) {
    Entry e(plugin, Rule::audio, "start_processing");
    return e.object != nullptr && e.object->startProcessing();
}
void KORVO_CLAP_API pluginStopProcessing(const Plugin* plugin) {
    Entry e(plugin, Rule::audio, "stop_processing");
    if (e.object != nullptr) e.object->stopProcessing();
}
void KORVO_CLAP_API pluginReset(const Plugin* plugin) {
    Entry e(plugin, Rule::audio, "reset");
    if (e.object != nullptr) e.object->reset();
}
std::int32_t KORVO_CLAP_API pluginProcess(const Plugin* plugin, const Process* process) {
    Entry e(plugin, Rule::audio, "process");
    return e.object != nullptr ? e.object->process(process) : kProcessError;
}
const void* KORVO_CLAP_API pluginGetExtension(const Plugin* plugin, const char* id) {
    const ClapPlugin* object = ClapPlugin::from(plugin);
    return object != nullptr ? object->extension(id) : nullptr;
}
void KORVO_CLAP_API pluginOnMainThread(const Plugin* plugin) {
    Entry e(plugin, Rule::main, "on_main_thread");
    if (e.object != nullptr) e.object->onMainThread();
}

// ---- params -----------------------------------------------------------------------------------------

std::uint32_t KORVO_CLAP_API paramsCount(const Plugin* plugin) {
    Entry e(plugin, Rule::main, "params.count");
    return e.object != nullptr ? e.object->paramCount() : 0;
}
bool KORVO_CLAP_API paramsGetInfo(const Plugin* plugin, std::uint32_t index, ParamInfo* info) {
    Entry e(plugin, Rule::main, "params.get_info");
    return e.object != nullptr && e.object->paramInfo(index, info);
}
bool KORVO_CLAP_API paramsGetValue(const Plugin* plugin, ClapId id, double* value) {
    Entry e(plugin, Rule::main, "params.get_value");
    return e.object != nullptr && e.object->paramValue(id, value);
}
bool KORVO_CLAP_API paramsValueToText(const Plugin* plugin, ClapId id, double value, char* out,
                                      std::uint32_t capacity) {
    Entry e(plugin, Rule::main, "params.value_to_text");
    return e.object != nullptr && e.object->valueToText(id, value, out, capacity);
}
bool KORVO_CLAP_API paramsTextToValue(const Plugin* plugin, ClapId id, const char* text, double* value) {
    Entry e(plugin, Rule::main, "params.text_to_value");
    return e.object != nullptr && e.object->textToValue(id, text, value);
}
void KORVO_CLAP_API paramsFlush(const Plugin* plugin, const InputEvents* in, const OutputEvents* out) {
    Entry e(plugin, Rule::audioWhileActive, "params.flush");
    if (e.object != nullptr) e.object->flush(in, out);
}
constexpr PluginParams kParams = {paramsCount,       paramsGetInfo,     paramsGetValue,
                                  paramsValueToText, paramsTextToValue, paramsFlush};

// ---- state ------------------------------------------------------------------------------------------

bool KORVO_CLAP_API stateSave(const Plugin* plugin, const OStream* stream) {
    Entry e(plugin, Rule::main, "state.save");
    return e.object != nullptr && e.object->saveState(stream);
}
bool KORVO_CLAP_API stateLoad(const Plugin* plugin, const IStream* stream) {
    Entry e(plugin, Rule::main, "state.load");
    return e.object != nullptr && e.object->loadState(stream);
}
constexpr PluginState kState = {stateSave, stateLoad};

// ---- latency and tail -------------------------------------------------------------------------------

std::uint32_t KORVO_CLAP_API latencyGet(const Plugin* plugin) {
    Entry e(plugin, Rule::main, "latency.get");
    return e.object != nullptr ? e.object->latency() : 0;
}
constexpr PluginLatency kLatency = {latencyGet};

std::uint32_t KORVO_CLAP_API tailGet(const Plugin* plugin) {
    ClapPlugin* object = ClapPlugin::from(plugin);  // main or audio thread
    if (object == nullptr) return 0;
    FPControl guard;
    return object->tail();
}
constexpr PluginTail kTail = {tailGet};

// ---- audio-ports and its configurations -------------------------------------------------------------

std::uint32_t KORVO_CLAP_API portsCount(const Plugin* plugin, bool isInput) {
    Entry e(plugin, Rule::main, "audio_ports.count");
    return e.object != nullptr ? e.object->portCount(isInput) : 0;
}
bool KORVO_CLAP_API portsGet(const Plugin* plugin, std::uint32_t index, bool isInput, AudioPortInfo* info) {
    Entry e(plugin, Rule::main, "audio_ports.get");
    return e.object != nullptr && e.object->portInfo(index, isInput, info);
}
constexpr PluginAudioPorts kAudioPorts = {portsCount, portsGet};

std::uint32_t KORVO_CLAP_API configsCount(const Plugin* plugin) {
    Entry e(plugin, Rule::main, "audio_ports_config.count");
    return e.object != nullptr ? e.object->configCount() : 0;
}
bool KORVO_CLAP_API configsGet(const Plugin* plugin, std::uint32_t index, AudioPortsConfig* config) {
    Entry e(plugin, Rule::main, "audio_ports_config.get");
    return e.object != nullptr && e.object->configInfo(index, config);
}
bool KORVO_CLAP_API configsSelect(const Plugin* plugin, ClapId id) {
    Entry e(plugin, Rule::main, "audio_ports_config.select");
    return e.object != nullptr && e.object->selectConfig(id);
}
constexpr PluginAudioPortsConfig kAudioPortsConfig = {configsCount, configsGet, configsSelect};

ClapId KORVO_CLAP_API configInfoCurrent(const Plugin* plugin) {
    Entry e(plugin, Rule::main, "audio_ports_config_info.current_config");
    return e.object != nullptr ? e.object->currentConfig() : kInvalidId;
}
bool KORVO_CLAP_API configInfoGet(const Plugin* plugin, ClapId config, std::uint32_t index, bool isInput,
                                  AudioPortInfo* info) {
    Entry e(plugin, Rule::main, "audio_ports_config_info.get");
    return e.object != nullptr && e.object->configPortInfo(config, index, isInput, info);
}
constexpr PluginAudioPortsConfigInfo kAudioPortsConfigInfo = {configInfoCurrent, configInfoGet};

// ---- gui, timer-support, posix-fd-support -----------------------------------------------------------

// The editor behind `plugin`, with the guard up and the thread checked, or null.
struct EditorEntry {
    EditorEntry(const Plugin* plugin, const char* function) noexcept : entry(plugin, Rule::main, function) {
        if (entry.object != nullptr) editor = entry.object->editor();
    }
    Entry entry;
    ClapEditor* editor = nullptr;
};

bool KORVO_CLAP_API guiIsApiSupported(const Plugin* plugin, const char* api, bool isFloating) {
    EditorEntry e(plugin, "gui.is_api_supported");
    return e.editor != nullptr && e.editor->isApiSupported(api, isFloating);
}
bool KORVO_CLAP_API guiGetPreferredApi(const Plugin* plugin, const char** api, bool* isFloating) {
    EditorEntry e(plugin, "gui.get_preferred_api");
    if (e.editor == nullptr || api == nullptr || isFloating == nullptr) return false;
    *api = ClapEditor::api();
    *isFloating = false;
    return true;
}
bool KORVO_CLAP_API guiCreate(const Plugin* plugin, const char* api, bool isFloating) {
    EditorEntry e(plugin, "gui.create");
    return e.editor != nullptr && e.editor->create(api, isFloating);
}
void KORVO_CLAP_API guiDestroy(const Plugin* plugin) {
    EditorEntry e(plugin, "gui.destroy");
    if (e.editor != nullptr) e.editor->destroy();
}
bool KORVO_CLAP_API guiSetScale(const Plugin* plugin, double scale) {
    EditorEntry e(plugin, "gui.set_scale");
    return e.editor != nullptr && e.editor->setScale(scale);
}
bool KORVO_CLAP_API guiGetSize(const Plugin* plugin, std::uint32_t* width, std::uint32_t* height) {
    EditorEntry e(plugin, "gui.get_size");
    return e.editor != nullptr && e.editor->getSize(width, height);
}
bool KORVO_CLAP_API guiCanResize(const Plugin* plugin) {
    EditorEntry e(plugin, "gui.can_resize");
    return e.editor != nullptr && e.editor->canResize();
}
bool KORVO_CLAP_API guiGetResizeHints(const Plugin* plugin, GuiResizeHints* hints) {
    EditorEntry e(plugin, "gui.get_resize_hints");
    return e.editor != nullptr && e.editor->getResizeHints(hints);
}
bool KORVO_CLAP_API guiAdjustSize(const Plugin* plugin, std::uint32_t* width, std::uint32_t* height) {
    EditorEntry e(plugin, "gui.adjust_size");
    return e.editor != nullptr && e.editor->adjustSize(width, height);
}
bool KORVO_CLAP_API guiSetSize(const Plugin* plugin, std::uint32_t width, std::uint32_t height) {
    EditorEntry e(plugin, "gui.set_size");
    return e.editor != nullptr && e.editor->setSize(width, height);
}
bool KORVO_CLAP_API guiSetParent(const Plugin* plugin, const Window* window) {
    EditorEntry e(plugin, "gui.set_parent");
    return e.editor != nullptr && e.editor->setParent(window, e.entry.object->hostKind());
}
// Floating windows are not offered: there is nothing to stay above and no title to show.
bool KORVO_CLAP_API guiSetTransient(const Plugin* plugin, const Window*) {
    EditorEntry e(plugin, "gui.set_transient");
    return false;
}
void KORVO_CLAP_API guiSuggestTitle(const Plugin* plugin, const char*) {
    EditorEntry e(plugin, "gui.suggest_title");
}
bool KORVO_CLAP_API guiShow(const Plugin* plugin) {
    EditorEntry e(plugin, "gui.show");
    return e.editor != nullptr && e.editor->show();
}
bool KORVO_CLAP_API guiHide(const Plugin* plugin) {
    EditorEntry e(plugin, "gui.hide");
    return e.editor != nullptr && e.editor->hide();
}
constexpr PluginGui kGui = {guiIsApiSupported, guiGetPreferredApi, guiCreate,       guiDestroy,
                            guiSetScale,       guiGetSize,         guiCanResize,    guiGetResizeHints,
                            guiAdjustSize,     guiSetSize,         guiSetParent,    guiSetTransient,
                            guiSuggestTitle,   guiShow,            guiHide};

#if !defined(_WIN32)
void KORVO_CLAP_API timerOnTimer(const Plugin* plugin, ClapId timerId) {
    EditorEntry e(plugin, "timer_support.on_timer");
    if (e.editor != nullptr) e.editor->onTimer(timerId);
}
constexpr PluginTimerSupport kTimerSupport = {timerOnTimer};

void KORVO_CLAP_API fdOnFd(const Plugin* plugin, int fd, std::uint32_t flags) {
    EditorEntry e(plugin, "posix_fd_support.on_fd");
    if (e.editor != nullptr) e.editor->onFd(fd, flags);
}
constexpr PluginPosixFdSupport kPosixFdSupport = {fdOnFd};
#endif

}  // namespace

void fillPluginStruct(Plugin& plugin, const PluginDescriptor* descriptor, ClapPlugin* owner) noexcept {
    plugin.desc = descriptor;
    plugin.pluginData = owner;
    plugin.init = pluginInit;
    plugin.destroy = pluginDestroy;
    plugin.activate = pluginActivate;
    plugin.deactivate = pluginDeactivate;
    plugin.startProcessing = pluginStartProcessing;
    plugin.stopProcessing = pluginStopProcessing;
    plugin.reset = pluginReset;
    plugin.process = pluginProcess;
    plugin.getExtension = pluginGetExtension;
    plugin.onMainThread = pluginOnMainThread;
}

const void* ClapPlugin::extension(const char* id) const noexcept {
    if (id == nullptr) return nullptr;
    if (std::strcmp(id, kExtParams) == 0) return &kParams;
    if (std::strcmp(id, kExtState) == 0) return &kState;
    if (std::strcmp(id, kExtLatency) == 0) return &kLatency;
    if (std::strcmp(id, kExtTail) == 0) return &kTail;
    if (std::strcmp(id, kExtAudioPorts) == 0) return &kAudioPorts;
    if (std::strcmp(id, kExtAudioPortsConfig) == 0) return &kAudioPortsConfig;
    if (std::strcmp(id, kExtAudioPortsConfigInfo) == 0 ||
        std::strcmp(id, kExtAudioPortsConfigInfoCompat) == 0)
        return &kAudioPortsConfigInfo;
    // The editor's extensions, for a client that has one (answered before init too: hosts may
    // ask early, and the calls fail until init has made the editor). The timer and descriptor
    // callbacks serve the X11 window, which runs on the host's loop: Linux only.
    if (client_->description().hasGUI) {
        if (std::strcmp(id, kExtGui) == 0) return &kGui;
#if !defined(_WIN32)
        if (std::strcmp(id, kExtTimerSupport) == 0) return &kTimerSupport;
        if (std::strcmp(id, kExtPosixFdSupport) == 0) return &kPosixFdSupport;
#endif
    }
    return nullptr;
}

}  // namespace korvo::clap
