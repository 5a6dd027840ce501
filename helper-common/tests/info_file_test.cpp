#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "info_file.hpp"
#include "os/fs.hpp"
#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string read(const std::string& path) { return os::read_file(path).value_or("<missing>"); }

TEST(InfoFile, TextIsOneLineOfJsonInFixedOrder) {
    EXPECT_EQ(common::format_info_json(54321, "abcdefghijklmnop", 4242),
              R"({"port":54321,"token":"abcdefghijklmnop","pid":4242})");
    EXPECT_EQ(common::format_info_json(0, "A-_b", 4294967295u), R"({"port":0,"token":"A-_b","pid":4294967295})");
}

TEST(InfoFile, ParseReadsBackWhatFormatWrites) {
    const common::InfoFields cases[] = {
        {54321, "abcdefghijklmnop", 4242},
        {0, std::string(128, '-'), 4294967295u},
        {65535, "A-_b0123456789xyz", 0},
    };
    for (const auto& c : cases) {
        const auto parsed = common::parse_info_json(common::format_info_json(c.port, c.token, c.pid));
        ASSERT_TRUE(parsed.has_value()) << c.token;
        EXPECT_EQ(parsed->port, c.port);
        EXPECT_EQ(parsed->token, c.token);
        EXPECT_EQ(parsed->pid, c.pid);
    }
}

TEST(InfoFile, ParseNamesTheFirstPieceThatIsNotAsWritten) {
    using common::InfoTextError;
    const std::string token = "abcdefghijklmnop";
    const struct {
        std::string text;
        InfoTextError error;
    } cases[] = {
        {"", InfoTextError::Layout},
        {R"({"port": 1,"token":")" + token + R"(","pid":2})", InfoTextError::Port},
        {R"({"port":01,"token":")" + token + R"(","pid":2})", InfoTextError::Port},
        {R"({"port":65536,"token":")" + token + R"(","pid":2})", InfoTextError::Port},
        {R"({"port":-1,"token":")" + token + R"(","pid":2})", InfoTextError::Port},
        {R"({"port":1,"pid":2,"token":")" + token + R"("})", InfoTextError::Layout},
        {R"({"port":1,"token":"short","pid":2})", InfoTextError::Token},
        {R"({"port":1,"token":"abcdefghijklmno"","pid":2})", InfoTextError::Token},
        {R"({"port":1,"token":")" + token, InfoTextError::Layout},
        {R"({"port":1,"token":")" + token + R"(","pid":4294967296})", InfoTextError::Pid},
        {R"({"port":1,"token":")" + token + R"(","pid":})", InfoTextError::Pid},
        {R"({"port":1,"token":")" + token + R"(","pid":2}
)", InfoTextError::Layout},
        {R"({"port":1,"token":")" + token + R"(","pid":2)", InfoTextError::Layout},
    };
    for (const auto& c : cases) {
        const auto parsed = common::parse_info_json(c.text);
        ASSERT_FALSE(parsed.has_value()) << c.text;
        EXPECT_EQ(parsed.error(), c.error) << c.text;
    }
}

TEST(InfoFile, TemporaryPathReplacesTheExtension) {
    const std::string sep(1, os::PATH_SEPARATOR);
    const struct {
        std::string info;
        std::string temporary;
    } cases[] = {
        {"audio.json", "audio.json.tmp"},
        {"info.txt", "info.json.tmp"},
        {"info", "info.json.tmp"},
        {".hidden", ".hidden.json.tmp"},
        {"a.b.c", "a.b.json.tmp"},
        {"dir.d" + sep + "info", "dir.d" + sep + "info.json.tmp"},
        {"dir" + sep + "..", "dir" + sep + "...json.tmp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(common::temporary_path_for(c.info), c.temporary) << c.info;
    }
}

TEST(InfoFile, WriteCreatesMissingFoldersAndLeavesOnlyTheFile) {
    test_support::TempDir folder;
    const std::string path = os::join_path(os::join_path(folder.path(), "a"), "b" + std::string(1, os::PATH_SEPARATOR) + "info");
    ASSERT_TRUE(common::write_info_file(path, "{\"port\":1}").has_value());
    EXPECT_EQ(read(path), "{\"port\":1}");
    EXPECT_FALSE(os::path_exists(common::temporary_path_for(path)));
}

TEST(InfoFile, WriteReplacesAnExistingFileWhole) {
    test_support::TempDir folder;
    const std::string path = folder.file("audio.json");
    ASSERT_TRUE(common::write_info_file(path, std::string(500, 'x')).has_value());
    ASSERT_TRUE(common::write_info_file(path, "new").has_value());
    EXPECT_EQ(read(path), "new");
}

#ifndef _WIN32
TEST(InfoFile, FileAndTemporaryAreOwnerOnly) {
    test_support::TempDir folder;
    const std::string path = folder.file("audio.json");
    ASSERT_TRUE(common::write_info_file(path, "secret").has_value());
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}
#endif

// What a crashed instance or another user left at the temporary path neither
// blocks publishing nor is written through.
TEST(InfoFile, LeftoversAtTheTemporaryPathAreReplaced) {
    test_support::TempDir folder;
    const std::string path = folder.file("audio.json");
    const std::string temporary = common::temporary_path_for(path);
    const std::string text = common::format_info_json(1, "abcdefghijklmnop", 2);
    const struct {
        const char* what;
        std::function<bool()> plant;
    } cases[] = {
        {"a stale file", [&] { return os::write_private_file(temporary, std::string(1000, 's')).has_value(); }},
#ifndef _WIN32
        {"a link to a missing file",
         [&] {
             std::error_code error;
             fs::create_symlink(folder.file("nowhere"), temporary, error);
             return !error;
         }},
        {"a FIFO", [&] { return ::mkfifo(temporary.c_str(), 0600) == 0; }},
#endif
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.plant()) << c.what;
        auto written = common::write_info_file(path, text);
        ASSERT_TRUE(written.has_value()) << c.what << ": " << written.error().text();
        EXPECT_EQ(read(path), text) << c.what;
        EXPECT_FALSE(os::path_exists(temporary)) << c.what;
        EXPECT_FALSE(os::path_exists(folder.file("nowhere"))) << c.what << ": created through the link";
    }
}

