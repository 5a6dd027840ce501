// A listening client against the real program: what it receives, how its own
// messages are treated, and how the session ends.

#include <gtest/gtest.h>

#include <algorithm>

#include "messages.hpp"
#include "support/stream_check.hpp"

namespace {

using namespace std::chrono_literals;
using test_support::FakeSourceProgram;
using test_support::ProgramRun;
using client::ServerFrame;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t TEXT = 1, BINARY = 2, CLOSE = 8, PING = 9, PONG = 10;

ServerFrame read_or_fail(client::WsClient& client, std::chrono::milliseconds timeout = 5s) {
    auto frame = client.read_frame(timeout);
    if (!frame) {
        ADD_FAILURE() << "no frame: " << frame.error().text();
        return ServerFrame{};
    }
    return std::move(*frame);
}

// Reads frames until one of the opcode arrives; binary frames on the way must
// continue the sawtooth. Returns nullopt on time-out.
std::optional<ServerFrame> read_until(client::WsClient& client, std::uint8_t opcode,
                                      test_support::SawtoothFollower& follower, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        auto frame = client.read_frame(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (!frame) return std::nullopt;
        if (frame->opcode == opcode) return std::move(*frame);
        if (frame->opcode == BINARY) {
            const std::string broken = follower.next(frame->payload);
            EXPECT_EQ(broken, "");
        }
    }
    return std::nullopt;
}

void expect_audio(client::WsClient& client, test_support::SawtoothFollower& follower, int frames) {
    for (int i = 0; i < frames; ++i) {
        const ServerFrame frame = read_or_fail(client);
        ASSERT_EQ(frame.opcode, BINARY) << "frame " << i;
        ASSERT_TRUE(frame.fin);
        ASSERT_FALSE(frame.masked);
        ASSERT_EQ(frame.wire_size, 4u + 1920u) << "82 7E 07 80 header";
        const std::string broken = follower.next(frame.payload);
        ASSERT_EQ(broken, "") << "frame " << i;
    }
}

int count(const std::vector<std::string>& messages, const std::string& message) {
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

// The program in fake-source mode with one client that has read the format
// message and the first `frames` audio frames.
struct StreamingClient {
    explicit StreamingClient(int frames, std::vector<std::string> extra = {})
        : program(std::move(extra)), client(test_support::connect_client(program.port)) {
        (void)read_or_fail(client);
        expect_audio(client, follower, frames);
    }
    FakeSourceProgram program;
    client::WsClient client;
    test_support::SawtoothFollower follower;
};

TEST(ProgramSession, FormatMessageFirstThenContinuousAudio) {
    FakeSourceProgram program;
    auto client = test_support::connect_client(program.port);
    const ServerFrame first = read_or_fail(client);
    EXPECT_EQ(first.opcode, TEXT);
    EXPECT_EQ(first.text(), test_support::FORMAT_MESSAGE);
    EXPECT_EQ(first.wire_size, 2u + 97u) << "81 61 header";
    test_support::SawtoothFollower follower;
    expect_audio(client, follower, 150);
    EXPECT_TRUE(program.run.wait_for_log("captura iniciada"));
    const auto messages = program.run.log_messages();
    EXPECT_EQ(count(messages, "cliente autenticado"), 1);
}

TEST(ProgramSession, PingIsAnsweredWithinAboutOnePoll) {
    StreamingClient streaming(20);
    auto& [program, client, follower] = streaming;
    const std::string payload = "ping-payload-0123456789";
    const auto sent = Clock::now();
    ASSERT_TRUE(client.send_frame(PING, payload).has_value());
    auto pong = read_until(client, PONG, follower, 3s);
    ASSERT_TRUE(pong.has_value());
    EXPECT_EQ(pong->text(), payload);
    EXPECT_LT(Clock::now() - sent, 1s) << "answered at the next poll, every 100 ms";
    expect_audio(client, follower, 10);
}

TEST(ProgramSession, ClientMessagesHaveNoEffectOnTheStream) {
    StreamingClient streaming(10);
    auto& [program, client, follower] = streaming;
    // 40 at once: 32 are read in one poll, the rest in the next.
    std::vector<std::uint8_t> burst;
    for (int i = 0; i < 40; ++i) {
        const auto frame = client::client_frame(i % 2 == 0 ? TEXT : BINARY, i == 0 ? "" : "hello");
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(client.send_raw(burst).has_value());
    expect_audio(client, follower, 60);
    // A ping after them is answered, so all 40 have been read.
    ASSERT_TRUE(client.send_frame(PING, "after").has_value());
    auto pong = read_until(client, PONG, follower, 3s);
    ASSERT_TRUE(pong.has_value());
    EXPECT_EQ(pong->text(), "after");
    const auto messages = program.run.log_messages();
    EXPECT_EQ(count(messages, "cliente desconectado"), 0);
}

TEST(ProgramSession, ClientCloseIsEchoedAndEndsTheSession) {
    StreamingClient streaming(5);
    auto& [program, client, follower] = streaming;
    ASSERT_TRUE(client.send_frame(CLOSE, client::close_body(1000, "tchau")).has_value());
    auto reply = read_until(client, CLOSE, follower, 3s);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->text(), client::close_body(1000, "tchau"));
    auto rest = client.read_until_closed(3s);
    ASSERT_TRUE(rest.has_value()) << "the server closes the connection";
    EXPECT_EQ(*rest, "") << "no audio after the close reply";
    ASSERT_TRUE(program.run.wait_for_log("cliente desconectado"));
    const auto messages = program.run.log_messages();
    EXPECT_TRUE(std::none_of(messages.begin(), messages.end(),
                             [](const std::string& m) { return m.starts_with("conexão encerrada"); }));
}

TEST(ProgramSession, NewestClientSupersedesTheOlder) {
    FakeSourceProgram program;
    auto first = test_support::connect_client(program.port);
    (void)read_or_fail(first);
    test_support::SawtoothFollower first_follower;
    expect_audio(first, first_follower, 5);

    auto second = test_support::connect_client(program.port);
    const auto superseded = Clock::now();
    auto close = read_until(first, CLOSE, first_follower, 3s);
    ASSERT_TRUE(close.has_value());
    EXPECT_TRUE(close->payload.empty()) << "88 00";
    EXPECT_EQ(close->wire_size, 2u);
    EXPECT_LT(Clock::now() - superseded, 2s);

    EXPECT_EQ(read_or_fail(second).text(), test_support::FORMAT_MESSAGE);
    test_support::SawtoothFollower second_follower;
    expect_audio(second, second_follower, 30);
    ASSERT_TRUE(program.run.wait_for_log("cliente desconectado"));
    const auto messages = program.run.log_messages();
    EXPECT_EQ(count(messages, "cliente desconectado"), 1);
    EXPECT_EQ(count(messages, "cliente autenticado"), 2);
    EXPECT_TRUE(std::none_of(messages.begin(), messages.end(),
                             [](const std::string& m) { return m.starts_with("conexão encerrada"); }));
}

TEST(ProgramSession, CaptureThatCannotStartIsReportedToTheClient) {
    for (const char* mode : {"--include-pid", "--exclude-pid"}) {
        auto watched = test_support::start_watched();
#ifdef _WIN32
        const test_support::EnvOverrides env;
#else
        // No sound server: a runtime folder without one.
        const test_support::TempDir runtime;
        const test_support::EnvOverrides env = {
            {"XDG_RUNTIME_DIR", runtime.path()}, {"PIPEWIRE_REMOTE", std::nullopt},
            {"PIPEWIRE_RUNTIME_DIR", std::nullopt}};
#endif
        ProgramRun run({mode, std::to_string(watched.pid()), "--token", test_support::TOKEN, "--info-file", "{info}"}, env);
        auto info = run.wait_for_info();
        ASSERT_TRUE(info.has_value());
        auto client = test_support::connect_client(info->port);
        EXPECT_EQ(read_or_fail(client, 30s).text(), test_support::FORMAT_MESSAGE);
        const ServerFrame error = read_or_fail(client, 30s);
        EXPECT_EQ(error.opcode, TEXT);
        const ServerFrame close = read_or_fail(client);
        EXPECT_EQ(close.opcode, CLOSE);
        EXPECT_EQ(close.wire_size, 2u) << "88 00";

        ASSERT_TRUE(test_support::wait_until([&] {
            const auto m = run.log_messages();
            return std::any_of(m.begin(), m.end(), [](const std::string& s) { return s.starts_with("conexão encerrada: "); });
        }));
        const auto messages = run.log_messages();
        auto failed = std::find_if(messages.begin(), messages.end(),
                                   [](const std::string& m) { return m.starts_with("falha ao iniciar a captura: "); });
        ASSERT_NE(failed, messages.end()) << mode;
        const std::string text = failed->substr(std::string("falha ao iniciar a captura: ").size());
        ASSERT_NE(failed + 1, messages.end());
        EXPECT_EQ(*(failed + 1), "conexão encerrada: " + text);
        EXPECT_EQ(count(messages, "cliente desconectado"), 0);
        EXPECT_EQ(count(messages, "captura iniciada"), 0);
        EXPECT_EQ(error.text(), audio::error_message(text));
#ifdef _WIN32
        // Wine has no process-loopback device: the real activation runs and fails.
        EXPECT_TRUE(text.starts_with("ativação do loopback falhou (precisa do Windows 10 2004+): ")) << text;
        EXPECT_TRUE(text.ends_with(")")) << text;
#else
        EXPECT_EQ(text, "nenhum servidor de som PipeWire em execução (" + runtime.path() +
                            "/pipewire-0): No such file or directory (os error 2)");
#endif
    }
}

TEST(ProgramSession, AuthenticatedClientKeepsTheProgramAlivePastTheIdleLimit) {
    StreamingClient streaming(200, {"--idle-secs", "1"});  // two seconds, twice the limit
    auto& [program, client, follower] = streaming;
    EXPECT_FALSE(program.run.process().wait_for(0ms).has_value()) << "still running";

    // The session ends, and the idle clock restarts, only after the close is sent.
    const auto leaving = Clock::now();
    ASSERT_TRUE(client.send_frame(CLOSE, "").has_value());
    ASSERT_TRUE(program.run.wait_for_log("cliente desconectado")) << "the session did not end within 10 s";
    ASSERT_EQ(program.run.wait(20s), std::optional<test_support::ExitStatus>(0))
        << "the program did not end within 20 s of the last client leaving";
    EXPECT_GE(Clock::now() - leaving, 1s) << "the limit counts again from the departure";
    EXPECT_EQ(program.run.log_messages().back(), "encerrando: sem cliente além do limite");
}

TEST(ProgramSession, WatchedProcessEndingEndsTheProgramUnderAConnectedClient) {
    StreamingClient streaming(10);
    auto& [program, client, follower] = streaming;
    program.watched.kill();
    ASSERT_EQ(program.run.wait(10s), std::optional<test_support::ExitStatus>(0));
    const auto rest = client.read_until_closed(5s);
    EXPECT_TRUE(rest.has_value()) << "the connection drops with the program: " << rest.error().text();
    EXPECT_EQ(program.run.log_messages().back(), "encerrando: o processo capturado terminou");
}

}  // namespace
