// Linux: a recursive pthread mutex meets the same contract as the Windows critical section.
#include <pthread.h>

#include <atomic>

#include "korvo/core/nogc.h"
#include "korvo/core/sync.h"

namespace korvo {
#if !defined(KORVO_NO_TEST_COUNTERS)
namespace detail {
extern std::atomic<std::uint64_t> blockingLocks;
extern std::atomic<std::uint64_t> tryLocks;
}  // namespace detail
#endif

UncheckedMutex::UncheckedMutex() noexcept {
    auto* mutex = static_cast<pthread_mutex_t*>(heapAlloc(sizeof(pthread_mutex_t)));
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    if (pthread_mutex_init(mutex, &attributes) != 0) fatalError("cannot create a mutex");
    pthread_mutexattr_destroy(&attributes);
    handle_ = mutex;
    created_ = 1;
}

void UncheckedMutex::lock() noexcept {
#if !defined(KORVO_NO_TEST_COUNTERS)
    detail::blockingLocks.fetch_add(1, std::memory_order_relaxed);
#endif
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(handle_));
}

bool UncheckedMutex::tryLock() noexcept {
#if !defined(KORVO_NO_TEST_COUNTERS)
    detail::tryLocks.fetch_add(1, std::memory_order_relaxed);
#endif
    return pthread_mutex_trylock(static_cast<pthread_mutex_t*>(handle_)) == 0;
}

void UncheckedMutex::unlock() noexcept {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(handle_));
}

void UncheckedMutex::destroy() noexcept {
    if (created_ == 0) return;
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(handle_));
    heapFree(handle_);
    handle_ = nullptr;
    created_ = 0;
}
}  // namespace korvo
