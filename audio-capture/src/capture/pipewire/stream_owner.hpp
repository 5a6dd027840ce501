#pragma once
// Which process plays a stream node, whether that process belongs to the
// watched tree, and which of the capture's channels each played channel
// feeds. Pure rules; the graph code gathers the facts.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "capture_mode.hpp"
#include "os/process.hpp"

namespace audio::capture::pipewire {

// What the sound server says about the process behind a stream node.
struct OwnerFacts {
    std::optional<std::uint32_t> node_process_id;    // the node's application.process.id
    std::optional<std::uint32_t> client_process_id;  // its client's application.process.id
    std::optional<std::uint32_t> client_socket_pid;  // its client's pipewire.sec.pid
};

// The first of the facts that is present, in their order: a player behind
// the PulseAudio layer names itself on the node, while its client is the
// layer's own process.
[[nodiscard]] std::optional<std::uint32_t> owner_pid(const OwnerFacts& facts);

// A pid as the server's properties write it (decimal, no sign); nullopt for
// anything else, zero included.
[[nodiscard]] std::optional<std::uint32_t> parse_pid(std::string_view text);

// Whether `pid` is `root` or one of its descendants, following the parents
// of the snapshot at most MAX_TREE_CLIMB levels up.
[[nodiscard]] bool in_process_tree(std::span<const os::ProcessEntry> rows, std::uint32_t pid,
                                   std::uint32_t root);

// Include links the tree's players, exclude every other player; the
// program's own streams never.
[[nodiscard]] bool should_capture(CaptureMode mode, bool in_tree, bool own_process);

// The capture's two channels a played channel is mixed into.
struct ChannelTargets {
    bool left = false;
    bool right = false;
};

// FL and FR to their own side; other left and right positions (RL, SL, …)
// to their side; centre, LFE, MONO and unnamed channels to both.
[[nodiscard]] ChannelTargets channel_targets(std::string_view channel);

}  // namespace audio::capture::pipewire
