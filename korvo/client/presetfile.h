#pragma once
// Preset files (.vstpreset), the files every VST3 host lists, read and written without a host, so
// the editor, the CLAP build and the command line share one writer and one reader.
//
// Layout (integers little-endian):
//   offset 0   'VST3'
//   offset 4   int32 format version, 1
//   offset 8   the processor's class identifier as 32 uppercase hex characters
//   offset 40  int64 offset of the chunk list from the file's start
//   offset 48  chunk data, back to back
//   list       'List', int32 entry count, then per entry: 4-byte chunk ID, int64 offset, int64 size
// Chunks: 'Comp' the component state (exactly the state chunk), 'Cont' the controller state.
// Readers find chunks through the list only and ignore chunks they do not know.
//
// Every function here runs on the main thread and may allocate.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

struct PluginDescription;

// The class identifier's fixed first two words; the last two are the vendor and plug-in codes.
inline constexpr std::uint32_t kClassIdWord1 = 0x0B20BA92u;
inline constexpr std::uint32_t kClassIdWord2 = 0x0CE0B145u;

// The identifier's 32-character text (0B20BA920CE0B145 then the codes' words).
std::string classIdText(const PluginDescription& description);

// The bytes of a preset file holding a component state and a controller state.
std::vector<std::uint8_t> writePresetFile(std::string_view classId,
                                          const std::vector<std::uint8_t>& component,
                                          const std::vector<std::uint8_t>& controller);

struct PresetFileContents {
    std::vector<std::uint8_t> component;
    std::vector<std::uint8_t> controller;  // empty when the file has none
};

// Reads a preset file of the plug-in with class identifier classId. The bytes are untrusted: a
// short, damaged or foreign file gives its reason (a short sentence for the user) and fills
// nothing; null on success.
const char* readPresetFile(const std::uint8_t* bytes, std::size_t size, std::string_view classId,
                           PresetFileContents& out);

class Client;

// The preset file of the client's current settings: its persistent state (what the host's
// getState stores, bypass off) as 'Comp' and its editor state as 'Cont'. [main-thread]
std::vector<std::uint8_t> presetFileOf(const Client& client);
// Reads a preset file of this client through the same checks as the host's setState: null when
// it checks out (then, with `apply`, its settings are applied: the editor state is not, a preset
// does not resize the editor), else the reason, and nothing changes. [main-thread]
const char* readPresetFileInto(Client& client, const std::uint8_t* bytes, std::size_t size, bool apply);

inline constexpr char kPresetFileDamaged[] = "The preset file is damaged";
inline constexpr char kPresetFileNotAPreset[] = "Not a preset file";
inline constexpr char kPresetFileNewer[] = "The preset file is from a newer version";
inline constexpr char kPresetFileForeign[] = "The preset is for another plug-in";
inline constexpr char kPresetFileNoState[] = "The preset file holds no settings";

// Whole-file reading and writing. writeFileAtomically writes a temporary file beside path and
// renames it over path, so a failed write leaves any earlier file as it was. Both give a short
// reason in error on failure. Paths are UTF-8.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error,
                   std::size_t limit = 16u << 20);
bool writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);

// Makes a folder and its parents; true when it exists after.
bool makeFolders(const std::string& path, std::string& error);
// Whether something (a file or a folder) is at path.
bool pathExists(const std::string& path);
// folder and name joined by the system's separator (none added when folder ends with one).
std::string joinPath(const std::string& folder, const std::string& name);
// The names (without ".vstpreset") of the preset files in a folder, sorted; empty when there is
// no such folder.
std::vector<std::string> presetFilesIn(const std::string& folder);

// A preset name made into a file name: path separators, characters the systems refuse and
// control characters become '_', leading and trailing spaces and dots go, names the system
// reserves (CON, NUL, COM1, ...) get a trailing '_', at most 64 bytes (whole UTF-8 characters).
// Empty when nothing usable is left.
std::string presetFileName(std::string_view name);

// The folder of user presets every VST3 host also lists: %USERPROFILE%\Documents\VST3
// Presets\VENDOR\PLUGIN on Windows, ~/.vst3/presets/VENDOR/PLUGIN elsewhere. Empty when the home
// folder is unknown.
std::string userPresetFolder(std::string_view vendor, std::string_view plugin);

}  // namespace korvo
