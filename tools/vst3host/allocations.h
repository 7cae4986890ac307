#pragma once
// Our hosts' count of the heap allocations made on the calling thread (the executables' own;
// see allocations.cpp).

#include <cstdint>

namespace vst3host {

using AllocationCounter = std::uint64_t (*)();
// The counter, or null where allocations cannot be counted.
AllocationCounter processAllocationCounter();

}  // namespace vst3host
