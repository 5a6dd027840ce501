#pragma once
// The audio session of one authenticated client: the format message, a
// capture thread of its own, frames forwarded as they come, the client polled
// every 100 ms.

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>

#include "capture/capture_context.hpp"
#include "capture/capture_thread.hpp"
#include "capture_mode.hpp"
#include "client_poll.hpp"
#include "server/shared_state.hpp"
#include "server/websocket.hpp"

namespace audio {

inline constexpr std::chrono::seconds START_TIMEOUT{10};
inline constexpr std::chrono::milliseconds READ_TIMEOUT{1};
inline constexpr std::chrono::milliseconds POLL_INTERVAL{100};

// What runs on the "captura" thread; the tests substitute scripted captures.
using CaptureBody = void (*)(capture::CaptureContext context);

// What every session starts its capture thread with: the program's own
// context for its session handler, read-only and shared by the connection
// threads. The server code never sees it.
struct CaptureSettings {
    CaptureMode mode = CaptureMode::Exclude;  // FakeSource when the synthetic source runs
    std::uint32_t target_pid = 0;             // the watched pid (tree root in exclude mode)
    CaptureBody body = capture::capture_thread;
    std::chrono::milliseconds start_timeout = START_TIMEOUT;
};

// The program's session handler (see server::serve_client): streams until
// the client leaves, the capture ends, an error occurs or
// state.superseded(generation) holds.
[[nodiscard]] std::expected<void, std::string> run_session(server::WebSocket& connection,
                                                           const CaptureSettings& settings,
                                                           const server::SharedState& state,
                                                           std::uint64_t generation);

}  // namespace audio
