// Allocation counting on Linux. Without sanitizers the test executable interposes the malloc
// family (the dynamic linker resolves every library's calls to these definitions); with
// AddressSanitizer, whose allocator must stay in place, its allocation hooks are used instead.
#include <atomic>
#include <cstddef>

#include "tests/support/realtime.h"

namespace {
std::atomic<std::uint64_t> allocations{0};
}

namespace korvo::test {
std::uint64_t processAllocationCount() noexcept {
    return allocations.load(std::memory_order_relaxed);
}
}  // namespace korvo::test

#if defined(KORVO_SANITIZE)
// Declared by the sanitizer runtime (GCC ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void onMalloc(const volatile void*, std::size_t) {
    allocations.fetch_add(1, std::memory_order_relaxed);
}
void onFree(const volatile void*) {}
struct InstallHooks {
    InstallHooks() { __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree); }
} installHooks;
}  // namespace

#else
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void* realloc(void* block, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr) return 12;  // ENOMEM
    *out = block;
    return 0;
}
}
#endif
