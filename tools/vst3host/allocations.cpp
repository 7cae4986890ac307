// Heap allocations made on the calling thread, for the randomised host's check that process never
// allocates. Linux without sanitizers: the malloc family is interposed (the dynamic linker
// resolves the plug-in module's calls to these definitions too); with AddressSanitizer, whose
// allocator must stay in place, its allocation hooks count. Windows: a DLL's allocations cannot be
// seen from here, so nothing is counted (null).
// Per thread, because the plug-in's own threads (an editor's drawing workers starting or ending
// meanwhile) may allocate while process runs on ours; only the thread that calls process counts.
// The count is a plain thread-local of the executable (static TLS: reading it never allocates).
#include "tools/vst3host/allocations.h"

#if !defined(_WIN32)
#include <cstddef>

namespace {
thread_local std::uint64_t allocations = 0;
std::uint64_t count() {
    return allocations;
}
}  // namespace

namespace vst3host {
AllocationCounter processAllocationCounter() {
    return &count;
}
}  // namespace vst3host

#if defined(KORVO_SANITIZE)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
namespace {
void onMalloc(const volatile void*, std::size_t) {
    ++allocations;
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
    ++allocations;
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    ++allocations;
    return __libc_calloc(n, size);
}
void* realloc(void* block, std::size_t size) {
    ++allocations;
    return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    ++allocations;
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    ++allocations;
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    ++allocations;
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr) return 12;  // ENOMEM
    *out = block;
    return 0;
}
}
#endif

#else
namespace vst3host {
AllocationCounter processAllocationCounter() {
    return nullptr;
}
}  // namespace vst3host
#endif
