// The editor host on X11: our top-level window, the run loop, XTest input and XGetImage shots.
#include <cstring>

#include "tools/vst3host/editor.h"

// Xlib last (its macros).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vst3host {

struct EditorHost::Platform {
    Display* display = nullptr;
    Window window = 0;
    int rootX = 0;  // the window's top-left on the screen
    int rootY = 0;
    bool xtest = false;
};

EditorHost::EditorHost() : platform_(std::make_unique<Platform>()) {}

EditorHost::~EditorHost() {
    close();
}

void* EditorHost::windowHandle() const {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(platform_->window));
}

std::uintptr_t EditorHost::childWindow() const {
    const Platform& p = *platform_;
    if (p.display == nullptr) return 0;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(p.display, p.window, &root, &parent, &children, &count) == 0) return 0;
    const std::uintptr_t child = count > 0 ? children[0] : 0;
    if (children != nullptr) XFree(children);
    return child;
}

void EditorHost::resetFrameTimes() {
    frame_.runLoop().resetBusy();
}

EditorHost::FrameTimes EditorHost::frameTimes() const {
    RunLoop& loop = const_cast<PlugFrame&>(frame_).runLoop();
    return FrameTimes{loop.busyTimerCalls(), loop.busyMs(), loop.maxTimerMs()};
}

bool EditorHost::createWindow(std::string& error) {
    Platform& p = *platform_;
    p.display = XOpenDisplay(nullptr);
    if (p.display == nullptr) {
        error = "cannot open the X display (is DISPLAY set?)";
        return false;
    }
    int event = 0, errorBase = 0, major = 0, minor = 0;
    p.xtest = XTestQueryExtension(p.display, &event, &errorBase, &major, &minor) != 0;
    const int width = size_.right - size_.left, height = size_.bottom - size_.top;
    const Window root = DefaultRootWindow(p.display);
    p.window = XCreateSimpleWindow(p.display, root, 0, 0, static_cast<unsigned>(width),
                                   static_cast<unsigned>(height), 0, 0, 0);
    XStoreName(p.display, p.window, "vst3host editor");
    XSelectInput(p.display, p.window, StructureNotifyMask);
    XMapWindow(p.display, p.window);
    // Wait until the server shows it (no window manager may be there to place it elsewhere).
    for (;;) {
        XEvent e;
        XNextEvent(p.display, &e);
        if (e.type == MapNotify && e.xmap.window == p.window) break;
    }
    Window child = 0;
    XTranslateCoordinates(p.display, p.window, root, 0, 0, &p.rootX, &p.rootY, &child);
    return true;
}

void EditorHost::resizeWindow(std::int32_t width, std::int32_t height) {
    Platform& p = *platform_;
    if (p.display == nullptr || width <= 0 || height <= 0) return;
    XResizeWindow(p.display, p.window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(p.display, False);
}

void EditorHost::destroyWindow() {
    Platform& p = *platform_;
    if (p.display == nullptr) return;
    if (p.window != 0) XDestroyWindow(p.display, p.window);
    XCloseDisplay(p.display);
    p.display = nullptr;
    p.window = 0;
}

void EditorHost::run(std::uint32_t ms) {
    Platform& p = *platform_;
    const std::uint64_t end = monotonicMs() + ms;
    do {
        const std::uint64_t now = monotonicMs();
        frame_.runLoop().runOnce(
            now >= end ? 0 : static_cast<std::int32_t>(std::min<std::uint64_t>(end - now, 5)));
        // Our own window only needs its queue emptied.
        while (p.display != nullptr && XPending(p.display) > 0) {
            XEvent e;
            XNextEvent(p.display, &e);
        }
    } while (monotonicMs() < end);
}

void EditorHost::mouseMove(std::int32_t x, std::int32_t y) {
    Platform& p = *platform_;
    if (p.display == nullptr || !p.xtest) return;
    XTestFakeMotionEvent(p.display, -1, p.rootX + x, p.rootY + y, CurrentTime);
    XSync(p.display, False);
    run(20);
}

void EditorHost::mouseButton(int button, bool down) {
    Platform& p = *platform_;
    if (p.display == nullptr || !p.xtest) return;
    XTestFakeButtonEvent(p.display, static_cast<unsigned>(button), down ? True : False, CurrentTime);
    XSync(p.display, False);
    run(20);
}

void EditorHost::wheel(int notches) {
    const int button = notches > 0 ? 4 : 5;
    for (int i = 0; i < (notches > 0 ? notches : -notches); ++i) {
        mouseButton(button, true);
        mouseButton(button, false);
    }
}

bool EditorHost::key(const std::string& name, bool down) {
    Platform& p = *platform_;
    KeySym sym = NoSymbol;
    if (name.size() == 1 && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')))
        sym = static_cast<KeySym>(name[0]);
    else if (name == "space")
        sym = XK_space;
    else if (name == "enter")
        sym = XK_Return;
    else if (name == "escape")
        sym = XK_Escape;
    else if (name == "backspace")
        sym = XK_BackSpace;
    else if (name == "left")
        sym = XK_Left;
    else if (name == "right")
        sym = XK_Right;
    else if (name == "up")
        sym = XK_Up;
    else if (name == "down")
        sym = XK_Down;
    else if (name == "tab")
        sym = XK_Tab;
    else if (name == "home")
        sym = XK_Home;
    else if (name == "end")
        sym = XK_End;
    else if (name == "pageup")
        sym = XK_Page_Up;
    else if (name == "pagedown")
        sym = XK_Page_Down;
    else if (name == "delete")
        sym = XK_Delete;
    else if (name == "shift")
        sym = XK_Shift_L;
    else if (name == "ctrl")
        sym = XK_Control_L;
    else if (name == "alt")
        sym = XK_Alt_L;
    else if (name.size() >= 2 && name[0] == 'f') {
        const int n = std::atoi(name.c_str() + 1);
        if (n >= 1 && n <= 12) sym = XK_F1 + static_cast<KeySym>(n - 1);
    }
    if (sym == NoSymbol) return false;
    if (p.display == nullptr || !p.xtest) return true;
    const KeyCode code = XKeysymToKeycode(p.display, sym);
    if (code == 0) return false;
    XTestFakeKeyEvent(p.display, code, down ? True : False, CurrentTime);
    XSync(p.display, False);
    run(20);
    return true;
}

bool EditorHost::screenshot(Image& out, std::string& error) {
    Platform& p = *platform_;
    if (p.display == nullptr) {
        error = "no window";
        return false;
    }
    const int width = size_.right - size_.left, height = size_.bottom - size_.top;
    // The editor's window covers ours; what the server shows there is what a person sees.
    XImage* image = XGetImage(p.display, p.window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        error = "XGetImage failed";
        return false;
    }
    auto shift = [](unsigned long mask) {
        int s = 0;
        while (mask != 0 && (mask & 1) == 0) mask >>= 1, ++s;
        return s;
    };
    const int rs = shift(image->red_mask), gs = shift(image->green_mask), bs = shift(image->blue_mask);
    out.width = width;
    out.height = height;
    out.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    std::uint8_t* d = out.rgba.data();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long v = XGetPixel(image, x, y);
            *d++ = static_cast<std::uint8_t>((v & image->red_mask) >> rs);
            *d++ = static_cast<std::uint8_t>((v & image->green_mask) >> gs);
            *d++ = static_cast<std::uint8_t>((v & image->blue_mask) >> bs);
            *d++ = 255;
        }
    XDestroyImage(image);
    return true;
}

}  // namespace vst3host
