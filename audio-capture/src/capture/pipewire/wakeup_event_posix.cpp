#include "capture/pipewire/wakeup_event.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "os/error.hpp"

namespace audio::capture::pipewire {

PlatformResult<std::unique_ptr<WakeupEvent>> WakeupEvent::create() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        return std::unexpected(os::last_error().text());
    }
    return std::unique_ptr<WakeupEvent>(new WakeupEvent(fd));
}

WakeupEvent::~WakeupEvent() { ::close(fd_); }

void WakeupEvent::signal() {
    const std::uint64_t one = 1;
    // Only fails when the counter is about to overflow: it is signalled then.
    (void)!::write(fd_, &one, sizeof one);
}

void WakeupEvent::wait(std::chrono::milliseconds timeout) {
    pollfd waiter{fd_, POLLIN, 0};
    if (::poll(&waiter, 1, static_cast<int>(timeout.count())) > 0) {
        std::uint64_t count = 0;
        (void)!::read(fd_, &count, sizeof count);
    }
}

}  // namespace audio::capture::pipewire
