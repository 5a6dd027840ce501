#include "token.hpp"

#include <algorithm>

namespace common {
namespace {

bool is_token_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

}  // namespace

std::expected<void, std::string> validate_token(std::string_view token) {
    if (token.size() < 16 || token.size() > 128 || !std::ranges::all_of(token, is_token_char)) {
        return std::unexpected(std::string(INVALID_TOKEN_TEXT));
    }
    return {};
}

}  // namespace common
