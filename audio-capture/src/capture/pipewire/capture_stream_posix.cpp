#include "capture/pipewire/capture_stream.hpp"

#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <array>

#include "capture/capture_texts.hpp"
#include "os/error.hpp"
#include "protocol/stream_format.hpp"

namespace audio::capture::pipewire {
namespace {

// Names the program's node shows in the graph.
constexpr const char* NODE_NAME = "brenquosta-audio";
constexpr const char* APPLICATION_NAME = "Brenquosta áudio";

pw_properties* stream_properties() {
    return pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_NODE_NAME,
                             NODE_NAME, PW_KEY_APP_NAME, APPLICATION_NAME,
                             // The program links its sources itself; the session
                             // manager must not route anything into it.
                             PW_KEY_NODE_AUTOCONNECT, "false",
                             // Runs (on some driver) with nothing linked: silence flows.
                             PW_KEY_NODE_WANT_DRIVER, "true", PW_KEY_NODE_ALWAYS_PROCESS, "true", nullptr);
}

}  // namespace

PlatformResult<std::unique_ptr<CaptureStream>> CaptureStream::connect(ServerConnection& connection,
                                                                      SampleRing& ring) {
    std::unique_ptr<CaptureStream> stream(new CaptureStream(connection, ring));
    const LoopLock lock(connection.loop());
    if (auto started = stream->start_connecting(); !started) {
        return std::unexpected(std::move(started.error()));
    }
    const auto deadline = std::chrono::steady_clock::now() + SERVER_ANSWER_TIMEOUT;
    while (!stream->ready_ && stream->error_.empty() && !connection.lost()) {
        if (!connection.wait_until(deadline)) {
            return std::unexpected(std::string(CAPTURE_STREAM_NOT_READY));
        }
    }
    if (!stream->error_.empty()) {
        return std::unexpected(std::string(CAPTURE_STREAM_PREFIX) + stream->error_);
    }
    if (connection.lost()) {
        return std::unexpected(std::string(SERVER_CLOSED));
    }
    return stream;
}

PlatformResult<void> CaptureStream::start_connecting() {
    pw_stream* stream = pw_stream_new(connection_.core(), NODE_NAME, stream_properties());
    if (stream == nullptr) {
        return std::unexpected(std::string(CAPTURE_STREAM_PREFIX) + os::last_error().text());
    }
    stream_.store(stream, std::memory_order_release);
    static const pw_stream_events events = [] {
        pw_stream_events table{};
        table.version = PW_VERSION_STREAM_EVENTS;
        table.state_changed = &CaptureStream::on_state_changed;
        table.process = &CaptureStream::on_process;
        return table;
    }();
    pw_stream_add_listener(stream, &listener_, &events, this);

    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_S16_LE;
    format.rate = protocol::SAMPLE_RATE;
    format.channels = protocol::CHANNELS;
    format.position[0] = SPA_AUDIO_CHANNEL_FL;
    format.position[1] = SPA_AUDIO_CHANNEL_FR;
    std::array<std::uint8_t, 1024> pod_space{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, pod_space.data(), static_cast<std::uint32_t>(pod_space.size()));
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};

    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_INACTIVE | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_RT_PROCESS);
    if (const int res = pw_stream_connect(stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1); res < 0) {
        return std::unexpected(std::string(CAPTURE_STREAM_PREFIX) + os::SysError{-res}.text());
    }
    return {};
}

CaptureStream::~CaptureStream() {
    pw_stream* stream = stream_.load(std::memory_order_acquire);
    if (stream == nullptr) {
        return;
    }
    const LoopLock lock(connection_.loop());
    spa_hook_remove(&listener_);
    (void)pw_stream_disconnect(stream);
    pw_stream_destroy(stream);
}

void CaptureStream::set_active(bool active) {
    const LoopLock lock(connection_.loop());
    (void)pw_stream_set_active(stream_.load(std::memory_order_acquire), active);
}

void CaptureStream::wake() {
    if (WakeupEvent* event = wake_.load(std::memory_order_acquire)) {
        event->signal();
    }
}

// PipeWire's audio thread: no lock, no allocation, no waiting.
void CaptureStream::on_process(void* data) {
    auto& self = *static_cast<CaptureStream*>(data);
    pw_stream* stream = self.stream_.load(std::memory_order_acquire);
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (buffer == nullptr) {
        return;
    }
    const spa_buffer* spa = buffer->buffer;
    if (spa->n_datas > 0 && spa->datas[0].chunk != nullptr) {
        const spa_data& plane = spa->datas[0];
        const std::uint32_t offset = std::min(plane.chunk->offset, plane.maxsize);
        std::uint32_t size = std::min(plane.chunk->size, plane.maxsize - offset);
        size -= size % protocol::BYTES_PER_SAMPLE_FRAME;
        const bool silent = plane.data == nullptr || (static_cast<std::uint32_t>(plane.chunk->flags) & SPA_CHUNK_FLAG_EMPTY) != 0;
        const auto* bytes = silent ? nullptr : static_cast<const std::uint8_t*>(plane.data) + offset;
        (void)self.ring_.write(bytes, size);
    }
    (void)pw_stream_queue_buffer(stream, buffer);
    self.wake();
}

// The loop's thread.
void CaptureStream::on_state_changed(void* data, pw_stream_state /*old*/, pw_stream_state state,
                                     const char* error) {
    auto& self = *static_cast<CaptureStream*>(data);
    switch (state) {
        case PW_STREAM_STATE_PAUSED:
        case PW_STREAM_STATE_STREAMING:
            if (!self.ready_) {
                self.node_id_ = pw_stream_get_node_id(self.stream_.load(std::memory_order_acquire));
                self.ready_ = true;
            }
            break;
        case PW_STREAM_STATE_ERROR:
            self.error_ = error != nullptr && *error != '\0' ? error : "erro sem mensagem";
            [[fallthrough]];
        case PW_STREAM_STATE_UNCONNECTED:
            if (self.ready_) {
                self.ended_.store(true, std::memory_order_release);
                self.wake();
            }
            break;
        case PW_STREAM_STATE_CONNECTING:
            break;
    }
    self.connection_.signal();
}

}  // namespace audio::capture::pipewire
