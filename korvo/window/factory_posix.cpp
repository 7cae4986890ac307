#include "korvo/window/factory.h"
#include "korvo/window/x11window.h"

namespace korvo {

HeapPtr<IWindow> createPlatformWindow(void* parent, IWindowListener* listener, std::int32_t width,
                                      std::int32_t height, WindowBackend backend, IEventLoop* eventLoop) {
    if (backend != WindowBackend::platformDefault && backend != WindowBackend::x11) return nullptr;
    return HeapPtr<IWindow>(X11Window::create(parent, listener, width, height, eventLoop).release());
}

}  // namespace korvo
