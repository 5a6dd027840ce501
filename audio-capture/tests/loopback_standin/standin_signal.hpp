#pragma once
// The signal of the stand-in process-loopback engine, shared by the engine
// (which fills its packets with it) and the tests (which compute the stream
// a client must receive). Plain integer arithmetic, no platform headers.
//
// Left channel: a sawtooth tone whose period, in samples, depends on the
// target pid and the loopback mode, so that the tone a listener hears already
// tells include from exclude. Right channel: the same tone with its low byte
// replaced by a 16-byte tag that repeats every 16 samples: the target pid
// (little-endian), the loopback mode as the activation carried it (0 include,
// 1 exclude), three marker bytes, and the number of the tag (sample index / 16,
// little-endian), so that any frame names the pid, the mode and its place in
// the stream.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace standin {

inline constexpr std::uint32_t LOOPBACK_INCLUDE = 0;  // PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE
inline constexpr std::uint32_t LOOPBACK_EXCLUDE = 1;  // PROCESS_LOOPBACK_MODE_EXCLUDE_TARGET_PROCESS_TREE
inline constexpr std::size_t BYTES_PER_SAMPLE_FRAME = 4;  // stereo s16le
inline constexpr std::size_t TAG_SAMPLES = 16;
inline constexpr std::array<std::uint8_t, 3> TAG_MARKER = {0xB5, 0x5B, 0xA5};

// What the activation asked for.
struct Target {
    std::uint32_t pid = 0;
    std::uint32_t loopback_mode = LOOPBACK_INCLUDE;
};

// 48..95 samples (1000..505 Hz) in include mode, 96..143 (500..336 Hz) in exclude mode.
[[nodiscard]] constexpr std::uint32_t tone_period(Target target) {
    return (target.loopback_mode == LOOPBACK_INCLUDE ? 48u : 96u) + target.pid % 48u;
}

[[nodiscard]] constexpr std::uint8_t tag_byte(Target target, std::uint64_t sample) {
    const std::uint64_t tag = sample / TAG_SAMPLES;
    const auto at = static_cast<unsigned>(sample % TAG_SAMPLES);
    if (at < 4) return static_cast<std::uint8_t>(target.pid >> (8 * at));
    if (at == 4) return static_cast<std::uint8_t>(target.loopback_mode);
    if (at < 8) return TAG_MARKER[at - 5];
    if (at < 12) return static_cast<std::uint8_t>(tag >> (8 * (at - 8)));
    return 0;
}

struct SampleFrame {
    std::int16_t left = 0;
    std::int16_t right = 0;
};

[[nodiscard]] constexpr SampleFrame sample_at(Target target, std::uint64_t sample) {
    const std::uint32_t period = tone_period(target);
    const auto tone = static_cast<std::int32_t>(100 * (sample % period)) - static_cast<std::int32_t>(50 * period);
    const auto high = static_cast<std::uint16_t>(static_cast<std::uint16_t>(tone) & 0xFF00u);
    return {static_cast<std::int16_t>(tone),
            static_cast<std::int16_t>(static_cast<std::uint16_t>(high | tag_byte(target, sample)))};
}

// Writes the sample frames first_sample, first_sample + 1, ... as s16le into
// `out` (whose size is a multiple of 4).
inline void fill_signal(Target target, std::uint64_t first_sample, std::span<std::uint8_t> out) {
    for (std::size_t i = 0; i + BYTES_PER_SAMPLE_FRAME <= out.size(); i += BYTES_PER_SAMPLE_FRAME) {
        const SampleFrame s = sample_at(target, first_sample + i / BYTES_PER_SAMPLE_FRAME);
        const auto left = static_cast<std::uint16_t>(s.left);
        const auto right = static_cast<std::uint16_t>(s.right);
        out[i] = static_cast<std::uint8_t>(left);
        out[i + 1] = static_cast<std::uint8_t>(left >> 8);
        out[i + 2] = static_cast<std::uint8_t>(right);
        out[i + 3] = static_cast<std::uint8_t>(right >> 8);
    }
}

// How the engine cuts the signal into packets.
struct PacketPlan {
    std::uint32_t fixed_frames = 480;  // every packet, unless varying
    bool varying = false;              // the sizes of VARYING_PACKETS, in turn
    bool odd_packets_zeroed = false;   // packets 1, 3, 5, ... flagged silent or without data
};

inline constexpr std::array<std::uint32_t, 8> VARYING_PACKETS = {441, 1, 1024, 479, 13, 960, 480, 2};

[[nodiscard]] constexpr std::uint32_t packet_frames(const PacketPlan& plan, std::uint64_t packet) {
    return plan.varying ? VARYING_PACKETS[packet % VARYING_PACKETS.size()] : plan.fixed_frames;
}

[[nodiscard]] constexpr bool packet_zeroed(const PacketPlan& plan, std::uint64_t packet) {
    return plan.odd_packets_zeroed && packet % 2 == 1;
}

// The first `bytes` bytes a capture that turns every packet into bytes (zeros
// for a silent packet or one without data) produces from the start.
[[nodiscard]] inline std::vector<std::uint8_t> expected_stream(Target target, const PacketPlan& plan,
                                                               std::size_t bytes) {
    std::vector<std::uint8_t> stream(bytes + 1024 * BYTES_PER_SAMPLE_FRAME, 0);
    std::uint64_t sample = 0;
    std::size_t at = 0;
    for (std::uint64_t packet = 0; at < bytes; ++packet) {
        const std::size_t length = packet_frames(plan, packet) * BYTES_PER_SAMPLE_FRAME;
        if (!packet_zeroed(plan, packet)) {
            fill_signal(target, sample, std::span(stream).subspan(at, length));
        }
        sample += packet_frames(plan, packet);
        at += length;
    }
    stream.resize(bytes);
    return stream;
}

// What a run of the signal names: the pid, the mode and the sample index of
// its first sample frame. Needs one whole tag at the start (16 sample frames,
// 64 bytes) as any frame of the stream has; nullopt for anything else.
struct Decoded {
    Target target;
    std::uint64_t first_sample = 0;
};

[[nodiscard]] inline std::optional<Decoded> decode_signal(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < TAG_SAMPLES * BYTES_PER_SAMPLE_FRAME) return std::nullopt;
    auto tag = [&](std::size_t at) { return bytes[at * BYTES_PER_SAMPLE_FRAME + 2]; };
    if (tag(5) != TAG_MARKER[0] || tag(6) != TAG_MARKER[1] || tag(7) != TAG_MARKER[2] || tag(4) > 1) {
        return std::nullopt;
    }
    Decoded decoded;
    std::uint64_t number = 0;
    for (unsigned i = 0; i < 4; ++i) {
        decoded.target.pid |= static_cast<std::uint32_t>(tag(i)) << (8 * i);
        number |= static_cast<std::uint64_t>(tag(8 + i)) << (8 * i);
    }
    decoded.target.loopback_mode = tag(4);
    decoded.first_sample = number * TAG_SAMPLES;
    return decoded;
}

}  // namespace standin
