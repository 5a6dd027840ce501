#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "os/socket.hpp"

namespace {

using namespace std::chrono;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A connected pair over 127.0.0.1. Every transfer has a 5 s guard so that a
// broken socket fails the test instead of hanging it.
class OsSocket : public ::testing::Test {
protected:
    void SetUp() override {
        auto listener = os::Listener::bind_loopback(0, 8);
        ASSERT_TRUE(listener) << listener.error().text();
        auto port = listener->local_port();
        ASSERT_TRUE(port) << port.error().text();
        ASSERT_NE(*port, 0);
        port_ = *port;
        auto client = os::Socket::connect_loopback(port_);
        ASSERT_TRUE(client) << client.error().text();
        auto server = listener->accept();
        ASSERT_TRUE(server) << server.error().text();
        client_ = std::move(*client);
        server_ = std::move(*server);
        for (os::Socket* s : {&client_, &server_}) {
            ASSERT_TRUE(s->set_read_timeout(5s));
            ASSERT_TRUE(s->set_write_timeout(5s));
        }
    }

    void send_all(os::Socket& socket, const Bytes& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            auto sent = socket.write(std::span(data).subspan(done));
            ASSERT_TRUE(sent) << sent.error().text();
            ASSERT_GT(*sent, 0u);
            done += *sent;
        }
    }

    // Reads until `count` bytes arrived, whatever time-outs happen between.
    Bytes receive(os::Socket& socket, std::size_t count) {
        Bytes got;
        std::uint8_t buffer[65536];
        const auto guard = steady_clock::now() + 10s;
        while (got.size() < count && steady_clock::now() < guard) {
            auto n = socket.read(std::span(buffer, std::min(sizeof buffer, count - got.size())));
            if (!n) {
                EXPECT_TRUE(n.error().is_timeout()) << n.error().text();
                continue;
            }
            if (*n == 0) {
                break;
            }
            got.insert(got.end(), buffer, buffer + *n);
        }
        return got;
    }

    std::uint16_t port_ = 0;
    os::Socket client_;
    os::Socket server_;
};

TEST_F(OsSocket, LocalPortsOfBothEnds) {
    auto client_port = client_.local_port();
    ASSERT_TRUE(client_port) << client_port.error().text();
    EXPECT_NE(*client_port, 0);
    EXPECT_NE(*client_port, port_);
    EXPECT_EQ(server_.local_port(), port_) << "an accepted socket has the listener's port";
    EXPECT_TRUE(client_.set_nodelay(true));
}

TEST_F(OsSocket, OneMillisecondReadTimeoutIsKeptAndLosesNothing) {
    ASSERT_TRUE(server_.set_read_timeout(1ms));
    std::uint8_t buffer[16];
    std::vector<steady_clock::duration> took;
    for (int i = 0; i < 9; ++i) {
        const auto start = steady_clock::now();
        auto n = server_.read(buffer);
        took.push_back(steady_clock::now() - start);
        ASSERT_FALSE(n) << "nothing was sent";
        EXPECT_TRUE(n.error().is_timeout()) << n.error().text();
        EXPECT_EQ(n.error().code, os::timeout_error().code);
    }
    std::sort(took.begin(), took.end());
    EXPECT_GE(took.front(), 1ms) << "returned before the time-out";
    EXPECT_LT(took[took.size() / 2], 50ms) << "median of 9 reads";

    // Data sent after the time-outs arrives whole, also when it comes in parts.
    send_all(client_, bytes_of("abc"));
    auto n = server_.read(buffer);
    for (const auto guard = steady_clock::now() + 5s; !n && steady_clock::now() < guard;) {
        n = server_.read(buffer);
    }
    ASSERT_TRUE(n) << n.error().text();
    Bytes got(buffer, buffer + *n);
    Bytes rest = receive(server_, 3 - *n);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, bytes_of("abc"));

    Bytes big(200'000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i % 251);
    send_all(client_, big);
    EXPECT_EQ(receive(server_, big.size()), big);
}

