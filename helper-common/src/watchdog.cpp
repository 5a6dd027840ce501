#include "watchdog.hpp"

#include <mutex>
#include <thread>

#include "common_texts.hpp"
#include "shutdown.hpp"

namespace common {

std::string_view watch_until_end(const WatchdogRecord& record) {
    for (;;) {
        std::this_thread::sleep_for(record.period);
        // The process test comes first, so its reason wins when both hold.
        if (record.process.has_ended()) {
            return record.exit_reason;
        }
        server::SharedState& state = *record.state;
        std::lock_guard guard(state.lock);
        if (state.active_clients == 0 &&
            server::idle_limit_passed(state.idle_since, std::chrono::steady_clock::now(), state.idle_limit)) {
            return texts::IDLE_LIMIT_PASSED;
        }
    }
}

void run_watchdog(WatchdogRecord record) {
    const std::string_view reason = watch_until_end(record);
    shutdown(record.info_path, record.token, reason, record.log);
}

}  // namespace common
