#include "korvo/core/nogc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korvo {

namespace {
#if !defined(KORVO_NO_TEST_COUNTERS)
std::atomic<std::uint64_t> allocationCounter{0};
#endif

constexpr std::size_t headerBytes = 16;  // raw pointer and asked size, one machine word each

std::size_t rawRequest(std::size_t size, std::size_t alignment) noexcept {
    if (size > SIZE_MAX - alignment - headerBytes) fatalError("out of memory (request too large)");
    return size + alignment - 1 + headerBytes;
}

void** headerOf(void* aligned) noexcept {
    return static_cast<void**>(aligned);
}
}  // namespace

void fatalError(const char* message) noexcept {
    std::fprintf(stderr, "korvo: fatal: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

void* heapAlloc(std::size_t bytes) noexcept {
#if !defined(KORVO_NO_TEST_COUNTERS)
    allocationCounter.fetch_add(1, std::memory_order_relaxed);
#endif
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) fatalError("out of memory");
    return block;
}

void* heapRealloc(void* block, std::size_t bytes) noexcept {
#if !defined(KORVO_NO_TEST_COUNTERS)
    allocationCounter.fetch_add(1, std::memory_order_relaxed);
#endif
    void* moved = std::realloc(block, bytes == 0 ? 1 : bytes);
    if (moved == nullptr) fatalError("out of memory");
    return moved;
}

void heapFree(void* block) noexcept {
    std::free(block);
}

std::uint64_t heapAllocationCount() noexcept {
#if defined(KORVO_NO_TEST_COUNTERS)
    return 0;
#else
    return allocationCounter.load(std::memory_order_relaxed);
#endif
}

void* alignedAlloc(std::size_t size, std::size_t alignment) noexcept {
    if (alignment <= 1) return heapAlloc(size);
    if ((alignment & (alignment - 1)) != 0) fatalError("alignment is not a power of two");
    const std::size_t request = rawRequest(size, alignment);
    char* raw = static_cast<char*>(heapAlloc(request));
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(raw) + headerBytes;
    const std::uintptr_t aligned = (first + alignment - 1) & ~static_cast<std::uintptr_t>(alignment - 1);
    void* result = reinterpret_cast<void*>(aligned);
    void** header = headerOf(result);
    header[-1] = raw;
    header[-2] = reinterpret_cast<void*>(static_cast<std::uintptr_t>(size));
    return result;
}

void* alignedResize(void* block, std::size_t size, std::size_t alignment) noexcept {
    if (block == nullptr) return alignedAlloc(size, alignment);
    if (alignment <= 1) return heapRealloc(block, size);
    void** header = headerOf(block);
    const std::size_t oldSize = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(header[-2]));
    const std::size_t oldRequest = rawRequest(oldSize, alignment);
    const std::size_t newRequest = rawRequest(size, alignment);
    // Reuse when the new size lies between a quarter of and the whole old capacity.
    if (newRequest <= oldRequest && oldRequest < 4 * newRequest) return block;
    void* fresh = alignedAlloc(size, alignment);
    std::memcpy(fresh, block, oldSize < size ? oldSize : size);
    heapFree(header[-1]);
    return fresh;
}

void alignedRelease(void* block, std::size_t alignment) noexcept {
    if (block == nullptr) return;
    if (alignment <= 1) {
        heapFree(block);
        return;
    }
    heapFree(headerOf(block)[-1]);
}

}  // namespace korvo
