#pragma once
// The operations the capture logic needs from the system, as a small
// interface: Windows puts COM and the audio engine behind it, the Linux port
// the PipeWire sound server, and the tests a scripted source.
// Failures come back as texts already rendered for people; the logic adds
// the step's prefix.

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>

#include "capture_mode.hpp"
#include "protocol/frame_assembler.hpp"

namespace audio::capture {

template <class T>
using PlatformResult = std::expected<T, std::string>;

// The auto-reset event the engine signals when packets are ready.
class BufferEvent {
public:
    virtual ~BufferEvent() = default;
    // Returns on a signal or after the time-out, alike.
    virtual void wait(std::chrono::milliseconds timeout) = 0;
    // The platform's own handle (a Windows HANDLE), for its audio client.
    [[nodiscard]] virtual void* native_handle() = 0;
};

// IAudioCaptureClient: the packets of a started stream.
class CaptureClient {
public:
    virtual ~CaptureClient() = default;
    // Sample frames in the next packet; 0 when none is ready.
    [[nodiscard]] virtual PlatformResult<std::uint32_t> next_packet_size() = 0;
    // The packet stays valid until release_buffer.
    [[nodiscard]] virtual PlatformResult<protocol::CapturedPacket> get_buffer() = 0;
    [[nodiscard]] virtual PlatformResult<void> release_buffer(std::uint32_t frame_count) = 0;
};

// IAudioClient of the process-loopback device, not yet initialized.
class AudioClient {
public:
    virtual ~AudioClient() = default;
    // initialize_stream: the fixed stream settings with BASE_STREAM_FLAGS |
    // extra_flags, then the event as the engine's signal.
    [[nodiscard]] virtual PlatformResult<void> initialize(BufferEvent& event,
                                                          std::uint32_t extra_flags) = 0;
    [[nodiscard]] virtual PlatformResult<std::unique_ptr<CaptureClient>> capture_client() = 0;
    [[nodiscard]] virtual PlatformResult<void> start() = 0;
    // Its result is of no use to anyone.
    virtual void stop() = 0;
};

class CapturePlatform {
public:
    virtual ~CapturePlatform() = default;
    // Joins the multithreaded COM apartment; balanced by uninitialize_com
    // only when it succeeded.
    [[nodiscard]] virtual PlatformResult<void> initialize_com() = 0;
    virtual void uninitialize_com() = 0;
    [[nodiscard]] virtual PlatformResult<std::unique_ptr<BufferEvent>> create_buffer_event() = 0;
    // A fresh client for the mode (Include or Exclude) and the process tree
    // rooted at target_pid. Its error text is reported unchanged, without a prefix.
    [[nodiscard]] virtual PlatformResult<std::unique_ptr<AudioClient>> activate(
        CaptureMode mode, std::uint32_t target_pid) = 0;
};

// The platform of the running system. Stateless; usable from any thread.
[[nodiscard]] CapturePlatform& system_capture_platform();

}  // namespace audio::capture
