#pragma once
// The `velmora` command line: sub-command dispatch.
//
//   velmora render [INPUT] OUTPUT [options]   render through the effect (see render.h)
//   velmora info [--json]                     what the effect declares
//   velmora bench [benchmark options]         the DSP benchmark's table
//   velmora screenshot OUT.png [--size WxH]   the GUI rendered off-screen (see screenshot.h)
//
// Exit codes: 0 success, 1 failure while working (writing, running the benchmark), 2 a bad
// request (unknown command, bad argument, file, parameter, value or preset). [main-thread]

#include <ostream>
#include <span>
#include <string>

namespace velmora::cli {

struct Environment {
    std::string executablePath;     // this program's own path (for the benchmark's location)
    bool stderrIsTerminal = false;  // progress bars only on a terminal
};

// args excludes the program name.
int run(std::span<const std::string> args, const Environment& environment, std::ostream& out,
        std::ostream& err);

// The path of another program of the build, relative to the folder of the tool at executablePath.
std::string siblingToolPath(const std::string& executablePath, const std::string& relative);

// The benchmark program beside a tool at executablePath (<build>/tools/velmora ->
// <build>/bench/velmora_dsp_bench).
std::string benchmarkPath(const std::string& executablePath);

}  // namespace velmora::cli
