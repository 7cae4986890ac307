// WorkCrew: one pool batch per frame, steps handed out through a ticket word.
#include "korvo/gui/workcrew.h"

#include <emmintrin.h>

#include "korvo/core/fpcontrol.h"

namespace korvo {

namespace {
// Pauses a waiting thread spins before it gives up its time slice (a few microseconds).
constexpr std::int32_t kSpinsBeforeYield = 256;
// The low half of a ticket while a step's fields are being replaced.
constexpr std::uint32_t kClosed = 0xFFFFFFFFu;
}  // namespace

std::int32_t WorkCrew::helperCount(std::int32_t workers, std::int32_t processors) noexcept {
    const std::int32_t spare = processors - 1;
    const std::int32_t count = workers < spare ? workers : spare;
    return count < 0 ? 0 : count;
}

void WorkCrew::begin(ThreadPool& pool) noexcept {
    if (pool_ != nullptr) return;
    // The processor count is asked once (the OS answers it from a file, at some cost per call).
    if (processors_ == 0) processors_ = processorCount();
    const std::int32_t helpers = helperCount(pool.threadCount(), processors_);
    if (helpers == 0) return;
    pool_ = &pool;
    helpers_ = helpers;
    stop_.store(false, std::memory_order_relaxed);
    count_.store(0, std::memory_order_relaxed);
    pool.startParallel(helpers, ParallelTask{this, &WorkCrew::helperLoop});
}

void WorkCrew::end() noexcept {
    if (pool_ == nullptr) return;
    stop_.store(true, std::memory_order_release);
    pool_->waitParallel();
    pool_ = nullptr;
    helpers_ = 0;
}

bool WorkCrew::takeOne() noexcept {
    std::uint64_t ticket = ticket_.load(std::memory_order_acquire);
    for (;;) {
        const auto index = static_cast<std::uint32_t>(ticket);
        if (index == kClosed) return false;
        // Whoever read a field of a newer step also sees the ticket closed for it (each field is
        // stored with release after the closing, and read with acquire), so the exchange below
        // fails and the fields are read again. On x86 these are plain loads and stores, as
        // relaxed ones with fences would be; ThreadSanitizer follows them, which it cannot do for
        // fences.
        const std::int32_t count = count_.load(std::memory_order_acquire);
        void* object = object_.load(std::memory_order_acquire);
        void (*function)(void*, std::int32_t) = function_.load(std::memory_order_acquire);
        if (index >= static_cast<std::uint32_t>(count)) return false;
        if (ticket_.compare_exchange_weak(ticket, ticket + 1, std::memory_order_acq_rel,
                                          std::memory_order_acquire)) {
            function(object, static_cast<std::int32_t>(index));
            done_.fetch_add(1, std::memory_order_acq_rel);
            return true;
        }
    }
}

void WorkCrew::helperLoop(void* object, std::int32_t) noexcept {
    auto* crew = static_cast<WorkCrew*>(object);
    FPControl guard;
    std::int32_t spins = 0;
    for (;;) {
        if (crew->takeOne()) {
            spins = 0;
            continue;
        }
        // Stop is set only when no step is running: nothing is left behind.
        if (crew->stop_.load(std::memory_order_acquire)) return;
        _mm_pause();
        if (++spins == kSpinsBeforeYield) {
            spins = 0;
            yieldThread();
        }
    }
}

void WorkCrew::run(std::int32_t count, ParallelTask task) noexcept {
    if (count <= 0) return;
    if (pool_ == nullptr || count == 1) {
        for (std::int32_t i = 0; i < count; ++i) task.function(task.object, i);
        return;
    }
    // Every index of the last step is taken and finished. The ticket is closed under a new
    // generation before the fields change, so a helper that still holds the last step's ticket
    // cannot take an index with the new fields; then the step opens.
    const std::uint64_t generation = ((ticket_.load(std::memory_order_relaxed) >> 32) + 1) << 32;
    ticket_.store(generation | kClosed, std::memory_order_relaxed);
    object_.store(task.object, std::memory_order_release);
    function_.store(task.function, std::memory_order_release);
    count_.store(count, std::memory_order_release);
    done_.store(0, std::memory_order_relaxed);
    ticket_.store(generation, std::memory_order_release);
    while (takeOne()) {
    }
    // A helper still runs the last indices (or was preempted holding one): wait, and give the
    // processor up now and then in case it waits for this one.
    for (std::int32_t spins = 0; done_.load(std::memory_order_acquire) < count;) {
        _mm_pause();
        if (++spins == kSpinsBeforeYield) {
            spins = 0;
            yieldThread();
        }
    }
}

}  // namespace korvo
