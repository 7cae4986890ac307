#pragma once
// HostProcessor: what every format adapter does between a host's audio block and the client, and
// the bytes every format saves.
//
// An adapter owns one per plug-in instance, over the instance's client. It sizes the client and its
// own buffers on the main thread (prepare); on the audio thread it takes the host's channel
// buffers as they come and runs the client over them (process). It also holds the bypass, which
// the client knows nothing of, and writes and reads the plug-in's whole persistent state.
//
// One host block (process):
// - Before a prepare, nothing can run safely: the outputs are silence.
// - A requested reset (requestReset: processing restarted, or the host asked) clears the client's
//   state and the bypass's dry path first; a bypass found then takes effect without a fade.
// - The block is cut into pieces no longer than the prepared block size, and, when the adapter
//   passes timed events (IBlockEvents), at every event offset: before each piece the events up to
//   its first frame are applied, so a change at offset k is heard from frame k on. Events at or
//   beyond the block's end are applied after its last piece. Without events every piece is as
//   long as the buffers allow.
// - Each piece's input channels are copied before the client runs (so a host that shares input and
//   output buffers is safe), every sample that is not finite made silence. A missing channel (a
//   null array or entry) is silence and a missing output is scratch: the client always sees the
//   prepared channel counts and its time goes on as the host's does. Channels beyond the client's
//   maxInputs and maxOutputs are ignored.
// - The client runs while bypassed too, so it is warm when the bypass ends. The bypassed output is
//   the input delayed by the client's latency (a mono input on both outputs); toggling crossfades
//   the two over kBypassFadeSeconds, so it neither clicks nor shifts the audio.
//
// Persistent state (writeState / readState): a version byte 0, the bypass byte (1 or 0), then the
// client's state chunk (korvo/client/preset.h) to the end. The bytes are untrusted on reading: a
// wrong version, a missing bypass byte or a chunk that does not check out is refused with nothing
// applied, the bypass included.
//
// Threads
// - prepare, writeState and readState: [main-thread], never at the same time as process.
// - process: [audio-thread]. It allocates nothing, takes no lock and never logs.
// - requestReset, setBypassed and bypassed: [any-thread] (atomic).
// - The floating-point setting is the caller's: adapters run every entry under FPControl.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "korvo/client/client.h"
#include "korvo/core/vec.h"
#include "korvo/dsp/delayline.h"

namespace korvo {

// Length of the bypass crossfade.
inline constexpr float kBypassFadeSeconds = 0.008f;
// Largest persistent state an adapter reads from a host.
inline constexpr std::size_t kMaxStateBytes = std::size_t{1} << 20;
// Bytes of the persistent state ahead of the client's chunk (version, bypass).
inline constexpr std::size_t kStateHeaderBytes = 2;

// The timed events of one host block, in the adapter's format. Offsets are frames from the block's
// start. [audio-thread]
class IBlockEvents {
public:
    virtual ~IBlockEvents() = default;
    // Offset of the next event not yet applied; `frames` or more when none is left inside the block.
    virtual std::int32_t nextEventOffset() noexcept = 0;
    // Applies, in order, every event not yet applied whose offset is at most `position`.
    virtual void applyEventsUpTo(std::int32_t position) noexcept = 0;
};

class HostProcessor {
public:
    // Sizes the pointer arrays and the dry path's lines for the client's largest channel counts.
    // The client outlives this object. [main-thread]
    explicit HostProcessor(Client& client);
    ~HostProcessor();
    HostProcessor(const HostProcessor&) = delete;
    HostProcessor& operator=(const HostProcessor&) = delete;

    // Prepares for a rate, a largest block (>= 1; smaller does nothing) and channel counts, when
    // one of them differs from the last prepare: resets the client (resetFromHost), sizes the input
    // copies, the silent input, the scratch outputs and the dry path (latency + block), sets the
    // fade step and the crossfade to where the bypass stands, and drops a pending reset. True
    // when it prepared anew. [main-thread]
    bool prepare(float sampleRate, std::int32_t maxBlock, std::int32_t numInputs, std::int32_t numOutputs);
    // The last prepare's values (block size -1 and counts -1 before the first). [any-thread]
    std::int32_t preparedBlockSize() const noexcept { return lastBlockSize_; }
    std::int32_t preparedInputs() const noexcept { return lastInputCount_; }
    std::int32_t preparedOutputs() const noexcept { return lastOutputCount_; }
    // The client's latency at the prepared rate (0 before the first prepare). [any-thread]
    std::int32_t preparedLatency() const noexcept { return latencySamples_; }

    // The next process call starts by clearing the client's state and the dry path. [any-thread]
    void requestReset() noexcept { resetRequested_.store(1); }

    // [any-thread]
    void setBypassed(bool on) noexcept { bypassed_.store(on ? 1 : 0); }
    bool bypassed() const noexcept { return bypassed_.load() != 0; }

    // Runs one host block (see the header comment). inputs and outputs are channel-pointer arrays of
    // inputChannels and outputChannels entries; either array and any entry may be null. Returns
    // true when the block was silence that stays silence while the input stays silent (the client
    // is asleep, Client::isAsleep), so the host may stop calling until sound or events come.
    // [audio-thread]
    bool process(const float* const* inputs, std::int32_t inputChannels, float* const* outputs,
                 std::int32_t outputChannels, std::int32_t frames, const HostTiming& timing,
                 IBlockEvents* events = nullptr) noexcept;

    // The persistent state: header, then the client's chunk. [main-thread]
    std::vector<std::uint8_t> writeState() const;
    // The persistent state of `client` with the bypass as given, as writeState writes it (preset
    // files hold it too). [main-thread]
    static std::vector<std::uint8_t> stateOf(const Client& client, bool bypassed);
    // Checks a persistent state whole: null when it checks out (then, with `apply`, its chunk is
    // applied to the client and *bypassed takes its bypass byte when given), else the reason, and
    // nothing is applied. [main-thread]
    static const char* checkState(Client& client, const std::uint8_t* bytes, std::size_t size, bool apply,
                                  bool* bypassed = nullptr) noexcept;
    // Applies a persistent state when it checks out whole; false (nothing applied) otherwise.
    // [main-thread]
    bool readState(const std::uint8_t* bytes, std::size_t size) noexcept;

private:
    // Crossfades the client's output (in the output pointers) with the delayed dry input.
    void mixBypass(std::int32_t runIn, std::int32_t runOut, std::int32_t frames, float target) noexcept;

    Client& client_;
    std::atomic<std::uint8_t> resetRequested_{1};
    std::atomic<std::uint8_t> bypassed_{0};
    float lastSampleRate_ = 0.0f;
    std::int32_t lastBlockSize_ = -1;
    std::int32_t lastInputCount_ = -1;
    std::int32_t lastOutputCount_ = -1;
    Vec<const float*> inputPointers_;
    Vec<float*> outputPointers_;
    Vec<float> silentInput_;
    std::vector<Vec<float>> inputCopies_;   // one per possible input channel
    std::vector<Vec<float>> spareOutputs_;  // one per possible output channel
    std::vector<Delayline> dryLines_;       // the bypass's dry input, one per possible input channel
    std::int32_t latencySamples_ = 0;       // the client's latency at the prepared rate
    float bypassMix_ = 0.0f;                // 0: the client's output, 1: the delayed dry input
    float bypassFadeStep_ = 1.0f;           // per sample: one over the fade length
};

}  // namespace korvo
