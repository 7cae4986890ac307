#include "korvo/core/ringbuf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/support/realtime.h"

using korvo::TimedFIFO;

namespace {
std::vector<int> ramp(int from, int n) {
    std::vector<int> v(n);
    for (int i = 0; i < n; ++i) v[i] = from + i;
    return v;
}
}  // namespace

TEST(TimedFIFO, DecimationKeepsEveryNthElementCountingFromTheFirst) {
    TimedFIFO<int> fifo;
    fifo.initialize(16, 4);
    const auto input = ramp(1, 12);
    fifo.pushSamples(input.data(), 12, 48000.0f);
    int out[16] = {};
    ASSERT_EQ(fifo.readOldestAndDrop(out, 16, 0.0, 16), 3);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[1], 8);
    EXPECT_EQ(out[2], 12);
}

TEST(TimedFIFO, GeneratedPushesStoreWhatPlainPushesStore) {
    // Runs of odd lengths across the decimation phase: both forms keep the same elements, and the
    // generated form builds only those.
    for (int resolution : {1, 2, 4, 8}) {
        TimedFIFO<int> plain, generated;
        plain.initialize(64, resolution);
        generated.initialize(64, resolution);
        int next = 0, built = 0;
        for (int n : {0, 1, 3, 7, 2, 13, 5, 64, 9}) {
            const auto input = ramp(next, n);
            plain.pushSamples(input.data(), n, 1000.0f);
            generated.pushGenerated(n, 1000.0f, [&](std::int32_t i) {
                ++built;
                return input[static_cast<std::size_t>(i)];
            });
            next += n;
        }
        ASSERT_EQ(generated.count(), plain.count()) << resolution;
        EXPECT_EQ(built, next / resolution) << resolution;
        int a[64], b[64];
        const int n = plain.readOldestAndDrop(a, 64, 0.0, 64);
        ASSERT_EQ(generated.readOldestAndDrop(b, 64, 0.0, 64), n);
        for (int i = 0; i < n; ++i) EXPECT_EQ(b[i], a[i]) << resolution << " " << i;
    }
}

TEST(TimedFIFO, RunsWrapOnceAndBuildOnlyTheElementsThatSurvive) {
    TimedFIFO<int> plain, runs;
    plain.initialize(16, 4);
    runs.initialize(16, 4);
    int next = 0, built = 0;
    for (int n : {10, 45, 100, 3}) {  // 100 frames store 25 pairs in a ring of 16: 9 never built
        const auto input = ramp(next, n);
        plain.pushSamples(input.data(), n, 1000.0f);
        int calls = 0;
        runs.pushRuns(n, 1000.0f, [&](int* slots, std::int32_t count, std::int32_t index, std::int32_t step) {
            ++calls;
            for (std::int32_t k = 0; k < count; ++k)
                slots[k] = input[static_cast<std::size_t>(index + k * step)];
            built += count;
        });
        EXPECT_LE(calls, 2) << n;
        next += n;
    }
    EXPECT_EQ(built, 2 + 11 + 16 + 1);
    int a[16], b[16];
    const int n = plain.readOldestAndDrop(a, 16, 0.0, 16);
    ASSERT_EQ(n, 16);
    ASSERT_EQ(runs.readOldestAndDrop(b, 16, 0.0, 16), n);
    for (int i = 0; i < n; ++i) EXPECT_EQ(b[i], a[i]) << i;
}

TEST(TimedFIFO, DropOlderThanKeepsOnlyTheRecentPast) {
    TimedFIFO<int> fifo;
    fifo.initialize(64, 2);
    const auto input = ramp(0, 80);
    fifo.pushSamples(input.data(), 80, 100.0f);  // 40 stored: 1, 3, ..., 79; 50 per second
    EXPECT_EQ(fifo.dropOlderThan(std::nan("")), 0);
    EXPECT_EQ(fifo.dropOlderThan(1.0), 0);    // 50 may stay
    EXPECT_EQ(fifo.dropOlderThan(0.15), 32);  // 7.5: 8 stay
    int out[64];
    ASSERT_EQ(fifo.readOldestAndDrop(out, 64, 0.0, 64), 8);
    EXPECT_EQ(out[0], 65);
    EXPECT_EQ(out[7], 79);
}

