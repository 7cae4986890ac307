#include "korvo/client/preset.h"

#include <cstring>

#include "korvo/client/client.h"

namespace korvo {

Preset::Preset(std::string_view presetName, std::initializer_list<float> values) : name(presetName) {
    normalizedValues.resize(values.size());
    std::size_t i = 0;
    for (float v : values) normalizedValues[i++] = v;
}

Preset buildDefaultPreset(const Client& client) {
    Vec<float> values;
    values.resize(static_cast<std::size_t>(client.parameterCount()));
    for (std::int32_t i = 0; i < client.parameterCount(); ++i)
        values[static_cast<std::size_t>(i)] = static_cast<float>(client.parameter(i).getNormalizedDefault());
    return Preset("Default", std::move(values));
}

PresetBank::PresetBank(PresetList presets, Client* client) : presets_(std::move(presets)), client_(client) {}

void PresetBank::storeCurrentIntoPreset() noexcept {
    const std::int32_t current = current_.load(std::memory_order_relaxed);
    if (current < 0 || current >= count()) return;
    Vec<float>& values = presets_[static_cast<std::size_t>(current)].normalizedValues;
    const std::size_t n = values.length() < static_cast<std::size_t>(client_->parameterCount())
                              ? values.length()
                              : static_cast<std::size_t>(client_->parameterCount());
    for (std::size_t i = 0; i < n; ++i)
        values[i] = static_cast<float>(client_->parameter(static_cast<std::int32_t>(i)).getNormalized());
}

void PresetBank::selectPresetFromHost(std::int32_t index) noexcept {
    if (index < 0 || index >= count()) return;
    storeCurrentIntoPreset();
    const Vec<float>& values = presets_[static_cast<std::size_t>(index)].normalizedValues;
    for (std::int32_t i = 0; i < client_->parameterCount(); ++i) {
        Parameter& p = client_->parameter(i);
        const double v = static_cast<std::size_t>(i) < values.length() ? values[static_cast<std::size_t>(i)]
                                                                       : p.getNormalizedDefault();
        p.setNormalizedFromHost(v);
    }
    current_.store(index, std::memory_order_relaxed);
}

namespace {

void appendLE32(Vec<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push(static_cast<std::uint8_t>(v >> shift));
}

// Takes bytes from the front of the remaining input; every byte must be there.
class ChunkReader {
public:
    ChunkReader(const std::uint8_t* bytes, std::size_t size) noexcept : bytes_(bytes), remaining_(size) {}

    bool takeByte(std::uint8_t& out) noexcept {
        if (remaining_ == 0) return false;
        out = *bytes_++;
        --remaining_;
        return true;
    }
    bool takeBE32(std::uint32_t& out) noexcept {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b;
            if (!takeByte(b)) return false;
            out = (out << 8) | b;
        }
        return true;
    }
    bool takeLE32(std::uint32_t& out) noexcept {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b;
            if (!takeByte(b)) return false;
            out |= static_cast<std::uint32_t>(b) << (8 * i);
        }
        return true;
    }
    bool takeLE32(std::int32_t& out) noexcept {
        std::uint32_t u;
        if (!takeLE32(u)) return false;
        out = static_cast<std::int32_t>(u);  // two's complement (defined since C++20)
        return true;
    }

    std::size_t remaining() const noexcept { return remaining_; }

private:
    const std::uint8_t* bytes_;
    std::size_t remaining_;
};

constexpr ChunkResult fail(const char* message) noexcept {
    return {false, message};
}

}  // namespace

Vec<std::uint8_t> PresetBank::writeStateChunk() const {
    Vec<std::uint8_t> out;
    out.push(0x0B);
    out.push(0x20);
    out.push(0xBA);
    out.push(0x92);
    appendLE32(out, 0);  // chunk format version
    appendLE32(out, 0);  // reserved
    appendLE32(out, static_cast<std::uint32_t>(client_->description().packedVersion()));
    appendLE32(out, static_cast<std::uint32_t>(current()));
    appendLE32(out, static_cast<std::uint32_t>(client_->parameterCount()));
    for (std::int32_t i = 0; i < client_->parameterCount(); ++i) {
        const float v = static_cast<float>(client_->parameter(i).getNormalized());
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        appendLE32(out, bits);
    }
    return out;
}

ChunkResult PresetBank::readStateChunk(const std::uint8_t* bytes, std::size_t size) noexcept {
    return parseStateChunk(bytes, size, true);
}

ChunkResult PresetBank::checkStateChunk(const std::uint8_t* bytes, std::size_t size) const noexcept {
    return const_cast<PresetBank*>(this)->parseStateChunk(bytes, size, false);
}

ChunkResult PresetBank::parseStateChunk(const std::uint8_t* bytes, std::size_t size, bool apply) noexcept {
    ChunkReader in(bytes, bytes == nullptr ? 0 : size);

    // The whole chunk is checked before anything is applied, so a damaged one changes nothing.
    std::uint32_t magic;
    if (!in.takeBE32(magic)) return fail(kChunkEndOfInput);
    if (magic != kStateChunkMagic) return fail(kChunkBadMagic);

    std::int32_t version;
    if (!in.takeLE32(version)) return fail(kChunkEndOfInput);
    if (version > 0) return fail(kChunkNewerVersion);

    std::uint32_t skipped;  // reserved, then the writer's plug-in version
    if (!in.takeLE32(skipped) || !in.takeLE32(skipped)) return fail(kChunkEndOfInput);

    std::int32_t presetIndex;
    if (!in.takeLE32(presetIndex)) return fail(kChunkEndOfInput);
    if (presetIndex < 0 || presetIndex >= count()) return fail(kChunkBadPresetIndex);

    std::int32_t valueCount;
    if (!in.takeLE32(valueCount)) return fail(kChunkEndOfInput);
    const std::size_t valueBytes = valueCount > 0 ? 4 * static_cast<std::size_t>(valueCount) : 0;
    if (in.remaining() < valueBytes) return fail(kChunkEndOfInput);

    if (!apply) return {true, nullptr};
    // Complete: apply it. The preset's own stored values are not applied; values beyond the
    // parameters are dropped, and parameters beyond the values (an older chunk) keep theirs.
    current_.store(presetIndex, std::memory_order_relaxed);
    for (std::int32_t i = 0; i < valueCount && i < client_->parameterCount(); ++i) {
        std::uint32_t bits;
        in.takeLE32(bits);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        client_->parameter(i).setNormalizedFromHost(static_cast<double>(v));
    }
    return {true, nullptr};
}

}  // namespace korvo
