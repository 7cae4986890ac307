#include "korvo/core/vec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using korvo::Vec;

TEST(Vec, AppendsDoubleTheNeededLengthWhenFull) {
    Vec<int> v;
    std::vector<std::size_t> capacities;
    for (int i = 0; i < 15; ++i) {
        const std::size_t before = v.capacity();
        v.push(i);
        if (v.capacity() != before) capacities.push_back(v.capacity());
    }
    EXPECT_EQ(capacities, (std::vector<std::size_t>{2, 6, 14, 30}));
    for (int i = 0; i < 15; ++i) EXPECT_EQ(v[i], i);
}

TEST(Vec, SwapRemoveMovesTheLastElementIntoTheHole) {
    Vec<char> v;
    v.push('a');
    v.push('b');
    v.push('c');
    v.swapRemove(0);
    ASSERT_EQ(v.length(), 2u);
    EXPECT_EQ(v[0], 'c');
    EXPECT_EQ(v[1], 'b');
}

TEST(Vec, ClearAndResizeKeepTheBlock) {
    Vec<float> v(64);
    v.resize(10);
    EXPECT_EQ(v.capacity(), 20u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % 64, 0u);
    float* block = v.data();
    v.clear();
    v.resize(20);
    EXPECT_EQ(v.data(), block);
    for (float x : v) EXPECT_EQ(x, 0.0f);
}
