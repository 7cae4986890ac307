// Windows layer of ConditionVariable: kernel semaphores and a critical section without spin count.
#include <windows.h>

#include "korvo/core/condvar.h"
#include "korvo/core/nogc.h"

namespace korvo::detail {

void* semaphoreCreate(std::int32_t initial, std::int32_t maximum) noexcept {
    HANDLE semaphore = CreateSemaphoreA(nullptr, initial, maximum, nullptr);
    if (semaphore == nullptr) fatalError("cannot create a semaphore");
    return semaphore;
}

bool semaphoreWait(void* semaphore, std::uint32_t timeoutMs) noexcept {
    const DWORD result = WaitForSingleObject(static_cast<HANDLE>(semaphore), timeoutMs);
    if (result == WAIT_OBJECT_0) return true;
    if (result == WAIT_TIMEOUT) return false;
    fatalError("waiting on a semaphore failed");
}

void semaphorePost(void* semaphore, std::int32_t count) noexcept {
    ReleaseSemaphore(static_cast<HANDLE>(semaphore), count, nullptr);
}

void semaphoreDestroy(void* semaphore) noexcept {
    CloseHandle(static_cast<HANDLE>(semaphore));
}

void* plainLockCreate() noexcept {
    auto* section = static_cast<CRITICAL_SECTION*>(heapAlloc(sizeof(CRITICAL_SECTION)));
    InitializeCriticalSection(section);
    return section;
}

void plainLock(void* lock) noexcept {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}
void plainUnlock(void* lock) noexcept {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
}

void plainLockDestroy(void* lock) noexcept {
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
    heapFree(lock);
}

}  // namespace korvo::detail
