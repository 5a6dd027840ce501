#include "connection_handler.hpp"

#include <array>
#include <chrono>

namespace audio {

void handle_connection(common::ConnectionRecord record) {
    // Until the WebSocket session exists, a connection is held until the peer
    // closes it.
    (void)record.socket.set_read_timeout(std::chrono::milliseconds(0));
    std::array<std::uint8_t, 4096> buffer{};
    while (true) {
        auto received = record.socket.read(buffer);
        if (!received || *received == 0) {
            return;
        }
    }
}

}  // namespace audio
