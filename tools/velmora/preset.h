#pragma once
// Preset files on the command line:
//   velmora preset export NAME|INDEX OUT.vstpreset [--set NAME=VALUE]...   a factory preset (or a
//       preset file), the settings applied in order, written as a preset file (to a temporary name,
//       then renamed)
//   velmora info --preset FILE.vstpreset   what a preset file holds, every parameter as text
// Bad arguments and bad files exit 2 with a message and write nothing. [main-thread]

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace velmora {
class VelmoraClient;
}

namespace velmora::cli {

int runPreset(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int printPresetFile(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace velmora::cli
