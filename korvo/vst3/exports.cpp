// The module's exported entry points. This file is compiled into each plug-in module itself (not
// into a static library, whose unreferenced objects the linker would drop).
//
// Windows exports GetPluginFactory, InitDll, ExitDll, bundleEntry and bundleExit; Linux also
// exports ModuleEntry and ModuleExit, without which Linux hosts refuse the module. Everything but
// GetPluginFactory does nothing and reports success: all set-up happens lazily in
// GetPluginFactory.

#include "korvo/vst3/abi.h"
#include "korvo/vst3/ipluginbase.h"

#if defined(_WIN32)
#include <windows.h>
#define KORVO_VST3_EXPORT extern "C" __declspec(dllexport)
#else
#define KORVO_VST3_EXPORT extern "C" __attribute__((visibility("default")))
#endif

KORVO_VST3_EXPORT korvo::vst3::IPluginFactory* KORVO_VST3_API GetPluginFactory() {
    return korvo::vst3::getPluginFactory();
}

KORVO_VST3_EXPORT bool InitDll() {
    return true;
}
KORVO_VST3_EXPORT bool ExitDll() {
    return true;
}
KORVO_VST3_EXPORT bool bundleEntry(void*) {
    return true;
}
KORVO_VST3_EXPORT bool bundleExit() {
    return true;
}

#if defined(_WIN32)
// Loading and unloading the library does nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#else
KORVO_VST3_EXPORT bool ModuleEntry(void*) {
    return true;
}
KORVO_VST3_EXPORT bool ModuleExit() {
    return true;
}
#endif
