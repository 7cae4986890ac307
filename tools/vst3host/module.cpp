// Loading a VST3 module the way a DAW does: the real loader, the exported entry points, the
// factory.
#include <filesystem>

#include "tools/vst3host/host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vst3host {

namespace fs = std::filesystem;

std::string Module::binaryPath(const std::string& path) {
    std::error_code ec;
    fs::path p(path);
    if (!fs::is_directory(p, ec)) return path;
    fs::path folder = p;
    if (!folder.has_filename()) folder = folder.parent_path();  // trailing separator
    const std::string name = folder.filename().string();
#if defined(_WIN32)
    return (folder / "Contents" / "x86_64-win" / name).string();
#else
    return (folder / "Contents" / "x86_64-linux" / (folder.stem().string() + ".so")).string();
#endif
}

Module::~Module() {
    unload();
}

void* Module::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

bool Module::load(const std::string& path, std::string& error) {
    unload();
    const std::string binary = binaryPath(path);
#if defined(_WIN32)
    std::wstring wide(binary.begin(), binary.end());
    handle_ = LoadLibraryW(wide.c_str());
    if (handle_ == nullptr) {
        error = "cannot load " + binary + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    auto getFactory = reinterpret_cast<v::GetFactoryProc>(symbol("GetPluginFactory"));
    if (getFactory == nullptr) {
        error = "no GetPluginFactory in " + binary;
        unload();
        return false;
    }
    if (auto init = reinterpret_cast<v::InitModuleProc>(symbol("InitDll")); init != nullptr && !init()) {
        error = "InitDll failed";
        unload();
        return false;
    }
#else
    handle_ = dlopen(binary.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + binary + ": " + (why != nullptr ? why : "?");
        return false;
    }
    auto getFactory = reinterpret_cast<v::GetFactoryProc>(symbol("GetPluginFactory"));
    auto entry = reinterpret_cast<v::ModuleEntryProc>(symbol("ModuleEntry"));
    if (getFactory == nullptr || entry == nullptr || symbol("ModuleExit") == nullptr) {
        error = "GetPluginFactory, ModuleEntry or ModuleExit missing in " + binary;
        unload();
        return false;
    }
    if (!entry(handle_)) {
        error = "ModuleEntry failed";
        unload();
        return false;
    }
#endif
    factory_ = getFactory();
    if (factory_ == nullptr) {
        error = "GetPluginFactory returned null";
        unload();
        return false;
    }
    return true;
}

void Module::unload() {
    if (handle_ == nullptr) return;
    if (factory_ != nullptr) factory_->release();
    factory_ = nullptr;
#if defined(_WIN32)
    if (auto exit = reinterpret_cast<v::ExitModuleProc>(symbol("ExitDll"))) exit();
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    if (auto exit = reinterpret_cast<v::ExitModuleProc>(symbol("ModuleExit"))) exit();
    dlclose(handle_);
#endif
    handle_ = nullptr;
}

}  // namespace vst3host
