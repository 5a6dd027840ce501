#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "connection_record.hpp"
#include "os/socket.hpp"

namespace common {

inline constexpr std::uint64_t MAX_CONNECTIONS = 16;
// A failing accept (for example when descriptors run out) is retried after
// this pause instead of at once, so a lasting failure cannot spin a core.
inline constexpr std::chrono::milliseconds ACCEPT_RETRY_DELAY{10};

// The body of a connection thread.
using ConnectionHandler = void (*)(ConnectionRecord record);

// Accepts connections for ever, each on a thread named "cliente"; at most 16
// at a time, the 17th is closed at once.
[[noreturn]] void run_accept_loop(os::Listener& listener, const std::shared_ptr<server::SharedState>& state,
                                  const std::shared_ptr<const server::SessionConfig>& config,
                                  ConnectionHandler handler);

}  // namespace common
