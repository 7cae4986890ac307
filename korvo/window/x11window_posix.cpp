// The X11 window: connection, window and image set-up, event dispatch and the listener sequences.
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "korvo/core/fpcontrol.h"
#include "korvo/window/factory.h"
#include "korvo/window/x11window.h"

// Xlib last: its macros (None, Bool, KeyPress, ...) must not reach the headers above.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace korvo {

namespace {

// ---- X errors of our own connections --------------------------------------------------------------
// Xlib has one error handler per process. While an editor window exists, ours is installed: it
// swallows errors of the windows' own connections (a host may destroy the parent before it closes
// the editor, which makes every later request on the window fail) and hands every other error to
// the handler that was there before, so the host's connections behave as without us. It goes when
// the last window goes (unless someone installed another handler on top in the meantime).
constexpr int kMaxConnections = 64;
Display* gConnections[kMaxConnections] = {};
int gConnectionCount = 0;
XErrorHandler gPreviousHandler = nullptr;
bool gHandlerInstalled = false;

int ignoreOwnErrors(Display* display, XErrorEvent* error) {
    for (int i = 0; i < gConnectionCount; ++i)
        if (gConnections[i] == display) return 0;
    return gPreviousHandler != nullptr ? gPreviousHandler(display, error) : 0;
}

bool addConnection(Display* display) noexcept {
    if (gConnectionCount == kMaxConnections) return false;
    gConnections[gConnectionCount++] = display;
    if (!gHandlerInstalled) {
        gPreviousHandler = XSetErrorHandler(&ignoreOwnErrors);
        gHandlerInstalled = true;
    }
    return true;
}

void removeConnection(Display* display) noexcept {
    for (int i = 0; i < gConnectionCount; ++i) {
        if (gConnections[i] != display) continue;
        gConnections[i] = gConnections[--gConnectionCount];
        break;
    }
    if (gConnectionCount == 0 && gHandlerInstalled) {
        XErrorHandler current = XSetErrorHandler(gPreviousHandler);
        if (current != &ignoreOwnErrors) XSetErrorHandler(current);  // someone else's is on top: keep it
        gPreviousHandler = nullptr;
        gHandlerInstalled = false;
    }
}

Display* asDisplay(void* display) noexcept {
    return static_cast<Display*>(display);
}

// The Xft.dpi resource of a display as a scale, 0 without it.
float scaleOfDisplay(Display* display) noexcept {
    const double dpi = X11Window::xftDpiOf(XResourceManagerString(display));
    return dpi > 0.0 ? static_cast<float>(dpi / 96.0) : 0.0f;
}

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask;

}  // namespace

// ---- Scale and size ---------------------------------------------------------------------------------

double X11Window::xftDpiOf(const char* resources) noexcept {
    if (resources == nullptr) return 0.0;
    double dpi = 0.0;
    const char* key = "Xft.dpi:";
    const std::size_t keyLength = std::strlen(key);
    for (const char* line = resources; *line != 0;) {
        const char* end = std::strchr(line, '\n');
        if (end == nullptr) end = line + std::strlen(line);
        if (static_cast<std::size_t>(end - line) > keyLength && std::strncmp(line, key, keyLength) == 0) {
            char number[32] = {};
            const char* v = line + keyLength;
            while (v < end && (*v == ' ' || *v == '\t')) ++v;
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(end - v), sizeof number - 1);
            std::memcpy(number, v, n);
            char* parsedEnd = nullptr;
            const double value = std::strtod(number, &parsedEnd);
            if (parsedEnd != number && value > 0.0 && value < 10000.0) dpi = value;
        }
        line = *end != 0 ? end + 1 : end;
    }
    return dpi;
}

float X11Window::monitorScale() {
    Display* display = asDisplay(_display);
    return display != nullptr ? scaleOfDisplay(display) : 0.0f;
}

