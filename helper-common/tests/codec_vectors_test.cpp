// Published vectors for the hashing and encoding pieces of the handshake,
// the UTF-8 validator and the frame header codec.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/base64.hpp"
#include "server/ws_frame.hpp"
#include "server/handshake.hpp"
#include "server/sha1.hpp"
#include "server/utf8.hpp"
#include "support/memory_stream.hpp"

namespace {

using server::Sha1;
using test_support::bytes_of;

std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += DIGITS[b >> 4];
        out += DIGITS[b & 15];
    }
    return out;
}

TEST(Sha1, MatchesFipsExamples) {
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        // 64 bytes: the padding needs a second block.
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex(server::sha1(bytes_of(c.input))), c.digest) << c.input;
    }
}

TEST(Sha1, HashesOneMillionAsFedInUnevenPieces) {
    Sha1 hash;
    const std::vector<std::uint8_t> piece(997, 'a');
    std::size_t left = 1'000'000;
    while (left > 0) {
        const std::size_t n = std::min(left, piece.size());
        hash.update(std::span(piece).first(n));
        left -= n;
    }
    EXPECT_EQ(hex(hash.finish()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Base64, EncodesAndDecodesRfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(server::base64_encode(bytes_of(plain)), encoded);
        const auto decoded = server::base64_decode(encoded);
        ASSERT_TRUE(decoded.has_value()) << encoded;
        EXPECT_EQ(*decoded, bytes_of(plain));
    }
}

TEST(Base64, RefusesNonCanonicalInput) {
    for (const char* text : {"Zg", "Zg=", "Z===", "Zh==", "Zm9=", "Zm9v\n", "Zm9-", "Zg==Zg==", "=Zm9", "Zm 9"}) {
        EXPECT_FALSE(server::base64_decode(text).has_value()) << text;
    }
}

TEST(AcceptValue, MatchesRfc6455Example) {
    EXPECT_EQ(server::websocket_accept_value("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

struct Utf8Case {
    std::string bytes;
    const char* error;  // nullptr: valid
};

TEST(Utf8Validator, JudgesWholeTexts) {
    const Utf8Case cases[] = {
        {"plain ascii", nullptr},
        {"n\xC3\xA3o \xE2\x82\xAC \xF0\x9F\x8E\xB5", nullptr},
        {"\xF4\x8F\xBF\xBF", nullptr},  // U+10FFFF
        {"\xED\x9F\xBF", nullptr},      // U+D7FF, just below the surrogates
        {"ab\x80", "invalid utf-8 sequence of 1 bytes from index 2"},
        {"\xC0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},        // overlong NUL
        {"x\xE0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 1"},   // overlong
        {"\xF0\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xED\xA0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},    // surrogate
        {"\xF4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"}, // above U+10FFFF
        {"\xF5\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
        {"\xE2\x82(", "invalid utf-8 sequence of 2 bytes from index 0"},
        {"ok\xF0\x9F\x8E", "incomplete utf-8 byte sequence from index 2"},
    };
    for (const auto& c : cases) {
        const auto result = server::validate_utf8(bytes_of(c.bytes));
        if (c.error == nullptr) {
            EXPECT_TRUE(result.has_value()) << c.bytes;
        } else {
            ASSERT_FALSE(result.has_value()) << c.bytes;
            EXPECT_EQ(result.error(), c.error);
        }
    }
}

TEST(Utf8Validator, GivesTheSameAnswerWhateverTheSplit) {
    const std::string texts[] = {"n\xC3\xA3o \xE2\x82\xAC \xF0\x9F\x8E\xB5!", "ab\xE2\x82(", "\xF0\x9F\x8E"};
    for (const std::string& text : texts) {
        const auto whole = server::validate_utf8(bytes_of(text));
        const auto bytes = bytes_of(text);
        for (std::size_t split = 0; split <= bytes.size(); ++split) {
            server::Utf8Validator v;
            auto first = v.feed(std::span(bytes).first(split));
            auto result = first ? v.feed(std::span(bytes).subspan(split)) : first;
            if (result) {
                result = v.finish();
            }
            EXPECT_EQ(result.has_value(), whole.has_value()) << "split " << split;
            if (!result && !whole) {
                EXPECT_EQ(result.error(), whole.error());
            }
        }
    }
}

TEST(WsFrameHeader, UsesTheShortestLengthForm) {
    const struct {
        std::uint64_t length;
        std::vector<std::uint8_t> header;
    } cases[] = {
        {0, {0x82, 0x00}},
        {125, {0x82, 125}},
        {126, {0x82, 126, 0x00, 126}},
        {1920, {0x82, 0x7E, 0x07, 0x80}},
        {65535, {0x82, 126, 0xFF, 0xFF}},
        {65536, {0x82, 127, 0, 0, 0, 0, 0, 1, 0, 0}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> out;
        server::append_frame_header(out, {.opcode = 2, .payload_length = c.length});
        EXPECT_EQ(out, c.header) << c.length;
        const auto parsed = server::parse_frame_header(out);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->header.payload_length, c.length);
        EXPECT_EQ(parsed->size, out.size());
        // Every shorter prefix asks for more bytes.
        for (std::size_t n = 0; n < out.size(); ++n) {
            EXPECT_FALSE(server::parse_frame_header(std::span(out).first(n)).has_value());
        }
    }
}

TEST(WsFrameHeader, MaskedHeaderCarriesEveryFlagAndItsKey) {
    const server::WsFrameHeader header{
        .fin = false, .reserved = 5, .opcode = 9, .masked = true, .mask = {1, 2, 3, 4}, .payload_length = 126};
    std::vector<std::uint8_t> out;
    server::append_frame_header(out, header);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x59, 0xFE, 0x00, 126, 1, 2, 3, 4}));
    const auto parsed = server::parse_frame_header(out);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->size, out.size());
    EXPECT_FALSE(parsed->header.fin);
    EXPECT_EQ(parsed->header.reserved, 5);
    EXPECT_EQ(parsed->header.mask, header.mask);
}

}  // namespace
