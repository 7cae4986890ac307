// Allocation counting on Windows: operator new (all forms) and the framework's heap functions.
#include <atomic>
#include <cstdlib>
#include <new>

#include "korvo/core/nogc.h"
#include "tests/support/realtime.h"

namespace {
std::atomic<std::uint64_t> newCalls{0};

void* countedNew(std::size_t size) {
    newCalls.fetch_add(1, std::memory_order_relaxed);
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
}  // namespace

namespace korvo::test {
std::uint64_t processAllocationCount() noexcept {
    return newCalls.load(std::memory_order_relaxed) + korvo::heapAllocationCount();
}
}  // namespace korvo::test

void* operator new(std::size_t size) {
    return countedNew(size);
}
void* operator new[](std::size_t size) {
    return countedNew(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    newCalls.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    newCalls.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
