#pragma once
// Files, folders and environment. Paths are UTF-8 text; on Windows they are
// converted to UTF-16 at the system call.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "os/error.hpp"

namespace os {

// The separator that join_path inserts: '\' on Windows, '/' elsewhere.
extern const char PATH_SEPARATOR;

// True for every character the platform accepts as a separator
// ('\' and '/' on Windows, '/' elsewhere).
[[nodiscard]] bool is_path_separator(char c);

// base + separator + name; no separator is inserted when base is empty or
// already ends with '\' or '/'.
[[nodiscard]] std::string join_path(std::string_view base, std::string_view name);

// The folder part of a path ("" when the path has none).
[[nodiscard]] std::string parent_path(std::string_view path);

// The last component of a path.
[[nodiscard]] std::string file_name(std::string_view path);

// The value of an environment variable; nullopt when it is not defined
// (a defined empty variable gives an empty text).
[[nodiscard]] std::optional<std::string> get_env(std::string_view name);

// Whether a folder exists at path (links followed). Errors count as "no".
[[nodiscard]] bool is_directory(std::string_view path);
// Whether anything exists at path. Errors count as "no".
[[nodiscard]] bool path_exists(std::string_view path);

// Creates the folder and every missing folder above it; existing ones are fine.
[[nodiscard]] Result<void> create_directories(std::string_view path);

[[nodiscard]] Result<std::uint64_t> file_size(std::string_view path);
[[nodiscard]] Result<void> remove_file(std::string_view path);
[[nodiscard]] Result<std::string> read_file(std::string_view path);

// Opens for appending only (created if missing; other processes may read,
// write and delete it meanwhile), writes the bytes at the end, closes.
[[nodiscard]] Result<void> append_to_file(std::string_view path, std::string_view bytes);

// Creates or truncates the file (other processes may read, write and delete it
// meanwhile; POSIX mode 0600), writes all bytes, closes.
[[nodiscard]] Result<void> write_private_file(std::string_view path, std::string_view bytes);

// Renames from over to, replacing an existing file atomically.
[[nodiscard]] Result<void> replace_file(std::string_view from, std::string_view to);

// Writes bytes to the file at `temporary` and renames it over `path`, so a
// reader of `path` sees its old or its new content whole. The temporary is
// opened without following links (a link or other non-file found there is
// removed, never written through; POSIX mode 0600) and held exclusively from
// truncation to rename, so writers sharing one temporary path take turns
// instead of truncating each other's file. Waits at most a few seconds for
// another writer or for a reader that blocks the rename.
[[nodiscard]] Result<void> publish_file(std::string_view temporary, std::string_view path, std::string_view bytes);

// Reads a regular file of at most max_bytes without ever blocking; a folder,
// a FIFO, a device or a larger file is an error.
[[nodiscard]] Result<std::string> read_small_file(std::string_view path, std::size_t max_bytes);

}  // namespace os
