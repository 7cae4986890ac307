#include "tools/velmora/cli.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

#include "effect/main.h"
#include "tools/velmora/info.h"
#include "tools/velmora/render.h"

namespace velmora::cli {

namespace {

const char* usage() noexcept {
    return "usage: velmora <command> [arguments]\n"
           "commands:\n"
           "  render [INPUT] OUTPUT [options]   run audio (or the built-in demo) through the effect;\n"
           "                                    velmora render --help lists the options\n"
           "  info [--json]                     description, channels, latency, tail, parameters, presets\n"
           "  bench [benchmark options]         DSP throughput (frames/s and times real time)\n";
}

int runRender(std::span<const std::string> args, const Environment& environment, std::ostream& out,
              std::ostream& err) {
    RenderOptions options;
    std::string error;
    if (!parseRenderArguments(args, options, error)) {
        err << "velmora render: " << error << "\n";
        return kExitBadRequest;
    }
    if (options.helpRequested) {
        out << renderUsage();
        return kExitOk;
    }
    options.showProgress = environment.stderrIsTerminal;
    RenderReport report;
    const int code = render(options, report, error);
    if (code != kExitOk) err << "velmora render: " << error << "\n";
    return code;
}

int runInfo(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    InfoStyle style = InfoStyle::text;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            style = InfoStyle::json;
        } else if (arg == "-h" || arg == "--help") {
            out << "usage: velmora info [--json]\n";
            return 0;
        } else {
            err << "velmora info: unknown argument \"" << arg << "\"; valid: --json\n";
            return 2;
        }
    }
    auto client = korvo::makeHeap<VelmoraClient>();
    printInfo(*client, style, out);
    return 0;
}

int runBench(std::span<const std::string> args, const Environment& environment, std::ostream& out,
             std::ostream& err) {
    const std::string program = benchmarkPath(environment.executablePath);
    if (access(program.c_str(), X_OK) != 0) {
        err << "velmora bench: the benchmark program is not built (expected " << program
            << "); build the target velmora_dsp_bench\n";
        return 1;
    }
    std::vector<std::string> argv = {program, "--benchmark_counters_tabular=true"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    out.flush();
    err.flush();
    std::fflush(nullptr);
    execv(program.c_str(), pointers.data());
    err << "velmora bench: cannot run " << program << "\n";
    return 1;
}

}  // namespace

std::string benchmarkPath(const std::string& executablePath) {
    const std::size_t slash = executablePath.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : executablePath.substr(0, slash);
    return dir + "/../bench/velmora_dsp_bench";
}

int run(std::span<const std::string> args, const Environment& environment, std::ostream& out,
        std::ostream& err) {
    if (args.empty()) {
        err << usage();
        return 2;
    }
    const std::string& command = args[0];
    const std::span<const std::string> rest = args.subspan(1);
    if (command == "render") return runRender(rest, environment, out, err);
    if (command == "info") return runInfo(rest, out, err);
    if (command == "bench") return runBench(rest, environment, out, err);
    if (command == "-h" || command == "--help" || command == "help") {
        out << usage();
        return 0;
    }
    err << "velmora: \"" << command << "\" is not available yet\n" << usage();
    return 2;
}

}  // namespace velmora::cli
