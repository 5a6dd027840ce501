#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "client/ws_client.hpp"
#include "record_log.hpp"
#include "server/serve_client.hpp"

namespace {

using namespace std::chrono_literals;

TEST(SessionRegistry, OnlyTheLastSessionOutRestartsTheIdleClock) {
    server::SharedState state{server::IdleLimit{30}};
    const auto created = state.idle_since;
    (void)state.register_session();
    (void)state.register_session();
    EXPECT_EQ(state.active_clients, 2u);

    state.unregister_session();
    EXPECT_EQ(state.active_clients, 1u);
    EXPECT_EQ(state.idle_since, created) << "another session is still registered";

    const auto before = std::chrono::steady_clock::now();
    state.unregister_session();
    EXPECT_EQ(state.active_clients, 0u);
    EXPECT_GE(state.idle_since, before);

    const auto first_idle = state.idle_since;
    std::this_thread::sleep_for(2ms);
    state.unregister_session();
    EXPECT_EQ(state.active_clients, 0u) << "never below zero";
    EXPECT_GT(state.idle_since, first_idle) << "a count of 0 also restarts the clock";
}

TEST(SessionRegistry, EachNewSessionSupersedesEveryOlderOne) {
    server::SharedState state{server::IdleLimit{30}};
    const std::uint64_t first = state.register_session();
    EXPECT_FALSE(state.superseded(first));
    const std::uint64_t second = state.register_session();
    const std::uint64_t third = state.register_session();
    EXPECT_TRUE(state.superseded(first));
    EXPECT_TRUE(state.superseded(second));
    EXPECT_FALSE(state.superseded(third)) << "the newest client wins";
    state.unregister_session();
    EXPECT_FALSE(state.superseded(third)) << "an older session's end changes nothing";
}

TEST(SessionRegistry, RefusedHandshakeLeavesTheIdleClockAlone) {
    auto state = std::make_shared<server::SharedState>(server::IdleLimit{30});
    const auto created = state->idle_since;
    auto config = std::make_shared<server::SessionConfig>();
    config->token = "Zq8_x-Y3kP0wLm2N";
    config->log = &test_support::log;
    test_support::take();

    auto listener = os::Listener::bind_loopback(0, 1);
    ASSERT_TRUE(listener.has_value()) << listener.error().text();
    const std::uint16_t port = listener->local_port().value_or(0);
    auto client = client::WsClient::connect(port);
    ASSERT_TRUE(client.has_value()) << client.error().text();
    auto accepted = listener->accept();
    ASSERT_TRUE(accepted.has_value()) << accepted.error().text();

    state->open_connections = 1;  // as the accept loop counts it
    common::ConnectionRecord record{common::ConnectionSlot(state), state, config, std::move(*accepted)};
    const server::SessionHandler no_session = [](server::WebSocket&, const server::SharedState&, std::uint64_t) {
        ADD_FAILURE() << "a refused client got a session";
        return std::expected<void, std::string>{};
    };
    auto served = std::async(std::launch::async, [record = std::move(record), no_session]() mutable {
        server::serve_client(std::move(record), no_session);
    });
    auto answer = client->handshake("https://example.com", "127.0.0.1:" + std::to_string(port),
                                    "/?t=Zq8_x-Y3kP0wLm2N", 20s);
    ASSERT_EQ(served.wait_for(20s), std::future_status::ready) << "serve_client did not return within 20 s";
    EXPECT_EQ(answer.value_or(answer.error().text()), "HTTP/1.1 403 Forbidden\r\n\r\n");

    EXPECT_EQ(test_support::take(), (std::vector<std::string>{"handshake recusado: Origin",
                                                              "conexão encerrada: handshake: HTTP error: 403 Forbidden"}));
    std::lock_guard guard(state->lock);
    EXPECT_EQ(state->active_clients, 0u);
    EXPECT_EQ(state->idle_since, created) << "the idle limit still counts from the start";
    EXPECT_EQ(state->session_generation, 0u);
    EXPECT_EQ(state->open_connections, 0u) << "the slot is given back";
}

}  // namespace
