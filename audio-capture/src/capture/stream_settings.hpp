#pragma once
// The fixed settings of the capture stream and its loop.

#include <chrono>
#include <cstdint>

namespace audio::capture {

// AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK.
inline constexpr std::uint32_t BASE_STREAM_FLAGS = 0x00060000;
// Extra flags of the first attempt: the engine delivers our format as it is.
inline constexpr std::uint32_t NO_EXTRA_FLAGS = 0;
// Extra flags of the second attempt: AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
// AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY, the engine converts for us.
inline constexpr std::uint32_t CONVERSION_FLAGS = 0x88000000;
// 20 ms in units of 100 ns.
inline constexpr std::int64_t BUFFER_DURATION_HNS = 200000;
// The longest wait for the engine's signal per loop pass: a missed signal
// costs at most this much before the next drain.
inline constexpr std::chrono::milliseconds WAIT_PER_PASS{100};
// The longest wait for the activation's completion.
inline constexpr std::uint32_t ACTIVATION_TIMEOUT_MS = 10000;

}  // namespace audio::capture
