#include "korvo/gui/context.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/korvo/gui/gui_test_util.h"

namespace korvo {
namespace {

using test::box;

std::vector<IntRect> take(DirtyList& list) {
    Vec<IntRect> rects;
    list.takeAll(rects);
    return std::vector<IntRect>(rects.begin(), rects.end());
}

bool sameSet(std::vector<IntRect> a, std::vector<IntRect> b) {
    auto key = [](const IntRect& r) { return std::tuple(r.min.x, r.min.y, r.max.x, r.max.y); };
    auto less = [&](const IntRect& l, const IntRect& r) { return key(l) < key(r); };
    std::sort(a.begin(), a.end(), less);
    std::sort(b.begin(), b.end(), less);
    return a == b;
}

TEST(DirtyList, EqualOrContainedRectangleLeavesListUnchanged) {
    DirtyList list;
    list.addRect(box(0, 0, 10, 10));
    list.addRect(box(0, 0, 10, 10));
    list.addRect(box(2, 2, 5, 5));
    EXPECT_EQ(take(list), std::vector<IntRect>{box(0, 0, 10, 10)});
}

TEST(DirtyList, CoveringRectangleReplacesTheListedOnes) {
    DirtyList list;
    list.addRect(box(0, 0, 10, 10));
    list.addRect(box(20, 0, 30, 10));
    list.addRect(box(-5, -5, 40, 15));
    EXPECT_EQ(take(list), std::vector<IntRect>{box(-5, -5, 40, 15)});
}

TEST(DirtyList, OverlapCutsTheListedRectangle) {
    DirtyList list;
    list.addRect(box(0, 0, 10, 10));
    list.addRect(box(5, 5, 15, 15));
    EXPECT_TRUE(sameSet(take(list), {box(5, 5, 15, 15), box(0, 0, 10, 5), box(0, 5, 5, 10)}));
}

TEST(DirtyList, EmptyRectanglesAreIgnoredAndTakeAllEmptiesTheList) {
    DirtyList list;
    list.addRect(box(3, 3, 3, 10));
    list.addRect(box(3, 3, 10, 3));
    list.addRect(box(5, 5, 2, 9));
    EXPECT_EQ(list.length(), 0u);
    list.addRect(box(1, 1, 2, 2));
    Vec<IntRect> out;
    out.push(box(100, 100, 101, 101));  // takeAll appends
    list.takeAll(out);
    ASSERT_EQ(out.length(), 2u);
    EXPECT_EQ(out[1], box(1, 1, 2, 2));
    EXPECT_EQ(list.length(), 0u);
}

TEST(DirtyList, ManyOverlappingAddsStayDisjointAndCoverTheUnion) {
    DirtyList list;
    std::vector<IntRect> added;
    std::uint32_t seed = 12345;
    auto next = [&](int range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<std::int32_t>((seed >> 8) % static_cast<std::uint32_t>(range));
    };
    for (int i = 0; i < 60; ++i) {
        const std::int32_t x = next(50), y = next(50);
        const IntRect r = box(x, y, x + 1 + next(20), y + 1 + next(20));
        added.push_back(r);
        list.addRect(r);
    }
    const std::vector<IntRect> rects = take(list);
    for (std::size_t i = 0; i < rects.size(); ++i)
        for (std::size_t j = i + 1; j < rects.size(); ++j)
            EXPECT_TRUE(rects[i].intersection(rects[j]).empty());
    for (int y = 0; y < 72; ++y) {
        for (int x = 0; x < 72; ++x) {
            const bool wanted =
                std::any_of(added.begin(), added.end(), [&](const IntRect& r) { return r.contains(x, y); });
            const bool listed =
                std::any_of(rects.begin(), rects.end(), [&](const IntRect& r) { return r.contains(x, y); });
            ASSERT_EQ(wanted, listed) << x << "," << y;
        }
    }
}

TEST(UIContext, SkyboxLevels) {
    UIContext context;
    EXPECT_EQ(context.skybox->numLevels(), 11);
    EXPECT_EQ(context.skybox->level(10).w(), 1);
    EXPECT_EQ(context.focused, nullptr);
    EXPECT_EQ(context.dragged, nullptr);
    auto* image = heapNew<OwnedImage<RGBA>>(64, 32);
    fill(image->view(), RGBA{10, 20, 30, 255});
    context.setSkybox(image);
    EXPECT_EQ(context.skybox->numLevels(), 6);  // 64x32 down to 2x1
    EXPECT_EQ(&context.skybox->level(0), image);
    EXPECT_EQ(context.skybox->level(5).view().at(0, 0), (RGBA{10, 20, 30, 255}));
}

}  // namespace
}  // namespace korvo
