// The capture thread in Include and Exclude mode: start the process-loopback
// stream (with one converting fallback), report once, then drain the engine's
// packets into frames on every signal until told to stop.

#include "capture/capture_thread.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "capture/capture_texts.hpp"
#include "capture/stream_settings.hpp"
#include "os/thread.hpp"
#include "protocol/frame_assembler.hpp"

namespace audio::capture {
namespace {

std::string prefixed(std::string_view prefix, const std::string& text) {
    std::string result(prefix);
    result += text;
    return result;
}

// Balances one successful initialize_com when the run ends.
class ComScope {
public:
    explicit ComScope(CapturePlatform& platform) : platform_(platform) {}
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() { platform_.uninitialize_com(); }

private:
    CapturePlatform& platform_;
};

// Declared in acquisition order; released in reverse: capture client,
// client, event.
struct StreamObjects {
    std::unique_ptr<BufferEvent> event;
    std::unique_ptr<AudioClient> client;
    std::unique_ptr<CaptureClient> capture;

    void release() {
        capture.reset();
        client.reset();
        event.reset();
    }
};

// Steps from the buffer event to a started stream. On failure, the text to
// report; what was acquired so far is left in `objects` for the caller.
PlatformResult<void> start_stream(const CaptureContext& context, CapturePlatform& platform,
                                  StreamObjects& objects) {
    auto event = platform.create_buffer_event();
    if (!event) {
        return std::unexpected(prefixed(CREATE_EVENT_PREFIX, event.error()));
    }
    objects.event = std::move(*event);

    auto client = platform.activate(context.mode, context.target_pid);
    if (!client) {
        return std::unexpected(std::move(client.error()));
    }
    objects.client = std::move(*client);

    if (auto first = objects.client->initialize(*objects.event, NO_EXTRA_FLAGS); !first) {
        // The engine refused our format as it is: ask it to convert, on a
        // fresh client since a failed Initialize cannot be repeated.
        if (context.log != nullptr) {
            std::string notice(FALLBACK_NOTICE_BEFORE);
            notice += first.error();
            notice += FALLBACK_NOTICE_AFTER;
            context.log(notice);
        }
        auto second = platform.activate(context.mode, context.target_pid);
        if (!second) {
            return std::unexpected(std::move(second.error()));
        }
        objects.client = std::move(*second);  // releases the first client
        if (auto retried = objects.client->initialize(*objects.event, CONVERSION_FLAGS); !retried) {
            return std::unexpected(prefixed(INITIALIZE_PREFIX, retried.error()));
        }
    }

    auto capture = objects.client->capture_client();
    if (!capture) {
        return std::unexpected(prefixed(CAPTURE_CLIENT_PREFIX, capture.error()));
    }
    objects.capture = std::move(*capture);

    if (auto started = objects.client->start(); !started) {
        return std::unexpected(prefixed(START_PREFIX, started.error()));
    }
    return {};
}

// Takes every packet that is ready. True while the receiver is present; an
// error of the engine (a late failure) ends the run.
PlatformResult<bool> drain_packets(CaptureClient& capture, protocol::FrameAssembler& assembler,
                                   protocol::FrameSink& frames) {
    bool receiver_present = true;
    for (;;) {
        auto size = capture.next_packet_size();
        if (!size) {
            return std::unexpected(std::move(size.error()));
        }
        if (*size == 0) {
            return receiver_present;
        }
        auto packet = capture.get_buffer();
        if (!packet) {
            return std::unexpected(std::move(packet.error()));
        }
        // Cut while the engine still holds the packet; release only after.
        receiver_present = protocol::push_packet(assembler, *packet, frames) && receiver_present;
        if (auto released = capture.release_buffer(packet->frame_count); !released) {
            return std::unexpected(std::move(released.error()));
        }
    }
}

enum class LoopEnd {
    Stopped,       // the session set the stop flag
    ReceiverGone,  // the session dropped its end of the frame channel
    LateFailure,   // the engine failed while running; nothing is reported
};

LoopEnd run_capture_loop(CaptureContext& context, StreamObjects& objects) {
    // Created after Started and dropped with its incomplete remainder.
    protocol::FrameAssembler assembler;
    while (!context.stop->load(std::memory_order_acquire)) {
        objects.event->wait(WAIT_PER_PASS);  // a signal and a time-out alike
        auto drained = drain_packets(*objects.capture, assembler, context.frames);
        if (!drained) {
            return LoopEnd::LateFailure;
        }
        if (!*drained) {
            return LoopEnd::ReceiverGone;
        }
    }
    return LoopEnd::Stopped;
}

void run_loopback_capture(CaptureContext& context, CapturePlatform& platform) {
    if (auto com = platform.initialize_com(); !com) {
        context.start.send(Failed{prefixed(CO_INITIALIZE_PREFIX, com.error())});
        return;  // never joined, so never left
    }
    const ComScope com_scope(platform);
    StreamObjects objects;

    if (auto started = start_stream(context, platform, objects); !started) {
        objects.release();
        // The session may have given up already; then nobody listens.
        context.start.send(Failed{std::move(started.error())});
        return;
    }
    context.start.send(Started{});

    if (run_capture_loop(context, objects) != LoopEnd::LateFailure) {
        objects.client->stop();
    }
    objects.release();
}

}  // namespace

void run_capture(CaptureContext context, CapturePlatform& platform) noexcept {
    if (context.mode == CaptureMode::FakeSource) {
        run_fake_source(context);
    } else {
        run_loopback_capture(context, platform);
    }
}

void capture_thread(CaptureContext context) noexcept {
    const os::AudioThreadPriority audio_priority;  // frames are due every 10 ms
    run_capture(std::move(context), system_capture_platform());
}

}  // namespace audio::capture
