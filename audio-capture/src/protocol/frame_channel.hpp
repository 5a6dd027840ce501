#pragma once
// The channel that carries frames from the capture thread to the session. At
// most FRAME_QUEUE_CAPACITY frames wait; offering never waits. Each end is
// move-only, and destroying an end is how the other end learns that it left.

#include <chrono>
#include <expected>
#include <memory>
#include <utility>

#include "protocol/frame.hpp"
#include "recv_error.hpp"

namespace audio::protocol {

struct FrameQueue;

// The capture thread's end, which the frame assembler offers frames to.
class FrameSink {
public:
    explicit FrameSink(std::shared_ptr<FrameQueue> queue) : queue_(std::move(queue)) {}
    FrameSink(FrameSink&&) noexcept = default;
    ~FrameSink();

    // Queues the frame without waiting. A frame that finds the queue full is
    // dropped, so a slow client keeps the oldest audio and never stalls the
    // audio engine. False only when the receiving end is gone.
    [[nodiscard]] bool offer(Frame frame);

private:
    std::shared_ptr<FrameQueue> queue_;  // null once moved from
};

// The session's end. Destroying it drops the frames still waiting.
class FrameReceiver {
public:
    using Clock = std::chrono::steady_clock;

    explicit FrameReceiver(std::shared_ptr<FrameQueue> queue) : queue_(std::move(queue)) {}
    FrameReceiver(FrameReceiver&&) noexcept = default;
    ~FrameReceiver();

    // The oldest waiting frame. Disconnected only once nothing waits, so no
    // frame queued before the sending end left is lost.
    [[nodiscard]] std::expected<Frame, RecvError> try_recv();
    // The same, after waiting until a frame arrives, the sending end leaves or
    // the deadline passes; a frame already waiting is taken even after the
    // deadline.
    [[nodiscard]] std::expected<Frame, RecvError> recv_until(Clock::time_point deadline);

private:
    std::shared_ptr<FrameQueue> queue_;  // null once moved from
};

[[nodiscard]] std::pair<FrameSink, FrameReceiver> make_frame_channel();

// The sending end's former name, which the session still uses.
using FrameSender = FrameSink;

}  // namespace audio::protocol
