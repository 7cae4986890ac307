// ThreadPool: workers sleep on taskSignal_ while idle; a batch hands out indices one at a time
// under taskLock_ and counts finished ones under doneLock_. A worker never holds both locks.
#include "korvo/core/thread.h"

#include "korvo/core/fpcontrol.h"
#include "korvo/core/nogc.h"

namespace korvo {

std::int32_t ThreadPool::workerCount(std::int32_t threadCount, std::int32_t threadLimit,
                                     std::int32_t processors) noexcept {
    if (threadCount <= 0) threadCount = processors < 1 ? 1 : processors;
    if (threadLimit > 0 && threadCount > threadLimit) threadCount = threadLimit;
    return threadCount;
}

ThreadPool::ThreadPool(std::int32_t threadCount, std::int32_t threadLimit, std::size_t stackSize) noexcept {
    threadCount_ = workerCount(threadCount, threadLimit, threadCount > 0 ? 1 : processorCount());
    threads_ = heapArray<Thread>(static_cast<std::size_t>(threadCount_));
    for (std::int32_t i = 0; i < threadCount_; ++i) {
        threads_[i].callback = ThreadCallback{this, &ThreadPool::workerLoop};
        threads_[i].stackSize = stackSize;
        threads_[i].start();
    }
}

ThreadPool::~ThreadPool() {
    if (threads_ == nullptr) return;
    taskLock_.lock();
    stop_ = true;
    taskLock_.unlock();
    taskSignal_.notify(true);
    for (std::int32_t i = 0; i < threadCount_; ++i) threads_[i].join();
    for (std::int32_t i = 0; i < threadCount_; ++i) threads_[i].reset();
    heapArrayFree(threads_);
    threads_ = nullptr;
    threadCount_ = 0;
    // The members are destroyed in reverse order of declaration: doneSignal_, doneLock_,
    // taskSignal_, taskLock_.
}

void ThreadPool::workerLoop(void* object) noexcept {
    // Workers run plug-in code only (drawing, lighting): they keep the plug-in's floating-point
    // setting (flush-to-zero, denormals-are-zero, exceptions masked) for their whole life, the
    // same as the GUI thread has inside every window message.
    FPControl guard;
    auto* pool = static_cast<ThreadPool*>(object);
    for (;;) {
        pool->taskLock_.lock();
        std::int32_t index;
        bool haveTask;
        for (;;) {
            index = pool->nextIndex_;
            haveTask = index < pool->taskCount_;
            if (pool->stop_ || haveTask) break;
            pool->taskSignal_.wait(pool->taskLock_);
        }
        if (!haveTask) {  // stopping, and no index left
            pool->taskLock_.unlock();
            return;
        }
        pool->nextIndex_ = index + 1;
        const ParallelTask task = pool->task_;
        pool->taskLock_.unlock();

        task.function(task.object, index);

        pool->doneLock_.lock();
        ++pool->doneCount_;
        pool->doneLock_.unlock();
        pool->doneSignal_.notify(false);
    }
}

void ThreadPool::runParallel(std::int32_t count, ParallelTask task) noexcept {
    if (count <= 0) return;
    if (count == 1) {
        task.function(task.object, 0);
        return;
    }
    startParallel(count, task);
    waitParallel();
}

void ThreadPool::startParallel(std::int32_t count, ParallelTask task) noexcept {
    if (count <= 0) return;
    taskLock_.lock();
    task_ = task;
    taskCount_ = count;
    nextIndex_ = 0;
    doneCount_ = 0;
    taskLock_.unlock();
    if (threadCount_ <= count) {
        taskSignal_.notify(true);
    } else {
        for (std::int32_t i = 0; i < count; ++i) taskSignal_.notify(false);
    }
    waitPending_ = true;
}

void ThreadPool::waitParallel() noexcept {
    if (!waitPending_) return;
    doneLock_.lock();
    while (doneCount_ < taskCount_) doneSignal_.wait(doneLock_);
    waitPending_ = false;
    doneLock_.unlock();
}

}  // namespace korvo
