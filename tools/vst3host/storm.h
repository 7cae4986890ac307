#pragma once
// The GUI storm: a person at the editor, fast and careless, while the host plays audio with
// automation. One instance of the module's first class, prepared (48 kHz, blocks of 256, stereo)
// and processed on an audio thread of ours, with parameter changes inside the blocks (host
// automation, from a set of blocks made before the thread starts, so nothing of ours allocates
// there either); on the calling thread, the host's UI thread, the editor in a real window of ours
// (EditorHost) gets random mouse moves, clicks, double clicks, drags, wheel turns, right clicks
// (context menus), Escape, keys and typed numbers through the system's input path, aimed at the
// editor's controls more often than not, while the host also writes parameters as its automation
// lanes play, changes programs and reads and restores the state. The editor is closed and opened
// again, and detached and attached again, also in the middle of a gesture (a button held).
// Afterwards the editor is opened and closed `cycles` times with the heap counted around them.
//
// Checks, each reported on its own (StormReport::checks): the run ended (no crash, every call
// returned); the editor's edits reached the component handler in balanced gestures (beginEdit and
// endEdit paired per parameter, performEdit only inside one, group edits paired, nothing left
// open once the editor closed); the handler was called on the UI thread only; process returned
// kResultOk and every output sample was finite; process allocated nothing (when an allocation
// counter is given; it is read on the audio thread); the heap stayed flat over the cycles.
//
// Threads: VST3's rules. process on the audio thread only; every other call, the editor's, the
// controller's and the component's state, on the calling thread. setActive and setProcessing
// happen before the audio thread starts and after it stops.
//
// The input comes from one generator seeded with `seed`; what the editor's timers and the audio
// thread do meanwhile depends on time, so a seed repeats the input, not every interleaving.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/vst3host/allocations.h"

namespace vst3host {

struct StormOptions {
    std::string modulePath;
    std::uint64_t seed = 1;
    double seconds = 10.0;      // the storm itself, without the cycles
    std::int32_t cycles = 500;  // editor open-close cycles counted for the heap (0: none)
    bool checkFiniteOutput = true;
    // Heap allocations of the calling thread so far, read on the audio thread; null: not checked.
    AllocationCounter allocationCount = nullptr;
};

struct StormCheck {
    std::string name;
    bool passed = true;
    std::string detail;  // figures when it held, what broke when it did not
};

struct StormReport {
    std::int64_t actions = 0;
    std::int64_t gestures = 0;  // beginEdit calls
    std::int64_t edits = 0;     // performEdit calls
    std::int64_t viewsOpened = 0;
    std::int64_t closedMidGesture = 0;  // closes and detaches with a button held
    std::int64_t menus = 0;             // context menus the plug-in asked the host for
    std::int64_t processCalls = 0;
    std::int64_t automationWrites = 0;  // setParamNormalized calls of the host's automation
    std::vector<StormCheck> checks;
    std::string recentSteps;  // the last actions before the first broken check, one per line
    std::int64_t failed() const {
        std::int64_t n = 0;
        for (const StormCheck& c : checks) n += c.passed ? 0 : 1;
        return n;
    }
};

// Runs the storm. False when the module cannot be loaded, no editor opens or a check failed.
bool runStorm(const StormOptions& options, StormReport& report);

}  // namespace vst3host
