#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/support/xvfb.h"

namespace korvo::test {

namespace {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

XvfbDisplay::XvfbDisplay(int width, int height) {
    if (const char* current = std::getenv("DISPLAY")) {
        hadDisplay_ = true;
        previousDisplay_ = current;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = "pipe failed";
        return;
    }
    // Everything the child needs is prepared before fork: only exec-safe calls happen after it.
    const std::string fdText = std::to_string(fds[1]);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const char* argv[] = {"Xvfb",         "-displayfd", fdText.c_str(), "-screen",  "0",
                          screen.c_str(), "-nolisten",  "tcp",          "-noreset", nullptr};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        error_ = "fork failed";
        return;
    }
    if (pid == 0) {
        // The server goes with this process even if it dies without stopping it (a crashed test).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        close(fds[0]);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execvp("Xvfb", const_cast<char* const*>(argv));
        _exit(127);
    }
    pid_ = pid;
    close(fds[1]);

    // Read "<number>\n" from the pipe.
    std::string number;
    const std::int64_t deadline = nowMs() + kStartTimeoutMs;
    bool done = false;
    while (!done) {
        const std::int64_t left = deadline - nowMs();
        if (left <= 0) {
            error_ = "Xvfb did not report a display within " + std::to_string(kStartTimeoutMs) + " ms";
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[32];
        const ssize_t got = read(fds[0], buffer, sizeof(buffer));
        if (got <= 0) {
            error_ = "Xvfb exited before reporting a display (is the xvfb package installed?)";
            break;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n') {
                done = true;
                break;
            }
            number.push_back(buffer[i]);
        }
    }
    close(fds[0]);
    if (!done || number.empty()) {
        if (error_.empty()) error_ = "Xvfb reported no display number";
        stop();
        return;
    }
    name_ = ":" + number;
    setenv("DISPLAY", name_.c_str(), 1);
}

XvfbDisplay::~XvfbDisplay() {
    stop();
}

XvfbDisplay& XvfbDisplay::shared() {
    static XvfbDisplay display;
    return display;
}

void XvfbDisplay::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const std::int64_t deadline = nowMs() + 5000;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (nowMs() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    if (!name_.empty()) {
        if (hadDisplay_)
            setenv("DISPLAY", previousDisplay_.c_str(), 1);
        else
            unsetenv("DISPLAY");
    }
    name_.clear();
}

}  // namespace korvo::test
