// `vst3host storm`: the GUI storm on the command line.
//
//   vst3host storm <bundle or binary> [--seed N] [--seconds S] [--cycles N] [--any-output]
//
// --seconds: how long the storm lasts (10 by default), the heap's open-close cycles after it.
// --cycles: editor open-close cycles counted for the heap (500 by default; 0: none).
// --any-output: output samples need not be finite (for a plug-in that may overflow).
// Needs a display. Prints the seed, one line per check, and "N passed, M failed"; on a broken check
// the actions that led there. Exits 1 when a check failed, 2 for bad arguments or a module that
// cannot be loaded.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/vst3host/allocations.h"
#include "tools/vst3host/host.h"
#include "tools/vst3host/storm.h"

namespace vst3host {

int stormMain(int argc, char** argv) {
    StormOptions options;
    bool bad = false;
    for (int i = 0; i < argc && !bad; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        char* end = nullptr;
        if (std::strcmp(arg, "--any-output") == 0) {
            options.checkFiniteOutput = false;
            continue;
        }
        if (arg[0] != '-' && options.modulePath.empty()) {
            options.modulePath = arg;
            continue;
        }
        if (value == nullptr) {
            bad = true;
        } else if (std::strcmp(arg, "--seed") == 0) {
            options.seed = std::strtoull(value, &end, 10);
        } else if (std::strcmp(arg, "--seconds") == 0) {
            options.seconds = std::strtod(value, &end);
        } else if (std::strcmp(arg, "--cycles") == 0) {
            options.cycles = static_cast<std::int32_t>(std::strtol(value, &end, 10));
        }
        bad = bad || end == nullptr || *end != '\0' || end == value;
        ++i;
    }
    if (bad || options.modulePath.empty() || !(options.seconds > 0.0) || options.cycles < 0) {
        std::fprintf(stderr, "usage: vst3host storm <bundle or binary> [--seed N] [--seconds S] [--cycles N] "
                             "[--any-output]\n");
        return 2;
    }
    options.modulePath = Module::binaryPath(options.modulePath);
    options.allocationCount = processAllocationCounter();
    std::printf("vst3host storm: seed %llu, %g s, %d open-close cycles, %s\n",
                static_cast<unsigned long long>(options.seed), options.seconds, static_cast<int>(options.cycles),
                options.allocationCount != nullptr ? "allocations in process counted"
                                                   : "allocations not counted on this platform");
    std::fflush(stdout);
    StormReport report;
    runStorm(options, report);
    for (const StormCheck& check : report.checks)
        std::printf("%s %s: %s\n", check.passed ? "ok  " : "FAIL", check.name.c_str(), check.detail.c_str());
    if (!report.recentSteps.empty())
        std::printf("last actions (seed %llu):\n%s", static_cast<unsigned long long>(options.seed),
                    report.recentSteps.c_str());
    const std::int64_t failed = report.failed();
    std::printf("%lld passed, %lld failed\n", static_cast<long long>(report.checks.size()) - failed,
                static_cast<long long>(failed));
    if (report.actions == 0) return 2;
    return failed == 0 ? 0 : 1;
}

}  // namespace vst3host
