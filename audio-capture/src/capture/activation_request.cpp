#include "capture/activation_request.hpp"

#include "panic.hpp"

namespace audio::capture {

namespace {

std::uint32_t loopback_mode(CaptureMode mode) {
    switch (mode) {
    case CaptureMode::Include:
        return LOOPBACK_MODE_INCLUDE_TREE;
    case CaptureMode::Exclude:
        return LOOPBACK_MODE_EXCLUDE_TREE;
    case CaptureMode::FakeSource:
        break;
    }
    common::panic("loopback activation requested for the synthetic source");
}

}  // namespace

ActivationRequest make_activation_request(CaptureMode mode, std::uint32_t target_pid) {
    return ActivationRequest{
        .activation_type = ACTIVATION_TYPE_PROCESS_LOOPBACK,
        .target_pid = target_pid,
        .loopback_mode = loopback_mode(mode),
    };
}

}  // namespace audio::capture
