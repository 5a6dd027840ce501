#pragma once
// The IPv4 loopback address and the port of a socket's address, written once
// for both platform socket files: Winsock and BSD sockets spell these alike.
// Include after the platform's socket headers.

#include <cstdint>
#include <optional>

namespace os::sockets {

// 127.0.0.1:port.
inline sockaddr_in loopback_address(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// The port of an IPv4 or IPv6 address; nullopt for another family.
inline std::optional<std::uint16_t> port_of(const sockaddr_storage& address) {
    switch (address.ss_family) {
        case AF_INET:
            return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
        case AF_INET6:
            return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
        default:
            return std::nullopt;
    }
}

}  // namespace os::sockets
