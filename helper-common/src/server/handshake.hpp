#pragma once
// The server side of the WebSocket opening handshake (RFC 6455 section 4.2)
// with this program's Origin, Host and token checks.

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "os/socket.hpp"
#include "os/stream.hpp"
#include "server/session_config.hpp"
#include "server/websocket.hpp"
#include "server/ws_error.hpp"

namespace server {

inline constexpr std::chrono::milliseconds HANDSHAKE_READ_TIMEOUT{5000};
inline constexpr std::chrono::milliseconds HANDSHAKE_WRITE_TIMEOUT{2000};
// The whole request head must have arrived this long after the handshake
// starts, however its receives are spread: a client that sends a byte now
// and then holds a connection slot no longer than this.
inline constexpr std::chrono::milliseconds HEAD_DEADLINE{10000};

// Limits on reading the request head; beyond them the peer is treated as an attacker.
inline constexpr std::size_t HEAD_RECEIVE_SIZE = 4096;
inline constexpr std::size_t MAX_HEAD_BYTES = 65536;
inline constexpr std::size_t MAX_HEAD_RECEIVES = 512;
inline constexpr std::size_t TRICKLE_CHECK_AFTER = 64;  // receives before the average is judged
inline constexpr std::size_t MIN_AVERAGE_RECEIVE = 128;

// The socket time-outs accept_client sets (both stay in force after the
// handshake) and the limit on the whole head. The program always uses the
// defaults.
struct HandshakeTimeouts {
    std::chrono::milliseconds read = HANDSHAKE_READ_TIMEOUT;
    std::chrono::milliseconds write = HANDSHAKE_WRITE_TIMEOUT;
    std::chrono::milliseconds head = HEAD_DEADLINE;
};

// Prepares the accepted socket (no-delay, the receive and send time-outs) and
// runs the handshake on it. On success the connection owns the socket and
// "cliente autenticado" has been logged. On failure the socket is closed and
// the text is either the system's error (preparing the socket) or
// "handshake: " followed by the handshake error's text.
[[nodiscard]] std::expected<WebSocket, std::string> accept_client(os::Socket socket, const SessionConfig& config,
                                                                  HandshakeTimeouts timeouts = {});

// The handshake over any stream whose time-outs are already set; local_port
// is the port the client had to name in Host. No receive of the head starts
// or waits past head_deadline: the stream's time-out error ends it. The
// stream is closed before a failure is returned.
[[nodiscard]] WsResult<WebSocket> server_handshake(std::unique_ptr<os::Stream> stream,
                                                   std::uint16_t local_port, const SessionConfig& config,
                                                   os::Deadline head_deadline = {});

// Base64 of the SHA-1 of the key as received followed by the protocol's GUID.
[[nodiscard]] std::string websocket_accept_value(std::string_view key);

// The whole 101 response that accepts a client with this key.
[[nodiscard]] std::string switching_response(std::string_view key);

}  // namespace server
