// The frame layer in the server role over an in-memory stream.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/websocket.hpp"
#include "support/memory_stream.hpp"
#include "client/ws_client.hpp"

namespace {

using server::Message;
using server::MessageKind;
using client::client_frame;
using client::close_body;
using test_support::MemoryPeer;
using test_support::MemoryStream;
using client::ServerFrame;

constexpr std::uint8_t TEXT = 0x1, BINARY = 0x2, CONTINUATION = 0x0, CLOSE = 0x8, PING = 0x9, PONG = 0xA;

struct Connection {
    std::shared_ptr<MemoryPeer> peer = std::make_shared<MemoryPeer>();
    server::WebSocket ws{std::make_unique<MemoryStream>(peer)};

    void send(const std::vector<std::uint8_t>& bytes) { peer->push_input(bytes); }
    std::vector<ServerFrame> frames_written() { return client::parse_frames(peer->take_written()); }
    std::string read_error() {
        auto result = ws.read();
        return result ? std::string("<message>") : result.error().text();
    }
};

std::vector<std::uint8_t> bytes(std::size_t n, std::uint8_t value = 'x') {
    return std::vector<std::uint8_t>(n, value);
}

TEST(WebSocketRead, PingIsAnsweredWithTheSamePayloadUpTo125Bytes) {
    Connection c;
    std::vector<std::uint8_t> payload(125);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 7);
    }
    c.send(client_frame(PING, payload));
    auto ping = c.ws.read();
    ASSERT_TRUE(ping.has_value()) << ping.error().text();
    EXPECT_EQ(ping->kind, MessageKind::Ping);
    EXPECT_EQ(ping->data, payload);
    EXPECT_TRUE(c.peer->written().empty());  // the pong waits for a flush
    ASSERT_TRUE(c.ws.flush().has_value());
    const auto frames = c.frames_written();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].fin);
    EXPECT_FALSE(frames[0].masked);
    EXPECT_EQ(frames[0].opcode, PONG);
    EXPECT_EQ(frames[0].payload, payload);

    Connection big;
    big.send(client_frame(PING, bytes(126)));
    EXPECT_EQ(big.read_error(),
              "WebSocket protocol error: Control frame too big (payload must be 125 bytes or less)");
}

TEST(WebSocketRead, RefusesFramesThatBreakTheRules) {
    const std::string p = "WebSocket protocol error: ";
    const struct {
        const char* name;
        std::vector<std::vector<std::uint8_t>> frames;
        std::string error;
    } cases[] = {
        {"unmasked", {client_frame(TEXT, "hi", false)}, p + "Received an unmasked frame from client"},
        {"rsv1", {client_frame(TEXT, "hi", true, true, 4)}, p + "Reserved bits are non-zero"},
        {"rsv2", {client_frame(BINARY, "hi", true, true, 2)}, p + "Reserved bits are non-zero"},
        {"rsv3", {client_frame(PING, "", true, true, 1)}, p + "Reserved bits are non-zero"},
        {"fragmented ping", {client_frame(PING, "a", true, false)}, p + "Fragmented control frame"},
        {"opcode 3", {client_frame(3, "a")}, p + "Unknown data frame type: 3"},
        {"opcode 7", {client_frame(7, "")}, p + "Unknown data frame type: 7"},
        {"opcode 11", {client_frame(11, "a")}, p + "Unknown control frame type: 11"},
        {"opcode 15", {client_frame(15, "")}, p + "Unknown control frame type: 15"},
        {"lone continuation", {client_frame(CONTINUATION, "a")}, p + "Continue frame but nothing to continue"},
        {"new message inside one",
         {client_frame(TEXT, "a", true, false), client_frame(BINARY, "b")},
         p + "While waiting for more fragments received: 2"},
        {"one-byte close", {client_frame(CLOSE, "\x03")}, p + "Invalid close sequence"},
        {"bad text", {client_frame(TEXT, "ok\xFF")}, "UTF-8 encoding error: invalid utf-8 sequence of 1 bytes from index 2"},
        {"text ends mid-character",
         {client_frame(TEXT, "\xE2\x82", true, false), client_frame(CONTINUATION, "")},
         "UTF-8 encoding error: incomplete utf-8 byte sequence from index 0"},
        {"bad close reason", {client_frame(CLOSE, close_body(1000, "\xC0\x80"))},
         "UTF-8 encoding error: invalid utf-8 sequence of 1 bytes from index 0"},
        {"frame above 16 MiB", {{0x82, 0xFF, 0, 0, 0, 0, 0x01, 0, 0, 1, 1, 2, 3, 4}},
         "Space limit exceeded: Message too long: 16777217 > 16777216"},
    };
    for (const auto& test : cases) {
        Connection c;
        for (const auto& frame : test.frames) {
            c.send(frame);
        }
        EXPECT_EQ(c.read_error(), test.error) << test.name;
        // The reader stays stopped, and the layer never answers by itself.
        EXPECT_EQ(c.read_error(), test.error) << test.name;
        EXPECT_TRUE(c.peer->written().empty()) << test.name;
        // The caller can still close: 88 00.
        ASSERT_TRUE(c.ws.close().has_value()) << test.name;
        EXPECT_EQ(c.peer->written(), (std::vector<std::uint8_t>{0x88, 0x00})) << test.name;
    }
}

