#include "korvo/core/map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

namespace {
struct GlyphKey {
    std::uint32_t codepoint;
    std::uint8_t shift;
    bool operator<(const GlyphKey& o) const {
        return codepoint != o.codepoint ? codepoint < o.codepoint : shift < o.shift;
    }
};
}  // namespace

TEST(OrderedMap, FindsWhatWasInsertedAndMatchesAReferenceMap) {
    korvo::OrderedMap<int, int> map;
    std::map<int, int> reference;
    std::mt19937 random(7);
    for (int i = 0; i < 5000; ++i) {
        const int key = static_cast<int>(random() % 2000);
        map.insert(key, i);
        reference[key] = i;
    }
    EXPECT_EQ(map.size(), reference.size());
    for (const auto& [key, value] : reference) {
        const int* found = map.find(key);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, value);
    }
    EXPECT_EQ(map.find(-1), nullptr);
    std::vector<int> keys;
    map.forEach([&](int key, int) { keys.push_back(key); });
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
}

TEST(OrderedMap, StaysBalancedForSortedInsertions) {
    korvo::OrderedMap<int, int> map;
    for (int i = 0; i < 4096; ++i) map.insert(i, i);
    EXPECT_LE(map.height(), 2u * 13u);  // a red-black tree is at most 2 log2(n + 1) high
}

TEST(OrderedMap, OrdersAggregateKeysByTheirOwnComparison) {
    korvo::OrderedMap<GlyphKey, int> map;
    map.insert({65, 3}, 1);
    map.insert({65, 1}, 2);
    map.insert({64, 7}, 3);
    std::vector<int> order;
    map.forEach([&](const GlyphKey&, int v) { order.push_back(v); });
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));
    ASSERT_NE(map.find({65, 1}), nullptr);
    EXPECT_EQ(map.find({65, 2}), nullptr);
}
