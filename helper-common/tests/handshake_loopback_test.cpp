// accept_client over real loopback sockets: what a refused, broken or silent
// client sees on the wire, and what is logged.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
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
        test_records::take();
    }

    // Runs accept_client on the next accepted connection, on its own thread.
    std::future<Accepted> serve_one(std::vector<std::string> additional_origins = {}) {
        server::SessionConfig config;
        config.token = std::string(TOKEN);
        config.additional_origins = std::move(additional_origins);
        config.log = &test_records::log;
        return std::async(std::launch::async, [this, config]() -> Accepted {
            auto socket = listener_->accept();
            if (!socket) {
                return std::unexpected("accept: " + socket.error().text());
            }
            return server::accept_client(std::move(*socket), config);
        });
    }

    static Accepted finish(std::future<Accepted>& served) {
        if (served.wait_for(GUARD) != std::future_status::ready) {
            ADD_FAILURE() << "accept_client did not return";
            std::abort();  // the thread would block the test's end for ever
        }
        return served.get();
    }

    std::string local(std::string_view name) const { return std::string(name) + ":" + std::to_string(port_); }
    static std::string token_target() { return "/?t=" + std::string(TOKEN); }

    // One client with the given request parts; returns what it received
    // before the server closed, and the server's result.
    std::pair<std::string, Accepted> attempt(std::optional<std::string_view> origin,
                                             std::optional<std::string_view> host, std::string_view target) {
        auto served = serve_one();
        auto client = WsClient::connect(port_);
        EXPECT_TRUE(client.has_value());
        std::string received;
        if (client) {
            auto head = client->handshake(origin, host, target, GUARD);
            received = head.value_or("<" + head.error() + ">");
            if (received.starts_with("HTTP/1.1 403")) {
                auto body = client->read_until_closed(GUARD);
                received += body.value_or("<" + body.error() + ">");
            }
        }
        return {received, finish(served)};
    }

    void expect_refused(std::optional<std::string_view> origin, std::optional<std::string_view> host,
                        std::string_view target, std::string_view reason) {
        auto [received, result] = attempt(origin, host, target);
        SCOPED_TRACE(std::string(origin.value_or("<no origin>")) + " | " + std::string(host.value_or("<no host>")) +
                     " | " + std::string(target));
        EXPECT_EQ(received, "HTTP/1.1 403 Forbidden\r\n\r\nforbidden");
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), "handshake: HTTP error: 403 Forbidden");
        EXPECT_EQ(test_records::take(), std::vector<std::string>{"handshake recusado: " + std::string(reason)});
    }

    void expect_accepted(std::optional<std::string_view> origin, std::optional<std::string_view> host,
                         std::string_view target) {
        auto [received, result] = attempt(origin, host, target);
        EXPECT_TRUE(received.starts_with("HTTP/1.1 101 Switching Protocols\r\n")) << received;
        EXPECT_TRUE(result.has_value()) << (result ? "" : result.error());
        EXPECT_EQ(test_records::take(), std::vector<std::string>{"cliente autenticado"});
    }

    std::optional<os::Listener> listener_;
    std::uint16_t port_ = 0;
};

TEST_F(LoopbackHandshake, AdmittedClientGetsTheExact101AndAWorkingConnection) {
    auto served = serve_one();
    auto client = client::open_websocket(port_, DISCORD_ORIGIN, local("127.0.0.1"), token_target());
    ASSERT_TRUE(client.has_value()) << client.error();
    Accepted ws = finish(served);
    ASSERT_TRUE(ws.has_value()) << ws.error();
    EXPECT_EQ(test_records::take(), std::vector<std::string>{"cliente autenticado"});

    ASSERT_TRUE(client->send_frame(0x9, "hi").has_value());
    auto ping = ws->read();
    ASSERT_TRUE(ping.has_value()) << ping.error().text();
    EXPECT_EQ(ping->kind, server::MessageKind::Ping);
    ASSERT_TRUE(ws->flush().has_value());
    auto pong = client->read_frame(GUARD);
    ASSERT_TRUE(pong.has_value()) << pong.error();
    EXPECT_EQ(pong->opcode, 0xA);
    EXPECT_EQ(pong->text(), "hi");
    EXPECT_FALSE(pong->masked);
}

TEST_F(LoopbackHandshake, OriginMustBeTheDiscordOriginExactly) {
    const std::string host = local("127.0.0.1");
    expect_refused(std::nullopt, host, token_target(), "Origin");
    for (const char* origin : {"https://discord.com/", "https://discord.com:443", "https://Discord.com",
                               "http://discord.com"}) {
        expect_refused(origin, host, token_target(), "Origin");
    }
    // The right token does not make up for a missing Origin; only that reason is named.
    expect_refused(std::nullopt, std::nullopt, token_target(), "Origin");
}

