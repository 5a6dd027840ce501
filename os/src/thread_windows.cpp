#include <windows.h>

#include "os/thread.hpp"
#include "utf16_windows.hpp"

// Windows 10 1607; kernel32 exports it but MinGW's headers do not declare it.
extern "C" WINBASEAPI HRESULT WINAPI SetThreadDescription(HANDLE thread, PCWSTR description);

namespace os {

void set_current_thread_name(const char* name) {
    // The name is only a debugging aid, so a refusal is not worth reporting
    // (and Wine answers with a success code other than S_OK).
    std::wstring wide = detail::to_wide(name != nullptr ? name : "");
    (void)SetThreadDescription(GetCurrentThread(), wide.c_str());
}

}  // namespace os
