#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "os/socket.hpp"
#include "socket_address.hpp"
#include "socket_primitives.hpp"

namespace os {
namespace {

int fd_of(sockets::Native socket) { return static_cast<int>(socket); }

std::unexpected<SysError> failure() { return std::unexpected(last_socket_error()); }

// Runs a receive or send again when a signal cut it short.
template <class Call>
Result<std::optional<std::size_t>> attempt(Call call) {
    for (;;) {
        const ssize_t moved = call();
        if (moved >= 0) {
            return static_cast<std::size_t>(moved);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return std::nullopt;
        }
        if (errno != EINTR) {
            return failure();
        }
    }
}

}  // namespace

void SocketTraits::close(Value value) noexcept { ::close(fd_of(value)); }

void ConnectionTraits::close(Value value) noexcept {
    ::shutdown(fd_of(value), SHUT_RDWR);
    ::close(fd_of(value));
}

namespace sockets {

Result<Native> open_tcp() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return failure();
    }
    return fd;
}

Result<void> bind_and_listen(Native listener, std::uint16_t port, int backlog) {
    const sockaddr_in address = loopback_address(port);
    if (::bind(fd_of(listener), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_of(listener), backlog) != 0) {
        return failure();
    }
    return {};
}

Result<void> connect_loopback(Native socket, std::uint16_t port) {
    const sockaddr_in address = loopback_address(port);
    int result = 0;
    do {
        result = ::connect(fd_of(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return failure();
    }
    return {};
}

Result<Native> accept_on(Native listener) {
    for (;;) {
        const int fd = ::accept4(fd_of(listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EINTR) {
            return failure();
        }
    }
}

Result<void> make_nonblocking(Native socket) {
    const int flags = ::fcntl(fd_of(socket), F_GETFL);
    if (flags < 0 || ::fcntl(fd_of(socket), F_SETFL, flags | O_NONBLOCK) != 0) {
        return failure();
    }
    return {};
}

Result<std::uint16_t> local_port(Native socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_of(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return failure();
    }
    if (auto port = port_of(address)) {
        return *port;
    }
    return std::unexpected(SysError{EINVAL, "invalid argument"});
}

Result<void> set_nodelay(Native socket, bool on) {
    const int value = on ? 1 : 0;
    if (::setsockopt(fd_of(socket), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) {
        return failure();
    }
    return {};
}

Result<std::optional<std::size_t>> try_receive(Native socket, std::span<std::uint8_t> buffer) {
    return attempt([&] { return ::recv(fd_of(socket), buffer.data(), buffer.size(), 0); });
}

// A peer that has gone gives EPIPE here instead of the signal that would end
// the process.
Result<std::optional<std::size_t>> try_send(Native socket, std::span<const std::uint8_t> bytes) {
    return attempt([&] { return ::send(fd_of(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL); });
}

// A signal ends the wait early, which the caller's deadline decides about.
Result<bool> poll_ready(Native socket, Direction direction, int wait_ms) {
    pollfd waiter{fd_of(socket), static_cast<short>(direction == Direction::Receive ? POLLIN : POLLOUT), 0};
    const int ready = ::poll(&waiter, 1, wait_ms);
    if (ready < 0 && errno != EINTR) {
        return failure();
    }
    return ready > 0;
}

SysError closed_error() { return SysError{EBADF}; }

}  // namespace sockets
}  // namespace os
