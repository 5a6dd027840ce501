#pragma once

#include <chrono>
#include <memory>
#include <string>

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
};

// Every 250 ms: ends the program when the watched process has ended, or when
// no authenticated client has been connected for longer than the idle limit.
[[noreturn]] void run_watchdog(WatchdogRecord record);

}  // namespace common
