// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>
#include <system_error>

#include "errno_kind.hpp"
#include "os/error.hpp"
#include "utf16_windows.hpp"

namespace os {
namespace {

struct LocalFreeDeleter {
    void operator()(wchar_t* p) const { LocalFree(p); }
};

bool is_trailing_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

std::string system_message(int code) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        // Wine, for one, has no text for many Winsock and COM codes.
        return {};
    }
    std::unique_ptr<wchar_t, LocalFreeDeleter> owner(buffer);
    std::wstring_view text(buffer, length);
    while (!text.empty() && is_trailing_blank(text.back())) {
        text.remove_suffix(1);
    }
    return detail::to_utf8(text);
}

std::string SysError::text() const {
    if (fixed_text != nullptr) {
        return fixed_text;
    }
    std::string number = "os error " + std::to_string(code);
    // FormatMessageW knows only the system's numbers; errno 11 would read as
    // "incorrect format" there.
    std::string message =
        domain == ErrorDomain::CRuntime ? std::generic_category().message(code) : system_message(code);
    if (message.empty()) {
        return number;
    }
    return message + " (" + number + ")";
}

ErrorKind SysError::kind() const {
    if (domain == ErrorDomain::CRuntime) {
        return detail::errno_kind(code);
    }
    switch (code) {
        case WSAETIMEDOUT:
            return ErrorKind::TimedOut;
        case WSAEWOULDBLOCK:
            return ErrorKind::WouldBlock;
        case WSAEINTR:
            return ErrorKind::Interrupted;
        default:
            return ErrorKind::Other;
    }
}

SysError last_error() { return SysError{static_cast<int>(GetLastError())}; }

SysError last_socket_error() { return SysError{WSAGetLastError()}; }

SysError timeout_error() { return SysError{WSAETIMEDOUT}; }

SysError send_timeout_error() { return SysError{WSAETIMEDOUT}; }

SysError would_block_error() { return SysError{WSAEWOULDBLOCK}; }

}  // namespace os