TEST(WebSocketRead, JoinsFragmentsAroundControlFrames) {
    Connection c;
    c.send(client_frame(TEXT, "n\xC3", true, false));
    c.send(client_frame(PING, "p"));
    c.send(client_frame(CONTINUATION, "\xA3o ", true, false));
    c.send(client_frame(CONTINUATION, "fim"));
    auto ping = c.ws.read();
    ASSERT_TRUE(ping.has_value());
    EXPECT_EQ(ping->kind, MessageKind::Ping);
    auto text = c.ws.read();
    ASSERT_TRUE(text.has_value()) << text.error().text();
    EXPECT_EQ(text->kind, MessageKind::Text);
    EXPECT_EQ(text->as_text(), "n\xC3\xA3o fim");
    // The pong owed for the ping went out before the read went on.
    const auto frames = c.frames_written();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].opcode, PONG);
}

TEST(WebSocketRead, ByteByByteInputGivesTheSameMessages) {
    Connection c;
    std::vector<std::uint8_t> stream;
    for (const auto& frame : {client_frame(BINARY, bytes(300, 0xAB)), client_frame(TEXT, "olá"),
                              client_frame(PONG, "x")}) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (const std::uint8_t b : stream) {
        c.send({b});
    }
    std::vector<MessageKind> kinds;
    for (int i = 0; i < 3; ++i) {
        auto m = c.ws.read();
        ASSERT_TRUE(m.has_value()) << m.error().text();
        kinds.push_back(m->kind);
    }
    EXPECT_EQ(kinds, (std::vector{MessageKind::Binary, MessageKind::Text, MessageKind::Pong}));
}

TEST(WebSocketRead, TimeoutInTheMiddleOfAFrameLosesNothing) {
    Connection c;
    const auto frame = client_frame(BINARY, bytes(1000, 7));
    c.send({frame.begin(), frame.begin() + 1});  // half a header
    c.peer->push_timeout();
    c.send({frame.begin() + 1, frame.begin() + 500});
    c.peer->push_timeout();
    c.send({frame.begin() + 500, frame.end()});
    for (int i = 0; i < 2; ++i) {
        auto early = c.ws.read();
        ASSERT_FALSE(early.has_value());
        EXPECT_TRUE(early.error().is_timeout()) << early.error().text();
        EXPECT_TRUE(early.error().text().starts_with("IO error: "));
    }
    auto m = c.ws.read();
    ASSERT_TRUE(m.has_value()) << m.error().text();
    EXPECT_EQ(m->data, bytes(1000, 7));
}

