// Off-screen rendering through the headless window.
#include "tools/offscreen/screenshot.h"

#include "tools/offscreen/demoscene.h"
#include "korvo/window/headless.h"

namespace korvo {

HeapPtr<OwnedImage<RGBA>> renderScreenshot(GUIGraphics& gui) {
    gui.setWindowFactory(&HeadlessWindow::create);
    gui.openUI(nullptr, nullptr, HostKind::unknown, WindowBackend::win32);
    auto* window = static_cast<HeadlessWindow*>(gui.window());
    window->paint();  // the first paint delivers the size
    window->tick();   // the first tick draws what openUI marked dirty
    auto image = makeHeap<OwnedImage<RGBA>>(window->width(), window->height());
    copyBox(window->screen(), image->view());
    gui.closeUI();
    gui.setWindowFactory(nullptr);
    return image;
}

HeapPtr<OwnedImage<RGBA>> renderDemoScreenshot(std::int32_t width, std::int32_t height) {
    DemoScene scene(width, height);
    return renderScreenshot(scene);
}

}  // namespace korvo
