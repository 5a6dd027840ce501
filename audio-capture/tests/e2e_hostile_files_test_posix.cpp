// The real program in a data folder that another local user can write to. Linux only: Windows file systems have no FIFOs, and under Wine 8 a test
// cannot plant a Windows link (CreateSymbolicLinkW does nothing) while Unix
// links look like plain files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "info_file.hpp"
#include "os/fs.hpp"
#include "support/program_run.hpp"

namespace {

using test_support::ProgramRun;
using test_support::TOKEN;
using namespace std::chrono_literals;

// A link planted at the temporary path before start-up is replaced, not
// written through; a FIFO put at the info path before shutdown is left alone,
// and the program still ends.
TEST(HostileInfoFolder, PlantedLinkIsNotFollowedAndAFifoDoesNotHoldShutdown) {
    test_support::TempDir folder;
    const std::string info = folder.file("audio.json");
    const std::string victim = folder.file("victim");
    ASSERT_TRUE(os::write_private_file(victim, "someone else's file").has_value());
    ASSERT_EQ(::symlink(victim.c_str(), common::temporary_path_for(info).c_str()), 0);

    auto watched = test_support::start_watched();
    ProgramRun run({"--include-pid", std::to_string(watched.pid()), "--token", TOKEN, "--info-file", info});
    std::expected<common::InfoFields, common::InfoTextError> published;
    ASSERT_TRUE(test_support::wait_until([&] {
        published = common::parse_info_json(os::read_file(info).value_or(""));
        return published.has_value();
    })) << "no info file at " << info << "; log: " << ::testing::PrintToString(run.log_messages());
    EXPECT_EQ(published->token, TOKEN);
    EXPECT_EQ(os::read_file(victim).value_or("<missing>"), "someone else's file");
    EXPECT_FALSE(os::path_exists(common::temporary_path_for(info)));

    ASSERT_TRUE(os::remove_file(info).has_value());
    ASSERT_EQ(::mkfifo(info.c_str(), 0600), 0);
    watched.kill();
    EXPECT_EQ(run.wait(10s), std::optional<test_support::ExitStatus>(0)) << "shutdown did not end within 10 s";
    EXPECT_EQ(run.log_messages().back(), "encerrando: o processo capturado terminou");
    struct stat left {};
    EXPECT_TRUE(::lstat(info.c_str(), &left) == 0 && S_ISFIFO(left.st_mode)) << "the FIFO is not ours to delete";
}

// A FIFO at the log path, which nobody reads, drops the records instead of
// holding the program at its first one.
TEST(HostileInfoFolder, FifoAtTheLogPathDoesNotHoldTheProgram) {
    test_support::TempDir folder;
    const std::string log = folder.file("audio.log");
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    auto watched = test_support::start_watched();
    ProgramRun run(ProgramRun::standard_args(watched.pid(), {"--idle-secs", "0"}), {{"QUORVEL_AUDIO_LOG", log}});
    EXPECT_EQ(run.wait(10s), std::optional<test_support::ExitStatus>(0))
        << "the program did not end at its idle limit within 10 s";
}

}  // namespace
