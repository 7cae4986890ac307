// The editor host on Windows: our top-level window, the message loop, SendInput and BitBlt shots.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tools/vst3host/editor.h"

namespace vst3host {

struct EditorHost::Platform {
    HWND window = nullptr;
    EditorHost::FrameTimes times;
};

namespace {

const wchar_t* kClassName = L"vst3host_editor";

LRESULT CALLBACK hostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) return 0;  // closed by the program, not by a click
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void sendInput(INPUT input) {
    SendInput(1, &input, sizeof(INPUT));
}

constexpr DWORD kHostWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;

// Like current hosts, ours is DPI aware per monitor, so the system reports each monitor's real
// DPI to the windows of the process (a DPI-unaware process is told 96 and scaled by the system).
// Asked at run time: the functions exist from Windows 10 (per monitor) and Vista (system).
void becomeDpiAware() {
    static bool done = false;
    if (done) return;
    done = true;
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    using PerMonitor = BOOL(WINAPI*)(HANDLE);
    using System = BOOL(WINAPI*)();
    const auto perMonitor = reinterpret_cast<PerMonitor>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (perMonitor != nullptr && perMonitor(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4)))) return;
    const auto system =
        reinterpret_cast<System>(reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware")));
    if (system != nullptr) system();
}

}  // namespace

EditorHost::EditorHost() : platform_(std::make_unique<Platform>()) {
    becomeDpiAware();
}

EditorHost::~EditorHost() {
    close();
}

void* EditorHost::windowHandle() const {
    return platform_->window;
}

void EditorHost::resetFrameTimes() {
    platform_->times = FrameTimes{};
}

EditorHost::FrameTimes EditorHost::frameTimes() const {
    return platform_->times;
}

std::uintptr_t EditorHost::childWindow() const {
    if (platform_->window == nullptr) return 0;
    return reinterpret_cast<std::uintptr_t>(GetWindow(platform_->window, GW_CHILD));
}

bool EditorHost::createWindow(std::string& error) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &hostWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        wc.lpszClassName = kClassName;
        registered = RegisterClassW(&wc) != 0;
    }
    const DWORD style = kHostWindowStyle;
    RECT r{0, 0, size_.right - size_.left, size_.bottom - size_.top};
    AdjustWindowRect(&r, style, FALSE);
    platform_->window =
        CreateWindowExW(0, kClassName, L"vst3host editor", style, 0, 0, r.right - r.left, r.bottom - r.top,
                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (platform_->window == nullptr) {
        error = "cannot create the host window (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    SetForegroundWindow(platform_->window);
    run(50);
    return true;
}

void EditorHost::resizeWindow(std::int32_t width, std::int32_t height) {
    if (platform_->window == nullptr || width <= 0 || height <= 0) return;
    RECT r{0, 0, width, height};
    AdjustWindowRect(&r, kHostWindowStyle, FALSE);
    SetWindowPos(platform_->window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    run(10);
}

void EditorHost::destroyWindow() {
    if (platform_->window == nullptr) return;
    DestroyWindow(platform_->window);
    platform_->window = nullptr;
    run(0);
}

void EditorHost::run(std::uint32_t ms) {
    const std::uint64_t end = monotonicMs() + ms;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            // The editor's work: every message of its window (a tick paints inside its timer message).
            const bool editor = msg.hwnd != nullptr && msg.hwnd != platform_->window;
            const double start = preciseMs();
            DispatchMessageW(&msg);
            if (editor) {
                const double spent = preciseMs() - start;
                FrameTimes& t = platform_->times;
                t.busyMs += spent;
                if (msg.message == WM_TIMER) {
                    ++t.ticks;
                    t.longestTickMs = std::max(t.longestTickMs, spent);
                }
            }
        }
        const std::uint64_t now = monotonicMs();
        if (now >= end) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<std::uint64_t>(end - now, 5)), QS_ALLINPUT);
    } while (monotonicMs() < end);
}

