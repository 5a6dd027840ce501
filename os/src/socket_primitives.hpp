#pragma once
// What the socket code needs from each platform. socket_posix.cpp and
// socket_windows.cpp define these calls; socket.cpp builds Socket and
// Listener on them once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "os/error.hpp"

namespace os::sockets {

// A SOCKET on Windows, a file descriptor elsewhere.
using Native = std::intptr_t;

enum class Direction { Receive, Send };

// A TCP socket over IPv4 that child processes do not inherit.
[[nodiscard]] Result<Native> open_tcp();

// 127.0.0.1:port (0: the system picks), listening with the backlog.
[[nodiscard]] Result<void> bind_and_listen(Native listener, std::uint16_t port, int backlog);

[[nodiscard]] Result<void> connect_loopback(Native socket, std::uint16_t port);

// Blocks until a connection arrives.
[[nodiscard]] Result<Native> accept_on(Native listener);

// Connected sockets never block in a transfer: readiness is awaited first,
// bounded by the time-out, so even 1 ms is kept.
[[nodiscard]] Result<void> make_nonblocking(Native socket);

// See Socket::local_port.
[[nodiscard]] Result<std::uint16_t> local_port(Native socket);

[[nodiscard]] Result<void> set_nodelay(Native socket, bool on);

// One receive or send that does not wait: the bytes moved (a receive of 0:
// the peer has closed), or nullopt while there is no data or no room.
[[nodiscard]] Result<std::optional<std::size_t>> try_receive(Native socket, std::span<std::uint8_t> buffer);
[[nodiscard]] Result<std::optional<std::size_t>> try_send(Native socket, std::span<const std::uint8_t> bytes);

// Waits up to wait_ms (-1: without limit) for the socket to be ready in the
// direction, or to have failed (the next transfer reports that). False when
// the wait ended without it, which may be a little early.
[[nodiscard]] Result<bool> poll_ready(Native socket, Direction direction, int wait_ms);

// What an operation on a closed Socket reports.
[[nodiscard]] SysError closed_error();

}  // namespace os::sockets
