#pragma once
// A failed COM or Win32 call as a value, and its text.

#include <string>

#include "capture/windows/audio_declarations.hpp"
#include "capture/windows/com_ptr.hpp"

namespace audio::capture::windows {

struct ComError {
    HRESULT code = S_OK;
    ComPtr<IErrorInfo> info;  // none for Win32 failures

    // A failed COM call: also takes the thread's pending error information,
    // which must happen right after the call (it clears it, too).
    [[nodiscard]] static ComError from_call(HRESULT code);
    // A Win32 error number, converted to an HRESULT.
    [[nodiscard]] static ComError from_win32(DWORD error);
    [[nodiscard]] static ComError from_last_error() { return from_win32(GetLastError()); }
};

// The thread's pending error information, or none.
[[nodiscard]] ComPtr<IErrorInfo> take_error_info();

// "{message} (0x{8 upper-case hex digits})", or the code text alone when no
// message is found. The message comes from the error information when there
// is any, else from the system's message table.
[[nodiscard]] std::string render_com_error(const ComError& error);

}  // namespace audio::capture::windows
