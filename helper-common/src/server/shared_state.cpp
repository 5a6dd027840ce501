#include "server/shared_state.hpp"

namespace server {

bool idle_limit_passed(std::chrono::steady_clock::time_point since,
                       std::chrono::steady_clock::time_point now, IdleLimit limit) {
    using namespace std::chrono;
    if (since >= now) {
        return false;
    }
    const auto elapsed = duration_cast<nanoseconds>(now - since);
    const auto whole_seconds = static_cast<std::uint64_t>(duration_cast<seconds>(elapsed).count());
    const auto sub_second = elapsed - duration_cast<seconds>(elapsed);
    if (whole_seconds != limit.seconds) {
        return whole_seconds > limit.seconds;
    }
    return sub_second.count() > 0;
}

std::uint64_t SharedState::register_session() {
    const std::uint64_t generation = session_generation.fetch_add(1) + 1;
    std::lock_guard guard(lock);
    ++active_clients;
    return generation;
}

void SharedState::unregister_session() {
    std::lock_guard guard(lock);
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t before = active_clients;
    active_clients = before == 0 ? 0 : before - 1;
    if (before <= 1) {
        idle_since = now;
    }
}

}  // namespace server
