// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <timeapi.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "os/socket.hpp"

namespace os {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr const char* INVALID_ARGUMENT_TEXT = "invalid argument";

// Starts Winsock once per process. The process also asks for 1 ms timer
// resolution here: socket waits are bounded by WSAPoll, whose time-out
// otherwise rounds up to the system tick (about 15.6 ms).
Result<void> ensure_winsock() {
    static const int started = [] {
        WSADATA data{};
        int status = WSAStartup(MAKEWORD(2, 2), &data);
        if (status == 0) {
            (void)timeBeginPeriod(1);
        }
        return status;
    }();
    if (started != 0) {
        return std::unexpected(SysError{started});
    }
    return {};
}

SOCKET as_socket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

std::intptr_t as_handle(SOCKET s) { return static_cast<std::intptr_t>(s); }

std::unexpected<SysError> socket_failure() { return std::unexpected(last_socket_error()); }

std::unexpected<SysError> closed_failure() { return std::unexpected(SysError{WSAENOTSOCK}); }

// A TCP socket that child processes do not inherit.
Result<SOCKET> new_tcp_socket() {
    if (auto started = ensure_winsock(); !started) {
        return std::unexpected(started.error());
    }
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        return socket_failure();
    }
    return s;
}

sockaddr_in loopback_address(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

Result<std::uint16_t> port_of(std::intptr_t handle) {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(as_socket(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return socket_failure();
    }
    switch (address.ss_family) {
        case AF_INET:
            return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
        case AF_INET6:
            return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
        default:
            return std::unexpected(SysError{WSAEINVAL, INVALID_ARGUMENT_TEXT});
    }
}

DWORD timeout_millis(milliseconds timeout) {
    return static_cast<DWORD>(std::clamp<milliseconds::rep>(timeout.count(), 0, INT_MAX));
}

// Waits for the events until the deadline (none: no limit). True when the
// socket is ready (or has failed, which the next transfer reports).
Result<bool> wait_ready(SOCKET s, short events, Deadline deadline) {
    for (;;) {
        // A deadline that has passed still gets one look without waiting.
        int wait_ms = -1;
        if (deadline) {
            auto left = std::chrono::ceil<milliseconds>(*deadline - steady_clock::now());
            wait_ms = static_cast<int>(std::clamp<milliseconds::rep>(left.count(), 0, INT_MAX));
        }
        WSAPOLLFD entry{};
        entry.fd = s;
        entry.events = events;
        int status = WSAPoll(&entry, 1, wait_ms);
        if (status == SOCKET_ERROR) {
            return socket_failure();
        }
        if (status > 0) {
            if ((entry.revents & POLLNVAL) != 0) {
                return closed_failure();
            }
            return true;
        }
        // status 0: WSAPoll's time-out, which may end a little early; the
        // deadline decides.
        if (deadline && steady_clock::now() >= *deadline) {
            return false;
        }
    }
}

// The earlier of the time-out counted from now (0: none) and the deadline.
Deadline earliest(milliseconds timeout, Deadline deadline) {
    if (timeout.count() <= 0) {
        return deadline;
    }
    const auto own = steady_clock::now() + timeout;
    return deadline ? std::min(own, *deadline) : own;
}

// Runs one non-blocking receive or send, waiting for readiness (until the
// deadline, if any) whenever the socket has no data or no room yet; `expired`
// is the error once the deadline has passed.
template <class Attempt>
Result<std::size_t> transfer(SOCKET s, short events, Deadline deadline, SysError expired, Attempt attempt) {
    for (;;) {
        const int done = attempt();
        if (done >= 0) {
            return static_cast<std::size_t>(done);
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            return socket_failure();
        }
        auto ready = wait_ready(s, events, deadline);
        if (!ready) {
            return std::unexpected(ready.error());
        }
        if (!*ready) {
            return std::unexpected(expired);
        }
    }
}

// Connected sockets are non-blocking; every transfer waits with WSAPoll so
// that even a 1 ms time-out is kept.
Result<SOCKET> make_non_blocking(SOCKET s) {
    u_long on = 1;
    if (ioctlsocket(s, static_cast<long>(FIONBIO), &on) != 0) {
        auto error = last_socket_error();
        closesocket(s);
        return std::unexpected(error);
    }
    return s;
}

}  // namespace

Socket::Socket(Socket&& other) noexcept
    : handle_(std::exchange(other.handle_, INVALID)),
      read_timeout_(other.read_timeout_),
      write_timeout_(other.write_timeout_) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, INVALID);
        read_timeout_ = other.read_timeout_;
        write_timeout_ = other.write_timeout_;
    }
    return *this;
}

