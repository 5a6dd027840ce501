// The real program, started as the controlling application starts it: exit
// statuses, log records, the info file and the data folder.

#include <gtest/gtest.h>

#include "os/fs.hpp"
#include "os/process.hpp"
#include "os/socket.hpp"
#include "support/program_run.hpp"

namespace {

using test_support::ProgramRun;
using test_support::TOKEN;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

TEST(ProgramStartup, BadCommandLineLogsOneRecordAndExitsWithTwo) {
    const struct {
        Strings args;
        std::string record;
    } cases[] = {
        {{}, "argumentos: --exclude-pid ou --include-pid é obrigatório"},
        {{"--verbose"}, "argumentos: argumento desconhecido: --verbose"},
        {{"--include-pid", "1", "--token"}, "argumentos: --token exige um valor"},
        // Non-ASCII arguments arrive as UTF-8 from the Unicode command line.
        {{"--include-pid", "1", "--token", "abcdefghijklmnopé"}, "argumentos: token inválido (16 a 128 caracteres [A-Za-z0-9_-])"},
        {{"--ação"}, "argumentos: argumento desconhecido: --ação"},
        {{"--include-pid", "1", "--token", TOKEN, "with blank"}, "argumentos: argumento desconhecido: with blank"},
        {{"--include-pid", "1", "--token", TOKEN, ""}, "argumentos: argumento desconhecido: "},
    };
    for (const auto& c : cases) {
        ProgramRun run(c.args);
        EXPECT_EQ(run.wait(), std::optional<test_support::ExitStatus>(2)) << c.record;
        EXPECT_EQ(run.log_messages(), Strings{c.record});
        EXPECT_FALSE(os::path_exists(run.info_path()));
    }
}

TEST(ProgramStartup, ProcessThatCannotBeOpenedExitsWithThree) {
    {
        ProgramRun run(ProgramRun::standard_args(0));
        EXPECT_EQ(run.wait(), std::optional<test_support::ExitStatus>(3));
        EXPECT_EQ(run.log_messages(),
                  (Strings{"modo include: capturando só a árvore do pid 0", "processo 0 não existe; saindo"}));
        EXPECT_FALSE(os::path_exists(run.info_path()));
    }
    // A process that has ended and been reaped: once no handle keeps it, it
    // cannot be opened (Wine takes a moment to forget it).
    std::uint32_t pid = 0;
    {
        auto gone = test_support::start_watched();
        pid = gone.pid();
        gone.kill();
        ASSERT_TRUE(gone.wait_for(10s).has_value());
    }
    ASSERT_TRUE(test_support::wait_until([&] { return !os::ProcessWatch::open(pid).has_value(); }));
    ProgramRun run({"--exclude-pid", std::to_string(pid), "--token", TOKEN, "--info-file", "{info}"});
    EXPECT_EQ(run.wait(), std::optional<test_support::ExitStatus>(3));
    const std::string p = std::to_string(pid);
    EXPECT_EQ(run.log_messages(), (Strings{"modo exclude: excluindo a árvore do pid " + p + " (recebido " + p + ")",
                                           "processo " + p + " não existe; saindo"}));
}

TEST(ProgramStartup, UnwritableInfoFileExitsWithFive) {
    auto watched = test_support::start_watched();
    test_support::TempDir folder;
    // The info file's folder is a plain file.
    ASSERT_TRUE(os::write_private_file(folder.file("blocker"), "x").has_value());
    const std::string info = os::join_path(folder.file("blocker"), "audio.json");
    ProgramRun run({"--include-pid", std::to_string(watched.pid()), "--token", TOKEN, "--info-file", info});
    EXPECT_EQ(run.wait(), std::optional<test_support::ExitStatus>(5));
    const auto messages = run.log_messages();
    ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
    EXPECT_EQ(messages[0], "modo include: capturando só a árvore do pid " + std::to_string(watched.pid()));
    const std::string prefix = "gravar " + info + ": ";
    EXPECT_TRUE(messages[1].starts_with(prefix)) << messages[1];
    EXPECT_TRUE(messages[1].ends_with(")")) << "a system error text: " << messages[1];
}

TEST(ProgramStartup, PublishesPortTokenAndPidAndRemovesTheFileWhenTheProcessEnds) {
    auto watched = test_support::start_watched();
    ProgramRun run(ProgramRun::standard_args(watched.pid()));
    auto info = run.wait_for_info();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->token, TOKEN);
    EXPECT_EQ(info->pid, run.process().pid());
    EXPECT_NE(info->port, 0);
    ASSERT_TRUE(run.wait_for_log("ouvindo em 127.0.0.1:" + std::to_string(info->port)));
    auto socket = os::Socket::connect_loopback(info->port);
    EXPECT_TRUE(socket.has_value()) << "the published port listens";

