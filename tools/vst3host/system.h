#pragma once
// What the GUI storm (storm.h) needs of the system beyond the standard library, which gives no
// threads to the Windows build: a thread of its own, thread identities, sleeping and the heap's
// bytes in use.

#include <cstdint>

namespace vst3host {

// One thread running function(object) from start() to its return; join() waits for it.
class HostThread {
public:
    HostThread() = default;
    ~HostThread();  // join()
    HostThread(const HostThread&) = delete;
    HostThread& operator=(const HostThread&) = delete;
    // False when the system refuses a thread.
    bool start(void (*function)(void*), void* object);
    void join();
    bool running() const { return handle_ != 0; }

private:
    std::uintptr_t handle_ = 0;
};

// The calling thread's identity (the system's thread id).
std::uint64_t currentThreadId();
void sleepMs(std::uint32_t ms);

// Bytes the process's heap holds for the program right now. Linux: glibc's count over every
// arena (mallinfo2), or the sanitizer allocator's in a sanitizer build. Windows: the busy blocks
// of every heap of the process (HeapWalk). False when there is no such figure.
bool heapBytesInUse(std::uint64_t& bytes);

}  // namespace vst3host
