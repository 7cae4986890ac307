#include "korvo/vst3/streams.h"

#include <algorithm>

namespace korvo::vst3 {

bool readAll(IBStream* stream, std::vector<std::uint8_t>& out, std::size_t limit) noexcept {
    std::uint8_t piece[4096];
    for (;;) {
        int32 got = 0;
        const tresult result = stream->read(piece, static_cast<int32>(sizeof(piece)), &got);
        if (result != kResultOk || got <= 0) return true;
        got = std::min<int32>(got, static_cast<int32>(sizeof(piece)));
        if (out.size() + static_cast<std::size_t>(got) > limit) return false;
        out.insert(out.end(), piece, piece + got);
    }
}

bool writeAll(IBStream* stream, const std::uint8_t* bytes, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const int32 ask = static_cast<int32>(std::min<std::size_t>(size - done, 1 << 20));
        int32 written = 0;
        if (stream->write(const_cast<std::uint8_t*>(bytes + done), ask, &written) != kResultOk) return false;
        if (written <= 0 || written > ask) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace korvo::vst3
