#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "channel.hpp"

namespace audio {
namespace {

using namespace std::chrono_literals;

TEST(Channel, FullBoundedChannelDropsTheNewItem) {
    auto [sender, receiver] = make_bounded_channel<int>(3);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(sender.try_send(i).has_value());
    }
    auto refused = sender.try_send(4);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), SendError::Full);

    for (int expected = 1; expected <= 3; ++expected) {
        auto item = receiver.try_recv();
        ASSERT_TRUE(item.has_value());
        EXPECT_EQ(*item, expected);
    }
    auto empty = receiver.try_recv();
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error(), RecvError::Timeout);
    // Room again after taking.
    EXPECT_TRUE(sender.try_send(5).has_value());
}

TEST(Channel, UnboundedChannelIsNeverFull) {
    auto [sender, receiver] = make_unbounded_channel<std::string>();
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(sender.try_send(std::to_string(i)).has_value());
    }
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(receiver.try_recv().value(), std::to_string(i));
    }
}

TEST(Channel, DisconnectionIsSeenOnlyAfterQueuedItems) {
    auto [sender, receiver] = make_bounded_channel<int>(4);
    ASSERT_TRUE(sender.try_send(7).has_value());
    ASSERT_TRUE(sender.try_send(8).has_value());
    { auto gone = std::move(sender); }

    EXPECT_EQ(receiver.recv_timeout(1s).value(), 7);
    EXPECT_EQ(receiver.try_recv().value(), 8);
    auto end = receiver.recv_timeout(1s);
    ASSERT_FALSE(end.has_value());
    EXPECT_EQ(end.error(), RecvError::Disconnected);
    EXPECT_EQ(receiver.try_recv().error(), RecvError::Disconnected);
}

TEST(Channel, SenderSeesReceiverGone) {
    auto [sender, receiver] = make_bounded_channel<int>(2);
    ASSERT_TRUE(sender.try_send(1).has_value());
    EXPECT_FALSE(sender.receiver_gone());
    { auto gone = std::move(receiver); }
    EXPECT_TRUE(sender.receiver_gone());
    auto refused = sender.try_send(2);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), SendError::Disconnected);
}

TEST(Channel, MoveAssignmentDisconnectsTheReplacedEnd) {
    auto [first_sender, first_receiver] = make_bounded_channel<int>(2);
    auto [second_sender, second_receiver] = make_bounded_channel<int>(2);
    first_sender = std::move(second_sender);
    EXPECT_EQ(first_receiver.try_recv().error(), RecvError::Disconnected);
    ASSERT_TRUE(first_sender.try_send(3).has_value());
    EXPECT_EQ(second_receiver.try_recv().value(), 3);
}

TEST(Channel, WaitingReceiverWakesForItemAndForDisconnection) {
    auto [sender, receiver] = make_unbounded_channel<int>();
    std::thread producer([s = std::move(sender)]() mutable {
        (void)s.try_send(42);
        // s is destroyed here: the receiver must wake again for that.
    });
    // Generous limits: a wake-up that is missed shows as a 30 s wait.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(receiver.recv_timeout(30s).value(), 42);
    EXPECT_EQ(receiver.recv_timeout(30s).error(), RecvError::Disconnected);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    producer.join();
}

TEST(Channel, ReceiveTimesOutWhileSenderLives) {
    auto [sender, receiver] = make_bounded_channel<int>(1);
    const auto started = std::chrono::steady_clock::now();
    auto nothing = receiver.recv_timeout(20ms);
    ASSERT_FALSE(nothing.has_value());
    EXPECT_EQ(nothing.error(), RecvError::Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 20ms);
    EXPECT_TRUE(sender.try_send(1).has_value());
}

}  // namespace
}  // namespace audio