    watched.kill();
    // Well under the 30 s idle limit, so only the process test can have ended it.
    ASSERT_EQ(run.wait(10s), std::optional<test_support::ExitStatus>(0))
        << "the program did not end within 10 s of its watched process";
    EXPECT_EQ(run.log_messages(),
              (Strings{"modo include: capturando só a árvore do pid " + std::to_string(watched.pid()),
                       "ouvindo em 127.0.0.1:" + std::to_string(info->port),
                       "encerrando: o processo capturado terminou"}));
    EXPECT_FALSE(os::path_exists(run.info_path()));
}

TEST(ProgramStartup, ExcludeModeEndsWithItsOwnReason) {
    auto watched = test_support::start_watched();
    ProgramRun run({"--exclude-pid", std::to_string(watched.pid()), "--token", TOKEN, "--info-file", "{info}"});
    ASSERT_TRUE(run.wait_for_info().has_value());
    watched.kill();
    ASSERT_EQ(run.wait(), std::optional<test_support::ExitStatus>(0));
    const auto messages = run.log_messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "encerrando: o processo do Discord terminou");
}

TEST(ProgramStartup, LeavesAnInfoFileThatNoLongerHoldsItsToken) {
    auto watched = test_support::start_watched();
    ProgramRun run(ProgramRun::standard_args(watched.pid()));
    ASSERT_TRUE(run.wait_for_info().has_value());
    const std::string other = R"({"port":1,"token":"another-instance-token","pid":2})";
    ASSERT_TRUE(os::write_private_file(run.info_path(), other).has_value());
    watched.kill();
    ASSERT_EQ(run.wait(), std::optional<test_support::ExitStatus>(0));
    EXPECT_EQ(os::read_file(run.info_path()).value_or(""), other);
}

TEST(ProgramStartup, IdleLimitZeroEndsWithoutAClient) {
    auto watched = test_support::start_watched();
    ProgramRun run(ProgramRun::standard_args(watched.pid(), {"--idle-secs", "0"}));
    ASSERT_EQ(run.wait(20s), std::optional<test_support::ExitStatus>(0)) << "the program still ran after 20 s";
    const auto messages = run.log_messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "encerrando: sem cliente além do limite");
    EXPECT_FALSE(os::path_exists(run.info_path()));
}

TEST(ProgramStartup, DefaultFilesLiveInTheDataFolder) {
    auto watched = test_support::start_watched();
    test_support::TempDir base;
    const std::string appdata = base.file("appdata");
    const std::string data = os::join_path(appdata, "Brenquosta");
    ProgramRun run({"--include-pid", std::to_string(watched.pid()), "--token", TOKEN, "--idle-secs", "0"},
                   {{"QUORVEL_AUDIO_LOG", std::nullopt}, {"APPDATA", appdata}});
    ASSERT_EQ(run.wait(), std::optional<test_support::ExitStatus>(0));
    auto log = os::read_file(os::join_path(data, "audio.log"));
    ASSERT_TRUE(log.has_value()) << "log in " << data;
    EXPECT_EQ(test_support::messages_of(test_support::parse_log(*log)).back(), "encerrando: sem cliente além do limite");
    EXPECT_FALSE(os::path_exists(os::join_path(data, "audio.json"))) << "removed at shutdown";
    EXPECT_TRUE(os::is_directory(data));
}

