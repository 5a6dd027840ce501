#pragma once
// One 10 ms frame of audio.

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "protocol/stream_format.hpp"

namespace audio::protocol {

// An owned buffer of exactly FRAME_BYTES bytes of PCM. The bytes live on the
// heap, so moving a frame through the channel moves one pointer; the session
// hands bytes() to the WebSocket write as it is. A moved-from frame holds
// nothing and must not be read.
class Frame {
public:
    using Bytes = std::array<std::uint8_t, FRAME_BYTES>;

    [[nodiscard]] static Frame copy_of(std::span<const std::uint8_t, FRAME_BYTES> bytes) {
        Frame frame;
        std::memcpy(frame.storage_->data(), bytes.data(), FRAME_BYTES);
        return frame;
    }

    // Bytes of no defined value, for a producer that writes every one of them.
    [[nodiscard]] static Frame for_overwrite() { return Frame(); }

    [[nodiscard]] std::span<const std::uint8_t, FRAME_BYTES> bytes() const { return *storage_; }
    [[nodiscard]] std::span<std::uint8_t, FRAME_BYTES> mutable_bytes() { return *storage_; }

private:
    Frame() : storage_(std::make_unique_for_overwrite<Bytes>()) {}

    std::unique_ptr<Bytes> storage_;
};

}  // namespace audio::protocol
