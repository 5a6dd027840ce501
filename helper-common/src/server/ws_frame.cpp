#include "server/ws_frame.hpp"

namespace server {

std::size_t frame_header_size(std::uint8_t second_byte) {
    std::size_t size = 2;
    const std::uint8_t length7 = second_byte & 0x7F;
    if (length7 == 126) {
        size += 2;
    } else if (length7 == 127) {
        size += 8;
    }
    if ((second_byte & 0x80) != 0) {
        size += 4;
    }
    return size;
}

std::optional<ParsedWsFrameHeader> parse_frame_header(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2) {
        return std::nullopt;
    }
    const std::size_t size = frame_header_size(bytes[1]);
    if (bytes.size() < size) {
        return std::nullopt;
    }
    ParsedWsFrameHeader parsed;
    WsFrameHeader& h = parsed.header;
    parsed.size = size;
    h.fin = (bytes[0] & 0x80) != 0;
    h.reserved = static_cast<std::uint8_t>((bytes[0] >> 4) & 0x07);
    h.opcode = bytes[0] & 0x0F;
    h.masked = (bytes[1] & 0x80) != 0;
    const std::uint8_t length7 = bytes[1] & 0x7F;
    std::size_t pos = 2;
    if (length7 < 126) {
        h.payload_length = length7;
    } else {
        const std::size_t count = (length7 == 126) ? 2 : 8;
        for (std::size_t i = 0; i < count; ++i) {
            h.payload_length = (h.payload_length << 8) | bytes[pos + i];
        }
        pos += count;
    }
    if (h.masked) {
        for (std::size_t i = 0; i < 4; ++i) {
            h.mask[i] = bytes[pos + i];
        }
    }
    return parsed;
}

void append_frame_header(std::vector<std::uint8_t>& out, const WsFrameHeader& header) {
    out.push_back(static_cast<std::uint8_t>((header.fin ? 0x80 : 0) | ((header.reserved & 0x07) << 4) |
                                            (header.opcode & 0x0F)));
    const std::uint8_t mask_bit = header.masked ? 0x80 : 0;
    const std::uint64_t length = header.payload_length;
    if (length < 126) {
        out.push_back(static_cast<std::uint8_t>(mask_bit | length));
    } else if (length <= 0xFFFF) {
        out.push_back(mask_bit | 126);
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.push_back(static_cast<std::uint8_t>(length));
    } else {
        out.push_back(mask_bit | 127);
        for (int shift = 56; shift >= 0; shift -= 8) {
            out.push_back(static_cast<std::uint8_t>(length >> shift));
        }
    }
    if (header.masked) {
        out.insert(out.end(), header.mask.begin(), header.mask.end());
    }
}

void append_frame(std::vector<std::uint8_t>& out, Opcode opcode, std::span<const std::uint8_t> payload) {
    // No reserve here: an exact reserve per frame would defeat the vector's
    // geometric growth when many frames are queued back to back.
    append_frame_header(out, WsFrameHeader{.opcode = static_cast<std::uint8_t>(opcode), .payload_length = payload.size()});
    out.insert(out.end(), payload.begin(), payload.end());
}

void apply_mask(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 4>& mask, std::uint64_t offset) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] ^= mask[(offset + i) & 3];
    }
}

}  // namespace server
