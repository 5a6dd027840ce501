// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <timeapi.h>

#include <algorithm>
#include <climits>

#include "os/socket.hpp"
#include "socket_address.hpp"
#include "socket_primitives.hpp"

namespace os {
namespace {

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

SOCKET as_socket(sockets::Native socket) { return static_cast<SOCKET>(socket); }

std::unexpected<SysError> failure() { return std::unexpected(last_socket_error()); }

// Whether a call's status is its success value, the error recorded if not.
Result<void> succeeded(int status) {
    if (status != 0) {
        return failure();
    }
    return {};
}

// One receive or send: the byte count, nullopt for "would block", or the error.
Result<std::optional<std::size_t>> outcome(int moved) {
    if (moved >= 0) {
        return static_cast<std::size_t>(moved);
    }
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
        return std::nullopt;
    }
    return failure();
}

int length_of(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

}  // namespace

void SocketTraits::close(Value value) noexcept { closesocket(as_socket(value)); }

void ConnectionTraits::close(Value value) noexcept {
    shutdown(as_socket(value), SD_BOTH);
    closesocket(as_socket(value));
}

namespace sockets {

Result<Native> open_tcp() {
    if (auto started = ensure_winsock(); !started) {
        return std::unexpected(started.error());
    }
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        return failure();
    }
    return static_cast<Native>(s);
}

Result<void> bind_and_listen(Native listener, std::uint16_t port, int backlog) {
    const sockaddr_in address = loopback_address(port);
    if (auto bound = succeeded(bind(as_socket(listener), reinterpret_cast<const sockaddr*>(&address), sizeof address));
        !bound) {
        return bound;
    }
    return succeeded(listen(as_socket(listener), backlog));
}

Result<void> connect_loopback(Native socket, std::uint16_t port) {
    const sockaddr_in address = loopback_address(port);
    return succeeded(connect(as_socket(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

Result<Native> accept_on(Native listener) {
    SOCKET s = accept(as_socket(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        return failure();
    }
    return static_cast<Native>(s);
}

Result<void> make_nonblocking(Native socket) {
    u_long on = 1;
    return succeeded(ioctlsocket(as_socket(socket), static_cast<long>(FIONBIO), &on));
}

Result<std::uint16_t> local_port(Native socket) {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(as_socket(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return failure();
    }
    if (auto port = port_of(address)) {
        return *port;
    }
    return std::unexpected(SysError{WSAEINVAL, "invalid argument"});
}

Result<void> set_nodelay(Native socket, bool on) {
    BOOL value = on ? TRUE : FALSE;
    return succeeded(setsockopt(as_socket(socket), IPPROTO_TCP, TCP_NODELAY,
                                reinterpret_cast<const char*>(&value), sizeof value));
}

Result<std::optional<std::size_t>> try_receive(Native socket, std::span<std::uint8_t> buffer) {
    return outcome(recv(as_socket(socket), reinterpret_cast<char*>(buffer.data()), length_of(buffer.size()), 0));
}

Result<std::optional<std::size_t>> try_send(Native socket, std::span<const std::uint8_t> bytes) {
    return outcome(send(as_socket(socket), reinterpret_cast<const char*>(bytes.data()), length_of(bytes.size()), 0));
}

Result<bool> poll_ready(Native socket, Direction direction, int wait_ms) {
    WSAPOLLFD entry{};
    entry.fd = as_socket(socket);
    entry.events = direction == Direction::Receive ? POLLRDNORM : POLLWRNORM;
    const int status = WSAPoll(&entry, 1, wait_ms);
    if (status == SOCKET_ERROR) {
        return failure();
    }
    if (status > 0 && (entry.revents & POLLNVAL) != 0) {
        return std::unexpected(closed_error());
    }
    return status > 0;
}

SysError closed_error() { return SysError{WSAENOTSOCK}; }

}  // namespace sockets
}  // namespace os
