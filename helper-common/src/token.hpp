#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace common {

inline constexpr std::string_view INVALID_TOKEN_TEXT = "token inválido (16 a 128 caracteres [A-Za-z0-9_-])";

// The token rule: 16 to 128 characters, each an ASCII letter, digit, '_' or '-'.
// The token is never trimmed or changed.
[[nodiscard]] std::expected<void, std::string> validate_token(std::string_view token);

}  // namespace common
