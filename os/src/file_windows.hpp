#pragma once
// File helpers shared by the Windows file code.

#include <windows.h>

#include <string>
#include <string_view>

#include "os/error.hpp"

namespace os {

// Writes every byte; a write that makes no progress is an error.
[[nodiscard]] Result<void> write_all(HANDLE file, std::string_view bytes);

// Renames the open file (opened with DELETE access) to `to`, replacing an
// existing file with POSIX semantics: this also replaces a target that another
// process holds open with delete sharing, which MoveFileExW refuses.
[[nodiscard]] Result<void> rename_open_file(HANDLE file, const std::wstring& to);

}  // namespace os
