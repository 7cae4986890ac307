// ClapPlugin's state: the VST3 component state's bytes through the host's streams.
#include <algorithm>
#include <vector>

#include "korvo/clap/plugin.h"

namespace korvo::clap {

bool ClapPlugin::saveState(const OStream* stream) noexcept {
    if (stream == nullptr || stream->write == nullptr) return false;
    const std::vector<std::uint8_t> bytes = processing_->writeState();
    // Hosts may take a few bytes per call: write until all are out. A call that takes nothing, or
    // claims more than it was given, ends the save as failed.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::uint64_t ask = bytes.size() - done;
        const std::int64_t written = stream->write(stream, bytes.data() + done, ask);
        if (written <= 0 || static_cast<std::uint64_t>(written) > ask) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool ClapPlugin::loadState(const IStream* stream) noexcept {
    if (stream == nullptr || stream->read == nullptr) return false;
    // The whole state first, in whatever pieces the stream gives, to its end (a read of 0). An
    // error, an impossible count or more than a state can be refuses it.
    std::vector<std::uint8_t> bytes;
    std::uint8_t piece[4096];
    for (;;) {
        const std::int64_t got = stream->read(stream, piece, sizeof(piece));
        if (got == 0) break;
        if (got < 0 || static_cast<std::uint64_t>(got) > sizeof(piece)) return false;
        if (bytes.size() + static_cast<std::size_t>(got) > kMaxStateBytes) return false;
        bytes.insert(bytes.end(), piece, piece + got);
    }
    // Checked whole before anything is applied.
    if (!processing_->readState(bytes.data(), bytes.size())) return false;
    valuesMoved_.store(0);
    if (hostParams_ != nullptr) hostParams_->rescan(host_, kParamRescanValues);
    return true;
}

}  // namespace korvo::clap