TEST(ProgramStartup, OlderDataFolderIsUsedUntilMigrated) {
    auto watched = test_support::start_watched();
    test_support::TempDir base;
    const std::string appdata = base.file("appdata");
    const std::string old_folder = os::join_path(appdata, "discord-quorvel");
    ASSERT_TRUE(os::create_directories(old_folder).has_value());
    test_support::EnvOverrides env{{"QUORVEL_AUDIO_LOG", std::nullopt}, {"APPDATA", appdata}};
    {
        ProgramRun run({"--include-pid", std::to_string(watched.pid()), "--token", TOKEN}, env);
        auto info = test_support::wait_until([&] { return os::path_exists(os::join_path(old_folder, "audio.json")); });
        EXPECT_TRUE(info) << "info file in the older folder";
        run.process().kill();
        (void)run.wait();
        EXPECT_TRUE(os::path_exists(os::join_path(old_folder, "audio.log")));
    }
    const std::string new_folder = os::join_path(appdata, "Brenquosta");
    ASSERT_TRUE(os::create_directories(new_folder).has_value());
    ASSERT_TRUE(os::write_private_file(os::join_path(new_folder, ".migrated"), "").has_value());
    ProgramRun run({"--include-pid", std::to_string(watched.pid()), "--token", TOKEN, "--idle-secs", "0"}, env);
    ASSERT_EQ(run.wait(), std::optional<test_support::ExitStatus>(0));
    EXPECT_TRUE(os::path_exists(os::join_path(new_folder, "audio.log")));
}

TEST(ProgramLog, OversizedLogIsDeletedAtStartAndOneAtTheLimitIsKept) {
    for (const std::uint64_t size : {262'144ull, 262'145ull}) {
        test_support::TempDir folder;
        const std::string log = folder.file("audio.log");
        ASSERT_TRUE(os::write_private_file(log, std::string(size - 1, 'x') + "\n").has_value());
        ProgramRun run({"--bad"}, {{"QUORVEL_AUDIO_LOG", log}});
        ASSERT_EQ(run.wait(), std::optional<test_support::ExitStatus>(2));
        auto content = os::read_file(log).value_or("");
        const std::string tail = "argumentos: argumento desconhecido: --bad\n";
        EXPECT_TRUE(content.ends_with(tail));
        if (size == 262'144) {
            EXPECT_GT(content.size(), size) << "appended to";
        } else {
            EXPECT_LT(content.size(), 100u) << "a new file";
            EXPECT_EQ(test_support::messages_of(test_support::parse_log(content)), Strings{"argumentos: argumento desconhecido: --bad"});
        }
    }
}

TEST(ProgramLog, LogFolderIsCreatedAndAnEmptyPathDropsRecords) {
    test_support::TempDir folder;
    const std::string log = os::join_path(os::join_path(folder.file("a"), "b"), "x.log");
    ProgramRun run({"--bad"}, {{"QUORVEL_AUDIO_LOG", log}});
    ASSERT_EQ(run.wait(), std::optional<test_support::ExitStatus>(2));
    EXPECT_TRUE(os::read_file(log).value_or("").ends_with("argumentos: argumento desconhecido: --bad\n"));

    auto watched = test_support::start_watched();
    ProgramRun silent(ProgramRun::standard_args(watched.pid(), {"--idle-secs", "0"}), {{"QUORVEL_AUDIO_LOG", ""}});
    EXPECT_EQ(silent.wait(), std::optional<test_support::ExitStatus>(0)) << "runs normally without a log";
}

}  // namespace
