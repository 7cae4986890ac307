// The X11 window in a real X server (a private Xvfb), embedded in a parent window the way a host
// embeds it, running on an event loop, with input from a second connection through XTest.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>

#include "korvo/window/x11window.h"
#include "tests/korvo/window/window_test_util.h"
#include "tests/support/xvfb.h"

// Xlib last (its macros).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace korvo {
namespace {

using test::currentFPState;
using test::HostFPScope;
using test::kHostFPState;
using test::kPluginFPState;
using test::LoggingListener;

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A host's run loop in miniature: poll() on the watched descriptor until the timer is due. After
// every call into the window it checks that the caller's floating-point setting came back.
class TestLoop final : public IEventLoop {
public:
    IEventLoopClient* fileClient = nullptr;
    IEventLoopClient* timerClient = nullptr;
    int fd = -1;
    std::uint32_t period = 0;
    int fpChanges = 0;

    bool watchFile(int f, IEventLoopClient* client) override {
        fd = f;
        fileClient = client;
        return true;
    }
    void unwatchFile(IEventLoopClient* client) override {
        if (client == fileClient) fileClient = nullptr, fd = -1;
    }
    bool startTimer(std::uint32_t ms, IEventLoopClient* client) override {
        period = ms;
        timerClient = client;
        due_ = nowMs() + ms;
        return true;
    }
    void stopTimer(IEventLoopClient* client) override {
        if (client == timerClient) timerClient = nullptr, period = 0;
    }

    // Runs until pred() holds (checked after every call) or timeoutMs has passed.
    bool runUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
        const std::int64_t end = nowMs() + timeoutMs;
        while (!pred()) {
            if (nowMs() > end) return false;
            runOnce(static_cast<int>(end - nowMs()));
        }
        return true;
    }
    void runFor(int ms) {
        const std::int64_t end = nowMs() + ms;
        while (nowMs() < end) runOnce(static_cast<int>(end - nowMs()));
    }

private:
    void runOnce(int limit) {
        int wait = limit < 0 ? 0 : limit;
        if (timerClient != nullptr)
            wait = std::min<int>(wait, static_cast<int>(std::max<std::int64_t>(0, due_ - nowMs())));
        if (fileClient != nullptr) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, wait) > 0) call([&] { fileClient->onFileReady(fd); });
        } else if (wait > 0) {
            poll(nullptr, 0, wait);
        }
        if (timerClient != nullptr && nowMs() >= due_) {
            due_ = nowMs() + period;
            call([&] { timerClient->onTimer(); });
        }
    }
    template <class F>
    void call(F f) {
        const test::FPState before = currentFPState();
        f();
        if (!(currentFPState() == before)) ++fpChanges;
    }
    std::int64_t due_ = 0;
};

// The person at the screen: a connection of its own that moves the pointer, presses buttons and
// keys through XTest, and reads pixels back.
struct User {
    Display* display = nullptr;
    bool open() {
        display = XOpenDisplay(nullptr);
        return display != nullptr;
    }
    ~User() {
        if (display != nullptr) XCloseDisplay(display);
    }
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
        XSync(display, False);
    }
    void button(unsigned int b, bool press) {
        XTestFakeButtonEvent(display, b, press ? True : False, CurrentTime);
        XSync(display, False);
    }
    void key(KeySym sym, bool press) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), press ? True : False, CurrentTime);
        XSync(display, False);
    }
    // 0x00RRGGBB of a pixel of a window.
    unsigned long pixel(Window window, int x, int y) {
        XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) return 0xFFFFFFFFul;
        const unsigned long value = XGetPixel(image, 0, 0) & 0xFFFFFFul;
        XDestroyImage(image);
        return value;
    }
};

unsigned long rgb(RGBA c) {
    return (static_cast<unsigned long>(c.r) << 16) | (static_cast<unsigned long>(c.g) << 8) | c.b;
}

// The host's window sits at (kParentX, kParentY) on the screen; the editor fills its top-left.
constexpr int kParentX = 50, kParentY = 40, kWidth = 160, kHeight = 120;

