#include "process_watch.hpp"

#include <algorithm>
#include <string>

#include "log.hpp"
#include "texts.hpp"

namespace audio {
namespace {

const os::ProcessEntry* find_row(std::span<const os::ProcessEntry> rows, std::uint32_t pid) {
    const auto found = std::ranges::find(rows, pid, &os::ProcessEntry::pid);
    return found == rows.end() ? nullptr : &*found;
}

char fold_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool same_executable_name(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return fold_ascii(x) == fold_ascii(y); });
}

std::uint32_t find_tree_root(std::span<const os::ProcessEntry> rows, std::uint32_t given) {
    const os::ProcessEntry* current = find_row(rows, given);
    if (current == nullptr) {
        return given;
    }
    for (int step = 0; step < MAX_TREE_CLIMB; ++step) {
        const os::ProcessEntry* parent = find_row(rows, current->parent_pid);
        if (parent == nullptr || current->parent_pid == current->pid ||
            !same_executable_name(current->exe_name, parent->exe_name)) {
            break;
        }
        current = parent;
    }
    return current->pid;
}

std::optional<WatchedProcess> open_watched_process(CaptureMode mode, std::uint32_t target_pid) {
    std::uint32_t watched = target_pid;
    std::string_view reason;
    if (mode == CaptureMode::Include) {
        reason = texts::INCLUDED_PROCESS_ENDED;
        log_line(std::string(texts::MODE_INCLUDE) + std::to_string(watched));
    } else {
        reason = texts::EXCLUDED_PROCESS_ENDED;
        const auto rows = os::snapshot_processes();
        watched = find_tree_root(rows, target_pid);
        log_line(std::string(texts::MODE_EXCLUDE) + std::to_string(watched) +
                 std::string(texts::MODE_EXCLUDE_GIVEN) + std::to_string(target_pid) + ")");
    }
    auto watch = os::ProcessWatch::open(watched);
    if (!watch) {
        log_line(std::string(texts::PROCESS_PREFIX) + std::to_string(watched) +
                 std::string(texts::PROCESS_MISSING));
        return std::nullopt;
    }
    return WatchedProcess{watched, std::move(*watch), reason};
}

}  // namespace audio
