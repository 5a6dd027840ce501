#include "server/serve_client.hpp"

#include <chrono>
#include <mutex>

#include "common_texts.hpp"
#include "server/handshake.hpp"

namespace server {

void register_session(SharedState& state) {
    std::lock_guard guard(state.lock);
    ++state.active_clients;
}

void unregister_session(SharedState& state) {
    std::lock_guard guard(state.lock);
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t before = state.active_clients;
    state.active_clients = before == 0 ? 0 : before - 1;
    // The last one out restarts the idle clock.
    if (before <= 1) {
        state.idle_since = now;
    }
}

void serve_client(common::ConnectionRecord record, SessionHandler handler) {
    const SessionConfig& config = *record.config;
    SharedState& state = *record.state;

    auto connection = accept_client(std::move(record.socket), config);
    if (!connection) {
        config.log(std::string(common::texts::CONNECTION_ENDED) + connection.error());
        return;
    }
    const std::uint64_t generation = state.session_generation.fetch_add(1) + 1;
    register_session(state);

    const auto ended = handler(*connection, config, state, generation);

    unregister_session(state);
    connection->stream().close();
    if (!ended) {
        config.log(std::string(common::texts::CONNECTION_ENDED) + ended.error());
    }
}

}  // namespace server
