#pragma once
// What a session hands to its capture thread, and what it gets back.

#include <atomic>
#include <cstdint>
#include <memory>

#include "capture/start_report.hpp"
#include "capture_mode.hpp"
#include "log_function.hpp"
#include "protocol/frame_channel.hpp"

namespace audio::capture {

// Owned by the capture thread and dropped when it ends, which tells the
// session through both channels.
struct CaptureContext {
    protocol::FrameSink frames;
    StartSender start;
    CaptureMode mode = CaptureMode::Exclude;
    std::uint32_t target_pid = 0;  // ignored for FakeSource
    // Never null. Written by the session only; read by the capture thread
    // once per loop pass (FakeSource: once per frame).
    std::shared_ptr<std::atomic<bool>> stop;
    LogFunction log = nullptr;  // receives the fallback notice; may be null
};

}  // namespace audio::capture
