// The real program: the exclude-mode climb over a live process tree, the
// limit of sixteen simultaneous connections, and the 5 s a client has to send
// its request.

#include <gtest/gtest.h>

#include <array>

#include "os/fs.hpp"
#include "os/socket.hpp"
#include "client/ws_client.hpp"
#include "support/program_run.hpp"

namespace {

using test_support::ProgramRun;
using test_support::TOKEN;
using namespace std::chrono_literals;

TEST(ProgramWatch, ExcludeModeClimbsToTheTopOfSameNamedProcesses) {
    test_support::TempDir folder;
    const std::string pid_file = folder.file("deepest.pid");
    // The test starts the top copy (its parent, this test, runs another
    // executable); the copy three levels down reports its pid.
    auto top = test_support::start_watched({"--chain", "3", "--pid-file", pid_file});
    ASSERT_TRUE(test_support::wait_until([&] { return os::read_file(pid_file).has_value(); }));
    const std::string deepest = os::read_file(pid_file).value();
    ASSERT_FALSE(deepest.empty());

    ProgramRun run({"--exclude-pid", deepest, "--token", TOKEN, "--info-file", "{info}"});
    ASSERT_TRUE(run.wait_for_info().has_value());
    const std::string record = "modo exclude: excluindo a árvore do pid " + std::to_string(top.pid()) +
                               " (recebido " + deepest + ")";
    EXPECT_EQ(run.log_messages().front(), record);

    // The watched process is the top one: its end ends the program.
    top.kill();
    ASSERT_EQ(run.wait(), std::optional<test_support::ExitStatus>(0));
    EXPECT_EQ(run.log_messages().back(), "encerrando: o processo do Discord terminou");
}

// Whether the server closed the connection without sending anything within
// the time-out (a connection it keeps stays silent instead).
bool closed_without_a_byte(os::Socket& socket, std::chrono::milliseconds timeout) {
    if (!socket.set_read_timeout(timeout)) return false;
    std::array<std::uint8_t, 16> buffer{};
    auto received = socket.read(buffer);
    return received.has_value() && *received == 0;
}

TEST(ProgramConnections, SeventeenthSimultaneousConnectionIsClosedAtOnce) {
    auto watched = test_support::start_watched();
    ProgramRun run(ProgramRun::standard_args(watched.pid()));
    auto info = run.wait_for_info();
    ASSERT_TRUE(info.has_value());

    std::vector<os::Socket> held;
    for (int i = 0; i < 16; ++i) {
        auto socket = os::Socket::connect_loopback(info->port);
        ASSERT_TRUE(socket.has_value());
        held.push_back(std::move(*socket));
    }
    auto seventeenth = os::Socket::connect_loopback(info->port);
    ASSERT_TRUE(seventeenth.has_value());
    EXPECT_TRUE(closed_without_a_byte(*seventeenth, 3s)) << "the 17th is closed unread";
    EXPECT_FALSE(closed_without_a_byte(held.back(), 200ms)) << "the first 16 are kept";

    // Once one of the sixteen ends, its slot is free again.
    held.front().close();
    const bool accepted_again = test_support::wait_until(
        [&] {
            auto next = os::Socket::connect_loopback(info->port);
            if (!next || closed_without_a_byte(*next, 300ms)) return false;
            held.push_back(std::move(*next));
            return true;
        },
        4s);
    EXPECT_TRUE(accepted_again);
}

TEST(ProgramConnections, ClientThatSendsNothingIsDroppedAfterFiveSeconds) {
    auto watched = test_support::start_watched();
    ProgramRun run(ProgramRun::standard_args(watched.pid()));
    auto info = run.wait_for_info();
    ASSERT_TRUE(info.has_value()) << "no info file within 10 s";

    auto silent = client::WsClient::connect(info->port);
    ASSERT_TRUE(silent.has_value()) << silent.error().text();
    const auto connected = std::chrono::steady_clock::now();
    auto received = silent->read_until_closed(30s);
    const auto waited = std::chrono::steady_clock::now() - connected;
    ASSERT_TRUE(received.has_value()) << "the program kept a silent client for 30 s: " << received.error().text();
    EXPECT_EQ(*received, "") << "no answer to a client that never asked";
    EXPECT_GE(waited, 4500ms) << "dropped before the 5 s receive time-out";

    const std::string prefix = "conexão encerrada: handshake: IO error: ";
    const auto logged = [&] {
        const auto m = run.log_messages();
        return !m.empty() && m.back().starts_with(prefix);
    };
    EXPECT_TRUE(test_support::wait_until(logged, 10s)) << "no \"" << prefix << "…\" record within 10 s of the drop";
}

}  // namespace
