#include "server/handshake.hpp"

#include <vector>

#include "server/accept_policy.hpp"
#include "server/base64.hpp"
#include "server/http_request.hpp"
#include "server/sha1.hpp"
#include "server/websocket_texts.hpp"

namespace server {

namespace {

std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void log_record(const SessionConfig& config, std::string_view record) {
    if (config.log != nullptr) {
        config.log(record);
    }
}

WsResult<void> write_all(os::Stream& stream, std::string_view text) {
    std::span<const std::uint8_t> rest = as_bytes(text);
    while (!rest.empty()) {
        const auto written = stream.write(rest);
        if (!written) {
            return std::unexpected(WsError::io(written.error()));
        }
        if (*written == 0) {
            return std::unexpected(WsError::io(os::SysError{0, texts::WRITE_ZERO.data()}));
        }
        rest = rest.subspan(*written);
    }
    return {};
}

// Receives until a complete head can be parsed. The head's views point into
// `buffer`, which holds everything received, the head and anything after it.
WsResult<RequestHead> read_request_head(os::Stream& stream, std::vector<std::uint8_t>& buffer,
                                        os::Deadline deadline) {
    std::size_t receives = 0;
    for (;;) {
        // Past the deadline the head has timed out, as one silent receive would.
        if (deadline && std::chrono::steady_clock::now() >= *deadline) {
            return std::unexpected(WsError::io(os::timeout_error()));
        }
        const std::size_t old_size = buffer.size();
        buffer.resize(old_size + HEAD_RECEIVE_SIZE);
        const auto received = stream.read_before(std::span(buffer).subspan(old_size), deadline);
        buffer.resize(old_size + (received ? *received : 0));
        if (!received) {
            return std::unexpected(WsError::io(received.error()));
        }
        if (*received == 0) {
            return std::unexpected(WsError::protocol(texts::HANDSHAKE_NOT_FINISHED));
        }
        ++receives;
        // A head is a few hundred bytes in one or two pieces; anything far
        // beyond that only ties up a connection thread.
        const bool too_many = receives > MAX_HEAD_RECEIVES;
        const bool too_big = buffer.size() > MAX_HEAD_BYTES;
        const bool trickled = receives > TRICKLE_CHECK_AFTER && buffer.size() < MIN_AVERAGE_RECEIVE * receives;
        if (too_many || too_big || trickled) {
            return std::unexpected(WsError::attack());
        }
        auto parsed = parse_request_head(buffer);
        if (!parsed) {
            if (parsed.error() == HeadError::TooManyHeaders) {
                return std::unexpected(WsError::capacity(texts::TOO_MANY_HEADERS));
            }
            return std::unexpected(
                WsError::protocol(std::string(texts::HTTP_PARSE_PREFIX) + std::string(head_error_text(parsed.error()))));
        }
        if (*parsed) {
            return std::move(**parsed);
        }
    }
}

bool has_upgrade_token(std::string_view value) {
    while (!value.empty()) {
        const std::size_t end = value.find_first_of(" ,");
        if (equals_ignoring_case(value.substr(0, end), "upgrade")) {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        value.remove_prefix(end + 1);
    }
    return false;
}

// RFC 6455 section 4.2.1, in order; returns the key.
WsResult<std::string_view> check_upgrade(const RequestHead& head) {
    const auto connection = visible_header_value(head, "Connection");
    if (!connection || !has_upgrade_token(*connection)) {
        return std::unexpected(WsError::protocol(texts::NO_CONNECTION_UPGRADE));
    }
    const auto upgrade = visible_header_value(head, "Upgrade");
    if (!upgrade || !equals_ignoring_case(*upgrade, "websocket")) {
        return std::unexpected(WsError::protocol(texts::NO_UPGRADE_WEBSOCKET));
    }
    const HttpHeader* version = find_header(head, "Sec-WebSocket-Version");
    if (version == nullptr || version->value != "13") {
        return std::unexpected(WsError::protocol(texts::NO_VERSION_13));
    }
    const HttpHeader* key = find_header(head, "Sec-WebSocket-Key");
    if (key == nullptr) {
        return std::unexpected(WsError::protocol(texts::NO_KEY));
    }
    const auto decoded = key->value.size() == 24 ? base64_decode(key->value) : std::nullopt;
    if (!decoded || decoded->size() != 16) {
        return std::unexpected(WsError::protocol(texts::INVALID_KEY));
    }
    return key->value;
}

WsResult<void> run_handshake(os::Stream& stream, std::uint16_t local_port, const SessionConfig& config,
                             os::Deadline head_deadline) {
    std::vector<std::uint8_t> buffer;
    auto head = read_request_head(stream, buffer, head_deadline);
    if (!head) {
        return std::unexpected(head.error());
    }
    if (head->method != "GET") {
        return std::unexpected(WsError::protocol(texts::WRONG_METHOD));
    }
    if (head->minor_version != 1) {
        return std::unexpected(WsError::protocol(texts::WRONG_VERSION));
    }
    // The parser already holds header names and values to HTTP's syntax;
    // the target needs the finer URI rules.
    if (!is_valid_request_target(head->target)) {
        return std::unexpected(WsError::http_format(texts::INVALID_TARGET));
    }
    // A client that sends before it has seen our answer is not one we serve.
    if (buffer.size() > head->length) {
        return std::unexpected(WsError::protocol(texts::JUNK_AFTER_REQUEST));
    }
    const auto key = check_upgrade(*head);
    if (!key) {
        return std::unexpected(key.error());
    }

    const auto refusal = check_client(visible_header_value(*head, "Origin"), visible_header_value(*head, "Host"),
                                      target_path_and_query(head->target), local_port, config.token,
                                      config.additional_origins);
    if (refusal) {
        log_record(config, std::string(texts::RECORD_REFUSED) + std::string(refusal_name(*refusal)));
        if (auto sent = write_all(stream, texts::FORBIDDEN_RESPONSE); !sent) {
            return sent;
        }
        return std::unexpected(WsError::forbidden());
    }

    if (auto sent = write_all(stream, switching_response(*key)); !sent) {
        return sent;
    }
    log_record(config, texts::RECORD_AUTHENTICATED);
    return {};
}

}  // namespace

std::string websocket_accept_value(std::string_view key) {
    Sha1 hash;
    hash.update(as_bytes(key));
    hash.update(as_bytes(texts::WEBSOCKET_GUID));
    return base64_encode(hash.finish());
}

std::string switching_response(std::string_view key) {
    return std::string(texts::SWITCHING_RESPONSE_HEAD) + websocket_accept_value(key) + "\r\n\r\n";
}

WsResult<WebSocket> server_handshake(std::unique_ptr<os::Stream> stream, std::uint16_t local_port,
                                     const SessionConfig& config, os::Deadline head_deadline) {
    if (auto done = run_handshake(*stream, local_port, config, head_deadline); !done) {
        stream->close();
        return std::unexpected(done.error());
    }
    return WebSocket(std::move(stream));
}

std::expected<WebSocket, std::string> accept_client(os::Socket socket, const SessionConfig& config,
                                                    HandshakeTimeouts timeouts) {
    // The connection thread runs this right after the accept.
    const os::Deadline head_deadline = std::chrono::steady_clock::now() + timeouts.head;
    const auto port = socket.local_port();
    if (!port) {
        socket.close();
        return std::unexpected(port.error().text());
    }
    (void)socket.set_nodelay(true);  // without it frames are only later, never wrong
    if (auto set = socket.set_read_timeout(timeouts.read); !set) {
        socket.close();
        return std::unexpected(set.error().text());
    }
    if (auto set = socket.set_write_timeout(timeouts.write); !set) {
        socket.close();
        return std::unexpected(set.error().text());
    }
    auto connection =
        server_handshake(std::make_unique<os::Socket>(std::move(socket)), *port, config, head_deadline);
    if (!connection) {
        return std::unexpected(std::string(texts::HANDSHAKE_PREFIX) + connection.error().text());
    }
    return std::move(*connection);
}

}  // namespace server
