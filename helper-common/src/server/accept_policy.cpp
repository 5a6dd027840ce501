#include "server/accept_policy.hpp"

#include <algorithm>

#include "panic.hpp"
#include "server/websocket_texts.hpp"

namespace server {

std::string_view refusal_name(HandshakeRefusal refusal) {
    switch (refusal) {
    case HandshakeRefusal::Origin:
        return "Origin";
    case HandshakeRefusal::Host:
        return "Host";
    case HandshakeRefusal::Token:
        return "Token";
    }
    common::panic("HandshakeRefusal with an unknown value");
}

bool origin_allowed(std::optional<std::string_view> origin,
                    std::span<const std::string> additional_origins) {
    if (std::ranges::find(additional_origins, "*") != additional_origins.end()) {
        return true;
    }
    if (!origin) {
        return false;
    }
    return *origin == texts::BUILTIN_ORIGIN ||
           std::ranges::find(additional_origins, *origin) != additional_origins.end();
}

bool host_allowed(std::optional<std::string_view> host, std::uint16_t local_port) {
    if (!host) {
        return false;
    }
    const std::string port = std::to_string(local_port);
    return *host == "127.0.0.1:" + port || *host == "localhost:" + port;
}

bool constant_time_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned>(static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]));
    }
    // Keep the compiler from turning the loop into an early-exit comparison.
    volatile unsigned result = difference;
    return result == 0;
}

bool token_presented(std::string_view path_and_query, std::string_view token) {
    const std::size_t question = path_and_query.find('?');
    if (question == std::string_view::npos) {
        return false;
    }
    std::string_view query = path_and_query.substr(question + 1);
    for (;;) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        if (piece.starts_with("t=")) {
            return constant_time_equal(piece.substr(2), token);
        }
        if (amp == std::string_view::npos) {
            return false;
        }
        query.remove_prefix(amp + 1);
    }
}

std::optional<HandshakeRefusal> check_client(std::optional<std::string_view> origin,
                                             std::optional<std::string_view> host,
                                             std::string_view path_and_query,
                                             std::uint16_t local_port,
                                             std::string_view token,
                                             std::span<const std::string> additional_origins) {
    if (!origin_allowed(origin, additional_origins)) {
        return HandshakeRefusal::Origin;
    }
    if (!host_allowed(host, local_port)) {
        return HandshakeRefusal::Host;
    }
    if (!token_presented(path_and_query, token)) {
        return HandshakeRefusal::Token;
    }
    return std::nullopt;
}

}  // namespace server
