#pragma once
// A WebSocket message as the caller sees it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

enum class MessageKind { Text, Binary, Ping, Pong, Close };

// The body of a close frame (RFC 6455 section 5.5.1).
struct CloseFrame {
    std::uint16_t code = 1000;
    std::string reason;  // UTF-8

    friend bool operator==(const CloseFrame&, const CloseFrame&) = default;
};

struct Message {
    MessageKind kind = MessageKind::Binary;
    std::vector<std::uint8_t> data;         // payload of text (UTF-8), binary, ping and pong
    std::optional<CloseFrame> close_frame;  // Close only; absent for a close without body

    [[nodiscard]] static Message text(std::string_view text) {
        return {MessageKind::Text, std::vector<std::uint8_t>(text.begin(), text.end()), std::nullopt};
    }
    // Takes the buffer over without copying it.
    [[nodiscard]] static Message binary(std::vector<std::uint8_t> bytes) {
        return {MessageKind::Binary, std::move(bytes), std::nullopt};
    }
    [[nodiscard]] static Message ping(std::vector<std::uint8_t> bytes) {
        return {MessageKind::Ping, std::move(bytes), std::nullopt};
    }
    [[nodiscard]] static Message pong(std::vector<std::uint8_t> bytes) {
        return {MessageKind::Pong, std::move(bytes), std::nullopt};
    }
    [[nodiscard]] static Message close(std::optional<CloseFrame> frame = std::nullopt) {
        return {MessageKind::Close, {}, std::move(frame)};
    }

    // The payload as text (meaningful for text messages).
    [[nodiscard]] std::string_view as_text() const {
        return {reinterpret_cast<const char*>(data.data()), data.size()};
    }
};

}  // namespace server
