#include <windows.h>
#include <avrt.h>

#include "os/thread.hpp"
#include "os/windows/wide_text.hpp"

// Windows 10 1607; kernel32 exports it but MinGW's headers do not declare it.
extern "C" WINBASEAPI HRESULT WINAPI SetThreadDescription(HANDLE thread, PCWSTR description);

namespace os {

void set_current_thread_name(const char* name) {
    // The name is only a debugging aid, so a refusal is not worth reporting
    // (and Wine answers with a success code other than S_OK).
    std::wstring wide = to_wide(name != nullptr ? name : "");
    (void)SetThreadDescription(GetCurrentThread(), wide.c_str());
}

AudioThreadPriority::AudioThreadPriority() {
    // The scheduler raises the thread's priority for audio work while it
    // runs, and lowers it again when the thread uses more than its share.
    DWORD task_index = 0;
    HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task_index);
    if (task != nullptr) {
        raised_ = true;
        restore_ = reinterpret_cast<std::intptr_t>(task);
    }
}

AudioThreadPriority::~AudioThreadPriority() {
    if (raised_) {
        (void)AvRevertMmThreadCharacteristics(reinterpret_cast<HANDLE>(restore_));
    }
}

}  // namespace os
