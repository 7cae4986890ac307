#include "korvo/window/factory.h"
#include "korvo/window/win32window.h"

namespace korvo {

HeapPtr<IWindow> createPlatformWindow(void* parent, IWindowListener* listener, std::int32_t width,
                                      std::int32_t height, WindowBackend backend, IEventLoop*) {
    if (backend != WindowBackend::platformDefault && backend != WindowBackend::win32) return nullptr;
    return HeapPtr<IWindow>(heapNew<Win32Window>(parent, listener, width, height));
}

float systemMonitorScale() noexcept;  // win32window_win32.cpp

float platformMonitorScale() noexcept {
    return systemMonitorScale();
}

}  // namespace korvo
