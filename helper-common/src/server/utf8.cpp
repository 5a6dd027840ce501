#include "server/utf8.hpp"

namespace server {

namespace {

std::string invalid_sequence(unsigned length, std::uint64_t offset) {
    return "invalid utf-8 sequence of " + std::to_string(length) + " bytes from index " +
           std::to_string(offset);
}

}  // namespace

std::expected<void, std::string> Utf8Validator::feed(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) {
        if (needed_ > 0) {
            if (b < low_ || b > high_) {
                return std::unexpected(invalid_sequence(seq_seen_, seq_start_));
            }
            ++seq_seen_;
            --needed_;
            low_ = 0x80;
            high_ = 0xBF;
        } else if (b >= 0x80) {
            // The first continuation byte's range excludes overlong forms,
            // surrogates (U+D800..U+DFFF) and values above U+10FFFF.
            seq_start_ = offset_;
            seq_seen_ = 1;
            if (b >= 0xC2 && b <= 0xDF) {
                needed_ = 1;
            } else if (b >= 0xE0 && b <= 0xEF) {
                needed_ = 2;
                low_ = (b == 0xE0) ? 0xA0 : 0x80;
                high_ = (b == 0xED) ? 0x9F : 0xBF;
            } else if (b >= 0xF0 && b <= 0xF4) {
                needed_ = 3;
                low_ = (b == 0xF0) ? 0x90 : 0x80;
                high_ = (b == 0xF4) ? 0x8F : 0xBF;
            } else {
                return std::unexpected(invalid_sequence(1, offset_));
            }
        }
        ++offset_;
    }
    return {};
}

std::expected<void, std::string> Utf8Validator::finish() const {
    if (needed_ > 0) {
        return std::unexpected("incomplete utf-8 byte sequence from index " + std::to_string(seq_start_));
    }
    return {};
}

std::expected<void, std::string> validate_utf8(std::span<const std::uint8_t> bytes) {
    Utf8Validator validator;
    if (auto fed = validator.feed(bytes); !fed) {
        return fed;
    }
    return validator.finish();
}

}  // namespace server
