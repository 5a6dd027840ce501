#pragma once
// The portable parts of turning a failed Windows call into text:
// "{message} (0x{8 upper-case hex digits})", or the code text alone when
// there is no message.

#include <cstdint>
#include <string>
#include <string_view>

namespace audio::capture {

// The HRESULT for a Win32 error number: 0 and values that are negative as
// signed 32-bit stay as they are, the rest become 0x8007xxxx.
[[nodiscard]] std::uint32_t hresult_from_win32(std::uint32_t error);

// Drops trailing U+0009..U+000D and U+0020.
[[nodiscard]] std::u16string_view trim_trailing_space(std::u16string_view text);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16_to_utf8(std::u16string_view text);

// "0x" and exactly eight upper-case hexadecimal digits.
[[nodiscard]] std::string com_code_text(std::uint32_t code);

// message + " (" + code text + ")", or the code text alone for an empty message.
[[nodiscard]] std::string compose_com_error_text(std::string_view message, std::uint32_t code);

// How FormatMessageW is asked for a code's system message.
inline constexpr std::uint32_t NT_STATUS_FACILITY_BIT = 0x10000000;
inline constexpr std::uint32_t SYSTEM_MESSAGE_FLAGS = 0x1300;  // ALLOCATE_BUFFER|IGNORE_INSERTS|FROM_SYSTEM
inline constexpr std::uint32_t NTDLL_MESSAGE_FLAGS = 0x1B00;   // the same plus FROM_HMODULE

struct SystemMessageLookup {
    std::uint32_t flags = SYSTEM_MESSAGE_FLAGS;
    std::uint32_t message_id = 0;
    bool from_ntdll = false;  // the source is ntdll.dll's message table
};

// NT status codes carried in an HRESULT (bit 0x10000000) are looked up in
// ntdll.dll under the code without that bit.
[[nodiscard]] SystemMessageLookup system_message_lookup(std::uint32_t code);

}  // namespace audio::capture
