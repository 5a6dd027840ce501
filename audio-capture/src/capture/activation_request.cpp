#include "capture/activation_request.hpp"

namespace audio::capture {

ActivationRequest make_activation_request(CaptureMode mode, std::uint32_t target_pid) {
    // The engine numbers the two modes the other way round: Include (1) is
    // its "include tree" (0), Exclude (0) its "exclude tree" (1).
    return ActivationRequest{
        .activation_type = ACTIVATION_TYPE_PROCESS_LOOPBACK,
        .target_pid = target_pid,
        .loopback_mode = static_cast<std::uint32_t>(mode) ^ 1U,
    };
}

}  // namespace audio::capture
