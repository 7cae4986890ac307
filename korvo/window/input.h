#pragma once
// What a window delivers and how it wants its pixels: the mouse state, buttons and keys of input
// events, and the byte order of the window's pixels. The window backends and the editor's
// elements both speak these.

#include <cstdint>

namespace korvo {

// Mouse buttons and modifier keys at the time of an event, one byte each.
struct MouseState {
    bool left = false;
    bool right = false;
    bool middle = false;
    bool x1 = false;
    bool x2 = false;
    bool ctrl = false;
    bool shift = false;
    bool alt = false;
};
static_assert(sizeof(MouseState) == 8);

enum class MouseButton : std::int32_t { left = 0, right = 1, middle = 2, x1 = 3, x2 = 4 };

// Keys as the elements see them. Letters are case-sensitive (`a` 15..`z` 40, `A` 41..`Z` 66); the
// editing and navigation keys added later follow `unsupported`, so the older values stay. The
// modifiers held with a key come with it; the character a key types arrives separately, as text
// (IWindowListener::onTextInput).
// clang-format off
enum class Key : std::int32_t {
    space = 0, arrowUp, arrowDown, arrowLeft, arrowRight,
    digit0, digit1, digit2, digit3, digit4, digit5, digit6, digit7, digit8, digit9,
    a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z,
    A, B, C, D, E, F, G, H, I, J, K, L, M, N, O, P, Q, R, S, T, U, V, W, X, Y, Z,
    backspace, enter, escape, unsupported,
    tab, home, end, deleteKey, pageUp, pageDown
};
// clang-format on
static_assert(static_cast<int>(Key::a) == 15 && static_cast<int>(Key::A) == 41 &&
              static_cast<int>(Key::backspace) == 67 && static_cast<int>(Key::unsupported) == 70 &&
              static_cast<int>(Key::pageDown) == 76);

// Byte order of the window's pixels in memory.
enum class PixelOrder : std::int32_t { BGRA8 = 0, ARGB8 = 1, RGBA8 = 2 };

}  // namespace korvo
