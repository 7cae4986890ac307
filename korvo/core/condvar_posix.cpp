// Linux layer of ConditionVariable: POSIX semaphores and a plain pthread mutex.
#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <time.h>

#include "korvo/core/condvar.h"
#include "korvo/core/nogc.h"

namespace korvo::detail {

void* semaphoreCreate(std::int32_t initial, std::int32_t /*maximum: counts never exceed it here*/) noexcept {
    auto* semaphore = static_cast<sem_t*>(heapAlloc(sizeof(sem_t)));
    if (sem_init(semaphore, 0, static_cast<unsigned>(initial)) != 0) fatalError("cannot create a semaphore");
    return semaphore;
}

bool semaphoreWait(void* semaphore, std::uint32_t timeoutMs) noexcept {
    auto* s = static_cast<sem_t*>(semaphore);
    if (timeoutMs == ConditionVariable::kInfinite) {
        while (sem_wait(s) != 0)
            if (errno != EINTR) fatalError("waiting on a semaphore failed");
        return true;
    }
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_nsec -= 1000000000L;
        ++deadline.tv_sec;
    }
    for (;;) {
        if (sem_timedwait(s, &deadline) == 0) return true;
        if (errno == ETIMEDOUT) return false;
        if (errno != EINTR) fatalError("waiting on a semaphore failed");
    }
}

void semaphorePost(void* semaphore, std::int32_t count) noexcept {
    for (std::int32_t i = 0; i < count; ++i) sem_post(static_cast<sem_t*>(semaphore));
}

void semaphoreDestroy(void* semaphore) noexcept {
    sem_destroy(static_cast<sem_t*>(semaphore));
    heapFree(semaphore);
}

void* plainLockCreate() noexcept {
    auto* mutex = static_cast<pthread_mutex_t*>(heapAlloc(sizeof(pthread_mutex_t)));
    if (pthread_mutex_init(mutex, nullptr) != 0) fatalError("cannot create a mutex");
    return mutex;
}

void plainLock(void* lock) noexcept {
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(lock));
}
void plainUnlock(void* lock) noexcept {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(lock));
}

void plainLockDestroy(void* lock) noexcept {
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(lock));
    heapFree(lock);
}

}  // namespace korvo::detail
