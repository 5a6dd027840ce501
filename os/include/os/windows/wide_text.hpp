#pragma once
// UTF-8 <-> the wide strings of the Windows API, whose wchar_t is a UTF-16
// code unit. Both directions are total (see os/text.hpp).

#include <string>
#include <string_view>

#include "os/text.hpp"

namespace os {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide Windows API uses UTF-16 code units");

[[nodiscard]] inline std::wstring to_wide(std::string_view utf8) {
    const std::u16string units = utf8_to_utf16(utf8);
    return std::wstring(units.begin(), units.end());
}

[[nodiscard]] inline std::string to_utf8(std::wstring_view wide) {
    return utf16_to_utf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace os
