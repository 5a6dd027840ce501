// The handshake core over an in-memory stream: every failure text, the
// reading limits, and proof that the request may arrive in any pieces.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "record_log.hpp"
#include "server/handshake.hpp"
#include "support/memory_stream.hpp"
#include "client/ws_client.hpp"

namespace {

using test_support::MemoryPeer;
using test_support::MemoryStream;
using client::upgrade_request;

constexpr std::uint16_t PORT = 48123;
constexpr std::string_view TOKEN = "abcdefghijklmnop";
const std::string GOOD_TARGET = "/?t=" + std::string(TOKEN);
const std::string ACCEPTED =
    "HTTP/1.1 101 Switching Protocols\r\nconnection: Upgrade\r\nupgrade: websocket\r\n"
    "sec-websocket-accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

server::SessionConfig config(std::vector<std::string> additional_origins = {}) {
    server::SessionConfig c;
    c.token = std::string(TOKEN);
    c.additional_origins = std::move(additional_origins);
    c.log = &test_support::log;
    return c;
}

std::string good_request(std::string_view extra_headers = {}) {
    return upgrade_request(client::DISCORD_ORIGIN, "127.0.0.1:48123", GOOD_TARGET, extra_headers);
}

struct Outcome {
    std::string error;  // empty when accepted
    std::string written;
    bool closed = false;
    std::vector<std::string> records;
};

// Feeds the pieces (then the peer's close) and runs the handshake.
Outcome run(const std::vector<std::string>& pieces, bool then_eof = true,
            const server::SessionConfig& with = config()) {
    test_support::take();
    auto peer = std::make_shared<MemoryPeer>();
    for (const auto& piece : pieces) {
        peer->push_input(piece);
    }
    if (then_eof) {
        peer->push_eof();
    }
    auto result = server::server_handshake(std::make_unique<MemoryStream>(peer), PORT, with);
    Outcome out;
    if (!result) {
        out.error = result.error().text();
    }
    const auto& w = peer->written();
    out.written.assign(w.begin(), w.end());
    out.closed = peer->closed();
    out.records = test_support::take();
    return out;
}

TEST(HandshakeCore, AcceptsAStandardRequest) {
    const Outcome out = run({good_request()});
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.written, ACCEPTED);
    EXPECT_FALSE(out.closed);
    EXPECT_EQ(out.records, std::vector<std::string>{"cliente autenticado"});
}

TEST(HandshakeCore, RefusalSendsTheExact403AndLogsTheReason) {
    const Outcome out = run({upgrade_request(std::nullopt, "127.0.0.1:48123", GOOD_TARGET)});
    EXPECT_EQ(out.error, "HTTP error: 403 Forbidden");
    EXPECT_EQ(out.written, "HTTP/1.1 403 Forbidden\r\n\r\nforbidden");
    EXPECT_TRUE(out.closed);
    EXPECT_EQ(out.records, std::vector<std::string>{"handshake recusado: Origin"});
}

TEST(HandshakeCore, AdditionalOriginsReachTheOriginCheck) {
    const std::string elsewhere = upgrade_request("http://localhost:3000", "127.0.0.1:48123", GOOD_TARGET);
    EXPECT_EQ(run({elsewhere}, true, config({"http://localhost:3000"})).written, ACCEPTED);
    EXPECT_EQ(run({upgrade_request(std::nullopt, "127.0.0.1:48123", GOOD_TARGET)}, true, config({"*"})).written,
              ACCEPTED)
        << "\"*\" admits a request without Origin";
    EXPECT_EQ(run({elsewhere}).error, "HTTP error: 403 Forbidden") << "the program's empty list";
}

