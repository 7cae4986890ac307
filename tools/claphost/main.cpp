// claphost: loads a .clap file the way a host does and prints what a host sees, or drives the
// plug-in at random.
//
//   claphost info <file.clap> [--host-name NAME]
//   claphost editor <file.clap> [--shot OUT.png] [--scale S] [--do ACTION]...   (editor.h)
//   claphost fuzz <file.clap> [--seed N] [--steps N | --seconds S] [--any-output]
//
// fuzz prints the seed and a summary; on a broken check it prints the check with the steps that
// led there and exits 1 (2 for bad arguments or a module that cannot be loaded).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/claphost/editor.h"
#include "tools/claphost/fuzz.h"
#include "tools/claphost/host.h"
#include "tools/vst3host/allocations.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: claphost info <file.clap> [--host-name NAME]\n"
                 "       claphost editor <file.clap> [options]   (claphost editor for them)\n"
                 "       claphost fuzz <file.clap> [--seed N] [--steps N | --seconds S] [--any-output]\n");
    return 2;
}

int info(int argc, char** argv) {
    std::string hostName = "claphost";
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--host-name") == 0 && i + 1 < argc)
            hostName = argv[++i];
        else
            return usage();
    }
    std::string out;
    const bool ok = claphost::printModuleInfo(argv[2], hostName, out);
    std::fputs(out.c_str(), ok ? stdout : stderr);
    return ok ? 0 : 1;
}

int fuzz(int argc, char** argv) {
    claphost::FuzzOptions options;
    options.modulePath = argv[2];
    options.steps = 2000;
    bool stepsGiven = false;
    for (int i = 3; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        char* end = nullptr;
        if (std::strcmp(arg, "--any-output") == 0) {
            options.checkFiniteOutput = false;
            continue;
        }
        if (value == nullptr) return usage();
        if (std::strcmp(arg, "--seed") == 0) {
            options.seed = std::strtoull(value, &end, 10);
        } else if (std::strcmp(arg, "--steps") == 0) {
            options.steps = std::strtoll(value, &end, 10);
            stepsGiven = true;
        } else if (std::strcmp(arg, "--seconds") == 0) {
            options.seconds = std::strtod(value, &end);
            if (!stepsGiven) options.steps = 0;
        } else {
            return usage();
        }
        if (end == value || *end != '\0') return usage();
        ++i;
    }
    if (options.steps <= 0 && !(options.seconds > 0.0)) return usage();
    options.allocationCount = vst3host::processAllocationCounter();
    std::printf("claphost fuzz: seed %llu, %s\n", static_cast<unsigned long long>(options.seed),
                options.allocationCount != nullptr ? "allocations in process counted"
                                                   : "allocations not counted on this platform");
    std::fflush(stdout);
    claphost::FuzzReport report;
    const bool ok = claphost::runFuzz(options, report);
    std::printf(
        "%lld steps, %lld process calls (%lld refused), %lld frames, %lld events, %lld state round trips, "
        "%lld refused states, %lld instances\n",
        static_cast<long long>(report.steps), static_cast<long long>(report.processCalls),
        static_cast<long long>(report.processErrors), static_cast<long long>(report.framesProcessed),
        static_cast<long long>(report.eventsSent), static_cast<long long>(report.stateRoundTrips),
        static_cast<long long>(report.refusedStates), static_cast<long long>(report.instances));
    if (ok) {
        std::printf("1 passed, 0 failed\n");
        return 0;
    }
    std::printf("failed: %s\n", report.failure.c_str());
    if (!report.recentSteps.empty()) std::printf("last steps:\n%s", report.recentSteps.c_str());
    std::printf("0 passed, 1 failed\n");
    return report.steps == 0 ? 2 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "editor") == 0) {
        std::string out, err;
        const int status = claphost::runEditorCommand(std::vector<std::string>(argv + 2, argv + argc), out, err);
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return status;
    }
    if (argc < 3) return usage();
    if (std::strcmp(argv[1], "info") == 0) return info(argc, argv);
    if (std::strcmp(argv[1], "fuzz") == 0) return fuzz(argc, argv);
    return usage();
}
