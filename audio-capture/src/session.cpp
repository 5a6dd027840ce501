#include "session.hpp"

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <variant>

#include "capture/capture_texts.hpp"
#include "log.hpp"
#include "messages.hpp"
#include "os/thread.hpp"
#include "texts.hpp"

namespace audio {
namespace {

using Clock = std::chrono::steady_clock;
using server::WebSocket;

std::unexpected<std::string> failure(std::string text) { return std::unexpected(std::move(text)); }

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
    void stop_capture() {
        stop_->exchange(true);
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    std::shared_ptr<std::atomic<bool>> stop_;
    std::thread thread_;
};

// Starts the capture thread and waits for its report. Returns the start error
// text, or nothing once capture runs.
std::optional<std::string> start_capture(CaptureHandle& capture, const CaptureSettings& settings,
                                         protocol::FrameSender frames) {
    auto [start_sender, start_receiver] = capture::make_start_channel();
    capture::CaptureContext context{std::move(frames), std::move(start_sender), settings.mode, settings.target_pid,
                                    capture.stop_flag(), log_line};
    auto thread = os::spawn_thread(capture::CAPTURE_THREAD_NAME,
                                   [body = settings.body, context = std::move(context)]() mutable {
                                       body(std::move(context));
                                   });
    if (!thread) {
        return std::string(texts::CAPTURE_THREAD_FAILED) + thread.error().text();
    }
    capture.attach(std::move(*thread));

    auto report = start_receiver.recv_until(Clock::now() + settings.start_timeout);
    if (!report) {
        // Nothing within the limit, or the thread ended without a report.
        return std::string(texts::CAPTURE_START_TIMED_OUT);
    }
    if (const auto* failed = std::get_if<capture::Failed>(&*report)) {
        return failed->text;
    }
    return std::nullopt;
}

// Forwards the frame that arrived and every frame already waiting behind it,
// then flushes once.
std::expected<void, std::string> forward_frames(WebSocket& connection, protocol::Frame first,
                                                protocol::FrameReceiver& frames) {
    if (auto written = connection.write_binary(first.bytes()); !written) {
        return failure(written.error().text());
    }
    while (auto next = frames.try_recv()) {
        if (auto written = connection.write_binary(next->bytes()); !written) {
            return failure(written.error().text());
        }
    }
    return flush_pending(connection);
}

// The streaming loop; its result is the session's end text, if any.
std::expected<void, std::string> stream_frames(WebSocket& connection, const server::SharedState& state,
                                               std::uint64_t generation, protocol::FrameReceiver& frames) {
    auto poll_deadline = Clock::now() + POLL_INTERVAL;
    for (;;) {
        if (state.superseded(generation)) {
            return {};
        }
        auto frame = frames.recv_until(poll_deadline);
        if (frame) {
            if (auto forwarded = forward_frames(connection, std::move(*frame), frames); !forwarded) {
                return forwarded;
            }
        } else if (frame.error() == RecvError::Disconnected) {
            return failure(std::string(texts::CAPTURE_ENDED));
        }
        if (Clock::now() < poll_deadline) {
            continue;
        }
        auto polled = poll_client(connection);
        if (!polled) {
            return std::unexpected(polled.error());
        }
        if (*polled == PollOutcome::ClientLeft) {
            return {};
        }
        poll_deadline = Clock::now() + POLL_INTERVAL;
    }
}

}  // namespace

std::expected<void, std::string> run_session(WebSocket& connection, const CaptureSettings& settings,
                                             const server::SharedState& state, std::uint64_t generation) {
    if (auto sent = connection.send(server::Message::text(format_message())); !sent) {
        return failure(sent.error().text());
    }

    // Declared before the capture handle, so that the receiving end outlives
    // the join: a normal stop never looks like a vanished session.
    auto [frame_sender, frames] = protocol::make_frame_channel();
    CaptureHandle capture;

    if (auto start_error = start_capture(capture, settings, std::move(frame_sender))) {
        capture.stop_capture();
        log_line(std::string(texts::CAPTURE_START_FAILED) + *start_error);
        (void)connection.send(server::Message::text(error_message(*start_error)));
        (void)connection.close();
        (void)connection.flush();
        return failure(std::move(*start_error));
    }
    log_line(texts::CAPTURE_STARTED);

    if (auto set = connection.stream().set_read_timeout(READ_TIMEOUT); !set) {
        capture.stop_capture();
        return failure(set.error().text());
    }

    auto ended = stream_frames(connection, state, generation, frames);

    capture.stop_capture();
    (void)connection.close();
    (void)connection.flush();
    log_line(texts::CLIENT_DISCONNECTED);
    return ended;
}

}  // namespace audio
