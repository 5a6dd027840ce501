#pragma once
// A small WebSocket client, for the listening tool and the tests: it builds
// upgrade requests and masked client frames, and parses the server's frames.
// The frame functions work on plain bytes (for in-memory tests); WsClient
// drives them over a loopback os::Socket.

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_error.hpp"
#include "os/socket.hpp"
#include "server/websocket_texts.hpp"

namespace client {

// The key of RFC 6455 section 1.3; its accept value is "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=".
inline constexpr std::string_view SAMPLE_KEY = "dGhlIHNhbXBsZSBub25jZQ==";
// The Origin of the web client, the one the server admits.
inline constexpr std::string_view DISCORD_ORIGIN = server::texts::BUILTIN_ORIGIN;

template <typename T>
using ClientResult = std::expected<T, ClientError>;

// A standard upgrade request: GET target, Host and Origin when given
// (nullopt leaves the header out), Connection, Upgrade, version 13 and the
// key; `extra_headers` (whole lines ending in CR LF) go before the empty line.
[[nodiscard]] std::string upgrade_request(std::optional<std::string_view> origin,
                                          std::optional<std::string_view> host, std::string_view target,
                                          std::string_view extra_headers = {},
                                          std::string_view key = SAMPLE_KEY);

// One client frame with the length in its shortest form. Masked frames use a
// fixed non-zero key so that a server that forgets to unmask is caught.
[[nodiscard]] std::vector<std::uint8_t> client_frame(std::uint8_t opcode, std::span<const std::uint8_t> payload,
                                                     bool masked = true, bool fin = true, std::uint8_t rsv = 0);
[[nodiscard]] std::vector<std::uint8_t> client_frame(std::uint8_t opcode, std::string_view payload,
                                                     bool masked = true, bool fin = true, std::uint8_t rsv = 0);

// A close frame body: the code big-endian, then the reason.
[[nodiscard]] std::string close_body(std::uint16_t code, std::string_view reason);

struct ServerFrame {
    bool fin = false;
    std::uint8_t rsv = 0;
    std::uint8_t opcode = 0;
    bool masked = false;
    std::vector<std::uint8_t> payload;  // unmasked
    std::size_t wire_size = 0;          // header and payload bytes

    [[nodiscard]] std::string_view text() const {
        return {reinterpret_cast<const char*>(payload.data()), payload.size()};
    }
};

// The frame at the start of the bytes; nullopt while incomplete.
[[nodiscard]] std::optional<ServerFrame> parse_frame(std::span<const std::uint8_t> bytes);

// Every complete frame in the bytes, in order; trailing partial bytes are ignored.
[[nodiscard]] std::vector<ServerFrame> parse_frames(std::span<const std::uint8_t> bytes);

class WsClient {
public:
    [[nodiscard]] static ClientResult<WsClient> connect(std::uint16_t port);

    // Sends the bytes in full.
    [[nodiscard]] ClientResult<void> send_raw(std::span<const std::uint8_t> bytes);
    [[nodiscard]] ClientResult<void> send_raw(std::string_view text);

    // Sends upgrade_request(origin, host, target) and returns the server's
    // answer up to and including its empty line (or, when the server closes
    // first, everything it sent, possibly nothing).
    [[nodiscard]] ClientResult<std::string> handshake(
        std::optional<std::string_view> origin, std::optional<std::string_view> host, std::string_view target,
        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    [[nodiscard]] ClientResult<void> send_frame(std::uint8_t opcode,
                                                              std::span<const std::uint8_t> payload,
                                                              bool masked = true, bool fin = true);
    [[nodiscard]] ClientResult<void> send_frame(std::uint8_t opcode, std::string_view payload,
                                                              bool masked = true, bool fin = true);

    // The next server frame; fails with TimedOut when none is complete within
    // the time, or Closed when the server ends the connection first.
    [[nodiscard]] ClientResult<ServerFrame> read_frame(
        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Everything the server sends until it closes; fails with TimedOut.
    [[nodiscard]] ClientResult<std::string> read_until_closed(
        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    [[nodiscard]] os::Socket& socket() { return socket_; }

private:
    explicit WsClient(os::Socket socket) : socket_(std::move(socket)) {}

    // Receives more bytes into received_ before the deadline; false on time-out.
    [[nodiscard]] ClientResult<bool> receive_more(std::chrono::steady_clock::time_point deadline);

    os::Socket socket_;
    std::vector<std::uint8_t> received_;  // received but not yet returned
    bool peer_closed_ = false;
};

// connect + handshake with the sample key; fails unless the answer is the
// expected 101 response.
[[nodiscard]] ClientResult<WsClient> open_websocket(std::uint16_t port,
                                                                  std::optional<std::string_view> origin,
                                                                  std::optional<std::string_view> host,
                                                                  std::string_view target);

}  // namespace client
