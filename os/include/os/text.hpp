#pragma once
// Text as the system hands it over: UTF-16 from the wide Windows API,
// messages with trailing line breaks, numbers shown in hexadecimal. Portable,
// so that the rules are tested on every build.

#include <cstdint>
#include <string>
#include <string_view>

namespace os {

// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16_to_utf8(std::u16string_view units);

// UTF-8 to UTF-16 code units. A malformed sequence (bad lead byte, truncated,
// overlong, a surrogate, above U+10FFFF) becomes U+FFFD and uses up its
// longest valid beginning, at least one byte.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view text);

// The text without its trailing U+0009..U+000D and U+0020.
[[nodiscard]] std::string_view trim_trailing_blanks(std::string_view text);

// "0x" and the value's lowest `digits` hexadecimal digits, upper case and
// zero-padded: hex_text(5, 8) is "0x00000005".
[[nodiscard]] std::string hex_text(std::uint64_t value, int digits);

// "{message} ({code})", or the code alone when there is no message: how an
// error's text ends on every platform.
[[nodiscard]] std::string message_with_code(std::string_view message, std::string_view code);

}  // namespace os
