#pragma once
// What can go wrong on a WebSocket connection or in its opening handshake.
// The split follows the error texts: a normal end, misuse of a finished
// connection, I/O, protocol, capacity, encoding, attack and HTTP failures.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "os/error.hpp"

namespace server {

enum class WsErrorKind {
    ConnectionClosed,  // the closing handshake has completed
    AlreadyClosed,     // an operation on a finished connection
    Io,                // the stream failed, time-outs included
    Protocol,          // the peer broke RFC 6455 (or HTTP framing rules)
    Capacity,          // a size limit was passed
    Utf8,              // a text message or close reason is not UTF-8
    Attack,            // a request head sent in a way meant to exhaust us
    HttpFormat,        // a request part that is not valid HTTP
    Http,              // the request was answered with an HTTP error status
};

class WsError {
public:
    [[nodiscard]] static WsError connection_closed() { return WsError(WsErrorKind::ConnectionClosed); }
    [[nodiscard]] static WsError already_closed() { return WsError(WsErrorKind::AlreadyClosed); }
    [[nodiscard]] static WsError io(os::SysError error);
    [[nodiscard]] static WsError protocol(std::string_view detail);
    // A protocol detail followed by a number, such as an opcode.
    [[nodiscard]] static WsError protocol(std::string_view detail, unsigned number);
    [[nodiscard]] static WsError capacity(std::string_view detail);
    // "Message too long: {size} > {limit}".
    [[nodiscard]] static WsError message_too_long(std::uint64_t size, std::uint64_t limit);
    [[nodiscard]] static WsError utf8(std::string_view detail);
    [[nodiscard]] static WsError attack() { return WsError(WsErrorKind::Attack); }
    [[nodiscard]] static WsError http_format(std::string_view detail);
    // "403 Forbidden": the only status this server refuses with.
    [[nodiscard]] static WsError forbidden();

    [[nodiscard]] WsErrorKind kind() const { return kind_; }
    // The part after the kind's prefix; empty for kinds without one.
    [[nodiscard]] const std::string& detail() const { return detail_; }
    // The system error of an Io error.
    [[nodiscard]] const os::SysError& io_error() const { return io_; }

    // An Io error that only means "nothing arrived (or left) within the
    // time-out": the connection is still usable.
    [[nodiscard]] bool is_timeout() const { return kind_ == WsErrorKind::Io && io_.is_timeout(); }
    // The connection has ended normally or was already finished.
    [[nodiscard]] bool is_closed() const {
        return kind_ == WsErrorKind::ConnectionClosed || kind_ == WsErrorKind::AlreadyClosed;
    }

    // The display text: the kind's prefix followed by the detail.
    [[nodiscard]] std::string text() const;

private:
    explicit WsError(WsErrorKind kind) : kind_(kind) {}
    WsError(WsErrorKind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}

    WsErrorKind kind_;
    std::string detail_;
    os::SysError io_{};
};

template <class T>
using WsResult = std::expected<T, WsError>;

}  // namespace server
