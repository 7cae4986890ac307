#include "korvo/core/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

using korvo::UncheckedMutex;

TEST(UncheckedMutex, IsRecursiveAndExcludesOtherThreads) {
    UncheckedMutex mutex;
    mutex.lock();
    mutex.lock();  // the holder may lock again
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = mutex.tryLock(); }).join();
    EXPECT_FALSE(otherGotIt);
    mutex.unlock();
    std::thread([&] { otherGotIt = mutex.tryLock(); }).join();
    EXPECT_FALSE(otherGotIt) << "still held once";
    mutex.unlock();
    std::thread([&] {
        otherGotIt = mutex.tryLock();
        if (otherGotIt) mutex.unlock();
    }).join();
    EXPECT_TRUE(otherGotIt);
}

TEST(UncheckedMutex, DestroyTwiceDeletesOnceAndMovesTransferTheLock) {
    UncheckedMutex a;
    EXPECT_TRUE(a.created());
    UncheckedMutex b(std::move(a));
    EXPECT_FALSE(a.created());
    EXPECT_TRUE(b.created());
    b.destroy();
    b.destroy();
    EXPECT_FALSE(b.created());
}

TEST(UncheckedMutex, CountsBlockingLocksAndTryLocks) {
    UncheckedMutex mutex;
    const auto locks = UncheckedMutex::blockingLockCount();
    const auto tries = UncheckedMutex::tryLockCount();
    ASSERT_TRUE(mutex.tryLock());
    mutex.unlock();
    mutex.lock();
    mutex.unlock();
    EXPECT_EQ(UncheckedMutex::blockingLockCount() - locks, 1u);
    EXPECT_EQ(UncheckedMutex::tryLockCount() - tries, 1u);
}

TEST(UncheckedMutex, GuardsACounterAcrossThreads) {
    UncheckedMutex mutex;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            korvo::ScopedLock lock(mutex);
            ++counter;
        }
    };
    std::thread t1(work), t2(work);
    t1.join();
    t2.join();
    EXPECT_EQ(counter, 40000);
}
