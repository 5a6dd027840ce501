// The process services of the OS layer, checked against real child processes
// (brq-watched), together with the suite's child-process support.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "os/fs.hpp"
#include "os/process.hpp"
#include "support/child_process.hpp"
#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace std::chrono_literals;
using test_support::ChildProcess;
using test_support::read_whole_file;
using test_support::TempDir;
using test_support::wait_until;

constexpr auto GUARD = 20s;  // a hung child fails the test, not the CI job

std::optional<ChildProcess> start_watched(const std::vector<std::string>& args,
                                          const test_support::EnvOverrides& env = {}) {
    auto child = ChildProcess::spawn(BRQ_WATCHED_PATH, args, env);
    if (!child) {
        ADD_FAILURE() << child.error();
        return std::nullopt;
    }
    return std::move(*child);
}

// Waits for a file that a child publishes, and gives its content.
std::string await_file(const std::string& path) {
    EXPECT_TRUE(wait_until([&] { return read_whole_file(path).has_value(); }, GUARD)) << path;
    return read_whole_file(path).value_or("");
}

std::uint32_t to_pid(const std::string& text) {
    std::uint32_t pid = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    EXPECT_TRUE(error == std::errc() && end == text.data() + text.size()) << "not a pid: " << text;
    return pid;
}

const os::ProcessEntry* find_row(const std::vector<os::ProcessEntry>& rows, std::uint32_t pid) {
    auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& row) { return row.pid == pid; });
    return it == rows.end() ? nullptr : &*it;
}

std::vector<std::string> split_at_nul(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
        parts.push_back(text.substr(start, end - start));
    }
    return parts;
}

TEST(OsProcess, ArgumentsSurviveTheCommandLine) {
    TempDir dir;
    const std::string report = dir.file("args");
    // Blanks, quotes, backslashes before quotes and at the end, empty and
    // non-ASCII arguments: what CommandLineToArgvW must give back unchanged.
    const std::vector<std::string> tricky = {
        "", "a b", "a\"b", "trailing\\", "dir\\\\", "back\\\"quote", "\\\\server\\share",
        "tab\there", "ação €", "😀", "--", "-",
    };
    std::vector<std::string> args = {"--args-file", report, "--sleep-ms", "0", "--"};
    args.insert(args.end(), tricky.begin(), tricky.end());
    auto child = start_watched(args);
    ASSERT_TRUE(child);
    ASSERT_EQ(child->wait_for(GUARD), 0u);
    EXPECT_EQ(split_at_nul(read_whole_file(report).value_or("")), args);
}

TEST(OsProcess, ChildEnvironmentCarriesTheOverrides) {
    TempDir dir;
    const std::string report = dir.file("env");
    test_support::ScopedEnv inherited("BRQ_TEST_INHERITED", "herdado");
    test_support::ScopedEnv removed("BRQ_TEST_REMOVED", "sai");
    auto child = start_watched(
        {"--env-file", report, "--env-name", "BRQ_TEST_INHERITED", "--env-name", "BRQ_TEST_REMOVED",
         "--env-name", "BRQ_TEST_EMPTY", "--env-name", "BRQ_TEST_TEXT", "--env-name", "BRQ_TEST_NEVER",
         "--sleep-ms", "0"},
        {{"BRQ_TEST_REMOVED", std::nullopt}, {"BRQ_TEST_EMPTY", ""}, {"BRQ_TEST_TEXT", "C:\\ação € 😀"}});
    ASSERT_TRUE(child);
    ASSERT_EQ(child->wait_for(GUARD), 0u);
    EXPECT_EQ(read_whole_file(report),
              "BRQ_TEST_INHERITED=herdado\n"
              "BRQ_TEST_REMOVED unset\n"
              "BRQ_TEST_EMPTY=\n"
              "BRQ_TEST_TEXT=C:\\ação € 😀\n"
              "BRQ_TEST_NEVER unset\n");
}

TEST(OsProcess, ExitStatuses) {
    struct Case {
        std::vector<std::string> args;
        test_support::ExitStatus status;
    };
    const Case cases[] = {
        {{"--sleep-ms", "0"}, 0},
        {{"--sleep-ms", "1", "--exit-code", "3"}, 3},
#ifdef _WIN32
        {{"--sleep-ms", "0", "--exit-code", "300"}, 300},  // all 32 bits reach a Windows parent
#else
        {{"--sleep-ms", "0", "--exit-code", "300"}, 300 & 0xFF},
#endif
        {{"--no-such-option"}, 2},  // os::exit_process(2)
        {{"--fail-fast"}, test_support::FAIL_FAST_EXIT_STATUS},
    };
    for (const auto& c : cases) {
        auto child = start_watched(c.args);
        ASSERT_TRUE(child);
        EXPECT_EQ(child->wait_for(GUARD), c.status) << c.args.front();
        EXPECT_EQ(child->wait_for(0ms), c.status) << "the status stays";
    }
}

TEST(OsProcess, KillEndsARunningChild) {
    auto child = start_watched({});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->wait_for(50ms), std::nullopt) << "runs until killed";
    child->kill();
    EXPECT_EQ(child->wait_for(GUARD), test_support::KILLED_EXIT_STATUS);
}

