#pragma once
// The body of a connection thread: handshake, registration of the session in
// the shared state, the program's session handler, unregistration.

#include <cstdint>
#include <expected>
#include <functional>
#include <string>

#include "connection_record.hpp"
#include "server/shared_state.hpp"
#include "server/websocket.hpp"

namespace server {

// Runs one authenticated session; returns success, or the text that ends it
// with the record "conexão encerrada: {text}". The session ends by itself
// once state.superseded(generation) holds. What the program's sessions need
// besides (for audio: the capture mode and target) is held by the handler
// itself; the server never looks at it.
using SessionHandler = std::function<std::expected<void, std::string>(
    WebSocket& connection, const SharedState& state, std::uint64_t generation)>;

// Never fails: every end is logged through the configuration's log function.
// The connection slot is released when the record goes, as the very last step.
void serve_client(common::ConnectionRecord record, const SessionHandler& handler);

}  // namespace server
