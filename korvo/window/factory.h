#pragma once
// The platform's window for an editor: what GUIGraphics::openUI makes when it is given a parent
// window and no other factory was set.
//
//   Windows: backends platformDefault (0) and win32 (1) -> Win32Window (parent: an HWND or null).
//   Linux:   backends platformDefault (0) and x11 (4)   -> X11Window (parent: an X11 Window id or
//            null; it runs on eventLoop, and without one only through pumpOneMessage).
//   Any other backend: null (no window).
//
// Thread contract: [main-thread]; the window belongs to the calling thread.

#include <cstdint>

#include "korvo/window/backend.h"
#include "korvo/core/nogc.h"
#include "korvo/window/eventloop.h"
#include "korvo/window/window.h"

namespace korvo {

HeapPtr<IWindow> createPlatformWindow(void* parent, IWindowListener* listener, std::int32_t width,
                                      std::int32_t height, WindowBackend backend, IEventLoop* eventLoop);

// The scale of the screen before any window exists (device pixels per 96-dpi pixel), 0 when
// unknown: Windows, the system's DPI; Linux, the X server's Xft.dpi resource (the DISPLAY of the
// process), 0 without a display or without the resource.
float platformMonitorScale() noexcept;

}  // namespace korvo
