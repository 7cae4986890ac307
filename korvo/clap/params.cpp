// ClapPlugin's parameters: the list, values, texts both ways, and parameter events.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "korvo/clap/plugin.h"

namespace korvo::clap {

namespace {

// The parameter list: the bypass, the program, then the client's parameters.
constexpr std::uint32_t kAdapterParams = 2;

bool isNaN(double v) noexcept {
    return v != v;
}

// A stepped value: truncated toward zero, then held in [min, max]. The value is not NaN.
double steppedValue(double v, double min, double max) noexcept {
    return std::trunc(std::clamp(v, min, max));
}

// Copies text into a host buffer of `capacity` bytes, cut at a character boundary, terminated.
void copyText(const char* text, char* out, std::uint32_t capacity) noexcept {
    std::size_t n = std::strlen(text);
    if (n > capacity - 1) {
        n = capacity - 1;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;  // no split character
    }
    std::memcpy(out, text, n);
    out[n] = 0;
}

void copyField(char* field, std::size_t size, const std::string& text) noexcept {
    std::memset(field, 0, size);
    std::size_t n = std::min(text.size(), size - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(field, text.data(), n);
}

}  // namespace

double ClapPlugin::normalizedFromPlain(std::int32_t index, double plain) const noexcept {
    const ParamShape& shape = shapes_[static_cast<std::size_t>(index)];
    if (shape.integer != nullptr)
        return shape.integer->toNormalized(
            static_cast<std::int32_t>(steppedValue(plain, shape.min, shape.max)));
    if (shape.boolean != nullptr) return steppedValue(plain, 0.0, 1.0);
    return std::clamp(plain, 0.0, 1.0);
}

double ClapPlugin::plainFromNormalized(std::int32_t index, double normalized) const noexcept {
    const ParamShape& shape = shapes_[static_cast<std::size_t>(index)];
    if (shape.integer != nullptr) return shape.integer->fromNormalized(normalized);
    if (shape.boolean != nullptr) return normalized >= 0.5 ? 1.0 : 0.0;
    return std::clamp(normalized, 0.0, 1.0);
}

std::uint32_t ClapPlugin::paramCount() const noexcept {
    return static_cast<std::uint32_t>(client_->parameterCount()) + kAdapterParams;
}

bool ClapPlugin::paramInfo(std::uint32_t index, ParamInfo* info) const noexcept {
    if (info == nullptr || index >= paramCount()) return false;
    std::memset(info, 0, sizeof(ParamInfo));
    info->cookie = nullptr;
    if (index == 0) {
        info->id = kBypassParamId;
        info->flags = kParamIsStepped | kParamIsBypass | kParamIsAutomatable | kParamIsEnum;
        copyField(info->name, sizeof(info->name), "Bypass");
        info->maxValue = 1.0;
        return true;
    }
    if (index == 1) {
        // The preset, as the VST3 build's program parameter: stepped, its texts the preset names.
        info->id = kProgramParamId;
        info->flags = kParamIsStepped | kParamIsEnum;
        copyField(info->name, sizeof(info->name), "Preset");
        info->maxValue = std::max(0, presetCount_ - 1);
        return true;
    }
    const auto i = static_cast<std::int32_t>(index - kAdapterParams);
    const Parameter& p = client_->parameter(i);
    const ParamShape& shape = shapes_[static_cast<std::size_t>(i)];
    info->id = static_cast<ClapId>(i);
    copyField(info->name, sizeof(info->name), p.name());
    std::uint32_t flags = shape.stepped ? kParamIsStepped : 0u;
    if (shape.enumerated) flags |= kParamIsEnum;
    // Hidden ones are kept in place, neither shown nor automatable.
    flags |= p.isHidden() ? kParamIsHidden : kParamIsAutomatable;
    info->flags = flags;
    info->minValue = shape.min;
    info->maxValue = shape.max;
    info->defaultValue = plainFromNormalized(i, p.getNormalizedDefault());
    return true;
}

bool ClapPlugin::paramValue(ClapId id, double* value) const noexcept {
    if (value == nullptr) return false;
    if (id == kBypassParamId) {
        *value = processing_->bypassed() ? 1.0 : 0.0;
    } else if (id == kProgramParamId) {
        *value = client_->presetBank().current();
    } else if (id < static_cast<ClapId>(client_->parameterCount())) {
        const auto i = static_cast<std::int32_t>(id);
        const ParamShape& shape = shapes_[static_cast<std::size_t>(i)];
        if (shape.integer != nullptr)
            *value = shape.integer->value();
        else if (shape.boolean != nullptr)
            *value = shape.boolean->value() ? 1.0 : 0.0;
        else
            *value = client_->parameter(i).normalizedForHost();
    } else {
        return false;
    }
    return true;
}

bool ClapPlugin::valueToText(ClapId id, double value, char* out, std::uint32_t capacity) const noexcept {
    if (out == nullptr || capacity <= 1 || isNaN(value)) return false;
    if (id == kBypassParamId) {
        copyText(steppedValue(value, 0.0, 1.0) >= 1.0 ? "Yes" : "No", out, capacity);
        return true;
    }
    if (id == kProgramParamId) {
        if (presetCount_ <= 0) return false;
        const auto index = static_cast<std::int32_t>(steppedValue(value, 0.0, presetCount_ - 1));
        copyText(client_->presetBank().presetName(index).c_str(), out, capacity);
        return true;
    }
    if (id >= static_cast<ClapId>(client_->parameterCount())) return false;
    const auto i = static_cast<std::int32_t>(id);
    const Parameter& p = client_->parameter(i);
    char text[192];
    p.formatNormalized(normalizedFromPlain(i, value), text, 128);
    // CLAP has no unit field: the unit goes with the value.
    if (!p.label().empty()) std::snprintf(text + std::strlen(text), 64, " %.60s", p.label().c_str());
    copyText(text, out, capacity);
    return true;
}

bool ClapPlugin::textToValue(ClapId id, const char* text, double* value) const noexcept {
    if (text == nullptr || value == nullptr) return false;
    const std::string_view typed(text, strnlen(text, 256));
    if (id == kBypassParamId) {
        if (typed != "Yes" && typed != "No") return false;
        *value = typed == "Yes" ? 1.0 : 0.0;
        return true;
    }
    if (id == kProgramParamId) {
        for (std::int32_t k = 0; k < presetCount_; ++k)
            if (client_->presetBank().presetName(k) == typed) {
                *value = k;
                return true;
            }
        return false;
    }
    if (id >= static_cast<ClapId>(client_->parameterCount())) return false;
    const auto i = static_cast<std::int32_t>(id);
    // A number may carry its unit after it ("-6.00 dB"), as valueToText writes it.
    const ParseResult parsed = client_->parameter(i).parseToNormalized(typed);
    if (!parsed.ok) return false;
    *value = plainFromNormalized(i, parsed.normalized);
    return true;
}

bool ClapPlugin::applyProgram(double plain) noexcept {
    if (isNaN(plain) || presetCount_ <= 0) return false;
    client_->presetBank().selectPresetFromHost(
        static_cast<std::int32_t>(steppedValue(plain, 0.0, presetCount_ - 1)));
    return true;
}

void ClapPlugin::applyEvent(const EventHeader* header) noexcept {
    if (header == nullptr || header->spaceId != kCoreEventSpaceId || header->type != kEventParamValue ||
        header->size < sizeof(EventParamValue))
        return;
    const auto* event = reinterpret_cast<const EventParamValue*>(header);
    const double value = event->value;
    if (isNaN(value)) return;
    if (event->paramId == kBypassParamId) {
        processing_->setBypassed(steppedValue(value, 0.0, 1.0) >= 1.0);
    } else if (event->paramId == kProgramParamId) {
        // The other parameters moved: the host hears of it on the main thread.
        if (applyProgram(value)) {
            valuesMoved_.store(1);
            if (host_->requestCallback != nullptr) host_->requestCallback(host_);
        }
    } else if (event->paramId < static_cast<ClapId>(client_->parameterCount())) {
        const auto i = static_cast<std::int32_t>(event->paramId);
        client_->setParameterFromHost(i, static_cast<float>(normalizedFromPlain(i, value)));
    }
}

void ClapPlugin::flush(const InputEvents* in, const OutputEvents* out) noexcept {
    if (in != nullptr && in->size != nullptr && in->get != nullptr) {
        const std::uint32_t count = in->size(in);
        for (std::uint32_t k = 0; k < count; ++k) applyEvent(in->get(in, k));
    }
    sendEditorEvents(out);
}

}  // namespace korvo::clap
