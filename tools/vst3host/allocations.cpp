// The hosts count the allocations of the thread that calls process (tools/allocations): the
// plug-in's own threads may allocate while process runs on ours. Windows: a DLL's allocations
// cannot be seen from here, so nothing is counted (null).
#include "tools/vst3host/allocations.h"

#if !defined(_WIN32)
#include "tools/allocations/allocations.h"
#endif

namespace vst3host {
AllocationCounter processAllocationCounter() {
#if defined(_WIN32)
    return nullptr;
#else
    return &korvo::allocations::onThisThread;
#endif
}
}  // namespace vst3host
