#pragma once
// Real-time probes for tests: count heap allocations and lock operations made by the process
// while a code path runs.
//
//   korvo::test::RealtimeProbe probe;
//   client.processAudioFromHost(...);
//   EXPECT_EQ(probe.allocations(), 0u);
//   EXPECT_EQ(probe.blockingLocks(), 0u);
//
// Linux counts at the malloc level (every allocation of the process, glibc or sanitizer
// allocator). Windows counts operator new and the framework's own heap functions.

#include <cstdint>

#include "korvo/core/sync.h"

namespace korvo::test {

std::uint64_t processAllocationCount() noexcept;

class RealtimeProbe {
public:
    RealtimeProbe() noexcept { restart(); }
    void restart() noexcept {
        allocations0_ = processAllocationCount();
        locks0_ = UncheckedMutex::blockingLockCount();
        tryLocks0_ = UncheckedMutex::tryLockCount();
    }
    std::uint64_t allocations() const noexcept { return processAllocationCount() - allocations0_; }
    std::uint64_t blockingLocks() const noexcept { return UncheckedMutex::blockingLockCount() - locks0_; }
    std::uint64_t tryLocks() const noexcept { return UncheckedMutex::tryLockCount() - tryLocks0_; }

private:
    std::uint64_t allocations0_ = 0, locks0_ = 0, tryLocks0_ = 0;
};

}  // namespace korvo::test