class X11WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::XvfbDisplay& x = test::XvfbDisplay::shared();
        ASSERT_TRUE(x.ok()) << x.error();
        ASSERT_TRUE(user.open());
        int event = 0, error = 0, major = 0, minor = 0;
        ASSERT_TRUE(XTestQueryExtension(user.display, &event, &error, &major, &minor));
        parent = XCreateSimpleWindow(user.display, DefaultRootWindow(user.display), kParentX, kParentY, 300,
                                     200, 0, 0, 0);
        XMapWindow(user.display, parent);
        XSync(user.display, False);
    }
    void TearDown() override {
        window.reset();
        if (user.display == nullptr) return;
        if (parent != 0) XDestroyWindow(user.display, parent);
        XSync(user.display, False);
    }
    // Opens the editor window and waits for its first paint.
    void open(void* parentHandle) {
        window = X11Window::create(parentHandle, &listener, kWidth, kHeight, &loop);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(loop.runUntil([&] { return !listener.entries("draw").empty(); }));
    }
    void open() { open(reinterpret_cast<void*>(static_cast<std::uintptr_t>(parent))); }
    bool waitFor(const std::string& entry) {
        return loop.runUntil([&] {
            for (const std::string& e : listener.log)
                if (e == entry) return true;
            return false;
        });
    }

    User user;
    Window parent = 0;
    TestLoop loop;
    LoggingListener listener;
    HeapPtr<X11Window> window;
};

TEST_F(X11WindowTest, RunsOnTheEventLoopAndPaintsOnlyTheUpdateRegion) {
    open();
    EXPECT_EQ(loop.period, 15u);
    EXPECT_NE(loop.fileClient, nullptr);
    EXPECT_EQ(loop.fd, ConnectionNumber(static_cast<Display*>(window->display())));
    // The first exposure: the size, then the draw in the visual's byte order.
    const std::vector<std::string> first = listener.inputLog();
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first[0], "resize160x120");
    EXPECT_EQ(first[1], "draw" + std::to_string(static_cast<int>(PixelOrder::BGRA8)));
    EXPECT_EQ(window->pixelOrder(), PixelOrder::BGRA8);

    // The listener's colours are in its buffer as BGRA bytes.
    const RGBA a{200, 100, 50, 255}, b{30, 60, 90, 255};
    auto bgra = [](RGBA c) { return RGBA{c.b, c.g, c.r, 255}; };
    const Window id = window->windowId();
    listener.fillColor = bgra(a);
    listener.nextBounds = IntRect{{0, 0}, {kWidth, kHeight}};
    ASSERT_TRUE(loop.runUntil([&] { return user.pixel(id, 100, 100) == rgb(a); }));
    // A tick's dirty box is painted, and only it.
    listener.fillColor = bgra(b);
    listener.nextBounds = IntRect{{10, 10}, {20, 20}};
    ASSERT_TRUE(loop.runUntil([&] { return user.pixel(id, 15, 15) == rgb(b); }));
    EXPECT_EQ(user.pixel(id, 9, 9), rgb(a));
    EXPECT_EQ(user.pixel(id, 20, 20), rgb(a));
    // An exposure repaints exactly the exposed rectangle.
    listener.clear();
    XClearArea(user.display, id, 40, 30, 8, 6, True);
    XSync(user.display, False);
    ASSERT_TRUE(loop.runUntil([&] { return user.pixel(id, 40, 30) == rgb(b); }));
    EXPECT_EQ(listener.inputLog(), std::vector<std::string>{"draw0"});
    EXPECT_EQ(user.pixel(id, 47, 35), rgb(b));
    EXPECT_EQ(user.pixel(id, 48, 35), rgb(a));
    EXPECT_EQ(user.pixel(id, 47, 36), rgb(a));
    EXPECT_EQ(listener.entries("resize").size(), 0u);  // same size: no onResize
}

// The editor resizes its window (a new scale); the next paint delivers the size.
TEST_F(X11WindowTest, SetSizeResizesTheWindowOnTheServer) {
    open();
    listener.clear();
    listener.nextBounds = IntRect{{0, 0}, {240, 180}};
    window->setSize(240, 180);
    ASSERT_TRUE(waitFor("resize240x180"));
    XWindowAttributes a{};
    XGetWindowAttributes(user.display, window->windowId(), &a);
    EXPECT_EQ(a.width, 240);
    EXPECT_EQ(a.height, 180);
}

