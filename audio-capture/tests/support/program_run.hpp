#pragma once
// Runs the real program for end-to-end tests: a private folder per test for
// APPDATA, the log and the info file, and helpers to read what it wrote.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "info_file.hpp"
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

namespace test_support {

using namespace std::chrono_literals;

// The token every test instance is started with.
inline const std::string TOKEN = "e2e-token_0123456789";

// One record of the log: the process id and the message (a message may hold
// line feeds).
struct LogRecord {
    std::uint32_t pid = 0;
    std::string message;
};

// Splits a log file into records; checks that each starts with
// "{seconds} [audio:{pid}] ". Throws nothing: malformed lines fail the test.
[[nodiscard]] std::vector<LogRecord> parse_log(const std::string& content);
[[nodiscard]] std::vector<std::string> messages_of(const std::vector<LogRecord>& records);

// A long-running watched process of the test suite's own.
[[nodiscard]] test_support::ChildProcess start_watched(const std::vector<std::string>& extra_args = {});

class ProgramRun {
public:
    // Starts the program with the arguments, in which "{info}" stands for
    // info_path() and "{dir}" for the test's folder (also in the values of
    // `env`); QUORVEL_AUDIO_LOG points at log_path() and APPDATA at appdata()
    // unless the overrides say otherwise. With `beside_program`, a copy of the
    // program runs from a folder of the test's own, with copies of these
    // files beside it.
    explicit ProgramRun(std::vector<std::string> args, test_support::EnvOverrides env = {},
                        const std::vector<std::string>& beside_program = {});

    [[nodiscard]] const std::string& log_path() const { return log_path_; }
    [[nodiscard]] std::string appdata() const { return folder_.file("appdata"); }
    [[nodiscard]] std::string info_path() const { return folder_.file("info.json"); }
    [[nodiscard]] const test_support::TempDir& folder() const { return folder_; }

    // Waits for the program to end; nullopt when it still runs after the time-out.
    [[nodiscard]] std::optional<test_support::ExitStatus> wait(std::chrono::milliseconds timeout = 10s);
    [[nodiscard]] std::vector<std::string> log_messages() const;
    // Waits until the log holds a record with this message.
    [[nodiscard]] bool wait_for_log(const std::string& message, std::chrono::milliseconds timeout = 10s) const;
    // Waits until the info file exists and parses.
    [[nodiscard]] std::optional<common::InfoFields> wait_for_info(std::chrono::milliseconds timeout = 10s) const;
    [[nodiscard]] test_support::ChildProcess& process() { return *child_; }

    // The usual arguments: include mode for the pid, the token, the info file.
    [[nodiscard]] static std::vector<std::string> standard_args(std::uint32_t pid,
                                                                std::vector<std::string> extra = {});

private:
    void start(std::vector<std::string> args, test_support::EnvOverrides env,
               const std::vector<std::string>& beside_program);
    [[nodiscard]] std::string with_folder(const std::string& text) const;

    test_support::TempDir folder_;
    std::string log_path_;
    std::optional<test_support::ChildProcess> child_;
};

}  // namespace test_support
