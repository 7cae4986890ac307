#include "korvo/dsp/delayline.h"

#include <cstring>

#include "korvo/core/nogc.h"

namespace korvo {

namespace {
constexpr std::size_t kRingAlignment = 16;
// Largest capacity whose mask fits an int32 and whose doubled capacity still converts exactly.
constexpr std::int32_t kMaxCapacity = 1 << 30;
}  // namespace

Delayline::~Delayline() {
    release();
}

void Delayline::release() noexcept {
    alignedRelease(data, kRingAlignment);
    data = nullptr;
    mask = -1;
    index = 0;
}

void Delayline::resize(std::int32_t length) noexcept {
    if (length < 0) fatalError("Delayline::resize: negative length");
    numSamples = length;
    // Smallest power of two strictly greater than length: set every bit below the highest, add one.
    std::uint32_t bits = static_cast<std::uint32_t>(length);
    bits |= bits >> 1;
    bits |= bits >> 2;
    bits |= bits >> 4;
    bits |= bits >> 8;
    bits |= bits >> 16;
    const std::uint64_t capacity64 = static_cast<std::uint64_t>(bits) + 1;
    if (capacity64 > static_cast<std::uint64_t>(kMaxCapacity)) {
        release();  // cannot be addressed: stay empty, owners fall back
        return;
    }
    const std::int32_t newCapacity = static_cast<std::int32_t>(capacity64);
    if (data != nullptr && newCapacity == mask + 1) {
        clear();  // same ring: nothing to allocate
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(newCapacity) * sizeof(float);
    data = static_cast<float*>(alignedResize(data, bytes, kRingAlignment));
    mask = newCapacity - 1;
    clear();
}

void Delayline::clear() noexcept {
    if (data == nullptr) return;
    std::memset(data, 0, static_cast<std::size_t>(mask + 1) * sizeof(float));
    index = mask;  // the first sample written lands in element 0
}

void Delayline::feedBlock(const float* samples, std::int32_t n) noexcept {
    if (data == nullptr || n <= 0) return;
    const std::int32_t cap = mask + 1;
    if (n > cap) {
        // Only the newest cap samples can be held; skip the older ones but keep the ring position
        // where a full feed would have left it.
        const std::int32_t skipped = n - cap;
        samples += skipped;
        index = static_cast<std::int32_t>((static_cast<std::int64_t>(index) + skipped) & mask);
        n = cap;
    }
    const std::int32_t untilEnd = mask - index;
    if (untilEnd < n) {
        std::memcpy(data + index + 1, samples, static_cast<std::size_t>(untilEnd) * sizeof(float));
        std::memcpy(data, samples + untilEnd, static_cast<std::size_t>(n - untilEnd) * sizeof(float));
        index = (index + n) & mask;
    } else {
        std::memcpy(data + index + 1, samples, static_cast<std::size_t>(n) * sizeof(float));
        index = index + n;
    }
}

}  // namespace korvo
