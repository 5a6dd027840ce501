#pragma once
// Loopback TCP sockets. Move-only owners that close on destruction.

#include <chrono>
#include <cstdint>
#include <utility>

#include "os/error.hpp"
#include "os/owned_handle.hpp"
#include "os/stream.hpp"

namespace os {

// A socket as the portable code holds it: a SOCKET on Windows, a file
// descriptor elsewhere. Closing only closes.
struct SocketTraits {
    using Value = std::intptr_t;
    static constexpr Value EMPTY = -1;  // INVALID_SOCKET on Windows
    static bool is_valid(Value value) noexcept { return value != EMPTY; }
    static void close(Value value) noexcept;
};

// A connected socket is shut down both ways before it is closed.
struct ConnectionTraits : SocketTraits {
    static void close(Value value) noexcept;
};

// A connected TCP socket. Time-outs are enforced by waiting for readiness
// before each transfer, so even 1 ms is honoured to the millisecond.
class Socket final : public Stream {
public:
    Socket() = default;

    // Connects to 127.0.0.1:port (clients and tests).
    [[nodiscard]] static Result<Socket> connect_loopback(std::uint16_t port);

    // Port of the socket's own address (IPv4 or IPv6); another family gives
    // the error "invalid argument".
    [[nodiscard]] Result<std::uint16_t> local_port() const;

    [[nodiscard]] Result<void> set_nodelay(bool on);
    [[nodiscard]] Result<void> set_read_timeout(std::chrono::milliseconds timeout) override;
    [[nodiscard]] Result<void> set_write_timeout(std::chrono::milliseconds timeout) override;

    [[nodiscard]] std::chrono::milliseconds write_timeout() const override { return write_timeout_; }

    [[nodiscard]] Result<std::size_t> read_before(std::span<std::uint8_t> buffer, Deadline deadline) override;
    [[nodiscard]] Result<std::size_t> write_before(std::span<const std::uint8_t> bytes, Deadline deadline) override;

    [[nodiscard]] Result<bool> wait_readable(std::chrono::milliseconds timeout) override;

    void close() override { handle_.reset(); }

private:
    friend class Listener;
    explicit Socket(OwnedHandle<ConnectionTraits> handle) : handle_(std::move(handle)) {}
    // A newly connected socket, switched to transfers that never block.
    [[nodiscard]] static Result<Socket> connected(OwnedHandle<ConnectionTraits> handle);

    OwnedHandle<ConnectionTraits> handle_;
    std::chrono::milliseconds read_timeout_{0};   // zero: no limit
    std::chrono::milliseconds write_timeout_{0};  // zero: no limit
};

// A listening TCP socket.
class Listener {
public:
    // Binds 127.0.0.1:port (0: the system picks) and listens with the backlog.
    [[nodiscard]] static Result<Listener> bind_loopback(std::uint16_t port, int backlog);

    [[nodiscard]] Result<std::uint16_t> local_port() const;

    // Blocks until a connection arrives.
    [[nodiscard]] Result<Socket> accept();

private:
    explicit Listener(OwnedHandle<SocketTraits> handle) : handle_(std::move(handle)) {}
    OwnedHandle<SocketTraits> handle_;
};

}  // namespace os