TEST(HandshakeCore, FailuresBeforeTheChecksSendNothing) {
    const std::string prefix = "WebSocket protocol error: ";
    const std::string good = good_request();
    const struct {
        std::string request;
        std::string error;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n", prefix + "Handshake not finished"},
        {"", prefix + "Handshake not finished"},
        {"GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", prefix + "HTTP parse error: invalid header name"},
        {"GET / HTTP/1.1\r\nA: \x01\r\n\r\n", prefix + "HTTP parse error: invalid header value"},
        {"GET / HTTP/1.1\r\r\n", prefix + "HTTP parse error: invalid new line"},
        {"G@T / HTTP/1.1\r\n\r\n", prefix + "HTTP parse error: invalid token"},
        {"GET / HTTP/3\r\n\r\n", prefix + "HTTP parse error: invalid HTTP version"},
        {"POST" + good.substr(3), prefix + "Unsupported HTTP method used - only GET is allowed"},
        {"GET / HTTP/1.0\r\n\r\n", prefix + "HTTP version must be 1.1 or higher"},
        {"GET /a{b} HTTP/1.1\r\n\r\n", "HTTP format error: invalid request target"},
        {good + "x", prefix + "Junk after client request"},
        {"GET / HTTP/1.1\r\nUpgrade: websocket\r\n\r\n", prefix + "No \"Connection: upgrade\" header"},
        {"GET / HTTP/1.1\r\nConnection: keep-alive\r\nConnection: Upgrade\r\n\r\n",
         prefix + "No \"Connection: upgrade\" header"},
        {"GET / HTTP/1.1\r\nConnection: Upgrade\xC2\xA0\r\n\r\n", prefix + "No \"Connection: upgrade\" header"},
        {"GET / HTTP/1.1\r\nConnection: upgrades\r\n\r\n", prefix + "No \"Connection: upgrade\" header"},
        {"GET / HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: h2c\r\n\r\n", prefix + "No \"Upgrade: websocket\" header"},
        {"GET / HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 8\r\n\r\n",
         prefix + "No \"Sec-WebSocket-Version: 13\" header"},
        {"GET / HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n\r\n",
         prefix + "No \"Sec-WebSocket-Key\" header"},
        {upgrade_request(client::DISCORD_ORIGIN, "127.0.0.1:48123", GOOD_TARGET, {}, "c2hvcnQ="),
         prefix + "Invalid \"Sec-WebSocket-Key\" header value"},
        {upgrade_request(client::DISCORD_ORIGIN, "127.0.0.1:48123", GOOD_TARGET, {},
                         "dGhlIHNhbXBsZSBub25jZQ=!"),
         prefix + "Invalid \"Sec-WebSocket-Key\" header value"},
    };
    for (const auto& c : cases) {
        const Outcome out = run({c.request});
        EXPECT_EQ(out.error, c.error) << c.request;
        EXPECT_EQ(out.written, "") << c.request;
        EXPECT_TRUE(out.closed) << c.request;
        EXPECT_TRUE(out.records.empty()) << c.request;
    }
}

TEST(HandshakeCore, LetterCaseAndListsInUpgradeHeaders) {
    const std::string request =
        "GET /?t=abcdefghijklmnop HTTP/1.1\r\nhost: localhost:48123\r\nconnection: keep-alive, UPGRADE\r\n"
        "UPGRADE: WebSocket\r\nsec-websocket-version: 13\r\nsec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "origin: https://discord.com\r\nSec-WebSocket-Extensions: permessage-deflate\r\n"
        "Sec-WebSocket-Protocol: chat\r\n\r\n";
    const Outcome out = run({request});
    EXPECT_EQ(out.error, "");
    EXPECT_EQ(out.written, ACCEPTED);  // offers of extensions and subprotocols go unanswered
}

TEST(HandshakeCore, TooManyHeadersIsACapacityFailure) {
    std::string extra;
    for (int i = 0; i < 125; ++i) {
        extra += "X-" + std::to_string(i) + ": v\r\n";
    }
    const Outcome out = run({good_request(extra)});
    EXPECT_EQ(out.error, "Space limit exceeded: Too many headers");
}

TEST(HandshakeCore, EverySplitGivesTheSameOutcome) {
    const std::vector<std::string> requests{
        good_request(),
        upgrade_request("https://discord.com/", "127.0.0.1:48123", GOOD_TARGET),
        "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n",
        "GET / HTTP/1.1\r\nConnection: Upgrade\r\nUpgrade: h2c\r\n\r\n",
    };
    for (const std::string& request : requests) {
        const Outcome whole = run({request});
        const std::size_t n = request.size();
        for (const std::size_t split : {std::size_t{1}, n / 2, n - 1}) {
            const Outcome parts = run({request.substr(0, split), request.substr(split)});
            EXPECT_EQ(parts.error, whole.error) << "split " << split << " of " << request;
            EXPECT_EQ(parts.written, whole.written) << "split " << split;
            EXPECT_EQ(parts.records, whole.records) << "split " << split;
        }
    }
}

