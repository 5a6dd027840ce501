#include "protocol/frame_assembler.hpp"

namespace audio::protocol {

FrameAssembler::FrameAssembler() { pending_.reserve(2 * FRAME_BYTES); }

bool FrameAssembler::push_bytes(std::span<const std::uint8_t> bytes, FrameSink& frames) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    return offer_whole_frames(frames);
}

bool FrameAssembler::push_silence(std::size_t count, FrameSink& frames) {
    pending_.resize(pending_.size() + count, 0);
    return offer_whole_frames(frames);
}

bool FrameAssembler::offer_whole_frames(FrameSink& frames) {
    bool receiver_present = true;
    std::size_t offset = 0;
    while (pending_.size() - offset >= FRAME_BYTES) {
        std::span<const std::uint8_t, FRAME_BYTES> frame(pending_.data() + offset, FRAME_BYTES);
        receiver_present = frames.offer(Frame::copy_of(frame)) && receiver_present;
        offset += FRAME_BYTES;
    }
    // erase keeps the capacity, so pending_ keeps its storage for the run.
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
    return receiver_present;
}

bool push_packet(FrameAssembler& assembler, const CapturedPacket& packet, FrameSink& frames) {
    const std::size_t byte_count = std::size_t{packet.frame_count} * STREAM_FORMAT.block_align;
    if (byte_count == 0) {
        return true;
    }
    if (packet.data == nullptr || (packet.flags & BUFFER_FLAG_SILENT) != 0) {
        return assembler.push_silence(byte_count, frames);
    }
    return assembler.push_bytes(std::span(packet.data, byte_count), frames);
}

}  // namespace audio::protocol
