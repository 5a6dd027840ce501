#pragma once
// What the session reads from its client between frames: a poll of at most
// MAX_READS_PER_POLL messages, held to a time and byte budget so that nothing
// a client sends can keep the session from its frames or from noticing a
// newer client.

#include <chrono>
#include <cstddef>
#include <expected>
#include <string>

#include "server/websocket.hpp"

namespace audio {

inline constexpr int MAX_READS_PER_POLL = 32;
// One frame period: a poll never holds the next frame back by much more.
inline constexpr std::chrono::milliseconds POLL_READ_TIME{10};
// Per read, as much as one receive brings.
inline constexpr std::size_t READ_BYTE_BUDGET = server::RECEIVE_CHUNK;

struct PollLimits {
    std::chrono::milliseconds time = POLL_READ_TIME;  // for the whole poll
    std::size_t bytes_per_read = READ_BYTE_BUDGET;
};

// What one poll of the client decided.
enum class PollOutcome { KeepStreaming, ClientLeft };

// Reads and handles the client's messages: a close, or the connection's end,
// is ClientLeft; a ping's pong is flushed at once; other messages are
// ignored. The poll stops at the first read that finds nothing complete
// (a time-out, or a spent budget). Any other error ends the session with its
// text.
[[nodiscard]] std::expected<PollOutcome, std::string> poll_client(server::WebSocket& connection,
                                                                  PollLimits limits = {});

// Flushes the connection; "would block" counts as success.
[[nodiscard]] std::expected<void, std::string> flush_pending(server::WebSocket& connection);

}  // namespace audio
