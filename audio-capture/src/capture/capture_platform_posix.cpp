// The capture platform of the Linux port: the PipeWire sound server behind
// the capture logic's interface. Activation connects to the server and makes
// the capture stream; start watches the graph and links the players of the
// mode into it. Packets are what the stream's audio thread has put into the
// ring since the last drain.

#include <memory>
#include <utility>

#include "capture/capture_platform.hpp"
#include "capture/capture_texts.hpp"
#include "capture/pipewire/capture_stream.hpp"
#include "capture/pipewire/sample_ring.hpp"
#include "capture/pipewire/server_connection.hpp"
#include "capture/pipewire/stream_router.hpp"
#include "capture/pipewire/wakeup_event.hpp"
#include "protocol/stream_format.hpp"

namespace audio::capture {
namespace {

using pipewire::CaptureStream;
using pipewire::LoopLock;
using pipewire::SampleRing;
using pipewire::ServerConnection;
using pipewire::StreamRouter;
using pipewire::WakeupEvent;

// About 1.4 s of audio: the capture thread drains it on every signal.
constexpr std::size_t RING_BYTES = std::size_t{1} << 18;

// The ring's reader. A packet is the run of bytes that can be read without
// wrapping; once the ring is empty, a connection or stream that ended is a
// failure, which ends the capture.
class RingCaptureClient final : public CaptureClient {
public:
    RingCaptureClient(SampleRing& ring, const ServerConnection& connection, const CaptureStream& stream)
        : ring_(ring), connection_(connection), stream_(stream) {}

    PlatformResult<std::uint32_t> next_packet_size() override {
        const std::size_t bytes = ring_.readable().size();
        if (bytes == 0 && (connection_.lost() || stream_.ended())) {
            return std::unexpected(std::string(SERVER_CLOSED));
        }
        return static_cast<std::uint32_t>(bytes / protocol::BYTES_PER_SAMPLE_FRAME);
    }

    PlatformResult<protocol::CapturedPacket> get_buffer() override {
        const auto bytes = ring_.readable();
        return protocol::CapturedPacket{
            .data = bytes.data(),
            .frame_count = static_cast<std::uint32_t>(bytes.size() / protocol::BYTES_PER_SAMPLE_FRAME),
            .flags = 0};
    }

    PlatformResult<void> release_buffer(std::uint32_t frame_count) override {
        ring_.consume(std::size_t{frame_count} * protocol::BYTES_PER_SAMPLE_FRAME);
        return {};
    }

private:
    SampleRing& ring_;
    const ServerConnection& connection_;
    const CaptureStream& stream_;
};

class PipewireAudioClient final : public AudioClient {
public:
    [[nodiscard]] static PlatformResult<std::unique_ptr<AudioClient>> activate(CaptureMode mode,
                                                                              std::uint32_t target_pid) {
        std::unique_ptr<PipewireAudioClient> client(new PipewireAudioClient(mode, target_pid));
        auto connection = ServerConnection::open();
        if (!connection) {
            return std::unexpected(std::move(connection.error()));
        }
        client->connection_ = std::move(*connection);
        auto stream = CaptureStream::connect(*client->connection_, client->ring_);
        if (!stream) {
            return std::unexpected(std::move(stream.error()));
        }
        client->stream_ = std::move(*stream);
        return client;
    }

    PipewireAudioClient(const PipewireAudioClient&) = delete;
    PipewireAudioClient& operator=(const PipewireAudioClient&) = delete;

    // PipeWire converts whatever it links in, so there is nothing to refuse:
    // the event only has to be known before the stream runs.
    PlatformResult<void> initialize(BufferEvent& event, std::uint32_t /*extra_flags*/) override {
        auto* wake = static_cast<WakeupEvent*>(event.native_handle());
        stream_->wake_with(wake);
        const LoopLock lock(connection_->loop());
        connection_->wake_on_loss(wake);
        return {};
    }

    PlatformResult<std::unique_ptr<CaptureClient>> capture_client() override {
        return std::make_unique<RingCaptureClient>(ring_, *connection_, *stream_);
    }

    PlatformResult<void> start() override {
        {
            const LoopLock lock(connection_->loop());
            auto router = StreamRouter::start(*connection_, mode_, target_pid_, stream_->node_id());
            if (!router) {
                return std::unexpected(std::move(router.error()));
            }
            router_ = std::move(*router);
        }
        stream_->set_active(true);
        return {};
    }

    void stop() override { stream_->set_active(false); }

private:
    PipewireAudioClient(CaptureMode mode, std::uint32_t target_pid)
        : mode_(mode), target_pid_(target_pid), ring_(RING_BYTES) {}

    const CaptureMode mode_;
    const std::uint32_t target_pid_;
    // In acquisition order, released in reverse: the links and bindings, the
    // stream (its callback writes the ring), the ring, the connection.
    std::unique_ptr<ServerConnection> connection_;
    SampleRing ring_;
    std::unique_ptr<CaptureStream> stream_;
    std::unique_ptr<StreamRouter> router_;
};

class PosixCapturePlatform final : public CapturePlatform {
public:
    PlatformResult<void> initialize_com() override { return {}; }
    void uninitialize_com() override {}
    PlatformResult<std::unique_ptr<BufferEvent>> create_buffer_event() override {
        auto event = WakeupEvent::create();
        if (!event) {
            return std::unexpected(std::move(event.error()));
        }
        return std::unique_ptr<BufferEvent>(std::move(*event));
    }
    PlatformResult<std::unique_ptr<AudioClient>> activate(CaptureMode mode, std::uint32_t target_pid) override {
        return PipewireAudioClient::activate(mode, target_pid);
    }
};

}  // namespace

CapturePlatform& system_capture_platform() {
    static PosixCapturePlatform platform;
    return platform;
}

}  // namespace audio::capture
