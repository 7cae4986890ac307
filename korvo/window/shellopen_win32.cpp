// The system URL launcher on Windows: the shell's "open" verb.
#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include <cstdint>

#include "korvo/window/shellopen.h"

namespace korvo {

bool systemURLLauncher(const char* url) noexcept {
    // ShellExecuteA returns a value above 32 on success (an HINSTANCE kept for compatibility).
    const HINSTANCE result = ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<std::intptr_t>(result) > 32;
}

}  // namespace korvo
