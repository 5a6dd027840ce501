#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "server/accept_policy.hpp"

namespace {

TEST(AcceptPolicy, OriginMustMatchExactly) {
    const std::vector<std::string> none;
    EXPECT_TRUE(server::origin_allowed("https://discord.com", none));
    for (const char* origin : {"https://discord.com/", "https://discord.com:443", "https://Discord.com",
                               "http://discord.com", "https://discord.com.evil", ""}) {
        EXPECT_FALSE(server::origin_allowed(origin, none)) << origin;
    }
    EXPECT_FALSE(server::origin_allowed(std::nullopt, none));

    const std::vector<std::string> extra{"http://localhost:3000"};
    EXPECT_TRUE(server::origin_allowed("http://localhost:3000", extra));
    EXPECT_TRUE(server::origin_allowed("https://discord.com", extra));
    EXPECT_FALSE(server::origin_allowed("http://localhost:3001", extra));
    EXPECT_FALSE(server::origin_allowed(std::nullopt, extra));

    const std::vector<std::string> any{"http://x", "*"};
    EXPECT_TRUE(server::origin_allowed("null", any));
    EXPECT_TRUE(server::origin_allowed(std::nullopt, any));
}

TEST(AcceptPolicy, HostNamesTheLoopbackAndThePort) {
    EXPECT_TRUE(server::host_allowed("127.0.0.1:8080", 8080));
    EXPECT_TRUE(server::host_allowed("localhost:8080", 8080));
    for (const char* host : {"localhost", "127.0.0.1", "LOCALHOST:8080", "localhost:08080", "[::1]:8080",
                             "127.0.0.1:8081", "localhost:8080 ", "127.0.0.01:8080"}) {
        EXPECT_FALSE(server::host_allowed(host, 8080)) << host;
    }
    EXPECT_FALSE(server::host_allowed(std::nullopt, 8080));
}

TEST(AcceptPolicy, TheFirstTPieceIsTheToken) {
    const std::string token = "Tok_en-0123456789";
    const std::pair<std::string, bool> cases[] = {
        {"/?t=" + token, true},
        {"/?x=1&t=" + token, true},
        {"/a/longer/path?t=" + token + "&x=1", true},
        {"/?t=" + token + "&t=wrong", true},
        {"/?t=wrong&t=" + token, false},
        {"/?T=" + token, false},
        {"/?tt=" + token, false},
        {"/?t=Tok%5Fen-0123456789", false},
        {"/?t=" + token + "x", false},
        {"/?t=" + token.substr(1), false},
        {"/?t=", false},
        {"/t=" + token, false},
        {"/", false},
        {"/??t=" + token, false},
    };
    for (const auto& [target, ok] : cases) {
        EXPECT_EQ(server::token_presented(target, token), ok) << target;
    }
}

TEST(AcceptPolicy, ChecksRunInOrderOriginHostToken) {
    using server::HandshakeRefusal;
    const std::vector<std::string> none;
    const auto check = [&](std::optional<std::string_view> origin, std::optional<std::string_view> host,
                           std::string_view target) {
        return server::check_client(origin, host, target, 9000, "tok", none);
    };
    EXPECT_EQ(check(std::nullopt, std::nullopt, "/"), HandshakeRefusal::Origin);
    EXPECT_EQ(check("https://discord.com", "localhost", "/"), HandshakeRefusal::Host);
    EXPECT_EQ(check("https://discord.com", "localhost:9000", "/?t=bad"), HandshakeRefusal::Token);
    EXPECT_EQ(check("https://discord.com", "localhost:9000", "/?t=tok"), std::nullopt);
    EXPECT_EQ(server::refusal_name(HandshakeRefusal::Token), "Token");
}

}  // namespace
