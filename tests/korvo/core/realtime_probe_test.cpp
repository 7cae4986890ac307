// The probes that prove real-time code paths clean must themselves see allocations and locks,
// or every "allocates nothing" test would pass vacuously.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "korvo/core/nogc.h"
#include "korvo/core/sync.h"
#include "tests/support/realtime.h"

TEST(RealtimeProbe, SeesAllocationsOfEveryKind) {
    korvo::test::RealtimeProbe probe;
    auto owned = std::make_unique<int>(3);
    EXPECT_GE(probe.allocations(), 1u);
    probe.restart();
    std::vector<float> v(100);
    EXPECT_GE(probe.allocations(), 1u);
    probe.restart();
    void* block = korvo::alignedAlloc(64, 64);
    EXPECT_GE(probe.allocations(), 1u);
    korvo::alignedRelease(block, 64);
}

TEST(RealtimeProbe, SeesLocks) {
    korvo::UncheckedMutex mutex;
    korvo::test::RealtimeProbe probe;
    mutex.lock();
    mutex.unlock();
    EXPECT_EQ(probe.blockingLocks(), 1u);
    EXPECT_EQ(probe.tryLocks(), 0u);
}
