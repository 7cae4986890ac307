#include "korvo/core/nogc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace korvo;

namespace {
struct Base {
    virtual ~Base() = default;
    int baseField = 1;
};
struct Other {
    virtual ~Other() = default;
    int otherField = 2;
};
int destroyed = 0;
struct Derived : Base, Other {
    ~Derived() override { ++destroyed; }
};
}  // namespace

TEST(HeapObjects, DeleteThroughASecondBaseFreesTheWholeObject) {
    destroyed = 0;
    Other* object = heapNew<Derived>();
    heapDelete(object);  // ASan reports a bad free if the most-derived address is not used
    EXPECT_EQ(destroyed, 1);
    heapDelete<Derived>(nullptr);
}

TEST(HeapObjects, HeapPtrDestroysItsObject) {
    destroyed = 0;
    { HeapPtr<Base> owned(heapNew<Derived>()); }
    EXPECT_EQ(destroyed, 1);
}

TEST(AlignedBlocks, AreAlignedAndCarryTheirHeader) {
    for (std::size_t alignment : {2u, 16u, 64u, 128u}) {
        void* block = alignedAlloc(100, alignment);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u);
        void** header = static_cast<void**>(block);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(header[-2]), 100u);  // size asked for
        const auto raw = reinterpret_cast<std::uintptr_t>(header[-1]);
        EXPECT_GE(reinterpret_cast<std::uintptr_t>(block), raw + 16);
        EXPECT_LE(reinterpret_cast<std::uintptr_t>(block) + 100, raw + 100 + alignment - 1 + 16);
        std::memset(block, 0xAB, 100);
        alignedRelease(block, alignment);
    }
}

TEST(AlignedBlocks, ResizeReusesBetweenAQuarterAndTheWholeCapacity) {
    const std::size_t alignment = 64;
    void* block = alignedAlloc(3000, alignment);
    std::memset(block, 7, 3000);
    void* third = alignedResize(block, 1000, alignment);
    EXPECT_EQ(third, block);
    void* fifth = alignedResize(third, 600, alignment);
    EXPECT_NE(fifth, third);
    EXPECT_EQ(static_cast<unsigned char*>(fifth)[599], 7);
    void* grown = alignedResize(fifth, 5000, alignment);
    EXPECT_NE(grown, fifth);
    EXPECT_EQ(static_cast<unsigned char*>(grown)[0], 7);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(grown) % alignment, 0u);
    alignedRelease(grown, alignment);
    alignedRelease(nullptr, alignment);
}

TEST(AlignedBlocks, AlignmentOneIsAPlainBlockAndNullResizeAllocates) {
    void* block = alignedResize(nullptr, 10, 1);
    ASSERT_NE(block, nullptr);
    block = alignedResize(block, 1000, 1);
    alignedRelease(block, 1);
    void* aligned = alignedResize(nullptr, 10, 32);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 32, 0u);
    alignedRelease(aligned, 32);
}

TEST(HeapObjects, OutOfMemoryEndsTheProcessWithAMessage) {
    EXPECT_DEATH(alignedAlloc(SIZE_MAX - 8, 64), "out of memory");
}
