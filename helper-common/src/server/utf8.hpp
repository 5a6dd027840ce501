#pragma once
// An incremental UTF-8 validator (RFC 3629): bytes may arrive in any pieces,
// and the first invalid sequence is reported as soon as it is seen.

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace server {

class Utf8Validator {
public:
    // Checks the next bytes of the text. The error text names the offending
    // sequence by its offset from the start of the text.
    [[nodiscard]] std::expected<void, std::string> feed(std::span<const std::uint8_t> bytes);

    // The text has ended: fails when it ends inside a sequence.
    [[nodiscard]] std::expected<void, std::string> finish() const;

    void reset() { *this = Utf8Validator(); }

private:
    std::uint64_t offset_ = 0;     // offset of the next byte
    std::uint64_t seq_start_ = 0;  // offset of the current sequence's first byte
    unsigned seq_seen_ = 0;        // bytes of the current sequence seen so far
    unsigned needed_ = 0;          // continuation bytes still expected
    std::uint8_t low_ = 0x80;      // range allowed for the next continuation byte
    std::uint8_t high_ = 0xBF;
};

// Validates a complete text.
[[nodiscard]] std::expected<void, std::string> validate_utf8(std::span<const std::uint8_t> bytes);

}  // namespace server
