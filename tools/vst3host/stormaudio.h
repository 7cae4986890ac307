#pragma once
// The GUI storm's audio thread: a host's audio callback in a loop, a block of 256 stereo frames
// about every 5 ms, each with the parameter changes of one of the blocks of automation made
// beforehand, in turn, and a process context of a playing transport. It checks what it gets back
// itself and keeps only counts and the first fault's figures, in atomics: it never allocates,
// locks or prints.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/vst3host/allocations.h"
#include "tools/vst3host/host.h"
#include "tools/vst3host/system.h"

namespace vst3host {

class StormAudio {
public:
    static constexpr v::int32 kFrames = 256;
    static constexpr double kRate = 48000.0;

    // automation: the blocks' changes, made on the calling thread; they must outlive stop().
    StormAudio(Plugin& plugin, const std::vector<std::unique_ptr<ParameterChanges>>& automation,
               AllocationCounter allocationCount, bool checkFinite);
    ~StormAudio();  // stop()
    StormAudio(const StormAudio&) = delete;
    StormAudio& operator=(const StormAudio&) = delete;

    bool start();
    void stop();

    std::int64_t processCalls() const { return calls_.load(std::memory_order_acquire); }
    std::int64_t allocations() const { return allocations_.load(std::memory_order_acquire); }
    // The first call that returned something else than kResultOk (-1: none) and its result.
    std::int64_t failedCall() const { return failedCall_.load(std::memory_order_acquire); }
    v::tresult failedResult() const { return failedResult_.load(std::memory_order_acquire); }
    // The first call with a sample that is not finite (-1: none), and its channel and frame.
    std::int64_t nonFiniteCall() const { return nonFiniteCall_.load(std::memory_order_acquire); }
    std::int32_t nonFiniteChannel() const { return nonFiniteChannel_.load(std::memory_order_acquire); }
    std::int32_t nonFiniteFrame() const { return nonFiniteFrame_.load(std::memory_order_acquire); }

private:
    static void entry(void* self) { static_cast<StormAudio*>(self)->loop(); }
    void loop();
    void block(std::int64_t call);

    Plugin& plugin_;
    const std::vector<std::unique_ptr<ParameterChanges>>& automation_;
    AllocationCounter allocationCount_;
    bool checkFinite_;
    HostThread thread_;
    std::atomic<bool> running_{false};
    std::atomic<std::int64_t> calls_{0};
    std::atomic<std::int64_t> allocations_{0};
    std::atomic<std::int64_t> failedCall_{-1};
    std::atomic<v::tresult> failedResult_{v::kResultOk};
    std::atomic<std::int64_t> nonFiniteCall_{-1};
    std::atomic<std::int32_t> nonFiniteChannel_{0};
    std::atomic<std::int32_t> nonFiniteFrame_{0};
    std::vector<float> in_[2], out_[2];
    double phase_ = 0.0;
    v::ProcessContext context_{};
};

}  // namespace vst3host
