#include "client_poll.hpp"

namespace audio {
namespace {

// Whether a read could find something: received bytes not yet taken, or
// readable data on the socket. Asking first keeps an idle client from costing
// a read that waits out its time-out while frames are due.
bool input_waiting(server::WebSocket& connection) {
    if (connection.buffered_input() > 0) {
        return true;
    }
    auto readable = connection.stream().wait_readable(std::chrono::milliseconds(0));
    return !readable || *readable;  // on an error, let the read report it
}

}  // namespace

std::expected<PollOutcome, std::string> poll_client(server::WebSocket& connection, PollLimits limits) {
    const server::ReadBudget budget{std::chrono::steady_clock::now() + limits.time, limits.bytes_per_read};
    for (int i = 0; i < MAX_READS_PER_POLL && input_waiting(connection); ++i) {
        auto message = connection.read(budget);
        if (!message) {
            const server::WsError& error = message.error();
            if (error.is_timeout()) {
                return PollOutcome::KeepStreaming;
            }
            if (error.is_closed()) {
                return PollOutcome::ClientLeft;
            }
            return std::unexpected(error.text());
        }
        switch (message->kind) {
            case server::MessageKind::Close:
                return PollOutcome::ClientLeft;
            case server::MessageKind::Ping:
                // The layer has queued the pong; send it now, not with the next frame.
                if (auto flushed = flush_pending(connection); !flushed) {
                    return std::unexpected(flushed.error());
                }
                break;
            default:
                break;  // text, binary and pong messages have no effect
        }
    }
    return PollOutcome::KeepStreaming;
}

std::expected<void, std::string> flush_pending(server::WebSocket& connection) {
    auto flushed = connection.flush();
    if (!flushed && !(flushed.error().kind() == server::WsErrorKind::Io &&
                      flushed.error().io_error().kind() == os::ErrorKind::WouldBlock)) {
        return std::unexpected(flushed.error().text());
    }
    return {};
}

}  // namespace audio