void EditorHost::mouseMove(std::int32_t x, std::int32_t y) {
    if (platform_->window == nullptr) return;
    POINT p{x, y};
    ClientToScreen(platform_->window, &p);
    // Exact pixels: the absolute form of SendInput goes through a 0..65535 scale and can land one
    // pixel off.
    SetCursorPos(p.x, p.y);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;  // a move of 0: the system reports the position it has
    sendInput(input);
    run(20);
}

void EditorHost::mouseButton(int button, bool down) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    switch (button) {
        case 2:
            input.mi.dwFlags = down ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP;
            break;
        case 3:
            input.mi.dwFlags = down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
            break;
        default:
            input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
            break;
    }
    sendInput(input);
    run(20);
}

void EditorHost::wheel(int notches) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_WHEEL;
    input.mi.mouseData = static_cast<DWORD>(notches * WHEEL_DELTA);
    sendInput(input);
    run(20);
}

bool EditorHost::key(const std::string& name, bool down) {
    WORD vk = 0;
    if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z')
        vk = static_cast<WORD>(name[0] - 'a' + 'A');
    else if (name.size() == 1 && name[0] >= '0' && name[0] <= '9')
        vk = static_cast<WORD>(name[0]);
    else if (name == "space")
        vk = VK_SPACE;
    else if (name == "enter")
        vk = VK_RETURN;
    else if (name == "escape")
        vk = VK_ESCAPE;
    else if (name == "backspace")
        vk = VK_BACK;
    else if (name == "left")
        vk = VK_LEFT;
    else if (name == "right")
        vk = VK_RIGHT;
    else if (name == "up")
        vk = VK_UP;
    else if (name == "down")
        vk = VK_DOWN;
    else if (name == "tab")
        vk = VK_TAB;
    else if (name == "home")
        vk = VK_HOME;
    else if (name == "end")
        vk = VK_END;
    else if (name == "pageup")
        vk = VK_PRIOR;
    else if (name == "pagedown")
        vk = VK_NEXT;
    else if (name == "delete")
        vk = VK_DELETE;
    else if (name == "shift")
        vk = VK_SHIFT;
    else if (name == "ctrl")
        vk = VK_CONTROL;
    else if (name == "alt")
        vk = VK_MENU;
    else if (name.size() >= 2 && name[0] == 'f') {
        const int n = std::atoi(name.c_str() + 1);
        if (n >= 1 && n <= 12) vk = static_cast<WORD>(VK_F1 + n - 1);
    }
    if (vk == 0) return false;
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    sendInput(input);
    run(20);
    return true;
}

bool EditorHost::screenshot(Image& out, std::string& error) {
    HWND source = platform_->window != nullptr ? GetWindow(platform_->window, GW_CHILD) : nullptr;
    if (source == nullptr) {
        error = "the editor has no window";
        return false;
    }
    const int width = size_.right - size_.left, height = size_.bottom - size_.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC windowDC = GetDC(source);
    HDC memoryDC = CreateCompatibleDC(windowDC);
    HBITMAP bitmap = CreateDIBSection(windowDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr && bits != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memoryDC, bitmap);
        ok = BitBlt(memoryDC, 0, 0, width, height, windowDC, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        if (ok) {
            out.width = width;
            out.height = height;
            out.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
            const auto* s = static_cast<const std::uint8_t*>(bits);
            std::uint8_t* d = out.rgba.data();
            for (std::size_t i = 0; i < out.rgba.size(); i += 4) {
                d[i] = s[i + 2];
                d[i + 1] = s[i + 1];
                d[i + 2] = s[i];
                d[i + 3] = 255;
            }
        }
        SelectObject(memoryDC, old);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    DeleteDC(memoryDC);
    ReleaseDC(source, windowDC);
    if (!ok) error = "BitBlt failed";
    return ok;
}

}  // namespace vst3host
