// velmora: the effect's command-line tool (render, info, bench, and info --plugin through vst3host).
#include <unistd.h>

#include <climits>
#include <iostream>
#include <string>
#include <vector>

#include "tools/velmora/cli.h"

int main(int argc, char** argv) {
    velmora::cli::Environment environment;
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    environment.executablePath = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : argv[0];
    environment.stderrIsTerminal = isatty(STDERR_FILENO) == 1;
    const std::vector<std::string> args(argv + 1, argv + argc);
    return velmora::cli::run(args, environment, std::cout, std::cerr);
}
