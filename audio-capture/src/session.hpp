#pragma once
// The audio session of one authenticated client: the format message, a
// capture thread of its own, frames forwarded as they come, the client polled
// every 100 ms.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <thread>

#include "capture/capture_context.hpp"
#include "client_poll.hpp"
#include "server/session_config.hpp"
#include "server/shared_state.hpp"
#include "server/websocket.hpp"

namespace audio {

inline constexpr std::chrono::seconds START_TIMEOUT{10};
inline constexpr std::chrono::milliseconds READ_TIMEOUT{1};
inline constexpr std::chrono::milliseconds POLL_INTERVAL{100};

// The session's hold on its capture thread. Destroying it stops the thread.
class CaptureHandle {
public:
    CaptureHandle() : stop_(std::make_shared<std::atomic<bool>>(false)) {}
    CaptureHandle(const CaptureHandle&) = delete;
    CaptureHandle& operator=(const CaptureHandle&) = delete;
    ~CaptureHandle() { stop_capture(); }

    [[nodiscard]] const std::shared_ptr<std::atomic<bool>>& stop_flag() const { return stop_; }
    void attach(std::thread thread) { thread_ = std::move(thread); }

    // Raises the stop flag and waits, without a limit, for the thread to end.
    void stop_capture();

private:
    std::shared_ptr<std::atomic<bool>> stop_;
    std::thread thread_;
};

// What runs on the "captura" thread; the tests substitute scripted captures.
using CaptureBody = void (*)(capture::CaptureContext context);

// The program's session handler (see server::serve_client).
[[nodiscard]] std::expected<void, std::string> run_session(server::WebSocket& connection,
                                                           const server::SessionConfig& config,
                                                           server::SharedState& state, std::uint64_t generation);

// run_session with another capture body and start limit (the program's
// are capture::capture_thread and START_TIMEOUT).
[[nodiscard]] std::expected<void, std::string> run_session_with(server::WebSocket& connection,
                                                                const server::SessionConfig& config,
                                                                server::SharedState& state,
                                                                std::uint64_t generation, CaptureBody body,
                                                                std::chrono::milliseconds start_timeout);

}  // namespace audio
