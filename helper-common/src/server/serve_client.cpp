#include "server/serve_client.hpp"

#include "common_texts.hpp"
#include "server/handshake.hpp"

namespace server {

void serve_client(common::ConnectionRecord record, const SessionHandler& handler) {
    const SessionConfig& config = *record.config;
    SharedState& state = *record.state;

    auto connection = accept_client(std::move(record.socket), config);
    if (!connection) {
        config.log(std::string(common::texts::CONNECTION_ENDED) + connection.error());
        return;
    }
    const std::uint64_t generation = state.register_session();

    const auto ended = handler(*connection, state, generation);

    state.unregister_session();
    connection->stream().close();
    if (!ended) {
        config.log(std::string(common::texts::CONNECTION_ENDED) + ended.error());
    }
}

}  // namespace server
