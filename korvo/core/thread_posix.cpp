// Linux threads on pthreads.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "korvo/core/nogc.h"
#include "korvo/core/thread.h"

namespace korvo {

namespace {
void* threadEntry(void* argument) {
    const auto* callback = static_cast<const ThreadCallback*>(argument);
    callback->function(callback->object);
    return nullptr;
}
}  // namespace

void Thread::start() noexcept {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize != 0) {
        const auto minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
        const std::size_t size = stackSize < minimum ? minimum : stackSize;
        pthread_attr_setstacksize(&attributes, size);
    }
    pthread_t thread;
    const int result = pthread_create(&thread, &attributes, &threadEntry, &callback);
    pthread_attr_destroy(&attributes);
    if (result != 0) fatalError("cannot create a thread");
    handle = static_cast<std::uintptr_t>(thread);
}

void Thread::join() noexcept {
    if (handle == 0) return;
    if (pthread_join(static_cast<pthread_t>(handle), nullptr) != 0) fatalError("cannot join a thread");
    handle = 0;
}

void Thread::reset() noexcept {
    // A pthread has nothing to close once joined; an unjoined one is detached.
    if (closesHandle != 0 && handle != 0) pthread_detach(static_cast<pthread_t>(handle));
    *this = Thread();
}

std::int32_t processorCount() noexcept {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count < 1 ? 1 : static_cast<std::int32_t>(count);
}

void yieldThread() noexcept {
    sched_yield();
}

}  // namespace korvo
