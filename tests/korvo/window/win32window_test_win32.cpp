// The Win32 window (under Wine, on a private X display): a child of a stand-in host window, driven
// by real messages through its window procedure.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cwctype>
#include <string>
#include <vector>

#include "korvo/window/win32window.h"
#include "tests/korvo/window/window_test_util.h"

namespace korvo {
namespace {

using test::currentFPState;
using test::HostFPScope;
using test::kHostFPState;
using test::kPluginFPState;
using test::LoggingListener;

// The host's top-level window; it records the keys that reach it.
class HostWindow {
public:
    static std::vector<WPARAM>& keys() {
        static std::vector<WPARAM> k;
        return k;
    }
    HostWindow() {
        static bool registered = false;
        if (!registered) {
            WNDCLASSW wc{};
            wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                if (m == WM_KEYDOWN) keys().push_back(w);
                return DefWindowProcW(h, m, w, l);
            };
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"korvo_test_host";
            registered = RegisterClassW(&wc) != 0;
        }
        hwnd = CreateWindowExW(0, L"korvo_test_host", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 30, 400,
                               300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~HostWindow() { DestroyWindow(hwnd); }
    HWND hwnd = nullptr;
};

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void pump(int ms) {
    const std::int64_t end = nowMs() + ms;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(1);
    } while (nowMs() < end);
}

COLORREF colorRef(RGBA c) {
    return RGB(c.r, c.g, c.b);
}

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(host.hwnd, nullptr) << "no window station (is DISPLAY set?)";
        HostWindow::keys().clear();
    }
    void open(HWND parent) {
        window = makeHeap<Win32Window>(parent, &listener, 160, 120);
        const std::int64_t end = nowMs() + 5000;
        while (listener.entries("draw").empty() && nowMs() < end) pump(5);
        ASSERT_FALSE(listener.entries("draw").empty());
    }
    void open() { open(host.hwnd); }
    HWND hwnd() const { return static_cast<HWND>(window->nativeHandle()); }
    LRESULT send(UINT message, WPARAM w, LPARAM l) { return SendMessageW(hwnd(), message, w, l); }
    COLORREF pixel(int x, int y) {
        HDC dc = GetDC(hwnd());
        const COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(hwnd(), dc);
        return c;
    }

    HostWindow host;
    LoggingListener listener;
    HeapPtr<Win32Window> window;
};

TEST_F(Win32WindowTest, EachWindowRegistersItsOwnClassAndTheFirstPaintDeliversTheSize) {
    open();
    const std::wstring name = window->className();
    ASSERT_EQ(name.size(), 42u);
    EXPECT_EQ(name.substr(0, 6), L"korvo_");
    for (std::size_t i = 6; i < name.size(); ++i) {
        const std::size_t k = i - 6;
        if (k == 8 || k == 13 || k == 18 || k == 23)
            EXPECT_EQ(name[i], L'-') << i;
        else
            EXPECT_TRUE(std::iswdigit(name[i]) || (name[i] >= L'a' && name[i] <= L'f')) << i;
    }
    EXPECT_EQ(name[6 + 14], L'4');                                            // version 4
    EXPECT_NE(std::wstring(L"89ab").find(name[6 + 19]), std::wstring::npos);  // variant
    WNDCLASSW info{};
    ASSERT_TRUE(GetClassInfoW(GetModuleHandleA(nullptr), window->className(), &info));
    EXPECT_EQ(info.style, 0x28u);
    EXPECT_EQ(GetParent(hwnd()), host.hwnd);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(hwnd(), GWL_STYLE)) & (WS_CHILD | WS_VISIBLE),
              WS_CHILD | WS_VISIBLE);
    Win32Window other(host.hwnd, nullptr, 10, 10);
    EXPECT_NE(std::wstring(other.className()), name);

    const std::vector<std::string> first = listener.inputLog();
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first[0], "resize160x120");
    EXPECT_EQ(first[1], "draw0");  // BGRA8
}

