#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "os/socket.hpp"
#include "server/serve_client.hpp"
#include "server/session_config.hpp"
#include "server/shared_state.hpp"

namespace common {

inline constexpr std::uint64_t MAX_CONNECTIONS = 16;
// A failing accept (for example when descriptors run out) is retried after
// this pause instead of at once, so a lasting failure cannot spin a core.
inline constexpr std::chrono::milliseconds ACCEPT_RETRY_DELAY{10};

// Accepts connections for ever, each served (server::serve_client) with the
// handler on a thread named "cliente"; at most 16 at a time, the 17th is
// closed at once.
[[noreturn]] void run_accept_loop(os::Listener& listener, const std::shared_ptr<server::SharedState>& state,
                                  const std::shared_ptr<const server::SessionConfig>& config,
                                  const server::SessionHandler& handler);

}  // namespace common
