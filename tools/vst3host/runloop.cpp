#include "tools/vst3host/runloop.h"

#include <algorithm>
#include <chrono>

#if !defined(_WIN32)
#include <poll.h>
#endif

namespace vst3host {

std::uint64_t monotonicMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

double preciseMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// ---- RunLoop ------------------------------------------------------------------------------------

RunLoop::~RunLoop() {
    for (const FileHandler& f : fileHandlers_) f.handler->release();
    for (const Timer& t : timers_) t.handler->release();
}

v::tresult RunLoop::queryInterface(const v::TUID iid, void** obj) {
    return answer(iid, obj, v::iidIRunLoop);
}

v::tresult RunLoop::registerEventHandler(v::IEventHandler* handler, v::FileDescriptor fd) {
    if (handler == nullptr || fd < 0) return v::kInvalidArgument;
    for (const FileHandler& f : fileHandlers_)
        if (f.handler == handler) return v::kResultFalse;
    handler->addRef();
    fileHandlers_.push_back({handler, fd});
    return v::kResultOk;
}

v::tresult RunLoop::unregisterEventHandler(v::IEventHandler* handler) {
    for (auto it = fileHandlers_.begin(); it != fileHandlers_.end(); ++it) {
        if (it->handler != handler) continue;
        fileHandlers_.erase(it);
        handler->release();
        return v::kResultOk;
    }
    return v::kResultFalse;
}

v::tresult RunLoop::registerTimer(v::ITimerHandler* handler, v::TimerInterval milliseconds) {
    if (handler == nullptr || milliseconds == 0) return v::kInvalidArgument;
    for (const Timer& t : timers_)
        if (t.handler == handler) return v::kResultFalse;
    handler->addRef();
    timers_.push_back({handler, milliseconds, monotonicMs() + milliseconds});
    return v::kResultOk;
}

v::tresult RunLoop::unregisterTimer(v::ITimerHandler* handler) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->handler != handler) continue;
        timers_.erase(it);
        handler->release();
        return v::kResultOk;
    }
    return v::kResultFalse;
}

void RunLoop::run(std::uint32_t ms) {
    const std::uint64_t end = monotonicMs() + ms;
    do {
        const std::uint64_t now = monotonicMs();
        runOnce(now >= end ? 0 : static_cast<std::int32_t>(end - now));
    } while (monotonicMs() < end);
}

void RunLoop::runOnce(std::int32_t timeoutMs) {
    const std::uint64_t now = monotonicMs();
    std::int64_t wait = timeoutMs < 0 ? 0 : timeoutMs;
    for (const Timer& t : timers_)
        wait = std::min<std::int64_t>(wait, t.dueMs > now ? static_cast<std::int64_t>(t.dueMs - now) : 0);
#if !defined(_WIN32)
    std::vector<pollfd> fds;
    for (const FileHandler& f : fileHandlers_) fds.push_back(pollfd{f.fd, POLLIN, 0});
    const int ready = poll(fds.data(), fds.size(), static_cast<int>(wait));
    if (ready > 0) {
        // Handlers may unregister themselves (or others): look each one up again before calling.
        for (const pollfd& p : fds) {
            if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            for (const FileHandler& f : fileHandlers_) {
                if (f.fd != p.fd) continue;
                v::IEventHandler* handler = f.handler;
                handler->addRef();
                const double start = preciseMs();
                handler->onFDIsSet(p.fd);
                busyMs_ += preciseMs() - start;
                handler->release();
                break;
            }
        }
    }
#else
    (void)wait;
#endif
    const std::uint64_t after = monotonicMs();
    std::vector<v::ITimerHandler*> due;
    for (Timer& t : timers_) {
        if (t.dueMs > after) continue;
        // A late loop does not call a timer twice in a row to catch up.
        t.dueMs = std::max(t.dueMs + t.periodMs, after + 1);
        due.push_back(t.handler);
    }
    for (v::ITimerHandler* handler : due) {
        const bool stillRegistered =
            std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.handler == handler; });
        if (!stillRegistered) continue;
        handler->addRef();
        ++timerCalls_;
        const double start = preciseMs();
        handler->onTimer();
        const double spent = preciseMs() - start;
        busyMs_ += spent;
        maxTimerMs_ = std::max(maxTimerMs_, spent);
        ++busyTimerCalls_;
        handler->release();
    }
}

// ---- PlugFrame ------------------------------------------------------------------------------------

v::tresult PlugFrame::queryInterface(const v::TUID iid, void** obj) {
#if !defined(_WIN32)
    if (offersRunLoop_ && obj != nullptr && v::uidEquals(iid, v::iidIRunLoop))
        return runLoop_.queryInterface(iid, obj);
#endif
    return answer(iid, obj, v::iidIPlugFrame);
}

v::tresult PlugFrame::resizeView(v::IPlugView* view, v::ViewRect* newSize) {
    ++resizeRequests_;
    if (newSize != nullptr) lastRequest_ = *newSize;
    return resizer_ ? resizer_(view, newSize) : v::kResultFalse;
}

}  // namespace vst3host
