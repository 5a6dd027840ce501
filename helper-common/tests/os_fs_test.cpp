#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "os/fs.hpp"
#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

using test_support::read_whole_file;
using test_support::TempDir;

TEST(OsEnv, UndefinedIsNotEmpty) {
    EXPECT_EQ(os::get_env("BRQ_TEST_SURELY_UNDEFINED_42"), std::nullopt);
    test_support::ScopedEnv set("BRQ_TEST_DEFINED", "valor com espacos");
    EXPECT_EQ(os::get_env("BRQ_TEST_DEFINED"), "valor com espacos");
}

#ifdef _WIN32
// In-process, because the C runtime's _putenv_s cannot define an empty
// variable and takes narrow text.
TEST(OsEnv, WindowsEmptyLongAndUnpairedSurrogateValues) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"BRQ_TEST_EMPTY", L""));
    EXPECT_EQ(os::get_env("BRQ_TEST_EMPTY"), "");

    std::wstring long_value(5000, L'\x00E7');  // "ç" x 5000: beyond any first guess of the size
    ASSERT_TRUE(SetEnvironmentVariableW(L"BRQ_TEST_LONG", long_value.c_str()));
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += "\xC3\xA7";
    EXPECT_EQ(os::get_env("BRQ_TEST_LONG"), expected);

    ASSERT_TRUE(SetEnvironmentVariableW(L"BRQ_TEST_SURROGATE", L"a\xD800" L"b\xDC00\xD83D\xDE00"));
    EXPECT_EQ(os::get_env("BRQ_TEST_SURROGATE"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xF0\x9F\x98\x80");

    SetEnvironmentVariableW(L"BRQ_TEST_EMPTY", nullptr);
    SetEnvironmentVariableW(L"BRQ_TEST_LONG", nullptr);
    SetEnvironmentVariableW(L"BRQ_TEST_SURROGATE", nullptr);
}
#endif

TEST(OsFs, CreateDirectoriesMakesEveryLevelAndAcceptsExistingOnes) {
    TempDir dir;
    const std::string deep = os::join_path(os::join_path(dir.file("a"), "b"), "c");
    EXPECT_FALSE(os::path_exists(deep));
    ASSERT_TRUE(os::create_directories(deep));
    EXPECT_TRUE(os::is_directory(deep));
    EXPECT_TRUE(os::is_directory(dir.file("a")));
    EXPECT_TRUE(os::create_directories(deep)) << "already there";
    EXPECT_TRUE(os::create_directories(deep + "/")) << "trailing separator";
    // Both separators, on Windows too.
    const std::string mixed = dir.file("x") + "/y" + std::string(1, os::PATH_SEPARATOR) + "z";
    ASSERT_TRUE(os::create_directories(mixed));
    EXPECT_TRUE(os::is_directory(mixed));
}

TEST(OsFs, CreateDirectoriesFailsOnAFileInTheWay) {
    TempDir dir;
    ASSERT_TRUE(os::write_private_file(dir.file("plain"), "x"));
    auto made = os::create_directories(os::join_path(dir.file("plain"), "sub"));
    ASSERT_FALSE(made);
    EXPECT_NE(made.error().code, 0);
    EXPECT_FALSE(os::is_directory(dir.file("plain")));
    EXPECT_TRUE(os::path_exists(dir.file("plain")));
}

TEST(OsFs, AppendAddsAtTheEndAndCreatesTheFile) {
    TempDir dir;
    const std::string log = dir.file("audio.log");
    ASSERT_TRUE(os::append_to_file(log, "um\n"));
    ASSERT_TRUE(os::append_to_file(log, "dois\r\n"));
    ASSERT_TRUE(os::append_to_file(log, ""));
    EXPECT_EQ(read_whole_file(log), "um\ndois\r\n") << "bytes kept as given, no line-end translation";
    EXPECT_EQ(os::file_size(log), 9u);
}

TEST(OsFs, WritePrivateFileTruncatesAndReadFileGivesBytesBack) {
    TempDir dir;
    const std::string path = dir.file("info.json");
    ASSERT_TRUE(os::write_private_file(path, std::string(1000, 'x')));
    const std::string binary("a\0b\r\n\xFF", 6);
    ASSERT_TRUE(os::write_private_file(path, binary));
    EXPECT_EQ(os::read_file(path), binary);
    EXPECT_EQ(os::file_size(path), 6u);
#ifndef _WIN32
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
}

TEST(OsFs, ReplaceFileReplacesAnExistingTarget) {
    TempDir dir;
    const std::string target = dir.file("audio.json");
    const std::string temporary = dir.file("audio.json.tmp");
    ASSERT_TRUE(os::write_private_file(target, "velho, mais comprido"));
    ASSERT_TRUE(os::write_private_file(temporary, "novo"));
    auto replaced = os::replace_file(temporary, target);
    ASSERT_TRUE(replaced) << replaced.error().text();
    EXPECT_EQ(read_whole_file(target), "novo");
    EXPECT_FALSE(os::path_exists(temporary));

    // No target yet: a plain rename.
    ASSERT_TRUE(os::write_private_file(temporary, "outro"));
    ASSERT_TRUE(os::replace_file(temporary, dir.file("fresh.json")));
    EXPECT_EQ(read_whole_file(dir.file("fresh.json")), "outro");

    auto missing = os::replace_file(dir.file("missing"), target);
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().code, 0);
    EXPECT_EQ(read_whole_file(target), "novo") << "a failed replace leaves the target alone";
}

