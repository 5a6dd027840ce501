#include "server/base64.hpp"

#include <array>

namespace server {

namespace {

constexpr std::string_view ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int INVALID = -1;

constexpr std::array<int, 256> make_decode_table() {
    std::array<int, 256> table{};
    table.fill(INVALID);
    for (std::size_t i = 0; i < ALPHABET.size(); ++i) {
        table[static_cast<unsigned char>(ALPHABET[i])] = static_cast<int>(i);
    }
    return table;
}

constexpr std::array<int, 256> DECODE = make_decode_table();

}  // namespace

std::string base64_encode(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t n = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) |
                                std::uint32_t{data[i + 2]};
        out += ALPHABET[(n >> 18) & 63];
        out += ALPHABET[(n >> 12) & 63];
        out += ALPHABET[(n >> 6) & 63];
        out += ALPHABET[n & 63];
    }
    const std::size_t rest = data.size() - i;
    if (rest == 1) {
        const std::uint32_t n = std::uint32_t{data[i]} << 16;
        out += ALPHABET[(n >> 18) & 63];
        out += ALPHABET[(n >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        const std::uint32_t n = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8);
        out += ALPHABET[(n >> 18) & 63];
        out += ALPHABET[(n >> 12) & 63];
        out += ALPHABET[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::size_t padding = 0;
        if (last && text[i + 3] == '=') {
            padding = (text[i + 2] == '=') ? 2 : 1;
        }
        std::uint32_t n = 0;
        for (std::size_t j = 0; j < 4 - padding; ++j) {
            const int value = DECODE[static_cast<unsigned char>(text[i + j])];
            if (value == INVALID) {
                return std::nullopt;
            }
            n |= static_cast<std::uint32_t>(value) << (18 - 6 * j);
        }
        out.push_back(static_cast<std::uint8_t>(n >> 16));
        if (padding == 2) {
            if ((n & 0xFFFFu) != 0) {
                return std::nullopt;  // bits beyond the last byte must be zero
            }
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(n >> 8));
        if (padding == 1) {
            if ((n & 0xFFu) != 0) {
                return std::nullopt;
            }
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(n));
    }
    return out;
}

}  // namespace server
