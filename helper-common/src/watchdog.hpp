#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "log_function.hpp"
#include "os/process.hpp"
#include "server/shared_state.hpp"

namespace common {

inline constexpr std::chrono::milliseconds WATCHDOG_PERIOD{250};

// Everything the watchdog thread owns.
struct WatchdogRecord {
    std::string info_path;
    std::string token;
    std::string exit_reason;  // logged when the watched process ends
    std::shared_ptr<server::SharedState> state;
    os::ProcessWatch process;
    LogFunction log = nullptr;
    std::chrono::milliseconds period = WATCHDOG_PERIOD;  // the program always uses WATCHDOG_PERIOD
};

// Once per period: tests whether the watched process has ended, then whether
// no authenticated client has been connected for longer than the idle limit.
// Returns the reason to end with (the record's exit reason or the idle
// limit's text) as soon as one of them holds.
[[nodiscard]] std::string_view watch_until_end(const WatchdogRecord& record);

// The watchdog thread's body: watch_until_end, then shutdown with its reason.
[[noreturn]] void run_watchdog(WatchdogRecord record);

}  // namespace common
