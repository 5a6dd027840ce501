#include <system_error>

#include "os/thread.hpp"

namespace os {

Result<std::thread> spawn_thread(const char* name, std::move_only_function<void()> body) {
    try {
        return std::thread([name, body = std::move(body)]() mutable noexcept {
            set_current_thread_name(name);
            body();
        });
    } catch (const std::system_error& error) {
        // The only exception std::thread's constructor throws: the platform
        // refused to create the thread. Its number is the C runtime's errno,
        // which on Windows is not a system error number.
        return std::unexpected(c_runtime_error(error.code().value()));
    }
}

}  // namespace os
