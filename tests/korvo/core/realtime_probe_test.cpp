// The probes that prove real-time code paths clean must themselves see allocations and locks,
// or every "allocates nothing" test would pass vacuously.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "korvo/core/nogc.h"
#include "korvo/core/sync.h"
#include "tests/support/realtime.h"
#if !defined(_WIN32)
#include "tools/allocations/allocations.h"
#endif

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

#if !defined(_WIN32)
// Our hosts' fuzzers read the calling thread's count: it sees every call of the malloc family made
// on this thread, and none made on another, which the process count sees.
TEST(RealtimeProbe, ThePerThreadCountSeesThisThreadsAllocationsOnly) {
    const std::uint64_t here = korvo::allocations::onThisThread(), all = korvo::allocations::inProcess();
    void* blocks[4] = {std::malloc(16), std::calloc(2, 8), std::aligned_alloc(64, 64), nullptr};
    blocks[0] = std::realloc(blocks[0], 4096);
    EXPECT_EQ(korvo::allocations::onThisThread() - here, 4u);
    // The other thread allocates while this one waits without allocating (starting a thread does).
    std::atomic<int> step{0};
    std::uint64_t other = 0;
    std::thread worker([&] {
        while (step.load() != 1) std::this_thread::yield();
        const std::uint64_t start = korvo::allocations::onThisThread();
        blocks[3] = std::malloc(32);
        other = korvo::allocations::onThisThread() - start;
        step.store(2);
    });
    const std::uint64_t before = korvo::allocations::onThisThread();
    step.store(1);
    while (step.load() != 2) std::this_thread::yield();
    EXPECT_EQ(korvo::allocations::onThisThread(), before);
    worker.join();
    EXPECT_EQ(other, 1u);
    EXPECT_GE(korvo::allocations::inProcess() - all, 5u);
    for (void* block : blocks) std::free(block);
}
#endif
