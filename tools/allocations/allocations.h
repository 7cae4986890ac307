#pragma once
// Heap allocations counted where they are made, for the checks that the real-time paths never
// allocate: the tests' probes read the whole process's count, our hosts' fuzzers the count of the
// thread that calls process (a plug-in's own threads, an editor's drawing workers, may allocate
// meanwhile).
//
// Linux without sanitizers: an executable that links this library interposes the malloc family
// (malloc, calloc, realloc, memalign, aligned_alloc, posix_memalign); the dynamic linker resolves
// every library's calls, a loaded plug-in module's included, to these definitions, which count
// and forward to glibc. With AddressSanitizer or ThreadSanitizer, whose allocators must stay in
// place, their allocation hooks count instead. Windows cannot interpose a DLL's allocations from
// the executable: there the library is empty and these functions are not defined.
//
// Threads: [any-thread]. Reading either count never allocates; the per-thread count lives in the
// executable's static thread-local storage.

#include <cstdint>

namespace korvo::allocations {

// Allocations made by every thread since the process started.
std::uint64_t inProcess() noexcept;
// Allocations made by the calling thread since it started.
std::uint64_t onThisThread() noexcept;

}  // namespace korvo::allocations
