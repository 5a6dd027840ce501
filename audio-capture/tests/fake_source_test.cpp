#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capture/capture_thread.hpp"
#include "support/scripted_capture.hpp"

namespace audio::capture {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::int16_t sample_at(const protocol::Frame& frame, std::size_t index) {
    const auto bytes = frame.bytes();
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8)));
}

TEST(FakeSource, ProducesAContinuousSawtoothAfterStarted) {
    // The fake source needs no platform; the scripted one would record any call.
    test_support::ScriptedCapture platform({});
    auto setup = test_support::make_capture_setup(CaptureMode::FakeSource, 0);
    test_support::CaptureThread thread(std::move(setup.context), platform);
    const auto report = test_support::wait_start_report(setup.ends.start);
    ASSERT_TRUE(report && std::holds_alternative<Started>(*report));

    auto first = setup.ends.frames.recv_until(Clock::now() + 10s);
    auto second = setup.ends.frames.recv_until(Clock::now() + 10s);
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(second.has_value());
    setup.ends.stop->store(true);
    thread.join();

    // Samples interleave left, right: sample frame k is at 2k and 2k+1.
    EXPECT_EQ(sample_at(*first, 0), -5000);
    EXPECT_EQ(sample_at(*first, 1), -5000);
    EXPECT_EQ(sample_at(*first, 2), -4900);
    EXPECT_EQ(sample_at(*first, 3), -4900);
    EXPECT_EQ(sample_at(*first, 2 * 99), 4900);
    EXPECT_EQ(sample_at(*first, 2 * 100), -5000);
    EXPECT_EQ(sample_at(*first, 2 * 479 + 1), 100 * (479 % 100) - 5000);
    EXPECT_EQ(sample_at(*second, 0), 3000);  // index 480 continues the wave
    EXPECT_EQ(sample_at(*second, 1), 3000);
    for (std::size_t k = 0; k < 480; ++k) {
        ASSERT_EQ(sample_at(*second, 2 * k), sample_at(*second, 2 * k + 1)) << "both channels alike";
        ASSERT_EQ(sample_at(*second, 2 * k), 100 * static_cast<int>((480 + k) % 100) - 5000);
    }
    EXPECT_TRUE(platform.calls().empty()) << "no COM or audio call in this mode";
}

TEST(FakeSource, EndsAtTheFirstOfferThatFindsTheReceiverGone) {
    test_support::ScriptedCapture platform({});
    auto setup = test_support::make_capture_setup(CaptureMode::FakeSource, 0);
    { auto gone = std::move(setup.ends.frames); }
    test_support::CaptureThread thread(std::move(setup.context), platform);
    const auto report = test_support::wait_start_report(setup.ends.start);
    ASSERT_TRUE(report && std::holds_alternative<Started>(*report));
    thread.join();  // aborts the suite if the source keeps running
    EXPECT_FALSE(setup.ends.stop->load());
}

TEST(FakeSource, IsPacedByTheClock) {
    test_support::ScriptedCapture platform({});
    auto setup = test_support::make_capture_setup(CaptureMode::FakeSource, 0);
    const auto before_start = Clock::now();
    test_support::CaptureThread thread(std::move(setup.context), platform);
    (void)test_support::wait_start_report(setup.ends.start);
    for (int i = 0; i <= 30; ++i) {
        ASSERT_TRUE(setup.ends.frames.recv_until(Clock::now() + 10s).has_value());
    }
    const auto elapsed = Clock::now() - before_start;
    setup.ends.stop->store(true);
    thread.join();
    // Frame 30 is due 300 ms after the source started and may not come
    // sooner. (Speed targets live in the pacing benchmark; this only catches
    // a source that is not paced at all.)
    EXPECT_GE(elapsed, 299ms);
}

}  // namespace
}  // namespace audio::capture
