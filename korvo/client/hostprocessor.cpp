#include "korvo/client/hostprocessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace korvo {

HostProcessor::HostProcessor(Client& client) : client_(client) {
    // Sized once for the largest channel counts, so process never grows them.
    const std::int32_t maxIn = std::max<std::int32_t>(0, client_.maxInputs());
    const std::int32_t maxOut = std::max<std::int32_t>(0, client_.maxOutputs());
    inputPointers_.resize(static_cast<std::size_t>(maxIn));
    outputPointers_.resize(static_cast<std::size_t>(maxOut));
    inputCopies_.resize(static_cast<std::size_t>(maxIn));
    spareOutputs_.resize(static_cast<std::size_t>(maxOut));
    dryLines_ = std::vector<Delayline>(static_cast<std::size_t>(maxIn));
}

HostProcessor::~HostProcessor() = default;

bool HostProcessor::prepare(float rate, std::int32_t block, std::int32_t nIn, std::int32_t nOut) {
    if (block < 1) return false;  // not set up yet
    if (rate == lastSampleRate_ && block == lastBlockSize_ && nIn == lastInputCount_ &&
        nOut == lastOutputCount_)
        return false;
    lastSampleRate_ = rate;
    lastBlockSize_ = block;
    lastInputCount_ = nIn;
    lastOutputCount_ = nOut;
    client_.resetFromHost(rate, block, nIn, nOut);
    const std::size_t frames = static_cast<std::size_t>(block);
    for (Vec<float>& copy : inputCopies_) copy.resize(frames);
    silentInput_.resize(frames);
    std::memset(silentInput_.data(), 0, frames * sizeof(float));
    for (Vec<float>& spare : spareOutputs_) spare.resize(frames);
    // The dry path of the bypass: the input delayed by what the client reports.
    latencySamples_ = std::max<std::int32_t>(0, client_.latencySamples(rate));
    for (Delayline& line : dryLines_) line.resize(latencySamples_ + block);
    bypassFadeStep_ = 1.0f / std::max(1.0f, std::round(kBypassFadeSeconds * rate));
    bypassMix_ = bypassed_.load() != 0 ? 1.0f : 0.0f;
    // The client starts fresh: the next process call need not reset it again.
    resetRequested_.store(0);
    return true;
}

bool HostProcessor::process(const float* const* inputs, std::int32_t inputChannels, float* const* outputs,
                            std::int32_t outputChannels, std::int32_t frames, const HostTiming& timing,
                            IBlockEvents* events) noexcept {
    // The host's channels, never more than the client takes.
    const std::int32_t nIn =
        inputs != nullptr ? std::clamp<std::int32_t>(inputChannels, 0, client_.maxInputs()) : 0;
    const std::int32_t nOut =
        outputs != nullptr ? std::clamp<std::int32_t>(outputChannels, 0, client_.maxOutputs()) : 0;
    const float* const* hostIn = nIn > 0 ? inputs : nullptr;
    float* const* hostOut = nOut > 0 ? outputs : nullptr;

    const std::int32_t block = lastBlockSize_;
    if (block < 1 || !client_.hasBeenReset()) {
        // Processing was never set up: nothing can run safely, so give silence.
        if (events != nullptr) events->applyEventsUpTo(std::numeric_limits<std::int32_t>::max());
        for (std::int32_t c = 0; c < nOut; ++c)
            if (hostOut[c] != nullptr && frames > 0)
                std::memset(hostOut[c], 0, static_cast<std::size_t>(frames) * sizeof(float));
        return false;
    }
    // Changes at the block's first frame come before a restart, so a bypass among them needs no
    // fade either.
    if (events != nullptr) events->applyEventsUpTo(0);
    // A restart clears the client's state and the dry history; the buffers were sized on the main
    // thread. A bypass found on a restart needs no fade.
    if (resetRequested_.exchange(0) != 0) {
        client_.resetStateFromHost();
        for (Delayline& line : dryLines_) line.clear();
        bypassMix_ = bypassed_.load() != 0 ? 1.0f : 0.0f;
    }

    // Missing buses or channels: the client still gets the prepared channel counts, fed with
    // silence and writing into scratch, so its time goes on as the host's does.
    const std::int32_t arrangedIn = std::max<std::int32_t>(lastInputCount_, 0);
    const std::int32_t arrangedOut = std::max<std::int32_t>(lastOutputCount_, 0);
    const std::int32_t runIn = nIn > 0 ? std::min(nIn, std::max(arrangedIn, 1)) : arrangedIn;
    const std::int32_t runOut = std::max(nOut, arrangedOut);
    // Pieces never longer than the buffers, should the host exceed the block size it announced,
    // and cut at every event.
    for (std::int32_t done = 0; done < frames;) {
        std::int32_t end = frames;
        if (events != nullptr) {
            events->applyEventsUpTo(done);
            const std::int32_t next = events->nextEventOffset();
            if (next > done && next < frames) end = next;
        }
        const std::int32_t piece = std::min(block, end - done);
        const float bypassTarget = bypassed_.load() != 0 ? 1.0f : 0.0f;
        for (std::int32_t c = 0; c < runIn; ++c) {
            const float* src = c < nIn && hostIn[c] != nullptr ? hostIn[c] + done : silentInput_.data();
            float* copy = inputCopies_[c].data();
            std::memcpy(copy, src, static_cast<std::size_t>(piece) * sizeof(float));
            // A sample that is not finite is silence, for the client and the bypass's dry path.
            for (std::int32_t i = 0; i < piece; ++i)
                copy[i] = std::fabs(copy[i]) <= std::numeric_limits<float>::max() ? copy[i] : 0.0f;
            inputPointers_[c] = copy;
        }
        for (std::int32_t c = 0; c < runOut; ++c) {
            float* dst = c < nOut ? hostOut[c] : nullptr;
            outputPointers_[c] = dst != nullptr ? dst + done : spareOutputs_[c].data();
        }
        HostTiming pieceTiming = timing;
        pieceTiming.timeInSamples = timing.timeInSamples + done;
        // The chain runs while bypassed too, so it is warm when the bypass ends.
        client_.processAudioFromHost(inputPointers_.data(), runIn, outputPointers_.data(), runOut, piece,
                                     pieceTiming);
        for (std::int32_t c = 0; c < runIn; ++c) dryLines_[c].feedBlock(inputCopies_[c].data(), piece);
        if (bypassMix_ != 0.0f || bypassTarget != 0.0f) {
            // processAudioFromHost moved the pointers on by the piece.
            for (std::int32_t c = 0; c < runOut; ++c) {
                float* dst = c < nOut ? hostOut[c] : nullptr;
                outputPointers_[c] = dst != nullptr ? dst + done : spareOutputs_[c].data();
            }
            mixBypass(runIn, runOut, piece, bypassTarget);
        }
        done += piece;
    }
    if (events != nullptr) events->applyEventsUpTo(std::numeric_limits<std::int32_t>::max());
    return frames > 0 && client_.isAsleep();
}

