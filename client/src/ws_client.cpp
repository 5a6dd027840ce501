#include "client/ws_client.hpp"

#include <array>

#include "server/ws_frame.hpp"
#include "server/handshake.hpp"

namespace client {

namespace {

constexpr std::array<std::uint8_t, 4> MASK_KEY{0x37, 0xFA, 0x21, 0x3D};

std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string upgrade_request(std::optional<std::string_view> origin, std::optional<std::string_view> host,
                            std::string_view target, std::string_view extra_headers, std::string_view key) {
    std::string request = "GET " + std::string(target) + " HTTP/1.1\r\n";
    if (host) {
        request += "Host: " + std::string(*host) + "\r\n";
    }
    request += "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n";
    request += "Sec-WebSocket-Key: " + std::string(key) + "\r\n";
    if (origin) {
        request += "Origin: " + std::string(*origin) + "\r\n";
    }
    request += extra_headers;
    request += "\r\n";
    return request;
}

std::vector<std::uint8_t> client_frame(std::uint8_t opcode, std::span<const std::uint8_t> payload, bool masked,
                                       bool fin, std::uint8_t rsv) {
    std::vector<std::uint8_t> frame;
    server::append_frame_header(frame, {.fin = fin,
                                        .reserved = rsv,
                                        .opcode = opcode,
                                        .masked = masked,
                                        .mask = masked ? MASK_KEY : std::array<std::uint8_t, 4>{},
                                        .payload_length = payload.size()});
    const std::size_t start = frame.size();
    frame.insert(frame.end(), payload.begin(), payload.end());
    if (masked) {
        server::apply_mask(std::span(frame).subspan(start), MASK_KEY, 0);
    }
    return frame;
}

std::vector<std::uint8_t> client_frame(std::uint8_t opcode, std::string_view payload, bool masked, bool fin,
                                       std::uint8_t rsv) {
    return client_frame(opcode, as_bytes(payload), masked, fin, rsv);
}

std::string close_body(std::uint16_t code, std::string_view reason) {
    std::string body;
    body += static_cast<char>(code >> 8);
    body += static_cast<char>(code & 0xFF);
    body += reason;
    return body;
}

std::optional<ServerFrame> parse_frame(std::span<const std::uint8_t> bytes) {
    const auto parsed = server::parse_frame_header(bytes);
    if (!parsed) {
        return std::nullopt;
    }
    const server::WsFrameHeader& header = parsed->header;
    const std::span<const std::uint8_t> rest = bytes.subspan(parsed->size);
    if (rest.size() < header.payload_length) {
        return std::nullopt;
    }
    ServerFrame frame;
    frame.fin = header.fin;
    frame.rsv = header.reserved;
    frame.opcode = header.opcode;
    frame.masked = header.masked;
    const auto payload = rest.first(static_cast<std::size_t>(header.payload_length));
    frame.payload.assign(payload.begin(), payload.end());
    if (header.masked) {
        server::apply_mask(frame.payload, header.mask, 0);
    }
    frame.wire_size = parsed->size + payload.size();
    return frame;
}

std::vector<ServerFrame> parse_frames(std::span<const std::uint8_t> bytes) {
    std::vector<ServerFrame> frames;
    while (auto frame = parse_frame(bytes)) {
        bytes = bytes.subspan(frame->wire_size);
        frames.push_back(std::move(*frame));
    }
    return frames;
}

ClientResult<WsClient> WsClient::connect(std::uint16_t port) {
    auto socket = os::Socket::connect_loopback(port);
    if (!socket) {
        return std::unexpected(ClientError(ClientErrorKind::Connect, socket.error().text()));
    }
    (void)socket->set_nodelay(true);
    (void)socket->set_write_timeout(std::chrono::seconds(10));
    return WsClient(std::move(*socket));
}

ClientResult<void> WsClient::send_raw(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        auto written = socket_.write(bytes);
        if (!written) {
            return std::unexpected(ClientError(ClientErrorKind::Send, written.error().text()));
        }
        bytes = bytes.subspan(*written);
    }
    return {};
}

ClientResult<void> WsClient::send_raw(std::string_view text) {
    return send_raw(as_bytes(text));
}

ClientResult<bool> WsClient::receive_more(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    if (peer_closed_) {
        return std::unexpected(ClientError(ClientErrorKind::Closed));
    }
    const auto left = ceil<milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    if (auto set = socket_.set_read_timeout(left); !set) {
        return std::unexpected(ClientError(ClientErrorKind::Receive, "set_read_timeout: " + set.error().text()));
    }
    std::array<std::uint8_t, 65536> chunk{};
    auto n = socket_.read(chunk);
    if (!n) {
        if (n.error().is_timeout()) {
            return false;
        }
        return std::unexpected(ClientError(ClientErrorKind::Receive, n.error().text()));
    }
    if (*n == 0) {
        peer_closed_ = true;
        return std::unexpected(ClientError(ClientErrorKind::Closed));
    }
    received_.insert(received_.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*n));
    return true;
}

