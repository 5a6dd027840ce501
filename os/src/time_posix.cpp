#include <time.h>

#include <cerrno>

#include "os/time.hpp"

namespace os {

std::uint64_t unix_seconds_now() {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(now.tv_sec);
}

void sleep_until(std::chrono::steady_clock::time_point deadline) {
    // libstdc++'s steady_clock is CLOCK_MONOTONIC, so the deadline can be
    // handed to the kernel as an absolute time: no drift, no early return.
    const auto since_epoch = deadline.time_since_epoch();
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    timespec target{};
    target.tv_sec = static_cast<time_t>(secs.count());
    target.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - secs).count());
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
    }
}

}  // namespace os
