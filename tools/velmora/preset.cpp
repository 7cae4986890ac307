// `velmora preset export` and `velmora info --preset`: preset files written and read with the
// editor's writer and reader.
#include "tools/velmora/preset.h"

#include <cstdio>

#include "effect/main.h"
#include "korvo/client/presetfile.h"
#include "tools/velmora/render.h"

namespace velmora::cli {

int runPreset(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    const char* usage = "usage: velmora preset export NAME|INDEX OUT.vstpreset [--set NAME=VALUE]...\n";
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        out << usage;
        return kExitOk;
    }
    if (args.size() < 3 || args[0] != "export") {
        err << usage;
        return kExitBadRequest;
    }
    const std::string& output = args[2];
    if (!isPresetFilePath(output)) {
        err << "velmora preset: the output's name ends in .vstpreset, got \"" << output << "\"\n";
        return kExitBadRequest;
    }
    auto client = korvo::makeHeap<VelmoraClient>();
    std::string error;
    if (!applyPreset(*client, args[1], error)) {
        err << "velmora preset: " << error << "\n";
        return kExitBadRequest;
    }
    for (std::size_t i = 3; i < args.size(); ++i) {
        if (args[i] != "--set" || i + 1 >= args.size()) {
            err << "velmora preset: unknown argument \"" << args[i] << "\"; valid: --set NAME=VALUE\n";
            return kExitBadRequest;
        }
        if (!applySetting(*client, args[++i], error)) {
            err << "velmora preset: " << error << "\n";
            return kExitBadRequest;
        }
    }
    if (!korvo::writeFileAtomically(output, korvo::presetFileOf(*client), error)) {
        err << "velmora preset: " << error << "\n";
        return kExitWriteFailed;
    }
    return kExitOk;
}

int printPresetFile(const std::string& path, std::ostream& out, std::ostream& err) {
    auto client = korvo::makeHeap<VelmoraClient>();
    std::string error;
    if (!applyPreset(*client, path, error)) {
        err << "velmora info: " << error << "\n";
        return kExitBadRequest;
    }
    out << "preset file " << path << "\n";
    out << "  saved while preset " << client->presetBank().current() << " \""
        << client->presetBank().presetName(client->presetBank().current()) << "\" was current\n";
    for (std::int32_t i = 0; i < client->parameterCount(); ++i) {
        const korvo::Parameter& p = client->parameter(i);
        char text[128];
        p.formatNormalized(p.getNormalized(), text, sizeof text);
        out << "  " << p.name() << " = " << text << (p.label().empty() ? "" : " ") << p.label() << "\n";
    }
    return kExitOk;
}

}  // namespace velmora::cli