ClientResult<std::string> WsClient::handshake(std::optional<std::string_view> origin,
                                                            std::optional<std::string_view> host,
                                                            std::string_view target,
                                                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (auto sent = send_raw(upgrade_request(origin, host, target)); !sent) {
        return std::unexpected(sent.error());
    }
    for (;;) {
        const std::string_view seen(reinterpret_cast<const char*>(received_.data()), received_.size());
        if (const auto end = seen.find("\r\n\r\n"); end != std::string_view::npos) {
            std::string head(seen.substr(0, end + 4));
            received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(end + 4));
            return head;
        }
        auto more = receive_more(deadline);
        if (!more) {
            if (more.error().kind() == ClientErrorKind::Closed) {
                std::string all(seen);
                received_.clear();
                return all;
            }
            return std::unexpected(more.error());
        }
        if (!*more) {
            return std::unexpected(ClientError(ClientErrorKind::TimedOut));
        }
    }
}

ClientResult<void> WsClient::send_frame(std::uint8_t opcode, std::span<const std::uint8_t> payload,
                                                      bool masked, bool fin) {
    return send_raw(client_frame(opcode, payload, masked, fin));
}

ClientResult<void> WsClient::send_frame(std::uint8_t opcode, std::string_view payload, bool masked,
                                                      bool fin) {
    return send_frame(opcode, as_bytes(payload), masked, fin);
}

ClientResult<ServerFrame> WsClient::read_frame(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto frame = parse_frame(received_)) {
            received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(frame->wire_size));
            return std::move(*frame);
        }
        auto more = receive_more(deadline);
        if (!more) {
            return std::unexpected(more.error());
        }
        if (!*more) {
            return std::unexpected(ClientError(ClientErrorKind::TimedOut));
        }
    }
}

ClientResult<std::string> WsClient::read_until_closed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto more = receive_more(deadline);
        if (!more) {
            if (more.error().kind() == ClientErrorKind::Closed) {
                std::string all(received_.begin(), received_.end());
                received_.clear();
                return all;
            }
            return std::unexpected(more.error());
        }
        if (!*more) {
            return std::unexpected(ClientError(ClientErrorKind::TimedOut));
        }
    }
}

ClientResult<WsClient> open_websocket(std::uint16_t port, std::optional<std::string_view> origin,
                                                    std::optional<std::string_view> host, std::string_view target) {
    auto client = WsClient::connect(port);
    if (!client) {
        return std::unexpected(client.error());
    }
    auto answer = client->handshake(origin, host, target);
    if (!answer) {
        return std::unexpected(answer.error());
    }
    if (*answer != server::switching_response(SAMPLE_KEY)) {
        return std::unexpected(ClientError(ClientErrorKind::UnexpectedAnswer, *answer));
    }
    return std::move(*client);
}

}  // namespace client
