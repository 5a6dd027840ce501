#include "capture/pipewire/stream_owner.hpp"

#include <charconv>

#include "process_watch.hpp"

namespace audio::capture::pipewire {

std::optional<std::uint32_t> owner_pid(const OwnerFacts& facts) {
    if (facts.node_process_id) {
        return facts.node_process_id;
    }
    if (facts.client_process_id) {
        return facts.client_process_id;
    }
    return facts.client_socket_pid;
}

std::optional<std::uint32_t> parse_pid(std::string_view text) {
    std::uint32_t pid = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, pid);
    if (text.empty() || error != std::errc() || stop != end || pid == 0) {
        return std::nullopt;
    }
    return pid;
}

bool in_process_tree(std::span<const os::ProcessEntry> rows, std::uint32_t pid, std::uint32_t root) {
    std::uint32_t current = pid;
    for (int level = 0; level <= MAX_TREE_CLIMB; ++level) {
        if (current == root) {
            return true;
        }
        const os::ProcessEntry* row = nullptr;
        for (const auto& candidate : rows) {
            if (candidate.pid == current) {
                row = &candidate;
                break;
            }
        }
        if (row == nullptr || row->parent_pid == 0 || row->parent_pid == current) {
            return false;
        }
        current = row->parent_pid;
    }
    return false;
}

bool should_capture(CaptureMode mode, bool in_tree, bool own_process) {
    if (own_process) {
        return false;
    }
    return mode == CaptureMode::Include ? in_tree : !in_tree;
}

ChannelTargets channel_targets(std::string_view channel) {
    if (channel.size() >= 2 && channel.back() == 'L') {
        return {.left = true, .right = false};
    }
    if (channel.size() >= 2 && channel.back() == 'R') {
        return {.left = false, .right = true};
    }
    return {.left = true, .right = true};
}

}  // namespace audio::capture::pipewire
