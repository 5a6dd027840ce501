#pragma once
// The watched process: which pid the program works with, and the handle the
// watchdog tests for its end.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "capture_mode.hpp"
#include "os/process.hpp"

namespace audio {

inline constexpr int MAX_TREE_CLIMB = 64;

// The highest ancestor of `given` reachable through an unbroken chain of
// processes running an executable of the same name (ASCII letters compared
// without case), at most 64 levels up. Pure.
[[nodiscard]] std::uint32_t find_tree_root(std::span<const os::ProcessEntry> rows, std::uint32_t given);

// Whether two executable names are equal after folding ASCII A–Z only.
[[nodiscard]] bool same_executable_name(std::string_view a, std::string_view b);

struct WatchedProcess {
    std::uint32_t pid = 0;
    os::ProcessWatch watch;
    std::string_view exit_reason;  // logged by shutdown when the process ends
};

// Resolves the watched pid for the mode, writes the mode record and opens the
// process; nullopt (after the record "processo {pid} não existe; saindo")
// when it cannot be opened.
[[nodiscard]] std::optional<WatchedProcess> open_watched_process(CaptureMode mode, std::uint32_t target_pid);

}  // namespace audio
