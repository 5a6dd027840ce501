#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "protocol/frame_assembler.hpp"

namespace audio::protocol {
namespace {

std::vector<std::uint8_t> counting_bytes(std::size_t count, std::uint8_t first = 1) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i * 7);
    }
    return bytes;
}

std::vector<std::vector<std::uint8_t>> drain(FrameReceiver& receiver) {
    std::vector<std::vector<std::uint8_t>> frames;
    while (auto frame = receiver.try_recv()) {
        frames.emplace_back(frame->bytes().begin(), frame->bytes().end());
    }
    return frames;
}

CapturedPacket packet_of(const std::vector<std::uint8_t>& bytes, std::uint32_t flags = 0) {
    return CapturedPacket{.data = bytes.data(),
                          .frame_count = static_cast<std::uint32_t>(bytes.size() / 4),
                          .flags = flags};
}

class FrameAssemblerTest : public ::testing::Test {
protected:
    std::pair<FrameSink, FrameReceiver> channel = make_frame_channel();
    FrameSink& sink = channel.first;
    FrameReceiver& receiver = channel.second;
    FrameAssembler assembler;
};

TEST_F(FrameAssemblerTest, PacketOf480FramesIsExactlyOneFrame) {
    const auto bytes = counting_bytes(1920);
    EXPECT_TRUE(push_packet(assembler, packet_of(bytes), sink));
    const auto frames = drain(receiver);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], bytes);
}

TEST_F(FrameAssemblerTest, RemainderStartsTheNextFrame) {
    const auto first = counting_bytes(4000, 3);   // 1000 sample frames
    const auto second = counting_bytes(1760, 90);  // 440 sample frames
    EXPECT_TRUE(push_packet(assembler, packet_of(first), sink));
    EXPECT_TRUE(push_packet(assembler, packet_of(second), sink));

    const auto frames = drain(receiver);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(std::equal(frames[0].begin(), frames[0].end(), first.begin()));
    EXPECT_TRUE(std::equal(frames[1].begin(), frames[1].end(), first.begin() + 1920));
    // The third frame: the 160 bytes left of the first packet, then the second packet.
    EXPECT_TRUE(std::equal(frames[2].begin(), frames[2].begin() + 160, first.begin() + 3840));
    EXPECT_TRUE(std::equal(frames[2].begin() + 160, frames[2].end(), second.begin()));
}

TEST_F(FrameAssemblerTest, SilentOrDatalessPacketsGiveZeros) {
    const auto garbage = counting_bytes(1920, 0x80);
    struct Case {
        const char* name;
        CapturedPacket packet;
    };
    const Case cases[] = {
        {"silent flag with data", packet_of(garbage, BUFFER_FLAG_SILENT)},
        {"silent among other flags", packet_of(garbage, BUFFER_FLAG_SILENT | 0x1 | 0x4)},
        {"absent data pointer", CapturedPacket{.data = nullptr, .frame_count = 480, .flags = 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(push_packet(assembler, c.packet, sink));
        const auto frames = drain(receiver);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], std::vector<std::uint8_t>(1920, 0));
    }
}

TEST_F(FrameAssemblerTest, OtherFlagsDoNotSilenceAudio) {
    const auto bytes = counting_bytes(1920, 5);
    EXPECT_TRUE(push_packet(assembler, packet_of(bytes, 0x1 | 0x4), sink));  // discontinuity, timestamp error
    const auto frames = drain(receiver);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], bytes);
}

TEST_F(FrameAssemblerTest, SilenceJoinsAudioInOneFrame) {
    const auto bytes = counting_bytes(1000, 9);  // 250 sample frames
    EXPECT_TRUE(push_packet(assembler, packet_of(bytes), sink));
    EXPECT_TRUE(push_packet(assembler, CapturedPacket{.data = nullptr, .frame_count = 230}, sink));
    const auto frames = drain(receiver);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), frames[0].begin()));
    EXPECT_TRUE(std::all_of(frames[0].begin() + 1000, frames[0].end(), [](auto b) { return b == 0; }));
}

TEST_F(FrameAssemblerTest, EmptyPacketChangesNothing) {
    const auto bytes = counting_bytes(400);
    EXPECT_TRUE(push_packet(assembler, packet_of(bytes), sink));
    EXPECT_TRUE(push_packet(assembler, CapturedPacket{.data = bytes.data(), .frame_count = 0}, sink));
    EXPECT_TRUE(push_packet(assembler, CapturedPacket{.data = nullptr, .frame_count = 0}, sink));
    EXPECT_TRUE(drain(receiver).empty());
    // The 400 bytes are still the start of the next frame.
    const auto rest = counting_bytes(1520, 50);
    EXPECT_TRUE(push_packet(assembler, packet_of(rest), sink));
    const auto frames = drain(receiver);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), frames[0].begin()));
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), frames[0].begin() + 400));
}

TEST_F(FrameAssemblerTest, ReceiverGoneAnswersFalse) {
    {
        auto dropped = std::move(receiver);
    }
    EXPECT_FALSE(push_packet(assembler, packet_of(counting_bytes(3 * 1920 + 8)), sink));
}

TEST_F(FrameAssemblerTest, FullChannelDropsNewFramesAndAnswersTrue) {
    constexpr std::size_t capacity = 50;  // half a second of audio
    for (std::size_t i = 0; i < capacity; ++i) {
        const auto bytes = counting_bytes(1920, static_cast<std::uint8_t>(i));
        ASSERT_TRUE(push_packet(assembler, packet_of(bytes), sink));
    }
    const auto late = counting_bytes(2 * 1920, 200);
    EXPECT_TRUE(push_packet(assembler, packet_of(late), sink));

    const auto frames = drain(receiver);
    ASSERT_EQ(frames.size(), capacity);
    // The oldest audio stays; the newest was dropped.
    EXPECT_EQ(frames.front(), counting_bytes(1920, 0));
    EXPECT_EQ(frames.back(), counting_bytes(1920, static_cast<std::uint8_t>(capacity - 1)));
}

}  // namespace
}  // namespace audio::protocol
