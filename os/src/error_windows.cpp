// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>

#include <string>

#include "errno_kind.hpp"
#include "os/error.hpp"
#include "os/text.hpp"
#include "os/windows/wide_text.hpp"

namespace os {
namespace {

// An NT status code carried in an HRESULT has this bit set; its text is in
// ntdll.dll's message table, under the code without the bit.
constexpr DWORD NT_STATUS_FACILITY_BIT = 0x10000000;

}  // namespace

std::string system_message(int code) {
    DWORD message_id = static_cast<DWORD>(code);
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE ntdll = nullptr;
    if ((message_id & NT_STATUS_FACILITY_BIT) != 0) {
        ntdll = LoadLibraryExA("ntdll.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (ntdll == nullptr) {
            return {};
        }
        message_id &= ~NT_STATUS_FACILITY_BIT;
        flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(flags, ntdll, message_id, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    // Wine, for one, has no text for many Winsock and COM codes.
    std::string message = length != 0 && buffer != nullptr ? to_utf8(std::wstring_view(buffer, length)) : "";
    LocalFree(buffer);
    if (ntdll != nullptr) {
        FreeLibrary(ntdll);
    }
    return std::string(trim_trailing_blanks(message));
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
