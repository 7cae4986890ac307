// Threads, sleeping and the heap figure on POSIX and Windows (see system.h).
#include "tools/vst3host/system.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <malloc.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

#if defined(KORVO_SANITIZE) || defined(KORVO_SANITIZE_THREAD)
// Declared by the sanitizer runtime (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace vst3host {

namespace {
struct Start {
    void (*function)(void*);
    void* object;
};
}  // namespace

HostThread::~HostThread() {
    join();
}

#if defined(_WIN32)

namespace {
DWORD WINAPI threadEntry(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.function(s.object);
    return 0;
}
}  // namespace

bool HostThread::start(void (*function)(void*), void* object) {
    if (handle_ != 0) return false;
    Start* s = new Start{function, object};
    HANDLE thread = CreateThread(nullptr, 0, &threadEntry, s, 0, nullptr);
    if (thread == nullptr) {
        delete s;
        return false;
    }
    handle_ = reinterpret_cast<std::uintptr_t>(thread);
    return true;
}

void HostThread::join() {
    if (handle_ == 0) return;
    HANDLE thread = reinterpret_cast<HANDLE>(handle_);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    handle_ = 0;
}

std::uint64_t currentThreadId() {
    return GetCurrentThreadId();
}

void sleepMs(std::uint32_t ms) {
    Sleep(ms);
}

bool heapBytesInUse(std::uint64_t& bytes) {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    if (count == 0 || count > 256) return false;
    bytes = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) bytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return true;
}

#else

namespace {
void* threadEntry(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    s.function(s.object);
    return nullptr;
}
}  // namespace

bool HostThread::start(void (*function)(void*), void* object) {
    if (handle_ != 0) return false;
    Start* s = new Start{function, object};
    pthread_t thread{};
    if (pthread_create(&thread, nullptr, &threadEntry, s) != 0) {
        delete s;
        return false;
    }
    handle_ = static_cast<std::uintptr_t>(thread);
    return true;
}

void HostThread::join() {
    if (handle_ == 0) return;
    pthread_join(static_cast<pthread_t>(handle_), nullptr);
    handle_ = 0;
}

std::uint64_t currentThreadId() {
    return static_cast<std::uint64_t>(syscall(SYS_gettid));
}

void sleepMs(std::uint32_t ms) {
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

bool heapBytesInUse(std::uint64_t& bytes) {
#if defined(KORVO_SANITIZE) || defined(KORVO_SANITIZE_THREAD)
    bytes = __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    bytes = info.uordblks + info.hblkhd;  // small blocks in use, and the large ones mapped apart
#endif
    return true;
}

#endif

}  // namespace vst3host
