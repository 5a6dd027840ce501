#include "server/websocket.hpp"

#include <algorithm>
#include <chrono>

#include "server/ws_frame.hpp"
#include "server/websocket_texts.hpp"

namespace server {

namespace {

std::vector<std::uint8_t> close_payload(const std::optional<CloseFrame>& frame) {
    std::vector<std::uint8_t> payload;
    if (frame) {
        payload.reserve(2 + frame->reason.size());
        payload.push_back(static_cast<std::uint8_t>(frame->code >> 8));
        payload.push_back(static_cast<std::uint8_t>(frame->code & 0xFF));
        payload.insert(payload.end(), frame->reason.begin(), frame->reason.end());
    }
    return payload;
}

Opcode opcode_of(MessageKind kind) {
    switch (kind) {
    case MessageKind::Text:
        return Opcode::Text;
    case MessageKind::Binary:
        return Opcode::Binary;
    case MessageKind::Ping:
        return Opcode::Ping;
    case MessageKind::Pong:
        return Opcode::Pong;
    case MessageKind::Close:
        break;
    }
    return Opcode::Close;
}

}  // namespace

WebSocket::WebSocket(std::unique_ptr<os::Stream> stream)
    : stream_(std::move(stream)), in_(std::make_unique_for_overwrite<std::uint8_t[]>(RECEIVE_CHUNK)) {}

WsResult<void> WebSocket::check_writable() const {
    if (state_ == State::Terminated) {
        return std::unexpected(WsError::already_closed());
    }
    if (state_ != State::Active) {
        return std::unexpected(WsError::protocol(texts::SEND_AFTER_CLOSING));
    }
    return {};
}

WsResult<void> WebSocket::after_append() {
    if (out_.size() >= WRITE_THRESHOLD) {
        return write_out();
    }
    return {};
}

WsResult<void> WebSocket::write(const Message& message) {
    if (auto ok = check_writable(); !ok) {
        return ok;
    }
    if (message.kind == MessageKind::Close) {
        return close(message.close_frame);
    }
    const Opcode opcode = opcode_of(message.kind);
    if ((opcode == Opcode::Ping || opcode == Opcode::Pong) && message.data.size() > MAX_CONTROL_PAYLOAD) {
        return std::unexpected(WsError::protocol(texts::CONTROL_TOO_BIG));
    }
    queue_reply();
    append_frame(out_, opcode, message.data);
    return after_append();
}

WsResult<void> WebSocket::write_binary(std::span<const std::uint8_t> payload) {
    if (auto ok = check_writable(); !ok) {
        return ok;
    }
    queue_reply();
    append_frame(out_, Opcode::Binary, payload);
    return after_append();
}

WsResult<void> WebSocket::flush() {
    if (state_ == State::Terminated) {
        return std::unexpected(WsError::already_closed());
    }
    queue_reply();
    if (auto written = write_out(); !written) {
        return written;
    }
    // Once our answer to the client's close is out, or the client has
    // answered ours, nothing is left to exchange.
    if (state_ == State::ClosedByPeer || state_ == State::CloseAcknowledged) {
        state_ = State::Terminated;
    }
    return {};
}

WsResult<void> WebSocket::send(const Message& message) {
    if (auto written = write(message); !written) {
        return written;
    }
    return flush();
}

WsResult<void> WebSocket::close(std::optional<CloseFrame> frame) {
    if (state_ == State::Terminated) {
        return std::unexpected(WsError::already_closed());
    }
    if (state_ == State::Active) {
        const std::vector<std::uint8_t> payload = close_payload(frame);
        if (payload.size() > MAX_CONTROL_PAYLOAD) {
            return std::unexpected(WsError::protocol(texts::CONTROL_TOO_BIG));
        }
        state_ = State::ClosedByUs;
        queue_reply();  // a pong still owed goes out before the close
        append_frame(out_, Opcode::Close, payload);
    }
    return flush();
}

void WebSocket::set_reply(Opcode opcode, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> frame;
    append_frame(frame, opcode, payload);
    // Only the latest ping needs its pong (RFC 6455 section 5.5.3); a close
    // reply is never pending together with a pong, as pings are no longer
    // answered once the client has closed.
    reply_ = std::move(frame);
}

void WebSocket::queue_reply() {
    if (reply_) {
        out_.insert(out_.end(), reply_->begin(), reply_->end());
        reply_.reset();
        reply_unwritten_ = true;
    }
}

WsResult<void> WebSocket::write_out() {
    // One deadline for the whole queue: progress by a few bytes at a time
    // does not extend it.
    const auto limit = stream_->write_timeout();
    os::Deadline deadline;
    if (output_stalled_) {
        deadline = std::chrono::steady_clock::now();
    } else if (limit.count() > 0) {
        deadline = std::chrono::steady_clock::now() + limit;
    }
    std::size_t done = 0;
    while (done < out_.size()) {
        const auto written = stream_->write_before(std::span(out_).subspan(done), deadline);
        if (!written || *written == 0) {
            out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(done));
            if (!written) {
                output_stalled_ = written.error().is_timeout();
                return std::unexpected(WsError::io(written.error()));
            }
            return std::unexpected(WsError::io(os::SysError{0, texts::WRITE_ZERO.data()}));
        }
        done += *written;
    }
    out_.clear();
    output_stalled_ = false;
    reply_unwritten_ = false;
    return {};
}

