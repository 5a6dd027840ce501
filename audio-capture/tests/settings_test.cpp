#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings.hpp"
#include "token.hpp"

namespace {

using audio::parse_command_line;
using Args = std::vector<std::string>;

const std::string TOKEN = "abcdefghijklmnop";

std::string error_of(const Args& args) {
    auto parsed = parse_command_line(args);
    return parsed ? "<accepted>" : parsed.error();
}

TEST(CommandLine, ErrorTexts) {
    const struct {
        Args args;
        std::string error;
    } cases[] = {
        {{}, "--exclude-pid ou --include-pid é obrigatório"},
        {{"--verbose"}, "argumento desconhecido: --verbose"},
        {{"--token=abc"}, "argumento desconhecido: --token=abc"},
        {{"--TOKEN", TOKEN}, "argumento desconhecido: --TOKEN"},
        {{"-h"}, "argumento desconhecido: -h"},
        {{""}, "argumento desconhecido: "},
        {{"--token"}, "--token exige um valor"},
        {{"--include-pid", "1", "--idle-secs"}, "--idle-secs exige um valor"},
        {{"--idle-secs", "x", "--foo"}, "--idle-secs inválido"},
        {{"--include-pid", "-5"}, "PID inválido"},
        {{"--exclude-pid", "4294967296"}, "PID inválido"},
        {{"--include-pid", "10", "--exclude-pid", "20", "--token", TOKEN}, "--exclude-pid e --include-pid são mutuamente exclusivos"},
        {{"--include-pid", "10"}, "--token é obrigatório"},
        {{"--fake-source", "--token", TOKEN}, "--exclude-pid ou --include-pid é obrigatório"},
        {{"--include-pid", "1", "--token", "short"}, "token inválido (16 a 128 caracteres [A-Za-z0-9_-])"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(error_of(c.args), c.error) << ::testing::PrintToString(c.args);
    }
}

TEST(CommandLine, FirstScanErrorWinsOverLaterOnesAndOverFinalChecks) {
    EXPECT_EQ(error_of({"--foo", "--idle-secs", "x"}), "argumento desconhecido: --foo");
    EXPECT_EQ(error_of({"--include-pid", "x", "--idle-secs", "y"}), "PID inválido");
    EXPECT_EQ(error_of({"--token", "bad", "--bar"}), "argumento desconhecido: --bar") << "token checked only at the end";
}

TEST(CommandLine, IdleSecsNumbers) {
    const struct {
        std::string value;
        std::optional<std::uint64_t> secs;
    } cases[] = {
        {"+45", 45}, {"007", 7}, {"0", 0}, {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", std::nullopt}, {"99999999999999999999", std::nullopt},
        {"-1", std::nullopt}, {"", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt},
        {"30s", std::nullopt}, {" 30", std::nullopt}, {"++1", std::nullopt}, {"+-1", std::nullopt},
        {"１", std::nullopt},
    };
    for (const auto& c : cases) {
        auto parsed = parse_command_line(Args{"--idle-secs", c.value, "--include-pid", "1", "--token", TOKEN});
        if (c.secs) {
            ASSERT_TRUE(parsed.has_value()) << c.value << ": " << parsed.error();
            EXPECT_EQ(parsed->idle_secs, *c.secs) << c.value;
        } else {
            EXPECT_EQ((parsed ? std::string("<accepted>") : parsed.error()), "--idle-secs inválido") << c.value;
        }
    }
}

TEST(CommandLine, PidNumbers) {
    const struct {
        std::string value;
        std::optional<std::uint32_t> pid;
    } cases[] = {
        {"4294967295", 4294967295u}, {"0", 0}, {"+12", 12}, {"0012", 12},
        {"4294967296", std::nullopt}, {"-5", std::nullopt}, {"", std::nullopt}, {"1e3", std::nullopt},
    };
    for (const auto& c : cases) {
        auto parsed = parse_command_line(Args{"--token", TOKEN, "--exclude-pid", c.value});
        if (c.pid) {
            ASSERT_TRUE(parsed.has_value()) << c.value;
            EXPECT_EQ(parsed->target_pid, *c.pid);
        } else {
            EXPECT_EQ((parsed ? std::string("<accepted>") : parsed.error()), "PID inválido") << c.value;
        }
    }
}

TEST(CommandLine, ValidCommandLinesAndDefaults) {
    auto plain = parse_command_line(Args{"--include-pid", "10", "--token", TOKEN});
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->mode, CaptureMode::Include);
    EXPECT_EQ(plain->target_pid, 10u);
    EXPECT_EQ(plain->idle_secs, 30u);
    EXPECT_FALSE(plain->info_file.has_value());
    EXPECT_FALSE(plain->fake_source);
    EXPECT_EQ(plain->token, TOKEN);

    auto repeated = parse_command_line(Args{"--include-pid", "10", "--include-pid", "20", "--token", "x",
                                            "--token", TOKEN, "--info-file", "a", "--info-file", "",
                                            "--fake-source", "--idle-secs", "5", "--idle-secs", "6"});
    ASSERT_TRUE(repeated.has_value()) << repeated.error();
    EXPECT_EQ(repeated->target_pid, 20u) << "a later pid replaces the earlier";
    EXPECT_EQ(repeated->info_file, std::optional<std::string>(""));
    EXPECT_EQ(repeated->idle_secs, 6u);
    EXPECT_TRUE(repeated->fake_source);

    auto exclude = parse_command_line(Args{"--exclude-pid", "7", "--token", TOKEN});
    ASSERT_TRUE(exclude.has_value());
    EXPECT_EQ(exclude->mode, CaptureMode::Exclude);
    EXPECT_EQ(exclude->target_pid, 7u);
}

TEST(CommandLine, OptionValuesAreTakenUnchangedEvenWhenTheyLookLikeOptions) {
    // "--token --info-file" makes the text --info-file the token.
    auto parsed = parse_command_line(Args{"--include-pid", "1", "--info-file", "--token", "--token", "--info-file-is-long-enough"});
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ(parsed->info_file, std::optional<std::string>("--token"));
    EXPECT_EQ(parsed->token, "--info-file-is-long-enough");
    EXPECT_EQ(error_of({"--include-pid", "1", "--token", "--info-file"}),
              "token inválido (16 a 128 caracteres [A-Za-z0-9_-])");
}

}  // namespace