void X11Window::setSize(std::int32_t width, std::int32_t height) {
    Display* display = asDisplay(_display);
    if (display == nullptr || width <= 0 || height <= 0) return;
    if (width == _clientWidth && height == _clientHeight) return;
    FPControl guard;
    XResizeWindow(display, _window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    _clientWidth = width;
    _clientHeight = height;
    addUpdateRect(IntRect{{0, 0}, {width, height}});
    XFlush(display);
}

void X11Window::returnFocus() {
    if (_display == nullptr || _parent == 0) return;
    XSetInputFocus(asDisplay(_display), static_cast<::Window>(_parent), RevertToParent, CurrentTime);
    XFlush(asDisplay(_display));
}

void X11Window::setVisible(bool visible) {
    Display* display = asDisplay(_display);
    if (display == nullptr) return;
    if (visible)
        XMapWindow(display, _window);
    else
        XUnmapWindow(display, _window);
    XFlush(display);
}

float platformMonitorScale() noexcept {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 0.0f;
    const float scale = scaleOfDisplay(display);
    XCloseDisplay(display);
    return scale;
}

// ---- Creation and destruction ---------------------------------------------------------------------

X11Window::X11Window(IWindowListener* listener, IEventLoop* eventLoop) noexcept
    : _listener(listener), _eventLoop(eventLoop) {}

HeapPtr<X11Window> X11Window::create(void* parent, IWindowListener* listener, std::int32_t width,
                                     std::int32_t height, IEventLoop* eventLoop) {
    FPControl guard;
    HeapPtr<X11Window> window = makeHeap<X11Window>(listener, eventLoop);
    if (!window->open(parent, width, height)) return nullptr;
    return window;
}

bool X11Window::open(void* parent, std::int32_t width, std::int32_t height) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    _display = display;
    if (!addConnection(display)) {
        XCloseDisplay(display);
        _display = nullptr;
        return false;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    XVisualInfo info{};
    if (XMatchVisualInfo(display, screen, 24, TrueColor, &info) == 0) return false;
    _visual = info.visual;
    const bool lsbFirst = ImageByteOrder(display) == LSBFirst;
    if (info.red_mask == 0xFF0000 && info.blue_mask == 0xFF)
        _pixelOrder = lsbFirst ? PixelOrder::BGRA8 : PixelOrder::ARGB8;
    else if (info.red_mask == 0xFF && info.blue_mask == 0xFF0000 && lsbFirst)
        _pixelOrder = PixelOrder::RGBA8;
    else
        return false;

    _parent = parent != nullptr ? static_cast<Window>(reinterpret_cast<std::uintptr_t>(parent)) : root;
    _colormap = XCreateColormap(display, root, info.visual, AllocNone);
    XSetWindowAttributes attributes{};
    attributes.colormap = _colormap;
    attributes.border_pixel = 0;
    attributes.background_pixmap = None;  // nothing is painted by the server: no flicker
    attributes.event_mask = kEventMask;
    width = width > 0 ? width : 1;
    height = height > 0 ? height : 1;
    _window = XCreateWindow(display, _parent, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, 24, InputOutput, info.visual,
                            CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask, &attributes);
    _clientWidth = width;
    _clientHeight = height;

    // XEmbed: protocol version 0, mapped.
    const Atom xembedInfo = XInternAtom(display, "_XEMBED_INFO", False);
    const long info2[2] = {0, 1};
    XChangeProperty(display, _window, xembedInfo, xembedInfo, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(info2), 2);
    if (parent == nullptr) {
        _wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
        Atom protocol = _wmDeleteWindow;
        XSetWMProtocols(display, _window, &protocol, 1);
    }
    // Key auto-repeat as presses only, like Windows (for this connection).
    XkbSetDetectableAutoRepeat(display, True, nullptr);
    _gc = XCreateGC(display, _window, 0, nullptr);
    XMapWindow(display, _window);
    XFlush(display);

    _creationMs = _lastTickMs = timeMs();
    if (_eventLoop != nullptr && _listener != nullptr) {
        _registered = _eventLoop->watchFile(ConnectionNumber(display), this);
        _registered = _eventLoop->startTimer(kTickMs, this) && _registered;
    }
    return true;
}

X11Window::~X11Window() {
    FPControl guard;
    if (_eventLoop != nullptr) {
        _eventLoop->stopTimer(this);
        _eventLoop->unwatchFile(this);
    }
    destroyNativeWindow();
}

void X11Window::destroyNativeWindow() {
    Display* display = asDisplay(_display);
    if (display == nullptr) return;
    if (_image != nullptr) {
        auto* image = static_cast<XImage*>(_image);
        image->data = nullptr;  // the listener's buffer
        XDestroyImage(image);
        _image = nullptr;
    }
    // Errors on the way (a window the host already destroyed) go to our handler. The GC also has
    // a client-side part; the server would free the rest with the connection anyway.
    if (_gc != nullptr) XFreeGC(display, static_cast<GC>(_gc));
    if (_window != 0) XDestroyWindow(display, _window);
    if (_colormap != 0) XFreeColormap(display, _colormap);
    XCloseDisplay(display);
    removeConnection(display);
    _display = nullptr;
    _window = 0;
    _colormap = 0;
    _gc = nullptr;
}

void* X11Window::nativeHandle() {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(_window));
}

