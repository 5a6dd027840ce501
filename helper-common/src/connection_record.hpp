#pragma once

#include <memory>
#include <utility>

#include "os/socket.hpp"
#include "server/session_config.hpp"
#include "server/shared_state.hpp"

namespace common {

// Holds one of the accept loop's connection slots; gives it back when
// destroyed, whatever ends the connection thread.
class ConnectionSlot {
public:
    explicit ConnectionSlot(std::shared_ptr<server::SharedState> state) : state_(std::move(state)) {}
    ConnectionSlot(ConnectionSlot&& other) noexcept = default;
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;
    ~ConnectionSlot() {
        if (state_) {
            state_->open_connections.fetch_sub(1);
        }
    }

private:
    std::shared_ptr<server::SharedState> state_;
};

// What one connection thread owns. The slot is declared first so that it is
// released last, after the socket has been closed.
struct ConnectionRecord {
    ConnectionSlot slot;
    std::shared_ptr<server::SharedState> state;
    std::shared_ptr<const server::SessionConfig> config;
    os::Socket socket;
};

}  // namespace common
