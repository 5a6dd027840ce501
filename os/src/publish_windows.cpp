// Publishing a file through a temporary one that writers sharing the
// temporary path take turns on: the temporary is held open without write
// sharing from truncation to rename, so another writer's open fails with a
// sharing violation until the name is free again.

#include <windows.h>

#include <chrono>
#include <string>

#include "file_windows.hpp"
#include "os/fs.hpp"
#include "os/time.hpp"
#include "os/windows/unique_handle.hpp"
#include "publish_limits.hpp"
#include "os/windows/wide_text.hpp"

namespace os {
namespace {

using Clock = std::chrono::steady_clock;

using detail::PUBLISH_MAX_ATTEMPTS;
using detail::PUBLISH_RETRY_PAUSE;
using detail::PUBLISH_WAIT;

// Others may read the file and rename or delete it, but not write it.
constexpr DWORD SHARE_READ_DELETE = FILE_SHARE_READ | FILE_SHARE_DELETE;

std::unexpected<SysError> fail() { return std::unexpected(last_error()); }

void wait_a_moment() { sleep_until(Clock::now() + PUBLISH_RETRY_PAUSE); }

// Opens the file at the temporary path (created if missing) for this writer
// alone. A reparse point there (a link) is opened as itself and deleted, never
// written through.
Result<UniqueHandle> open_temporary(const std::wstring& temporary, Clock::time_point deadline) {
    for (int attempt = 0;;) {
        UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, SHARE_READ_DELETE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) {
            const SysError error = last_error();
            if (error.code == ERROR_SHARING_VIOLATION && Clock::now() < deadline) {
                wait_a_moment();  // another writer holds it until its rename
                continue;
            }
            return std::unexpected(error);
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(file.get(), &info)) {
            return fail();
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && GetFileType(file.get()) == FILE_TYPE_DISK) {
            return file;
        }
        if (++attempt == PUBLISH_MAX_ATTEMPTS) {
            return std::unexpected(SysError{ERROR_CANT_ACCESS_FILE});
        }
        FILE_DISPOSITION_INFO remove{TRUE};
        if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof remove)) {
            return fail();
        }
        // Closing the handle removes the link.
    }
}

Result<void> truncate(HANDLE file) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        return fail();
    }
    return {};
}

}  // namespace

Result<void> publish_file(std::string_view temporary_path, std::string_view path, std::string_view bytes) {
    const std::wstring temporary = to_wide(temporary_path);
    const std::wstring target = to_wide(path);
    const auto deadline = Clock::now() + PUBLISH_WAIT;

    auto file = open_temporary(temporary, deadline);
    if (!file) {
        return std::unexpected(file.error());
    }
    if (auto emptied = truncate(file->get()); !emptied) {
        return emptied;
    }
    if (auto written = write_all(file->get(), bytes); !written) {
        return written;
    }
    // Renamed while still held, so the next writer finds the name free.
    for (;;) {
        if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            return {};
        }
        const SysError refused = last_error();
        if (refused.code != ERROR_ACCESS_DENIED) {
            return std::unexpected(refused);
        }
        if (rename_open_file(file->get(), target)) {
            return {};
        }
        if (Clock::now() >= deadline) {
            return std::unexpected(refused);
        }
        wait_a_moment();  // a reader has the target open; it closes it soon
    }
}

}  // namespace os
