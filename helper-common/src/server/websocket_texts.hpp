#pragma once
// The exact texts of the loopback WebSocket server: error texts, log records
// and the fixed protocol strings. Kept together so that none is re-typed.

#include <string_view>

namespace server::texts {

// Prefixes of the rendered error kinds.
inline constexpr std::string_view CONNECTION_CLOSED = "Connection closed normally";
inline constexpr std::string_view ALREADY_CLOSED = "Trying to work with closed connection";
inline constexpr std::string_view IO_PREFIX = "IO error: ";
inline constexpr std::string_view PROTOCOL_PREFIX = "WebSocket protocol error: ";
inline constexpr std::string_view CAPACITY_PREFIX = "Space limit exceeded: ";
inline constexpr std::string_view UTF8_PREFIX = "UTF-8 encoding error: ";
inline constexpr std::string_view HTTP_FORMAT_PREFIX = "HTTP format error: ";
inline constexpr std::string_view HTTP_PREFIX = "HTTP error: ";
inline constexpr std::string_view ATTACK = "Attack attempt detected";

// Frame layer (RFC 6455 sections 5 and 7).
inline constexpr std::string_view UNMASKED_FRAME = "Received an unmasked frame from client";
inline constexpr std::string_view RESERVED_BITS = "Reserved bits are non-zero";
inline constexpr std::string_view FRAGMENTED_CONTROL = "Fragmented control frame";
inline constexpr std::string_view CONTROL_TOO_BIG =
    "Control frame too big (payload must be 125 bytes or less)";
inline constexpr std::string_view UNKNOWN_CONTROL = "Unknown control frame type: ";
inline constexpr std::string_view UNKNOWN_DATA = "Unknown data frame type: ";
inline constexpr std::string_view NOTHING_TO_CONTINUE = "Continue frame but nothing to continue";
inline constexpr std::string_view EXPECTED_FRAGMENT = "While waiting for more fragments received: ";
inline constexpr std::string_view INVALID_CLOSE = "Invalid close sequence";
inline constexpr std::string_view SEND_AFTER_CLOSING = "Sending after closing is not allowed";
inline constexpr std::string_view RESET_WITHOUT_CLOSE = "Connection reset without closing handshake";
inline constexpr std::string_view MESSAGE_TOO_LONG = "Message too long: ";
inline constexpr std::string_view PROTOCOL_VIOLATION = "Protocol violation";  // reason of a 1002 reply

// Opening handshake (RFC 6455 section 4.2).
inline constexpr std::string_view HANDSHAKE_PREFIX = "handshake: ";
inline constexpr std::string_view HANDSHAKE_NOT_FINISHED = "Handshake not finished";
inline constexpr std::string_view HTTP_PARSE_PREFIX = "HTTP parse error: ";
inline constexpr std::string_view TOO_MANY_HEADERS = "Too many headers";
inline constexpr std::string_view WRONG_METHOD = "Unsupported HTTP method used - only GET is allowed";
inline constexpr std::string_view WRONG_VERSION = "HTTP version must be 1.1 or higher";
inline constexpr std::string_view JUNK_AFTER_REQUEST = "Junk after client request";
inline constexpr std::string_view NO_CONNECTION_UPGRADE = "No \"Connection: upgrade\" header";
inline constexpr std::string_view NO_UPGRADE_WEBSOCKET = "No \"Upgrade: websocket\" header";
inline constexpr std::string_view NO_VERSION_13 = "No \"Sec-WebSocket-Version: 13\" header";
inline constexpr std::string_view NO_KEY = "No \"Sec-WebSocket-Key\" header";
inline constexpr std::string_view INVALID_KEY = "Invalid \"Sec-WebSocket-Key\" header value";
inline constexpr std::string_view INVALID_TARGET = "invalid request target";
inline constexpr std::string_view WRITE_ZERO = "failed to write whole buffer";

// Texts the HTTP head parser names its failures with.
inline constexpr std::string_view PARSE_HEADER_NAME = "invalid header name";
inline constexpr std::string_view PARSE_HEADER_VALUE = "invalid header value";
inline constexpr std::string_view PARSE_NEW_LINE = "invalid new line";
inline constexpr std::string_view PARSE_TOKEN = "invalid token";
inline constexpr std::string_view PARSE_VERSION = "invalid HTTP version";

// Log records written through SessionConfig::log.
inline constexpr std::string_view RECORD_REFUSED = "handshake recusado: ";
inline constexpr std::string_view RECORD_AUTHENTICATED = "cliente autenticado";

// The only web origin admitted without configuration: the one a browser sends
// for the Discord web client. Compared byte for byte.
inline constexpr std::string_view BUILTIN_ORIGIN = "https://discord.com";

// Responses. The refusal carries no header lines at all.
inline constexpr std::string_view FORBIDDEN_RESPONSE = "HTTP/1.1 403 Forbidden\r\n\r\nforbidden";
inline constexpr std::string_view SWITCHING_RESPONSE_HEAD =
    "HTTP/1.1 101 Switching Protocols\r\n"
    "connection: Upgrade\r\n"
    "upgrade: websocket\r\n"
    "sec-websocket-accept: ";
inline constexpr std::string_view WEBSOCKET_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

}  // namespace server::texts
