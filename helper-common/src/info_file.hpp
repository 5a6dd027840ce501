#pragma once
// The info file tells the controlling application how to reach the program:
// {"port":…,"token":"…","pid":…} on one line, replaced atomically.

#include <cstdint>
#include <string>
#include <string_view>

#include "os/error.hpp"

namespace common {

// The info-file path with its extension replaced by "json.tmp".
[[nodiscard]] std::string temporary_path_for(std::string_view info_path);

[[nodiscard]] std::string format_info_json(std::uint16_t port, std::string_view token, std::uint32_t pid);

// Writes the text to the temporary path beside the info file and renames it
// over the info file, so a reader sees the old or the new file whole. Instances
// sharing the info path take turns; a link planted at the temporary path is
// removed, never written through.
[[nodiscard]] os::Result<void> write_info_file(std::string_view path, std::string_view text);

// Whether the file reads as UTF-8 text that contains the token. Only a small
// regular file is read, without waiting: anything else is not ours.
[[nodiscard]] bool is_own_info_file(std::string_view path, std::string_view token);

}  // namespace common
