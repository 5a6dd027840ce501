#include "server/ws_frame_reader.hpp"

#include <algorithm>

#include "server/websocket_texts.hpp"

namespace server {

namespace {

bool is_known_control(std::uint8_t opcode) {
    return opcode == static_cast<std::uint8_t>(Opcode::Close) ||
           opcode == static_cast<std::uint8_t>(Opcode::Ping) ||
           opcode == static_cast<std::uint8_t>(Opcode::Pong);
}

bool may_be_sent(std::uint16_t code) {
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1013) ||
           (code >= 3000 && code <= 4999);
}

WsResult<std::optional<CloseFrame>> parse_close(std::span<const std::uint8_t> payload) {
    if (payload.empty()) {
        return std::optional<CloseFrame>();
    }
    if (payload.size() == 1) {
        return std::unexpected(WsError::protocol(texts::INVALID_CLOSE));
    }
    const auto reason = payload.subspan(2);
    if (auto valid = validate_utf8(reason); !valid) {
        return std::unexpected(WsError::utf8(valid.error()));
    }
    CloseFrame frame;
    frame.code = static_cast<std::uint16_t>((payload[0] << 8) | payload[1]);
    frame.reason.assign(reason.begin(), reason.end());
    return std::optional<CloseFrame>(std::move(frame));
}

}  // namespace

std::optional<CloseFrame> close_reply(const std::optional<CloseFrame>& received) {
    if (!received) {
        return std::nullopt;
    }
    if (may_be_sent(received->code)) {
        return received;
    }
    return CloseFrame{1002, std::string(texts::PROTOCOL_VIOLATION)};
}

WsResult<void> WsFrameReader::start_frame(const WsFrameHeader& h) {
    // The length is judged before anything else so that no payload of a
    // frame that cannot be accepted is ever buffered.
    if (h.payload_length > MAX_FRAME_PAYLOAD) {
        return std::unexpected(WsError::message_too_long(h.payload_length, MAX_FRAME_PAYLOAD));
    }
    // RFC 6455 section 5.2: no extension is negotiated, so RSV1-3 must be 0.
    if (h.reserved != 0) {
        return std::unexpected(WsError::protocol(texts::RESERVED_BITS));
    }
    // Section 5.1: a server must fail the connection on an unmasked frame.
    if (!h.masked) {
        return std::unexpected(WsError::protocol(texts::UNMASKED_FRAME));
    }
    if (h.is_control()) {
        // Section 5.5: control frames are never fragmented and carry at most 125 bytes.
        if (!h.fin) {
            return std::unexpected(WsError::protocol(texts::FRAGMENTED_CONTROL));
        }
        if (h.payload_length > MAX_CONTROL_PAYLOAD) {
            return std::unexpected(WsError::protocol(texts::CONTROL_TOO_BIG));
        }
        if (!is_known_control(h.opcode)) {
            return std::unexpected(WsError::protocol(texts::UNKNOWN_CONTROL, h.opcode));
        }
        control_.clear();
        return {};
    }
    // Section 5.4: continuation frames belong to an unfinished message, and
    // a new message waits until the previous one has ended.
    if (h.opcode == static_cast<std::uint8_t>(Opcode::Continuation)) {
        if (!message_open_) {
            return std::unexpected(WsError::protocol(texts::NOTHING_TO_CONTINUE));
        }
    } else if (message_open_) {
        return std::unexpected(WsError::protocol(texts::EXPECTED_FRAGMENT, h.opcode));
    } else if (h.opcode == static_cast<std::uint8_t>(Opcode::Text) ||
               h.opcode == static_cast<std::uint8_t>(Opcode::Binary)) {
        message_open_ = true;
        message_kind_ = h.opcode == static_cast<std::uint8_t>(Opcode::Text) ? MessageKind::Text
                                                                            : MessageKind::Binary;
        message_.clear();
        utf8_.reset();
    } else {
        return std::unexpected(WsError::protocol(texts::UNKNOWN_DATA, h.opcode));
    }
    const std::uint64_t joined = message_.size() + h.payload_length;
    if (joined > MAX_MESSAGE_SIZE) {
        return std::unexpected(WsError::message_too_long(joined, MAX_MESSAGE_SIZE));
    }
    return {};
}

void WsFrameReader::take_payload(std::span<const std::uint8_t>& input, std::size_t count) {
    std::vector<std::uint8_t>& target = header_->is_control() ? control_ : message_;
    const std::size_t start = target.size();
    target.insert(target.end(), input.begin(), input.begin() + static_cast<std::ptrdiff_t>(count));
    apply_mask(std::span(target).subspan(start), header_->mask, payload_done_);
    payload_done_ += count;
    input = input.subspan(count);
}

WsResult<std::optional<Message>> WsFrameReader::finish_frame() {
    const WsFrameHeader h = *header_;
    header_.reset();
    payload_done_ = 0;
    if (h.is_control()) {
        switch (static_cast<Opcode>(h.opcode)) {
        case Opcode::Ping:
            return Message::ping(std::move(control_));
        case Opcode::Pong:
            return Message::pong(std::move(control_));
        default: {
            auto close = parse_close(control_);
            if (!close) {
                return std::unexpected(close.error());
            }
            return Message::close(std::move(*close));
        }
        }
    }
    if (!h.fin) {
        return std::nullopt;
    }
    message_open_ = false;
    if (message_kind_ == MessageKind::Text) {
        if (auto complete = utf8_.finish(); !complete) {
            return std::unexpected(WsError::utf8(complete.error()));
        }
        return Message{MessageKind::Text, std::move(message_), std::nullopt};
    }
    return Message::binary(std::move(message_));
}

WsResult<std::optional<Message>> WsFrameReader::consume(std::span<const std::uint8_t>& input) {
    while (!input.empty()) {
        if (!header_) {
            const std::size_t need = header_have_ < 2 ? 2 : frame_header_size(header_bytes_[1]);
            const std::size_t take = std::min(need - header_have_, input.size());
            std::copy_n(input.begin(), take, header_bytes_.begin() + static_cast<std::ptrdiff_t>(header_have_));
            header_have_ += take;
            input = input.subspan(take);
            const auto parsed = parse_frame_header(std::span(header_bytes_).first(header_have_));
            if (!parsed) {
                continue;
            }
            header_have_ = 0;
            if (auto started = start_frame(parsed->header); !started) {
                return std::unexpected(started.error());
            }
            header_ = parsed->header;
        } else {
            const std::uint64_t left = header_->payload_length - payload_done_;
            const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(left, input.size()));
            const std::size_t text_start = message_.size();
            take_payload(input, take);
            // Text is checked as it arrives, so a bad byte stops the read at once.
            if (!header_->is_control() && message_kind_ == MessageKind::Text) {
                if (auto valid = utf8_.feed(std::span(message_).subspan(text_start)); !valid) {
                    return std::unexpected(WsError::utf8(valid.error()));
                }
            }
        }
        if (header_ && payload_done_ == header_->payload_length) {
            auto done = finish_frame();
            if (!done || done->has_value()) {
                return done;
            }
        }
    }
    return std::nullopt;
}

}  // namespace server
