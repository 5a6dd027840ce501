#pragma once
// The program's capture stream on the sound server: an input node that asks
// for the stream format (PipeWire converts whatever it links in) and that
// runs even when nothing is linked, so silence keeps flowing. Its process
// callback, on PipeWire's audio thread, copies each buffer into the ring and
// signals the capture thread; it never blocks and never allocates.

#include <pipewire/pipewire.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/capture_platform.hpp"
#include "capture/pipewire/sample_ring.hpp"
#include "capture/pipewire/server_connection.hpp"
#include "capture/pipewire/wakeup_event.hpp"

namespace audio::capture::pipewire {

class CaptureStream {
public:
    // Connects the stream, inactive, and waits until the server has made its
    // node. The ring must outlive the stream.
    [[nodiscard]] static PlatformResult<std::unique_ptr<CaptureStream>> connect(ServerConnection& connection,
                                                                                SampleRing& ring);
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;
    // Disconnects first: after that the process callback no longer runs.
    ~CaptureStream();

    // The stream's node in the graph.
    [[nodiscard]] std::uint32_t node_id() const { return node_id_; }
    // The event signalled after each buffer and when the stream breaks down;
    // set before the stream is made active, and it must outlive the stream.
    void wake_with(WakeupEvent* wake) { wake_.store(wake, std::memory_order_release); }
    void set_active(bool active);
    // The stream broke down while running (the server dropped it); any thread.
    [[nodiscard]] bool ended() const { return ended_.load(std::memory_order_acquire); }

private:
    CaptureStream(ServerConnection& connection, SampleRing& ring) : connection_(connection), ring_(ring) {}
    void wake();
    [[nodiscard]] PlatformResult<void> start_connecting();
    static void on_process(void* data);
    static void on_state_changed(void* data, pw_stream_state old, pw_stream_state state, const char* error);

    ServerConnection& connection_;
    SampleRing& ring_;  // written by the process callback only
    std::atomic<WakeupEvent*> wake_{nullptr};
    // Set before the stream connects; read by the callbacks.
    std::atomic<pw_stream*> stream_{nullptr};
    spa_hook listener_{};

    // Under the loop's lock.
    std::uint32_t node_id_ = PW_ID_ANY;
    bool ready_ = false;
    std::string error_;
    std::atomic<bool> ended_{false};  // written on the loop's thread
};

}  // namespace audio::capture::pipewire
