// Windows threads: created suspended with _beginthreadex, then resumed.
#include <process.h>
#include <windows.h>

#include "korvo/core/nogc.h"
#include "korvo/core/thread.h"

namespace korvo {

namespace {
unsigned __stdcall threadEntry(void* argument) {
    const auto* callback = static_cast<const ThreadCallback*>(argument);
    callback->function(callback->object);
    return 0;
}
}  // namespace

void Thread::start() noexcept {
    const std::uintptr_t created = _beginthreadex(nullptr, static_cast<unsigned>(stackSize), &threadEntry,
                                                  &callback, CREATE_SUSPENDED, nullptr);
    if (created == 0) fatalError("cannot create a thread");
    handle = created;
    if (ResumeThread(reinterpret_cast<HANDLE>(handle)) == 0xFFFFFFFFu) fatalError("cannot resume a thread");
}

void Thread::join() noexcept {
    if (handle == 0) return;
    if (WaitForSingleObject(reinterpret_cast<HANDLE>(handle), INFINITE) != WAIT_OBJECT_0)
        fatalError("cannot join a thread");
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    handle = 0;
}

void Thread::reset() noexcept {
    if (closesHandle != 0 && handle != 0) CloseHandle(reinterpret_cast<HANDLE>(handle));
    *this = Thread();
}

std::int32_t processorCount() noexcept {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors < 1 ? 1 : static_cast<std::int32_t>(info.dwNumberOfProcessors);
}

void yieldThread() noexcept {
    SwitchToThread();
}

}  // namespace korvo
