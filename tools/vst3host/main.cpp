// vst3host: loads a VST3 module the way a host does and prints what a host sees.
//
//   vst3host info <bundle or binary> [--host-name NAME]
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/vst3host/host.h"

namespace {
int usage() {
    std::fprintf(stderr, "usage: vst3host info <bundle or binary> [--host-name NAME]\n");
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], "info") != 0) return usage();
    std::string path = argv[2];
    std::string hostName = "vst3host";
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--host-name") == 0 && i + 1 < argc)
            hostName = argv[++i];
        else
            return usage();
    }
    std::string out;
    const bool ok = vst3host::printModuleInfo(path, hostName, out);
    std::fputs(out.c_str(), ok ? stdout : stderr);
    return ok ? 0 : 1;
}
