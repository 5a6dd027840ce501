#include <gtest/gtest.h>

#include "capture/activation_request.hpp"

namespace audio::capture {
namespace {

TEST(ActivationRequest, IncludeAndExcludeBecomeTheEnginesTreeModes) {
    const auto include = make_activation_request(CaptureMode::Include, 4242);
    EXPECT_EQ(include.activation_type, 1u);
    EXPECT_EQ(include.target_pid, 4242u);
    EXPECT_EQ(include.loopback_mode, 0u);  // include target process tree

    const auto exclude = make_activation_request(CaptureMode::Exclude, 31337);
    EXPECT_EQ(exclude.activation_type, 1u);
    EXPECT_EQ(exclude.target_pid, 31337u);
    EXPECT_EQ(exclude.loopback_mode, 1u);  // exclude target process tree
}

}  // namespace
}  // namespace audio::capture