Socket::~Socket() { close(); }

Result<Socket> Socket::connect_loopback(std::uint16_t port) {
    auto made = new_tcp_socket();
    if (!made) {
        return std::unexpected(made.error());
    }
    SOCKET s = *made;
    sockaddr_in address = loopback_address(port);
    if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        auto error = last_socket_error();
        closesocket(s);
        return std::unexpected(error);
    }
    auto non_blocking = make_non_blocking(s);
    if (!non_blocking) {
        return std::unexpected(non_blocking.error());
    }
    return Socket(as_handle(s));
}

Result<std::uint16_t> Socket::local_port() const {
    if (!is_open()) {
        return closed_failure();
    }
    return port_of(handle_);
}

Result<void> Socket::set_nodelay(bool on) {
    BOOL value = on ? TRUE : FALSE;
    if (setsockopt(as_socket(handle_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                   sizeof value) != 0) {
        return socket_failure();
    }
    return {};
}

Result<void> Socket::set_read_timeout(milliseconds timeout) {
    DWORD value = timeout_millis(timeout);
    if (setsockopt(as_socket(handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value),
                   sizeof value) != 0) {
        return socket_failure();
    }
    read_timeout_ = milliseconds(value);
    return {};
}

Result<void> Socket::set_write_timeout(milliseconds timeout) {
    DWORD value = timeout_millis(timeout);
    if (setsockopt(as_socket(handle_), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value),
                   sizeof value) != 0) {
        return socket_failure();
    }
    write_timeout_ = milliseconds(value);
    return {};
}

Result<std::size_t> Socket::read_before(std::span<std::uint8_t> buffer, Deadline deadline) {
    if (!is_open()) {
        return closed_failure();
    }
    SOCKET s = as_socket(handle_);
    const auto length = static_cast<int>(std::min<std::size_t>(buffer.size(), INT_MAX));
    return transfer(s, POLLRDNORM, earliest(read_timeout_, deadline), timeout_error(),
                    [&] { return recv(s, reinterpret_cast<char*>(buffer.data()), length, 0); });
}

Result<std::size_t> Socket::write_before(std::span<const std::uint8_t> bytes, Deadline deadline) {
    if (!is_open()) {
        return closed_failure();
    }
    SOCKET s = as_socket(handle_);
    const auto length = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    return transfer(s, POLLWRNORM, earliest(write_timeout_, deadline), send_timeout_error(),
                    [&] { return send(s, reinterpret_cast<const char*>(bytes.data()), length, 0); });
}

Result<bool> Socket::wait_readable(milliseconds timeout) {
    if (!is_open()) {
        return closed_failure();
    }
    // A zero time-out here means "just look", not "no limit".
    return wait_ready(as_socket(handle_), POLLRDNORM, steady_clock::now() + std::max(timeout, milliseconds(0)));
}

void Socket::close() {
    if (handle_ != INVALID) {
        SOCKET s = as_socket(std::exchange(handle_, INVALID));
        shutdown(s, SD_BOTH);
        closesocket(s);
    }
}

Listener::Listener(Listener&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

Listener& Listener::operator=(Listener&& other) noexcept {
    if (this != &other) {
        Listener old(std::move(*this));
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

Listener::~Listener() {
    if (handle_ != -1) {
        closesocket(as_socket(handle_));
    }
}

Result<Listener> Listener::bind_loopback(std::uint16_t port, int backlog) {
    auto made = new_tcp_socket();
    if (!made) {
        return std::unexpected(made.error());
    }
    Listener listener(as_handle(*made));
    sockaddr_in address = loopback_address(port);
    if (bind(*made, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return socket_failure();
    }
    if (listen(*made, backlog) != 0) {
        return socket_failure();
    }
    return listener;
}

Result<std::uint16_t> Listener::local_port() const { return port_of(handle_); }

Result<Socket> Listener::accept() {
    SOCKET s = ::accept(as_socket(handle_), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        return socket_failure();
    }
    auto non_blocking = make_non_blocking(s);
    if (!non_blocking) {
        return std::unexpected(non_blocking.error());
    }
    return Socket(as_handle(s));
}

}  // namespace os
