// URL checks and the launcher hook shared by every platform.
#include "korvo/window/shellopen.h"

#include <atomic>
#include <string>

namespace korvo {

namespace {
std::atomic<URLLauncher> gLauncher{nullptr};
constexpr std::size_t kMaxURLLength = 2048;

bool startsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}
}  // namespace

bool isOpenableURL(std::string_view url) noexcept {
    if (url.empty() || url.size() > kMaxURLLength) return false;
    for (char c : url) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F) return false;
    }
    std::size_t rest;
    if (startsWithNoCase(url, "http://"))
        rest = 7;
    else if (startsWithNoCase(url, "https://"))
        rest = 8;
    else
        return false;
    // A host must follow: not empty, not starting with another slash.
    return rest < url.size() && url[rest] != '/' && url[rest] != '?' && url[rest] != '#';
}

OpenURLResult openURL(std::string_view url) noexcept {
    if (!isOpenableURL(url)) return OpenURLResult::refused;
    try {
        const std::string copy(url);
        const URLLauncher launcher = gLauncher.load(std::memory_order_acquire);
        const bool started = launcher != nullptr ? launcher(copy.c_str()) : systemURLLauncher(copy.c_str());
        return started ? OpenURLResult::opened : OpenURLResult::failed;
    } catch (...) {
        return OpenURLResult::failed;
    }
}

URLLauncher setURLLauncher(URLLauncher launcher) noexcept {
    return gLauncher.exchange(launcher, std::memory_order_acq_rel);
}

}  // namespace korvo
