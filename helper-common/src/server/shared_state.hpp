#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace server {

// An idle limit of whole seconds; the full u64 range of the command line fits.
struct IdleLimit {
    std::uint64_t seconds = 0;
};

// Whether more than `limit` has passed from `since` to `now` (0 when since
// lies after now); seconds are compared first, then the sub-second part.
[[nodiscard]] bool idle_limit_passed(std::chrono::steady_clock::time_point since,
                                     std::chrono::steady_clock::time_point now, IdleLimit limit);

// The process-wide state shared by the accept loop, the watchdog and the
// connection threads.
struct SharedState {
    explicit SharedState(IdleLimit limit)
        : idle_since(std::chrono::steady_clock::now()), idle_limit(limit) {}

    // A client has passed the handshake: its session takes the next
    // generation, which supersedes every older session, and counts as a
    // client for the idle clock. Returns that generation.
    [[nodiscard]] std::uint64_t register_session();
    // The session has ended; the last one out restarts the idle clock.
    void unregister_session();
    // Whether a newer client has been authenticated since the session of
    // `generation`: the newest client wins, older sessions end by themselves.
    [[nodiscard]] bool superseded(std::uint64_t generation) const {
        return session_generation.load() != generation;
    }

    // The state lock guards the next three fields. It is held only for a few
    // reads and writes, never across I/O or a wait, and no lock is taken
    // while holding it.
    std::mutex lock;
    std::uint64_t active_clients = 0;                  // authenticated sessions now served
    std::chrono::steady_clock::time_point idle_since;  // since when no session is registered
    const IdleLimit idle_limit;

    // Atomic counters outside the lock.
    std::atomic<std::uint64_t> session_generation{0};  // sessions authenticated so far
    std::atomic<std::uint64_t> open_connections{0};    // connection threads alive or starting
};

}  // namespace server
