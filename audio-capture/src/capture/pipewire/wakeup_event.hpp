#pragma once
// The buffer event of the Linux port: an eventfd that PipeWire's audio thread
// signals without ever blocking, and that the capture thread waits on with a
// time-out. Reading it back resets it, like an auto-reset event.

#include <chrono>
#include <memory>

#include "capture/capture_platform.hpp"

namespace audio::capture::pipewire {

class WakeupEvent final : public BufferEvent {
public:
    // The eventfd, or the text of the failed call.
    [[nodiscard]] static PlatformResult<std::unique_ptr<WakeupEvent>> create();

    WakeupEvent(const WakeupEvent&) = delete;
    WakeupEvent& operator=(const WakeupEvent&) = delete;
    ~WakeupEvent() override;

    // Any thread; never blocks, never allocates.
    void signal();
    void wait(std::chrono::milliseconds timeout) override;
    // This object, for the audio client of the same platform.
    void* native_handle() override { return this; }

private:
    explicit WakeupEvent(int fd) : fd_(fd) {}
    const int fd_;
};

}  // namespace audio::capture::pipewire
