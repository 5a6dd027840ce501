#pragma once
// Child processes for end-to-end tests: start a program with arguments and a
// modified environment, wait for its end with a time-out, kill it. The
// destructor kills and reaps a child that is still running. Move-only.

#include <chrono>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/owned_handle.hpp"

namespace test_support {

// Changes to the inherited environment: name -> value, nullopt removes the
// variable. On Windows names match regardless of case.
using EnvOverrides = std::map<std::string, std::optional<std::string>>;

// Where the child's standard streams go. Discard sends them to the null
// device; Inherit shares this process's (handy when debugging a test).
enum class ChildOutput { Discard, Inherit };

// Exit status of a child: on POSIX the exit status, or 128 + the signal
// number; on Windows the full 32-bit value of GetExitCodeProcess.
using ExitStatus = std::uint32_t;

// The status that kill() gives a child on either platform (POSIX: SIGKILL).
inline constexpr ExitStatus KILLED_EXIT_STATUS = 137;

// The status of a process that ended through os::fail_fast().
#ifdef _WIN32
inline constexpr ExitStatus FAIL_FAST_EXIT_STATUS = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN
#else
inline constexpr ExitStatus FAIL_FAST_EXIT_STATUS = 128 + 6;     // SIGABRT
#endif

class ChildProcess {
public:
    // Starts `path` with `args` (not counting the program itself). On Windows
    // a Unix absolute path "/x/y" is taken as "Z:\x\y" (Wine's root drive).
    [[nodiscard]] static std::expected<ChildProcess, std::string> spawn(
        const std::string& path, const std::vector<std::string>& args, const EnvOverrides& env = {},
        ChildOutput output = ChildOutput::Discard);

    // The child's process id as the OS layer sees it (os::current_pid() in the child).
    [[nodiscard]] std::uint32_t pid() const { return pid_; }

    // Waits up to `timeout` for the child to end; its exit status, or nullopt
    // while it still runs. A child seen to end is reaped at once (Windows:
    // its handle is closed), so its pid no longer names a process; every
    // later call gives the same status.
    [[nodiscard]] std::optional<ExitStatus> wait_for(std::chrono::milliseconds timeout);

    // Ends the child at once (status KILLED_EXIT_STATUS); does nothing when it
    // has already ended. Reap it with wait_for.
    void kill();

private:
    // The running child: its process HANDLE on Windows, its pid elsewhere.
    // Letting it go kills a child that still runs and waits for its end.
    struct RunningTraits {
        using Value = std::intptr_t;
        static constexpr Value EMPTY = -1;
        static bool is_valid(Value value) noexcept { return value != EMPTY; }
        static void close(Value value) noexcept;
    };

    ChildProcess(std::uint32_t pid, std::intptr_t running) : pid_(pid), running_(running) {}

    std::uint32_t pid_ = 0;
    os::OwnedHandle<RunningTraits> running_;  // empty once the child has ended and been reaped
    std::optional<ExitStatus> status_;        // set once the child has ended (and been reaped)
};

// A path as a child on this platform understands it: on Windows a Unix
// absolute path "/x/y" becomes "Z:\x\y"; elsewhere it is returned unchanged.
[[nodiscard]] std::string native_path(std::string_view path);

// The path of the running executable.
[[nodiscard]] std::string current_executable_path();

}  // namespace test_support
