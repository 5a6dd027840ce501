// The session with scripted capture threads, for the outcomes a real engine
// cannot be made to produce: no report at all, a thread that ends without a
// report, a failure text that needs escaping, a capture that ends mid-stream.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "log.hpp"
#include "messages.hpp"
#include "os/fs.hpp"
#include "session.hpp"
#include "support/program_run.hpp"
#include "support/stream_check.hpp"
#include "support/scoped_env.hpp"
#include "client/ws_client.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using audio::capture::CaptureContext;

std::atomic<bool> g_body_ended{false};

void never_reports(CaptureContext context) {
    while (!context.stop->load()) std::this_thread::sleep_for(5ms);
    g_body_ended = true;
}

void ends_without_report(CaptureContext) { g_body_ended = true; }

const std::string AWKWARD_TEXT = "falhou \"assim\"\ne \\ assado";

void fails_with_awkward_text(CaptureContext context) {
    context.start.send(audio::capture::Failed{AWKWARD_TEXT});
}

void streams_three_frames_then_ends(CaptureContext context) {
    context.start.send(audio::capture::Started{});
    for (std::uint8_t i = 1; i <= 3; ++i) {
        audio::protocol::Frame::Bytes bytes{};
        bytes[0] = i;
        (void)context.frames.offer(audio::protocol::Frame::copy_of(bytes));
    }
}

// As many frames as the channel takes, until stopped.
void floods_frames(CaptureContext context) {
    context.start.send(audio::capture::Started{});
    const audio::protocol::Frame::Bytes silence{};
    while (!context.stop->load() && context.frames.offer(audio::protocol::Frame::copy_of(silence))) {
        std::this_thread::yield();
    }
}

std::string end_text(const std::expected<void, std::string>& ended) { return ended ? "<none>" : ended.error(); }

// A session over a real loopback connection, its client end kept by the test.
class ScriptedSession : public ::testing::Test {
protected:
    void SetUp() override {
        audio::init_log();
        auto listener = os::Listener::bind_loopback(0, 1);
        ASSERT_TRUE(listener.has_value());
        auto client = client::WsClient::connect(listener->local_port().value());
        ASSERT_TRUE(client.has_value());
        client_.emplace(std::move(*client));
        auto accepted = listener->accept();
        ASSERT_TRUE(accepted.has_value());
        ASSERT_TRUE(accepted->set_write_timeout(2s).has_value());  // as accept_client sets it
        connection_.emplace(std::make_unique<os::Socket>(std::move(*accepted)));
        g_body_ended = false;
    }

    std::future<std::expected<void, std::string>> start(audio::CaptureBody body,
                                                        std::chrono::milliseconds start_limit = audio::START_TIMEOUT) {
        const audio::CaptureSettings settings{
            .mode = CaptureMode::Include, .target_pid = 0, .body = body, .start_timeout = start_limit};
        const std::uint64_t generation = state_.register_session();
        return std::async(std::launch::async, [this, settings, generation] {
            return audio::run_session(*connection_, settings, state_, generation);
        });
    }

    client::ServerFrame next_frame() {
        auto frame = client_->read_frame(15s);
        EXPECT_TRUE(frame.has_value()) << frame.error().text();
        return frame ? std::move(*frame) : client::ServerFrame{};
    }

    std::vector<std::string> log() const {
        auto content = os::read_file(log_.file("audio.log"));
        return content ? test_support::messages_of(test_support::parse_log(*content)) : std::vector<std::string>{};
    }

    test_support::TempDir log_;
    test_support::ScopedEnv log_env_{"QUORVEL_AUDIO_LOG", log_.file("audio.log")};
    std::optional<client::WsClient> client_;
    std::optional<server::WebSocket> connection_;
    server::SharedState state_{server::IdleLimit{30}};
};

