#pragma once
// TimedFIFO: the lossy channel through which the audio thread feeds the editor's scopes.
//
// One producer (the audio thread) pushes elements; one consumer (the GUI thread, from an animation
// tick) reads the oldest buffered elements and then drops as many as correspond to the real time
// elapsed since its last read, so the display advances at the audio's pace whatever the frame rate.
// Neither side ever waits: both only try the lock. A contended push drops its input; a contended
// read returns 0 and keeps its time debt. A full FIFO drops its oldest elements.
//
// Only one element in `resolution` offered to the FIFO is stored (decimation): with resolution 4 the
// 4th, 8th, 12th... elements of the stream are kept.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "korvo/core/nogc.h"
#include "korvo/core/sync.h"

namespace korvo {

template <class T>
class TimedFIFO {
    static_assert(std::is_trivially_copyable_v<T>, "TimedFIFO holds plain values");

public:
    TimedFIFO() = default;
    ~TimedFIFO() { heapFree(data_); }
    TimedFIFO(const TimedFIFO&) = delete;
    TimedFIFO& operator=(const TimedFIFO&) = delete;

    // (Re)allocates room for `size` elements and stores one element in `resolution`. Both are
    // powers of two. [main-thread, before the producer starts]
    void initialize(std::int32_t size, std::int32_t resolution) noexcept {
        if (size < 1 || (size & (size - 1)) != 0) fatalError("TimedFIFO size must be a power of two");
        if (resolution < 1 || (resolution & (resolution - 1)) != 0)
            fatalError("TimedFIFO resolution must be a power of two");
        data_ = static_cast<T*>(heapRealloc(data_, sizeof(T) * static_cast<std::size_t>(size)));
        length_ = size;
        count_ = 0;
        readIndex_ = 0;
        inputCounter_ = 0;
        wrapMask_ = static_cast<std::uint32_t>(size - 1);
        decimationMask_ = static_cast<std::uint32_t>(resolution - 1);
        decimationShift_ = 0;
        while ((1 << decimationShift_) < resolution) ++decimationShift_;
        decimationScale_ = 1.0f / static_cast<float>(resolution);
        pendingTime_ = 0.0f;
        pendingFraction_ = 0.0f;
    }

    // Offers n elements. Never blocks: when the consumer holds the lock the input is dropped.
    // [audio-thread]
    void pushSamples(const T* input, std::int32_t n, float sampleRate) noexcept {
        sampleRate_.store(sampleRate, std::memory_order_relaxed);
        if (data_ == nullptr || !fifoLock_.tryLock()) return;
        for (std::int32_t i = 0; i < n; ++i) {
            ++inputCounter_;
            if ((inputCounter_ & decimationMask_) != 0) continue;
            data_[(readIndex_ + static_cast<std::uint32_t>(count_)) & wrapMask_] = input[i];
            if (count_ < length_)
                ++count_;
            else
                ++readIndex_;  // full: the newest element has overwritten the oldest
        }
        fifoLock_.unlock();
    }

    // [audio-thread]
    void pushOne(const T& element, float sampleRate) noexcept { pushSamples(&element, 1, sampleRate); }

    // The same as pushSamples for n elements that are made on demand: element(i) (i in [0, n)) is
    // called, in order, only for the elements the decimation stores. A producer whose elements
    // must first be assembled (a stereo pair from two channel arrays) needs no scratch buffer and
    // builds only one element in `resolution`. element must not block. [audio-thread]
    template <class Make>
    void pushGenerated(std::int32_t n, float sampleRate, Make&& element) noexcept {
        pushRuns(n, sampleRate, [&](T* slots, std::int32_t count, std::int32_t index, std::int32_t step) {
            for (std::int32_t k = 0; k < count; ++k) slots[k] = element(index + k * step);
        });
    }

    // The same again for a producer that writes the ring's slots itself, a run at a time:
    // fillRun(slots, count, index, step) stores the elements index, index + step, ... (count of
    // them, step = resolution) into slots[0 .. count). One call of pushRuns makes at most two runs
    // (the ring wraps once at most); elements that a full ring would overwrite in the same call
    // are not made at all. fillRun must not block. [audio-thread]
    template <class FillRun>
    void pushRuns(std::int32_t n, float sampleRate, FillRun&& fillRun) noexcept {
        sampleRate_.store(sampleRate, std::memory_order_relaxed);
        if (n <= 0 || data_ == nullptr || !fifoLock_.tryLock()) return;
        // The first i whose counter value (inputCounter + 1 + i) passes the decimation test.
        const std::uint32_t step = decimationMask_ + 1;
        const std::uint32_t first = (step - ((inputCounter_ + 1) & decimationMask_)) & decimationMask_;
        const auto total = static_cast<std::uint32_t>(n);
        const std::uint32_t stored = first < total ? ((total - 1 - first) >> decimationShift_) + 1 : 0;
        // Stored element k goes to the k-th slot after the newest; past the capacity the newest
        // overwrite the oldest, so of this call's elements only the last `length` can survive.
        const auto length = static_cast<std::uint32_t>(length_);
        const std::uint32_t skipped = stored > length ? stored - length : 0;
        std::uint32_t slot = (readIndex_ + static_cast<std::uint32_t>(count_) + skipped) & wrapMask_;
        std::uint32_t index = first + skipped * step;
        std::uint32_t left = stored - skipped;
        while (left > 0) {
            const std::uint32_t run = left < length - slot ? left : length - slot;
            fillRun(data_ + slot, static_cast<std::int32_t>(run), static_cast<std::int32_t>(index),
                    static_cast<std::int32_t>(step));
            slot = 0;
            index += run * step;
            left -= run;
        }
        const std::uint64_t filled = static_cast<std::uint64_t>(count_) + stored;
        if (filled > length) {
            readIndex_ += static_cast<std::uint32_t>(filled - length);
            count_ = length_;
        } else {
            count_ = static_cast<std::int32_t>(filled);
        }
        inputCounter_ += total;
        fifoLock_.unlock();
    }

