#pragma once
// Heap objects and aligned blocks.
//
// Framework objects live on the process heap and have exactly one owner, which destroys them
// explicitly with heapDelete (or through HeapPtr, whose deleter is heapDelete). Nothing here is
// reference-counted or garbage-collected. Running out of memory is not reported to callers: it
// ends the process with a message on stderr.
//
// Thread contract: [any-thread], but none of these may be called on the audio thread once its
// buffers are sized (they allocate).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace korvo {

// Prints "korvo: <message>" on stderr and ends the process. [any-thread]
[[noreturn]] void fatalError(const char* message) noexcept;

// malloc / realloc / free that never return null for a non-zero request (out of memory ends the
// process). Every allocation made through them is counted (see heapAllocationCount), except in
// plug-in modules, which are built without the test counters (KORVO_NO_TEST_COUNTERS).
void* heapAlloc(std::size_t bytes) noexcept;
void* heapRealloc(void* block, std::size_t bytes) noexcept;
void heapFree(void* block) noexcept;

// Number of allocations (alloc, realloc, aligned alloc and resize that moved) made through the
// functions of this header since the process started. Tests use it to prove that a code path
// allocates nothing.
std::uint64_t heapAllocationCount() noexcept;

// Creates a T on the process heap with the given constructor arguments.
template <class T, class... Args>
T* heapNew(Args&&... args) {
    void* memory = heapAlloc(sizeof(T));
    static_assert(alignof(T) <= alignof(std::max_align_t), "use alignedAlloc for over-aligned types");
    return ::new (memory) T(std::forward<Args>(args)...);
}

// Runs the destructor chain of the object's dynamic class, then frees its memory. Null is ignored.
template <class T>
void heapDelete(T* object) noexcept {
    if (object == nullptr) return;
    void* memory;
    if constexpr (std::is_polymorphic_v<T>)
        memory = dynamic_cast<void*>(object);  // start of the most-derived object
    else
        memory = object;
    object->~T();
    heapFree(memory);
}

// A plain array of n value-initialised elements on the process heap, freed with heapArrayFree.
template <class T>
T* heapArray(std::size_t n) {
    static_assert(std::is_trivially_destructible_v<T>, "heapArray holds plain values");
    if (n > SIZE_MAX / sizeof(T)) fatalError("array size overflow");
    T* array = static_cast<T*>(heapAlloc(n == 0 ? 1 : n * sizeof(T)));
    for (std::size_t i = 0; i < n; ++i) ::new (array + i) T();
    return array;
}
template <class T>
void heapArrayFree(T* array) noexcept {
    heapFree(array);
}

struct HeapDeleter {
    template <class T>
    void operator()(T* object) const noexcept {
        heapDelete(object);
    }
};

// An owning field: the object is destroyed with heapDelete when the pointer goes.
template <class T>
using HeapPtr = std::unique_ptr<T, HeapDeleter>;

template <class T, class... Args>
HeapPtr<T> makeHeap(Args&&... args) {
    return HeapPtr<T>(heapNew<T>(std::forward<Args>(args)...));
}

// Aligned blocks. The pointer returned is aligned to `alignment` (a power of two). The two machine
// words just below it hold, nearest first, the raw malloc pointer and the size asked for; the raw
// request is size + alignment - 1 + 16 bytes. Alignment 1 means a plain malloc/realloc block with
// no header.
void* alignedAlloc(std::size_t size, std::size_t alignment) noexcept;

// Resizes a block made by alignedAlloc (null: same as alignedAlloc). The block is kept, and the
// same pointer returned, when the new request is at most the old one and the old one is less than
// four times the new one; otherwise a new block is made and min(old, new) bytes are copied.
void* alignedResize(void* block, std::size_t size, std::size_t alignment) noexcept;

// Frees a block made by alignedAlloc/alignedResize with the same alignment. Null is ignored.
void alignedRelease(void* block, std::size_t alignment) noexcept;

}  // namespace korvo
