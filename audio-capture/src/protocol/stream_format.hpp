#pragma once
// The one audio format of the whole system: 48 kHz stereo signed 16-bit
// little-endian PCM, cut into 10 ms frames. The audio engine delivers it
// directly (or converts for us); nothing here converts samples.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace audio::protocol {

inline constexpr std::uint32_t SAMPLE_RATE = 48000;
inline constexpr std::uint16_t CHANNELS = 2;
inline constexpr std::string_view SAMPLE_FORMAT = "s16le";
inline constexpr std::uint32_t FRAME_MS = 10;
// Stored, not computed, so that a change elsewhere cannot silently change
// what clients are told; the checks below tie it to the other constants.
inline constexpr std::size_t FRAME_BYTES = 1920;
// Frames the frame channel holds: half a second of audio.
inline constexpr std::size_t FRAME_QUEUE_CAPACITY = 50;

inline constexpr std::uint32_t BYTES_PER_SAMPLE = 2;
inline constexpr std::uint32_t BYTES_PER_SAMPLE_FRAME = BYTES_PER_SAMPLE * CHANNELS;
inline constexpr std::uint32_t SAMPLE_FRAMES_PER_FRAME = SAMPLE_RATE / 1000 * FRAME_MS;

// The fields of a WAVEFORMATEX, kept free of <windows.h>; the Windows code
// copies them into the real structure.
struct StreamFormat {
    std::uint16_t format_tag;
    std::uint16_t channels;
    std::uint32_t samples_per_sec;
    std::uint32_t avg_bytes_per_sec;
    std::uint16_t block_align;
    std::uint16_t bits_per_sample;
    std::uint16_t extra_size;
};

inline constexpr std::uint16_t WAVE_FORMAT_PCM_TAG = 1;

inline constexpr StreamFormat STREAM_FORMAT{
    .format_tag = WAVE_FORMAT_PCM_TAG,
    .channels = CHANNELS,
    .samples_per_sec = SAMPLE_RATE,
    .avg_bytes_per_sec = 192000,
    .block_align = 4,
    .bits_per_sample = 16,
    .extra_size = 0,
};

static_assert(STREAM_FORMAT.block_align == BYTES_PER_SAMPLE_FRAME);
static_assert(STREAM_FORMAT.bits_per_sample == 8 * BYTES_PER_SAMPLE);
static_assert(STREAM_FORMAT.avg_bytes_per_sec == SAMPLE_RATE * BYTES_PER_SAMPLE_FRAME);
static_assert(FRAME_BYTES == std::size_t{SAMPLE_FRAMES_PER_FRAME} * BYTES_PER_SAMPLE_FRAME);
static_assert(FRAME_BYTES % BYTES_PER_SAMPLE_FRAME == 0, "a frame never splits a sample frame");

}  // namespace audio::protocol
