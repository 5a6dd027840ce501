#pragma once
// The real program under Wine with the stand-in process-loopback engine
// (tests/loopback_standin) beside it, and the report that engine keeps.

#include <string>
#include <string_view>
#include <vector>

#include "loopback_standin/standin_signal.hpp"
#include "support/program_run.hpp"

namespace test_support {

// The engine's report: the calls it answered with their results, then
// "violation: ", "error: ", "delivered: " and "live: " lines, and "exit" once
// the process has ended.
struct StandinReport {
    std::vector<std::string> lines;

    [[nodiscard]] bool complete() const { return !lines.empty() && lines.back() == "exit"; }
    // Lines that start with `head`.
    [[nodiscard]] int count(std::string_view head) const;
    // The first line that starts with `head`, or "".
    [[nodiscard]] std::string line(std::string_view head) const;
    // Everything the engine holds against the run: misuses, faults it did not
    // understand, packets the program left waiting too long, a cut report.
    [[nodiscard]] std::vector<std::string> problems() const;
};

// The program in include or exclude mode ("--include-pid" or "--exclude-pid")
// for a watched process of the test's, with the engine's faults
// (BRQ_STANDIN_FAULTS) chosen by name; its info file has been read.
struct StandinProgram {
    StandinProgram(const std::string& mode_option, const std::string& faults);

    // The signal the engine makes for the program's activation: the watched
    // pid (it starts the tree of its own) and the mode's loopback value.
    [[nodiscard]] standin::Target target() const;
    // The report as the engine last wrote it.
    [[nodiscard]] StandinReport report() const;
    // Ends the watched process, waits for the program to end with status 0
    // and returns the engine's last report.
    [[nodiscard]] StandinReport finish();
    // The watchdog's record for this mode's watched process ending.
    [[nodiscard]] std::string end_record() const;

    std::string mode_option;
    test_support::ChildProcess watched;
    ProgramRun run;
    std::uint16_t port = 0;
};

}  // namespace test_support