std::uint32_t X11Window::timeMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             (static_cast<std::uint64_t>(now.tv_nsec) + 500000u) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

// ---- Loop entries ---------------------------------------------------------------------------------

void X11Window::onFileReady(int) {
    FPControl guard;
    processEvents();
}

void X11Window::onTimer() {
    FPControl guard;
    // Events an earlier request read along never make the descriptor readable again.
    processEvents();
    if (_display != nullptr && _listener != nullptr) animationSequence();
}

void X11Window::pumpOneMessage() {
    FPControl guard;
    Display* display = asDisplay(_display);
    if (display == nullptr || _listener == nullptr) return;
    if (XPending(display) > 0) {
        processEvents();
        return;
    }
    const std::uint32_t elapsed = timeMs() - _lastTickMs;
    const int wait = elapsed >= kTickMs ? 0 : static_cast<int>(kTickMs - elapsed);
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    if (wait > 0 && poll(&fd, 1, wait) > 0) {
        processEvents();
        return;
    }
    animationSequence();
}

void X11Window::processEvents() {
    Display* display = asDisplay(_display);
    while (display != nullptr && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        // Only the newest of consecutive moves counts, as Windows coalesces them.
        if (event.type == MotionNotify) {
            XEvent next;
            while (XCheckTypedWindowEvent(display, _window, MotionNotify, &next)) event = next;
        }
        dispatch(&event);
        display = asDisplay(_display);  // a close destroys the connection
    }
}

// ---- Sequences ------------------------------------------------------------------------------------

MouseState X11Window::mouseState(unsigned int xState) const noexcept {
    MouseState state;
    state.left = (xState & Button1Mask) != 0;
    state.middle = (xState & Button2Mask) != 0;
    state.right = (xState & Button3Mask) != 0;
    state.x1 = _x1Down;
    state.x2 = _x2Down;
    state.ctrl = (xState & ControlMask) != 0;
    state.shift = (xState & ShiftMask) != 0;
    state.alt = (xState & Mod1Mask) != 0;
    return state;
}

void X11Window::addUpdateRect(IntRect rect) {
    const IntRect r = rect.intersection(IntRect{{0, 0}, {_clientWidth, _clientHeight}});
    if (!r.empty()) _updateRects.push(r);
}

void X11Window::refreshSequence() {
    _listener->computeDirtyAreas();
    const IntRect box = _listener->dirtyBounds();
    if (box.empty()) return;
    addUpdateRect(box);
    paintSequence();
}

void X11Window::animationSequence() {
    const std::uint32_t now = timeMs();
    const double dt = static_cast<double>(now - _lastTickMs) * 0.001;
    const double time = static_cast<double>(now - _creationMs) * 0.001;
    _lastTickMs = now;
    _listener->onAnimate(dt, time);
    refreshSequence();
}

void X11Window::paintSequence() {
    Display* display = asDisplay(_display);
    if (display == nullptr) return;
    if (_clientWidth != _width || _clientHeight != _height) {
        _width = _clientWidth;
        _height = _clientHeight;
        _frame = _listener->onResize(_width, _height);
        if (_image != nullptr) {
            auto* old = static_cast<XImage*>(_image);
            old->data = nullptr;
            XDestroyImage(old);
            _image = nullptr;
        }
        if (_frame.pixels != nullptr && _frame.w > 0 && _frame.h > 0) {
            _image = XCreateImage(display, static_cast<Visual*>(_visual), 24, ZPixmap, 0,
                                  reinterpret_cast<char*>(_frame.pixels), static_cast<unsigned>(_frame.w),
                                  static_cast<unsigned>(_frame.h), 32, static_cast<int>(_frame.pitch));
        }
    }
    _listener->onDraw(_pixelOrder);
    if (_image != nullptr) {
        const IntRect bounds{{0, 0}, {_frame.w, _frame.h}};
        for (const IntRect& rect : _updateRects) {
            const IntRect r = rect.intersection(bounds);
            if (r.empty()) continue;
            XPutImage(display, _window, static_cast<GC>(_gc), static_cast<XImage*>(_image), r.min.x, r.min.y,
                      r.min.x, r.min.y, static_cast<unsigned>(r.width()), static_cast<unsigned>(r.height()));
        }
        XFlush(display);
    }
    _updateRects.clear();
}

