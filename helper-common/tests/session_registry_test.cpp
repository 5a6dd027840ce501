#include <gtest/gtest.h>

#include <thread>

#include "server/serve_client.hpp"

namespace {

using namespace std::chrono_literals;

TEST(SessionRegistry, OnlyTheLastSessionOutRestartsTheIdleClock) {
    server::SharedState state{server::IdleLimit{30}};
    const auto created = state.idle_since;
    server::register_session(state);
    server::register_session(state);
    EXPECT_EQ(state.active_clients, 2u);

    server::unregister_session(state);
    EXPECT_EQ(state.active_clients, 1u);
    EXPECT_EQ(state.idle_since, created) << "another session is still registered";

    const auto before = std::chrono::steady_clock::now();
    server::unregister_session(state);
    EXPECT_EQ(state.active_clients, 0u);
    EXPECT_GE(state.idle_since, before);

    const auto first_idle = state.idle_since;
    std::this_thread::sleep_for(2ms);
    server::unregister_session(state);
    EXPECT_EQ(state.active_clients, 0u) << "never below zero";
    EXPECT_GT(state.idle_since, first_idle) << "a count of 0 also restarts the clock";
}

}  // namespace
