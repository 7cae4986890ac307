#include "korvo/client/presetfile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvo/client/client.h"
#include "korvo/client/hostprocessor.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace korvo {

namespace {

constexpr std::size_t kHeaderBytes = 48;
constexpr std::size_t kEntryBytes = 20;
constexpr std::int32_t kFormatVersion = 1;

// Little-endian integers and raw bytes into a buffer sized beforehand.
struct Writer {
    std::uint8_t* at;
    void integer(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) *at++ = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void raw(const void* data, std::size_t size) {
        if (size != 0) std::memcpy(at, data, size);
        at += size;
    }
};
std::uint64_t get(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

#if defined(_WIN32)
std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), n);
    out.resize(std::wcslen(out.c_str()));
    return out;
}
std::FILE* openFile(const std::string& path, const wchar_t* mode) {
    return _wfopen(wide(path).c_str(), mode);
}
#else
std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}
#endif

// Folders and files through the system's own calls (the standard library's filesystem would bring
// most of its locale machinery into the plug-in's binary).
#if defined(_WIN32)
constexpr char kSeparator = '\\';
bool isSeparator(char c) {
    return c == '\\' || c == '/';
}
DWORD attributesOf(const std::string& path) {
    return GetFileAttributesW(wide(path).c_str());
}
bool isFolder(const std::string& path) {
    const DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
// (Whether it worked is read from the folder afterwards.)
void makeFolder(const std::string& path) {
    CreateDirectoryW(wide(path).c_str(), nullptr);
}
std::string utf8Of(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string out(static_cast<std::size_t>(bytes - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    return out;
}
// Every regular file's name in folder.
std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(wide(joinPath(folder, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.push_back(utf8Of(found.cFileName));
    } while (FindNextFileW(search, &found) != 0);
    FindClose(search);
    return names;
}
#else
constexpr char kSeparator = '/';
bool isSeparator(char c) {
    return c == '/';
}
bool isFolder(const std::string& path) {
    struct stat s {};
    return stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}
// (Whether it worked is read from the folder afterwards.)
void makeFolder(const std::string& path) {
    mkdir(path.c_str(), 0777);
}
std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        struct stat s {};
        const std::string name = entry->d_name;
        if (stat(joinPath(folder, name).c_str(), &s) == 0 && S_ISREG(s.st_mode)) names.push_back(name);
    }
    closedir(dir);
    return names;
}
#endif

}  // namespace

std::string classIdText(const PluginDescription& d) {
    auto word = [](const std::string& code) {
        std::uint32_t w = 0;
        for (int i = 3; i >= 0; --i)
            w = (w << 8) |
                (static_cast<std::size_t>(i) < code.size() ? static_cast<unsigned char>(code[i]) : 0u);
        return w;
    };
    char text[33];
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X", static_cast<unsigned>(kClassIdWord1),
                  static_cast<unsigned>(kClassIdWord2), static_cast<unsigned>(word(d.vendorUniqueID)),
                  static_cast<unsigned>(word(d.pluginUniqueID)));
    return text;
}

std::vector<std::uint8_t> writePresetFile(std::string_view classId,
                                          const std::vector<std::uint8_t>& component,
                                          const std::vector<std::uint8_t>& controller) {
    const std::uint64_t listAt = kHeaderBytes + component.size() + controller.size();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(listAt) + 8 + 2 * kEntryBytes);
    Writer w{out.data()};
    w.raw("VST3", 4);
    w.integer(kFormatVersion, 4);
    char id[32];
    std::memset(id, '0', sizeof id);
    std::memcpy(id, classId.data(), std::min(classId.size(), sizeof id));
    w.raw(id, sizeof id);
    w.integer(listAt, 8);
    w.raw(component.data(), component.size());
    w.raw(controller.data(), controller.size());
    w.raw("List", 4);
    w.integer(2, 4);
    w.raw("Comp", 4);
    w.integer(kHeaderBytes, 8);
    w.integer(component.size(), 8);
    w.raw("Cont", 4);
    w.integer(kHeaderBytes + component.size(), 8);
    w.integer(controller.size(), 8);
    return out;
}

const char* readPresetFile(const std::uint8_t* bytes, std::size_t size, std::string_view classId,
                           PresetFileContents& out) {
    if (bytes == nullptr || size < 4 || std::memcmp(bytes, "VST3", 4) != 0) return kPresetFileNotAPreset;
    if (size < kHeaderBytes) return kPresetFileDamaged;
    const auto version = static_cast<std::int32_t>(get(bytes + 4, 4));
    if (version > kFormatVersion) return kPresetFileNewer;
    if (version < 1) return kPresetFileDamaged;
    if (classId.size() != 32 || std::memcmp(bytes + 8, classId.data(), 32) != 0) return kPresetFileForeign;
    const std::uint64_t listAt = get(bytes + 40, 8);
    if (listAt < kHeaderBytes || listAt > size || size - listAt < 8 ||
        std::memcmp(bytes + listAt, "List", 4) != 0)
        return kPresetFileDamaged;
    const std::uint64_t entries = get(bytes + listAt + 4, 4);
    if (entries > (size - listAt - 8) / kEntryBytes) return kPresetFileDamaged;
    const std::uint8_t* component = nullptr;
    const std::uint8_t* controller = nullptr;
    std::uint64_t componentSize = 0, controllerSize = 0;
    for (std::uint64_t e = 0; e < entries; ++e) {
        const std::uint8_t* entry = bytes + listAt + 8 + e * kEntryBytes;
        const std::uint64_t at = get(entry + 4, 8), length = get(entry + 12, 8);
        // Every chunk lies between the header and the list.
        if (at < kHeaderBytes || at > listAt || length > listAt - at) return kPresetFileDamaged;
        if (std::memcmp(entry, "Comp", 4) == 0 && component == nullptr) {
            component = bytes + at;
            componentSize = length;
        } else if (std::memcmp(entry, "Cont", 4) == 0 && controller == nullptr) {
            controller = bytes + at;
            controllerSize = length;
        }
    }
    if (component == nullptr || componentSize == 0) return kPresetFileNoState;
    out.component.assign(component, component + componentSize);
    if (controller != nullptr)
        out.controller.assign(controller, controller + controllerSize);
    else
        out.controller.clear();
    return nullptr;
}

