#include "connection_handler.hpp"

#include "server/serve_client.hpp"
#include "session.hpp"

namespace audio {

void handle_connection(common::ConnectionRecord record) { server::serve_client(std::move(record), run_session); }

}  // namespace audio
