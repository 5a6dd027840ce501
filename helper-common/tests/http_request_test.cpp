// The request-head parser and the pure accept policy.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/accept_policy.hpp"
#include "server/http_request.hpp"
#include "support/memory_stream.hpp"

namespace {

using server::HeadError;
using test_support::bytes_of;

const std::string GOOD_HEAD =
    "GET /chat?t=abc HTTP/1.1\r\nHost: 127.0.0.1:9\r\nX-Empty:\r\nX-Pad: \t spaced value \t\r\n\r\n";

TEST(RequestHead, ParsesACompleteHead) {
    const auto bytes = bytes_of(GOOD_HEAD + "trailing");
    const auto parsed = server::parse_request_head(bytes);
    ASSERT_TRUE(parsed.has_value());
    ASSERT_TRUE(parsed->has_value());
    const server::RequestHead& head = **parsed;
    EXPECT_EQ(head.method, "GET");
    EXPECT_EQ(head.target, "/chat?t=abc");
    EXPECT_EQ(head.minor_version, 1u);
    EXPECT_EQ(head.length, GOOD_HEAD.size());
    ASSERT_EQ(head.headers.size(), 3u);
    EXPECT_EQ(head.headers[1].value, "");
    EXPECT_EQ(head.headers[2].value, "spaced value");
    EXPECT_EQ(server::find_header(head, "HOST"), &head.headers[0]);
}

TEST(RequestHead, AcceptsBareLineFeedsAndLeadingEmptyLines) {
    const auto parsed = server::parse_request_head(bytes_of("\r\n\nGET / HTTP/1.0\nA: b\n\n"));
    ASSERT_TRUE(parsed.has_value() && parsed->has_value());
    EXPECT_EQ((*parsed)->minor_version, 0u);
}

TEST(RequestHead, EveryProperPrefixNeedsMoreBytes) {
    const auto bytes = bytes_of(GOOD_HEAD);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        const auto parsed = server::parse_request_head(std::span(bytes).first(n));
        ASSERT_TRUE(parsed.has_value()) << "prefix " << n;
        EXPECT_FALSE(parsed->has_value()) << "prefix " << n;
    }
}

TEST(RequestHead, NamesTheFirstError) {
    const struct {
        const char* head;
        HeadError error;
    } cases[] = {
        {"GE(T / HTTP/1.1\r\n\r\n", HeadError::Token},
        {" GET / HTTP/1.1\r\n\r\n", HeadError::Token},
        {"GET  / HTTP/1.1\r\n\r\n", HeadError::Token},
        {"GET /a\"b HTTP/1.1\r\n\r\n", HeadError::Token},
        {"GET / HTTP/2.0\r\n\r\n", HeadError::Version},
        {"GET / http/1.1\r\n\r\n", HeadError::Version},
        {"GET / HTTP/1.2\r\n\r\n", HeadError::Version},
        {"GET / HTTP/1.1 \r\n\r\n", HeadError::NewLine},
        {"GET / HTTP/1.1\rX\r\n", HeadError::NewLine},
        {"\rGET / HTTP/1.1\r\n\r\n", HeadError::NewLine},
        {"GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", HeadError::HeaderName},
        {"GET / HTTP/1.1\r\nName : x\r\n\r\n", HeadError::HeaderName},
        {"GET / HTTP/1.1\r\n folded: x\r\n\r\n", HeadError::HeaderName},
        {"GET / HTTP/1.1\r\n: x\r\n\r\n", HeadError::HeaderName},
        {"GET / HTTP/1.1\r\nA: x\x01y\r\n\r\n", HeadError::HeaderValue},
        {"GET / HTTP/1.1\r\nA: x\ry\r\n\r\n", HeadError::HeaderValue},
        {"GET / HTTP/1.1\r\nA: x\x7F\r\n\r\n", HeadError::HeaderValue},
        {"GET / HTTP/1.1\r\n\rX", HeadError::NewLine},
    };
    for (const auto& c : cases) {
        const auto bytes = bytes_of(c.head);
        const auto parsed = server::parse_request_head(bytes);
        ASSERT_FALSE(parsed.has_value()) << c.head;
        EXPECT_EQ(parsed.error(), c.error) << c.head;
    }
}

TEST(RequestHead, ReportsAnErrorBeforeTheHeadIsComplete) {
    const auto parsed = server::parse_request_head(bytes_of("GET / HTTP/1.1\r\nBad Name"));
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error(), HeadError::HeaderName);
}

TEST(RequestHead, Allows124HeadersAndNoMore) {
    auto head_with = [](std::size_t count) {
        std::string head = "GET / HTTP/1.1\r\n";
        for (std::size_t i = 0; i < count; ++i) {
            head += "H" + std::to_string(i) + ": v\r\n";
        }
        return head + "\r\n";
    };
    const auto ok = server::parse_request_head(bytes_of(head_with(124)));
    ASSERT_TRUE(ok.has_value() && ok->has_value());
    EXPECT_EQ((*ok)->headers.size(), 124u);
    const auto too_many = server::parse_request_head(bytes_of(head_with(125)));
    ASSERT_FALSE(too_many.has_value());
    EXPECT_EQ(too_many.error(), HeadError::TooManyHeaders);
    EXPECT_EQ(server::head_error_text(too_many.error()), "Too many headers");
}

TEST(RequestHead, VisibleValuesOnly) {
    const auto bytes = bytes_of("GET / HTTP/1.1\r\nOrigin: caf\xC3\xA9\r\nHost: a\tb\r\nHost: second\r\n\r\n");
    const auto parsed = server::parse_request_head(bytes);
    ASSERT_TRUE(parsed.has_value() && parsed->has_value());
    EXPECT_FALSE(server::visible_header_value(**parsed, "origin").has_value());
    EXPECT_EQ(server::visible_header_value(**parsed, "host"), "a\tb");  // the first Host counts
    EXPECT_FALSE(server::visible_header_value(**parsed, "Upgrade").has_value());
}

TEST(RequestTarget, ValidFormsAndTheirPathAndQuery) {
    const std::pair<const char*, const char*> cases[] = {
        {"/", "/"},
        {"/a/b?t=x&y=%41", "/a/b?t=x&y=%41"},
        {"/p?t=x#frag", "/p?t=x"},
        {"http://127.0.0.1:5/path?t=x", "/path?t=x"},
        {"ws://localhost:5?t=x", "?t=x"},
        {"https://h", "/"},
        {"*", "*"},
    };
    for (const auto& [target, path] : cases) {
        EXPECT_TRUE(server::is_valid_request_target(target)) << target;
        EXPECT_EQ(server::target_path_and_query(target), path) << target;
    }
    for (const char* bad : {"", "a/b", "/a{b}", "/a|b", "/a\\b", "/a^b", "/caf\xC3\xA9", "1http://h/"}) {
        EXPECT_FALSE(server::is_valid_request_target(bad)) << bad;
    }
}

}  // namespace
