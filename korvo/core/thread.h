#pragma once
// Threads and the worker pool.
//
// Thread: a thin record around one OS thread running a callback. ThreadPool: a fixed set of
// workers whose one operation is a parallel "for" over an index range, used by the GUI renderer to
// draw and composite screen tiles in parallel. Nothing here reports errors: failing to create,
// resume or join a thread ends the process. None of it may be used on the audio thread.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "korvo/core/condvar.h"
#include "korvo/core/sync.h"

namespace korvo {

// The function a Thread runs: function(object).
struct ThreadCallback {
    void* object = nullptr;
    void (*function)(void* object) = nullptr;
};

// One OS thread. The record must stay at the same address while its thread runs (the thread is
// handed a pointer to `callback`).
struct Thread {
    std::uintptr_t handle = 0;      // OS handle (HANDLE / pthread_t), 0 until started
    ThreadCallback callback;        // what the thread runs
    std::size_t stackSize = 0;      // bytes; 0 = the OS default
    std::uint8_t closesHandle = 0;  // when set, reset() closes `handle`; start() leaves it 0

    Thread() = default;
    Thread(ThreadCallback cb, std::size_t stack) noexcept : callback(cb), stackSize(stack) {}

    // Creates the thread (suspended, then resumed, on Windows) running callback. [main-thread]
    void start() noexcept;
    // Waits until the thread has ended and releases its handle. [main-thread]
    void join() noexcept;
    // Forgets the thread, closing its handle only when closesHandle is set.
    void reset() noexcept;
};

// Number of processors the OS reports, at least 1. [any-thread]
std::int32_t processorCount() noexcept;

// Gives the rest of the calling thread's time slice to another thread ready to run, if any.
// [any-thread]
void yieldThread() noexcept;

// The work of one parallel batch: function(object, index) for every index of the batch.
struct ParallelTask {
    void* object = nullptr;
    void (*function)(void* object, std::int32_t index) = nullptr;

    // Wraps a callable f(int32_t); f must outlive the batch.
    template <class F>
    static ParallelTask of(F& f) noexcept {
        return {const_cast<void*>(static_cast<const void*>(&f)),
                [](void* o, std::int32_t i) { (*static_cast<F*>(o))(i); }};
    }
};

// A fixed pool of worker threads running one batch of indices at a time.
//
//   HeapPtr<ThreadPool> pool = makeHeap<ThreadPool>(0, 2);   // min(processors, 2) workers
//   pool->runParallel(tileCount, [&](std::int32_t i) { drawTile(i); });
//
// The task of a batch runs with no pool lock held, on several workers at once for distinct
// indices, each index exactly once. runParallel/startParallel/waitParallel are called from one
// thread only (the GUI thread), and a new batch may start only after the previous one was waited
// for. A batch costs no allocation. Workers run under the plug-in's floating-point setting
// (FPControl: flush-to-zero, denormals-are-zero, all exceptions masked, rounding to nearest).
class ThreadPool final {
public:
    // threadCount 0 means one worker per processor; a non-zero threadLimit caps the count.
    // stackSize 0 is the OS default. [main-thread]
    explicit ThreadPool(std::int32_t threadCount = 0, std::int32_t threadLimit = 0,
                        std::size_t stackSize = 0) noexcept;
    // Wakes every worker, lets them finish the indices left, and joins them all before returning.
    // [main-thread]
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Runs task(i) for every i in [0, count) and returns when all have finished. Count 0 calls
    // nothing; count 1 runs index 0 on the calling thread without waking a worker. [main-thread]
    virtual void runParallel(std::int32_t count, ParallelTask task) noexcept;
    // Starts a batch and returns at once (count 0 starts nothing). Wakes at most count workers.
    // [main-thread]
    virtual void startParallel(std::int32_t count, ParallelTask task) noexcept;
    // Waits for the batch of startParallel; returns at once when none is pending. [main-thread]
    virtual void waitParallel() noexcept;

    // Convenience forms taking any callable f(int32_t); f must outlive the batch.
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, ParallelTask>) void runParallel(std::int32_t count,
                                                                                     F&& f) noexcept {
        auto& callable = f;
        runParallel(count, ParallelTask::of(callable));
    }
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, ParallelTask>) void startParallel(std::int32_t count,
                                                                                       F& f) noexcept {
        startParallel(count, ParallelTask::of(f));
    }

    std::int32_t threadCount() const noexcept { return threadCount_; }

    // The number of workers a pool gets for the constructor arguments on a machine with
    // `processors` processors.
    static std::int32_t workerCount(std::int32_t threadCount, std::int32_t threadLimit,
                                    std::int32_t processors) noexcept;

private:
    static void workerLoop(void* pool) noexcept;

    std::int32_t threadCount_ = 0;
    Thread* threads_ = nullptr;
    UncheckedMutex taskLock_;
    ConditionVariable taskSignal_;
    UncheckedMutex doneLock_;
    ConditionVariable doneSignal_;
    ParallelTask task_;
    std::int32_t taskCount_ = 0;  // indices in the current batch        [taskLock_]
    std::int32_t nextIndex_ = 0;  // next index to hand out                [taskLock_]
    std::int32_t doneCount_ = 0;  // indices finished in the current batch [doneLock_]
    bool stop_ = false;           // set once, at destruction              [taskLock_]
    bool waitPending_ = false;    // a batch was started and not waited for (calling thread only)
};

}  // namespace korvo
