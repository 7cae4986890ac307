#include "tools/velmora/info.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "effect/main.h"

namespace velmora::cli {

namespace {

// The rate at which latency is reported (the effect's latency does not depend on it).
constexpr double kInfoRate = 48000.0;

std::string numberText(double value) {
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Shortest text that reads back as the same float (0.2f prints as 0.2).
std::string floatText(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string jsonNumber(double value) {
    return std::isfinite(value) ? numberText(value) : "null";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

struct ParameterFacts {
    const char* type;
    double min, max, defaultValue;
    std::string minText, maxText, defaultText;
    std::vector<std::string> values;  // enum choices
};

std::string formatted(const korvo::Parameter& p, double normalized) {
    char buffer[64];
    p.formatNormalized(normalized, buffer, sizeof buffer);
    return buffer;
}

ParameterFacts factsOf(const korvo::Parameter& p) {
    ParameterFacts f{};
    f.minText = formatted(p, 0.0);
    f.maxText = formatted(p, 1.0);
    f.defaultText = formatted(p, p.getNormalizedDefault());
    if (const auto* b = dynamic_cast<const korvo::BoolParameter*>(&p)) {
        f.type = "bool";
        f.min = 0;
        f.max = 1;
        f.defaultValue = b->defaultValue() ? 1 : 0;
    } else if (const auto* n = dynamic_cast<const korvo::IntegerParameter*>(&p)) {
        f.type = "integer";
        f.min = n->minValue();
        f.max = n->maxValue();
        f.defaultValue = n->defaultValue();
        if (const auto* e = dynamic_cast<const korvo::EnumParameter*>(&p)) {
            f.type = "enum";
            for (std::int32_t i = 0; i < e->possibleValueCount(); ++i)
                f.values.push_back(e->possibleValue(i));
        }
    } else if (const auto* x = dynamic_cast<const korvo::FloatParameter*>(&p)) {
        f.type = "float";
        if (dynamic_cast<const korvo::LinearFloatParameter*>(&p)) f.type = "linear";
        if (dynamic_cast<const korvo::LogFloatParameter*>(&p)) f.type = "log";
        if (dynamic_cast<const korvo::GainParameter*>(&p)) f.type = "gain";
        if (dynamic_cast<const korvo::PowFloatParameter*>(&p)) f.type = "pow";
        f.min = x->minValue();
        f.max = x->maxValue();
        f.defaultValue = x->defaultValue();
    } else {
        f.type = "unknown";
    }
    return f;
}

std::string version(const korvo::PluginDescription& d) {
    return std::to_string(d.versionMajor) + "." + std::to_string(d.versionMinor) + "." +
           std::to_string(d.versionPatch);
}

void printText(VelmoraClient& client, std::ostream& out) {
    const korvo::PluginDescription& d = client.description();
    out << d.pluginName << " " << version(d) << " by " << d.vendorName << "\n";
    out << "  plug-in id " << d.pluginUniqueID << ", vendor id " << d.vendorUniqueID << ", category "
        << d.category << "\n";
    out << "  homepage " << client.homepage() << ", support " << client.supportEmail() << "\n";
    out << "  editor " << (d.hasGUI ? "yes" : "no") << ", MIDI input " << (d.receivesMIDI ? "yes" : "no")
        << "\n";
    out << "channel configurations (in -> out):";
    for (std::size_t i = 0; i < client.channelConfigs().size(); ++i) {
        const korvo::ChannelConfig& c = client.channelConfigs()[i];
        out << (i ? ", " : " ") << c.numInputs << " -> " << c.numOutputs;
    }
    out << "\n";
    out << "latency: " << client.latencySamples(kInfoRate) << " samples (at " << numberText(kInfoRate)
        << " Hz)\n";
    out << "tail: " << floatText(client.tailSizeInSeconds()) << " s\n";
    out << "largest processing block: " << client.cachedMaxFramesInProcess() << " frames\n";

    out << "parameters (" << client.parameterCount() << "):\n";
    char line[512];
    std::snprintf(line, sizeof line, "  %5s  %-18s %-8s %-24s %-10s %s\n", "index", "name", "type", "range",
                  "default", "label");
    out << line;
    for (std::int32_t i = 0; i < client.parameterCount(); ++i) {
        const korvo::Parameter& p = client.parameter(i);
        const ParameterFacts f = factsOf(p);
        const std::string range = f.minText + " .. " + f.maxText;
        std::snprintf(line, sizeof line, "  %5d  %-18s %-8s %-24s %-10s %s\n", i, p.name().c_str(), f.type,
                      range.c_str(), f.defaultText.c_str(), p.label().c_str());
        out << line;
        if (!f.values.empty()) {
            out << "         values:";
            for (std::size_t v = 0; v < f.values.size(); ++v) out << (v ? ", " : " ") << f.values[v];
            out << "\n";
        }
    }
    const korvo::PresetBank& bank = client.presetBank();
    out << "presets (" << bank.count() << "):\n";
    for (std::int32_t i = 0; i < bank.count(); ++i) {
        out << "  " << i << "  \"" << bank.presetName(i) << "\"\n";
    }
}

void printJson(VelmoraClient& client, std::ostream& out) {
    const korvo::PluginDescription& d = client.description();
    out << "{\n";
    out << "  \"name\": " << jsonString(d.pluginName) << ",\n";
    out << "  \"vendor\": " << jsonString(d.vendorName) << ",\n";
    out << "  \"version\": " << jsonString(version(d)) << ",\n";
    out << "  \"pluginId\": " << jsonString(d.pluginUniqueID) << ",\n";
    out << "  \"vendorId\": " << jsonString(d.vendorUniqueID) << ",\n";
    out << "  \"category\": " << d.category << ",\n";
    out << "  \"homepage\": " << jsonString(client.homepage()) << ",\n";
    out << "  \"supportEmail\": " << jsonString(client.supportEmail()) << ",\n";
    out << "  \"hasEditor\": " << (d.hasGUI ? "true" : "false") << ",\n";
    out << "  \"receivesMidi\": " << (d.receivesMIDI ? "true" : "false") << ",\n";
    out << "  \"channelConfigurations\": [";
    for (std::size_t i = 0; i < client.channelConfigs().size(); ++i) {
        const korvo::ChannelConfig& c = client.channelConfigs()[i];
        out << (i ? ", " : "") << "{\"inputs\": " << c.numInputs << ", \"outputs\": " << c.numOutputs << "}";
    }
    out << "],\n";
    out << "  \"latencySamples\": " << client.latencySamples(kInfoRate) << ",\n";
    out << "  \"tailSeconds\": " << floatText(client.tailSizeInSeconds()) << ",\n";
    out << "  \"maxBlockFrames\": " << client.cachedMaxFramesInProcess() << ",\n";
    out << "  \"parameters\": [\n";
    for (std::int32_t i = 0; i < client.parameterCount(); ++i) {
        const korvo::Parameter& p = client.parameter(i);
        const ParameterFacts f = factsOf(p);
        out << "    {\"index\": " << i << ", \"name\": " << jsonString(p.name()) << ", \"type\": \"" << f.type
            << "\", \"min\": " << jsonNumber(f.min) << ", \"max\": " << jsonNumber(f.max)
            << ", \"default\": " << jsonNumber(f.defaultValue) << ", \"minText\": " << jsonString(f.minText)
            << ", \"maxText\": " << jsonString(f.maxText)
            << ", \"defaultText\": " << jsonString(f.defaultText) << ", \"label\": " << jsonString(p.label());
        if (!f.values.empty()) {
            out << ", \"values\": [";
            for (std::size_t v = 0; v < f.values.size(); ++v)
                out << (v ? ", " : "") << jsonString(f.values[v]);
            out << "]";
        }
        out << "}" << (i + 1 < client.parameterCount() ? "," : "") << "\n";
    }
    out << "  ],\n";
    const korvo::PresetBank& bank = client.presetBank();
    out << "  \"presets\": [\n";
    for (std::int32_t i = 0; i < bank.count(); ++i) {
        out << "    {\"index\": " << i << ", \"name\": " << jsonString(bank.presetName(i)) << "}"
            << (i + 1 < bank.count() ? "," : "") << "\n";
    }
    out << "  ]\n}\n";
}

}  // namespace

void printInfo(VelmoraClient& client, InfoStyle style, std::ostream& out) {
    if (style == InfoStyle::json) {
        printJson(client, out);
    } else {
        printText(client, out);
    }
}

}  // namespace velmora::cli