TEST_F(LoopbackHandshake, HostMustNameTheLoopbackAndThisPort) {
    expect_accepted(DISCORD_ORIGIN, local("localhost"), token_target());
    const std::string port = std::to_string(port_);
    for (const std::string& host : {std::string("localhost"), "LOCALHOST:" + port, "127.0.0.1:0" + port,
                                    "[::1]:" + port}) {
        expect_refused(DISCORD_ORIGIN, host, token_target(), "Host");
    }
}

TEST_F(LoopbackHandshake, TokenIsTheFirstTPieceOfTheQuery) {
    const std::string host = local("127.0.0.1");
    const std::string t(TOKEN);
    for (const std::string& target : {"/?t=" + t, "/?x=1&t=" + t, "/some/longer/path?t=" + t + "&x=1"}) {
        expect_accepted(DISCORD_ORIGIN, host, target);
    }
    for (const std::string& target : {"/?t=wrong&t=" + t, "/?T=" + t, "/?tt=" + t, std::string("/?t=Zq8%5Fx-Y3kP0wLm2N"),
                                      "/t=" + t}) {
        expect_refused(DISCORD_ORIGIN, host, target, "Token");
    }
}

TEST_F(LoopbackHandshake, UpgradeFailuresGetNoResponseAndNoRefusalRecord) {
    const std::string good = client::upgrade_request(DISCORD_ORIGIN, local("127.0.0.1"), token_target());
    const std::pair<std::string, std::string> cases[] = {
        {std::string(good).replace(good.find("Version: 13"), 11, "Version: 8"),
         "handshake: WebSocket protocol error: No \"Sec-WebSocket-Version: 13\" header"},
        {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n",
         "handshake: WebSocket protocol error: No \"Connection: upgrade\" header"},
        {good + std::string("\x81\x80\x01\x02\x03\x04", 6),
         "handshake: WebSocket protocol error: Junk after client request"},
    };
    for (const auto& [request, error] : cases) {
        auto served = serve_one();
        auto client = WsClient::connect(port_);
        ASSERT_TRUE(client.has_value());
        ASSERT_TRUE(client->send_raw(request).has_value());
        auto received = client->read_until_closed(GUARD);
        Accepted result = finish(served);
        ASSERT_TRUE(received.has_value()) << received.error();
        EXPECT_EQ(*received, "");
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), error);
        EXPECT_TRUE(test_records::take().empty());
    }
}

TEST_F(LoopbackHandshake, RequestSplitAcrossPacketsIsStillRead) {
    const std::string request = client::upgrade_request(DISCORD_ORIGIN, local("127.0.0.1"), token_target());
    for (const std::size_t split : {std::size_t{1}, request.size() / 2, request.size() - 1}) {
        auto served = serve_one();
        auto client = WsClient::connect(port_);
        ASSERT_TRUE(client.has_value());
        ASSERT_TRUE(client->send_raw(request.substr(0, split)).has_value());
        std::this_thread::sleep_for(20ms);  // let the first piece arrive on its own
        ASSERT_TRUE(client->send_raw(request.substr(split)).has_value());
        Accepted result = finish(served);
        EXPECT_TRUE(result.has_value()) << "split " << split << ": " << (result ? "" : result.error());
    }
}

TEST_F(LoopbackHandshake, OversizedHeadIsAnAttack) {
    auto served = serve_one();
    auto client = WsClient::connect(port_);
    ASSERT_TRUE(client.has_value());
    // The server stops reading after 65,536 bytes; a failed send here is expected.
    (void)client->send_raw("GET / HTTP/1.1\r\nX-Big: " + std::string(70000, 'b') + "\r\n\r\n");
    Accepted result = finish(served);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), "handshake: Attack attempt detected");
}

TEST_F(LoopbackHandshake, TrickledHeadIsAnAttack) {
    auto served = serve_one();
    auto client = WsClient::connect(port_);
    ASSERT_TRUE(client.has_value());
    // 8-byte pieces a little apart: the server sees far more than 64
    // receives long before the 128-byte average could be reached.
    const std::string request = client::upgrade_request(DISCORD_ORIGIN, local("127.0.0.1"), token_target(),
                                                              "X-Pad: " + std::string(4000, 'p') + "\r\n");
    for (std::size_t at = 0; at < request.size(); at += 8) {
        if (!client->send_raw(request.substr(at, 8))) {
            break;  // the server has given up on us
        }
        if (served.wait_for(1ms) == std::future_status::ready) {
            break;
        }
    }
    Accepted result = finish(served);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), "handshake: Attack attempt detected");
}

TEST_F(LoopbackHandshake, SilentClientIsDroppedAfterTheReadTimeout) {
    auto served = serve_one();
    auto client = WsClient::connect(port_);
    ASSERT_TRUE(client.has_value());
    const auto start = std::chrono::steady_clock::now();
    auto received = client->read_until_closed(GUARD);
    const auto waited = std::chrono::steady_clock::now() - start;
    Accepted result = finish(served);
    ASSERT_TRUE(received.has_value()) << received.error();
    EXPECT_EQ(*received, "");
    EXPECT_GE(waited, 4500ms);
    EXPECT_LE(waited, 12s);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().starts_with("handshake: IO error: ")) << result.error();
}

}  // namespace
