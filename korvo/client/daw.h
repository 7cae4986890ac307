#pragma once
// Host identification: which host loaded the plug-in, from the name the host reports.
//
// The name is searched, case-sensitively, for each key of a fixed table in a fixed order; the
// first key found decides. The order matters: "live" is tested before "logic", "digital" and the
// rest, so any name containing "live" identifies that host. No hit gives HostKind::unknown.
//
// Thread contract: every function here is pure and may run on any thread. [any-thread]

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvo {

// Host codes. 6, 10, 11 and 19 are not produced by any key and stay free.
enum class HostKind : std::int32_t {
    unknown = 0,
    reaper = 1,
    protools = 2,
    cubase = 3,
    nuendo = 4,
    cakewalk = 5,
    fruity = 7,
    samplitude = 8,
    live = 9,
    melodyne = 12,
    vstmanlib = 13,
    aulab = 14,
    forte = 15,
    chainer = 16,
    audition = 17,
    orion = 18,
    sawstudio = 20,
    logic = 21,
    garageband = 22,
    digital = 23,
    standalone = 24,
    audiomulch = 25,
    presonus = 26,
    vst3PluginTestHost = 27,
    ardour = 28,
};

// Runs the key table over a host name given as bytes. [any-thread]
HostKind identifyHost(std::string_view hostName) noexcept;

// Longest host name kept, in characters; a narrowed name needs this many bytes plus a NUL.
inline constexpr std::size_t kMaxHostNameChars = 128;

// Narrows a UTF-16 host name to single bytes: code units 0..126 are kept, anything above 126
// becomes '?'. Copying stops at the first NUL, after kMaxHostNameChars characters, or when `out`
// has room only for the terminating NUL. `out` is always NUL-terminated (outSize 0 writes
// nothing). Returns the number of characters written, NUL excluded. `wide` may be null (empty
// name). [any-thread]
std::size_t narrowHostName(const char16_t* wide, char* out, std::size_t outSize) noexcept;

// narrowHostName into a local buffer followed by identifyHost. [any-thread]
HostKind identifyHostUtf16(const char16_t* wide) noexcept;

}  // namespace korvo
