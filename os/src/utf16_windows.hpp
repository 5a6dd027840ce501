#pragma once
// UTF-8 <-> UTF-16 for the wide Windows API. Both directions are total:
// malformed UTF-8 and unpaired surrogates become U+FFFD.

#include <string>
#include <string_view>

namespace os::detail {

[[nodiscard]] std::wstring to_wide(std::string_view utf8);
[[nodiscard]] std::string to_utf8(std::wstring_view utf16);

}  // namespace os::detail
