// moduleinfo.json from a loaded module's factory: what a host that scans without loading would
// otherwise have to ask the binary.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/vst3host/host.h"

namespace vst3host {

namespace {

std::string field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

// A JSON string literal: quotes, backslashes and control characters escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", u);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

const char* boolean(bool b) {
    return b ? "true" : "false";
}

// "Name.vst3" at the end of a bundle path (any separator, a trailing one allowed), without the
// extension; the file name without its extension for a bare binary.
std::string moduleName(std::string path) {
    while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

bool moduleInfoJson(const std::string& path, std::string& json, std::string& error) {
    Module module;
    if (!module.load(path, error)) return false;
    v::IPluginFactory* factory = module.factory();
    v::PFactoryInfo info{};
    if (factory->getFactoryInfo(&info) != v::kResultOk) {
        error = "the factory gives no factory information";
        return false;
    }
    void* f2 = nullptr;
    auto* factory2 = factory->queryInterface(v::iidIPluginFactory2.data(), &f2) == v::kResultOk
                         ? static_cast<v::IPluginFactory2*>(f2)
                         : nullptr;
    std::string classes, version;
    const int count = factory->countClasses();
    for (int c = 0; c < count; ++c) {
        v::PClassInfo2 ci{};
        if (factory2 == nullptr || factory2->getClassInfo2(c, &ci) != v::kResultOk) {
            v::PClassInfo basic{};
            if (factory->getClassInfo(c, &basic) != v::kResultOk) continue;
            std::memcpy(&ci, &basic, sizeof(basic));
        }
        const std::string classVersion = field(ci.version, 64);
        if (version.empty()) version = classVersion;
        std::string subs;
        const std::string all = field(ci.subCategories, 128);
        for (std::size_t start = 0; start < all.size();) {
            const std::size_t bar = std::min(all.find('|', start), all.size());
            if (bar > start) subs += (subs.empty() ? "" : ", ") + quoted(all.substr(start, bar - start));
            start = bar + 1;
        }
        classes += classes.empty() ? "\n" : ",\n";
        classes += "    {\n      \"CID\": " + quoted(uidText(ci.cid)) + ",\n";
        classes += "      \"Category\": " + quoted(field(ci.category, 32)) + ",\n";
        classes += "      \"Name\": " + quoted(field(ci.name, 64)) + ",\n";
        classes += "      \"Vendor\": " + quoted(field(ci.vendor, 64)) + ",\n";
        classes += "      \"Version\": " + quoted(classVersion) + ",\n";
        classes += "      \"SDKVersion\": " + quoted(field(ci.sdkVersion, 64)) + ",\n";
        if (!subs.empty()) classes += "      \"Sub Categories\": [" + subs + "],\n";
        classes += "      \"Class Flags\": " + std::to_string(ci.classFlags) + ",\n";
        classes += "      \"Cardinality\": " + std::to_string(ci.cardinality) + ",\n";
        classes += "      \"Snapshots\": []\n    }";
    }
    if (factory2 != nullptr) factory2->release();
    json = "{\n  \"Name\": " + quoted(moduleName(path)) + ",\n";
    json += "  \"Version\": " + quoted(version) + ",\n";
    json += "  \"Factory Info\": {\n";
    json += "    \"Vendor\": " + quoted(field(info.vendor, 64)) + ",\n";
    json += "    \"URL\": " + quoted(field(info.url, 256)) + ",\n";
    json += "    \"E-Mail\": " + quoted(field(info.email, 128)) + ",\n";
    json += "    \"Flags\": {\n";
    json += std::string("      \"Unicode\": ") + boolean((info.flags & 16) != 0) + ",\n";
    json += std::string("      \"Classes Discardable\": ") + boolean((info.flags & 1) != 0) + ",\n";
    json += std::string("      \"Component Non Discardable\": ") + boolean((info.flags & 8) != 0) + "\n";
    json += "    }\n  },\n";
    json += "  \"Classes\": [" + classes + (classes.empty() ? "]\n" : "\n  ]\n") + "}\n";
    return true;
}

}  // namespace vst3host
