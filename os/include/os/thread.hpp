#pragma once
// Named threads.

#include <functional>  // std::move_only_function
#include <thread>

#include "os/error.hpp"

namespace os {

// Starts a thread that first names itself (at most 15 characters), then runs
// the body. The body must not throw. A refusal of the platform is an error.
[[nodiscard]] Result<std::thread> spawn_thread(const char* name, std::move_only_function<void()> body);

void set_current_thread_name(const char* name);

}  // namespace os
