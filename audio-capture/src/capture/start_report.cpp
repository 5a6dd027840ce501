#include "capture/start_report.hpp"

#include <condition_variable>
#include <mutex>
#include <optional>

#include "panic.hpp"

namespace audio::capture {

// What both ends share.
struct StartSlot {
    std::mutex mutex;
    std::condition_variable became_closed;
    std::optional<StartReport> report;  // guarded by mutex
    bool closed = false;                // guarded by mutex; set once the sender sent or left
};

StartSender::~StartSender() {
    if (slot_) {
        close(std::nullopt);
    }
}

void StartSender::send(StartReport report) {
    if (!slot_) {
        common::panic("a second start report");
    }
    close(std::move(report));
}

void StartSender::close(std::optional<StartReport> report) noexcept {
    {
        std::lock_guard lock(slot_->mutex);
        slot_->report = std::move(report);
        slot_->closed = true;
    }
    slot_->became_closed.notify_all();
    slot_.reset();
}

std::expected<StartReport, RecvError> StartReceiver::recv_until(Clock::time_point deadline) {
    std::unique_lock lock(slot_->mutex);
    if (!slot_->became_closed.wait_until(lock, deadline, [this] { return slot_->closed; })) {
        return std::unexpected(RecvError::Timeout);
    }
    if (!slot_->report) {
        return std::unexpected(RecvError::Disconnected);
    }
    return *std::exchange(slot_->report, std::nullopt);
}

std::pair<StartSender, StartReceiver> make_start_channel() {
    auto slot = std::make_shared<StartSlot>();
    return {StartSender(slot), StartReceiver(slot)};
}

}  // namespace audio::capture
