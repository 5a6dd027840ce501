#pragma once
// Ownership of Windows kernel handles, for the Windows-only code of the OS
// layer and of the capture. Some calls report failure with a null handle and
// others with INVALID_HANDLE_VALUE, so both count as "no handle".

#include <windows.h>

#include <utility>

namespace os {

[[nodiscard]] inline bool is_valid_handle(HANDLE h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : handle_(is_valid_handle(h) ? h : nullptr) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.handle_, nullptr));
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    [[nodiscard]] HANDLE get() const { return handle_; }
    [[nodiscard]] bool valid() const { return handle_ != nullptr; }
    explicit operator bool() const { return valid(); }

    // Gives up ownership without closing.
    [[nodiscard]] HANDLE release() { return std::exchange(handle_, nullptr); }

    void reset(HANDLE h = nullptr) {
        HANDLE old = std::exchange(handle_, is_valid_handle(h) ? h : nullptr);
        if (old != nullptr) {
            CloseHandle(old);
        }
    }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace os
