// The Linux port has no process-loopback engine: everything up to the
// activation succeeds trivially, and the activation reports that process
// capture is unavailable.

#include <memory>
#include <thread>

#include "capture/capture_platform.hpp"
#include "capture/capture_texts.hpp"

namespace audio::capture {
namespace {

class IdleBufferEvent final : public BufferEvent {
public:
    void wait(std::chrono::milliseconds timeout) override { std::this_thread::sleep_for(timeout); }
    void* native_handle() override { return nullptr; }
};

class PosixCapturePlatform final : public CapturePlatform {
public:
    PlatformResult<void> initialize_com() override { return {}; }
    void uninitialize_com() override {}
    PlatformResult<std::unique_ptr<BufferEvent>> create_buffer_event() override {
        return std::make_unique<IdleBufferEvent>();
    }
    PlatformResult<std::unique_ptr<AudioClient>> activate(CaptureMode, std::uint32_t) override {
        return std::unexpected(std::string(PROCESS_CAPTURE_UNAVAILABLE));
    }
};

}  // namespace

CapturePlatform& system_capture_platform() {
    static PosixCapturePlatform platform;
    return platform;
}

}  // namespace audio::capture