// Crossfades the client's output (in the output pointers) with the dry input delayed by the
// reported latency, so toggling the bypass neither clicks nor shifts the audio. A mono input feeds
// both dry outputs. [audio-thread]
void HostProcessor::mixBypass(std::int32_t runIn, std::int32_t runOut, std::int32_t frames,
                              float target) noexcept {
    const float start = bypassMix_;
    for (std::int32_t c = 0; c < runOut; ++c) {
        float* out = outputPointers_[c];
        const Delayline* dry = runIn > 0 ? &dryLines_[std::min(c, runIn - 1)] : nullptr;
        float mix = start;
        for (std::int32_t i = 0; i < frames; ++i) {
            if (mix != target)
                mix = target > mix ? std::min(target, mix + bypassFadeStep_)
                                   : std::max(target, mix - bypassFadeStep_);
            const float d = dry != nullptr ? dry->readWhole(latencySamples_ + (frames - 1 - i)) : 0.0f;
            out[i] = mix == 1.0f ? d : out[i] * (1.0f - mix) + d * mix;
        }
        bypassMix_ = mix;
    }
    if (runOut == 0) bypassMix_ = target;
}

std::vector<std::uint8_t> HostProcessor::writeState() const {
    return stateOf(client_, bypassed_.load() != 0);
}

std::vector<std::uint8_t> HostProcessor::stateOf(const Client& client, bool bypassed) {
    const Vec<std::uint8_t> chunk = client.presetBank().writeStateChunk();
    std::vector<std::uint8_t> bytes(kStateHeaderBytes + chunk.size());
    bytes[0] = 0;  // version
    bytes[1] = bypassed ? 1 : 0;
    if (chunk.size() > 0) std::memcpy(bytes.data() + kStateHeaderBytes, chunk.data(), chunk.size());
    return bytes;
}

const char* HostProcessor::checkState(Client& client, const std::uint8_t* bytes, std::size_t size, bool apply,
                                      bool* bypassed) noexcept {
    if (bytes == nullptr || size < kStateHeaderBytes) return kChunkEndOfInput;
    if (bytes[0] != 0) return kChunkNewerVersion;
    // The chunk is checked whole before anything is applied; the bypass goes with it.
    PresetBank& bank = client.presetBank();
    const ChunkResult result = apply ? bank.readStateChunk(bytes + kStateHeaderBytes, size - kStateHeaderBytes)
                                     : bank.checkStateChunk(bytes + kStateHeaderBytes, size - kStateHeaderBytes);
    if (!result.ok) return result.message;
    if (apply && bypassed != nullptr) *bypassed = bytes[1] != 0;
    return nullptr;
}

bool HostProcessor::readState(const std::uint8_t* bytes, std::size_t size) noexcept {
    bool bypassed = false;
    if (checkState(client_, bytes, size, true, &bypassed) != nullptr) return false;
    bypassed_.store(bypassed ? 1 : 0);
    return true;
}

}  // namespace korvo