TEST(TimedFIFO, AFullFifoDropsItsOldestElements) {
    TimedFIFO<int> fifo;
    fifo.initialize(8, 1);
    const auto input = ramp(0, 13);
    fifo.pushSamples(input.data(), 13, 1000.0f);
    EXPECT_EQ(fifo.count(), 8);
    int out[8];
    ASSERT_EQ(fifo.readOldestAndDrop(out, 8, 0.0, 8), 8);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[7], 12);
}

TEST(TimedFIFO, ReadDropsWhatTheElapsedTimeCoversAndCarriesTheFraction) {
    TimedFIFO<int> fifo;
    fifo.initialize(64, 1);
    const auto input = ramp(0, 40);
    fifo.pushSamples(input.data(), 40, 100.0f);  // 100 elements per second
    int out[64];
    // 0.05 s x 1.01 x 100 = 5.05 elements owed: 5 dropped, 0.05 carried.
    ASSERT_EQ(fifo.readOldestAndDrop(out, 64, 0.05, 0), 40);
    EXPECT_EQ(fifo.count(), 35);
    EXPECT_NEAR(fifo.pendingFraction(), 0.05f, 1e-4f);
    EXPECT_EQ(fifo.pendingTime(), 0.0f);
    ASSERT_EQ(fifo.readOldestAndDrop(out, 1, 0.0, 0), 1);
    EXPECT_EQ(out[0], 5);
}

TEST(TimedFIFO, KeepsAtLeastMinKeepOrAllButOneOfWhatWasRead) {
    TimedFIFO<int> fifo;
    fifo.initialize(64, 1);
    const auto input = ramp(0, 20);
    fifo.pushSamples(input.data(), 20, 1000.0f);
    int out[64];
    fifo.readOldestAndDrop(out, 64, 10.0, 6);  // owes far more than stored
    EXPECT_EQ(fifo.count(), 6);
    fifo.readOldestAndDrop(out, 64, 10.0, 100);  // minKeep above what was read: keep n - 1
    EXPECT_EQ(fifo.count(), 5);
}

TEST(TimedFIFO, AOneElementOutputStillDropsByTime) {
    TimedFIFO<int> fifo;
    fifo.initialize(64, 1);
    const auto input = ramp(0, 30);
    fifo.pushSamples(input.data(), 30, 1000.0f);
    int out[1];
    EXPECT_EQ(fifo.readOldestAndDrop(out, 1, 0.01, 0), 1);
    EXPECT_EQ(fifo.count(), 20);
}

TEST(TimedFIFO, AContendedLockDropsInputAndKeepsTheReadersDebt) {
    TimedFIFO<int> fifo;
    fifo.initialize(16, 1);
    int out[16];
    const int value = 5;
    std::atomic<int> phase{0};
    std::thread holder([&] {
        fifo.lockForTesting().lock();
        phase = 1;
        while (phase != 2) std::this_thread::yield();
        fifo.lockForTesting().unlock();
    });
    while (phase != 1) std::this_thread::yield();
    fifo.pushOne(value, 1000.0f);
    EXPECT_EQ(fifo.readOldestAndDrop(out, 16, 0.5, 0), 0);
    EXPECT_FLOAT_EQ(fifo.pendingTime(), 0.505f);
    phase = 2;
    holder.join();
    EXPECT_EQ(fifo.count(), 0) << "the push was dropped, not queued";
}

TEST(TimedFIFO, EmptyReadsReturnZeroAndTheDebtGrows) {
    TimedFIFO<int> fifo;
    fifo.initialize(16, 1);
    int out[4];
    EXPECT_EQ(fifo.readOldestAndDrop(out, 4, 0.1, 0), 0);
    EXPECT_EQ(fifo.readOldestAndDrop(out, 4, 0.1, 0), 0);
    EXPECT_NEAR(fifo.pendingTime(), 0.202f, 1e-6f);
}

TEST(TimedFIFO, BadTimesAndRatesNeverCorruptTheCounts) {
    TimedFIFO<int> fifo;
    fifo.initialize(16, 1);
    const auto input = ramp(0, 10);
    fifo.pushSamples(input.data(), 10, std::nanf(""));
    int out[16];
    EXPECT_EQ(fifo.readOldestAndDrop(out, 16, 1.0, 0), 10);
    EXPECT_EQ(fifo.count(), 10);
    fifo.pushSamples(input.data(), 1, 1000.0f);
    EXPECT_EQ(fifo.readOldestAndDrop(out, 16, std::nan(""), 0), 11);
    EXPECT_EQ(fifo.readOldestAndDrop(out, 16, -5.0, 0), 11);
    EXPECT_EQ(fifo.readOldestAndDrop(out, 16, INFINITY, 0), 11);
    EXPECT_GE(fifo.count(), 1);
}

