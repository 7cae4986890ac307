// Windows: a critical section with spin count 40, so short critical sections avoid a kernel
// transition.
#include <windows.h>

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
    auto* section = static_cast<CRITICAL_SECTION*>(heapAlloc(sizeof(CRITICAL_SECTION)));
    if (!InitializeCriticalSectionAndSpinCount(section, 40)) fatalError("cannot create a critical section");
    handle_ = section;
    created_ = 1;
}

void UncheckedMutex::lock() noexcept {
#if !defined(KORVO_NO_TEST_COUNTERS)
    detail::blockingLocks.fetch_add(1, std::memory_order_relaxed);
#endif
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(handle_));
}

bool UncheckedMutex::tryLock() noexcept {
#if !defined(KORVO_NO_TEST_COUNTERS)
    detail::tryLocks.fetch_add(1, std::memory_order_relaxed);
#endif
    return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(handle_)) != 0;
}

void UncheckedMutex::unlock() noexcept {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(handle_));
}

void UncheckedMutex::destroy() noexcept {
    if (created_ == 0) return;
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(handle_));
    heapFree(handle_);
    handle_ = nullptr;
    created_ = 0;
}
}  // namespace korvo