void X11Window::clickSequence(int button, void* e) {
    const XButtonEvent& event = static_cast<XEvent*>(e)->xbutton;
    MouseButton which;
    unsigned int pressedMask = 0;
    switch (button) {
        case 1:
            which = MouseButton::left, pressedMask = Button1Mask;
            break;
        case 2:
            which = MouseButton::middle, pressedMask = Button2Mask;
            break;
        case 3:
            which = MouseButton::right, pressedMask = Button3Mask;
            break;
        case 8:
            which = MouseButton::x1, _x1Down = true;
            break;
        default:
            which = MouseButton::x2, _x2Down = true;
            break;
    }
    // A second press of the same button, soon and close by, is a double click (not a third one).
    const bool isDoubleClick =
        !_lastPressWasDouble && button == _lastPressButton && event.time - _lastPressTime <= kDoubleClickMs &&
        event.x - _lastPressX <= kDoubleClickDistance && _lastPressX - event.x <= kDoubleClickDistance &&
        event.y - _lastPressY <= kDoubleClickDistance && _lastPressY - event.y <= kDoubleClickDistance;
    _lastPressButton = button;
    _lastPressTime = event.time;
    _lastPressX = event.x;
    _lastPressY = event.y;
    _lastPressWasDouble = isDoubleClick;

    // Focus, as SetFocus does (the window is viewable: it just got the press). The press itself
    // starts X's implicit grab, the capture of Windows.
    XSetInputFocus(asDisplay(_display), _window, RevertToParent, event.time);
    _captured = true;
    if (_listener->onMouseClick(_mouseX, _mouseY, which, isDoubleClick,
                                mouseState(event.state | pressedMask)))
        refreshSequence();
}

void X11Window::releaseSequence(int button, void* e) {
    const XButtonEvent& event = static_cast<XEvent*>(e)->xbutton;
    MouseButton which;
    unsigned int releasedMask = 0;
    switch (button) {
        case 1:
            which = MouseButton::left, releasedMask = Button1Mask;
            break;
        case 2:
            which = MouseButton::middle, releasedMask = Button2Mask;
            break;
        case 3:
            which = MouseButton::right, releasedMask = Button3Mask;
            break;
        case 8:
            which = MouseButton::x1, _x1Down = false;
            break;
        default:
            which = MouseButton::x2, _x2Down = false;
            break;
    }
    // Windows sends the end of the capture from inside ReleaseCapture, before the release.
    if (_captured) {
        _captured = false;
        _listener->onCaptureLost();
    }
    if (_listener->onMouseRelease(_mouseX, _mouseY, which, mouseState(event.state & ~releasedMask)))
        refreshSequence();
}

Key X11Window::translateKey(unsigned long sym, bool shift) noexcept {
    switch (sym) {
        case XK_BackSpace:
            return Key::backspace;
        case XK_Tab:
        case XK_ISO_Left_Tab:
            return Key::tab;
        case XK_Home:
        case XK_KP_Home:
            return Key::home;
        case XK_End:
        case XK_KP_End:
            return Key::end;
        case XK_Delete:
        case XK_KP_Delete:
            return Key::deleteKey;
        case XK_Prior:
        case XK_KP_Prior:
            return Key::pageUp;
        case XK_Next:
        case XK_KP_Next:
            return Key::pageDown;
        case XK_Return:
        case XK_KP_Enter:
            return Key::enter;
        case XK_Escape:
            return Key::escape;
        case XK_space:
            return Key::space;
        case XK_Left:
            return Key::arrowLeft;
        case XK_Up:
            return Key::arrowUp;
        case XK_Right:
            return Key::arrowRight;
        case XK_Down:
            return Key::arrowDown;
        default:
            break;
    }
    if (sym >= XK_0 && sym <= XK_9)
        return static_cast<Key>(static_cast<int>(Key::digit0) + static_cast<int>(sym - XK_0));
    if (sym >= XK_KP_0 && sym <= XK_KP_9)
        return static_cast<Key>(static_cast<int>(Key::digit0) + static_cast<int>(sym - XK_KP_0));
    if (sym >= XK_a && sym <= XK_z)
        return static_cast<Key>(static_cast<int>(shift ? Key::A : Key::a) + static_cast<int>(sym - XK_a));
    if (sym >= XK_A && sym <= XK_Z)
        return static_cast<Key>(static_cast<int>(shift ? Key::A : Key::a) + static_cast<int>(sym - XK_A));
    return Key::unsupported;
}

unsigned long X11Window::topLevelWindow() {
    Display* display = asDisplay(_display);
    Window current = _window;
    for (int depth = 0; depth < 64; ++depth) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, current, &root, &parent, &children, &count) == 0) return 0;
        if (children != nullptr) XFree(children);
        if (parent == 0 || parent == root) return current;
        current = parent;
    }
    return 0;
}

