#include "korvo/client/client.h"

#include <cmath>
#include <cstring>
#include <thread>

namespace korvo {

Client::Client() noexcept = default;

Client::~Client() {
    destroyGraphics();
    presetBank_.reset();
    parameters_.clear();
    channelConfigs_.release();
    midiBuffer_.release();
}

void Client::initialize() {
    if (initialized_) fatalError("Client::initialize called twice");
    initialized_ = true;

    description_ = buildDescription();
    channelConfigs_ = buildChannelConfigs();

    parameters_ = buildParameters();
    for (std::size_t i = 0; i < parameters_.size(); ++i) {
        if (!parameters_[i] || parameters_[i]->index() != static_cast<std::int32_t>(i))
            fatalError("parameter index doesn't match its position in the parameter list");
        parameters_[i]->setClient(this);
    }

    presetBank_ = makeHeap<PresetBank>(buildPresets(), this);
    maxFramesInProcess_ = maxFramesInProcess();

    maxInputs_ = maxOutputs_ = 0;
    for (const ChannelConfig& config : channelConfigs_) {
        if (config.numInputs > maxInputs_) maxInputs_ = config.numInputs;
        if (config.numOutputs > maxOutputs_) maxOutputs_ = config.numOutputs;
    }

    // Room for a full queue, so queuing never allocates later.
    midiBuffer_.resize(kMaxMidiMessages);
    midiBuffer_.clear();
    midiCount_ = 0;
}

// ---- Default virtual operations -----------------------------------------------------------------

void Client::setParameterFromHost(std::int32_t index, float normalized) noexcept {
    parameter(index).setNormalizedFromHost(static_cast<double>(normalized));
}

HeapPtr<IGraphics> Client::createGraphics() {
    return nullptr;
}

void Client::reset(double, std::int32_t, std::int32_t, std::int32_t) noexcept {}
void Client::resetState() noexcept {
    reset(lastResetRate_, lastResetMaxFrames_, lastResetInputs_, lastResetOutputs_);
}
std::int32_t Client::latencySamples(double) noexcept {
    return 0;
}
float Client::tailSizeInSeconds() noexcept {
    return 0.0f;
}
std::int32_t Client::maxFramesInProcess() noexcept {
    return 0;
}
bool Client::isAsleep() const noexcept {
    return false;
}

void Client::enqueueMidiFromHost(MidiMessage message) noexcept {
    if (midiCount_ >= kMaxMidiMessages) return;  // full: dropped, count unchanged
    message.offset += midiBlockOffset_;
    std::int32_t slot = ++midiCount_;
    // Sift up while the parent is strictly later.
    while (slot > 1 && midiHeap_[slot / 2].offset > message.offset) {
        midiHeap_[slot] = midiHeap_[slot / 2];
        slot /= 2;
    }
    midiHeap_[slot] = message;
}

bool Client::popMidiMessage(MidiMessage& out) noexcept {
    if (midiCount_ <= 0) return false;
    out = midiHeap_[1];
    const MidiMessage last = midiHeap_[midiCount_--];
    std::int32_t slot = 1;
    for (;;) {
        std::int32_t child = slot * 2;
        if (child > midiCount_) break;
        if (child + 1 <= midiCount_ && midiHeap_[child + 1].offset < midiHeap_[child].offset) ++child;
        if (midiHeap_[child].offset >= last.offset) break;
        midiHeap_[slot] = midiHeap_[child];
        slot = child;
    }
    if (midiCount_ > 0) midiHeap_[slot] = last;
    return true;
}

void Client::processAudioFromHost(const float** inputs, std::int32_t numInputs, float** outputs,
                                  std::int32_t numOutputs, std::int32_t frames, HostTiming& timing) noexcept {
    if (maxFramesInProcess_ == 0) {
        processAudio(inputs, numInputs, outputs, numOutputs, frames, timing);
        return;
    }
    std::int32_t remaining = frames;
    while (remaining > 0) {
        const std::int32_t limit = maxFramesInProcess_;  // read again on every pass
        const std::int32_t chunk = remaining < limit ? remaining : limit;
        processAudio(inputs, numInputs, outputs, numOutputs, chunk, timing);
        for (std::int32_t c = 0; c < numInputs; ++c) inputs[c] += chunk;
        for (std::int32_t c = 0; c < numOutputs; ++c) outputs[c] += chunk;
        // Wraps instead of overflowing on absurd host positions.
        timing.timeInSamples = static_cast<std::int64_t>(static_cast<std::uint64_t>(timing.timeInSamples) +
                                                         static_cast<std::uint64_t>(chunk));
        remaining -= chunk;
    }
}

void Client::resetFromHost(double sampleRate, std::int32_t maxFrames, std::int32_t numInputs,
                           std::int32_t numOutputs) noexcept {
    midiBlockOffset_ = 0;
    midiCount_ = 0;
    const std::int32_t m =
        (maxFramesInProcess_ != 0 && maxFramesInProcess_ <= maxFrames) ? maxFramesInProcess_ : maxFrames;
    lastResetRate_ = sampleRate;
    lastResetMaxFrames_ = m < 0 ? 0 : m;
    lastResetInputs_ = numInputs;
    lastResetOutputs_ = numOutputs;
    reset(sampleRate, m, numInputs, numOutputs);
}

void Client::resetStateFromHost() noexcept {
    if (!hasBeenReset()) return;
    midiBlockOffset_ = 0;
    midiCount_ = 0;
    resetState();
}

// ---- Accessors ----------------------------------------------------------------------------------

const char* Client::supportEmail() const noexcept {
    return description_.vendorSupportEmail.empty() ? "support@example.com"
                                                   : description_.vendorSupportEmail.c_str();
}

const char* Client::homepage() const noexcept {
    return description_.pluginHomepage.empty() ? "https://example.com" : description_.pluginHomepage.c_str();
}

bool Client::isLegalChannelConfig(std::int32_t numInputs, std::int32_t numOutputs) const noexcept {
    for (const ChannelConfig& config : channelConfigs_)
        if (config.numInputs == numInputs && config.numOutputs == numOutputs) return true;
    return false;
}

// ---- Editor object ------------------------------------------------------------------------------

IGraphics* Client::ensureGraphics() {
    if (!graphics_) {
        graphics_ = createGraphics();
        if (graphics_) {
            graphics_->setHostCommand(hostCommand_);
            graphics_->setUserZoom(editorZoom_);
            graphicsAvailable_.store(1, std::memory_order_release);
        }
    }
    return graphics_.get();
}

void Client::setEditorZoom(float zoom) noexcept {
    editorZoom_ = zoom;
    if (graphics_) {
        graphics_->setUserZoom(zoom);
        editorZoom_ = graphics_->userZoom();
    }
}

// The editor's state: 'KZED', a version byte (1), the zoom as a little-endian float32.
namespace {
constexpr std::uint8_t kEditorStateTag[4] = {'K', 'Z', 'E', 'D'};
constexpr std::uint8_t kEditorStateVersion = 1;
constexpr std::size_t kEditorStateBytes = 9;
}  // namespace

std::vector<std::uint8_t> Client::writeEditorState() const {
    const float zoom = editorZoom();
    std::uint32_t bits = 0;
    std::memcpy(&bits, &zoom, sizeof bits);
    return {kEditorStateTag[0],
            kEditorStateTag[1],
            kEditorStateTag[2],
            kEditorStateTag[3],
            kEditorStateVersion,
            static_cast<std::uint8_t>(bits),
            static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16),
            static_cast<std::uint8_t>(bits >> 24)};
}

