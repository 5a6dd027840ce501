// The watchdog's loop with a short period: which reason ends it, and that a
// registered session holds the idle end off until it leaves.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "common_texts.hpp"
#include "os/process.hpp"
#include "server/shared_state.hpp"
#include "support/child_process.hpp"
#include "watchdog.hpp"

namespace {

using namespace std::chrono_literals;

constexpr auto GUARD = 20s;  // a loop that never ends fails the test, not the CI job
constexpr std::string_view PROCESS_ENDED = "o processo terminou";

common::WatchdogRecord record_for(os::ProcessWatch process, std::shared_ptr<server::SharedState> state) {
    common::WatchdogRecord record{"", "", std::string(PROCESS_ENDED), std::move(state), std::move(process)};
    record.period = 5ms;
    return record;
}

// Runs the loop on a thread of its own. A loop that never ends is left
// running; the test that waits for it reports the failure.
std::future<std::string> watch(common::WatchdogRecord record) {
    std::promise<std::string> reason;
    auto ended = reason.get_future();
    std::thread([record = std::move(record), reason = std::move(reason)]() mutable {
        reason.set_value(std::string(common::watch_until_end(record)));
    }).detach();
    return ended;
}

TEST(Watchdog, EndedProcessWinsOverAPassedIdleLimit) {
    auto child = test_support::ChildProcess::spawn(BRQ_WATCHED_PATH, {});
    ASSERT_TRUE(child.has_value()) << child.error();
    auto process = os::ProcessWatch::open(child->pid());
    ASSERT_TRUE(process.has_value());
    child->kill();
    ASSERT_TRUE(child->wait_for(GUARD).has_value()) << "the killed child did not end within 20 s";

    auto state = std::make_shared<server::SharedState>(server::IdleLimit{0});
    auto ended = watch(record_for(std::move(*process), state));
    ASSERT_EQ(ended.wait_for(GUARD), std::future_status::ready) << "the watchdog missed the process's end";
    EXPECT_EQ(ended.get(), PROCESS_ENDED);
}

TEST(Watchdog, IdleLimitEndsItOnlyOnceNoSessionIsRegistered) {
    // This test process runs throughout, so only the idle limit can end the loop.
    auto self = os::ProcessWatch::open(os::current_pid());
    ASSERT_TRUE(self.has_value());
    auto state = std::make_shared<server::SharedState>(server::IdleLimit{0});
    (void)state->register_session();

    auto ended = watch(record_for(std::move(*self), state));
    EXPECT_EQ(ended.wait_for(100ms), std::future_status::timeout) << "ended while a session was registered";
    state->unregister_session();
    ASSERT_EQ(ended.wait_for(GUARD), std::future_status::ready) << "no end within 20 s of the last session leaving";
    EXPECT_EQ(ended.get(), common::texts::IDLE_LIMIT_PASSED);
}

}  // namespace
