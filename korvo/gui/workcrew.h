#pragma once
// WorkCrew: the renderer's helpers for the length of one frame.
//
// A frame runs several short parallel steps one after the other (element runs, pyramid updates,
// lighting, the raw layer's passes), each lasting tens to hundreds of microseconds. Handing each
// step to the pool as a batch of its own costs a wake-up of sleeping workers and a wake-up of the
// waiting GUI thread per step (about 50 to 80 microseconds on a loaded two-processor machine),
// and leaves the GUI thread idle while the workers run. A crew instead holds the pool's workers
// for the whole frame: begin() hands each helper one pool index running a loop that takes the
// indices of whatever step is current; run() publishes a step, takes its indices on the calling
// thread too and returns when every index has finished; end() lets the helpers go and waits for
// the pool. Between steps the helpers spin briefly (with a processor pause), then give up their
// time slice in turns, so a long serial stretch on the GUI thread leaves the processors to others.
//
// Helpers: at most the pool's workers, and one processor is left for the GUI thread itself (on a
// two-processor machine one worker helps; on one processor none does and run() calls every index
// on the calling thread).
//
// Every index of a step runs exactly once; which thread runs it is not fixed, so a step's task
// must give the same result on any thread (the helpers and the frame both run under the plug-in's
// floating-point setting).
//
// Thread contract: [main-thread] for begin, run, end and active; the tasks run on the calling
// thread and the helpers. A crew allocates nothing.

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "korvo/core/thread.h"

namespace korvo {

class WorkCrew {
public:
    WorkCrew() = default;
    ~WorkCrew() { end(); }
    WorkCrew(const WorkCrew&) = delete;
    WorkCrew& operator=(const WorkCrew&) = delete;

    // The number of helpers a pool of `workers` gets on a machine with `processors` processors.
    static std::int32_t helperCount(std::int32_t workers, std::int32_t processors) noexcept;

    // Starts the helpers on `pool` (no batch may be running on it). Does nothing when the crew is
    // active already or no helper would be started.
    void begin(ThreadPool& pool) noexcept;
    // Runs task(i) for every i in [0, count) on the calling thread and the helpers; returns when
    // all have finished. Without helpers (not begun, or none) the calling thread runs them all in
    // order.
    void run(std::int32_t count, ParallelTask task) noexcept;
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, ParallelTask>) void run(std::int32_t count,
                                                                             F&& f) noexcept {
        auto& callable = f;
        run(count, ParallelTask::of(callable));
    }
    // Lets the helpers go and waits until they have left the pool's batch. Does nothing when not
    // active.
    void end() noexcept;

    bool active() const noexcept { return pool_ != nullptr; }
    std::int32_t helpers() const noexcept { return helpers_; }

private:
    static void helperLoop(void* crew, std::int32_t index) noexcept;
    // Takes the next index of the current step and runs it; false when none is left.
    bool takeOne() noexcept;

    ThreadPool* pool_ = nullptr;
    std::int32_t helpers_ = 0;
    std::int32_t processors_ = 0;  // 0 until the first begin
    // The current step: generation in the high 32 bits, next index in the low 32 bits. An index is
    // taken by advancing it with a compare-exchange, so a thread that read an older step's fields
    // can never take an index of a newer one.
    std::atomic<std::uint64_t> ticket_{0};
    std::atomic<std::int32_t> count_{0};
    std::atomic<void*> object_{nullptr};
    std::atomic<void (*)(void*, std::int32_t)> function_{nullptr};
    std::atomic<std::int32_t> done_{0};
    std::atomic<bool> stop_{false};
};

}  // namespace korvo
