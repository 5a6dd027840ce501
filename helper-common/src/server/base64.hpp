#pragma once
// Standard Base64 (RFC 4648 section 4): padded output, strict input.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace server {

[[nodiscard]] std::string base64_encode(std::span<const std::uint8_t> data);

// Decodes canonical padded Base64; nothing else is accepted: no blanks, no
// missing padding, no other alphabet, no non-zero bits in the padding
// (RFC 4648 section 3.5 lets a decoder refuse those).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text);

}  // namespace server
