#pragma once
// The info file tells the controlling application how to reach the program:
// {"port":…,"token":"…","pid":…} on one line, replaced atomically.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "os/error.hpp"

namespace common {

// The info-file path with its extension replaced by "json.tmp".
[[nodiscard]] std::string temporary_path_for(std::string_view info_path);

[[nodiscard]] std::string format_info_json(std::uint16_t port, std::string_view token, std::uint32_t pid);

// What an info text tells a client.
struct InfoFields {
    std::uint16_t port = 0;
    std::string token;
    std::uint32_t pid = 0;
};

// The first piece of an info text that is not as format_info_json writes it.
enum class InfoTextError {
    Layout,  // a fixed piece is missing or out of place, or something follows the end
    Port,    // not a decimal number without leading zeros up to 65535
    Token,   // not a token (see validate_token)
    Pid,     // not a decimal number without leading zeros up to 4294967295
};

// Reads back exactly what format_info_json writes, for the program's clients.
[[nodiscard]] std::expected<InfoFields, InfoTextError> parse_info_json(std::string_view text);

// Writes the text to the temporary path beside the info file and renames it
// over the info file, so a reader sees the old or the new file whole. Instances
// sharing the info path take turns; a link planted at the temporary path is
// removed, never written through.
[[nodiscard]] os::Result<void> write_info_file(std::string_view path, std::string_view text);

// Whether the file reads as UTF-8 text that contains the token. Only a small
// regular file is read, without waiting: anything else is not ours.
[[nodiscard]] bool is_own_info_file(std::string_view path, std::string_view token);

}  // namespace common
