// accept_client over real loopback sockets: that the handshake core and the
// client checks reach the wire, and that the receive time-out is set on the
// socket. Every request and refusal is checked over an in-memory stream
// (handshake_memory_test.cpp) and in the policy tables (http_request_test.cpp).

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "os/socket.hpp"
#include "record_log.hpp"
#include "server/handshake.hpp"
#include "client/ws_client.hpp"

namespace {

using namespace std::chrono_literals;
using client::DISCORD_ORIGIN;
using client::WsClient;

constexpr std::string_view TOKEN = "Zq8_x-Y3kP0wLm2N";
constexpr auto GUARD = 20s;  // the longest any single wait may take before the test fails

using Accepted = std::expected<server::WebSocket, std::string>;

class LoopbackHandshake : public ::testing::Test {
protected:
    void SetUp() override {
        auto bound = os::Listener::bind_loopback(0, 16);
        ASSERT_TRUE(bound.has_value()) << bound.error().text();
        listener_.emplace(std::move(*bound));
        auto port = listener_->local_port();
        ASSERT_TRUE(port.has_value());
        port_ = *port;
        test_support::take();
    }

    // Runs accept_client on the next accepted connection, on its own thread.
    std::future<Accepted> serve_one(server::HandshakeTimeouts timeouts = {}) {
        server::SessionConfig config;
        config.token = std::string(TOKEN);
        config.log = &test_support::log;
        return std::async(std::launch::async, [this, config, timeouts]() -> Accepted {
            auto socket = listener_->accept();
            if (!socket) {
                return std::unexpected("accept: " + socket.error().text());
            }
            return server::accept_client(std::move(*socket), config, timeouts);
        });
    }

    static Accepted finish(std::future<Accepted>& served) {
        if (served.wait_for(GUARD) != std::future_status::ready) {
            ADD_FAILURE() << "accept_client did not return within " << GUARD.count() << " s";
            std::abort();  // the thread would block the test's end for ever
        }
        return served.get();
    }

    std::string local_host() const { return "127.0.0.1:" + std::to_string(port_); }
    static std::string token_target() { return "/?t=" + std::string(TOKEN); }

    std::optional<os::Listener> listener_;
    std::uint16_t port_ = 0;
};

TEST_F(LoopbackHandshake, AdmittedClientGetsTheExact101AndAWorkingConnection) {
    auto served = serve_one();
    auto client = client::open_websocket(port_, DISCORD_ORIGIN, local_host(), token_target());
    ASSERT_TRUE(client.has_value()) << client.error().text();
    Accepted ws = finish(served);
    ASSERT_TRUE(ws.has_value()) << ws.error();
    EXPECT_EQ(test_support::take(), std::vector<std::string>{"cliente autenticado"});

    ASSERT_TRUE(client->send_frame(0x9, "hi").has_value());
    auto ping = ws->read();
    ASSERT_TRUE(ping.has_value()) << ping.error().text();
    EXPECT_EQ(ping->kind, server::MessageKind::Ping);
    ASSERT_TRUE(ws->flush().has_value());
    auto pong = client->read_frame(GUARD);
    ASSERT_TRUE(pong.has_value()) << pong.error().text();
    EXPECT_EQ(pong->opcode, 0xA);
    EXPECT_EQ(pong->text(), "hi");
    EXPECT_FALSE(pong->masked);
}

TEST_F(LoopbackHandshake, RefusedClientGetsThe403AndIsClosed) {
    auto served = serve_one();
    auto client = WsClient::connect(port_);
    ASSERT_TRUE(client.has_value()) << client.error().text();
    auto head = client->handshake("https://example.com", local_host(), token_target(), GUARD);
    ASSERT_TRUE(head.has_value()) << head.error().text();
    auto body = client->read_until_closed(GUARD);
    ASSERT_TRUE(body.has_value()) << "the server did not close within the guard: " << body.error().text();
    EXPECT_EQ(*head + *body, "HTTP/1.1 403 Forbidden\r\n\r\nforbidden");
    Accepted result = finish(served);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), "handshake: HTTP error: 403 Forbidden");
    EXPECT_EQ(test_support::take(), std::vector<std::string>{"handshake recusado: Origin"});
}

TEST_F(LoopbackHandshake, SilentClientIsDroppedAfterTheReadTimeout) {
    auto served = serve_one({.read = 200ms});
    auto client = WsClient::connect(port_);
    ASSERT_TRUE(client.has_value()) << client.error().text();
    const auto start = std::chrono::steady_clock::now();
    auto received = client->read_until_closed(GUARD);
    const auto waited = std::chrono::steady_clock::now() - start;
    Accepted result = finish(served);
    ASSERT_TRUE(received.has_value()) << "the silent client was not dropped: " << received.error().text();
    EXPECT_EQ(*received, "");
    EXPECT_GE(waited, 150ms) << "dropped before its receive time-out";
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().starts_with("handshake: IO error: ")) << result.error();
    EXPECT_TRUE(test_support::take().empty());
}

// A head trickled a byte at a time, each well within the receive time-out,
// ends at the head's deadline with the same I/O failure as a silent client.
TEST_F(LoopbackHandshake, TrickledHeadEndsAtTheHeadDeadline) {
    auto served = serve_one({.read = 1s, .head = 400ms});
    auto client = WsClient::connect(port_);
    ASSERT_TRUE(client.has_value()) << client.error().text();
    const auto start = std::chrono::steady_clock::now();
    const std::string request = client::upgrade_request(DISCORD_ORIGIN, local_host(), token_target());
    bool dropped = false;
    for (std::size_t i = 0; i < request.size() && !dropped; ++i) {
        if (!client->send_raw(request.substr(i, 1))) {
            break;  // the server has closed
        }
        dropped = client->read_until_closed(50ms).has_value();
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    Accepted result = finish(served);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().starts_with("handshake: IO error: ")) << result.error();
    EXPECT_GE(waited, 350ms) << "dropped before the head's deadline";
    EXPECT_TRUE(test_support::take().empty());
}

}  // namespace

