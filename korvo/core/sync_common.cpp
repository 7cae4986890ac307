#include <atomic>
#include <utility>

#include "korvo/core/sync.h"

namespace korvo {
#if defined(KORVO_NO_TEST_COUNTERS)
std::uint64_t UncheckedMutex::blockingLockCount() noexcept {
    return 0;
}
std::uint64_t UncheckedMutex::tryLockCount() noexcept {
    return 0;
}
#else
namespace detail {
std::atomic<std::uint64_t> blockingLocks{0};
std::atomic<std::uint64_t> tryLocks{0};
}  // namespace detail

std::uint64_t UncheckedMutex::blockingLockCount() noexcept {
    return detail::blockingLocks.load(std::memory_order_relaxed);
}
std::uint64_t UncheckedMutex::tryLockCount() noexcept {
    return detail::tryLocks.load(std::memory_order_relaxed);
}
#endif

UncheckedMutex::UncheckedMutex(UncheckedMutex&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), created_(std::exchange(other.created_, 0)) {}

UncheckedMutex& UncheckedMutex::operator=(UncheckedMutex&& other) noexcept {
    if (this != &other) {
        destroy();
        handle_ = std::exchange(other.handle_, nullptr);
        created_ = std::exchange(other.created_, 0);
    }
    return *this;
}

UncheckedMutex::~UncheckedMutex() {
    destroy();
}
}  // namespace korvo
