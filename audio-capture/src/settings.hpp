#pragma once
// The command line, validated into one record.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "capture_mode.hpp"

namespace audio {

inline constexpr std::uint64_t DEFAULT_IDLE_SECS = 30;

struct Settings {
    std::string token;
    std::optional<std::string> info_file;  // taken unchanged when given
    std::uint64_t idle_secs = DEFAULT_IDLE_SECS;
    CaptureMode mode = CaptureMode::Exclude;  // Exclude or Include only
    std::uint32_t target_pid = 0;
    bool fake_source = false;
};

// Parses the arguments (the program's own name already skipped). The error is
// the text that follows "argumentos: " in the log.
[[nodiscard]] std::expected<Settings, std::string> parse_command_line(std::span<const std::string> args);

// An unsigned decimal number: digits with an optional single leading '+';
// nullopt for anything else or a value above max.
[[nodiscard]] std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t max);

}  // namespace audio
