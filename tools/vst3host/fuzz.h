#pragma once
// A randomised host: drives a plug-in module through random orders of the calls a host may make
// and checks what must hold whatever the order.
//
// Calls: initialize and terminate, setActive, setupProcessing (usual and absurd rates and block
// sizes), setProcessing, setBusArrangements (valid and refused layouts), process (0 to 8192
// frames, null buffers and channel arrays, mono and stereo, missing buses, in-place buffers, input
// with NaN, infinities, denormals and huge values, parameter queues with NaN, infinities,
// out-of-range values and unknown IDs, odd process contexts), flushes, program changes, controller
// calls with odd arguments and text, getState / setState round trips through streams that move a
// few bytes per call, random and truncated state bytes, view creation and release, and instances
// destroyed and made anew.
//
// Checks: no crash (the sanitizers catch memory faults), every output sample finite, no heap
// allocation inside process (when an allocation counter is given), a state read back from an
// instance exactly as it was written, and a refused state leaving the instance's state as it was.
//
// Every choice comes from one generator seeded with `seed`: a run is reproduced by its seed and
// step count. Main thread only; process is called on the same thread.

#include <cstdint>
#include <string>

namespace vst3host {

struct FuzzOptions {
    std::string modulePath;
    std::uint64_t seed = 1;
    std::int64_t steps = 0;  // run this many steps (0: use seconds)
    double seconds = 0.0;    // run this long when steps is 0
    // Heap allocations made by the process so far; null: allocations are not checked.
    std::uint64_t (*allocationCount)() = nullptr;
};

struct FuzzReport {
    std::int64_t steps = 0;
    std::int64_t processCalls = 0;
    std::int64_t framesProcessed = 0;
    std::int64_t stateRoundTrips = 0;
    std::int64_t refusedStates = 0;
    std::int64_t instances = 0;
    std::string failure;      // empty when every check held; else the first broken check and the step
    std::string recentSteps;  // the last steps before a failure, one per line
};

// Runs the randomised host. False when the module cannot be loaded or a check failed (see
// report.failure).
bool runFuzz(const FuzzOptions& options, FuzzReport& report);

}  // namespace vst3host
