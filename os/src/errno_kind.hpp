#pragma once
// What an errno value means to callers; shared by POSIX errors and the C
// runtime's errors on Windows.

#include <cerrno>

#include "os/error.hpp"

namespace os::detail {

[[nodiscard]] inline ErrorKind errno_kind(int code) {
    switch (code) {
        case EAGAIN:
            return ErrorKind::WouldBlock;
        case ETIMEDOUT:
            return ErrorKind::TimedOut;
        default:
            return ErrorKind::Other;
    }
}

}  // namespace os::detail
