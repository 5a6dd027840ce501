#include <gtest/gtest.h>

#include <string>

#include "capture/activation_request.hpp"
#include "capture/com_error_text.hpp"

namespace audio::capture {
namespace {

TEST(HresultFromWin32, WrapsPositiveErrorNumbersOnly) {
    struct Case {
        std::uint32_t error;
        std::uint32_t code;
    };
    const Case cases[] = {
        {0, 0},
        {2, 0x80070002},
        {5, 0x80070005},
        {10060, 0x8007274C},
        {0x0001ABCD, 0x8007ABCD},  // only the low 16 bits are kept
        {0x80004005, 0x80004005},  // already an HRESULT (negative)
        {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hresult_from_win32(c.error), c.code) << c.error;
    }
}

TEST(ComErrorText, CodeTextHasEightUpperCaseDigits) {
    EXPECT_EQ(com_code_text(0), "0x00000000");
    EXPECT_EQ(com_code_text(0x80070005), "0x80070005");
    EXPECT_EQ(com_code_text(0x8889000a), "0x8889000A");
    EXPECT_EQ(com_code_text(0xdeadbeef), "0xDEADBEEF");
}

TEST(ComErrorText, MessageAndCodeOrCodeAlone) {
    EXPECT_EQ(compose_com_error_text("Acesso negado.", 0x80070005), "Acesso negado. (0x80070005)");
    EXPECT_EQ(compose_com_error_text("", 0x88890004), "0x88890004");
}

TEST(ComErrorText, TrimsTrailingWhiteSpaceOnly) {
    EXPECT_EQ(trim_trailing_space(u"  Falhou.\r\n\t\v\f "), u"  Falhou.");
    EXPECT_EQ(trim_trailing_space(u"a\u00A0"), u"a\u00A0");  // no-break space is not trimmed
    EXPECT_EQ(trim_trailing_space(u"\r\n"), u"");
    EXPECT_EQ(trim_trailing_space(u"a\x08"), u"a\x08");  // below U+0009
    EXPECT_EQ(trim_trailing_space(u"a\x0E"), u"a\x0E");  // above U+000D
}

TEST(ComErrorText, Utf16ToUtf8ReplacesUnpairedSurrogates) {
    struct Case {
        std::u16string input;
        std::string output;
    };
    const Case cases[] = {
        {u"ok", "ok"},
        {u"não", "n\xC3\xA3o"},
        {u"\u20AC", "\xE2\x82\xAC"},
        {u"\U0001F3A7", "\xF0\x9F\x8E\xA7"},
        {std::u16string{char16_t(0xD800), u'x'}, "\xEF\xBF\xBDx"},                  // lone high
        {std::u16string{u'x', char16_t(0xDC00)}, "x\xEF\xBF\xBD"},                  // lone low
        {std::u16string{char16_t(0xDBFF), char16_t(0xD800)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // two highs
        {std::u16string{char16_t(0xD83C)}, "\xEF\xBF\xBD"},                         // high at the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf16_to_utf8(c.input), c.output);
    }
}

TEST(ComErrorText, NtStatusCodesAreLookedUpInNtdllWithoutTheFacilityBit) {
    const auto nt = system_message_lookup(0xD0000022);
    EXPECT_TRUE(nt.from_ntdll);
    EXPECT_EQ(nt.message_id, 0xC0000022u);
    EXPECT_EQ(nt.flags, 0x1B00u);

    const auto plain = system_message_lookup(0x80070005);
    EXPECT_FALSE(plain.from_ntdll);
    EXPECT_EQ(plain.message_id, 0x80070005u);
    EXPECT_EQ(plain.flags, 0x1300u);
}

TEST(ActivationRequest, ModeIsTheCaptureModeWithItsLowBitFlipped) {
    const auto include = make_activation_request(CaptureMode::Include, 4242);
    EXPECT_EQ(include.activation_type, 1u);
    EXPECT_EQ(include.target_pid, 4242u);
    EXPECT_EQ(include.loopback_mode, 0u);  // include target process tree

    const auto exclude = make_activation_request(CaptureMode::Exclude, 31337);
    EXPECT_EQ(exclude.activation_type, 1u);
    EXPECT_EQ(exclude.target_pid, 31337u);
    EXPECT_EQ(exclude.loopback_mode, 1u);  // exclude target process tree
}

}  // namespace
}  // namespace audio::capture
