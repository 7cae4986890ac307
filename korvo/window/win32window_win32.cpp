// The Win32 window: class registration, the window procedure and the message sequences.
#include <objbase.h>
#include <windows.h>
#include <windowsx.h>

#include <cstdio>
#include <cstdlib>

#include "korvo/core/fpcontrol.h"
#include "korvo/core/nogc.h"
#include "korvo/window/win32window.h"

namespace korvo {

namespace {

HWND asHwnd(void* handle) noexcept {
    return static_cast<HWND>(handle);
}

LRESULT CALLBACK korvoWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (window == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
    // The host's floating-point setting is restored when the guard goes, on every path.
    FPControl guard;
    if (!window->hasListener()) return DefWindowProcW(hwnd, message, wParam, lParam);
    return static_cast<LRESULT>(window->handleMessage(message, static_cast<std::uintptr_t>(wParam),
                                                      static_cast<std::intptr_t>(lParam)));
}

// "korvo_" followed by a random version-4 UUID, lower-case 8-4-4-4-12.
void makeClassName(wchar_t (&name)[43]) noexcept {
    std::uint8_t bytes[16] = {};
    GUID guid{};
    if (CoCreateGuid(&guid) == S_OK) {
        static_assert(sizeof(guid) == sizeof(bytes));
        std::memcpy(bytes, &guid, sizeof(bytes));
    } else {
        // Only if the system cannot make one: the counter and this object's address still differ
        // between instances.
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        const std::uint64_t a = static_cast<std::uint64_t>(counter.QuadPart);
        const std::uint64_t b = reinterpret_cast<std::uintptr_t>(&name) * 0x9E3779B97F4A7C15ull;
        std::memcpy(bytes, &a, 8);
        std::memcpy(bytes + 8, &b, 8);
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static const wchar_t digits[] = L"0123456789abcdef";
    const wchar_t prefix[] = L"korvo_";
    int n = 0;
    for (int i = 0; prefix[i] != 0; ++i) name[n++] = prefix[i];
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) name[n++] = L'-';
        name[n++] = digits[bytes[i] >> 4];
        name[n++] = digits[bytes[i] & 15];
    }
    name[n] = 0;
}

// The DPI of a window where the system can tell it per window (Windows 10 1607 and later, and
// Wine), else the screen's: user32 is asked at run time, so the DLL loads on older systems too.
UINT windowDpi(HWND hwnd) noexcept {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr && hwnd != nullptr) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0) return dpi;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96u;
}

constexpr UINT kDpiChangedAfterParent = 0x02E3;  // WM_DPICHANGED_AFTERPARENT
constexpr UINT kDpiChanged = 0x02E0;             // WM_DPICHANGED

}  // namespace

float systemMonitorScale() noexcept {
    using GetDpiForSystemFn = UINT(WINAPI*)();
    const auto getDpiForSystem = reinterpret_cast<GetDpiForSystemFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForSystem")));
    const UINT dpi = getDpiForSystem != nullptr ? getDpiForSystem() : windowDpi(nullptr);
    return dpi > 0 ? static_cast<float>(dpi) / 96.0f : 0.0f;
}

