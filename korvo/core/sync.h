#pragma once
// UncheckedMutex: the one lock of the framework. A recursive OS lock (a critical section with spin
// count 40 on Windows, a recursive pthread mutex elsewhere) allocated on the process heap.
//
// The audio thread only ever calls tryLock. Every other user may lock. The thread that holds the
// mutex may lock it again and must unlock it as many times.
//
// The number of blocking lock() calls and of tryLock() calls made in the process is counted so
// that tests can prove a code path takes no lock.

#include <cstdint>

namespace korvo {

class UncheckedMutex {
public:
    // Creates the OS lock. [any-thread]
    UncheckedMutex() noexcept;
    // Destroys the OS lock if it still exists. [any-thread; nobody may hold it]
    ~UncheckedMutex();

    UncheckedMutex(const UncheckedMutex&) = delete;
    UncheckedMutex& operator=(const UncheckedMutex&) = delete;
    UncheckedMutex(UncheckedMutex&& other) noexcept;
    UncheckedMutex& operator=(UncheckedMutex&& other) noexcept;

    void lock() noexcept;     // [any-thread except audio] blocks until acquired
    bool tryLock() noexcept;  // [any-thread] true when acquired; never blocks
    void unlock() noexcept;   // [the holding thread]

    // Deletes the OS lock; a second call does nothing.
    void destroy() noexcept;
    bool created() const noexcept { return created_ != 0; }

    // Process-wide counts of blocking lock() and of tryLock() calls. [any-thread]
    static std::uint64_t blockingLockCount() noexcept;
    static std::uint64_t tryLockCount() noexcept;

private:
    void* handle_ = nullptr;     // heap-allocated CRITICAL_SECTION / pthread_mutex_t
    std::uint64_t created_ = 0;  // 1 once the OS lock exists, 0 after destroy
};

// Scoped lock for UncheckedMutex (never on the audio thread).
class ScopedLock {
public:
    explicit ScopedLock(UncheckedMutex& mutex) noexcept : mutex_(mutex) { mutex_.lock(); }
    ~ScopedLock() { mutex_.unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    UncheckedMutex& mutex_;
};

// Scoped try-lock: owns the mutex only when acquired() is true.
class ScopedTryLock {
public:
    explicit ScopedTryLock(UncheckedMutex& mutex) noexcept : mutex_(mutex), acquired_(mutex.tryLock()) {}
    ~ScopedTryLock() {
        if (acquired_) mutex_.unlock();
    }
    ScopedTryLock(const ScopedTryLock&) = delete;
    ScopedTryLock& operator=(const ScopedTryLock&) = delete;
    bool acquired() const noexcept { return acquired_; }

private:
    UncheckedMutex& mutex_;
    bool acquired_;
};

}  // namespace korvo
