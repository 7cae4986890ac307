#pragma once
// Presets and the state chunk.
//
// A Preset is a named list of normalized parameter values (float, parameter-index order). It may be
// shorter than the parameter list: missing values stand for the parameters' defaults. The
// PresetBank owns the plug-in's presets and the index of the current one, and writes / reads the
// state chunk a host keeps in its project.
//
// State chunk, version 0 (integers are 32-bit two's complement, little-endian except the magic):
//   offset 0   magic 0x0B20BA92, stored big-endian (bytes 0x0B 0x20 0xBA 0x92)
//   offset 4   chunk format version, 0 (readers reject anything greater)
//   offset 8   reserved, 0
//   offset 12  plug-in version major * 65536 + minor * 256 + patch
//   offset 16  current preset index
//   offset 20  value count N (the number of parameters)
//   offset 24  N float32 normalized values in parameter-index order
//
// Thread contract: the bank takes no lock of its own; callers never run two selectPresetFromHost
// calls on one instance at once (they write the presets). selectPresetFromHost may run on the
// audio thread and allocates nothing; readStateChunk and writeStateChunk run on the host's main
// (controller) thread and may overlap audio-thread processing: parameters synchronise themselves
// and the current index is atomic.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvo/core/vec.h"

namespace korvo {

class Client;

struct Preset {
    Preset() = default;
    Preset(std::string_view presetName, std::initializer_list<float> values);
    Preset(std::string_view presetName, Vec<float>&& values)
        : name(presetName), normalizedValues(std::move(values)) {}

    std::string name;             // shown to hosts one byte per character
    Vec<float> normalizedValues;  // one per parameter at most, index order
};

using PresetList = std::vector<Preset>;

// "Default": every parameter's getNormalizedDefault() as float, in parameter order. The client's
// parameters must be built (call it from buildPresets). [main-thread]
Preset buildDefaultPreset(const Client& client);

// Outcome of reading a state chunk. On failure message points at one of the fixed texts below (the
// arrays themselves, so a pointer comparison works); on success it is null.
struct ChunkResult {
    bool ok;
    const char* message;
};

inline constexpr char kChunkEndOfInput[] = "Expected a byte, but found end of input";
inline constexpr char kChunkBadMagic[] = "Can not load, magic number didn't match";
inline constexpr char kChunkNewerVersion[] =
    "Can not load chunk done with a newer, incompatible korvo library";
inline constexpr char kChunkBadPresetIndex[] = "Invalid preset index in state chunk";

inline constexpr std::uint32_t kStateChunkMagic = 0x0B20BA92u;
inline constexpr std::size_t kStateChunkHeaderBytes = 24;

class PresetBank {
public:
    // Takes the presets built by the client; current preset 0. client is not owned and must
    // outlive the bank.
    PresetBank(PresetList presets, Client* client);
    PresetBank(const PresetBank&) = delete;
    PresetBank& operator=(const PresetBank&) = delete;

    std::int32_t count() const noexcept {
        return static_cast<std::int32_t>(presets_.size());
    }  // [any-thread]
    // i in [0, count). [any-thread]
    const Preset& preset(std::int32_t i) const noexcept { return presets_[static_cast<std::size_t>(i)]; }
    const std::string& presetName(std::int32_t i) const noexcept { return preset(i).name; }
    // The current preset index; atomic, so the main thread may read it while the audio thread
    // changes program. [any-thread]
    std::int32_t current() const noexcept { return current_.load(std::memory_order_relaxed); }

    // Writes every parameter's getNormalized(), as float, into the current preset, stopping at the
    // preset's length. Allocates nothing. [any-thread, including audio]
    void storeCurrentIntoPreset() noexcept;

    // The host's program change: stores the current values into the current preset, then sets
    // every parameter from preset `index` (its default beyond the preset's length) through
    // setNormalizedFromHost, then makes `index` current. An index outside [0, count) does nothing.
    // Allocates nothing. [any-thread, including audio]
    void selectPresetFromHost(std::int32_t index) noexcept;

    // The state chunk of the current state (24 + 4 x parameter count bytes). [main-thread]
    Vec<std::uint8_t> writeStateChunk() const;

    // Applies a state chunk. The bytes are untrusted: any content is handled safely. The whole chunk
    // is checked first (magic, version, preset index, and as many values as its count declares), so
    // a damaged or cut chunk fails with its message and changes nothing; a complete one sets the
    // current index and then the values in order (fewer values than parameters, from an older
    // version, leave the rest as they are; extra values and trailing bytes are ignored).
    // [main-thread]
    ChunkResult readStateChunk(const std::uint8_t* bytes, std::size_t size) noexcept;
    ChunkResult readStateChunk(std::span<const std::uint8_t> bytes) noexcept {
        return readStateChunk(bytes.data(), bytes.size());
    }
    // The checks of readStateChunk alone: nothing is applied. [any-thread]
    ChunkResult checkStateChunk(const std::uint8_t* bytes, std::size_t size) const noexcept;

private:
    // Checks the whole chunk, then applies it when `apply` (without, it changes nothing).
    ChunkResult parseStateChunk(const std::uint8_t* bytes, std::size_t size, bool apply) noexcept;

    PresetList presets_;
    Client* client_;
    std::atomic<std::int32_t> current_{0};
};

}  // namespace korvo