bool Client::readEditorState(const std::vector<std::uint8_t>& bytes) noexcept {
    float zoom = 1.0f;
    if (!bytes.empty()) {
        if (bytes.size() < kEditorStateBytes || std::memcmp(bytes.data(), kEditorStateTag, 4) != 0 ||
            bytes[4] < kEditorStateVersion)
            return false;
        const std::uint32_t bits = std::uint32_t{bytes[5]} | std::uint32_t{bytes[6]} << 8 |
                                   std::uint32_t{bytes[7]} << 16 | std::uint32_t{bytes[8]} << 24;
        std::memcpy(&zoom, &bits, sizeof zoom);
        if (!std::isfinite(zoom)) return false;
    }
    setEditorZoom(zoom);
    return true;
}

IGraphics* Client::tryAcquireGraphics() noexcept {
    std::uint8_t expected = 1;
    if (!graphicsAvailable_.compare_exchange_strong(expected, 0, std::memory_order_acquire,
                                                    std::memory_order_relaxed))
        return nullptr;
    return graphics_.get();
}

void Client::releaseGraphics() noexcept {
    graphicsAvailable_.store(1, std::memory_order_release);
}

void Client::destroyGraphics() noexcept {
    if (!graphics_) return;
    // Wait for the audio thread to give the editor back, then keep it.
    for (;;) {
        std::uint8_t expected = 1;
        if (graphicsAvailable_.compare_exchange_weak(expected, 0, std::memory_order_acquire,
                                                     std::memory_order_relaxed))
            break;
        std::this_thread::yield();
    }
    graphics_.reset();
}

}  // namespace korvo