void Win32Window::setSize(std::int32_t width, std::int32_t height) {
    if (_hwnd == nullptr || width <= 0 || height <= 0) return;
    FPControl guard;
    SetWindowPos(asHwnd(_hwnd), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(asHwnd(_hwnd), nullptr, FALSE);
}

void Win32Window::returnFocus() {
    HWND hwnd = asHwnd(_hwnd);
    HWND parent = hwnd != nullptr ? GetParent(hwnd) : nullptr;
    if (parent != nullptr && GetFocus() == hwnd) SetFocus(parent);
}

void Win32Window::setVisible(bool visible) {
    if (_hwnd != nullptr) ShowWindow(asHwnd(_hwnd), visible ? SW_SHOWNA : SW_HIDE);
}

float Win32Window::monitorScale() {
    return static_cast<float>(windowDpi(asHwnd(_hwnd))) / 96.0f;
}

Win32Window::Win32Window(void* parent, IWindowListener* listener, std::int32_t width, std::int32_t height)
    : _listener(listener) {
    _instance = GetModuleHandleA(nullptr);
    makeClassName(_className);
    WNDCLASSW wc{};
    wc.style = CS_OWNDC | CS_DBLCLKS;  // 0x28
    wc.lpfnWndProc = &korvoWindowProc;
    wc.hInstance = static_cast<HINSTANCE>(_instance);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = _className;
    if (RegisterClassW(&wc) == 0) fatalError("window: cannot register the window class");
    _classRegistered = true;

    HWND parentHwnd = parent != nullptr ? asHwnd(parent) : GetDesktopWindow();
    const DWORD style = parent != nullptr ? (WS_CHILD | WS_VISIBLE) : WS_VISIBLE;
    HWND hwnd = CreateWindowExW(0, _className, nullptr, style, CW_USEDEFAULT, CW_USEDEFAULT, width, height,
                                parentHwnd, nullptr, static_cast<HINSTANCE>(_instance), nullptr);
    if (hwnd == nullptr) fatalError("window: cannot create the window");
    _hwnd = hwnd;

    _updateRegion = CreateRectRgn(0, 0, 0, 0);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (_listener != nullptr) SetTimer(hwnd, kTimerId, kTimerPeriodMs, nullptr);
    SetFocus(hwnd);
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    _counterFrequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    _creationMs = _lastTickMs = timeMs();
}

Win32Window::~Win32Window() {
    destroyNativeWindow();
    if (_updateRegion != nullptr) DeleteObject(static_cast<HRGN>(_updateRegion));
    _updateRegion = nullptr;
    heapFree(_regionData);
    _regionData = nullptr;
}

void Win32Window::destroyNativeWindow() {
    if (_hwnd != nullptr) {
        HWND hwnd = asHwnd(_hwnd);
        // From here on the window procedure no longer reaches this object (destruction sends
        // messages of its own, such as the end of a capture).
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        KillTimer(hwnd, kTimerId);
        DestroyWindow(hwnd);
        _hwnd = nullptr;
    }
    if (_classRegistered) {
        UnregisterClassW(_className, static_cast<HINSTANCE>(_instance));
        _classRegistered = false;
    }
}

void Win32Window::pumpOneMessage() {
    if (_hwnd == nullptr) return;
    MSG msg{};
    if (GetMessageW(&msg, asHwnd(_hwnd), 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

std::uint32_t Win32Window::timeMs() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    // (counter * 1000 + f / 2) / f, split so that counter * 1000 cannot overflow after long uptimes.
    const std::uint64_t c = static_cast<std::uint64_t>(counter.QuadPart);
    const std::uint64_t f = static_cast<std::uint64_t>(_counterFrequency);
    return static_cast<std::uint32_t>((c / f) * 1000 + ((c % f) * 1000 + f / 2) / f);
}

Key Win32Window::translateKey(std::uint32_t vk, bool shift) noexcept {
    switch (vk) {
        case 8:
            return Key::backspace;
        case 9:
            return Key::tab;
        case 33:
            return Key::pageUp;
        case 34:
            return Key::pageDown;
        case 35:
            return Key::end;
        case 36:
            return Key::home;
        case 46:
            return Key::deleteKey;
        case 13:
            return Key::enter;
        case 27:
            return Key::escape;
        case 32:
            return Key::space;
        case 37:
            return Key::arrowLeft;
        case 38:
            return Key::arrowUp;
        case 39:
            return Key::arrowRight;
        case 40:
            return Key::arrowDown;
        default:
            break;
    }
    if (vk >= '0' && vk <= '9')
        return static_cast<Key>(static_cast<int>(Key::digit0) + static_cast<int>(vk - '0'));
    if (vk >= 96 && vk <= 105)
        return static_cast<Key>(static_cast<int>(Key::digit0) + static_cast<int>(vk - 96));
    if (vk >= 'A' && vk <= 'Z')
        return static_cast<Key>(static_cast<int>(shift ? Key::A : Key::a) + static_cast<int>(vk - 'A'));
    return Key::unsupported;
}

MouseState Win32Window::mouseState(std::uintptr_t wParam) noexcept {
    const auto keys = static_cast<std::uint32_t>(wParam & 0xFFFF);
    MouseState state;
    state.left = (keys & MK_LBUTTON) != 0;
    state.right = (keys & MK_RBUTTON) != 0;
    state.middle = (keys & MK_MBUTTON) != 0;
    state.x1 = (keys & MK_XBUTTON1) != 0;
    state.x2 = (keys & MK_XBUTTON2) != 0;
    state.ctrl = (keys & MK_CONTROL) != 0;
    state.shift = (keys & MK_SHIFT) != 0;
    state.alt = (GetKeyState(VK_MENU) & 0x8000) != 0;
    return state;
}

void Win32Window::refreshSequence() {
    _listener->computeDirtyAreas();
    const IntRect box = _listener->dirtyBounds();
    if (box.empty() || _hwnd == nullptr) return;
    const RECT rect{box.min.x, box.min.y, box.max.x, box.max.y};
    InvalidateRect(asHwnd(_hwnd), &rect, FALSE);
    UpdateWindow(asHwnd(_hwnd));
}

void Win32Window::animationSequence() {
    const std::uint32_t now = timeMs();
    const double dt = static_cast<double>(now - _lastTickMs) * 0.001;
    const double time = static_cast<double>(now - _creationMs) * 0.001;
    _lastTickMs = now;
    _listener->onAnimate(dt, time);
    refreshSequence();
}

void Win32Window::paintSequence() {
    HWND hwnd = asHwnd(_hwnd);
    HRGN region = static_cast<HRGN>(_updateRegion);
    GetUpdateRgn(hwnd, region, FALSE);
    const DWORD needed = GetRegionData(region, 0, nullptr);
    if (needed > _regionDataSize) {
        heapFree(_regionData);
        _regionDataSize = needed * 2;
        _regionData = static_cast<std::uint8_t*>(heapAlloc(_regionDataSize));
    }
    _updateRects.clear();
    if (needed > 0) {
        if (GetRegionData(region, _regionDataSize, reinterpret_cast<RGNDATA*>(_regionData)) != needed)
            fatalError("window: the update region changed while it was read");
        const auto* data = reinterpret_cast<const RGNDATA*>(_regionData);
        const auto* rects = reinterpret_cast<const RECT*>(data->Buffer);
        for (DWORD i = 0; i < data->rdh.nCount; ++i)
            _updateRects.push(IntRect{{rects[i].left, rects[i].top}, {rects[i].right, rects[i].bottom}});
    }

    RECT client{};
    if (!GetClientRect(hwnd, &client)) fatalError("window: cannot read the client rectangle");
    const std::int32_t width = client.right - client.left, height = client.bottom - client.top;
    if (width != _width || height != _height) {
        _width = width;
        _height = height;
        _frame = _listener->onResize(width, height);
    }
    _listener->onDraw(PixelOrder::BGRA8);

    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(hwnd, &paint);
    if (dc != nullptr && _frame.pixels != nullptr && _frame.w > 0 && _frame.h > 0 &&
        _frame.pitch == _frame.w * 4) {
        BITMAPINFOHEADER header{};
        header.biSize = 40;
        header.biWidth = _frame.w;
        header.biHeight = -_frame.h;  // top-down
        header.biPlanes = 1;
        header.biBitCount = 32;
        header.biCompression = BI_RGB;
        header.biSizeImage = static_cast<DWORD>(_frame.pitch * _frame.h);
        header.biXPelsPerMeter = 72;
        header.biYPelsPerMeter = 72;
        for (const IntRect& r : _updateRects) {
            if (r.width() <= 0 || r.height() <= 0) continue;
            SetDIBitsToDevice(dc, r.min.x, r.min.y, static_cast<DWORD>(r.width()),
                              static_cast<DWORD>(r.height()), r.min.x, _frame.h - r.max.y, 0,
                              static_cast<UINT>(_frame.h), _frame.pixels,
                              reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS);
        }
    }
    EndPaint(hwnd, &paint);
}

std::intptr_t Win32Window::clickSequence(MouseButton button, bool isDoubleClick, std::uintptr_t wParam,
                                         std::uint32_t message, std::intptr_t lParam) {
    HWND hwnd = asHwnd(_hwnd);
    SetFocus(hwnd);
    SetCapture(hwnd);
    const bool handled = _listener->onMouseClick(_mouseX, _mouseY, button, isDoubleClick, mouseState(wParam));
    if (handled) {
        refreshSequence();
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::intptr_t Win32Window::releaseSequence(MouseButton button, std::uintptr_t wParam, std::uint32_t message,
                                           std::intptr_t lParam) {
    HWND hwnd = asHwnd(_hwnd);
    ReleaseCapture();
    const bool handled = _listener->onMouseRelease(_mouseX, _mouseY, button, mouseState(wParam));
    if (handled) {
        refreshSequence();
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::intptr_t Win32Window::textSequence(std::uintptr_t wParam, std::intptr_t lParam) {
    HWND hwnd = asHwnd(_hwnd);
    // UTF-16 units, a character outside the basic plane in two messages; control characters
    // (Backspace, Tab, Enter, Escape, Ctrl + letter) are keys, not text.
    const auto unit = static_cast<std::uint32_t>(wParam & 0xFFFF);
    std::uint32_t code = unit;
    if (unit >= 0xD800 && unit < 0xDC00) {
        _highSurrogate = unit;
        return 0;
    }
    if (unit >= 0xDC00 && unit < 0xE000) {
        if (_highSurrogate == 0) return 0;
        code = 0x10000 + ((_highSurrogate - 0xD800) << 10) + (unit - 0xDC00);
    }
    _highSurrogate = 0;
    if (code < 32 || code == 127) return 0;
    char text[5] = {};
    if (code < 0x80) {
        text[0] = static_cast<char>(code);
    } else if (code < 0x800) {
        text[0] = static_cast<char>(0xC0 | (code >> 6));
        text[1] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text[0] = static_cast<char>(0xE0 | (code >> 12));
        text[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text[2] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text[0] = static_cast<char>(0xF0 | (code >> 18));
        text[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text[3] = static_cast<char>(0x80 | (code & 0x3F));
    }
    if (_listener->onTextInput(text)) {
        refreshSequence();
        return 0;
    }
    HWND root = GetAncestor(hwnd, GA_ROOT);
    if (root != nullptr && root != hwnd) SendMessageW(root, WM_CHAR, wParam, lParam);
    return 0;
}

std::intptr_t Win32Window::keySequence(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    HWND hwnd = asHwnd(_hwnd);
    _shiftDown = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    const Key key = translateKey(static_cast<std::uint32_t>(wParam), _shiftDown);
    MouseState modifiers;
    modifiers.shift = _shiftDown;
    modifiers.ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    modifiers.alt = (GetKeyState(VK_MENU) & 0x8000) != 0;
    const bool handled =
        message == WM_KEYDOWN ? _listener->onKeyDown(key, modifiers) : _listener->onKeyUp(key, modifiers);
    if (handled) {
        refreshSequence();
        return 0;
    }
    // The host gets the keys the editor does not use. A window without a parent is its own root:
    // sending it the message again would never end.
    HWND root = GetAncestor(hwnd, GA_ROOT);
    if (root != nullptr && root != hwnd) SendMessageW(root, message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::intptr_t Win32Window::handleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    HWND hwnd = asHwnd(_hwnd);
    const auto w = static_cast<WPARAM>(wParam);
    const auto l = static_cast<LPARAM>(lParam);
    switch (message) {
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            return 0;
        case WM_PAINT:
            paintSequence();
            return 0;
        case WM_CLOSE:
            destroyNativeWindow();
            _closed = true;
            return 0;
        case WM_MOUSEMOVE: {
            const std::int32_t x = GET_X_LPARAM(l), y = GET_Y_LPARAM(l);
            _listener->onMouseMove(x, y, x - _mouseX, y - _mouseY, mouseState(wParam));
            _mouseX = x;
            _mouseY = y;
            refreshSequence();
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            return clickSequence(MouseButton::left, message == WM_LBUTTONDBLCLK, wParam, message, lParam);
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
            return clickSequence(MouseButton::right, message == WM_RBUTTONDBLCLK, wParam, message, lParam);
        case WM_MBUTTONDOWN:
        case WM_MBUTTONDBLCLK:
            return clickSequence(MouseButton::middle, message == WM_MBUTTONDBLCLK, wParam, message, lParam);
        case WM_XBUTTONDOWN:
        case WM_XBUTTONDBLCLK:
            return clickSequence(GET_XBUTTON_WPARAM(w) == XBUTTON1 ? MouseButton::x1 : MouseButton::x2,
                                 message == WM_XBUTTONDBLCLK, wParam, message, lParam);
        case WM_LBUTTONUP:
            return releaseSequence(MouseButton::left, wParam, message, lParam);
        case WM_RBUTTONUP:
            return releaseSequence(MouseButton::right, wParam, message, lParam);
        case WM_MBUTTONUP:
            return releaseSequence(MouseButton::middle, wParam, message, lParam);
        case WM_XBUTTONUP:
            return releaseSequence(GET_XBUTTON_WPARAM(w) == XBUTTON1 ? MouseButton::x1 : MouseButton::x2,
                                   wParam, message, lParam);
        case WM_MOUSEWHEEL: {
            RECT windowRect{};
            GetWindowRect(hwnd, &windowRect);
            const std::int32_t x = GET_X_LPARAM(l) - windowRect.left, y = GET_Y_LPARAM(l) - windowRect.top;
            const std::int32_t deltaY = wheelNotches(GET_WHEEL_DELTA_WPARAM(w));
            if (_listener->onMouseWheel(x, y, 0, deltaY, mouseState(wParam))) {
                refreshSequence();
                return 0;
            }
            return DefWindowProcA(hwnd, message, w, l);
        }
        case WM_CAPTURECHANGED:
            _listener->onCaptureLost();
            return DefWindowProcA(hwnd, message, w, l);
        case WM_KEYDOWN:
        case WM_KEYUP:
            return keySequence(message, wParam, lParam);
        case WM_CHAR:
            return textSequence(wParam, lParam);
        case WM_TIMER:
            if (wParam == kTimerId) animationSequence();
            return 0;
        case kDpiChangedAfterParent:
            _listener->onMonitorScaleChanged(monitorScale());
            refreshSequence();
            return 0;
        case kDpiChanged:
            _listener->onMonitorScaleChanged(static_cast<float>(LOWORD(w)) / 96.0f);
            refreshSequence();
            return 0;
        default:
            return DefWindowProcA(hwnd, message, w, l);
    }
}

}  // namespace korvo
