#pragma once
// Loopback TCP sockets. Move-only owners that close on destruction.

#include <chrono>
#include <cstdint>
#include <optional>

#include "os/error.hpp"
#include "os/stream.hpp"

namespace os {

// A connected TCP socket. Time-outs are enforced by waiting for readiness
// before each transfer, so even 1 ms is honoured to the millisecond.
class Socket final : public Stream {
public:
    Socket() = default;
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() override;

    // Connects to 127.0.0.1:port (clients and tests).
    [[nodiscard]] static Result<Socket> connect_loopback(std::uint16_t port);

    [[nodiscard]] bool is_open() const { return handle_ != INVALID; }

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

    void close() override;

    // Platform handle, for receive timestamps in benchmarks.
    [[nodiscard]] std::intptr_t native_handle() const { return handle_; }

private:
    friend class Listener;
    static constexpr std::intptr_t INVALID = -1;
    explicit Socket(std::intptr_t handle) : handle_(handle) {}

    std::intptr_t handle_ = INVALID;
    std::chrono::milliseconds read_timeout_{0};
    std::chrono::milliseconds write_timeout_{0};
};

// A listening TCP socket.
class Listener {
public:
    Listener(Listener&& other) noexcept;
    Listener& operator=(Listener&& other) noexcept;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener();

    // Binds 127.0.0.1:port (0: the system picks) and listens with the backlog.
    [[nodiscard]] static Result<Listener> bind_loopback(std::uint16_t port, int backlog);

    [[nodiscard]] Result<std::uint16_t> local_port() const;

    // Blocks until a connection arrives.
    [[nodiscard]] Result<Socket> accept();

private:
    explicit Listener(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = -1;
};

}  // namespace os