TEST(TimedFIFO, PushAndReadAllocateNothingAndNeverBlock) {
    TimedFIFO<float> fifo;
    fifo.initialize(1024, 4);
    std::vector<float> block(512, 0.25f), out(1024);
    korvo::test::RealtimeProbe probe;
    for (int i = 0; i < 50; ++i) {
        fifo.pushSamples(block.data(), 512, 48000.0f);
        fifo.readOldestAndDrop(out.data(), 1024, 0.015, 16);
    }
    EXPECT_EQ(probe.allocations(), 0u);
    EXPECT_EQ(probe.blockingLocks(), 0u);
}

// One producer and one consumer on two threads: every element crosses, exactly in stream order.
// The producer offers the stream in chunks and moves on once the consumer has seen a chunk's last
// element. A push that met the consumer holding the lock is dropped, as designed: the producer
// notices it (the FIFO is empty and the chunk has not arrived) and offers the chunk again, so the
// chunk that arrived last may arrive a second time, whole and in order, but nothing else may come
// twice or out of order. The consumer drops everything it reads, so each stored element is read
// once; it checks every element, counts what arrived anew and again, and at the end that the whole
// stream arrived and every second arrival was one of the producer's second offers.
TEST(TimedFIFO, ConcurrentProducerAndConsumerDeliverEveryElementInOrder) {
    TimedFIFO<int> fifo;
    fifo.initialize(256, 1);
    constexpr int kChunk = 64, kChunks = 1000, kTotal = kChunk * kChunks;
    std::atomic<int> arrived{0};  // elements the consumer has seen, in order
    std::atomic<bool> done{false};
    int offersAgain = 0;
    std::thread producer([&] {
        // A FIFO that never delivers ends the test as a failure rather than a hang.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int chunk[kChunk];
        for (int next = 0; next < kTotal && std::chrono::steady_clock::now() < deadline; next += kChunk) {
            for (int i = 0; i < kChunk; ++i) chunk[i] = next + i;
            fifo.pushSamples(chunk, kChunk, 48000.0f);
            for (int spins = 0; arrived.load() < next + kChunk && std::chrono::steady_clock::now() < deadline;
                 ++spins) {
                std::this_thread::yield();
                if (spins % 4 != 3) continue;
                fifo.lockForTesting().lock();
                const bool empty = fifo.count() == 0;
                fifo.lockForTesting().unlock();
                if (empty && arrived.load() < next + kChunk) {
                    fifo.pushSamples(chunk, kChunk, 48000.0f);
                    ++offersAgain;
                }
            }
        }
        done = true;
    });
    int out[256];
    int expected = 0;        // the next element of the stream
    int again = -1;          // the next element of a chunk arriving a second time (-1: none)
    long long read = 0;      // elements read, second arrivals included
    long long repeated = 0;  // second arrivals
    int strays = 0;          // elements lost, overtaken or repeated out of turn
    while (!done.load()) {
        // A whole second owed: everything read is dropped.
        const int n = fifo.readOldestAndDrop(out, 256, 1.0, 0);
        read += n;
        for (int i = 0; i < n; ++i) {
            const int x = out[i];
            const int lastChunk = expected > 0 ? (expected - 1) / kChunk * kChunk : -1;
            if (x == expected) {
                ++expected;
                again = -1;
            } else if (x == again || (x == lastChunk && again < 0)) {
                again = x + 1 < lastChunk + kChunk ? x + 1 : -1;  // a second arrival, in order
                ++repeated;
            } else {
                ++strays;  // noted, and the stream goes on
                if (x > expected) expected = x + 1;
            }
        }
        arrived.store(expected);
        if (n == 0) std::this_thread::yield();  // leave the lock to the producer for a while
    }
    producer.join();
    EXPECT_EQ(strays, 0);
    EXPECT_EQ(expected, kTotal);
    EXPECT_EQ(read, kTotal + repeated);
    EXPECT_EQ(repeated % kChunk, 0);
    EXPECT_LE(repeated, static_cast<long long>(offersAgain) * kChunk);
    std::printf("chunks offered again after a dropped push: %d of %d\n", offersAgain, kChunks);
}