TEST(HandshakeCore, ReadTimeoutIsAnIoFailure) {
    test_support::take();
    auto peer = std::make_shared<MemoryPeer>();
    peer->push_input("GET / HTTP/1.1\r\n");
    peer->push_timeout();
    auto result = server::server_handshake(std::make_unique<MemoryStream>(peer), PORT, config());
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().is_timeout());
    EXPECT_TRUE(result.error().text().starts_with("IO error: "));
    EXPECT_TRUE(peer->closed());
}

TEST(HandshakeCore, FailedResponseWriteIsAnIoFailure) {
    test_support::take();
    auto peer = std::make_shared<MemoryPeer>();
    peer->push_input(upgrade_request(std::nullopt, "127.0.0.1:48123", GOOD_TARGET));
    peer->limit_writes(10);
    auto result = server::server_handshake(std::make_unique<MemoryStream>(peer), PORT, config());
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind(), server::WsErrorKind::Io);
    // The refusal was recorded before the answer failed.
    EXPECT_EQ(test_support::take(), std::vector<std::string>{"handshake recusado: Origin"});
}

// A valid request padded to exactly `size` bytes.
std::string request_of_size(std::size_t size) {
    const std::size_t base = good_request().size();
    const std::size_t frame = std::string("X-Pad: \r\n").size();
    std::string request = good_request("X-Pad: " + std::string(size - base - frame, 'p') + "\r\n");
    EXPECT_EQ(request.size(), size);
    return request;
}

// Cuts the text into pieces of the given sizes; the last piece takes the rest.
std::vector<std::string> cut(const std::string& text, const std::vector<std::size_t>& sizes) {
    std::vector<std::string> pieces;
    std::size_t at = 0;
    for (const std::size_t size : sizes) {
        pieces.push_back(text.substr(at, size));
        at += size;
    }
    pieces.push_back(text.substr(at));
    return pieces;
}

// The limits apply after every receive; each scripted piece is one receive.
TEST(HandshakeCore, TrickledHeadsAreJudgedAfter64Receives) {
    // Up to 64 receives, however small, are never judged by their average.
    const std::string head = good_request();
    std::vector<std::size_t> tiny(63, 1);
    EXPECT_EQ(run(cut(head, tiny)).error, "");

    // A 65th receive with fewer than 128 bytes per receive on average is an
    // attack; exactly 128 on average is not.
    std::vector<std::size_t> sizes(62, 1);
    sizes.push_back(4096);
    sizes.push_back(4096);
    const auto at_limit = cut(request_of_size(128 * 65), sizes);
    ASSERT_EQ(at_limit.size(), 65u);
    EXPECT_EQ(run(at_limit).error, "");
    const auto below = cut(request_of_size(128 * 65 - 1), sizes);
    ASSERT_EQ(below.size(), 65u);
    EXPECT_EQ(run(below).error, "Attack attempt detected");
}

TEST(HandshakeCore, HeadsAbove65536BytesAreAnAttack) {
    const std::vector<std::size_t> pages(15, 4096);
    EXPECT_EQ(run(cut(request_of_size(65536), pages)).error, "");
    EXPECT_EQ(run(cut(request_of_size(65537), pages)).error, "Attack attempt detected");
    // Judged before parsing: a head still incomplete at that point fails the same way.
    EXPECT_EQ(run(cut("GET / HTTP/1.1\r\nX: " + std::string(70000, 'a'), pages), false).error,
              "Attack attempt detected");
}

TEST(HandshakeCore, ReceivesAtMost4096BytesAtATime) {
    test_support::take();
    auto peer = std::make_shared<MemoryPeer>();
    const std::string request = good_request("X-Pad: " + std::string(10000, 'p') + "\r\n");
    peer->push_input(request);
    auto result = server::server_handshake(std::make_unique<MemoryStream>(peer), PORT, config());
    ASSERT_TRUE(result.has_value()) << result.error().text();
    EXPECT_EQ(peer->reads(), (request.size() + 4095) / 4096);
}

}  // namespace