#ifdef _WIN32
TEST(OsProcess, CrashHandlerGetsTheExceptionAndFailsFast) {
    TempDir dir;
    const std::string report = dir.file("crash");
    auto child = start_watched({"--crash-report", report});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->wait_for(GUARD), test_support::FAIL_FAST_EXIT_STATUS);
    const std::string text = read_whole_file(report).value_or("");
    const std::string prefix = "exceção não tratada 0xC0000005 em 0x";
    ASSERT_EQ(text.substr(0, prefix.size()), prefix) << text;
    EXPECT_EQ(text.size(), prefix.size() + 16) << "a 64-bit address: " << text;
}
#endif

TEST(OsProcess, ProcessWatchSeesTheEnd) {
    auto child = start_watched({});
    ASSERT_TRUE(child);
    auto watch = os::ProcessWatch::open(child->pid());
    ASSERT_TRUE(watch.has_value());
    EXPECT_FALSE(watch->has_ended());
    child->kill();
    EXPECT_TRUE(wait_until([&] { return watch->has_ended(); }, GUARD));

    // A process that ends by itself, watched through a moved-to owner.
    auto short_lived = start_watched({"--sleep-ms", "500"});
    ASSERT_TRUE(short_lived);
    auto first = os::ProcessWatch::open(short_lived->pid());
    ASSERT_TRUE(first.has_value());
    os::ProcessWatch moved = std::move(*first);
    EXPECT_FALSE(moved.has_ended());
    EXPECT_TRUE(wait_until([&] { return moved.has_ended(); }, GUARD));
    EXPECT_EQ(short_lived->wait_for(GUARD), 0u);
}

TEST(OsProcess, ProcessWatchOfAMissingProcess) {
    EXPECT_FALSE(os::ProcessWatch::open(0x7FFFFFF0).has_value());

    // A child that has ended and been reaped. Wine lets such a pid be opened
    // for a moment longer, hence the wait.
    auto gone = start_watched({"--sleep-ms", "0"});
    ASSERT_TRUE(gone);
    ASSERT_EQ(gone->wait_for(GUARD), 0u);
    const std::uint32_t pid = gone->pid();
    EXPECT_TRUE(wait_until([&] { return !os::ProcessWatch::open(pid).has_value(); }, GUARD));
}

TEST(OsProcess, SnapshotListsThisProcessAndItsChild) {
    auto child = start_watched({});
    ASSERT_TRUE(child);
    const auto rows = os::snapshot_processes();
    const auto* self = find_row(rows, os::current_pid());
    ASSERT_NE(self, nullptr) << "own pid " << os::current_pid() << " missing among " << rows.size();
    EXPECT_EQ(os::file_name(test_support::current_executable_path()), self->exe_name);
    const auto* row = find_row(rows, child->pid());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->parent_pid, os::current_pid());
    EXPECT_EQ(row->exe_name, os::file_name(BRQ_WATCHED_PATH));
}

// The shape the exclude-mode climb relies on: a chain of processes of one
// executable, each the parent of the next.
TEST(OsProcess, WatchedChainOfSameNamedProcesses) {
    TempDir dir;
    const std::string pid_file = dir.file("pid");
    auto top = start_watched({"--chain", "2", "--pid-file", pid_file, "--watch-parent",
                                      std::to_string(os::current_pid())});
    ASSERT_TRUE(top);
    const std::uint32_t deepest = to_pid(await_file(pid_file));

    const auto rows = os::snapshot_processes();
    const auto* bottom = find_row(rows, deepest);
    ASSERT_NE(bottom, nullptr);
    const auto* middle = find_row(rows, bottom->parent_pid);
    ASSERT_NE(middle, nullptr);
    const auto* upper = find_row(rows, middle->parent_pid);
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(upper->pid, top->pid());
    EXPECT_EQ(upper->parent_pid, os::current_pid());
    EXPECT_EQ(bottom->exe_name, upper->exe_name);
    EXPECT_EQ(middle->exe_name, upper->exe_name);

    // Killing the top ends the whole chain.
    auto watch_bottom = os::ProcessWatch::open(deepest);
    ASSERT_TRUE(watch_bottom.has_value());
    top->kill();
    EXPECT_TRUE(wait_until([&] { return watch_bottom->has_ended(); }, GUARD));

    EXPECT_EQ(top->wait_for(GUARD), test_support::KILLED_EXIT_STATUS);
}

TEST(OsProcess, WatchedChainEndsFromTheBottomUp) {
    TempDir dir;
    const std::string pid_file = dir.file("pid");
    auto top = start_watched({"--chain", "1", "--pid-file", pid_file, "--sleep-ms", "1000"});
    ASSERT_TRUE(top);
    auto bottom = os::ProcessWatch::open(to_pid(await_file(pid_file)));
    ASSERT_TRUE(bottom.has_value()) << "the deepest copy is still sleeping";
    EXPECT_EQ(top->wait_for(GUARD), 0u);
    EXPECT_TRUE(bottom->has_ended()) << "the top ends only after its child";
}

}  // namespace
