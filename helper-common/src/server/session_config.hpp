#pragma once

#include <string>
#include <vector>

#include "log_function.hpp"

namespace server {

// What the server reads when it admits a client. Read-only after creation;
// shared by every connection thread.
struct SessionConfig {
    std::string token;                            // what a client must present as "t="
    // Consulted after the built-in origin; an entry "*" admits any Origin and
    // a missing one. The program leaves it empty.
    std::vector<std::string> additional_origins;
    LogFunction log = nullptr;                    // the only way server code writes records
};

}  // namespace server
