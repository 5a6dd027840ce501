// The real program capturing from a private PipeWire sound server, with
// players of different pitch in child processes: which tones reach the
// client in include and exclude mode, and how the session ends when the
// server goes away.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support/sound_server.hpp"
#include "support/stream_check.hpp"
#include "support/tone_check.hpp"

namespace {

using namespace std::chrono_literals;
using test_support::ProgramRun;
using test_support::SoundServer;
using Clock = std::chrono::steady_clock;

constexpr const char* PW_CAT = "/usr/bin/pw-cat";
constexpr int TREE_TONE = 440, OTHER_TONE = 700, PULSE_TONE = 1000;
constexpr int TONE_SECONDS = 30;
// 2 s of blocks to judge a tone by, and up to 10 s for it to arrive (a player
// starting and being linked takes well under a second).
constexpr int SURVEY_BLOCKS = 20, ARRIVAL_BLOCKS = 100;

// The program started against the server, with a client that has read the
// format message.
struct Capture {
    Capture(const SoundServer& server, std::vector<std::string> args)
        : run(std::move(args), server.client_env()), client([&] {
              auto info = run.wait_for_info();
              if (!info) {
                  ADD_FAILURE() << "the program published no info file";
                  std::abort();
              }
              return test_support::connect_client(info->port);
          }()) {
        auto format = client.read_frame(10s);
        EXPECT_TRUE(format.has_value() && format->text() == test_support::FORMAT_MESSAGE)
            << "the format message within 10 s of the handshake";
    }
    ProgramRun run;
    client::WsClient client;
    test_support::BlockSource blocks = test_support::client_blocks(client);
};

// A tone file of the test's: `seconds` of a sine.
std::string tone(const SoundServer& server, int frequency, int channels = 2) {
    const std::string path = server.file("tone" + std::to_string(frequency) + ".wav");
    test_support::write_tone(path, frequency, channels, TONE_SECONDS);
    return path;
}

void expect_heard(const test_support::ToneSurvey& survey, const char* what) {
    EXPECT_TRUE(survey.heard) << what << " never reached the client within 10 s:" << survey.trace;
    // A lost buffer now and then silences part of a block.
    EXPECT_GE(survey.present, SURVEY_BLOCKS * 8 / 10) << what << ":" << survey.trace;
    EXPECT_EQ(survey.leaks, 0) << "a tone that must stay out was heard:" << survey.trace;
}

TEST(PipewireCapture, IncludeStreamsSilenceUntilTheTreePlaysThenOnlyTheTree) {
    SoundServer server;
    ASSERT_TRUE(server.ready());
    const std::string tree_tone = tone(server, TREE_TONE);
    auto other = server.play(PW_CAT, {"--playback", tone(server, OTHER_TONE)});
    // The tree: a shell whose child plays, and only once it is told to.
    const std::string go = server.file("go");
    auto tree = server.play("/bin/sh", {"-c", "while [ ! -e \"$0\" ]; do sleep 0.05; done; "
                                              "/usr/bin/pw-cat --playback \"$1\" & wait",
                                        go, tree_tone});
    Capture capture(server, ProgramRun::standard_args(tree.pid()));

    // Nothing of the tree plays: silence, at the graph's pace.
    (void)test_support::survey_tones(capture.blocks, 0, {}, 1, 0);
    const auto start = Clock::now();
    const auto silence = test_support::survey_tones(capture.blocks, 0, {TREE_TONE, OTHER_TONE}, 30, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(silence.leaks, 0) << silence.trace;
    EXPECT_NEAR(300 / seconds, 100.0, 15.0) << "frames a second while nothing matches";

    std::ofstream(go).put('1');
    expect_heard(test_support::survey_tones(capture.blocks, TREE_TONE, {OTHER_TONE}, SURVEY_BLOCKS, ARRIVAL_BLOCKS),
                 "the tree's player, started after the capture");
}

TEST(PipewireCapture, ExcludeCapturesEveryPlayerButTheTree) {
    SoundServer server;
    ASSERT_TRUE(server.ready());
    auto tree = server.play("/bin/sh", {"-c", "/usr/bin/pw-cat --playback \"$0\" & wait", tone(server, TREE_TONE)});
    auto other = server.play(PW_CAT, {"--playback", tone(server, OTHER_TONE)});
    Capture capture(server, {"--exclude-pid", std::to_string(tree.pid()), "--token", test_support::TOKEN, "--info-file",
                             "{info}"});
    expect_heard(test_support::survey_tones(capture.blocks, OTHER_TONE, {TREE_TONE}, SURVEY_BLOCKS, ARRIVAL_BLOCKS),
                 "the player outside the tree");
}

// The PulseAudio layer plays for paplay: the node names paplay's pid, its
// client is pipewire-pulse.
TEST(PipewireCapture, PulseAudioPlayerIsMatchedByItsOwnPid) {
    SoundServer server({.pulse = true});
    ASSERT_TRUE(server.ready());
    auto player = server.play("/usr/bin/paplay", {tone(server, PULSE_TONE, 1)});
    auto other = server.play(PW_CAT, {"--playback", tone(server, OTHER_TONE)});
    Capture capture(server, ProgramRun::standard_args(player.pid()));
    expect_heard(test_support::survey_tones(capture.blocks, PULSE_TONE, {OTHER_TONE}, SURVEY_BLOCKS, ARRIVAL_BLOCKS),
                 "paplay's tone");
}

TEST(PipewireCapture, ServerThatStopsWhileStreamingEndsTheSession) {
    SoundServer server;
    ASSERT_TRUE(server.ready());
    auto watched = test_support::start_watched();
    Capture capture(server, ProgramRun::standard_args(watched.pid()));
    (void)test_support::survey_tones(capture.blocks, 0, {}, 3, 0);

    server.stop_daemon();
    std::optional<client::ServerFrame> close;
    const auto deadline = Clock::now() + 10s;
    while (!close && Clock::now() < deadline) {
        auto frame = capture.client.read_frame(10s);
        ASSERT_TRUE(frame.has_value()) << "the connection ended without a Close frame: " << frame.error().text();
        if (frame->opcode == 8) close = std::move(*frame);
    }
    ASSERT_TRUE(close.has_value()) << "no Close frame within 10 s of the server's end";
    EXPECT_EQ(close->wire_size, 2u) << "88 00";

    ASSERT_TRUE(capture.run.wait_for_log("conexão encerrada: captura encerrada"))
        << "the session's closing record within 10 s";
    const auto messages = capture.run.log_messages();
    const auto ended = std::find(messages.begin(), messages.end(), "cliente desconectado");
    ASSERT_NE(ended, messages.end());
    ASSERT_NE(ended + 1, messages.end());
    EXPECT_EQ(*(ended + 1), "conexão encerrada: captura encerrada");
    EXPECT_FALSE(capture.run.wait(0ms).has_value()) << "the program goes on, waiting for the next client";
}

}  // namespace
