#pragma once
// Cutting captured bytes into frames and offering them to the session.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/frame_channel.hpp"

namespace audio::protocol {

// Buffers the start of the next frame between packets. One per capture run;
// the incomplete remainder is discarded with the assembler.
class FrameAssembler {
public:
    FrameAssembler();

    // Appends the bytes, offers every whole frame now available in order and
    // keeps the rest. True when every offer found the receiver present; a
    // missing receiver does not stop the remaining offers.
    [[nodiscard]] bool push_bytes(std::span<const std::uint8_t> bytes, FrameSink& frames);
    // The same for `count` zero bytes (a silent packet).
    [[nodiscard]] bool push_silence(std::size_t count, FrameSink& frames);

private:
    bool offer_whole_frames(FrameSink& frames);

    std::vector<std::uint8_t> pending_;  // fewer than FRAME_BYTES bytes between calls
};

inline constexpr std::uint32_t BUFFER_FLAG_SILENT = 0x2;  // AUDCLNT_BUFFERFLAGS_SILENT

// One packet as IAudioCaptureClient::GetBuffer hands it over.
struct CapturedPacket {
    const std::uint8_t* data = nullptr;  // may be absent
    std::uint32_t frame_count = 0;       // sample frames of BYTES_PER_SAMPLE_FRAME bytes
    std::uint32_t flags = 0;
};

// The packet's bytes go to the assembler as they are, or as the same number
// of zero bytes when the packet is flagged silent or has no data. Its other
// flags are ignored.
[[nodiscard]] bool push_packet(FrameAssembler& assembler, const CapturedPacket& packet,
                               FrameSink& frames);

}  // namespace audio::protocol
