// The running capture loop through the scripted platform: draining, silent
// packets, stopping, a vanished receiver and late failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture/capture_thread.hpp"
#include "support/scripted_capture.hpp"

namespace audio::capture {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test_support::CaptureScript;
using test_support::ScriptedCapture;
using test_support::ScriptedPacket;
using test_support::ScriptedPass;
using Bytes = std::vector<std::uint8_t>;

Bytes frame_bytes(const protocol::Frame& frame) { return Bytes(frame.bytes().begin(), frame.bytes().end()); }

// Everything the frame channel delivers until the capture thread has gone.
std::vector<Bytes> frames_until_disconnected(protocol::FrameReceiver& frames) {
    std::vector<Bytes> received;
    for (;;) {
        auto frame = frames.recv_until(Clock::now() + 10s);
        if (!frame) {
            EXPECT_EQ(frame.error(), RecvError::Disconnected) << "the capture thread did not end";
            return received;
        }
        received.push_back(frame_bytes(*frame));
    }
}

bool is_started(const std::optional<StartReport>& report) {
    return report && std::holds_alternative<Started>(*report);
}

// The calls after the last "Wait": what the loop did in its final pass and after it.
std::vector<std::string> after_last_wait(const std::vector<std::string>& calls) {
    auto last = std::find(calls.rbegin(), calls.rend(), "Wait");
    return std::vector<std::string>(last.base(), calls.end());
}

TEST(CaptureLoop, SilentAndDatalessPacketsBecomeZeroFrames) {
    ScriptedCapture platform({.passes = {
                                  {.packets = {ScriptedPacket::silent(480)}},
                                  {.packets = {ScriptedPacket::without_data(240), ScriptedPacket::silent(240)}},
                                  {},  // a wake-up with nothing ready
                                  {.packets = {ScriptedPacket::audio(480, 3)}},
                              }});
    auto setup = test_support::make_capture_setup(CaptureMode::Include, 9);
    test_support::CaptureThread thread(std::move(setup.context), platform);
    ASSERT_TRUE(is_started(test_support::wait_start_report(setup.ends.start)));

    std::vector<Bytes> frames;
    for (int i = 0; i < 3; ++i) {
        auto frame = setup.ends.frames.recv_until(Clock::now() + 10s);
        ASSERT_TRUE(frame.has_value());
        frames.push_back(frame_bytes(*frame));
    }
    ASSERT_TRUE(platform.wait_until_idle(10s));
    setup.ends.stop->store(true);
    platform.wake();
    thread.join();

    EXPECT_EQ(frames[0], Bytes(1920, 0));
    EXPECT_EQ(frames[1], Bytes(1920, 0));
    EXPECT_EQ(frames[2], ScriptedPacket::audio(480, 3).bytes);
    EXPECT_EQ(platform.count_calls("GetBuffer"), 4u);
    EXPECT_EQ(platform.count_calls("ReleaseBuffer(240)"), 2u);
    EXPECT_EQ(platform.count_calls("ReleaseBuffer(480)"), 2u);
}

TEST(CaptureLoop, StopEndsAfterThePassWithOneStopAndNoRemainder) {
    ScriptedCapture platform({.passes = {
                                  {.packets = {ScriptedPacket::audio(480, 1)}},
                                  // 600 sample frames: one whole frame and 480 bytes left over.
                                  {.packets = {ScriptedPacket::audio(600, 2)}, .set_stop = true},
                              }});
    auto setup = test_support::make_capture_setup(CaptureMode::Exclude, 9);
    platform.set_stop_flag(setup.ends.stop);
    test_support::CaptureThread thread(std::move(setup.context), platform);
    ASSERT_TRUE(is_started(test_support::wait_start_report(setup.ends.start)));

    const auto frames = frames_until_disconnected(setup.ends.frames);
    thread.join();
    ASSERT_EQ(frames.size(), 2u);
    const Bytes second = ScriptedPacket::audio(600, 2).bytes;
    EXPECT_TRUE(std::equal(frames[1].begin(), frames[1].end(), second.begin()));

    EXPECT_EQ(platform.count_calls("Wait"), 2u);
    EXPECT_EQ(platform.count_calls("Stop#1"), 1u);
    const std::vector<std::string> tail = {"GetNextPacketSize",      "GetBuffer",        "ReleaseBuffer(600)",
                                           "GetNextPacketSize",      "Stop#1",           "Release capture client",
                                           "Release client#1",       "CloseHandle",      "CoUninitialize"};
    EXPECT_EQ(after_last_wait(platform.calls()), tail);
}

TEST(CaptureLoop, StopDuringAQuietWaitEndsAfterThatWait) {
    ScriptedCapture platform({.passes = {{.packets = {ScriptedPacket::audio(480)}}}});
    auto setup = test_support::make_capture_setup(CaptureMode::Include, 9);
    test_support::CaptureThread thread(std::move(setup.context), platform);
    ASSERT_TRUE(is_started(test_support::wait_start_report(setup.ends.start)));
    ASSERT_TRUE(platform.wait_until_idle(10s));

    // No wake-up: the thread leaves its wait only by the 100 ms time-out.
    const auto waits_before = platform.count_calls("Wait");
    setup.ends.stop->store(true);
    thread.join();
    EXPECT_LE(platform.count_calls("Wait"), waits_before + 1);
    EXPECT_EQ(platform.count_calls("Stop#1"), 1u);
    EXPECT_EQ(platform.calls().back(), "CoUninitialize");
}

TEST(CaptureLoop, ReceiverGoneFinishesTheDrainThenStops) {
    ScriptedCapture platform({.passes = {
                                  {.packets = {ScriptedPacket::audio(960), ScriptedPacket::audio(480),
                                               ScriptedPacket::silent(480)}},
                              }});
    auto setup = test_support::make_capture_setup(CaptureMode::Include, 9);
    { auto gone = std::move(setup.ends.frames); }
    test_support::CaptureThread thread(std::move(setup.context), platform);
    ASSERT_TRUE(is_started(test_support::wait_start_report(setup.ends.start)));
    thread.join();

    EXPECT_EQ(platform.count_calls("Wait"), 1u);
    EXPECT_EQ(platform.count_calls("GetBuffer"), 3u) << "every ready packet is still taken";
    EXPECT_EQ(platform.count_calls("Stop#1"), 1u);
    EXPECT_EQ(platform.calls().back(), "CoUninitialize");
}

TEST(CaptureLoop, LateFailureEndsWithoutReportOrStop) {
    struct Case {
        const char* name;
        ScriptedPass failing_pass;
        std::size_t frames;  // the failing pass's packet is cut before ReleaseBuffer
        std::vector<std::string> tail;
    };
    ScriptedPacket refused = ScriptedPacket::audio(480, 9);
    refused.get_buffer_failure = "GetBuffer quebrou";
    ScriptedPacket unreleased = ScriptedPacket::audio(480, 9);
    unreleased.release_buffer_failure = "ReleaseBuffer quebrou";
    const std::vector<std::string> releases = {"Release capture client", "Release client#1", "CloseHandle",
                                               "CoUninitialize"};
    auto with_releases = [&](std::vector<std::string> calls) {
        calls.insert(calls.end(), releases.begin(), releases.end());
        return calls;
    };
    const Case cases[] = {
        {"GetBuffer", {.packets = {refused}}, 1, with_releases({"GetNextPacketSize", "GetBuffer"})},
        {"ReleaseBuffer",
         {.packets = {unreleased}},
         2,
         with_releases({"GetNextPacketSize", "GetBuffer", "ReleaseBuffer(480)"})},
        {"GetNextPacketSize",
         {.next_packet_size_failure = "tamanho quebrou"},
         1,
         with_releases({"GetNextPacketSize"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedCapture platform({.passes = {{.packets = {ScriptedPacket::audio(480, 4)}}, c.failing_pass}});
        auto setup = test_support::make_capture_setup(CaptureMode::Include, 9);
        test_support::CaptureThread thread(std::move(setup.context), platform);
        ASSERT_TRUE(is_started(test_support::wait_start_report(setup.ends.start)));

        // The session sees the frames queued before the failure, then the end.
        const auto frames = frames_until_disconnected(setup.ends.frames);
        thread.join();
        EXPECT_EQ(frames.size(), c.frames);
        EXPECT_EQ(after_last_wait(platform.calls()), c.tail);
        EXPECT_EQ(platform.count_calls("Stop#1"), 0u);
    }
}

}  // namespace
}  // namespace audio::capture
