#include "korvo/vst3/strings.h"

#include <cstdint>
#include <cstring>

namespace korvo::vst3 {

void widenString128(const char* text, std::size_t length, char16* out) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t n = 0, i = 0;
    while (i < length) {
        const unsigned lead = bytes[i];
        std::uint32_t code = 0xFFFD;
        std::size_t extra = 0;
        std::uint32_t least = 0;
        if (lead < 0x80) {
            code = lead;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            extra = 1, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            extra = 3, code = lead & 0x07, least = 0x10000;
        }
        std::size_t used = 1;
        if (extra > 0) {
            bool valid = true;
            for (std::size_t k = 1; valid && k <= extra; ++k) {
                if (i + k >= length || (bytes[i + k] & 0xC0) != 0x80)
                    valid = false;
                else
                    code = (code << 6) | (bytes[i + k] & 0x3F);
            }
            if (valid && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF)) {
                used = extra + 1;
            } else {
                code = 0xFFFD;
            }
        }
        i += used;
        if (code >= 0x10000) {
            if (n + 2 > 127) break;
            code -= 0x10000;
            out[n++] = static_cast<char16>(0xD800 + (code >> 10));
            out[n++] = static_cast<char16>(0xDC00 + (code & 0x3FF));
        } else {
            if (n + 1 > 127) break;
            out[n++] = static_cast<char16>(code);
        }
    }
    out[n] = 0;
}

std::size_t narrowString128(const char16* text, char* out, std::size_t capacity) noexcept {
    std::size_t n = 0;
    auto put = [&](std::uint32_t code) {
        char encoded[4];
        std::size_t size = 0;
        if (code < 0x80) {
            encoded[size++] = static_cast<char>(code);
        } else if (code < 0x800) {
            encoded[size++] = static_cast<char>(0xC0 | (code >> 6));
            encoded[size++] = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            encoded[size++] = static_cast<char>(0xE0 | (code >> 12));
            encoded[size++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            encoded[size++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            encoded[size++] = static_cast<char>(0xF0 | (code >> 18));
            encoded[size++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            encoded[size++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            encoded[size++] = static_cast<char>(0x80 | (code & 0x3F));
        }
        if (n + size >= capacity) return false;
        for (std::size_t k = 0; k < size; ++k) out[n++] = encoded[k];
        return true;
    };
    for (std::size_t i = 0; i < 128 && text[i] != 0; ++i) {
        std::uint32_t code = static_cast<std::uint16_t>(text[i]);
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < 128) {
            const std::uint32_t low = static_cast<std::uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (!put(code)) break;
    }
    out[n] = 0;
    return n;
}
void widenString128(const std::string& text, char16* out) noexcept {
    widenString128(text.data(), text.size(), out);
}
void widenString128(const char* text, char16* out) noexcept {
    widenString128(text, std::strlen(text), out);
}

}  // namespace korvo::vst3
