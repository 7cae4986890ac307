#pragma once
// The kinds of native window handle a host hands an editor to open in.

#include <cstdint>

namespace korvo {

// How the window handle given to openUI is to be read.
enum class WindowBackend : std::int32_t {
    platformDefault = 0,  // this platform's own window (HWND on Windows, X11 Window id on Linux)
    win32 = 1,            // "HWND"
    cocoa = 3,            // "NSView"
    x11 = 4,              // "X11EmbedWindowID"
};

}  // namespace korvo
