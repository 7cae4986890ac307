#include "korvo/client/daw.h"

namespace korvo {

namespace {

struct HostKey {
    std::string_view key;
    HostKind kind;
};

// Searched in this order; the first key found wins.
constexpr HostKey kHostKeys[] = {
    {"reaper", HostKind::reaper},
    {"cubase", HostKind::cubase},
    {"nuendo", HostKind::nuendo},
    {"cakewalk", HostKind::cakewalk},
    {"samplitude", HostKind::samplitude},
    {"fruity", HostKind::fruity},
    {"live", HostKind::live},
    {"melodyne", HostKind::melodyne},
    {"vstmanlib", HostKind::vstmanlib},
    {"aulab", HostKind::aulab},
    {"garageband", HostKind::garageband},
    {"forte", HostKind::forte},
    {"chainer", HostKind::chainer},
    {"audition", HostKind::audition},
    {"orion", HostKind::orion},
    {"sawstudio", HostKind::sawstudio},
    {"logic", HostKind::logic},
    {"digital", HostKind::digital},
    {"audiomulch", HostKind::audiomulch},
    {"presonus", HostKind::presonus},
    {"vst3plugintesthost", HostKind::vst3PluginTestHost},
    {"protools", HostKind::protools},
    {"ardour", HostKind::ardour},
    {"standalone", HostKind::standalone},
};

}  // namespace

HostKind identifyHost(std::string_view hostName) noexcept {
    for (const HostKey& entry : kHostKeys)
        if (hostName.find(entry.key) != std::string_view::npos) return entry.kind;
    return HostKind::unknown;
}

std::size_t narrowHostName(const char16_t* wide, char* out, std::size_t outSize) noexcept {
    if (outSize == 0) return 0;
    std::size_t n = 0;
    if (wide != nullptr) {
        while (n < kMaxHostNameChars && n + 1 < outSize && wide[n] != 0) {
            const char16_t c = wide[n];
            out[n] = c > 126 ? '?' : static_cast<char>(c);
            ++n;
        }
    }
    out[n] = '\0';
    return n;
}

HostKind identifyHostUtf16(const char16_t* wide) noexcept {
    char name[kMaxHostNameChars + 1];
    const std::size_t n = narrowHostName(wide, name, sizeof name);
    return identifyHost(std::string_view(name, n));
}

}  // namespace korvo