void X11Window::keySequence(void* e, bool down) {
    XKeyEvent& event = static_cast<XEvent*>(e)->xkey;
    const bool shift = (event.state & ShiftMask) != 0;
    unsigned long sym = XLookupKeysym(&event, 0);
    // The keypad's digits are its second symbols, valid with Num Lock (Mod2) on.
    if ((event.state & Mod2Mask) != 0) {
        const unsigned long keypad = XLookupKeysym(&event, 1);
        if (keypad >= XK_KP_0 && keypad <= XK_KP_9) sym = keypad;
    }
    const Key key = translateKey(sym, shift);
    MouseState modifiers;
    modifiers.shift = shift;
    modifiers.ctrl = (event.state & ControlMask) != 0;
    modifiers.alt = (event.state & Mod1Mask) != 0;
    bool handled = down ? _listener->onKeyDown(key, modifiers) : _listener->onKeyUp(key, modifiers);
    if (down) {
        // The text the press types (Latin-1 from the key map), as UTF-8; control characters
        // (Backspace, Tab, Enter, Escape, Ctrl + letter) are keys, not text.
        char latin[8] = {};
        KeySym typed = NoSymbol;
        const int n = XLookupString(&event, latin, sizeof latin - 1, &typed, nullptr);
        char text[16] = {};
        int used = 0;
        for (int i = 0; i < n; ++i) {
            const auto c = static_cast<unsigned char>(latin[i]);
            if (c < 32 || c == 127) continue;
            if (c < 0x80) {
                text[used++] = static_cast<char>(c);
            } else {
                text[used++] = static_cast<char>(0xC0 | (c >> 6));
                text[used++] = static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        if (used > 0 && _listener->onTextInput(std::string_view(text, static_cast<std::size_t>(used))))
            handled = true;
    }
    if (handled) {
        refreshSequence();
        return;
    }
    // The host gets the keys the editor does not use; a top-level window of our own has no host.
    const Window top = topLevelWindow();
    if (top == 0 || top == _window) return;
    XEvent forwarded;
    std::memset(&forwarded, 0, sizeof(forwarded));
    forwarded.xkey = event;
    forwarded.xkey.window = top;
    XSendEvent(asDisplay(_display), top, True, down ? KeyPressMask : KeyReleaseMask, &forwarded);
    XFlush(asDisplay(_display));
}

void X11Window::dispatch(void* e) {
    XEvent& event = *static_cast<XEvent*>(e);
    if (_listener == nullptr) return;
    if (event.xany.window != _window) return;
    switch (event.type) {
        case Expose:
            addUpdateRect(
                IntRect{{event.xexpose.x, event.xexpose.y},
                        {event.xexpose.x + event.xexpose.width, event.xexpose.y + event.xexpose.height}});
            if (event.xexpose.count == 0) paintSequence();
            break;
        case MapNotify:
            // Keys go to the editor from the start, as SetFocus at creation does on Windows.
            XSetInputFocus(asDisplay(_display), _window, RevertToParent, CurrentTime);
            break;
        case ConfigureNotify:
            _clientWidth = event.xconfigure.width;
            _clientHeight = event.xconfigure.height;
            break;
        case MotionNotify: {
            const std::int32_t x = event.xmotion.x, y = event.xmotion.y;
            _listener->onMouseMove(x, y, x - _mouseX, y - _mouseY, mouseState(event.xmotion.state));
            _mouseX = x;
            _mouseY = y;
            refreshSequence();
            break;
        }
        case ButtonPress: {
            const unsigned int button = event.xbutton.button;
            if (button == 4 || button == 5) {
                const std::int32_t delta = button == 4 ? 120 : -120;
                if (_listener->onMouseWheel(event.xbutton.x, event.xbutton.y, 0, wheelNotches(delta),
                                            mouseState(event.xbutton.state)))
                    refreshSequence();
            } else if (button <= 3 || button == 8 || button == 9) {
                clickSequence(static_cast<int>(button), &event);
            }
            break;
        }
        case ButtonRelease: {
            const unsigned int button = event.xbutton.button;
            if (button <= 3 || button == 8 || button == 9) releaseSequence(static_cast<int>(button), &event);
            break;
        }
        case KeyPress:
        case KeyRelease:
            keySequence(&event, event.type == KeyPress);
            break;
        case ClientMessage:
            if (_wmDeleteWindow != 0 &&
                static_cast<unsigned long>(event.xclient.data.l[0]) == _wmDeleteWindow) {
                if (_eventLoop != nullptr) {
                    _eventLoop->stopTimer(this);
                    _eventLoop->unwatchFile(this);
                }
                destroyNativeWindow();
                _closed = true;
            }
            break;
        default:
            break;
    }
}

}  // namespace korvo
