// Allocation counting on Linux: the whole process's count of the shared interposer
// (tools/allocations), which counts at the malloc level (glibc or sanitizer allocator).
#include "tests/support/realtime.h"
#include "tools/allocations/allocations.h"

namespace korvo::test {
std::uint64_t processAllocationCount() noexcept {
    return korvo::allocations::inProcess();
}
}  // namespace korvo::test