// A read with a budget gives up with "would block" once it is spent, and the
// next read goes on where it stopped.
TEST(WebSocketRead, SpentBudgetEndsTheReadAndLosesNothing) {
    using namespace std::chrono_literals;
    auto would_block = [](const server::WsResult<Message>& m) {
        return !m && m.error().kind() == server::WsErrorKind::Io &&
               m.error().io_error().kind() == os::ErrorKind::WouldBlock;
    };
    // Bytes: a flood of empty fragments in one piece, read 600 bytes at a time.
    Connection flood;
    std::vector<std::uint8_t> fragments = client_frame(BINARY, "", true, false);
    for (int i = 0; i < 1000; ++i) {
        const auto empty = client_frame(CONTINUATION, "", true, false);
        fragments.insert(fragments.end(), empty.begin(), empty.end());
    }
    flood.send(fragments);
    flood.send(client_frame(CONTINUATION, "end"));
    int spent = 0;
    auto m = flood.ws.read({.bytes = 600});
    for (; would_block(m) && spent < 100; ++spent) {
        m = flood.ws.read({.bytes = 600});
    }
    ASSERT_TRUE(m.has_value()) << m.error().text();
    EXPECT_EQ(m->as_text(), "end");
    EXPECT_EQ(spent, static_cast<int>(fragments.size() / 600)) << "each read takes its 600 bytes";

    // Time: a frame trickled one byte per receive, 2 ms apart, against a read
    // that may receive for 30 ms.
    Connection trickle;
    const auto frame = client_frame(BINARY, bytes(200, 9));
    for (const std::uint8_t b : frame) {
        trickle.send({b});
    }
    trickle.peer->slow_down(2ms);
    const auto bounded = trickle.ws.read({.deadline = std::chrono::steady_clock::now() + 30ms});
    // "Would block" between receives, or the stream's time-out when the
    // deadline cuts a receive short.
    ASSERT_FALSE(bounded.has_value()) << "the read outlived its time";
    EXPECT_TRUE(bounded.error().is_timeout()) << bounded.error().text();
    EXPECT_LT(trickle.peer->reads(), frame.size()) << "the read outlived its time";
    trickle.peer->slow_down(0ms);
    auto rest = trickle.ws.read();
    ASSERT_TRUE(rest.has_value()) << rest.error().text();
    EXPECT_EQ(rest->data, bytes(200, 9));
}

TEST(WebSocketRead, SeventyMegabytesInOneMegabyteFragmentsIsTooLong) {
    Connection c;
    const auto chunk = bytes(1024 * 1024, 0x5A);
    std::string error;
    for (int i = 0; i < 70 && error.empty(); ++i) {
        c.send(client_frame(i == 0 ? BINARY : CONTINUATION, chunk, true, i == 69));
        auto m = c.ws.read();
        ASSERT_FALSE(m.has_value()) << "fragment " << i;
        if (!m.error().is_timeout()) {
            error = m.error().text();
            EXPECT_EQ(i, 64);  // the 65th fragment passes 64 MiB
        }
    }
    EXPECT_EQ(error, "Space limit exceeded: Message too long: 68157440 > 67108864");
}

TEST(WebSocketRead, StreamEndWithoutCloseIsAReset) {
    Connection c;
    c.send(client_frame(BINARY, "abc"));
    c.peer->push_input(std::string_view("\x82"));  // a frame cut short
    c.peer->push_eof();
    ASSERT_TRUE(c.ws.read().has_value());
    EXPECT_EQ(c.read_error(), "WebSocket protocol error: Connection reset without closing handshake");
    EXPECT_EQ(c.read_error(), "Connection closed normally");
    EXPECT_TRUE(c.ws.is_finished());
    auto write = c.ws.write(Message::text("late"));
    ASSERT_FALSE(write.has_value());
    EXPECT_EQ(write.error().text(), "Trying to work with closed connection");
}

TEST(WebSocketClose, ClientCloseIsEchoedWhenItsCodeMayBeSent) {
    const struct {
        std::string body;
        std::vector<std::uint8_t> reply_payload;
    } cases[] = {
        {close_body(1000, "bye"), {0x03, 0xE8, 'b', 'y', 'e'}},
        {close_body(1003, ""), {0x03, 0xEB}},
        {close_body(1007, "r"), {0x03, 0xEF, 'r'}},
        {close_body(1013, ""), {0x03, 0xF5}},
        {close_body(3000, "app"), {0x0B, 0xB8, 'a', 'p', 'p'}},
        {close_body(4999, ""), {0x13, 0x87}},
        {"", {}},
    };
    for (const auto& test : cases) {
        Connection c;
        c.send(client_frame(CLOSE, test.body));
        auto m = c.ws.read();
        ASSERT_TRUE(m.has_value()) << m.error().text();
        EXPECT_EQ(m->kind, MessageKind::Close);
        EXPECT_EQ(m->close_frame.has_value(), !test.body.empty());
        ASSERT_TRUE(c.ws.flush().has_value());
        const auto frames = c.frames_written();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].opcode, CLOSE);
        EXPECT_EQ(frames[0].payload, test.reply_payload);
    }
}

