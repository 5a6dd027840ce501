#pragma once
// The capture thread's one report on whether capture runs, and the one-shot
// channel that carries it to the session.

#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "recv_error.hpp"

namespace audio::capture {

struct Started {};
struct Failed {
    std::string text;  // UTF-8, sent to the client and logged as it is
};

using StartReport = std::variant<Started, Failed>;

struct StartSlot;

// The capture thread's end. Destroyed without sending, it tells the session
// that the thread ended without a report.
class StartSender {
public:
    explicit StartSender(std::shared_ptr<StartSlot> slot) : slot_(std::move(slot)) {}
    StartSender(StartSender&&) noexcept = default;
    ~StartSender();

    // Hands over the report, whether or not the session still waits. Sending
    // twice is a broken invariant.
    void send(StartReport report);

private:
    void close(std::optional<StartReport> report) noexcept;

    std::shared_ptr<StartSlot> slot_;  // null once sent or moved from
};

// The session's end.
class StartReceiver {
public:
    using Clock = std::chrono::steady_clock;

    explicit StartReceiver(std::shared_ptr<StartSlot> slot) : slot_(std::move(slot)) {}

    // Waits until the report comes, the sender leaves without one
    // (Disconnected) or the deadline passes (Timeout); a report already sent
    // is taken even after the deadline.
    [[nodiscard]] std::expected<StartReport, RecvError> recv_until(Clock::time_point deadline);

private:
    std::shared_ptr<StartSlot> slot_;
};

[[nodiscard]] std::pair<StartSender, StartReceiver> make_start_channel();

}  // namespace audio::capture
