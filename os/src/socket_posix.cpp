#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "os/socket.hpp"

namespace os {
namespace {

using Clock = std::chrono::steady_clock;

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

// Waits for the events until the deadline (none: without limit). Returns
// false once the deadline has passed; a passed deadline still gets one look.
Result<bool> wait_for(int fd, short events, Deadline deadline) {
    for (;;) {
        int wait_ms = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            wait_ms = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
        }
        pollfd waiter{fd, events, 0};
        const int ready = ::poll(&waiter, 1, wait_ms);
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            // poll may end a little early; the deadline decides.
            if (deadline && Clock::now() >= *deadline) {
                return false;
            }
            continue;
        }
        if (errno != EINTR) {
            return std::unexpected(last_socket_error());
        }
    }
}

// The earlier of the time-out counted from now (0: none) and the deadline.
Deadline earliest(std::chrono::milliseconds timeout, Deadline deadline) {
    if (timeout.count() <= 0) {
        return deadline;
    }
    const auto own = Clock::now() + timeout;
    return deadline ? std::min(own, *deadline) : own;
}

// Runs one non-blocking receive or send, waiting for readiness (until the
// deadline) whenever the socket has no data or no room yet; `expired` is the
// error once the deadline has passed.
template <class Attempt>
Result<std::size_t> transfer(int fd, short events, Deadline deadline, SysError expired, Attempt attempt) {
    for (;;) {
        const ssize_t n = attempt();
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return std::unexpected(last_socket_error());
        }
        auto ready = wait_for(fd, events, deadline);
        if (!ready) {
            return std::unexpected(ready.error());
        }
        if (!*ready) {
            return std::unexpected(expired);
        }
    }
}

Result<void> set_timeout_option(int fd, int option, std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    if (::setsockopt(fd, SOL_SOCKET, option, &value, sizeof value) != 0) {
        return std::unexpected(last_socket_error());
    }
    return {};
}

Result<std::uint16_t> port_of(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::unexpected(last_socket_error());
    }
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return std::unexpected(SysError{EINVAL, "invalid argument"});
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Connected sockets never block in a transfer: readiness is awaited first,
// bounded by the stored time-out.
void make_nonblocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

}  // namespace

Socket::Socket(Socket&& other) noexcept
    : handle_(other.handle_), read_timeout_(other.read_timeout_), write_timeout_(other.write_timeout_) {
    other.handle_ = INVALID;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        read_timeout_ = other.read_timeout_;
        write_timeout_ = other.write_timeout_;
        other.handle_ = INVALID;
    }
    return *this;
}

Socket::~Socket() { close(); }

Result<Socket> Socket::connect_loopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::unexpected(last_socket_error());
    }
    Socket socket(fd);
    const sockaddr_in address = loopback(port);
    int result = 0;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return std::unexpected(last_socket_error());
    }
    make_nonblocking(fd);
    return socket;
}

Result<std::uint16_t> Socket::local_port() const { return port_of(fd_of(handle_)); }

Result<void> Socket::set_nodelay(bool on) {
    const int value = on ? 1 : 0;
    if (::setsockopt(fd_of(handle_), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) {
        return std::unexpected(last_socket_error());
    }
    return {};
}

Result<void> Socket::set_read_timeout(std::chrono::milliseconds timeout) {
    if (auto set = set_timeout_option(fd_of(handle_), SO_RCVTIMEO, timeout); !set) {
        return set;
    }
    read_timeout_ = timeout;
    return {};
}

Result<void> Socket::set_write_timeout(std::chrono::milliseconds timeout) {
    if (auto set = set_timeout_option(fd_of(handle_), SO_SNDTIMEO, timeout); !set) {
        return set;
    }
    write_timeout_ = timeout;
    return {};
}

Result<std::size_t> Socket::read_before(std::span<std::uint8_t> buffer, Deadline deadline) {
    const int fd = fd_of(handle_);
    return transfer(fd, POLLIN, earliest(read_timeout_, deadline), timeout_error(),
                    [&] { return ::recv(fd, buffer.data(), buffer.size(), 0); });
}

// A send without room until the deadline is a time-out, not "would block":
// the peer has stopped reading, and that ends a session on every platform.
Result<std::size_t> Socket::write_before(std::span<const std::uint8_t> bytes, Deadline deadline) {
    const int fd = fd_of(handle_);
    return transfer(fd, POLLOUT, earliest(write_timeout_, deadline), send_timeout_error(),
                    [&] { return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); });
}

Result<bool> Socket::wait_readable(std::chrono::milliseconds timeout) {
    pollfd waiter{fd_of(handle_), POLLIN, 0};
    const int ready = ::poll(&waiter, 1, static_cast<int>(timeout.count()));
    if (ready < 0) {
        if (errno == EINTR) {
            return false;
        }
        return std::unexpected(last_socket_error());
    }
    return ready > 0;
}

void Socket::close() {
    if (handle_ != INVALID) {
        ::shutdown(fd_of(handle_), SHUT_RDWR);
        ::close(fd_of(handle_));
        handle_ = INVALID;
    }
}

Listener::Listener(Listener&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

Listener& Listener::operator=(Listener&& other) noexcept {
    if (this != &other) {
        if (handle_ >= 0) {
            ::close(fd_of(handle_));
        }
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

Listener::~Listener() {
    if (handle_ >= 0) {
        ::close(fd_of(handle_));
    }
}

Result<Listener> Listener::bind_loopback(std::uint16_t port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::unexpected(last_socket_error());
    }
    Listener listener(fd);
    const sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0) {
        return std::unexpected(last_socket_error());
    }
    return listener;
}

Result<std::uint16_t> Listener::local_port() const { return port_of(fd_of(handle_)); }

Result<Socket> Listener::accept() {
    for (;;) {
        const int fd = ::accept4(fd_of(handle_), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            make_nonblocking(fd);
            return Socket(fd);
        }
        if (errno != EINTR) {
            return std::unexpected(last_socket_error());
        }
    }
}

}  // namespace os
