#pragma once
// One owned reference to a COM interface, released when the owner goes.

#include <windows.h>
#include <unknwn.h>

#include <utility>

#include "panic.hpp"

namespace audio::capture::windows {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Adopts a reference the caller already holds.
    explicit ComPtr(T* owned) noexcept : pointer_(owned) {}
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    [[nodiscard]] T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    void reset() noexcept {
        if (T* old = std::exchange(pointer_, nullptr)) {
            old->Release();
        }
    }

    // Gives the reference away without releasing it.
    [[nodiscard]] T* detach() noexcept { return std::exchange(pointer_, nullptr); }

    // The out-parameter of a call that hands over a reference. Refused while
    // a reference is held: overwriting it would leak it.
    [[nodiscard]] T** put() {
        if (pointer_ != nullptr) {
            common::panic("ComPtr::put on a pointer that holds a reference");
        }
        return &pointer_;
    }
    [[nodiscard]] void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* pointer_ = nullptr;
};

}  // namespace audio::capture::windows
