// The capture platform of Windows: COM, the buffer event and the
// process-loopback audio client behind the capture logic's interface.

#include <memory>

#include "capture/capture_platform.hpp"
#include "capture/windows/audio_declarations.hpp"
#include "capture/windows/audio_stream.hpp"
#include "capture/windows/com_error.hpp"
#include "capture/windows/com_ptr.hpp"
#include "capture/windows/process_loopback.hpp"
#include "os/windows/unique_handle.hpp"

namespace audio::capture {
namespace {

using windows::ComError;
using windows::ComPtr;
using windows::render_com_error;

std::unexpected<std::string> failed(const ComError& error) { return std::unexpected(render_com_error(error)); }

class WindowsBufferEvent final : public BufferEvent {
public:
    explicit WindowsBufferEvent(os::UniqueHandle event) : event_(std::move(event)) {}
    void wait(std::chrono::milliseconds timeout) override {
        (void)WaitForSingleObject(event_.get(), static_cast<DWORD>(timeout.count()));
    }
    void* native_handle() override { return event_.get(); }

private:
    os::UniqueHandle event_;
};

class WindowsCaptureClient final : public CaptureClient {
public:
    explicit WindowsCaptureClient(ComPtr<IAudioCaptureClient> client) : client_(std::move(client)) {}

    PlatformResult<std::uint32_t> next_packet_size() override {
        UINT32 frames = 0;
        if (HRESULT hr = client_->GetNextPacketSize(&frames); FAILED(hr)) {
            return failed(ComError::from_call(hr));
        }
        return frames;
    }

    PlatformResult<protocol::CapturedPacket> get_buffer() override {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        if (HRESULT hr = client_->GetBuffer(&data, &frames, &flags, nullptr, nullptr); FAILED(hr)) {
            return failed(ComError::from_call(hr));
        }
        return protocol::CapturedPacket{.data = data, .frame_count = frames, .flags = flags};
    }

    PlatformResult<void> release_buffer(std::uint32_t frame_count) override {
        if (HRESULT hr = client_->ReleaseBuffer(frame_count); FAILED(hr)) {
            return failed(ComError::from_call(hr));
        }
        return {};
    }

private:
    ComPtr<IAudioCaptureClient> client_;
};

class WindowsAudioClient final : public AudioClient {
public:
    explicit WindowsAudioClient(ComPtr<IAudioClient> client) : client_(std::move(client)) {}

    PlatformResult<void> initialize(BufferEvent& event, std::uint32_t extra_flags) override {
        auto initialized = windows::initialize_stream(*client_.get(), event.native_handle(), extra_flags);
        if (!initialized) {
            return failed(initialized.error());
        }
        return {};
    }

    PlatformResult<std::unique_ptr<CaptureClient>> capture_client() override {
        ComPtr<IAudioCaptureClient> capture;
        if (HRESULT hr = client_->GetService(__uuidof(IAudioCaptureClient), capture.put_void()); FAILED(hr)) {
            return failed(ComError::from_call(hr));
        }
        if (!capture) {
            return failed(ComError{});  // success without an interface: code 0
        }
        return std::make_unique<WindowsCaptureClient>(std::move(capture));
    }

    PlatformResult<void> start() override {
        if (HRESULT hr = client_->Start(); FAILED(hr)) {
            return failed(ComError::from_call(hr));
        }
        return {};
    }

    void stop() override { (void)client_->Stop(); }

private:
    ComPtr<IAudioClient> client_;
};

class WindowsCapturePlatform final : public CapturePlatform {
public:
    PlatformResult<void> initialize_com() override {
        // S_FALSE (already joined) counts as success and is balanced too.
        if (HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED); FAILED(hr)) {
            return failed(ComError::from_call(hr));
        }
        return {};
    }

    void uninitialize_com() override { CoUninitialize(); }

    PlatformResult<std::unique_ptr<BufferEvent>> create_buffer_event() override {
        os::UniqueHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!event) {
            return failed(ComError::from_last_error());
        }
        return std::make_unique<WindowsBufferEvent>(std::move(event));
    }

    PlatformResult<std::unique_ptr<AudioClient>> activate(CaptureMode mode, std::uint32_t target_pid) override {
        auto client = windows::activate_process_loopback(mode, target_pid);
        if (!client) {
            return std::unexpected(std::move(client.error()));
        }
        return std::make_unique<WindowsAudioClient>(std::move(*client));
    }
};

}  // namespace

CapturePlatform& system_capture_platform() {
    static WindowsCapturePlatform platform;
    return platform;
}

}  // namespace audio::capture
