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
// destroyed and made anew. With openViews the editor also opens in a real window of our own
// (EditorHost) and stays open across steps while it gets mouse drags and wheel turns, runs, is
// detached and attached again and closed; the host closes it before it ends or replaces the
// instance, as hosts do.
//
// Checks: no crash (the sanitizers catch memory faults), every output sample finite (unless
// switched off), no heap
// allocation inside process (when an allocation counter is given), a state read back from an
// instance exactly as it was written, and a refused state leaving the instance's state as it was.
//
// Every choice comes from one generator seeded with `seed`: a run is reproduced by its seed and
// step count (with open views, what the editor's timers do meanwhile depends on time). Main thread
// only; process and the editor's UI loop run on the same thread.

#include <cstdint>
#include <string>

namespace vst3host {

struct FuzzOptions {
    std::string modulePath;
    std::uint64_t seed = 1;
    std::int64_t steps = 0;  // run this many steps (0: use seconds)
    double seconds = 0.0;    // run this long when steps is 0
    // Views are attached to a real window of ours (needs a display: DISPLAY on Linux).
    bool openViews = false;
    // Every output sample must be finite. Off for a plug-in whose arithmetic may overflow on the
    // extreme input given (the test module's plain gain of up to 2 on 3.4e38).
    bool checkFiniteOutput = true;
    // Heap allocations made on the calling thread so far; null: allocations are not checked.
    std::uint64_t (*allocationCount)() = nullptr;
};

struct FuzzReport {
    std::int64_t steps = 0;
    std::int64_t processCalls = 0;
    std::int64_t framesProcessed = 0;
    std::int64_t stateRoundTrips = 0;
    std::int64_t refusedStates = 0;
    std::int64_t instances = 0;
    std::int64_t viewsOpened = 0;  // editors opened in a window
    std::int64_t editorEdits = 0;  // parameter edits the open editors reported to the host
    std::string failure;           // empty when every check held; else the first broken check and the step
    std::string recentSteps;       // the last steps before a failure, one per line
};

// Runs the randomised host. False when the module cannot be loaded or a check failed (see
// report.failure).
bool runFuzz(const FuzzOptions& options, FuzzReport& report);

}  // namespace vst3host
