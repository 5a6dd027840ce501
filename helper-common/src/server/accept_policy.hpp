#pragma once
// Who may connect: the Origin, Host and token rules of the handshake, kept
// apart from its mechanics as pure functions of the request's parts.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace server {

// Why a client was refused, in the order the checks run.
enum class HandshakeRefusal { Origin, Host, Token };

// "Origin", "Host" or "Token".
[[nodiscard]] std::string_view refusal_name(HandshakeRefusal refusal);

// The built-in origin or an entry of the list, byte for byte; an entry "*"
// admits any origin, a missing one included.
[[nodiscard]] bool origin_allowed(std::optional<std::string_view> origin,
                                  std::span<const std::string> additional_origins);

// "127.0.0.1:{port}" or "localhost:{port}", the port in plain decimal.
[[nodiscard]] bool host_allowed(std::optional<std::string_view> host, std::uint16_t local_port);

// The first "t=" piece of the query, taken raw, must equal the token.
[[nodiscard]] bool token_presented(std::string_view path_and_query, std::string_view token);

// Compares every byte pair, so the time taken does not tell where the first
// difference is; only lengths may differ early.
[[nodiscard]] bool constant_time_equal(std::string_view a, std::string_view b);

// The three checks in order; the first that fails decides.
[[nodiscard]] std::optional<HandshakeRefusal> check_client(std::optional<std::string_view> origin,
                                                           std::optional<std::string_view> host,
                                                           std::string_view path_and_query,
                                                           std::uint16_t local_port,
                                                           std::string_view token,
                                                           std::span<const std::string> additional_origins);

}  // namespace server
