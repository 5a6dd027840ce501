// The pure pieces of the PipeWire capture: whose stream a node is, which
// players a mode takes, where each channel goes, and the ring between
// PipeWire's audio thread and the capture thread.

#include <gtest/gtest.h>

#include <thread>

#include "capture/pipewire/sample_ring.hpp"
#include "capture/pipewire/stream_owner.hpp"

namespace audio::capture::pipewire {
namespace {

TEST(PipewireRules, OwnerIsTheFirstFactPresent) {
    EXPECT_EQ(owner_pid({.node_process_id = 7, .client_process_id = 8, .client_socket_pid = 9}), 7u)
        << "a PulseAudio player names itself on the node; its client is the layer";
    EXPECT_EQ(owner_pid({.node_process_id = {}, .client_process_id = 8, .client_socket_pid = 9}), 8u);
    EXPECT_EQ(owner_pid({.node_process_id = {}, .client_process_id = {}, .client_socket_pid = 9}), 9u);
    EXPECT_EQ(owner_pid({}), std::nullopt);

    EXPECT_EQ(parse_pid("4242"), 4242u);
    for (const char* bad : {"", "0", "-1", "+5", "12a", " 12", "4294967296"}) {
        EXPECT_EQ(parse_pid(bad), std::nullopt) << bad;
    }
}

TEST(PipewireRules, TreeMembershipFollowsParents) {
    // 1 <- 10 <- 20 <- 30, 1 <- 40; 50 and 51 are each other's parent.
    const std::vector<os::ProcessEntry> rows = {{"init", 1, 0},  {"sh", 10, 1},  {"sh", 20, 10}, {"pw-cat", 30, 20},
                                                {"pw-cat", 40, 1}, {"a", 50, 51}, {"b", 51, 50}};
    EXPECT_TRUE(in_process_tree(rows, 10, 10));
    EXPECT_TRUE(in_process_tree(rows, 30, 10));
    EXPECT_FALSE(in_process_tree(rows, 40, 10));
    EXPECT_FALSE(in_process_tree(rows, 1, 10)) << "an ancestor is not in the tree";
    EXPECT_FALSE(in_process_tree(rows, 99, 10)) << "a process that is gone";
    EXPECT_FALSE(in_process_tree(rows, 50, 10)) << "a cycle ends the climb";

    EXPECT_TRUE(should_capture(CaptureMode::Include, true, false));
    EXPECT_FALSE(should_capture(CaptureMode::Include, false, false));
    EXPECT_FALSE(should_capture(CaptureMode::Exclude, true, false));
    EXPECT_TRUE(should_capture(CaptureMode::Exclude, false, false));
    for (auto mode : {CaptureMode::Include, CaptureMode::Exclude}) {
        for (bool in_tree : {true, false}) {
            EXPECT_FALSE(should_capture(mode, in_tree, true)) << "the program's own streams";
        }
    }
}

TEST(PipewireRules, ChannelsGoToTheirSideOrToBoth) {
    const struct {
        const char* channel;
        bool left, right;
    } cases[] = {{"FL", true, false}, {"FR", false, true}, {"RL", true, false}, {"SR", false, true},
                 {"MONO", true, true}, {"FC", true, true}, {"LFE", true, true}, {"AUX0", true, true},
                 {"", true, true}};
    for (const auto& c : cases) {
        const auto targets = channel_targets(c.channel);
        EXPECT_EQ(targets.left, c.left) << c.channel;
        EXPECT_EQ(targets.right, c.right) << c.channel;
    }
}

std::vector<std::uint8_t> read_all(SampleRing& ring) {
    std::vector<std::uint8_t> out;
    for (auto run = ring.readable(); !run.empty(); run = ring.readable()) {
        out.insert(out.end(), run.begin(), run.end());
        ring.consume(run.size());
    }
    return out;
}

TEST(PipewireRules, RingKeepsOrderAcrossTheWrapAndDropsWholeRunsWhenFull) {
    SampleRing ring(16);
    const std::vector<std::uint8_t> twelve = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(ring.write(twelve.data(), 12));
    EXPECT_FALSE(ring.write(twelve.data(), 8)) << "8 do not fit in the 4 left";
    EXPECT_EQ(ring.dropped(), 1u);
    EXPECT_EQ(read_all(ring), twelve);

    // Now the next run wraps: the reader gets it in two pieces.
    ASSERT_TRUE(ring.write(twelve.data(), 8));
    ASSERT_TRUE(ring.write(nullptr, 4)) << "null writes silence";
    EXPECT_EQ(ring.readable().size(), 4u) << "up to the end of the storage";
    const std::vector<std::uint8_t> expected = {1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0};
    EXPECT_EQ(read_all(ring), expected);
}

TEST(PipewireRules, RingCarriesEveryByteBetweenTwoThreads) {
    SampleRing ring(4096);
    constexpr std::size_t TOTAL = 1 << 20;
    std::thread writer([&] {
        std::vector<std::uint8_t> run;
        for (std::size_t sent = 0; sent < TOTAL;) {
            run.clear();
            for (std::size_t i = 0; i < 1 + sent % 700 && sent + i < TOTAL; ++i) {
                run.push_back(static_cast<std::uint8_t>((sent + i) % 251));
            }
            if (ring.write(run.data(), run.size())) {
                sent += run.size();
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::size_t received = 0;
    bool in_order = true;
    while (received < TOTAL) {
        const auto run = ring.readable();
        for (std::size_t i = 0; i < run.size(); ++i) {
            in_order = in_order && run[i] == (received + i) % 251;
        }
        received += run.size();
        ring.consume(run.size());
        if (run.empty()) {
            std::this_thread::yield();
        }
    }
    writer.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(received, TOTAL);
}

}  // namespace
}  // namespace audio::capture::pipewire