TEST_F(ScriptedSession, NoReportWithinTheStartLimitEndsTheStartAndWaitsForTheThread) {
    const auto started = Clock::now();
    auto session = start(never_reports, 300ms);
    EXPECT_EQ(next_frame().text(), test_support::FORMAT_MESSAGE);
    const auto error = next_frame();
    EXPECT_EQ(error.text(), audio::error_message("a captura não iniciou a tempo"));
    EXPECT_GE(Clock::now() - started, 300ms) << "the whole start limit is waited for";
    EXPECT_EQ(next_frame().wire_size, 2u) << "close without status";
    EXPECT_EQ(end_text(session.get()), "a captura não iniciou a tempo");
    EXPECT_TRUE(g_body_ended) << "joined before returning";
    EXPECT_EQ(log(), std::vector<std::string>{"falha ao iniciar a captura: a captura não iniciou a tempo"});
}

TEST_F(ScriptedSession, ThreadThatEndsWithoutAReportEndsTheStartAtOnce) {
    // A start limit longer than the guard: only a start that ends with the
    // thread, not with the limit, returns in time.
    auto session = start(ends_without_report, 60s);
    EXPECT_EQ(next_frame().text(), test_support::FORMAT_MESSAGE);
    EXPECT_EQ(next_frame().text(), audio::error_message("a captura não iniciou a tempo"));
    ASSERT_EQ(session.wait_for(20s), std::future_status::ready)
        << "the session still waits for a report 20 s after its capture thread ended";
    EXPECT_EQ(end_text(session.get()), "a captura não iniciou a tempo");
}

TEST_F(ScriptedSession, FailureTextIsEscapedForTheClientAndRawInTheLog) {
    auto session = start(fails_with_awkward_text);
    EXPECT_EQ(next_frame().text(), test_support::FORMAT_MESSAGE);
    EXPECT_EQ(next_frame().text(), R"({"type":"error","message":"falhou \"assim\" e \\ assado"})");
    const auto close = next_frame();
    EXPECT_EQ(close.opcode, 8);
    EXPECT_TRUE(close.payload.empty());
    EXPECT_EQ(end_text(session.get()), AWKWARD_TEXT);
    EXPECT_EQ(log(), std::vector<std::string>{"falha ao iniciar a captura: " + AWKWARD_TEXT});
}

TEST_F(ScriptedSession, CaptureThatEndsWhileStreamingSendsItsFramesThenCloses) {
    auto session = start(streams_three_frames_then_ends);
    EXPECT_EQ(next_frame().text(), test_support::FORMAT_MESSAGE);
    for (std::uint8_t i = 1; i <= 3; ++i) {
        const auto frame = next_frame();
        ASSERT_EQ(frame.opcode, 2);
        ASSERT_EQ(frame.payload.size(), 1920u);
        EXPECT_EQ(frame.payload[0], i) << "queued frames are sent before the end";
    }
    const auto close = next_frame();
    EXPECT_EQ(close.opcode, 8);
    EXPECT_EQ(close.wire_size, 2u);
    EXPECT_EQ(end_text(session.get()), "captura encerrada");
    EXPECT_EQ(log(), (std::vector<std::string>{"captura iniciada", "cliente desconectado"}));
}

// The client reads nothing after the format message: once the socket
// buffers are full, a send that makes no progress for the send time-out ends
// the session with the layer's I/O error, whatever the platform.
TEST_F(ScriptedSession, ClientThatStopsReadingEndsAtTheSendTimeOutWithTheIoError) {
    ASSERT_TRUE(connection_->stream().set_write_timeout(300ms).has_value());
    auto session = start(floods_frames);
    EXPECT_EQ(next_frame().text(), test_support::FORMAT_MESSAGE);
    ASSERT_EQ(session.wait_for(30s), std::future_status::ready)
        << "the session still streamed to a client that had not read for 30 s";
    EXPECT_EQ(end_text(session.get()), "IO error: " + os::send_timeout_error().text());
    EXPECT_EQ(log(), (std::vector<std::string>{"captura iniciada", "cliente desconectado"}));
}

}  // namespace
