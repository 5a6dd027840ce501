#include "protocol/frame_channel.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace audio::protocol {

// What both ends share.
struct FrameQueue {
    std::mutex mutex;
    std::condition_variable changed;  // a frame arrived or the sending end left
    std::deque<Frame> frames;         // guarded by mutex; at most FRAME_QUEUE_CAPACITY
    bool sink_present = true;       // guarded by mutex; cleared by the FrameSink
    bool receiver_present = true;     // guarded by mutex; cleared by the FrameReceiver

    // Called with the mutex held.
    std::expected<Frame, RecvError> take() {
        if (frames.empty()) {
            return std::unexpected(sink_present ? RecvError::Timeout : RecvError::Disconnected);
        }
        Frame frame = std::move(frames.front());
        frames.pop_front();
        return frame;
    }
};

FrameSink::~FrameSink() {
    if (queue_) {
        {
            std::lock_guard lock(queue_->mutex);
            queue_->sink_present = false;
        }
        queue_->changed.notify_all();
    }
}

bool FrameSink::offer(Frame frame) {
    {
        std::lock_guard lock(queue_->mutex);
        if (!queue_->receiver_present) {
            return false;
        }
        if (queue_->frames.size() >= FRAME_QUEUE_CAPACITY) {
            return true;  // dropped here; frame is freed after the lock
        }
        queue_->frames.push_back(std::move(frame));
    }
    queue_->changed.notify_one();
    return true;
}

FrameReceiver::~FrameReceiver() {
    if (queue_) {
        std::deque<Frame> dropped;  // freed after the lock
        std::lock_guard lock(queue_->mutex);
        queue_->receiver_present = false;
        dropped.swap(queue_->frames);
    }
}

std::expected<Frame, RecvError> FrameReceiver::try_recv() {
    std::lock_guard lock(queue_->mutex);
    return queue_->take();
}

std::expected<Frame, RecvError> FrameReceiver::recv_until(Clock::time_point deadline) {
    std::unique_lock lock(queue_->mutex);
    queue_->changed.wait_until(lock, deadline,
                               [this] { return !queue_->frames.empty() || !queue_->sink_present; });
    return queue_->take();
}

std::pair<FrameSink, FrameReceiver> make_frame_channel() {
    auto queue = std::make_shared<FrameQueue>();
    return {FrameSink(queue), FrameReceiver(queue)};
}

}  // namespace audio::protocol
