#pragma once
// What a session hands to its capture thread, and what it gets back.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>

#include "capture_mode.hpp"
#include "channel.hpp"
#include "log_function.hpp"
#include "protocol/frame.hpp"

namespace audio::capture {

struct Started {};
struct Failed {
    std::string text;  // UTF-8, sent to the client and logged as it is
};

// The capture thread's one report on whether capture runs.
using StartReport = std::variant<Started, Failed>;

using StartSender = Sender<StartReport>;
using StartReceiver = Receiver<StartReport>;

[[nodiscard]] inline std::pair<StartSender, StartReceiver> make_start_channel() {
    return make_unbounded_channel<StartReport>();
}

// Owned by the capture thread and dropped when it ends, which disconnects
// both channels.
struct CaptureContext {
    protocol::FrameSender frames;  // bounded (FRAME_QUEUE_CAPACITY); offered without waiting
    StartSender start;             // at most one StartReport
    CaptureMode mode = CaptureMode::Exclude;
    std::uint32_t target_pid = 0;  // ignored for FakeSource
    // Never null. Written by the session only; read by the capture thread
    // once per loop pass (FakeSource: once per frame).
    std::shared_ptr<std::atomic<bool>> stop;
    LogFunction log = nullptr;  // receives the fallback notice; may be null
};

}  // namespace audio::capture
