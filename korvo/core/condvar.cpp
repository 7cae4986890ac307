// The semaphore-based condition variable with a cascading broadcast. Only the semaphores and the
// counter lock are platform code (condvar_win32.cpp, condvar_posix.cpp).
//
// Counters (all under counterLock_):
//   waitersBlocked_  threads past the gate and asleep (or about to sleep), not yet chosen;
//   waitersToWake_   threads a notification in progress has chosen and not yet woken;
//   waitersGone_     threads that left by timing out while no notification was in progress; they
//                    are still counted in waitersBlocked_ and are folded out at the next notify.
// While a notification is being delivered the gate is held, so no new waiter joins; a single
// "baton" count in the sleepers semaphore travels from each woken waiter to the next.
#include "korvo/core/condvar.h"

namespace korvo {

namespace {
constexpr std::int32_t kGoneLimit = 0x3FFFFFFF;
}

ConditionVariable::ConditionVariable() noexcept {
    gate_ = detail::semaphoreCreate(1, 1);
    sleepers_ = detail::semaphoreCreate(0, 0x7FFFFFFF);
    counterLock_ = detail::plainLockCreate();
}

void ConditionVariable::destroy() noexcept {
    if (gate_ != nullptr) detail::semaphoreDestroy(gate_);
    if (sleepers_ != nullptr) detail::semaphoreDestroy(sleepers_);
    if (counterLock_ != nullptr) detail::plainLockDestroy(counterLock_);
    gate_ = sleepers_ = counterLock_ = nullptr;
}

bool ConditionVariable::wait(UncheckedMutex& mutex, std::uint32_t timeoutMs) noexcept {
    // Pass the gate: it is closed while a notification is being delivered.
    detail::semaphoreWait(gate_, kInfinite);
    waitersBlocked_.fetch_add(1, std::memory_order_relaxed);
    detail::semaphorePost(gate_, 1);

    mutex.unlock();
    const bool woken = detail::semaphoreWait(sleepers_, timeoutMs);

    enum class After { nothing, wakeNext, reopenGate };
    After after = After::nothing;
    bool takeBackBaton = false;

    detail::plainLock(counterLock_);
    if (waitersToWake_ != 0) {
        if (woken) {
            // This waiter holds the baton: pass it on, or end the notification.
            --waitersToWake_;
            after = waitersToWake_ != 0 ? After::wakeNext : After::reopenGate;
        } else if (waitersBlocked_.load(std::memory_order_relaxed) != 0) {
            // Timed out while others can still take the baton: leave quietly.
            waitersBlocked_.fetch_sub(1, std::memory_order_relaxed);
        } else {
            // Every sleeper left was chosen and this one timed out: it leaves the chosen set. If
            // it was the last one, the baton is in the semaphore with nobody to take it.
            --waitersToWake_;
            if (waitersToWake_ == 0) {
                takeBackBaton = true;
                after = After::reopenGate;
            }
        }
    } else if (++waitersGone_ == kGoneLimit) {
        // Keep the counters far from overflow when waits keep timing out with no notification.
        detail::semaphoreWait(gate_, kInfinite);
        waitersBlocked_.fetch_sub(waitersGone_, std::memory_order_relaxed);
        detail::semaphorePost(gate_, 1);
        waitersGone_ = 0;
    }
    detail::plainUnlock(counterLock_);

    if (after == After::wakeNext) {
        detail::semaphorePost(sleepers_, 1);
    } else if (after == After::reopenGate) {
        if (takeBackBaton) detail::semaphoreWait(sleepers_, kInfinite);
        detail::semaphorePost(gate_, 1);
    }

    mutex.lock();
    return woken;
}

void ConditionVariable::notify(bool all) noexcept {
    detail::plainLock(counterLock_);
    if (waitersToWake_ != 0) {
        // A notification is in progress (the gate is closed, so nobody joins waitersBlocked_):
        // extend its chain.
        const std::int32_t blocked = waitersBlocked_.load(std::memory_order_relaxed);
        if (blocked != 0) {
            const std::int32_t chosen = all ? blocked : 1;
            waitersToWake_ += chosen;
            waitersBlocked_.store(blocked - chosen, std::memory_order_relaxed);
        }
        detail::plainUnlock(counterLock_);
        return;
    }
    if (waitersBlocked_.load(std::memory_order_relaxed) > waitersGone_) {
        detail::semaphoreWait(gate_, kInfinite);  // reopened by the last waiter woken
        // With the gate held the count is stable: fold the gone waiters out and choose.
        const std::int32_t blocked = waitersBlocked_.load(std::memory_order_relaxed) - waitersGone_;
        waitersGone_ = 0;
        const std::int32_t chosen = all ? blocked : 1;
        waitersToWake_ = chosen;
        waitersBlocked_.store(blocked - chosen, std::memory_order_relaxed);
        detail::plainUnlock(counterLock_);
        detail::semaphorePost(sleepers_, 1);  // the first waiter wakes the next, and so on
        return;
    }
    detail::plainUnlock(counterLock_);
}

}  // namespace korvo