TEST_F(X11WindowTest, TicksEvery15MsThenRefreshes) {
    open();
    listener.clear();
    const std::int64_t start = nowMs();
    // The first tick may be due at once (the window opened a while ago); three periods follow it.
    ASSERT_TRUE(loop.runUntil([&] { return listener.animations >= 4; }));
    EXPECT_GE(nowMs() - start, 3 * 15);
    EXPECT_GT(listener.lastDt, 0.0);
    EXPECT_GT(listener.lastTime, 0.0);
    // Each tick is followed by the refresh sequence.
    for (std::size_t i = 0; i + 2 < listener.log.size(); ++i) {
        if (listener.log[i] != "animate") continue;
        EXPECT_EQ(listener.log[i + 1], "compute");
        EXPECT_EQ(listener.log[i + 2], "bounds");
    }
}

TEST_F(X11WindowTest, MouseArrivesLikeOnWindows) {
    // The pointer is over the spot before the window exists: no move reaches the window.
    user.moveTo(kParentX + 80, kParentY + 60);
    open();
    listener.clear();
    user.button(1, true);
    ASSERT_TRUE(waitFor("click"));
    EXPECT_EQ(listener.lastX, 0);  // no move yet: the click is at the origin
    EXPECT_EQ(listener.lastY, 0);
    EXPECT_EQ(listener.lastButton, MouseButton::left);
    EXPECT_TRUE(listener.lastState.left);
    EXPECT_EQ(listener.inputLog(), (std::vector<std::string>{"click"}));

    // Dragging past the left and top edges: the window keeps the pointer, coordinates go negative.
    user.moveTo(kParentX - 10, kParentY - 5);
    ASSERT_TRUE(loop.runUntil([&] { return listener.lastX == -10; }));
    EXPECT_EQ(listener.lastY, -5);
    EXPECT_EQ(listener.lastDx, -10);
    EXPECT_EQ(listener.lastDy, -5);
    EXPECT_TRUE(listener.lastState.left);
    listener.clear();
    user.button(1, false);
    ASSERT_TRUE(waitFor("release"));
    // Release ends the capture first, as ReleaseCapture does on Windows; then the refresh.
    EXPECT_EQ(listener.inputLog(), (std::vector<std::string>{"captureLost", "release"}));
    EXPECT_EQ(listener.log.back(), "bounds");
    EXPECT_EQ(listener.lastX, -10);
    EXPECT_FALSE(listener.lastState.left);

    // Back inside: a move, then the wheel (one notch each way) at the pointer.
    user.moveTo(kParentX + 30, kParentY + 20);
    ASSERT_TRUE(loop.runUntil([&] { return listener.lastX == 30; }));
    user.button(4, true);
    user.button(4, false);
    ASSERT_TRUE(waitFor("wheel"));
    EXPECT_EQ(listener.lastWheelY, 1);
    EXPECT_EQ(listener.lastX, 30);
    EXPECT_EQ(listener.lastY, 20);
    listener.clear();
    user.button(5, true);
    user.button(5, false);
    ASSERT_TRUE(waitFor("wheel"));
    EXPECT_EQ(listener.lastWheelY, -1);
    EXPECT_TRUE(listener.entries("click").empty());  // the wheel is not a click

    // Two quick presses in place: a double click. The right button has its own state bit.
    listener.clear();
    user.button(1, true);
    user.button(1, false);
    user.button(1, true);
    user.button(1, false);
    ASSERT_TRUE(loop.runUntil([&] { return listener.entries("release").size() == 2; }));
    EXPECT_EQ(listener.entries("click").size(), 1u);
    EXPECT_EQ(listener.entries("doubleClick").size(), 1u);
    user.button(3, true);
    ASSERT_TRUE(loop.runUntil([&] { return listener.lastButton == MouseButton::right; }));
    EXPECT_TRUE(listener.lastState.right);
    EXPECT_FALSE(listener.lastState.left);
    user.button(3, false);
    ASSERT_TRUE(loop.runUntil([&] { return listener.entries("release").size() == 3; }));
}

