#include "watchdog.hpp"

#include <mutex>
#include <thread>

#include "common_texts.hpp"
#include "shutdown.hpp"

namespace common {

void run_watchdog(WatchdogRecord record) {
    for (;;) {
        std::this_thread::sleep_for(WATCHDOG_PERIOD);
        // The process test comes first, so its reason wins when both hold.
        if (record.process.has_ended()) {
            shutdown(record.info_path, record.token, record.exit_reason, record.log);
        }
        bool limit_passed = false;
        {
            server::SharedState& state = *record.state;
            std::lock_guard guard(state.lock);
            limit_passed = state.active_clients == 0 &&
                           server::idle_limit_passed(state.idle_since, std::chrono::steady_clock::now(),
                                                     state.idle_limit);
        }
        if (limit_passed) {
            shutdown(record.info_path, record.token, texts::IDLE_LIMIT_PASSED, record.log);
        }
    }
}

}  // namespace common
