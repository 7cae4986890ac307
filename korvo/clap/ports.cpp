// ClapPlugin's audio ports and their configurations, latency and tail.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "korvo/clap/plugin.h"

namespace korvo::clap {

namespace {

const char* portType(std::int32_t channels) noexcept {
    return channels == 1 ? kPortMono : (channels == 2 ? kPortStereo : nullptr);
}

void configName(const ChannelConfig& config, char* out, std::size_t size) noexcept {
    if (config.numInputs == 2 && config.numOutputs == 2)
        std::snprintf(out, size, "Stereo");
    else if (config.numInputs == 1 && config.numOutputs == 2)
        std::snprintf(out, size, "Mono to Stereo");
    else if (config.numInputs == 1 && config.numOutputs == 1)
        std::snprintf(out, size, "Mono");
    else
        std::snprintf(out, size, "%d in, %d out", static_cast<int>(config.numInputs),
                      static_cast<int>(config.numOutputs));
}

}  // namespace

std::uint32_t ClapPlugin::portCount(bool isInput) const noexcept {
    const ChannelConfig& config = client_->channelConfigs()[static_cast<std::size_t>(config_)];
    return (isInput ? config.numInputs : config.numOutputs) > 0 ? 1 : 0;
}

void ClapPlugin::describePort(std::int32_t configIndex, bool isInput, AudioPortInfo* info) const noexcept {
    const ChannelConfig& config = client_->channelConfigs()[static_cast<std::size_t>(configIndex)];
    const std::int32_t channels = isInput ? config.numInputs : config.numOutputs;
    std::memset(info, 0, sizeof(AudioPortInfo));
    info->id = 0;  // input and output ids may be the same
    std::snprintf(info->name, sizeof(info->name), "%s", isInput ? "Audio Input" : "Audio Output");
    info->flags = kAudioPortIsMain;
    info->channelCount = static_cast<std::uint32_t>(channels);
    info->portType = portType(channels);
    // The input is copied before processing, so a host may share a buffer between the two.
    info->inPlacePair = config.numInputs == config.numOutputs ? 0 : kInvalidId;
}

bool ClapPlugin::portInfo(std::uint32_t index, bool isInput, AudioPortInfo* info) const noexcept {
    if (info == nullptr || index >= portCount(isInput)) return false;
    describePort(config_, isInput, info);
    return true;
}

std::uint32_t ClapPlugin::configCount() const noexcept {
    return static_cast<std::uint32_t>(client_->channelConfigs().size());
}

bool ClapPlugin::configInfo(std::uint32_t index, AudioPortsConfig* out) const noexcept {
    if (out == nullptr || index >= configCount()) return false;
    const ChannelConfig& config = client_->channelConfigs()[index];
    std::memset(out, 0, sizeof(AudioPortsConfig));
    out->id = index;
    configName(config, out->name, sizeof(out->name));
    out->inputPortCount = config.numInputs > 0 ? 1 : 0;
    out->outputPortCount = config.numOutputs > 0 ? 1 : 0;
    out->hasMainInput = config.numInputs > 0;
    out->mainInputChannelCount = static_cast<std::uint32_t>(std::max(0, config.numInputs));
    out->mainInputPortType = portType(config.numInputs);
    out->hasMainOutput = config.numOutputs > 0;
    out->mainOutputChannelCount = static_cast<std::uint32_t>(std::max(0, config.numOutputs));
    out->mainOutputPortType = portType(config.numOutputs);
    return true;
}

bool ClapPlugin::selectConfig(ClapId id) noexcept {
    // Ports change only while inactive.
    if (active_ || id >= configCount()) return false;
    config_ = static_cast<std::int32_t>(id);
    return true;
}

bool ClapPlugin::configPortInfo(ClapId configId, std::uint32_t index, bool isInput,
                                AudioPortInfo* info) const noexcept {
    if (info == nullptr || configId >= configCount() || index != 0) return false;
    const ChannelConfig& config = client_->channelConfigs()[configId];
    if ((isInput ? config.numInputs : config.numOutputs) <= 0) return false;
    describePort(static_cast<std::int32_t>(configId), isInput, info);
    return true;
}

std::uint32_t ClapPlugin::latency() noexcept {
    return static_cast<std::uint32_t>(std::max<std::int32_t>(0, client_->latencySamples(sampleRate_)));
}

std::uint32_t ClapPlugin::tail() noexcept {
    const float samples = static_cast<float>(sampleRate_) * client_->tailSizeInSeconds() + 0.5f;
    if (!(samples >= 0.0f)) return 0;                                            // also NaN
    if (samples >= 2147483647.0f) return static_cast<std::uint32_t>(INT32_MAX);  // infinite
    return static_cast<std::uint32_t>(samples);
}

}  // namespace korvo::clap
