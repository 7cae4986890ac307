#pragma once
// XvfbDisplay: a private X display for tests that open real windows. CI has no display of its own,
// so a test that needs one starts its own Xvfb, lets Xvfb pick a free display number, points
// DISPLAY at it and stops it by its PID when done. Nothing is found or killed by name, so tests of
// several engineers (and several test executables) run side by side without meeting.
//
//   #include "tests/support/xvfb.h"
//
//   TEST(MyWindow, Opens) {
//       korvo::test::XvfbDisplay& x = korvo::test::XvfbDisplay::shared();  // started on first use
//       ASSERT_TRUE(x.ok()) << x.error();
//       Display* d = XOpenDisplay(nullptr);   // DISPLAY names the private server now
//       ...
//   }
//
// shared() starts one server per test process on first use and stops it when the process exits;
// a test that wants a fresh server of its own constructs an XvfbDisplay (stopped by its
// destructor). Link korvo_test_support (and X11 for Xlib calls).
//
// How: `Xvfb -displayfd <fd> -screen 0 <w>x<h>x24 -nolisten tcp -noreset` is started with fork and
// exec; Xvfb chooses a free display number and writes it to the pipe <fd> once it accepts
// connections. The constructor waits for that number (at most kStartTimeoutMs) and sets DISPLAY
// to ":<number>" for the whole process. stop() sends SIGTERM to the recorded PID and reaps it
// (SIGKILL if it has not ended after 5 s), and puts the previous DISPLAY back. Should the test
// process die without stopping it, the server gets SIGTERM from the kernel (parent-death signal).
//
// Windows test executables run under Wine, which cannot start Xvfb for itself; CTest starts them
// through tests/support/with-xvfb, a launcher script that does the same (-displayfd, DISPLAY, stop
// by PID) around the Wine command and gives Wine a prefix of its own for window tests. In CMake:
// korvo_add_test(NAME DIR ... NEEDS_DISPLAY).
//
// Thread contract: construct, stop and shared() from the main test thread, before windows open.

#if !defined(_WIN32)

#include <sys/types.h>

#include <string>

namespace korvo::test {

class XvfbDisplay {
public:
    static constexpr int kStartTimeoutMs = 10000;

    // Starts a server with one screen of width x height at 24 bits and waits until it is ready.
    explicit XvfbDisplay(int width = 3200, int height = 2048);
    ~XvfbDisplay();  // stop()
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // The server of this test process, started on first use, stopped at exit.
    static XvfbDisplay& shared();

    bool ok() const { return pid_ > 0 && !name_.empty(); }
    // Why it is not ok (empty when it is).
    const std::string& error() const { return error_; }
    // ":<number>", the value DISPLAY has while the server runs.
    const std::string& name() const { return name_; }
    pid_t pid() const { return pid_; }

    // Stops the server (SIGTERM to its PID, then waits for it) and restores DISPLAY. Idempotent.
    void stop();

private:
    pid_t pid_ = -1;
    std::string name_;
    std::string error_;
    std::string previousDisplay_;
    bool hadDisplay_ = false;
};

}  // namespace korvo::test

#endif