// Feeds the reader at most bytes_left of the received bytes and counts off
// what it took.
WsResult<std::optional<Message>> WebSocket::take_buffered(std::size_t& bytes_left) {
    const std::size_t offered = std::min(in_end_ - in_begin_, bytes_left);
    std::span<const std::uint8_t> input(in_.get() + in_begin_, offered);
    auto consumed = reader_.consume(input);
    const std::size_t taken = offered - input.size();
    in_begin_ += taken;
    bytes_left -= taken;
    if (!consumed) {
        read_error_ = consumed.error();
    }
    return consumed;
}

WsResult<Message> WebSocket::read(ReadBudget budget) {
    if (state_ == State::Terminated) {
        return std::unexpected(WsError::connection_closed());
    }
    if (read_error_) {
        return std::unexpected(*read_error_);
    }
    if (reply_ || reply_unwritten_) {
        queue_reply();
        if (auto written = write_out(); !written) {
            // A reply that cannot leave yet stays queued; reading goes on
            // unless the connection only waits for that reply.
            const bool reading = state_ == State::Active || state_ == State::ClosedByUs;
            if (!(reading && written.error().is_timeout())) {
                return std::unexpected(written.error());
            }
        }
    }
    if (state_ == State::ClosedByPeer || state_ == State::CloseAcknowledged) {
        state_ = State::Terminated;
        return std::unexpected(WsError::connection_closed());
    }
    std::size_t bytes_left = budget.bytes;
    bool received = false;
    for (;;) {
        if (in_begin_ < in_end_ && bytes_left > 0) {
            auto message = take_buffered(bytes_left);
            if (!message) {
                return std::unexpected(message.error());
            }
            if (*message) {
                return on_message(std::move(**message));
            }
            continue;
        }
        const bool out_of_time = received && budget.deadline && std::chrono::steady_clock::now() >= *budget.deadline;
        if (bytes_left == 0 || out_of_time) {
            return std::unexpected(WsError::io(os::would_block_error()));
        }
        in_begin_ = 0;
        in_end_ = 0;
        const auto got = stream_->read_before(std::span(in_.get(), RECEIVE_CHUNK), budget.deadline);
        received = true;
        if (!got) {
            return std::unexpected(WsError::io(got.error()));
        }
        if (*got == 0) {
            state_ = State::Terminated;
            return std::unexpected(WsError::protocol(texts::RESET_WITHOUT_CLOSE));
        }
        in_end_ = *got;
    }
}

WsResult<Message> WebSocket::on_message(Message message) {
    switch (message.kind) {
    case MessageKind::Ping:
        // No pong once we have sent our close.
        if (state_ == State::Active) {
            set_reply(Opcode::Pong, message.data);
        }
        break;
    case MessageKind::Close:
        if (state_ == State::Active) {
            state_ = State::ClosedByPeer;
            set_reply(Opcode::Close, close_payload(close_reply(message.close_frame)));
        } else if (state_ == State::ClosedByUs) {
            state_ = State::CloseAcknowledged;
        }
        break;
    case MessageKind::Text:
    case MessageKind::Binary:
    case MessageKind::Pong:
        break;
    }
    return message;
}

}  // namespace server
