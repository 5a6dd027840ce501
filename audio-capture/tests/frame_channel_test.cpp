// The frame channel between the capture thread and the session. Dropping the
// newest frame when 50 wait, and offers that find the session gone, are
// checked with the frame assembler.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "protocol/frame_channel.hpp"

namespace audio::protocol {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Frame numbered(std::uint8_t number) {
    Frame::Bytes bytes{};
    bytes[0] = number;
    return Frame::copy_of(bytes);
}

TEST(FrameChannel, DisconnectionIsSeenOnlyAfterTheWaitingFrames) {
    auto [sink, receiver] = make_frame_channel();
    ASSERT_TRUE(sink.offer(numbered(7)));
    ASSERT_TRUE(sink.offer(numbered(8)));
    { auto gone = std::move(sink); }

    // A deadline that has passed still takes what waits.
    EXPECT_EQ(receiver.recv_until(Clock::now() - 1s).value().bytes()[0], 7);
    EXPECT_EQ(receiver.try_recv().value().bytes()[0], 8);
    EXPECT_EQ(receiver.recv_until(Clock::now() + 30s).error(), RecvError::Disconnected);
    EXPECT_EQ(receiver.try_recv().error(), RecvError::Disconnected);
}

TEST(FrameChannel, ReceiveTimesOutWhileTheSenderIsThere) {
    auto [sink, receiver] = make_frame_channel();
    const auto started = Clock::now();
    EXPECT_EQ(receiver.recv_until(started + 20ms).error(), RecvError::Timeout);
    EXPECT_GE(Clock::now() - started, 20ms);
    EXPECT_EQ(receiver.try_recv().error(), RecvError::Timeout);
    EXPECT_TRUE(sink.offer(numbered(1)));
}

TEST(FrameChannel, WaitingReceiverWakesForAFrameAndForTheSenderLeaving) {
    auto [sink, receiver] = make_frame_channel();
    std::thread capture([s = std::move(sink)]() mutable {
        (void)s.offer(numbered(42));
        // s is destroyed here: the receiver must wake again for that.
    });
    // Generous limits: a wake-up that is missed shows as a 30 s wait.
    const auto started = Clock::now();
    EXPECT_EQ(receiver.recv_until(started + 30s).value().bytes()[0], 42);
    EXPECT_EQ(receiver.recv_until(started + 30s).error(), RecvError::Disconnected);
    EXPECT_LT(Clock::now() - started, 20s) << "a wake-up was missed";
    capture.join();
}

}  // namespace
}  // namespace audio::protocol