// Two instances started together with one info path publish at the same
// moment: a reader sees a whole file of one of them at every read, and
// neither fails. Each writer publishes 200 times to make the overlap certain.
TEST(InfoFile, WritersSharingAPathTakeTurns) {
    test_support::TempDir folder;
    const std::string path = folder.file("audio.json");
    const std::string texts[] = {common::format_info_json(1111, "first-writer-token_0123", 1),
                                 common::format_info_json(2222, "second-writer-token_456", 2)};
    std::vector<test_support::ChildProcess> writers;
    for (const auto& text : texts) {
        auto child = test_support::ChildProcess::spawn(BRQ_WATCHED_PATH,
                                                  {"--write-info", path, "--text", text, "--rounds", "200"});
        ASSERT_TRUE(child) << child.error();
        writers.push_back(std::move(*child));
    }
    const auto running = [&] {
        bool any = false;
        for (auto& writer : writers) {
            any = !writer.wait_for(0ms).has_value() || any;
        }
        return any;
    };
    std::set<std::string> wrong;
    bool published = false;
    int reads = 0;
    const auto give_up = std::chrono::steady_clock::now() + 60s;
    while (running() && std::chrono::steady_clock::now() < give_up) {
        auto content = os::read_file(path);
        if (!content) {
            if (published) {
                wrong.insert("<read failed: " + content.error().text() + ">");
            }
            continue;
        }
        published = true;
        ++reads;
        if (*content != texts[0] && *content != texts[1]) {
            wrong.insert(*content);
        }
    }
    for (auto& writer : writers) {
        EXPECT_EQ(writer.wait_for(10s), std::optional<test_support::ExitStatus>(0))
            << "a writer failed, or was still writing 60 s after the start";
    }
    EXPECT_TRUE(wrong.empty()) << "after " << reads << " good reads: " << ::testing::PrintToString(wrong);
    const std::string last = read(path);
    EXPECT_TRUE(last == texts[0] || last == texts[1]) << last;
}

TEST(InfoFile, WriteFailureIsReportedWithTheSystemText) {
    test_support::TempDir folder;
    // A plain file where a folder is needed.
    ASSERT_TRUE(os::write_private_file(folder.file("blocker"), "x").has_value());
    auto written = common::write_info_file(os::join_path(folder.file("blocker"), "audio.json"), "{}");
    ASSERT_FALSE(written.has_value());
    EXPECT_NE(written.error().text().find("(os error "), std::string::npos) << written.error().text();
}

TEST(InfoFile, OwnershipIsTheTokenAsASubstringOfValidUtf8) {
    test_support::TempDir folder;
    const std::string path = folder.file("audio.json");
    const std::string token = "abcdefghijklmnop";
    EXPECT_FALSE(common::is_own_info_file(path, token)) << "missing file";
    ASSERT_TRUE(os::write_private_file(path, common::format_info_json(1, token, 2)).has_value());
    EXPECT_TRUE(common::is_own_info_file(path, token));
    EXPECT_FALSE(common::is_own_info_file(path, "ABCDEFGHIJKLMNOP")) << "case-sensitive";
    ASSERT_TRUE(os::write_private_file(path, "{\"token\":\"abcdefghijklmnop\xff\"}").has_value());
    EXPECT_FALSE(common::is_own_info_file(path, token)) << "not UTF-8";
    ASSERT_TRUE(os::write_private_file(path, "xx abcdefghijklmnop não").has_value());
    EXPECT_TRUE(common::is_own_info_file(path, token)) << "the JSON is not parsed";
    ASSERT_TRUE(os::write_private_file(path, common::format_info_json(1, token, 2) + std::string(8192, ' ')).has_value());
    EXPECT_FALSE(common::is_own_info_file(path, token)) << "far larger than any info text";
    EXPECT_FALSE(common::is_own_info_file(folder.path(), token)) << "a folder";
}

}  // namespace
