#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "server/shared_state.hpp"

namespace {

TEST(IdleLimit, PassesOnlyWhenStrictlyGreater) {
    using namespace std::chrono;
    const steady_clock::time_point t0{seconds(1000)};
    const server::IdleLimit two{2};
    EXPECT_FALSE(server::idle_limit_passed(t0, t0 + seconds(2), two));
    EXPECT_TRUE(server::idle_limit_passed(t0, t0 + seconds(2) + nanoseconds(1), two));
    EXPECT_TRUE(server::idle_limit_passed(t0, t0 + seconds(3), two));
    EXPECT_FALSE(server::idle_limit_passed(t0, t0 + milliseconds(1999), two));
    EXPECT_FALSE(server::idle_limit_passed(t0 + seconds(5), t0, two)) << "since after now counts as 0";
    EXPECT_FALSE(server::idle_limit_passed(t0, t0, server::IdleLimit{0}));
    EXPECT_TRUE(server::idle_limit_passed(t0, t0 + nanoseconds(1), server::IdleLimit{0}));
    EXPECT_FALSE(server::idle_limit_passed(t0, t0 + hours(1000000), server::IdleLimit{UINT64_MAX}));
}

}  // namespace
