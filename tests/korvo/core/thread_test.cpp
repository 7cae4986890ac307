#include "korvo/core/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "korvo/core/condvar.h"
#include "korvo/core/fpcontrol.h"
#include "korvo/core/nogc.h"
#include "korvo/core/sync.h"
#include "tests/support/realtime.h"

namespace korvo {
namespace {

using namespace std::chrono_literals;

// Spins (with short sleeps) until pred() holds or two seconds have passed.
template <class Pred>
bool eventually(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct Waiters {
    UncheckedMutex mutex;
    ConditionVariable signal;
    int asleep = 0;  // [mutex]
    std::atomic<int> woken{0};
    std::atomic<int> timedOut{0};

    void waitOnce(std::uint32_t timeoutMs) {
        mutex.lock();
        ++asleep;
        const bool notified = signal.wait(mutex, timeoutMs);
        mutex.unlock();
        (notified ? woken : timedOut).fetch_add(1);
    }
    int asleepCount() {
        ScopedLock lock(mutex);
        return asleep;
    }
};

TEST(ConditionVariable, WaitTimesOutWithoutNotification) {
    Waiters w;
    const auto t0 = std::chrono::steady_clock::now();
    w.waitOnce(30);
    EXPECT_EQ(w.timedOut.load(), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 25ms);
    // The mutex came back held and was released: it can be taken again.
    EXPECT_TRUE(w.mutex.tryLock());
    w.mutex.unlock();
}

TEST(ConditionVariable, NotifyWithoutWaitersDoesNothing) {
    Waiters w;
    w.signal.notify(false);
    w.signal.notify(true);
    w.waitOnce(10);  // an earlier notification is not remembered
    EXPECT_EQ(w.timedOut.load(), 1);
}

TEST(ConditionVariable, BroadcastWakesEverySleeper) {
    Waiters w;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) threads.emplace_back([&] { w.waitOnce(20000); });
    ASSERT_TRUE(eventually([&] { return w.asleepCount() == 3; }));
    w.mutex.lock();  // every waiter is inside wait once it released the mutex
    w.mutex.unlock();
    w.signal.notify(true);
    for (auto& t : threads) t.join();
    EXPECT_EQ(w.woken.load(), 3);
    EXPECT_EQ(w.timedOut.load(), 0);
}

TEST(ConditionVariable, NotifyOneWakesExactlyOne) {
    Waiters w;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) threads.emplace_back([&] { w.waitOnce(20000); });
    ASSERT_TRUE(eventually([&] { return w.asleepCount() == 3; }));
    w.mutex.lock();
    w.mutex.unlock();
    w.signal.notify(false);
    ASSERT_TRUE(eventually([&] { return w.woken.load() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(w.woken.load(), 1);
    w.signal.notify(true);
    for (auto& t : threads) t.join();
    EXPECT_EQ(w.woken.load(), 3);
}

TEST(ConditionVariable, TimedOutWaiterDoesNotSwallowALaterNotification) {
    Waiters w;
    w.waitOnce(5);  // leaves as a "gone" waiter
    std::thread sleeper([&] { w.waitOnce(20000); });
    ASSERT_TRUE(eventually([&] { return w.asleepCount() == 2; }));
    w.mutex.lock();
    w.mutex.unlock();
    w.signal.notify(false);
    sleeper.join();
    EXPECT_EQ(w.woken.load(), 1);
}

TEST(ConditionVariable, ProducerConsumerHandsOverEveryItem) {
    UncheckedMutex mutex;
    ConditionVariable changed;
    int slot = 0;  // 0 = empty
    long long received = 0;
    constexpr int kItems = 5000;
    std::thread consumer([&] {
        mutex.lock();
        for (int n = 0; n < kItems; ++n) {
            while (slot == 0) changed.wait(mutex);
            received += slot;
            slot = 0;
            changed.notify(true);
        }
        mutex.unlock();
    });
    mutex.lock();
    for (int n = 1; n <= kItems; ++n) {
        while (slot != 0) changed.wait(mutex);
        slot = n;
        changed.notify(true);
    }
    mutex.unlock();
    consumer.join();
    EXPECT_EQ(received, static_cast<long long>(kItems) * (kItems + 1) / 2);
}

TEST(ConditionVariable, MixedTimeoutsAndNotificationsNeverDeadlock) {
    // Waiters time out while notifications (one and all) are being delivered: the counters must
    // stay consistent, so that every thread finishes and a final broadcast still wakes sleepers.
    UncheckedMutex mutex;
    ConditionVariable signal;
    std::atomic<bool> done{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> waiters;
    for (int t = 0; t < 4; ++t)
        waiters.emplace_back([&, t] {
            for (int n = 0; n < 100; ++n) {
                mutex.lock();
                signal.wait(mutex, static_cast<std::uint32_t>(1 + (n + t) % 3));
                mutex.unlock();
            }
            finished.fetch_add(1);
        });
    std::thread notifier([&] {
        for (int n = 0; !done.load(); ++n) {
            signal.notify(n % 3 == 0);
            if (n % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (auto& w : waiters) w.join();
    done.store(true);
    notifier.join();
    EXPECT_EQ(finished.load(), 4);

    // The same condition variable still delivers a broadcast to a new sleeper.
    int asleep = 0;
    bool woken = false;
    std::thread sleeper([&] {
        mutex.lock();
        ++asleep;
        woken = signal.wait(mutex, 20000);
        mutex.unlock();
    });
    ASSERT_TRUE(eventually([&] {
        ScopedLock lock(mutex);
        return asleep == 1;
    }));
    signal.notify(true);
    sleeper.join();
    EXPECT_TRUE(woken);
}

TEST(ThreadPool, WorkerCountFollowsProcessorsAndLimit) {
    EXPECT_EQ(ThreadPool::workerCount(0, 2, 1), 1);
    EXPECT_EQ(ThreadPool::workerCount(0, 2, 8), 2);
    EXPECT_EQ(ThreadPool::workerCount(0, 0, 8), 8);
    EXPECT_EQ(ThreadPool::workerCount(0, 0, 0), 1);
    EXPECT_EQ(ThreadPool::workerCount(3, 0, 8), 3);
    EXPECT_EQ(ThreadPool::workerCount(5, 2, 8), 2);
    HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(0, 2);
    EXPECT_EQ(pool->threadCount(), processorCount() >= 2 ? 2 : 1);
}

TEST(ThreadPool, ZeroAndOneIndex) {
    HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(2);
    int calls = 0;
    pool->runParallel(0, [&](std::int32_t) { ++calls; });
    EXPECT_EQ(calls, 0);
    pool->startParallel(0, ParallelTask{});  // nothing started, nothing to wait for
    pool->waitParallel();

    std::thread::id ranOn;
    std::int32_t index = -1;
    pool->runParallel(1, [&](std::int32_t i) {
        ranOn = std::this_thread::get_id();
        index = i;
        ++calls;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(ThreadPool, WaitParallelIsAlwaysSafe) {
    HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(2);
    pool->waitParallel();  // no batch
    std::atomic<int> calls{0};
    auto task = [&](std::int32_t) { calls.fetch_add(1); };
    pool->startParallel(5, task);
    pool->waitParallel();
    EXPECT_EQ(calls.load(), 5);
    pool->waitParallel();  // second wait returns at once
    EXPECT_EQ(calls.load(), 5);
}

TEST(ThreadPool, EveryIndexRunsExactlyOnceOverManyBatches) {
    HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(3);
    constexpr int kMax = 300;
    std::vector<std::atomic<int>> hits(kMax);
    for (int batch = 0; batch < 400; ++batch) {
        const int count = 2 + (batch * 37) % (kMax - 2);
        for (int i = 0; i < count; ++i) hits[i].store(0);
        pool->runParallel(count, [&](std::int32_t i) { hits[i].fetch_add(1); });
        for (int i = 0; i < count; ++i) ASSERT_EQ(hits[i].load(), 1) << "batch " << batch << " index " << i;
    }
}

TEST(ThreadPool, WorkersRunTasksConcurrently) {
    HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(3);
    // Each task waits for the other two: this finishes only if three workers run at once.
    std::atomic<int> arrived{0};
    std::atomic<int> sawAll{0};
    pool->runParallel(3, [&](std::int32_t) {
        arrived.fetch_add(1);
        if (eventually([&] { return arrived.load() == 3; })) sawAll.fetch_add(1);
    });
    EXPECT_EQ(sawAll.load(), 3);
}

TEST(ThreadPool, WorkersRunUnderThePluginFloatingPointSetting) {
    // The creating thread's setting must not matter: start the pool from a "host" setting.
    const std::uint32_t hostMXCSR = FPControl::readMXCSR();
    const std::uint16_t hostFPUCW = FPControl::readFPUCW();
    FPControl::writeMXCSR(0x1F80);  // denormals kept, every exception masked
    HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(2);
    std::atomic<std::uint32_t> mxcsr[8];
    std::atomic<std::uint16_t> fpucw[8];
    float tiny[8];
    pool->runParallel(8, [&](std::int32_t i) {
        mxcsr[i].store(FPControl::readMXCSR() & 0xFFC0u);  // without the sticky status flags
        fpucw[i].store(FPControl::readFPUCW());
        volatile float denormal = 1e-39f;
        tiny[i] = denormal * 0.5f;
    });
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(mxcsr[i].load(), FPControl::pluginMXCSR & 0xFFC0u) << i;
        EXPECT_EQ(fpucw[i].load(), FPControl::pluginFPUCW) << i;
        EXPECT_EQ(tiny[i], 0.0f) << i;
    }
    pool.reset();
    FPControl::writeMXCSR(hostMXCSR);
    FPControl::writeFPUCW(hostFPUCW);
}

TEST(ThreadPool, BatchAllocatesNothing) {
    HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(2);
    std::atomic<int> calls{0};
    auto task = [&](std::int32_t) { calls.fetch_add(1); };
    // Every worker must have started before anything is counted: a thread's start allocates (3
    // blocks under AddressSanitizer, in the new thread), and on a busy machine one worker could
    // run every warm-up batch while the other was still starting, then start inside the counted
    // batches (1 run in about 40 failed that way). In this batch each worker holds its index until
    // all of them have arrived.
    std::atomic<int> arrived{0};
    auto meet = [&](std::int32_t) {
        arrived.fetch_add(1);
        while (arrived.load() < pool->threadCount()) std::this_thread::yield();
    };
    pool->runParallel(pool->threadCount(), meet);
    for (int i = 0; i < 20; ++i) pool->runParallel(8, task);
    test::RealtimeProbe probe;
    for (int i = 0; i < 20; ++i) pool->runParallel(8, task);
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(calls.load(), 40 * 8);  // 20 warm-up and 20 counted batches
}

TEST(ThreadPool, DestructionJoinsSleepingAndBusyWorkers) {
    std::atomic<int> calls{0};
    auto task = [&](std::int32_t) { calls.fetch_add(1); };  // outlives every batch below
    for (int round = 0; round < 20; ++round) {
        HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(4);
        // Odd rounds destroy the pool with a batch in flight: its indices still run.
        if (round % 2 == 1) pool->startParallel(16, task);
        pool.reset();
    }
    EXPECT_EQ(calls.load(), 10 * 16);
}

}  // namespace
}  // namespace korvo
