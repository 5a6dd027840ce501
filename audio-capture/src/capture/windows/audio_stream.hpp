#pragma once
// Setting up the capture stream on an activated audio client.

#include <cstdint>
#include <expected>

#include "capture/windows/audio_declarations.hpp"
#include "capture/windows/com_error.hpp"
#include "protocol/stream_format.hpp"

namespace audio::capture::windows {

[[nodiscard]] WAVEFORMATEX to_waveformatex(const protocol::StreamFormat& format);

// IAudioClient::Initialize in shared mode with STREAM_FORMAT, a 20 ms buffer
// and BASE_STREAM_FLAGS | extra_flags, then SetEventHandle with the event.
// The error of the first call that failed, with its error information.
[[nodiscard]] std::expected<void, ComError> initialize_stream(IAudioClient& client, HANDLE event,
                                                              std::uint32_t extra_flags);

}  // namespace audio::capture::windows