TEST_F(Win32WindowTest, MouseMessagesFollowTheLastMoveAndTheCapture) {
    open();
    listener.clear();
    EXPECT_EQ(send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 40)), 0);
    EXPECT_EQ(listener.lastX, 0);  // no move yet: the click is at the origin, not at the message's point
    EXPECT_EQ(listener.lastY, 0);
    EXPECT_TRUE(listener.lastState.left);
    EXPECT_EQ(GetCapture(), hwnd());
    EXPECT_EQ(listener.log, (std::vector<std::string>{"click", "compute", "bounds"}));
    // With the capture, a drag past the left and top edges arrives with negative coordinates.
    send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(-10), static_cast<WORD>(-5)));
    EXPECT_EQ(listener.lastX, -10);
    EXPECT_EQ(listener.lastY, -5);
    EXPECT_EQ(listener.lastDx, -10);
    EXPECT_EQ(listener.lastDy, -5);
    listener.clear();
    EXPECT_EQ(send(WM_LBUTTONUP, 0, MAKELPARAM(0, 0)), 0);
    EXPECT_EQ(listener.log, (std::vector<std::string>{"captureLost", "release", "compute", "bounds"}));
    EXPECT_EQ(listener.lastX, -10);
    EXPECT_EQ(GetCapture(), nullptr);

    // Double clicks and the other buttons.
    send(WM_MOUSEMOVE, 0, MAKELPARAM(12, 13));
    send(WM_LBUTTONDBLCLK, MK_LBUTTON | MK_SHIFT, MAKELPARAM(12, 13));
    EXPECT_TRUE(listener.lastDoubleClick);
    EXPECT_TRUE(listener.lastState.shift);
    send(WM_XBUTTONDOWN, MAKEWPARAM(MK_XBUTTON2, XBUTTON2), MAKELPARAM(12, 13));
    EXPECT_EQ(listener.lastButton, MouseButton::x2);
    EXPECT_TRUE(listener.lastState.x2);
    send(WM_XBUTTONUP, MAKEWPARAM(0, XBUTTON1), MAKELPARAM(12, 13));
    EXPECT_EQ(listener.lastButton, MouseButton::x1);
    // Unhandled clicks go to the default procedure (which returns 0 too, but nothing refreshes).
    listener.handle = false;
    listener.clear();
    send(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(12, 13));
    EXPECT_EQ(listener.log, std::vector<std::string>{"click"});
    send(WM_RBUTTONUP, 0, MAKELPARAM(12, 13));
}

TEST_F(Win32WindowTest, WheelCountsWholeNotchesAtTheWheelsPosition) {
    open();
    RECT r{};
    GetWindowRect(hwnd(), &r);
    const LPARAM at = MAKELPARAM(r.left + 30, r.top + 20);
    send(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), at);
    EXPECT_EQ(listener.lastWheelY, 1);
    EXPECT_EQ(listener.lastX, 30);
    EXPECT_EQ(listener.lastY, 20);
    send(WM_MOUSEWHEEL, MAKEWPARAM(0, 60), at);
    EXPECT_EQ(listener.lastWheelY, 0);
    send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-240)), at);
    EXPECT_EQ(listener.lastWheelY, -2);
}

TEST_F(Win32WindowTest, TimerTicksEvery15MsAndOtherTimersAreSwallowed) {
    open();
    listener.clear();
    EXPECT_EQ(send(WM_TIMER, 7, 0), 0);
    EXPECT_TRUE(listener.log.empty());
    EXPECT_EQ(send(WM_TIMER, Win32Window::kTimerId, 0), 0);
    EXPECT_EQ(listener.log, (std::vector<std::string>{"animate", "compute", "bounds"}));
    // The real timer.
    const std::int64_t start = nowMs();
    while (listener.animations < 5 && nowMs() - start < 5000) pump(5);
    EXPECT_GE(listener.animations, 5);
    EXPECT_GT(listener.lastTime, 0.0);
}