std::vector<std::uint8_t> presetFileOf(const Client& client) {
    return writePresetFile(classIdText(client.description()), HostProcessor::stateOf(client, false),
                           client.writeEditorState());
}

const char* readPresetFileInto(Client& client, const std::uint8_t* bytes, std::size_t size, bool apply) {
    PresetFileContents contents;
    if (const char* problem = readPresetFile(bytes, size, classIdText(client.description()), contents))
        return problem;
    const char* problem =
        HostProcessor::checkState(client, contents.component.data(), contents.component.size(), apply);
    if (problem == nullptr) return nullptr;
    return problem == kChunkNewerVersion ? kPresetFileNewer : kPresetFileDamaged;
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error,
                   std::size_t limit) {
#if defined(_WIN32)
    std::FILE* file = openFile(path, L"rb");
#else
    std::FILE* file = openFile(path, "rb");
#endif
    if (file == nullptr) {
        error = "cannot open " + path;
        return false;
    }
    bytes.clear();
    std::uint8_t chunk[8192];
    bool ok = true;
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        if (bytes.size() + n > limit) {
            ok = false;
            error = path + " is too large for a preset";
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    if (ok && std::ferror(file) != 0) {
        ok = false;
        error = "cannot read " + path;
    }
    std::fclose(file);
    return ok;
}

bool writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error) {
    const std::string temporary = path + ".part";
#if defined(_WIN32)
    std::FILE* file = openFile(temporary, L"wb");
#else
    std::FILE* file = openFile(temporary, "wb");
#endif
    bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr) ok = std::fflush(file) == 0 && ok;
    if (file != nullptr) ok = std::fclose(file) == 0 && ok;
#if defined(_WIN32)
    ok = ok && MoveFileExW(wide(temporary).c_str(), wide(path).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) DeleteFileW(wide(temporary).c_str());
#else
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temporary.c_str());
#endif
    if (!ok) error = "cannot write " + path;
    return ok;
}

std::string presetFileName(std::string_view name) {
    std::string out;
    for (const char ch : name) {
        const auto u = static_cast<unsigned char>(ch);
        const bool refused = u < 0x20 || u == 0x7F || std::strchr("/\\:*?\"<>|", ch) != nullptr;
        out += refused ? '_' : ch;
    }
    const auto edge = [](char ch) { return ch == ' ' || ch == '.'; };
    while (!out.empty() && edge(out.back())) out.pop_back();
    std::size_t lead = 0;
    while (lead < out.size() && edge(out[lead])) ++lead;
    out.erase(0, lead);
    if (out.size() > 64) {
        std::size_t cut = 64;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // whole characters
        out.resize(cut);
        while (!out.empty() && edge(out.back())) out.pop_back();
    }
    // Windows refuses these as file names whatever the extension.
    std::string upper;
    for (const char ch : out.substr(0, out.find('.')))
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    static const char* const kReserved[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                            "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                            "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    for (const char* reserved : kReserved)
        if (upper == reserved) {
            out += '_';
            break;
        }
    return out;
}

bool pathExists(const std::string& path) {
#if defined(_WIN32)
    return attributesOf(path) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat s {};
    return stat(path.c_str(), &s) == 0;
#endif
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return isSeparator(folder.back()) ? folder + name : folder + kSeparator + name;
}

bool makeFolders(const std::string& path, std::string& error) {
    // Each folder on the way, from the first that is not a root or a drive.
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && !isSeparator(path[i])) continue;
        const std::string part = path.substr(0, i);
        if (isSeparator(part.back()) || (part.size() == 2 && part[1] == ':')) continue;
        if (!isFolder(part)) makeFolder(part);
    }
    if (!isFolder(path)) {
        error = "cannot make the folder " + path;
        return false;
    }
    return true;
}

std::vector<std::string> presetFilesIn(const std::string& folder) {
    constexpr std::string_view kExtension = ".vstpreset";
    std::vector<std::string> names;
    for (const std::string& file : filesIn(folder))
        if (file.size() > kExtension.size() && file.ends_with(kExtension))
            names.push_back(file.substr(0, file.size() - kExtension.size()));
    std::sort(names.begin(), names.end());
    return names;
}

std::string userPresetFolder(std::string_view vendor, std::string_view plugin) {
#if defined(_WIN32)
    wchar_t profile[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, profile, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string home(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, profile, static_cast<int>(n), home.data(), bytes, nullptr, nullptr);
    return home + "\\Documents\\VST3 Presets\\" + std::string(vendor) + "\\" + std::string(plugin);
#else
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return {};
    return std::string(home) + "/.vst3/presets/" + std::string(vendor) + "/" + std::string(plugin);
#endif
}

}  // namespace korvo
