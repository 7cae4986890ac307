#include "korvo/gui/workcrew.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace korvo {
namespace {

TEST(WorkCrew, HelpersLeaveOneProcessorToTheCallingThread) {
    EXPECT_EQ(WorkCrew::helperCount(2, 1), 0);
    EXPECT_EQ(WorkCrew::helperCount(2, 2), 1);
    EXPECT_EQ(WorkCrew::helperCount(2, 8), 2);
    EXPECT_EQ(WorkCrew::helperCount(1, 8), 1);
    EXPECT_EQ(WorkCrew::helperCount(0, 8), 0);
}

// Steps of changing sizes, back to back: every index runs exactly once per step, every step's
// work is finished (and visible) when run returns, and each step sees what the one before wrote,
// whichever thread ran which index.
TEST(WorkCrew, EveryIndexOfEveryStepRunsOnceAfterTheStepBefore) {
    ThreadPool pool(2);
    WorkCrew crew;
    for (int session = 0; session < 2; ++session) {
        crew.begin(pool);
        EXPECT_EQ(crew.active(), WorkCrew::helperCount(pool.threadCount(), processorCount()) > 0);
        constexpr int kSlots = 300;
        std::vector<std::atomic<int>> runs(kSlots);
        std::vector<int> written(kSlots, -1);  // plain: ordered by the steps alone
        std::atomic<int> outOfOrder{0};
        for (int step = 0; step < 400; ++step) {
            const int count = (step * 37) % (kSlots + 1);
            for (auto& r : runs) r.store(0);
            crew.run(count, [&](std::int32_t i) {
                runs[static_cast<std::size_t>(i)].fetch_add(1);
                if (written[static_cast<std::size_t>(i)] > step) outOfOrder.fetch_add(1);
                written[static_cast<std::size_t>(i)] = step;
            });
            for (int i = 0; i < kSlots; ++i) {
                ASSERT_EQ(runs[static_cast<std::size_t>(i)].load(), i < count ? 1 : 0) << step << " " << i;
                if (i < count) {
                    ASSERT_EQ(written[static_cast<std::size_t>(i)], step);
                }
            }
        }
        EXPECT_EQ(outOfOrder.load(), 0);
        crew.end();
        EXPECT_FALSE(crew.active());
        // The pool is free again for batches of its own.
        std::atomic<int> sum{0};
        pool.runParallel(5, [&](std::int32_t i) { sum += i; });
        EXPECT_EQ(sum.load(), 10);
    }
}

TEST(WorkCrew, WithoutHelpersTheCallingThreadRunsTheIndicesInOrder) {
    WorkCrew crew;  // not begun
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    crew.run(6, [&](std::int32_t i) {
        order.push_back(i);
        threads.push_back(std::this_thread::get_id());
    });
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    for (const std::thread::id& t : threads) EXPECT_EQ(t, std::this_thread::get_id());
    crew.end();  // nothing to end
    EXPECT_FALSE(crew.active());
}

}  // namespace
}  // namespace korvo
