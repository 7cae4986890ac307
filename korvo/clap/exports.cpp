// The CLAP module's one export: the data symbol clap_entry (not a function), with C linkage so it
// keeps its plain name. This file is compiled into each CLAP module itself (not into a static
// library, whose unreferenced objects the linker would drop).
#include "korvo/clap/abi.h"
#include "korvo/clap/factory.h"

#if defined(_WIN32)
#include <windows.h>
#define KORVO_CLAP_EXPORT __declspec(dllexport)
#else
#define KORVO_CLAP_EXPORT __attribute__((visibility("default")))
#endif

namespace {

bool KORVO_CLAP_API init(const char* pluginPath) {
    return korvo::clap::entryInit(pluginPath);
}
void KORVO_CLAP_API deinit() {
    korvo::clap::entryDeinit();
}
const void* KORVO_CLAP_API getFactory(const char* factoryId) {
    return korvo::clap::entryGetFactory(factoryId);
}

}  // namespace

extern "C" {
KORVO_CLAP_EXPORT extern const korvo::clap::PluginEntry clap_entry;
const korvo::clap::PluginEntry clap_entry = {korvo::clap::kVersion, init, deinit, getFactory};
}

#if defined(_WIN32)
// Loading and unloading the library does nothing: the work waits for init.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#endif
