#pragma once
// Vec: the growable array of plain values used instead of std::vector wherever the audio or
// drawing path must not allocate once sizes are stable.
//
// Growth: when an append or resize needs n elements and the capacity is below n, the block is
// reallocated to 2 x n elements, so appends to an empty Vec reallocate at the 1st, 3rd, 7th and
// 15th append (capacities 2, 6, 14, 30). Clearing keeps the block. Elements are plain values: no
// per-element destructor runs.
//
// Thread contract: not synchronised; a Vec shared across threads is guarded by its user.

#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

#include "korvo/core/nogc.h"

namespace korvo {

template <class T>
class Vec {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "Vec holds plain values");

public:
    explicit Vec(std::size_t alignment = 1) noexcept : alignment_(alignment < 1 ? 1 : alignment) {}
    ~Vec() { alignedRelease(data_, alignment_); }

    Vec(const Vec&) = delete;
    Vec& operator=(const Vec&) = delete;
    Vec(Vec&& other) noexcept
        : length_(std::exchange(other.length_, 0)),
          data_(std::exchange(other.data_, nullptr)),
          capacity_(std::exchange(other.capacity_, 0)),
          alignment_(other.alignment_) {}
    Vec& operator=(Vec&& other) noexcept {
        if (this != &other) {
            alignedRelease(data_, alignment_);
            length_ = std::exchange(other.length_, 0);
            data_ = std::exchange(other.data_, nullptr);
            capacity_ = std::exchange(other.capacity_, 0);
            alignment_ = other.alignment_;
        }
        return *this;
    }

    // Appends one element, growing first when the capacity is below length + 1.
    void push(const T& element) {
        reserveFor(length_ + 1);
        data_[length_++] = element;
    }

    // Sets the length to n, growing the same way when the capacity is below n. New elements are
    // zero-filled; the block never shrinks.
    void resize(std::size_t n) {
        reserveFor(n);
        if (n > length_) std::memset(static_cast<void*>(data_ + length_), 0, (n - length_) * sizeof(T));
        length_ = n;
    }

    void clear() noexcept { length_ = 0; }

    // Moves the last element into slot i and shrinks by one (order not kept).
    void swapRemove(std::size_t i) noexcept {
        data_[i] = data_[length_ - 1];
        --length_;
    }

    // Frees the block: length and capacity become 0.
    void release() noexcept {
        alignedRelease(data_, alignment_);
        data_ = nullptr;
        length_ = capacity_ = 0;
    }

    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    std::size_t length() const noexcept { return length_; }
    std::size_t size() const noexcept { return length_; }
    bool empty() const noexcept { return length_ == 0; }
    std::size_t capacity() const noexcept { return capacity_; }
    std::size_t alignment() const noexcept { return alignment_; }
    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + length_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + length_; }
    std::span<T> view() noexcept { return {data_, length_}; }
    std::span<const T> view() const noexcept { return {data_, length_}; }

private:
    void reserveFor(std::size_t n) {
        if (capacity_ >= n) return;
        const std::size_t newCapacity = 2 * n;
        if (newCapacity > SIZE_MAX / sizeof(T)) fatalError("Vec size overflow");
        data_ = static_cast<T*>(alignedResize(data_, newCapacity * sizeof(T), alignment_));
        capacity_ = newCapacity;
    }

    std::size_t length_ = 0;
    T* data_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t alignment_ = 1;
};

}  // namespace korvo
