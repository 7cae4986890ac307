#pragma once
// The IPlugFrame our host gives to plug-in views, and on Linux the run loop behind it.
//
// A VST3 editor on Linux has no thread of its own: it registers a timer and a file-descriptor
// handler with the host's IRunLoop, which it finds by queryInterface on the frame given in
// setFrame, and the host calls them on its UI thread. RunLoop is that loop for our host: run(ms)
// waits with poll() on the registered descriptors until the next timer is due, then calls what is
// ready. Handlers are held with a reference between register and unregister; unregistering from
// inside a handler is allowed.
//
// On Windows the frame answers only IPlugFrame (the editor window gets its messages from the
// thread's message queue; see editor.h).
//
// Threads: everything on the thread that runs the loop (the "UI thread" of the host).

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "korvo/vst3/abi.h"
#include "tools/vst3host/host.h"

namespace vst3host {

class RunLoop final : public HostObject<v::IRunLoop> {
public:
    RunLoop() = default;
    ~RunLoop();  // releases every handler still registered

    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override;
    v::tresult KORVO_VST3_API registerEventHandler(v::IEventHandler* handler, v::FileDescriptor fd) override;
    v::tresult KORVO_VST3_API unregisterEventHandler(v::IEventHandler* handler) override;
    v::tresult KORVO_VST3_API registerTimer(v::ITimerHandler* handler,
                                            v::TimerInterval milliseconds) override;
    v::tresult KORVO_VST3_API unregisterTimer(v::ITimerHandler* handler) override;

    // Runs the loop for `ms` milliseconds of the monotonic clock (0: one pass without waiting).
    void run(std::uint32_t ms);
    // One wait of at most timeoutMs (or until the next timer), then the handlers that are ready.
    void runOnce(std::int32_t timeoutMs);

    // Time spent inside the handlers (the plug-in's work on the UI thread), and timer calls, since
    // the last resetBusy.
    double busyMs() const { return busyMs_; }
    double maxTimerMs() const { return maxTimerMs_; }
    std::uint64_t busyTimerCalls() const { return busyTimerCalls_; }
    void resetBusy() { busyMs_ = maxTimerMs_ = 0.0, busyTimerCalls_ = 0; }

    std::size_t eventHandlerCount() const { return fileHandlers_.size(); }
    std::size_t timerCount() const { return timers_.size(); }
    // Period of the first registered timer (0 when none).
    std::uint64_t firstTimerPeriod() const { return timers_.empty() ? 0 : timers_.front().periodMs; }
    std::uint64_t timerCalls() const { return timerCalls_; }

private:
    struct FileHandler {
        v::IEventHandler* handler;
        v::FileDescriptor fd;
    };
    struct Timer {
        v::ITimerHandler* handler;
        std::uint64_t periodMs;
        std::uint64_t dueMs;
    };
    std::vector<FileHandler> fileHandlers_;
    std::vector<Timer> timers_;
    std::uint64_t timerCalls_ = 0;
    double busyMs_ = 0.0;
    double maxTimerMs_ = 0.0;
    std::uint64_t busyTimerCalls_ = 0;
};

// The frame: resizeView is refused (our host windows have a fixed size) and counted. On Linux
// queryInterface(IRunLoop) hands out the frame's run loop.
class PlugFrame final : public HostObject<v::IPlugFrame> {
public:
    v::tresult KORVO_VST3_API queryInterface(const v::TUID iid, void** obj) override;
    // Counted; answered by the resizer when one is set (the editor host resizes its window and
    // calls onSize), else refused.
    v::tresult KORVO_VST3_API resizeView(v::IPlugView* view, v::ViewRect* newSize) override;

    RunLoop& runLoop() { return runLoop_; }
    int resizeRequests() const { return resizeRequests_; }
    // The size of the last request (0 x 0 before the first).
    v::ViewRect lastResizeRequest() const { return lastRequest_; }
    void setResizer(std::function<v::tresult(v::IPlugView*, v::ViewRect*)> resizer) {
        resizer_ = std::move(resizer);
    }
    // Without a run loop (a host that has none): queryInterface(IRunLoop) fails.
    void setOffersRunLoop(bool on) { offersRunLoop_ = on; }

private:
    RunLoop runLoop_;
    int resizeRequests_ = 0;
    v::ViewRect lastRequest_{};
    std::function<v::tresult(v::IPlugView*, v::ViewRect*)> resizer_;
    bool offersRunLoop_ = true;
};

// Monotonic milliseconds, and with a fraction.
std::uint64_t monotonicMs();
double preciseMs();

}  // namespace vst3host
