#include <atomic>
#include <cstddef>

#include "tools/allocations/allocations.h"

namespace {
std::atomic<std::uint64_t> processCount{0};
// Initial-exec: the executable's own static TLS, reached without a call that could allocate.
thread_local std::uint64_t threadCount __attribute__((tls_model("initial-exec"))) = 0;

inline void count() noexcept {
    processCount.fetch_add(1, std::memory_order_relaxed);
    ++threadCount;
}
}  // namespace

namespace korvo::allocations {
std::uint64_t inProcess() noexcept {
    return processCount.load(std::memory_order_relaxed);
}
std::uint64_t onThisThread() noexcept {
    return threadCount;
}
}  // namespace korvo::allocations

#if defined(KORVO_SANITIZE) || defined(KORVO_SANITIZE_THREAD)
// Declared by the sanitizer runtime (GCC ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void onMalloc(const volatile void*, std::size_t) {
    count();
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
    count();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    count();
    return __libc_calloc(n, size);
}
void* realloc(void* block, std::size_t size) {
    count();
    return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    count();
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr) return 12;  // ENOMEM
    *out = block;
    return 0;
}
}
#endif
