#pragma once
// The one reference count of every VST3 object the adapter makes (the plug-in object, the
// factory, the editor view and the run-loop bridge).
//
// RefCounted<Derived> holds an atomic count that starts at 1. addRefCount and releaseRefCount
// return the new count; the release that reaches 0 destroys the object with heapDelete (the
// object was made with heapNew). Copying and moving are deleted: an object's identity is its
// address, which hosts hold.
//
// ComObject<Derived, Interfaces...> is the usual shape on top of it: an object that is one or more
// interfaces (and their bases), whose addRef and release, for every face, are the count's. answerInterface is
// the one way queryInterface hands out a face: a reference added on success, the out pointer nulled
// otherwise.
//
// Threads: addRef and release may come from any thread at once. [any-thread]

#include <atomic>
#include <cstdint>

#include "korvo/core/nogc.h"
#include "korvo/vst3/abi.h"

namespace korvo::vst3 {

template <class Derived>
class RefCounted {
public:
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    // [any-thread]
    uint32 addRefCount() noexcept {
        return static_cast<uint32>(count_.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    // Destroys the object when the count reaches 0; it must not be touched afterwards. [any-thread]
    uint32 releaseRefCount() noexcept {
        const std::int32_t count = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) heapDelete(static_cast<Derived*>(this));
        return static_cast<uint32>(count);
    }
    std::int32_t refCount() const noexcept { return count_.load(std::memory_order_relaxed); }

protected:
    RefCounted() noexcept = default;
    ~RefCounted() = default;

private:
    std::atomic<std::int32_t> count_{1};
};

// Hands out `face` for a matching query: a reference on `owner` added and *obj set, kResultOk;
// otherwise *obj nulled and kNoInterface. A null obj is kInvalidArgument.
template <class Owner>
tresult answerInterface(Owner& owner, bool matches, void* face, void** obj) noexcept {
    if (obj == nullptr) return kInvalidArgument;
    if (!matches) {
        *obj = nullptr;
        return kNoInterface;
    }
    owner.addRefCount();
    *obj = face;
    return kResultOk;
}

template <class Derived, class... Interfaces>
class ComObject : public Interfaces..., public RefCounted<Derived> {
public:
    uint32 KORVO_VST3_API addRef() override { return this->addRefCount(); }
    uint32 KORVO_VST3_API release() override { return this->releaseRefCount(); }

protected:
    ComObject() noexcept = default;
    ~ComObject() = default;
};

}  // namespace korvo::vst3
