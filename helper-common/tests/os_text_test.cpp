// The portable text rules of the OS layer: what the wide Windows API hands
// over becomes UTF-8, messages lose their trailing blanks, codes show in hex.

#include <gtest/gtest.h>

#include <string>

#include "os/text.hpp"

namespace {

const std::string REPLACEMENT = "\xEF\xBF\xBD";

TEST(OsText, Utf16ToUtf8ReplacesUnpairedSurrogates) {
    struct Case {
        std::u16string input;
        std::string output;
    };
    const Case cases[] = {
        {u"ok", "ok"},
        {u"não", "n\xC3\xA3o"},
        {u"\u20AC", "\xE2\x82\xAC"},
        {u"\U0001F3A7", "\xF0\x9F\x8E\xA7"},
        {std::u16string{char16_t(0xD800), u'x'}, REPLACEMENT + "x"},                   // lone high
        {std::u16string{u'x', char16_t(0xDC00)}, "x" + REPLACEMENT},                   // lone low
        {std::u16string{char16_t(0xDBFF), char16_t(0xD800)}, REPLACEMENT + REPLACEMENT},  // two highs
        {std::u16string{char16_t(0xD83C)}, REPLACEMENT},                               // high at the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(os::utf16_to_utf8(c.input), c.output);
        if (c.output.find(REPLACEMENT) == std::string::npos) {
            EXPECT_EQ(os::utf8_to_utf16(c.output), c.input) << "round trip";
        }
    }
}

TEST(OsText, Utf8ToUtf16ReplacesEachMalformedSequence) {
    struct Case {
        std::string input;
        std::u16string output;
    };
    const Case cases[] = {
        {"\x80", u"\uFFFD"},                      // continuation without a lead
        {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong lead, then a stray continuation
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE2\x82", u"\uFFFD"},                  // truncated: its valid beginning is one sequence
        {"\xE2\x82x", u"\uFFFDx"},
        {"a\xFF" "b", u"a\uFFFDb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(os::utf8_to_utf16(c.input), c.output) << ::testing::PrintToString(c.input);
    }
}

TEST(OsText, TrimsTrailingWhiteSpaceOnly) {
    EXPECT_EQ(os::trim_trailing_blanks("  Falhou.\r\n\t\v\f "), "  Falhou.");
    EXPECT_EQ(os::trim_trailing_blanks("a\u00A0"), "a\u00A0");  // no-break space is not trimmed
    EXPECT_EQ(os::trim_trailing_blanks("\r\n"), "");
    EXPECT_EQ(os::trim_trailing_blanks("a\x08"), "a\x08");  // below U+0009
    EXPECT_EQ(os::trim_trailing_blanks("a\x0E"), "a\x0E");  // above U+000D
}

TEST(OsText, CodesShowAsUpperCaseHexOfFixedWidth) {
    EXPECT_EQ(os::hex_text(0, 8), "0x00000000");
    EXPECT_EQ(os::hex_text(0x80070005, 8), "0x80070005");
    EXPECT_EQ(os::hex_text(0x8889000a, 8), "0x8889000A");
    EXPECT_EQ(os::hex_text(0xdeadbeef, 8), "0xDEADBEEF");
    EXPECT_EQ(os::hex_text(0x7FF6A1B2C3D4, 16), "0x00007FF6A1B2C3D4");
}

TEST(OsText, MessageAndCodeOrCodeAlone) {
    EXPECT_EQ(os::message_with_code("Acesso negado.", "0x80070005"), "Acesso negado. (0x80070005)");
    EXPECT_EQ(os::message_with_code("", "os error 2"), "os error 2");
}

}  // namespace
