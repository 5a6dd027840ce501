#include "accept_loop.hpp"

#include <thread>

#include "common_texts.hpp"
#include "os/thread.hpp"

namespace common {

void run_accept_loop(os::Listener& listener, const std::shared_ptr<server::SharedState>& state,
                     const std::shared_ptr<const server::SessionConfig>& config,
                     const server::SessionHandler& handler) {
    for (;;) {
        auto accepted = listener.accept();
        if (!accepted) {
            std::this_thread::sleep_for(ACCEPT_RETRY_DELAY);
            continue;
        }
        if (state->open_connections.fetch_add(1) >= MAX_CONNECTIONS) {
            state->open_connections.fetch_sub(1);
            accepted->close();
            continue;
        }
        ConnectionRecord record{ConnectionSlot(state), state, config, std::move(*accepted)};
        // When the thread cannot start, the record dies with the refused body:
        // the slot is released and the socket closed.
        auto thread = os::spawn_thread(texts::CLIENT_THREAD_NAME, [handler, record = std::move(record)]() mutable {
            server::serve_client(std::move(record), handler);
        });
        if (thread) {
            thread->detach();
        }
    }
}

}  // namespace common
