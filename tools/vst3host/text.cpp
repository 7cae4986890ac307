// Text helpers of our VST3 host: UTF-16 to bytes and back, identifiers as hex.
#include <cstdarg>
#include <cstdio>

#include "tools/vst3host/host.h"

namespace vst3host {

std::string narrow(const v::char16* text, std::size_t limit) {
    std::string out;
    if (text == nullptr) return out;
    for (std::size_t i = 0; i < limit && text[i] != 0; ++i) {
        const unsigned unit = static_cast<std::uint16_t>(text[i]);
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return out;
}

String16 widen(const std::string& text) {
    String16 out;
    for (unsigned char c : text) out.push_back(static_cast<v::char16>(c));
    return out;
}

void appendf(std::string& out, const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    out += buffer;
}

std::string hexBytes(const char* bytes, std::size_t count) {
    std::string out;
    char digits[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof(digits), "%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
        out += digits;
    }
    return out;
}

std::string uidText(const char* bytes) {
#if defined(_WIN32)
    const char order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    char words[16];
    for (int i = 0; i < 16; ++i) words[i] = bytes[static_cast<int>(order[i])];
    return hexBytes(words);
#else
    return hexBytes(bytes);
#endif
}

std::string toUtf8(const v::char16* text, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; text != nullptr && i < limit && text[i] != 0; ++i) {
        const unsigned u = static_cast<std::uint16_t>(text[i]);
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

}  // namespace vst3host
