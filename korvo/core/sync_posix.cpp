// Linux: a recursive pthread mutex meets the same contract as the Windows critical section.
#include <pthread.h>

#include <atomic>

#include "korvo/core/nogc.h"
#include "korvo/core/sync.h"

namespace korvo {
namespace detail {
extern std::atomic<std::uint64_t> blockingLocks;
extern std::atomic<std::uint64_t> tryLocks;
}  // namespace detail

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
    detail::blockingLocks.fetch_add(1, std::memory_order_relaxed);
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(handle_));
}

bool UncheckedMutex::tryLock() noexcept {
    detail::tryLocks.fetch_add(1, std::memory_order_relaxed);
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
