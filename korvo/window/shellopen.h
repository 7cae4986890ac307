#pragma once
// Opening a web page in the user's browser (the logo and link labels of an editor).
//
// Only absolute http:// or https:// addresses are opened: the scheme is matched without regard to
// case, a host part must follow the two slashes, and the address may hold no control character,
// no space and no byte above 126 (a host passing odd text through a preset or a label must not be
// able to start a program or open a local file). Anything else is refused.
//
// The page is opened without waiting for the browser: on Windows through the shell's "open" verb
// (ShellExecuteA, normal window), elsewhere through a detached `xdg-open` started by /bin/sh in
// the background (the editor thread only waits for that shell to fork and exit).
//
// Tests and tools may replace the launcher (setURLLauncher) so that nothing is started.
//
// Thread contract: [main-thread] (the editor thread). Never on the audio thread: it allocates and
// starts a process.

#include <string_view>

namespace korvo {

enum class OpenURLResult {
    opened,   // handed to the launcher, which accepted it
    refused,  // not an http(s) address we open
    failed,   // the launcher could not start
};

// True when `url` is an address openURL would hand to the launcher.
bool isOpenableURL(std::string_view url) noexcept;

// Checks `url` and hands a NUL-terminated copy of it to the launcher.
OpenURLResult openURL(std::string_view url) noexcept;

// A launcher receives a checked, NUL-terminated address and returns whether it started.
using URLLauncher = bool (*)(const char* url);
// Replaces the launcher (null restores the system one). Returns the previous one (null when it
// was the system launcher).
URLLauncher setURLLauncher(URLLauncher launcher) noexcept;
// The system launcher itself (ShellExecuteA, or the detached xdg-open).
bool systemURLLauncher(const char* url) noexcept;

}  // namespace korvo
