#pragma once
// The process-loopback activation request, as plain numbers; the Windows code
// copies them into AUDIOCLIENT_ACTIVATION_PARAMS.

#include <cstdint>

#include "capture_mode.hpp"

namespace audio::capture {

inline constexpr std::uint32_t ACTIVATION_TYPE_PROCESS_LOOPBACK = 1;
inline constexpr std::uint32_t LOOPBACK_MODE_INCLUDE_TREE = 0;
inline constexpr std::uint32_t LOOPBACK_MODE_EXCLUDE_TREE = 1;

struct ActivationRequest {
    std::uint32_t activation_type = ACTIVATION_TYPE_PROCESS_LOOPBACK;
    std::uint32_t target_pid = 0;
    std::uint32_t loopback_mode = 0;
};

// mode is Include or Exclude (the engine's "include tree" 0 and "exclude tree" 1);
// the synthetic source is never activated.
[[nodiscard]] ActivationRequest make_activation_request(CaptureMode mode, std::uint32_t target_pid);

}  // namespace audio::capture
