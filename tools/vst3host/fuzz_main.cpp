// `vst3host fuzz`: the randomised host on the command line.
//
//   vst3host fuzz <bundle or binary> [--seed N] [--steps N | --seconds S] [--open-views] [--any-output]
//
// --open-views: the editor opens in a real window too (needs a display).
// --any-output: output samples need not be finite (for a plug-in that may overflow on extreme input).
// Prints the seed and a summary; on a broken check prints it with the steps that led there and
// exits 1 (2 for bad arguments or a module that cannot be loaded).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/vst3host/allocations.h"
#include "tools/vst3host/fuzz.h"
#include "tools/vst3host/host.h"

namespace vst3host {

int fuzzMain(int argc, char** argv) {
    FuzzOptions options;
    options.steps = 2000;
    bool stepsGiven = false;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        char* end = nullptr;
        if (std::strcmp(arg, "--open-views") == 0) {
            options.openViews = true;
            continue;
        } else if (std::strcmp(arg, "--any-output") == 0) {
            options.checkFiniteOutput = false;
            continue;
        } else if (std::strcmp(arg, "--seed") == 0 && value != nullptr) {
            options.seed = std::strtoull(value, &end, 10);
        } else if (std::strcmp(arg, "--steps") == 0 && value != nullptr) {
            options.steps = std::strtoll(value, &end, 10);
            stepsGiven = true;
        } else if (std::strcmp(arg, "--seconds") == 0 && value != nullptr) {
            options.seconds = std::strtod(value, &end);
            if (!stepsGiven) options.steps = 0;
        } else if (arg[0] != '-' && options.modulePath.empty()) {
            options.modulePath = arg;
            continue;
        } else {
            end = nullptr;
            value = nullptr;
        }
        if (value == nullptr || end == nullptr || *end != '\0' || end == value) {
            std::fprintf(stderr,
                         "usage: vst3host fuzz <bundle or binary> [--seed N] [--steps N | --seconds S] "
                         "[--open-views] [--any-output]\n");
            return 2;
        }
        ++i;
    }
    if (options.modulePath.empty() || (options.steps <= 0 && !(options.seconds > 0.0))) {
        std::fprintf(stderr,
                     "usage: vst3host fuzz <bundle or binary> [--seed N] [--steps N | --seconds S] "
                     "[--open-views] [--any-output]\n");
        return 2;
    }
    options.modulePath = Module::binaryPath(options.modulePath);
    options.allocationCount = processAllocationCounter();
    std::printf("vst3host fuzz: seed %llu, %s\n", static_cast<unsigned long long>(options.seed),
                options.allocationCount != nullptr ? "allocations in process counted"
                                                   : "allocations not counted on this platform");
    std::fflush(stdout);
    FuzzReport report;
    const bool ok = runFuzz(options, report);
    std::printf(
        "%lld steps, %lld process calls, %lld frames, %lld state round trips, %lld refused states, "
        "%lld instances, %lld editors opened, %lld edits from editors\n",
        static_cast<long long>(report.steps), static_cast<long long>(report.processCalls),
        static_cast<long long>(report.framesProcessed), static_cast<long long>(report.stateRoundTrips),
        static_cast<long long>(report.refusedStates), static_cast<long long>(report.instances),
        static_cast<long long>(report.viewsOpened), static_cast<long long>(report.editorEdits));
    if (ok) {
        std::printf("1 passed, 0 failed\n");
        return 0;
    }
    std::printf("failed: %s\n", report.failure.c_str());
    if (!report.recentSteps.empty()) std::printf("last steps:\n%s", report.recentSteps.c_str());
    std::printf("0 passed, 1 failed\n");
    return report.steps == 0 ? 2 : 1;
}

}  // namespace vst3host
