#pragma once
// Turns received bytes into messages for the server role: checks every frame
// header as soon as it is complete, unmasks payloads as they arrive, joins
// fragments and validates text. Bytes may come in pieces of any size; the
// reader keeps a partial header or payload until the rest arrives.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "server/ws_frame.hpp"
#include "server/message.hpp"
#include "server/utf8.hpp"
#include "server/ws_error.hpp"

namespace server {

inline constexpr std::uint64_t MAX_FRAME_PAYLOAD = 16u * 1024 * 1024;  // 16 MiB
inline constexpr std::uint64_t MAX_MESSAGE_SIZE = 64u * 1024 * 1024;   // 64 MiB, after joining

class WsFrameReader {
public:
    // Consumes bytes from the front of `input` until a message is complete
    // (returned, with the rest of `input` left for later) or `input` is used
    // up (nullopt). After an error the reader must not be used again.
    [[nodiscard]] WsResult<std::optional<Message>> consume(std::span<const std::uint8_t>& input);

private:
    [[nodiscard]] WsResult<void> start_frame(const WsFrameHeader& header);
    void take_payload(std::span<const std::uint8_t>& input, std::size_t count);
    [[nodiscard]] WsResult<std::optional<Message>> finish_frame();

    std::array<std::uint8_t, MAX_FRAME_HEADER_SIZE> header_bytes_{};
    std::size_t header_have_ = 0;
    std::optional<WsFrameHeader> header_;  // the frame whose payload is arriving
    std::uint64_t payload_done_ = 0;     // payload bytes of that frame received so far

    std::vector<std::uint8_t> control_;  // payload of a control frame

    // The data message being joined from its fragments.
    bool message_open_ = false;
    MessageKind message_kind_ = MessageKind::Binary;
    std::vector<std::uint8_t> message_;
    Utf8Validator utf8_;
};

// The reply a close frame calls for: the same code and reason for a code that
// may be sent (RFC 6455 section 7.4), 1002 "Protocol violation" otherwise.
[[nodiscard]] std::optional<CloseFrame> close_reply(const std::optional<CloseFrame>& received);

}  // namespace server