#ifdef _WIN32
// MoveFileExW refuses while another handle is open on the target; the rename
// on the source's handle then takes over. Wine implements neither, and
// answers the fallback with "invalid parameter".
TEST(OsFs, WindowsReplaceWhileTheTargetIsHeldOpen) {
    TempDir dir;
    const std::string target = dir.file("audio.json");
    const std::string temporary = dir.file("audio.json.tmp");
    ASSERT_TRUE(os::write_private_file(target, "velho"));
    ASSERT_TRUE(os::write_private_file(temporary, "novo"));
    const std::filesystem::path wide_target(std::u8string(target.begin(), target.end()));
    HANDLE held = CreateFileW(wide_target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto replaced = os::replace_file(temporary, target);
    CloseHandle(held);
    const bool under_wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (under_wine) {
        ASSERT_FALSE(replaced);
        EXPECT_EQ(replaced.error().code, ERROR_INVALID_PARAMETER) << "the fallback's error, not MoveFileExW's";
        EXPECT_EQ(read_whole_file(target), "velho");
    } else {
        ASSERT_TRUE(replaced) << replaced.error().text();
        EXPECT_EQ(read_whole_file(target), "novo");
    }
}

// Malformed UTF-8 cannot name a file; it becomes U+FFFD on the way to UTF-16.
TEST(OsFs, WindowsMalformedUtf8BecomesReplacementCharacters) {
    TempDir dir;
    ASSERT_TRUE(os::write_private_file(os::join_path(dir.path(), "bad\xFF\xC3.txt"), "x"));
    EXPECT_TRUE(os::path_exists(os::join_path(dir.path(), "bad\xEF\xBF\xBD\xEF\xBF\xBD.txt")));
}
#endif

TEST(OsFs, ErrorsOfMissingFiles) {
    TempDir dir;
    const std::string missing = dir.file("missing");
    EXPECT_FALSE(os::read_file(missing));
    EXPECT_FALSE(os::file_size(missing));
    EXPECT_FALSE(os::remove_file(missing));
    EXPECT_FALSE(os::path_exists(missing));
    EXPECT_FALSE(os::is_directory(missing));
    EXPECT_FALSE(os::append_to_file(os::join_path(missing, "x.log"), "x")) << "parent folder missing";

    ASSERT_TRUE(os::write_private_file(missing, "x"));
    EXPECT_TRUE(os::remove_file(missing));
    EXPECT_FALSE(os::path_exists(missing));
}

TEST(OsFs, NonAsciiNamesReachTheFileSystemAsUnicode) {
    TempDir dir;
    // Read back through the standard library, so a wrong conversion (say, to
    // the ANSI code page) would show up as a missing file.
    const std::string folder = dir.file("pasta-ação");
    const std::string path = os::join_path(folder, "€-😀.txt");
    ASSERT_TRUE(os::create_directories(folder));
    ASSERT_TRUE(os::write_private_file(path, "conteúdo"));
    EXPECT_EQ(read_whole_file(path), "conteúdo");
    EXPECT_TRUE(os::path_exists(path));
    EXPECT_TRUE(os::is_directory(folder));
    EXPECT_EQ(os::read_file(path), "conteúdo");
}

}  // namespace
