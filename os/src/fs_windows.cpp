#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "file_windows.hpp"
#include "os/windows/unique_handle.hpp"
#include "os/fs.hpp"
#include "os/windows/wide_text.hpp"

namespace os {
namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// WriteFile takes a DWORD count; larger buffers go in pieces of this size.
constexpr std::size_t MAX_CHUNK = 1u << 30;


std::unexpected<SysError> fail() { return std::unexpected(last_error()); }

bool is_wide_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Length of the part of a path that names a root and is never created:
// "C:", "C:\", "\", "\\server\share\" or "\\?\C:\".
std::size_t root_length(std::wstring_view p) {
    if (p.size() >= 2 && is_wide_separator(p[0]) && is_wide_separator(p[1])) {
        // UNC or device path ("\\server\share\", "\\?\C:\"): the two
        // components after the leading pair.
        std::size_t i = 2;
        for (int component = 0; component < 2 && i < p.size(); ++component) {
            while (i < p.size() && !is_wide_separator(p[i])) ++i;
            if (i < p.size()) ++i;
        }
        return i;
    }
    if (p.size() >= 2 && p[1] == L':') {
        return (p.size() >= 3 && is_wide_separator(p[2])) ? 3 : 2;
    }
    if (!p.empty() && is_wide_separator(p[0])) {
        return 1;
    }
    return 0;
}

bool wide_is_directory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    // A link: ask the object it leads to.
    UniqueHandle target(CreateFileW(path.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!target || !GetFileInformationByHandle(target.get(), &info)) {
        return false;
    }
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Reads to the end of the file, or until more than max_bytes have arrived.
Result<std::string> read_up_to(HANDLE file, std::size_t max_bytes) {
    std::string content;
    char buffer[16384];
    while (content.size() <= max_bytes) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            return fail();
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, got);
    }
    return content;
}

// Creates one folder; an existing folder is success.
Result<void> create_one_directory(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return {};
    }
    SysError error = last_error();
    if (wide_is_directory(path)) {
        return {};
    }
    return std::unexpected(error);
}

}  // namespace

Result<void> write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        auto chunk = static_cast<DWORD>(std::min(bytes.size(), MAX_CHUNK));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
            return fail();
        }
        if (written == 0) {
            // Success without progress would loop for ever.
            return std::unexpected(SysError{ERROR_WRITE_FAULT});
        }
        bytes.remove_prefix(written);
    }
    return {};
}

Result<void> rename_open_file(HANDLE source, const std::wstring& to) {
    // The name must be absolute (or relative to the working directory, which
    // GetFullPathNameW resolves the same way).
    std::wstring target(MAX_PATH, L'\0');
    for (;;) {
        DWORD needed = GetFullPathNameW(to.c_str(), static_cast<DWORD>(target.size()), target.data(), nullptr);
        if (needed == 0) {
            return fail();
        }
        if (needed < target.size()) {
            target.resize(needed);
            break;
        }
        target.resize(needed);
    }

    std::size_t name_bytes = target.size() * sizeof(wchar_t);
    std::size_t total = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t);
    auto storage = std::make_unique<std::byte[]>(total);  // zeroed, suitably aligned
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(storage.get());
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(target.begin(), target.end(), info->FileName);

    // FileRenameInfoEx (22); MinGW's headers hide the name behind a version test.
    const auto rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
    if (!SetFileInformationByHandle(source, rename_info_ex, info, static_cast<DWORD>(total))) {
        return fail();
    }
    return {};
}

std::optional<std::string> get_env(std::string_view name) {
    std::wstring wide_name = to_wide(name);
    std::wstring value(64, L'\0');
    for (;;) {
        // An empty value also returns 0, so only the error code tells it
        // apart from an undefined variable.
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::string();
        }
        if (length < value.size()) {
            value.resize(length);
            return to_utf8(value);
        }
        value.resize(length);  // too small: length is the size needed, NUL included
    }
}

bool is_directory(std::string_view path) { return wide_is_directory(to_wide(path)); }

bool path_exists(std::string_view path) {
    return GetFileAttributesW(to_wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result<void> create_directories(std::string_view path) {
    std::wstring wide = to_wide(path);
    while (wide.size() > root_length(wide) && is_wide_separator(wide.back())) {
        wide.pop_back();
    }
    std::size_t root = root_length(wide);
    if (wide.size() <= root) {
        return {};  // nothing to make: an empty path or a bare root
    }
    if (wide_is_directory(wide)) {
        return {};
    }
    // Every level from the top down; the existing ones answer "already exists".
    for (std::size_t i = root; i < wide.size(); ++i) {
        if (is_wide_separator(wide[i]) && i > root && !is_wide_separator(wide[i - 1])) {
            if (auto made = create_one_directory(wide.substr(0, i)); !made) {
                return made;
            }
        }
    }
    return create_one_directory(wide);
}

Result<std::uint64_t> file_size(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(to_wide(path).c_str(), GetFileExInfoStandard, &data)) {
        return fail();
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Result<void> remove_file(std::string_view path) {
    if (!DeleteFileW(to_wide(path).c_str())) {
        return fail();
    }
    return {};
}

Result<std::string> read_file(std::string_view path) {
    UniqueHandle file(CreateFileW(to_wide(path).c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return fail();
    }
    return read_up_to(file.get(), SIZE_MAX);
}

Result<std::string> read_small_file(std::string_view path, std::size_t max_bytes) {
    UniqueHandle file(CreateFileW(to_wide(path).c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return fail();
    }
    // Pipes and devices could make a read wait; only files on a disk are read.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        return std::unexpected(SysError{ERROR_INVALID_FUNCTION});
    }
    auto content = read_up_to(file.get(), max_bytes);
    if (content && content->size() > max_bytes) {
        return std::unexpected(SysError{ERROR_FILE_TOO_LARGE});
    }
    return content;
}

Result<void> append_to_file(std::string_view path, std::string_view bytes) {
    // Append-only access: every write lands at the current end, even when
    // other processes append to the same file.
    UniqueHandle file(CreateFileW(to_wide(path).c_str(), FILE_APPEND_DATA, SHARE_ALL, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return fail();
    }
    return write_all(file.get(), bytes);
}

Result<void> write_private_file(std::string_view path, std::string_view bytes) {
    UniqueHandle file(CreateFileW(to_wide(path).c_str(), GENERIC_WRITE, SHARE_ALL, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return fail();
    }
    return write_all(file.get(), bytes);
}

Result<void> replace_file(std::string_view from, std::string_view to) {
    std::wstring wide_from = to_wide(from);
    std::wstring wide_to = to_wide(to);
    if (MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return {};
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) {
        return fail();
    }
    UniqueHandle source(CreateFileW(wide_from.c_str(), DELETE | SYNCHRONIZE, SHARE_ALL, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) {
        return fail();
    }
    return rename_open_file(source.get(), wide_to);
}

}  // namespace os
