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
        // refused to create the thread.
        return std::unexpected(SysError{error.code().value()});
    }
}

}  // namespace os
