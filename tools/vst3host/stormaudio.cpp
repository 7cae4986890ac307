#include "tools/vst3host/stormaudio.h"

#include <cmath>

namespace vst3host {

StormAudio::StormAudio(Plugin& plugin, const std::vector<std::unique_ptr<ParameterChanges>>& automation,
                       AllocationCounter allocationCount, bool checkFinite)
    : plugin_(plugin), automation_(automation), allocationCount_(allocationCount), checkFinite_(checkFinite) {
    for (int c = 0; c < 2; ++c) {
        in_[c].assign(kFrames, 0.0f);
        out_[c].assign(kFrames, 0.0f);
    }
    context_.state = v::kPlaying | v::kTempoValid | v::kTimeSigValid | v::kProjectTimeMusicValid;
    context_.sampleRate = kRate;
    context_.tempo = 120.0;
    context_.timeSigNumerator = 4;
    context_.timeSigDenominator = 4;
}

StormAudio::~StormAudio() {
    stop();
}

bool StormAudio::start() {
    if (thread_.running()) return true;
    running_.store(true, std::memory_order_release);
    if (thread_.start(&StormAudio::entry, this)) return true;
    running_.store(false, std::memory_order_release);
    return false;
}

void StormAudio::stop() {
    running_.store(false, std::memory_order_release);
    thread_.join();
}

void StormAudio::loop() {
    for (std::int64_t call = calls_.load(std::memory_order_relaxed);
         running_.load(std::memory_order_acquire); ++call) {
        block(call);
        calls_.store(call + 1, std::memory_order_release);
        sleepMs(5);  // a block of 256 frames lasts 5.3 ms
    }
}

void StormAudio::block(std::int64_t call) {
    // A tone that wanders across the stereo field, so every stage of the effect has work.
    const double step = 2.0 * 3.141592653589793 * 220.0 / kRate;
    for (v::int32 i = 0; i < kFrames; ++i) {
        const auto s = static_cast<float>(0.5 * std::sin(phase_));
        in_[0][static_cast<std::size_t>(i)] = s;
        in_[1][static_cast<std::size_t>(i)] = s * static_cast<float>(std::cos(phase_ * 0.001));
        phase_ += step;
    }
    phase_ = std::fmod(phase_, 2.0 * 3.141592653589793 * 1000.0);
    float* in[2] = {in_[0].data(), in_[1].data()};
    float* out[2] = {out_[0].data(), out_[1].data()};
    ParameterChanges* changes =
        automation_.empty() ? nullptr : automation_[static_cast<std::size_t>(call) % automation_.size()].get();
    context_.projectTimeSamples = call * kFrames;
    context_.projectTimeMusic = static_cast<double>(context_.projectTimeSamples) / kRate * 2.0;

    const std::uint64_t before = allocationCount_ != nullptr ? allocationCount_() : 0;
    const v::tresult result = plugin_.process(in, 2, out, 2, kFrames, changes, &context_);
    if (allocationCount_ != nullptr)
        allocations_.fetch_add(static_cast<std::int64_t>(allocationCount_() - before), std::memory_order_acq_rel);
    if (result != v::kResultOk && failedCall_.load(std::memory_order_relaxed) < 0) {
        failedResult_.store(result, std::memory_order_relaxed);
        failedCall_.store(call, std::memory_order_release);
    }
    if (!checkFinite_ || nonFiniteCall_.load(std::memory_order_relaxed) >= 0) return;
    for (int c = 0; c < 2; ++c)
        for (v::int32 i = 0; i < kFrames; ++i)
            if (!std::isfinite(out_[c][static_cast<std::size_t>(i)])) {
                nonFiniteChannel_.store(c, std::memory_order_relaxed);
                nonFiniteFrame_.store(i, std::memory_order_relaxed);
                nonFiniteCall_.store(call, std::memory_order_release);
                return;
            }
}

}  // namespace vst3host
