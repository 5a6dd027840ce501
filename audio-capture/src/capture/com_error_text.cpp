#include "capture/com_error_text.hpp"

#include <array>

namespace audio::capture {
namespace {

void append_utf8(std::string& out, char32_t c) {
    auto put = [&out](std::uint32_t byte) { out += static_cast<char>(static_cast<unsigned char>(byte)); };
    const auto v = static_cast<std::uint32_t>(c);
    if (v < 0x80) {
        put(v);
    } else if (v < 0x800) {
        put(0xC0 | (v >> 6));
        put(0x80 | (v & 0x3F));
    } else if (v < 0x10000) {
        put(0xE0 | (v >> 12));
        put(0x80 | ((v >> 6) & 0x3F));
        put(0x80 | (v & 0x3F));
    } else {
        put(0xF0 | (v >> 18));
        put(0x80 | ((v >> 12) & 0x3F));
        put(0x80 | ((v >> 6) & 0x3F));
        put(0x80 | (v & 0x3F));
    }
}

bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::uint32_t hresult_from_win32(std::uint32_t error) {
    if (static_cast<std::int32_t>(error) <= 0) {
        return error;
    }
    return (error & 0xFFFF) | 0x80070000;
}

std::u16string_view trim_trailing_space(std::u16string_view text) {
    while (!text.empty()) {
        const char16_t last = text.back();
        if (last != u' ' && (last < 0x09 || last > 0x0D)) {
            break;
        }
        text.remove_suffix(1);
    }
    return text;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (is_high_surrogate(unit) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            const char32_t high = unit - 0xD800U;
            const char32_t low = text[i + 1] - 0xDC00U;
            append_utf8(out, 0x10000U + (high << 10) + low);
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            append_utf8(out, U'\uFFFD');
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

std::string com_code_text(std::uint32_t code) {
    constexpr std::array<char, 16> digits{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        text += digits[(code >> shift) & 0xF];
    }
    return text;
}

std::string compose_com_error_text(std::string_view message, std::uint32_t code) {
    if (message.empty()) {
        return com_code_text(code);
    }
    std::string text(message);
    text += " (";
    text += com_code_text(code);
    text += ')';
    return text;
}

SystemMessageLookup system_message_lookup(std::uint32_t code) {
    if ((code & NT_STATUS_FACILITY_BIT) != 0) {
        return {.flags = NTDLL_MESSAGE_FLAGS, .message_id = code & ~NT_STATUS_FACILITY_BIT, .from_ntdll = true};
    }
    return {.flags = SYSTEM_MESSAGE_FLAGS, .message_id = code, .from_ntdll = false};
}

}  // namespace audio::capture
