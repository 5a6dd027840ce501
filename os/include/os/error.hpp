#pragma once
// Errors reported by the operating system, as values.

#include <cstdint>
#include <expected>
#include <string>

namespace os {

enum class ErrorKind {
    TimedOut,     // a send made no progress in time (both); a receive time-out (Windows: WSAETIMEDOUT)
    WouldBlock,   // no data within the time-out (POSIX: EAGAIN), or a read gave up early
    Other,
};

// Where an error number comes from. On Windows the C runtime's errno values
// (what std::thread reports) overlap GetLastError's numbers with other
// meanings; elsewhere both are errno.
enum class ErrorDomain {
    System,    // errno on POSIX; GetLastError or WSAGetLastError on Windows
    CRuntime,  // the C runtime's errno
};

// A failed system call: the platform's error number (errno, GetLastError or
// WSAGetLastError), or a fixed text for failures that have no number.
struct SysError {
    int code = 0;
    const char* fixed_text = nullptr;
    ErrorDomain domain = ErrorDomain::System;

    // "{system message} (os error {code})", or the fixed text.
    [[nodiscard]] std::string text() const;
    [[nodiscard]] ErrorKind kind() const;
    [[nodiscard]] bool is_timeout() const {
        auto k = kind();
        return k == ErrorKind::TimedOut || k == ErrorKind::WouldBlock;
    }
};

template <class T>
using Result = std::expected<T, SysError>;

// An errno value of the C runtime, rendered with the C runtime's own text.
[[nodiscard]] inline SysError c_runtime_error(int errno_value) {
    return SysError{errno_value, nullptr, ErrorDomain::CRuntime};
}

// The calling thread's last error (errno or GetLastError).
[[nodiscard]] SysError last_error();
// The calling thread's last socket error (errno or WSAGetLastError).
[[nodiscard]] SysError last_socket_error();
// The error a receive reports when its time-out expires on this platform.
[[nodiscard]] SysError timeout_error();
// The error a send reports when it made no progress within its time-out or
// its deadline: a time-out on every platform (ETIMEDOUT, WSAETIMEDOUT), never
// "would block", so that callers treat a stalled peer alike everywhere.
[[nodiscard]] SysError send_timeout_error();
// "Would block" (EAGAIN, WSAEWOULDBLOCK): for an operation that stopped before
// it had to wait, leaving the rest for later.
[[nodiscard]] SysError would_block_error();

// The system's own message for an error number (on Windows also an HRESULT),
// without trailing blanks or line breaks; empty when the system has none.
[[nodiscard]] std::string system_message(int code);

}  // namespace os
