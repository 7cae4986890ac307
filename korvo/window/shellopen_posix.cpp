// The system URL launcher on Linux and other POSIX systems: a detached xdg-open.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "korvo/window/shellopen.h"

extern char** environ;

namespace korvo {

bool systemURLLauncher(const char* url) noexcept {
    // The shell puts xdg-open in the background and exits at once, so the browser is never our
    // child and the wait below only covers the shell's own start and exit. The address is passed
    // as a positional argument, never as shell text.
    char arg0[] = "sh";
    char arg1[] = "-c";
    char script[] = "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";
    char arg3[] = "sh";
    char* argv[] = {arg0, arg1, script, arg3, const_cast<char*>(url), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace korvo
