#pragma once
// The body of a connection thread: handshake, registration of the session in
// the shared state, the program's session handler, unregistration.

#include <cstdint>
#include <expected>
#include <string>

#include "connection_record.hpp"
#include "server/session_config.hpp"
#include "server/shared_state.hpp"
#include "server/websocket.hpp"

namespace server {

// Runs one authenticated session; returns success, or the text that ends it
// with the record "conexão encerrada: {text}".
using SessionHandler = std::expected<void, std::string> (*)(WebSocket& connection, const SessionConfig& config,
                                                            SharedState& state, std::uint64_t generation);

// Never fails: every end is logged through the configuration's log function.
// The connection slot is released when the record goes, as the very last step.
void serve_client(common::ConnectionRecord record, SessionHandler handler);

// The idle clock's bookkeeping around one authenticated session.
void register_session(SharedState& state);
void unregister_session(SharedState& state);

}  // namespace server
