#include "server/ws_error.hpp"

#include "panic.hpp"
#include "server/websocket_texts.hpp"

namespace server {

WsError WsError::io(os::SysError error) {
    WsError e(WsErrorKind::Io);
    e.io_ = error;
    return e;
}

WsError WsError::protocol(std::string_view detail) {
    return WsError(WsErrorKind::Protocol, std::string(detail));
}

WsError WsError::protocol(std::string_view detail, unsigned number) {
    return WsError(WsErrorKind::Protocol, std::string(detail) + std::to_string(number));
}

WsError WsError::capacity(std::string_view detail) {
    return WsError(WsErrorKind::Capacity, std::string(detail));
}

WsError WsError::message_too_long(std::uint64_t size, std::uint64_t limit) {
    std::string detail(texts::MESSAGE_TOO_LONG);
    detail += std::to_string(size);
    detail += " > ";
    detail += std::to_string(limit);
    return WsError(WsErrorKind::Capacity, std::move(detail));
}

WsError WsError::utf8(std::string_view detail) {
    return WsError(WsErrorKind::Utf8, std::string(detail));
}

WsError WsError::http_format(std::string_view detail) {
    return WsError(WsErrorKind::HttpFormat, std::string(detail));
}

WsError WsError::forbidden() {
    return WsError(WsErrorKind::Http, "403 Forbidden");
}

std::string WsError::text() const {
    auto prefixed = [this](std::string_view prefix) {
        std::string out(prefix);
        out += detail_;
        return out;
    };
    switch (kind_) {
    case WsErrorKind::ConnectionClosed:
        return std::string(texts::CONNECTION_CLOSED);
    case WsErrorKind::AlreadyClosed:
        return std::string(texts::ALREADY_CLOSED);
    case WsErrorKind::Io:
        return std::string(texts::IO_PREFIX) + io_.text();
    case WsErrorKind::Protocol:
        return prefixed(texts::PROTOCOL_PREFIX);
    case WsErrorKind::Capacity:
        return prefixed(texts::CAPACITY_PREFIX);
    case WsErrorKind::Utf8:
        return prefixed(texts::UTF8_PREFIX);
    case WsErrorKind::Attack:
        return std::string(texts::ATTACK);
    case WsErrorKind::HttpFormat:
        return prefixed(texts::HTTP_FORMAT_PREFIX);
    case WsErrorKind::Http:
        return prefixed(texts::HTTP_PREFIX);
    }
    common::panic("WsError with an unknown kind");
}

}  // namespace server
