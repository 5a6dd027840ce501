#pragma once
// Ownership of Windows kernel handles, for the Windows-only code of the OS
// layer and of the capture. Some calls report failure with a null handle and
// others with INVALID_HANDLE_VALUE, so both count as "no handle".

#include <windows.h>

#include "os/owned_handle.hpp"

namespace os {

[[nodiscard]] inline bool is_valid_handle(HANDLE h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

struct HandleTraits {
    using Value = HANDLE;
    static constexpr HANDLE EMPTY = nullptr;
    static bool is_valid(HANDLE h) noexcept { return is_valid_handle(h); }
    static void close(HANDLE h) noexcept { CloseHandle(h); }
};
using UniqueHandle = OwnedHandle<HandleTraits>;

}  // namespace os
