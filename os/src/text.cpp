#include "os/text.hpp"

namespace os {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void append_utf8(std::string& out, char32_t cp) {
    auto put = [&out](char32_t byte) { out.push_back(static_cast<char>(static_cast<unsigned char>(byte))); };
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | (cp >> 6));
        put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        put(0xE0 | (cp >> 12));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | (cp >> 18));
        put(0x80 | ((cp >> 12) & 0x3F));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        const char32_t v = cp - 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
}

// Decodes the UTF-8 sequence that starts at text[i] and moves i past it.
char32_t decode_utf8(std::string_view text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i++);
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t low = 0x80;  // bounds for the first continuation byte
    char32_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        cp = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        cp = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return REPLACEMENT;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size()) {
            return REPLACEMENT;
        }
        const std::uint8_t b = byte(i);
        if (b < (k == 0 ? low : 0x80) || b > (k == 0 ? high : 0xBF)) {
            return REPLACEMENT;
        }
        cp = (cp << 6) | (b & 0x3Fu);
        ++i;
    }
    return cp;
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = units[i];
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00U));
            ++i;
        } else {
            append_utf8(out, is_high_surrogate(unit) || is_low_surrogate(unit) ? REPLACEMENT : unit);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        append_utf16(out, decode_utf8(text, i));
    }
    return out;
}

std::string_view trim_trailing_blanks(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || (text.back() >= '\t' && text.back() <= '\r'))) {
        text.remove_suffix(1);
    }
    return text;
}

std::string hex_text(std::uint64_t value, int digits) {
    std::string text(static_cast<std::size_t>(digits) + 2, '0');
    text[1] = 'x';
    for (auto it = text.rbegin(); it != text.rend() - 2 && value != 0; ++it, value >>= 4) {
        *it = "0123456789ABCDEF"[value & 0xF];
    }
    return text;
}

std::string message_with_code(std::string_view message, std::string_view code) {
    if (message.empty()) {
        return std::string(code);
    }
    std::string text(message);
    text += " (";
    text += code;
    text += ')';
    return text;
}

}  // namespace os