TEST_F(X11WindowTest, KeysTranslateAndUnhandledOnesReachTheHost) {
    user.moveTo(kParentX + 10, kParentY + 10);
    open();
    user.button(1, true);  // the click takes the focus
    user.button(1, false);
    ASSERT_TRUE(waitFor("release"));
    listener.clear();
    user.key(XK_Shift_L, true);
    user.key(XK_a, true);
    ASSERT_TRUE(waitFor("keyDown"));
    EXPECT_EQ(listener.lastKey, Key::A);
    EXPECT_TRUE(listener.lastKeyModifiers.shift);
    ASSERT_TRUE(waitFor("text"));
    EXPECT_EQ(listener.lastText, "A");  // the typed character follows the key
    user.key(XK_a, false);
    user.key(XK_Shift_L, false);
    ASSERT_TRUE(waitFor("keyUp"));
    listener.clear();
    user.key(XK_Control_L, true);
    user.key(XK_a, true);
    ASSERT_TRUE(waitFor("keyDown"));
    EXPECT_EQ(listener.lastKey, Key::a);
    EXPECT_TRUE(listener.lastKeyModifiers.ctrl);
    user.key(XK_a, false);
    user.key(XK_Control_L, false);
    ASSERT_TRUE(waitFor("keyUp"));
    EXPECT_TRUE(listener.entries("text").empty());  // Ctrl + letter types nothing
    listener.clear();
    user.key(XK_Home, true);
    ASSERT_TRUE(waitFor("keyDown"));
    EXPECT_EQ(listener.lastKey, Key::home);
    user.key(XK_Home, false);
    ASSERT_TRUE(waitFor("keyUp"));

    // Keys the editor leaves alone go on to the host's top-level window.
    XSelectInput(user.display, parent, KeyPressMask);
    XSync(user.display, False);
    listener.handle = false;
    listener.clear();
    user.key(XK_F5, true);
    ASSERT_TRUE(waitFor("keyDown"));
    EXPECT_EQ(listener.lastKey, Key::unsupported);
    user.key(XK_F5, false);
    bool forwarded = false;
    const std::int64_t end = nowMs() + 3000;
    while (!forwarded && nowMs() < end) {
        loop.runFor(5);
        while (XPending(user.display) > 0) {
            XEvent event;
            XNextEvent(user.display, &event);
            if (event.type == KeyPress && event.xkey.window == parent && event.xkey.send_event)
                forwarded = XLookupKeysym(&event.xkey, 0) == XK_F5;
        }
    }
    EXPECT_TRUE(forwarded);
}

TEST_F(X11WindowTest, TheHostsFloatingPointSettingIsKeptAcrossEveryCall) {
    user.moveTo(kParentX + 20, kParentY + 20);
    {
        HostFPScope host;
        open();
        user.button(1, true);
        user.moveTo(kParentX + 25, kParentY + 22);
        user.button(1, false);
        ASSERT_TRUE(waitFor("release"));
        user.key(XK_b, true);
        user.key(XK_b, false);
        ASSERT_TRUE(waitFor("keyUp")) << ::testing::PrintToString(listener.inputLog());
        loop.runUntil([&] { return listener.animations >= 2; });
        EXPECT_EQ(currentFPState(), kHostFPState);
    }
    EXPECT_EQ(loop.fpChanges, 0);
    ASSERT_FALSE(listener.fpStates.empty());
    for (const test::FPState& s : listener.fpStates) EXPECT_EQ(s, kPluginFPState);
}

TEST_F(X11WindowTest, ClosingUnregistersAndDestroysTheWindowEvenAfterTheHostDestroyedItsOwn) {
    open();
    const Window id = window->windowId();
    window.reset();
    EXPECT_EQ(loop.fileClient, nullptr);
    EXPECT_EQ(loop.timerClient, nullptr);
    Window root = 0, up = 0, *children = nullptr;
    unsigned int count = 0;
    ASSERT_NE(XQueryTree(user.display, parent, &root, &up, &children, &count), 0);
    if (children != nullptr) XFree(children);
    EXPECT_EQ(count, 0u) << "window " << id << " still exists";

    // A host that destroys its window before closing the editor: the editor's requests fail on
    // the server, and nothing of that reaches the host.
    open();
    XDestroyWindow(user.display, parent);
    XSync(user.display, False);
    parent = 0;
    listener.nextBounds = IntRect{{0, 0}, {10, 10}};
    // The editor keeps running on the host's loop (its ticks go on) and then closes cleanly.
    ASSERT_TRUE(loop.runUntil([&] { return listener.animations >= 3; }));
    window.reset();
    EXPECT_EQ(loop.fileClient, nullptr);
    EXPECT_EQ(loop.timerClient, nullptr);
}

