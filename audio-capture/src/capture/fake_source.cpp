// The synthetic test signal: a 480 Hz sawtooth on both channels, paced by
// absolute deadlines so that the average rate is exactly one frame per 10 ms.

#include <chrono>
#include <cstdint>

#include "capture/capture_thread.hpp"
#include "os/time.hpp"

namespace audio::capture {
namespace {

constexpr std::chrono::milliseconds FRAME_PERIOD{protocol::FRAME_MS};
constexpr std::uint32_t SAWTOOTH_PERIOD = 100;  // samples: 480 Hz at 48 kHz
constexpr int SAWTOOTH_STEP = 100;
constexpr int SAWTOOTH_LOW = -5000;

// Fills one frame and advances the sample index, which wraps at 2^32 and runs
// on across frames so that the wave stays continuous.
protocol::Frame sawtooth_frame(std::uint32_t& sample_index) {
    protocol::Frame frame = protocol::Frame::for_overwrite();
    auto bytes = frame.mutable_bytes();
    for (std::size_t at = 0; at < bytes.size(); at += protocol::BYTES_PER_SAMPLE_FRAME) {
        const int value = SAWTOOTH_STEP * static_cast<int>(sample_index % SAWTOOTH_PERIOD) + SAWTOOTH_LOW;
        const auto sample = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
        const auto low = static_cast<std::uint8_t>(sample & 0xFF);
        const auto high = static_cast<std::uint8_t>(sample >> 8);
        bytes[at] = low;  // left
        bytes[at + 1] = high;
        bytes[at + 2] = low;  // right
        bytes[at + 3] = high;
        ++sample_index;
    }
    return frame;
}

}  // namespace

void run_fake_source(CaptureContext& context) noexcept {
    context.start.send(Started{});
    auto deadline = std::chrono::steady_clock::now();
    std::uint32_t sample_index = 0;
    while (!context.stop->load(std::memory_order_acquire)) {
        if (!context.frames.offer(sawtooth_frame(sample_index))) {
            break;  // the session no longer receives
        }
        // Late frames then follow back to back until the schedule is met.
        deadline += FRAME_PERIOD;
        os::sleep_until(deadline);
    }
}

}  // namespace audio::capture
