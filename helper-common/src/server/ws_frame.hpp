#pragma once
// The WebSocket frame header (RFC 6455 section 5.2), free of any I/O.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace server {

enum class Opcode : std::uint8_t {
    Continuation = 0,
    Text = 1,
    Binary = 2,
    Close = 8,
    Ping = 9,
    Pong = 10,
};

inline constexpr std::size_t MAX_FRAME_HEADER_SIZE = 14;
inline constexpr std::size_t MAX_CONTROL_PAYLOAD = 125;

struct WsFrameHeader {
    bool fin = true;
    std::uint8_t reserved = 0;  // RSV1..RSV3 as the low three bits
    std::uint8_t opcode = 0;    // as received; may be a value RFC 6455 leaves undefined
    bool masked = false;
    std::array<std::uint8_t, 4> mask{};
    std::uint64_t payload_length = 0;

    [[nodiscard]] bool is_control() const { return (opcode & 0x08) != 0; }
};

// The size of the whole header, 2 to 14 bytes, from its second byte.
[[nodiscard]] std::size_t frame_header_size(std::uint8_t second_byte);

struct ParsedWsFrameHeader {
    WsFrameHeader header;
    std::size_t size = 0;  // header bytes consumed
};

// The header at the start of the bytes; nullopt when more bytes are needed.
// Any length encoding is accepted here; the caller judges the length.
[[nodiscard]] std::optional<ParsedWsFrameHeader> parse_frame_header(std::span<const std::uint8_t> bytes);

// Appends the header with the length in its shortest form; a masked header
// ends with its key (masking the payload is the caller's part).
void append_frame_header(std::vector<std::uint8_t>& out, const WsFrameHeader& header);

// Header and payload of a final, unmasked frame.
void append_frame(std::vector<std::uint8_t>& out, Opcode opcode, std::span<const std::uint8_t> payload);

// XORs the bytes with the masking key; `offset` is the position of the first
// byte within the frame's payload (RFC 6455 section 5.3).
void apply_mask(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 4>& mask, std::uint64_t offset);

}  // namespace server
