#pragma once
// The program's log: one UTF-8 line per record, "{unix seconds} [audio:{pid}] {message}",
// appended to a file that is opened and closed for every record.

#include <cstdint>
#include <string>
#include <string_view>

namespace audio {

inline constexpr std::uint64_t LOG_SIZE_LIMIT = 262'144;
inline constexpr const char* LOG_PATH_VARIABLE = "QUORVEL_AUDIO_LOG";

// Chooses the log path, deletes a file above the size limit, and installs the
// panic report (panic hook, terminate handler, crash handler). Run once,
// first thing, before any other thread exists.
void init_log();

// Appends one record; drops it silently when the file cannot be written.
void log_line(std::string_view message);

// The record exactly as written to the file, line feed included.
[[nodiscard]] std::string format_log_record(std::uint64_t unix_seconds, std::uint32_t pid,
                                            std::string_view message);

}  // namespace audio
