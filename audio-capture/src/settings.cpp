#include "settings.hpp"

#include <limits>

#include "texts.hpp"
#include "token.hpp"

namespace audio {
namespace {

struct PidOption {
    bool seen = false;
    std::uint32_t pid = 0;
};

std::string error_text(std::string_view a, std::string_view b = {}) {
    std::string text(a);
    text += b;
    return text;
}

}  // namespace

std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t max) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::expected<Settings, std::string> parse_command_line(std::span<const std::string> args) {
    Settings settings;
    std::optional<std::string> token;
    PidOption exclude;
    PidOption include;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--fake-source") {
            settings.fake_source = true;
            continue;
        }
        if (option != "--token" && option != "--info-file" && option != "--idle-secs" &&
            option != "--exclude-pid" && option != "--include-pid") {
            return std::unexpected(error_text(texts::UNKNOWN_ARGUMENT, option));
        }
        if (i + 1 == args.size()) {
            return std::unexpected(error_text(option, texts::NEEDS_VALUE));
        }
        const std::string& value = args[++i];
        if (option == "--token") {
            token = value;
        } else if (option == "--info-file") {
            settings.info_file = value;
        } else if (option == "--idle-secs") {
            auto secs = parse_unsigned(value, std::numeric_limits<std::uint64_t>::max());
            if (!secs) {
                return std::unexpected(error_text(texts::BAD_IDLE_SECS));
            }
            settings.idle_secs = *secs;
        } else {
            auto pid = parse_unsigned(value, std::numeric_limits<std::uint32_t>::max());
            if (!pid) {
                return std::unexpected(error_text(texts::BAD_PID));
            }
            PidOption& target = option == "--exclude-pid" ? exclude : include;
            target.seen = true;
            target.pid = static_cast<std::uint32_t>(*pid);
        }
    }

    if (!exclude.seen && !include.seen) {
        return std::unexpected(error_text(texts::NO_PID_OPTION));
    }
    if (exclude.seen && include.seen) {
        return std::unexpected(error_text(texts::BOTH_PID_OPTIONS));
    }
    if (!token) {
        return std::unexpected(error_text(texts::NO_TOKEN));
    }
    if (auto valid = common::validate_token(*token); !valid) {
        return std::unexpected(valid.error());
    }
    settings.token = std::move(*token);
    settings.mode = exclude.seen ? CaptureMode::Exclude : CaptureMode::Include;
    settings.target_pid = exclude.seen ? exclude.pid : include.pid;
    return settings;
}

}  // namespace audio
