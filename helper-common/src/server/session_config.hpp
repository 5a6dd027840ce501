#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture_mode.hpp"
#include "log_function.hpp"

namespace server {

// Read-only after creation; shared by every connection thread.
struct SessionConfig {
    std::string token;                            // what a client must present as "t="
    std::vector<std::string> additional_origins;  // consulted after the built-in origin
    LogFunction log = nullptr;                    // the only way server code writes records
    CaptureMode mode = CaptureMode::Exclude;      // FakeSource when the synthetic source runs
    std::uint32_t target_pid = 0;                 // the watched pid (tree root in exclude mode)
};

}  // namespace server