TEST(WebSocketClose, OtherCodesAreAnsweredWith1002) {
    for (const std::uint16_t code : {0, 999, 1004, 1005, 1006, 1014, 1015, 2999, 5000, 65535}) {
        Connection c;
        c.send(client_frame(CLOSE, close_body(code, "why")));
        auto m = c.ws.read();
        ASSERT_TRUE(m.has_value()) << code;
        ASSERT_TRUE(m->close_frame.has_value());
        EXPECT_EQ(m->close_frame->code, code);  // the caller sees what the client sent
        ASSERT_TRUE(c.ws.flush().has_value());
        const auto frames = c.frames_written();
        ASSERT_EQ(frames.size(), 1u) << code;
        EXPECT_EQ(frames[0].payload[0], 0x03) << code;
        EXPECT_EQ(frames[0].payload[1], 0xEA) << code;
        EXPECT_EQ(frames[0].text().substr(2), "Protocol violation");
    }
}

TEST(WebSocketClose, AfterTheClientsCloseTheConnectionFinishes) {
    Connection c;
    c.send(client_frame(CLOSE, ""));
    ASSERT_TRUE(c.ws.read().has_value());
    auto write = c.ws.write(Message::binary(bytes(4)));
    ASSERT_FALSE(write.has_value());
    EXPECT_EQ(write.error().text(), "WebSocket protocol error: Sending after closing is not allowed");
    // The next read writes the reply and reports the end.
    EXPECT_EQ(c.read_error(), "Connection closed normally");
    EXPECT_EQ(c.peer->written(), (std::vector<std::uint8_t>{0x88, 0x00}));
    EXPECT_EQ(c.read_error(), "Connection closed normally");
    auto flush = c.ws.flush();
    ASSERT_FALSE(flush.has_value());
    EXPECT_EQ(flush.error().text(), "Trying to work with closed connection");
}

TEST(WebSocketClose, ServerCloseIsExactly8800AndWaitsForTheAnswer) {
    Connection c;
    ASSERT_TRUE(c.ws.close().has_value());
    EXPECT_EQ(c.peer->take_written(), (std::vector<std::uint8_t>{0x88, 0x00}));
    auto write = c.ws.write(Message::text("x"));
    ASSERT_FALSE(write.has_value());
    EXPECT_EQ(write.error().text(), "WebSocket protocol error: Sending after closing is not allowed");
    // Data still arrives until the client's close; pings get no pong any more.
    c.send(client_frame(TEXT, "late"));
    c.send(client_frame(PING, "p"));
    c.send(client_frame(CLOSE, close_body(1000, "")));
    EXPECT_EQ(c.ws.read().value().kind, MessageKind::Text);
    EXPECT_EQ(c.ws.read().value().kind, MessageKind::Ping);
    EXPECT_EQ(c.ws.read().value().kind, MessageKind::Close);
    EXPECT_EQ(c.read_error(), "Connection closed normally");
    EXPECT_TRUE(c.peer->written().empty());
}

TEST(WebSocketWrite, FramesAreUnmaskedUnfragmentedAndShortestForm) {
    Connection c;
    const std::string format(97, 'f');
    ASSERT_TRUE(c.ws.send(Message::text(format)).has_value());
    ASSERT_TRUE(c.ws.write_binary(bytes(1920, 1)).has_value());
    ASSERT_TRUE(c.ws.write(Message::binary(bytes(70000, 2))).has_value());
    ASSERT_TRUE(c.ws.flush().has_value());
    const auto written = c.peer->take_written();
    ASSERT_GE(written.size(), 2u + 97 + 4);
    EXPECT_EQ(written[0], 0x81);
    EXPECT_EQ(written[1], 97);
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin() + 99, written.begin() + 103),
              (std::vector<std::uint8_t>{0x82, 0x7E, 0x07, 0x80}));
    const auto frames = client::parse_frames(written);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2].wire_size, 10u + 70000);
    for (const auto& f : frames) {
        EXPECT_TRUE(f.fin);
        EXPECT_FALSE(f.masked);
        EXPECT_EQ(f.rsv, 0);
    }
}