    // Drops the oldest stored elements beyond what the last `seconds` of the stream leave stored, so
    // a reader that was away (its window closed, its thread held up) goes on with what plays now:
    // readOldestAndDrop alone works a backlog off at 1 % a read. Returns how many were dropped; 0
    // when the producer holds the lock or `seconds` is not a number. [GUI-thread]
    std::int32_t dropOlderThan(double seconds) noexcept {
        if (data_ == nullptr || !fifoLock_.tryLock()) return 0;
        const double limit =
            static_cast<double>(sampleRate_.load(std::memory_order_relaxed)) * seconds * decimationScale_;
        std::int32_t dropped = 0;
        if (limit >= 0.0 && static_cast<double>(count_) > limit) {
            dropped = count_ - static_cast<std::int32_t>(std::ceil(limit));
            count_ -= dropped;
            readIndex_ += static_cast<std::uint32_t>(dropped);
        }
        fifoLock_.unlock();
        return dropped;
    }

    // Copies up to outputLength of the oldest elements into output and returns how many; then drops
    // the stored elements that correspond to the time elapsed (seconds) since the last read, keeping
    // at least minKeep of those read (n - 1 when fewer were read). Fractions of an element are
    // carried to the next read. Returns 0 when the FIFO is empty or the producer holds the lock.
    // [GUI-thread]
    std::int32_t readOldestAndDrop(T* output, std::int32_t outputLength, double timeElapsed,
                                   std::int32_t minKeep) noexcept {
        // The extra 1 % keeps the display from lagging behind the audio. A non-finite or negative
        // time (a clock going backwards) owes nothing.
        double owed = static_cast<double>(pendingTime_) + timeElapsed * 1.01;
        if (!(owed >= 0.0) || !std::isfinite(owed)) owed = pendingTime_;
        pendingTime_ = static_cast<float>(owed);
        if (data_ == nullptr || !fifoLock_.tryLock()) return 0;
        const std::int32_t n = count_ < outputLength ? count_ : (outputLength > 0 ? outputLength : 0);
        if (n == 0) {
            fifoLock_.unlock();
            return 0;
        }
        const std::int32_t keep = n > minKeep ? minKeep : n - 1;
        for (std::int32_t i = 0; i < n; ++i)
            output[i] = data_[(readIndex_ + static_cast<std::uint32_t>(i)) & wrapMask_];
        float drop =
            sampleRate_.load(std::memory_order_relaxed) * pendingTime_ * decimationScale_ + pendingFraction_;
        const float most = static_cast<float>(count_ - (keep > 0 ? keep : 0));
        if (!(drop >= 0.0f)) drop = 0.0f;  // also a NaN from a bad sample rate: drop nothing
        if (drop > most) drop = most;
        const auto d = static_cast<std::int32_t>(drop);
        pendingTime_ = 0.0f;
        pendingFraction_ = drop - static_cast<float>(d);
        count_ -= d;
        readIndex_ += static_cast<std::uint32_t>(d);
        fifoLock_.unlock();
        return n;
    }

    // Inspection (tests; consumer side).
    std::int32_t count() const noexcept { return count_; }
    std::int32_t capacity() const noexcept { return length_; }
    float pendingTime() const noexcept { return pendingTime_; }
    float pendingFraction() const noexcept { return pendingFraction_; }
    UncheckedMutex& lockForTesting() noexcept { return fifoLock_; }

private:
    T* data_ = nullptr;
    std::int32_t length_ = 0;
    std::int32_t count_ = 0;
    // Running counters, masked on every access and never wrapped themselves: unsigned, so that a
    // stream longer than 2^31 elements (about 12 hours at 48 kHz) wraps them in a defined way.
    std::uint32_t readIndex_ = 0;     // index of the oldest element
    std::uint32_t inputCounter_ = 0;  // every element offered; one in (decimationMask + 1) is stored
    std::atomic<float> sampleRate_{0.0f};
    std::uint32_t wrapMask_ = 0;
    std::uint32_t decimationMask_ = 0;
    std::uint32_t decimationShift_ = 0;  // log2 of the resolution
    float decimationScale_ = 1.0f;
    UncheckedMutex fifoLock_;
    float pendingTime_ = 0.0f;      // seconds of display time owed since the last successful read
    float pendingFraction_ = 0.0f;  // fraction of an element owed, carried from read to read
};

}  // namespace korvo
