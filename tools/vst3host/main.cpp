// vst3host: loads a VST3 module the way a host does and prints what a host sees, or opens its
// editor in a window of its own.
//
//   vst3host info <bundle or binary> [--host-name NAME] [--editor-shot OUT.png]
//   vst3host editor <bundle or binary> [--time MS] [--shot OUT.png] [--do ACTION]...   (see editor.h)
//   vst3host moduleinfo <bundle or binary> [OUT.json]   (stdout without OUT)
//   vst3host fuzz <bundle or binary> [--seed N] [--steps N | --seconds S] [--open-views]   (fuzz_main.cpp)
//   vst3host storm <bundle or binary> [--seed N] [--seconds S] [--cycles N]   (storm.h, storm_main.cpp)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vst3host/editor.h"
#include "tools/vst3host/host.h"

namespace vst3host {
int fuzzMain(int argc, char** argv);
int stormMain(int argc, char** argv);
}

namespace {
int usage() {
    std::fprintf(stderr,
                 "usage: vst3host info <bundle or binary> [--host-name NAME] [--editor-shot OUT.png]\n"
                 "       vst3host editor <bundle or binary> [options]   (vst3host editor for the options)\n"
                 "       vst3host moduleinfo <bundle or binary> [OUT.json]\n"
                 "       vst3host fuzz <bundle or binary> [--seed N] [--steps N | --seconds S]\n"
                 "                                   [--open-views]\n"
                 "       vst3host storm <bundle or binary> [--seed N] [--seconds S] [--cycles N]\n");
    return 2;
}

int info(int argc, char** argv) {
    std::string path = argv[2];
    std::string hostName = "vst3host", shot;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--host-name") == 0 && i + 1 < argc)
            hostName = argv[++i];
        else if (std::strcmp(argv[i], "--editor-shot") == 0 && i + 1 < argc)
            shot = argv[++i];
        else
            return usage();
    }
    std::string out;
    bool ok = vst3host::printModuleInfo(path, hostName, out);
    if (ok && !shot.empty()) ok = vst3host::saveEditorShot(path, hostName, shot, out);
    std::fputs(out.c_str(), ok ? stdout : stderr);
    return ok ? 0 : 1;
}

// Writes the JSON to a temporary name beside OUT and renames it, so a build never leaves half a
// file.
int moduleInfo(int argc, char** argv) {
    if (argc < 3 || argc > 4) return usage();
    std::string json, error;
    if (!vst3host::moduleInfoJson(argv[2], json, error)) {
        std::fprintf(stderr, "vst3host moduleinfo: %s\n", error.c_str());
        return 1;
    }
    if (argc == 3) return std::fputs(json.c_str(), stdout) < 0 ? 1 : 0;
    const std::string out = argv[3], temporary = out + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(json.data(), 1, json.size(), file) == json.size();
    if (file != nullptr) ok = std::fclose(file) == 0 && ok;
    std::remove(out.c_str());  // Windows' rename does not replace
    ok = ok && std::rename(temporary.c_str(), out.c_str()) == 0;
    if (!ok) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "vst3host moduleinfo: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "fuzz") == 0) return vst3host::fuzzMain(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "storm") == 0) return vst3host::stormMain(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "editor") == 0) {
        std::string out, err;
        const int status =
            vst3host::runEditorCommand(std::vector<std::string>(argv + 2, argv + argc), out, err);
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return status;
    }
    if (argc >= 2 && std::strcmp(argv[1], "moduleinfo") == 0) return moduleInfo(argc, argv);
    if (argc < 3 || std::strcmp(argv[1], "info") != 0) return usage();
    return info(argc, argv);
}