TEST(WebSocketWrite, QueuesUntilTheThresholdOrAFlush) {
    Connection c;
    // Two frames of 4 + 65,532 bytes fill the queue to exactly 128 KiB.
    const std::size_t payload = server::WRITE_THRESHOLD / 2 - 4;
    ASSERT_TRUE(c.ws.write_binary(bytes(payload)).has_value());
    EXPECT_TRUE(c.peer->written().empty());
    EXPECT_EQ(c.ws.queued_bytes(), server::WRITE_THRESHOLD / 2);
    ASSERT_TRUE(c.ws.write(Message::binary(bytes(payload))).has_value());
    EXPECT_EQ(c.peer->written().size(), server::WRITE_THRESHOLD);
    EXPECT_EQ(c.ws.queued_bytes(), 0u);
    // Small frames wait for the flush.
    ASSERT_TRUE(c.ws.write_binary(bytes(1920)).has_value());
    EXPECT_EQ(c.peer->written().size(), server::WRITE_THRESHOLD);
    ASSERT_TRUE(c.ws.flush().has_value());
    EXPECT_EQ(c.peer->written().size(), server::WRITE_THRESHOLD + 1924);
}

TEST(WebSocketWrite, WriteTimeoutKeepsTheUnsentBytes) {
    Connection c;
    c.peer->limit_writes(100);
    ASSERT_TRUE(c.ws.write_binary(bytes(1000, 3)).has_value());
    auto flushed = c.ws.flush();
    ASSERT_FALSE(flushed.has_value());
    EXPECT_TRUE(flushed.error().is_timeout());
    EXPECT_EQ(c.ws.queued_bytes(), 1004u - 100);
    c.peer->limit_writes(std::nullopt);
    ASSERT_TRUE(c.ws.flush().has_value());
    const auto frames = c.frames_written();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, bytes(1000, 3));
}

// A peer that takes a byte now and then cannot stretch one flush past the
// write time-out; once that has run out, the next flush does not wait again.
TEST(WebSocketWrite, WriteTimeOutBoundsAWholeFlush) {
    using namespace std::chrono_literals;
    using Clock = std::chrono::steady_clock;
    Connection c;
    ASSERT_TRUE(c.ws.stream().set_write_timeout(400ms).has_value());
    c.peer->slow_down(5ms, 1);  // 1004 bytes would take 5 s
    ASSERT_TRUE(c.ws.write_binary(bytes(1000, 3)).has_value());
    const auto start = Clock::now();
    auto flushed = c.ws.flush();
    ASSERT_FALSE(flushed.has_value());
    EXPECT_EQ(flushed.error().io_error().kind(), os::ErrorKind::TimedOut) << flushed.error().text();
    EXPECT_EQ(flushed.error().text(), "IO error: " + os::send_timeout_error().text());
    EXPECT_LT(Clock::now() - start, 3s) << "the flush outlived the write time-out";
    const std::size_t left = c.ws.queued_bytes();
    EXPECT_EQ(left + c.peer->written().size(), 1004u) << "unsent bytes stay queued";

    const auto again = Clock::now();
    EXPECT_FALSE(c.ws.close().has_value());
    EXPECT_LT(Clock::now() - again, 400ms) << "the close waited for a peer that had stopped reading";

    c.peer->slow_down(0ms);
    ASSERT_TRUE(c.ws.flush().has_value()) << "a peer that reads again gets everything";
    const auto frames = c.frames_written();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].payload, bytes(1000, 3));
    EXPECT_EQ(frames[1].opcode, CLOSE);
}

TEST(WebSocketWrite, PendingPongSurvivesATimeoutAndGoesOutWithTheNextRead) {
    Connection c;
    c.peer->limit_writes(0);
    c.send(client_frame(PING, "one"));
    ASSERT_TRUE(c.ws.read().has_value());
    auto flushed = c.ws.flush();
    ASSERT_FALSE(flushed.has_value());
    EXPECT_TRUE(flushed.error().is_timeout());
    // A read while the pong cannot leave still reads.
    c.send(client_frame(BINARY, "data"));
    auto m = c.ws.read();
    ASSERT_TRUE(m.has_value()) << m.error().text();
    EXPECT_EQ(m->kind, MessageKind::Binary);
    c.peer->limit_writes(std::nullopt);
    auto idle = c.ws.read();  // nothing to read, but the pong goes out
    ASSERT_FALSE(idle.has_value());
    EXPECT_TRUE(idle.error().is_timeout());
    const auto frames = c.frames_written();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].opcode, PONG);
    EXPECT_EQ(frames[0].text(), "one");
}

}  // namespace
