#include "tools/velmora/cli.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "effect/main.h"
#include "tools/velmora/batch.h"
#include "tools/velmora/info.h"
#include "tools/velmora/preset.h"
#include "tools/velmora/render.h"
#include "tools/velmora/screenshot.h"

namespace velmora::cli {

namespace {

const char* usage() noexcept {
    return "usage: velmora <command> [arguments]\n"
           "commands:\n"
           "  render [INPUT] OUTPUT [options]   run audio (or the built-in demo) through the effect;\n"
           "                                    velmora render --help lists the options\n"
           "  render INPUT... --out-dir DIR     many files at once, on all cores\n"
           "  info [--json]                     description, channels, latency, tail, parameters, presets\n"
           "  info --preset FILE.vstpreset      what a preset file holds\n"
           "  preset export NAME|INDEX OUT.vstpreset [--set NAME=VALUE]...\n"
           "                                    a factory preset, with changes, as a preset file\n"
           "  info --plugin BUNDLE [--host-name NAME] [--editor-shot OUT.png]\n"
           "                                    what a VST3 (or, for a .clap file, a CLAP) host sees when\n"
           "                                    it loads BUNDLE (Linux or Windows build); a PNG of its\n"
           "                                    editor in a real window (VST3)\n"
           "  bench [gui|graphics|displays|widgets|window|editor] [options]\n"
           "                                    DSP throughput (frames/s and times real time); with gui,\n"
           "                                    editor frame times (ms); with graphics, drawing primitives;\n"
           "                                    with displays, the live displays' redraw per tick (ms);\n"
           "                                    with widgets, frame costs of widget changes (ms); with\n"
           "                                    window, ms per tick of an editor in a real X11 window;\n"
           "                                    with editor, the effect's editor: open, drag, idle, playing\n"
           "  screenshot OUT.png [--size WxH]   the GUI rendered off-screen to a PNG file\n"
           "  screenshot --editor OUT.png [--preset NAME] [--set NAME=VALUE]... [--play [INPUT]]\n"
           "                                    the effect's editor at that state (after playing audio)\n";
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
    if (!options.outDir.empty()) return renderBatch(options, environment.stderrIsTerminal, err);
    options.showProgress = environment.stderrIsTerminal;
    RenderReport report;
    const int code = render(options, report, error);
    if (code != kExitOk) err << "velmora render: " << error << "\n";
    return code;
}

bool isClapModule(const std::string& path) {
    return std::filesystem::path(path).extension() == ".clap";
}

// A Windows module: a bundle with a Contents/x86_64-win folder, a .dll or .vst3 file, or a .clap
// file that is a Windows DLL (it starts with "MZ").
bool isWindowsModule(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p(path);
    if (fs::is_directory(p, ec)) return fs::is_directory(p / "Contents" / "x86_64-win", ec);
    const std::string extension = p.extension().string();
    if (extension == ".clap") {
        char magic[2] = {};
        std::FILE* file = std::fopen(path.c_str(), "rb");
        const bool read = file != nullptr && std::fread(magic, 1, 2, file) == 2;
        if (file != nullptr) std::fclose(file);
        return read && magic[0] == 'M' && magic[1] == 'Z';
    }
    return extension == ".dll" || extension == ".vst3";
}

// Our host for a module: the native vst3host (claphost for a .clap file), or for a Windows module
// the Windows build's host under Wine. An editor shot without a display of our own runs on a
// private Xvfb.
std::vector<std::string> pluginHostCommand(std::span<const std::string> args,
                                           const std::string& executablePath) {
    const bool windows = isWindowsModule(args[0]);
    const std::string host = isClapModule(args[0]) ? "claphost" : "vst3host";
    bool editor = false;
    for (const std::string& a : args) editor = editor || a == "--editor-shot";
    std::vector<std::string> argv;
    if (editor && std::getenv("DISPLAY") == nullptr) {
        argv.push_back(siblingToolPath(executablePath, "../../../tests/support/with-xvfb"));
        if (windows) argv.push_back("--wine");
    }
    if (windows) {
        argv.push_back(siblingToolPath(executablePath, "../../../cmake/wine-run"));
        argv.push_back(siblingToolPath(executablePath, "../../windows/tools/" + host + "/" + host + ".exe"));
    } else {
        argv.push_back(siblingToolPath(executablePath, host + "/" + host));
    }
    argv.push_back("info");
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// Replaces this process with another program of the build (argv[0] is the program's path).
int execProgram(std::vector<std::string> argv, const char* command, std::ostream& out, std::ostream& err) {
    if (access(argv[0].c_str(), X_OK) != 0) {
        err << "velmora " << command << ": " << argv[0] << " is not built\n";
        return 1;
    }
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    out.flush();
    err.flush();
    std::fflush(nullptr);
    execv(argv[0].c_str(), pointers.data());
    err << "velmora " << command << ": cannot run " << argv[0] << "\n";
    return 1;
}

int runInfo(std::span<const std::string> args, const Environment& environment, std::ostream& out,
            std::ostream& err) {
    if (!args.empty() && args[0] == "--plugin") {
        // A loaded plug-in module is described by our VST3 host, which sees only its binary interface.
        if (args.size() < 2) {
            err << "velmora info: --plugin needs the path of a .vst3 bundle or module, or of a .clap file\n";
            return 2;
        }
        for (const std::string& arg : args)
            if (arg == "--editor-shot" && isClapModule(args[1])) {
                err << "velmora info: --editor-shot takes a VST3 bundle; for the CLAP editor: "
                       "build/linux/tools/claphost/claphost editor FILE.clap --shot OUT.png\n";
                return 2;
            }
        return execProgram(pluginHostCommand(args.subspan(1), environment.executablePath), "info", out, err);
    }
    if (!args.empty() && args[0] == "--preset") {
        if (args.size() != 2) {
            err << "velmora info: --preset needs the path of one .vstpreset file\n";
            return 2;
        }
        return printPresetFile(args[1], out, err);
    }
    InfoStyle style = InfoStyle::text;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            style = InfoStyle::json;
        } else if (arg == "-h" || arg == "--help") {
            out << "usage: velmora info [--json]\n"
                   "       velmora info --preset FILE.vstpreset\n"
                   "       velmora info --plugin BUNDLE [--host-name NAME] [--editor-shot OUT.png]\n";
            return 0;
        } else {
            err << "velmora info: unknown argument \"" << arg << "\"; valid: --json, --plugin BUNDLE\n";
            return 2;
        }
    }
    auto client = korvo::makeHeap<VelmoraClient>();
    printInfo(*client, style, out);
    return 0;
}

int runBench(std::span<const std::string> args, const Environment& environment, std::ostream& out,
             std::ostream& err) {
    std::string program = benchmarkPath(environment.executablePath);
    if (!args.empty() && args[0] == "gui") {
        program = siblingToolPath(environment.executablePath, "../bench/korvo_gui_bench");
        args = args.subspan(1);
    } else if (!args.empty() && args[0] == "graphics") {
        program = siblingToolPath(environment.executablePath, "../bench/graphics_bench");
        args = args.subspan(1);
    } else if (!args.empty() && args[0] == "displays") {
        program = siblingToolPath(environment.executablePath, "../bench/velmora_displays_bench");
        args = args.subspan(1);
    } else if (!args.empty() && args[0] == "editor") {
        program = siblingToolPath(environment.executablePath, "../bench/velmora_editor_bench");
        args = args.subspan(1);
    } else if (!args.empty() && args[0] == "widgets") {
        program = siblingToolPath(environment.executablePath, "../bench/korvo_widgets_bench");
        args = args.subspan(1);
    } else if (!args.empty() && args[0] == "window") {
        program = siblingToolPath(environment.executablePath, "../bench/korvo_window_bench");
        args = args.subspan(1);
    }
    std::vector<std::string> argv = {program, "--benchmark_counters_tabular=true"};
    argv.insert(argv.end(), args.begin(), args.end());
    return execProgram(std::move(argv), "bench", out, err);
}

}  // namespace

std::string siblingToolPath(const std::string& executablePath, const std::string& relative) {
    const std::size_t slash = executablePath.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : executablePath.substr(0, slash);
    return dir + "/" + relative;
}

std::string benchmarkPath(const std::string& executablePath) {
    return siblingToolPath(executablePath, "../bench/velmora_dsp_bench");
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
    if (command == "info") return runInfo(rest, environment, out, err);
    if (command == "bench") return runBench(rest, environment, out, err);
    if (command == "screenshot") return runScreenshot(rest, out, err);
    if (command == "preset") return runPreset(rest, out, err);
    if (command == "-h" || command == "--help" || command == "help") {
        out << usage();
        return 0;
    }
    err << "velmora: \"" << command << "\" is not available yet\n" << usage();
    return 2;
}

}  // namespace velmora::cli