TEST_F(Win32WindowTest, KeysTranslateWithShiftAndUnhandledOnesReachTheHost) {
    open();
    BYTE state[256] = {};
    state[VK_SHIFT] = 0x80;
    SetKeyboardState(state);
    EXPECT_EQ(send(WM_KEYDOWN, 'A', 0), 0);
    EXPECT_EQ(listener.lastKey, Key::A);
    EXPECT_TRUE(listener.lastKeyModifiers.shift);
    state[VK_SHIFT] = 0;
    state[VK_CONTROL] = 0x80;
    SetKeyboardState(state);
    send(WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(listener.lastKey, Key::a);
    EXPECT_TRUE(listener.lastKeyModifiers.ctrl);
    send(WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(listener.lastKey, Key::deleteKey);
    // Typed characters come as UTF-8 text, one beyond the basic plane from its two halves;
    // control characters are keys only.
    send(WM_CHAR, 0xE9, 0);
    EXPECT_EQ(listener.lastText, "\xC3\xA9");
    send(WM_CHAR, 0xD83D, 0);
    send(WM_CHAR, 0xDE00, 0);
    EXPECT_EQ(listener.lastText, "\xF0\x9F\x98\x80");
    const std::size_t texts = listener.entries("text").size();
    send(WM_CHAR, 8, 0);
    EXPECT_EQ(listener.entries("text").size(), texts);
    send(WM_KEYUP, VK_NUMPAD7, 0);
    EXPECT_EQ(listener.lastKey, Key::digit7);
    state[VK_CONTROL] = 0;
    SetKeyboardState(state);
    EXPECT_TRUE(HostWindow::keys().empty());
    listener.handle = false;
    send(WM_KEYDOWN, VK_F5, 0);
    EXPECT_EQ(listener.lastKey, Key::unsupported);
    EXPECT_EQ(HostWindow::keys(), std::vector<WPARAM>{VK_F5});
}

TEST_F(Win32WindowTest, PaintsCopyOnlyTheUpdateRegion) {
    open();
    const RGBA a{200, 100, 50, 255}, b{30, 60, 90, 255};
    auto bgra = [](RGBA c) { return RGBA{c.b, c.g, c.r, 255}; };
    listener.fillColor = bgra(a);
    InvalidateRect(hwnd(), nullptr, FALSE);
    UpdateWindow(hwnd());
    EXPECT_EQ(pixel(100, 100), colorRef(a));
    listener.fillColor = bgra(b);
    const RECT small{10, 10, 20, 20};
    InvalidateRect(hwnd(), &small, FALSE);
    UpdateWindow(hwnd());
    EXPECT_EQ(pixel(15, 15), colorRef(b));
    EXPECT_EQ(pixel(9, 9), colorRef(a));
    EXPECT_EQ(pixel(20, 20), colorRef(a));
    // A tick's dirty box is painted at once (UpdateWindow), and only it.
    listener.nextBounds = IntRect{{40, 30}, {48, 36}};
    listener.clear();
    send(WM_TIMER, Win32Window::kTimerId, 0);
    EXPECT_EQ(listener.inputLog(), std::vector<std::string>{"draw0"});
    EXPECT_EQ(pixel(40, 30), colorRef(b));
    EXPECT_EQ(pixel(47, 35), colorRef(b));
    EXPECT_EQ(pixel(48, 35), colorRef(a));
    EXPECT_EQ(pixel(47, 36), colorRef(a));
    EXPECT_EQ(pixel(100, 100), colorRef(a));
}

TEST_F(Win32WindowTest, TheHostsFloatingPointSettingIsKeptAcrossEveryMessage) {
    open();
    listener.clear();
    HostFPScope hostSetting;
    RECT r{};
    GetWindowRect(hwnd(), &r);
    const struct {
        UINT message;
        WPARAM w;
        LPARAM l;
    } messages[] = {
        {WM_MOUSEMOVE, 0, MAKELPARAM(5, 6)},
        {WM_LBUTTONDOWN, MK_LBUTTON, 0},
        {WM_LBUTTONUP, 0, 0},
        {WM_MOUSEWHEEL, MAKEWPARAM(0, 120), MAKELPARAM(r.left, r.top)},
        {WM_KEYDOWN, 'Q', 0},
        {WM_KEYUP, 'Q', 0},
        {WM_TIMER, Win32Window::kTimerId, 0},
        {WM_TIMER, 3, 0},
        {WM_SETFOCUS, 0, 0},
        {WM_NCHITTEST, 0, 0},
    };
    for (const auto& m : messages) {
        send(m.message, m.w, m.l);
        EXPECT_EQ(currentFPState(), kHostFPState) << "message " << m.message;
    }
    InvalidateRect(hwnd(), nullptr, FALSE);
    UpdateWindow(hwnd());
    EXPECT_EQ(currentFPState(), kHostFPState);
    ASSERT_FALSE(listener.fpStates.empty());
    for (const test::FPState& s : listener.fpStates) EXPECT_EQ(s, kPluginFPState);
}

TEST_F(Win32WindowTest, CloseDestroysTheWindowAndItsClass) {
    open();
    HWND old = hwnd();
    const std::wstring name = window->className();
    EXPECT_EQ(send(WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(window->isClosed());
    EXPECT_FALSE(IsWindow(old));
    WNDCLASSW info{};
    EXPECT_FALSE(GetClassInfoW(GetModuleHandleA(nullptr), name.c_str(), &info));
    window.reset();  // and destruction after a close is harmless
}

TEST_F(Win32WindowTest, AWindowWithoutParentIsTopLevelAndKeepsItsOwnKeys) {
    open(nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(hwnd(), GWL_STYLE)) & WS_CHILD, 0u);
    listener.handle = false;
    send(WM_KEYDOWN, VK_F6, 0);  // its own root: not sent to itself again
    EXPECT_EQ(listener.entries("keyDown").size(), 1u);
}

// The host (or the editor) resizes the window; a move to a monitor of another DPI reaches the
// listener: from the top-level window's message with the new DPI, and, for a child, from the
// window's own DPI when its top-level window moved.
TEST_F(Win32WindowTest, SetSizeResizesAndMonitorChangesReachTheListener) {
    open();
    listener.clear();
    window->setSize(220, 130);
    pump(50);
    EXPECT_FALSE(listener.entries("resize220x130").empty());
    RECT client{};
    GetClientRect(hwnd(), &client);
    EXPECT_EQ(client.right, 220);
    EXPECT_EQ(client.bottom, 130);
    send(0x02E3 /* WM_DPICHANGED_AFTERPARENT */, 0, 0);
    ASSERT_EQ(listener.entries("monitorScale").size(), 1u);
    EXPECT_FLOAT_EQ(listener.lastMonitorScale, window->monitorScale());
    RECT suggested{0, 0, 440, 260};
    send(0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    ASSERT_EQ(listener.entries("monitorScale").size(), 2u);
    EXPECT_FLOAT_EQ(listener.lastMonitorScale, 2.0f);
}

TEST(Win32WindowKeys, TranslationTable) {
    EXPECT_EQ(Win32Window::translateKey(8, false), Key::backspace);
    EXPECT_EQ(Win32Window::translateKey(13, false), Key::enter);
    EXPECT_EQ(Win32Window::translateKey(27, true), Key::escape);
    EXPECT_EQ(Win32Window::translateKey(32, false), Key::space);
    EXPECT_EQ(Win32Window::translateKey(37, false), Key::arrowLeft);
    EXPECT_EQ(Win32Window::translateKey(38, false), Key::arrowUp);
    EXPECT_EQ(Win32Window::translateKey(39, false), Key::arrowRight);
    EXPECT_EQ(Win32Window::translateKey(40, false), Key::arrowDown);
    EXPECT_EQ(Win32Window::translateKey('0', false), Key::digit0);
    EXPECT_EQ(Win32Window::translateKey('9', true), Key::digit9);
    EXPECT_EQ(Win32Window::translateKey(96, false), Key::digit0);
    EXPECT_EQ(Win32Window::translateKey(105, false), Key::digit9);
    EXPECT_EQ(Win32Window::translateKey('A', true), Key::A);
    EXPECT_EQ(Win32Window::translateKey('A', false), Key::a);
    EXPECT_EQ(Win32Window::translateKey('Z', false), Key::z);
    EXPECT_EQ(Win32Window::translateKey(0x74, false), Key::unsupported);  // F5
    EXPECT_EQ(Win32Window::translateKey(106, false), Key::unsupported);   // keypad *
    EXPECT_EQ(Win32Window::translateKey(9, true), Key::tab);
    EXPECT_EQ(Win32Window::translateKey(36, false), Key::home);
    EXPECT_EQ(Win32Window::translateKey(35, false), Key::end);
    EXPECT_EQ(Win32Window::translateKey(33, false), Key::pageUp);
    EXPECT_EQ(Win32Window::translateKey(45, false), Key::unsupported);  // insert
}

}  // namespace
}  // namespace korvo
