#pragma once
// Where the program's files live: "Brenquosta" in the user's application-data
// folder, or the older "discord-quorvel" folder until the new one is marked
// as migrated.

#include <string>
#include <string_view>

namespace common {

inline constexpr std::string_view DATA_FOLDER_NAME = "Brenquosta";
inline constexpr std::string_view OLD_DATA_FOLDER_NAME = "discord-quorvel";
inline constexpr std::string_view MIGRATED_MARKER_NAME = ".migrated";
inline constexpr std::string_view LOG_FILE_NAME = "audio.log";
inline constexpr std::string_view INFO_FILE_NAME = "audio.json";

// Decided anew on each call; never creates anything; cannot fail.
[[nodiscard]] std::string resolve_data_folder();

}  // namespace common