TEST_F(OsSocket, WriteTimeoutWhenThePeerDoesNotReadLosesNothing) {
    ASSERT_TRUE(client_.set_write_timeout(100ms));
    // Stream position p carries byte p % 251, whatever the write sizes.
    Bytes pattern(65536 + 251);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i % 251);
    std::size_t total = 0;
    bool timed_out = false;
    while (!timed_out && total < (std::size_t{1} << 30)) {
        auto sent = client_.write(std::span(pattern).subspan(total % 251, 65536));
        if (!sent) {
            EXPECT_TRUE(sent.error().is_timeout()) << sent.error().text();
            timed_out = true;
        } else {
            ASSERT_GT(*sent, 0u);
            total += *sent;
        }
    }
    ASSERT_TRUE(timed_out) << "the buffers never filled up";

    // A stalled send is a time-out on every platform, and a deadline cuts the
    // wait short of a longer write time-out (reads alike).
    ASSERT_TRUE(client_.set_write_timeout(10s));
    const auto start = steady_clock::now();
    auto stalled = client_.write_before(std::span(pattern).subspan(total % 251, 65536), start + 100ms);
    for (; stalled; stalled = client_.write_before(std::span(pattern).subspan(total % 251, 65536), start + 100ms)) {
        total += *stalled;  // room the kernel found meanwhile
    }
    EXPECT_EQ(stalled.error().kind(), os::ErrorKind::TimedOut) << stalled.error().text();
    EXPECT_EQ(stalled.error().code, os::send_timeout_error().code);
    std::uint8_t byte = 0;
    auto idle = client_.read_before(std::span(&byte, 1), steady_clock::now() + 100ms);
    ASSERT_FALSE(idle);
    EXPECT_EQ(idle.error().code, os::timeout_error().code);
    EXPECT_LT(steady_clock::now() - start, 5s) << "the deadlines did not cut the 10 s and 5 s time-outs";

    Bytes got = receive(server_, total);
    ASSERT_EQ(got.size(), total);
    for (std::size_t i = 0; i < total; ++i) {
        ASSERT_EQ(got[i], i % 251) << "at byte " << i;
    }
}

TEST_F(OsSocket, WaitReadableAndPeerClose) {
    auto idle = server_.wait_readable(0ms);
    ASSERT_TRUE(idle);
    EXPECT_FALSE(*idle);
    send_all(client_, bytes_of("x"));
    auto ready = server_.wait_readable(5s);
    ASSERT_TRUE(ready);
    EXPECT_TRUE(*ready);
    EXPECT_EQ(receive(server_, 1), bytes_of("x"));

    client_.close();
    std::uint8_t buffer[4];
    EXPECT_EQ(server_.read(buffer), 0u) << "the peer's close reads as 0 bytes";
    // A closed socket refuses everything, with one error on each platform.
    const auto refused = client_.read(buffer);
    ASSERT_FALSE(refused);
    const auto refuses_alike = [&](const auto& result, const char* call) {
        ASSERT_FALSE(result) << call;
        EXPECT_EQ(result.error().code, refused.error().code) << call << ": " << result.error().text();
    };
    refuses_alike(client_.write(bytes_of("x")), "write");
    refuses_alike(client_.wait_readable(0ms), "wait_readable");
    refuses_alike(client_.set_read_timeout(1s), "set_read_timeout");
    refuses_alike(client_.local_port(), "local_port");
}

TEST_F(OsSocket, BindingAPortInUseFails) {
    auto listener = os::Listener::bind_loopback(0, 8);
    ASSERT_TRUE(listener);
    auto port = listener->local_port();
    ASSERT_TRUE(port);
    auto second = os::Listener::bind_loopback(*port, 8);
    ASSERT_FALSE(second);
    EXPECT_NE(second.error().code, 0);
    EXPECT_NE(second.error().text().find("os error "), std::string::npos) << second.error().text();
}

}  // namespace
