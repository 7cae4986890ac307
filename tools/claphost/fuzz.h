#pragma once
// A randomised CLAP host: drives a plug-in through random orders of the calls a host may make,
// and some it may not, and checks what must hold whatever the order.
//
// Calls: activate (usual and absurd rates and frame counts), deactivate, start and stop
// processing, reset, process (0 to 8192 frames, more than announced too, null buffers and channel
// arrays, mono and stereo, in-place buffers, 64-bit buffers alone, input with NaN, infinities,
// denormals and huge values, parameter events at random offsets, in and out of order, with NaN,
// infinities, out-of-range values and unknown IDs, mixed with events of other types, spaces and
// short sizes, odd transports), flush, configuration choices (while active too), parameter
// queries and texts with odd arguments, state save / load through streams that move a few bytes
// per call, random, cut and failing state bytes, on_main_thread, and instances destroyed while
// active and made anew.
//
// Checks: no crash (the sanitizers catch memory faults), every output sample finite, only known
// statuses, an error for process outside processing and for 64-bit-only buffers, no heap
// allocation in process or in an active flush (when an allocation counter is given), every value
// and parsed text inside its parameter's range, a state read back exactly as written, and a
// refused state leaving the instance's state as it was.
//
// Every choice comes from one generator seeded with `seed`: a run is reproduced by its seed and
// step count. Main thread only (it is also the host's audio thread).

#include <cstdint>
#include <string>

namespace claphost {

struct FuzzOptions {
    std::string modulePath;
    std::uint64_t seed = 1;
    std::int64_t steps = 0;  // run this many steps (0: use seconds)
    double seconds = 0.0;    // run this long when steps is 0
    bool checkFiniteOutput = true;
    // Heap allocations made on the calling thread so far; null: allocations are not checked.
    std::uint64_t (*allocationCount)() = nullptr;
};

struct FuzzReport {
    std::int64_t steps = 0;
    std::int64_t processCalls = 0;
    std::int64_t processErrors = 0;  // calls answered with the error status (as they had to be)
    std::int64_t framesProcessed = 0;
    std::int64_t eventsSent = 0;
    std::int64_t stateRoundTrips = 0;
    std::int64_t refusedStates = 0;
    std::int64_t instances = 0;
    std::string failure;      // empty when every check held; else the first broken check and the step
    std::string recentSteps;  // the last steps before a failure, one per line
};

// Runs the randomised host. False when the module cannot be loaded or a check failed.
bool runFuzz(const FuzzOptions& options, FuzzReport& report);

}  // namespace claphost
