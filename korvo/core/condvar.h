#pragma once
// ConditionVariable: waits for a condition guarded by an UncheckedMutex.
//
// Built from two counting semaphores and a small counter lock, the classic semaphore-based design
// with a cascading broadcast: a notification wakes one sleeper, and each woken sleeper wakes the
// next one until every waiter the notification was meant for is awake. The "gate" semaphore keeps
// new waiters out while a notification is being delivered, so a broadcast never wakes a thread
// that started waiting after it. The same algorithm runs on Windows (kernel semaphores, a critical
// section) and Linux (POSIX semaphores, a pthread mutex).
//
// Waits may wake spuriously only after a timeout race; callers re-check their predicate in a loop
// as with any condition variable.
//
// Thread contract: [any-thread except audio] — wait blocks, notify may block briefly on the gate.
// Creation and destruction must not overlap any other call.

#include <atomic>
#include <cstdint>

#include "korvo/core/sync.h"

namespace korvo {

class ConditionVariable {
public:
    // Infinite timeout for wait.
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    // Creates the two semaphores (gate: 1 of at most 1, sleepers: 0 of at most 0x7FFFFFFF) and the
    // counter lock. Failure to create them ends the process.
    ConditionVariable() noexcept;
    ~ConditionVariable() { destroy(); }
    ConditionVariable(const ConditionVariable&) = delete;
    ConditionVariable& operator=(const ConditionVariable&) = delete;

    // The caller holds `mutex` (exactly once). Releases it, sleeps until notified or until
    // `timeoutMs` milliseconds have passed, then takes `mutex` again. Returns false when the wait
    // timed out, true otherwise.
    bool wait(UncheckedMutex& mutex, std::uint32_t timeoutMs = kInfinite) noexcept;

    // Wakes one waiter (all == false) or every waiter present now (all == true). Does nothing
    // when nobody waits.
    void notify(bool all) noexcept;
    void notifyOne() noexcept { notify(false); }
    void notifyAll() noexcept { notify(true); }

    // Releases the OS objects; a second call does nothing.
    void destroy() noexcept;

private:
    void* gate_ = nullptr;          // semaphore, count 1 while no notification is in progress
    void* sleepers_ = nullptr;      // semaphore waiters sleep on
    void* counterLock_ = nullptr;   // heap-allocated OS lock guarding the three counters
    std::int32_t waitersGone_ = 0;  // timed-out waiters not yet taken off waitersBlocked_
    // Waiters past the gate, not chosen by a notification. Atomic: a waiter passing the gate adds
    // itself holding only the gate, while a notifier may already read it under the counter lock.
    std::atomic<std::int32_t> waitersBlocked_{0};
    std::int32_t waitersToWake_ = 0;  // waiters a notification in progress still has to wake
};

namespace detail {
// The small platform layer under ConditionVariable (condvar_win32.cpp / condvar_posix.cpp).
void* semaphoreCreate(std::int32_t initial, std::int32_t maximum) noexcept;
bool semaphoreWait(void* semaphore, std::uint32_t timeoutMs) noexcept;  // false on timeout
void semaphorePost(void* semaphore, std::int32_t count) noexcept;
void semaphoreDestroy(void* semaphore) noexcept;
void* plainLockCreate() noexcept;  // non-recursive, no spin count
void plainLock(void* lock) noexcept;
void plainUnlock(void* lock) noexcept;
void plainLockDestroy(void* lock) noexcept;
}  // namespace detail

}  // namespace korvo
