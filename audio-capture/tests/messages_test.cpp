#include <gtest/gtest.h>

#include <string>

#include "messages.hpp"

namespace audio {
namespace {

TEST(FormatMessage, IsTheExact97Bytes) {
    const std::string expected =
        R"({"type":"format","sampleRate":48000,"channels":2,"format":"s16le","frameMs":10,"frameBytes":1920})";
    ASSERT_EQ(expected.size(), 97u);
    EXPECT_EQ(format_message(), expected);
}

TEST(ErrorMessage, QuotesTheText) {
    struct Case {
        const char* name;
        std::string text;
        std::string payload;
    };
    const Case cases[] = {
        {"plain Portuguese with UTF-8", "a captura não iniciou a tempo",
         "{\"type\":\"error\",\"message\":\"a captura n\xC3\xA3o iniciou a tempo\"}"},
        {"quote, backslash, tab, line feed in order", "a\"b\\c\td\ne",
         R"({"type":"error","message":"a\"b\\c d e"})"},
        {"every C0 control becomes one blank", std::string("x\x01\x1F\r\0y", 6),
         R"({"type":"error","message":"x    y"})"},
        {"DEL, C1 and astral characters pass through", "\x7F \xC2\x85 \xF0\x9F\x8E\xA7 /",
         "{\"type\":\"error\",\"message\":\"\x7F \xC2\x85 \xF0\x9F\x8E\xA7 /\"}"},
        {"empty text", "", R"({"type":"error","message":""})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(error_message(c.text), c.payload);
    }
}

TEST(QuoteJsonText, NeverProducesEscapeLetters) {
    std::string all_controls;
    for (int c = 0; c < 0x20; ++c) {
        all_controls += static_cast<char>(c);
    }
    EXPECT_EQ(quote_json_text(all_controls), "\"" + std::string(0x20, ' ') + "\"");
    EXPECT_EQ(quote_json_text("\\\\\""), R"("\\\\\"")");
}

}  // namespace
}  // namespace audio
