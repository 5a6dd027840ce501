#pragma once
// The own process, other processes, and the ways to end.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "os/owned_handle.hpp"

namespace os {

[[nodiscard]] std::uint32_t current_pid();

// The program's arguments as UTF-8, split from the process's Unicode command
// line by the platform's standard rules; the program's own name is skipped.
[[nodiscard]] std::vector<std::string> program_arguments();

// Ends the process at once with the status; no destructors, no flushing.
[[noreturn]] void exit_process(int status);

// Ends the process at once through the platform's fail-fast exit
// (Windows: fast-fail code 7; POSIX: abort).
[[noreturn]] void fail_fast();

// Installs a last-chance handler for crashes (Windows: unhandled structured
// exceptions); the handler gets a one-line description and must not return.
// Does nothing where the platform has no such hook.
void install_crash_handler(void (*handler)(const std::string& description));

// One row of a process snapshot.
struct ProcessEntry {
    std::string exe_name;  // executable file name, UTF-8
    std::uint32_t pid = 0;
    std::uint32_t parent_pid = 0;
};

// Every process the platform lists, in its order; the rows read so far when
// listing fails (possibly none).
[[nodiscard]] std::vector<ProcessEntry> snapshot_processes();

// A process opened only to learn when it ends. Move-only; closes its handle.
class ProcessWatch {
public:
    // nullopt when the process does not exist or cannot be opened.
    [[nodiscard]] static std::optional<ProcessWatch> open(std::uint32_t pid);

    // Tests without waiting; a failed test counts as still running.
    [[nodiscard]] bool has_ended() const;

private:
    explicit ProcessWatch(KernelHandle handle) : handle_(std::move(handle)) {}
    KernelHandle handle_;  // the process HANDLE on Windows, a pidfd elsewhere
};

}  // namespace os
