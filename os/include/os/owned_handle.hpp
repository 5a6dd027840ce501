#pragma once
// One owner for a platform resource (a descriptor, a HANDLE, a socket, a
// child process): moving hands it on, destruction or reset() releases it.
// A traits type says what it holds and how to let it go:
//   using Value = ...;                        // the platform's own number or pointer
//   static constexpr Value EMPTY = ...;       // what an owner without a resource holds
//   static bool is_valid(Value) noexcept;     // false for every "no resource" value
//   static void close(Value) noexcept;        // releases a valid one
// Values that are not valid are stored as EMPTY, so that a failed creation
// call can be wrapped as it returns.

#include <cstdint>
#include <utility>

namespace os {

template <class Traits>
class OwnedHandle {
public:
    using Value = typename Traits::Value;

    OwnedHandle() = default;
    explicit OwnedHandle(Value value) noexcept : value_(normalized(value)) {}
    OwnedHandle(OwnedHandle&& other) noexcept : value_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }

    [[nodiscard]] Value get() const noexcept { return value_; }
    // Whether it holds a resource.
    explicit operator bool() const noexcept { return value_ != Traits::EMPTY; }

    // Gives up ownership without releasing.
    [[nodiscard]] Value release() noexcept { return std::exchange(value_, Traits::EMPTY); }

    // Releases the resource held, if any, and takes `value` instead.
    void reset(Value value = Traits::EMPTY) noexcept {
        const Value old = std::exchange(value_, normalized(value));
        if (old != Traits::EMPTY) {
            Traits::close(old);
        }
    }

private:
    static Value normalized(Value value) noexcept { return Traits::is_valid(value) ? value : Traits::EMPTY; }

    Value value_ = Traits::EMPTY;
};

// A kernel object that portable headers carry as a number: a HANDLE on
// Windows, a file descriptor elsewhere. Callers check a creation call's own
// failure value before wrapping (Windows reports some with a null handle).
struct KernelHandleTraits {
    using Value = std::intptr_t;
    static constexpr Value EMPTY = -1;
    static bool is_valid(Value value) noexcept { return value != EMPTY; }
    static void close(Value value) noexcept;  // CloseHandle or close
};
using KernelHandle = OwnedHandle<KernelHandleTraits>;

}  // namespace os
