#pragma once
// A WebSocket connection in the server role (RFC 6455) over a stream it owns.
//
// Outgoing messages become one final, unmasked frame each and wait in a write
// buffer until it holds WRITE_THRESHOLD bytes or the caller flushes. Incoming
// bytes are received RECEIVE_CHUNK at a time and turned into messages by a
// WsFrameReader. Pings are answered and a client's close is echoed
// automatically; such a reply waits until the next write, flush or read.
//
// A time-out of the stream is returned as an Io error for which is_timeout()
// holds, and loses nothing: received bytes, a partial frame and unsent
// output all stay for the next call. A read may also be given a budget, and
// one that runs out ends the same way.
//
// Writing out the queue (a flush, or a write that reaches the threshold) may
// take at most the stream's write time-out as a whole, so a peer that reads
// a few bytes now and then cannot hold it. After such a time-out, later
// write-outs only take what fits at once until one has written everything:
// a peer that has stopped reading is not waited for twice.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "os/stream.hpp"
#include "server/ws_frame_reader.hpp"
#include "server/message.hpp"
#include "server/ws_error.hpp"

namespace server {

inline constexpr std::size_t RECEIVE_CHUNK = 128 * 1024;
inline constexpr std::size_t WRITE_THRESHOLD = 128 * 1024;

// How much one read may take before it gives up with "would block" and keeps
// what it has for the next read. A client that sends endless fragments of an
// unfinished message, or trickles a frame byte by byte, cannot hold it.
struct ReadBudget {
    // No receive starts at or after it (the first receive of a read always
    // may), and none waits past it.
    os::Deadline deadline;
    // Bytes the read may take in without completing a message.
    std::size_t bytes = SIZE_MAX;
};

class WebSocket {
public:
    explicit WebSocket(std::unique_ptr<os::Stream> stream);
    WebSocket(WebSocket&&) noexcept = default;
    WebSocket& operator=(WebSocket&&) noexcept = default;
    WebSocket(const WebSocket&) = delete;
    WebSocket& operator=(const WebSocket&) = delete;
    ~WebSocket() = default;

    // Queues the message as one frame (a Close message starts the closing
    // handshake as close() does). Writes the buffer out once it reaches
    // WRITE_THRESHOLD; on an I/O error the unsent bytes stay queued. Fails
    // with "Sending after closing is not allowed" once either side has closed.
    [[nodiscard]] WsResult<void> write(const Message& message);

    // The same as write(Message::binary(...)) for bytes held elsewhere: header
    // and payload go straight into the write buffer.
    [[nodiscard]] WsResult<void> write_binary(std::span<const std::uint8_t> payload);

    // Queues a pending automatic reply, then writes everything queued.
    [[nodiscard]] WsResult<void> flush();

    // write() followed by flush().
    [[nodiscard]] WsResult<void> send(const Message& message);

    // The next complete message; pings and pongs included. Writes a pending
    // automatic reply first. Once the closing handshake has completed, or the
    // stream ended, every read fails with ConnectionClosed (or the reset error
    // the first time). After a protocol, capacity or UTF-8 error the reader
    // stops and returns that error again; writing stays possible so that the
    // caller can still send its close. A read whose budget runs out first
    // fails with "would block" (os::would_block_error()).
    [[nodiscard]] WsResult<Message> read(ReadBudget budget = {});

    // Starts the closing handshake (once) and flushes. Without a frame the
    // close carries no body: 88 00 on the wire.
    [[nodiscard]] WsResult<void> close(std::optional<CloseFrame> frame = std::nullopt);

    // The underlying stream, for its time-outs and for closing it.
    [[nodiscard]] os::Stream& stream() { return *stream_; }

    // Whether messages may still be written (neither side has closed).
    [[nodiscard]] bool can_write() const { return state_ == State::Active; }
    // Whether the connection has finished (closing handshake done or stream ended).
    [[nodiscard]] bool is_finished() const { return state_ == State::Terminated; }
    // Received bytes that wait to be read as (part of) a message.
    [[nodiscard]] std::size_t buffered_input() const { return in_end_ - in_begin_; }
    // Bytes queued but not yet written to the stream.
    [[nodiscard]] std::size_t queued_bytes() const { return out_.size(); }

private:
    enum class State {
        Active,
        ClosedByUs,         // our close is queued or sent; waiting for the client's
        ClosedByPeer,       // the client closed; our reply finishes the connection
        CloseAcknowledged,  // the client answered our close
        Terminated,
    };

    [[nodiscard]] WsResult<void> check_writable() const;
    [[nodiscard]] WsResult<void> after_append();
    void set_reply(Opcode opcode, std::span<const std::uint8_t> payload);
    void queue_reply();
    [[nodiscard]] WsResult<void> write_out();
    [[nodiscard]] WsResult<std::optional<Message>> take_buffered(std::size_t& bytes_left);
    [[nodiscard]] WsResult<Message> on_message(Message message);

    std::unique_ptr<os::Stream> stream_;
    State state_ = State::Active;

    std::vector<std::uint8_t> out_;  // encoded frames not yet written
    bool output_stalled_ = false;    // the last write-out timed out

    // The automatic reply (pong or close) that the next write, flush or read
    // queues, and whether a queued one has not reached the stream yet.
    std::optional<std::vector<std::uint8_t>> reply_;
    bool reply_unwritten_ = false;

    // RECEIVE_CHUNK bytes, left uninitialised so that a connection touches
    // only the pages its data reaches; [in_begin_, in_end_) not yet consumed.
    std::unique_ptr<std::uint8_t[]> in_;
    std::size_t in_begin_ = 0;
    std::size_t in_end_ = 0;
    WsFrameReader reader_;
    std::optional<WsError> read_error_;  // the reader stopped at this error
};

}  // namespace server