TEST_F(X11WindowTest, ATopLevelWindowClosesOnTheWindowManagersRequest) {
    open(nullptr);
    Display* d = user.display;
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = window->windowId();
    message.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    XSendEvent(d, window->windowId(), False, NoEventMask, &message);
    XSync(d, False);
    ASSERT_TRUE(loop.runUntil([&] { return window->isClosed(); }));
    EXPECT_EQ(loop.timerClient, nullptr);
    EXPECT_EQ(loop.fileClient, nullptr);
    EXPECT_EQ(window->display(), nullptr);
}

// Xft.dpi as desktops write it into the server's resource database; the last line wins and
// anything that is not a positive number counts as none.
TEST(X11WindowScale, XftDpiComesFromTheResourceString) {
    EXPECT_EQ(X11Window::xftDpiOf(nullptr), 0.0);
    EXPECT_EQ(X11Window::xftDpiOf(""), 0.0);
    EXPECT_EQ(X11Window::xftDpiOf("Xft.dpi:\t192\n"), 192.0);
    EXPECT_EQ(X11Window::xftDpiOf("Xft.antialias:\t1\nXft.dpi: 144.5\nXcursor.size:\t48\n"), 144.5);
    EXPECT_EQ(X11Window::xftDpiOf("Xft.dpi:\t96\nXft.dpi:\t120"), 120.0);
    EXPECT_EQ(X11Window::xftDpiOf("Xft.dpi:\tlarge\n"), 0.0);
    EXPECT_EQ(X11Window::xftDpiOf("Xft.dpi:\t-96\n"), 0.0);
    EXPECT_EQ(X11Window::xftDpiOf("Xft.dpiX:\t96\n*Xft.dpi:\t96\n"), 0.0);
}

TEST(X11WindowKeys, TranslationTable) {
    EXPECT_EQ(X11Window::translateKey(XK_BackSpace, false), Key::backspace);
    EXPECT_EQ(X11Window::translateKey(XK_Return, false), Key::enter);
    EXPECT_EQ(X11Window::translateKey(XK_KP_Enter, false), Key::enter);
    EXPECT_EQ(X11Window::translateKey(XK_Escape, true), Key::escape);
    EXPECT_EQ(X11Window::translateKey(XK_space, false), Key::space);
    EXPECT_EQ(X11Window::translateKey(XK_Left, false), Key::arrowLeft);
    EXPECT_EQ(X11Window::translateKey(XK_Up, false), Key::arrowUp);
    EXPECT_EQ(X11Window::translateKey(XK_Right, false), Key::arrowRight);
    EXPECT_EQ(X11Window::translateKey(XK_Down, false), Key::arrowDown);
    EXPECT_EQ(X11Window::translateKey(XK_0, false), Key::digit0);
    EXPECT_EQ(X11Window::translateKey(XK_9, true), Key::digit9);
    EXPECT_EQ(X11Window::translateKey(XK_KP_3, false), Key::digit3);
    EXPECT_EQ(X11Window::translateKey(XK_a, false), Key::a);
    EXPECT_EQ(X11Window::translateKey(XK_a, true), Key::A);
    EXPECT_EQ(X11Window::translateKey(XK_z, true), Key::Z);
    EXPECT_EQ(X11Window::translateKey(XK_F1, false), Key::unsupported);
    EXPECT_EQ(X11Window::translateKey(XK_Home, false), Key::home);
    EXPECT_EQ(X11Window::translateKey(XK_ISO_Left_Tab, true), Key::tab);
    EXPECT_EQ(X11Window::translateKey(XK_KP_Delete, false), Key::deleteKey);
    EXPECT_EQ(X11Window::translateKey(XK_Next, false), Key::pageDown);
    EXPECT_EQ(X11Window::translateKey(XK_Insert, false), Key::unsupported);
}

}  // namespace
}  // namespace korvo
