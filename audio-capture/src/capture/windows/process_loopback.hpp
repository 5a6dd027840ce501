#pragma once
// Obtaining the process-loopback audio client.

#include <cstdint>
#include <expected>
#include <string>

#include "capture/windows/audio_declarations.hpp"
#include "capture/windows/com_ptr.hpp"
#include "capture_mode.hpp"

namespace audio::capture::windows {

// Activates the process-loopback virtual device for the mode (Include or
// Exclude) and the process tree rooted at target_pid, waiting at most
// ACTIVATION_TIMEOUT_MS for the system. The client is not yet initialized.
// The calling thread has joined the multithreaded apartment.
[[nodiscard]] std::expected<ComPtr<IAudioClient>, std::string> activate_process_loopback(
    CaptureMode mode, std::uint32_t target_pid);

}  // namespace audio::capture::windows
