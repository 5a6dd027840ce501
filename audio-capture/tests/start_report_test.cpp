// The one-shot channel of the capture thread's start report.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "capture/start_report.hpp"

namespace audio::capture {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(StartReport, ReportArrivesOnceEvenAfterTheDeadline) {
    auto [sender, receiver] = make_start_channel();
    sender.send(Failed{"falhou"});
    const auto report = receiver.recv_until(Clock::now() - 1s);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(std::get<Failed>(*report).text, "falhou");
    EXPECT_EQ(receiver.recv_until(Clock::now()).error(), RecvError::Disconnected) << "taken once";
}

TEST(StartReport, SenderGoneWithoutReportEndsTheWait) {
    auto [sender, receiver] = make_start_channel();
    EXPECT_EQ(receiver.recv_until(Clock::now() + 20ms).error(), RecvError::Timeout);
    std::thread capture([s = std::move(sender)] {});
    // A missed wake-up shows as a 30 s wait.
    const auto started = Clock::now();
    EXPECT_EQ(receiver.recv_until(started + 30s).error(), RecvError::Disconnected);
    EXPECT_LT(Clock::now() - started, 20s) << "a wake-up was missed";
    capture.join();
}

}  // namespace
}  // namespace audio::capture
