#include <cerrno>
#include <cstring>

#include "errno_kind.hpp"
#include "os/error.hpp"

namespace os {

std::string system_message(int code) {
    char buffer[256] = {};
    // The GNU strerror_r returns the text, which may or may not be the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

ErrorKind SysError::kind() const {
    if (fixed_text != nullptr) {
        return ErrorKind::Other;
    }
    return detail::errno_kind(code);
}

SysError last_error() { return SysError{errno}; }
SysError last_socket_error() { return SysError{errno}; }
SysError timeout_error() { return SysError{EAGAIN}; }
SysError send_timeout_error() { return SysError{ETIMEDOUT}; }
SysError would_block_error() { return SysError{EAGAIN}; }

}  // namespace os
