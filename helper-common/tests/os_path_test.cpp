#include <gtest/gtest.h>

#include <string>

#include "os/fs.hpp"

namespace {

struct PathCase {
    const char* input;
    const char* parent;
    const char* name;
};

#ifdef _WIN32
constexpr PathCase PATH_CASES[] = {
    {"C:\\Users\\a\\audio.json", "C:\\Users\\a", "audio.json"},
    {"C:\\audio.json", "C:\\", "audio.json"},
    {"dir/sub\\file.txt", "dir/sub", "file.txt"},
    {"dir\\\\file", "dir", "file"},
    {"audio.log", "", "audio.log"},
    {"", "", ""},
};
#else
constexpr PathCase PATH_CASES[] = {
    {"/home/a/audio.json", "/home/a", "audio.json"},
    {"/audio.json", "/", "audio.json"},
    {"dir//file", "dir", "file"},
    {"dir\\file", "", "dir\\file"},  // a backslash is an ordinary character here
    {"audio.log", "", "audio.log"},
    {"", "", ""},
};
#endif

TEST(OsPath, ParentAndFileName) {
    for (const auto& c : PATH_CASES) {
        EXPECT_EQ(os::parent_path(c.input), c.parent) << c.input;
        EXPECT_EQ(os::file_name(c.input), c.name) << c.input;
    }
}

TEST(OsPath, JoinInsertsThePlatformSeparatorOnlyWhenNeeded) {
    const std::string sep(1, os::PATH_SEPARATOR);
    EXPECT_EQ(os::join_path("base", "name"), "base" + sep + "name");
    EXPECT_EQ(os::join_path("", "name"), "name");
    EXPECT_EQ(os::join_path("base/", "name"), "base/name");
    EXPECT_EQ(os::join_path("base\\", "name"), "base\\name");
}

TEST(OsPath, SeparatorsOfThePlatform) {
    EXPECT_TRUE(os::is_path_separator('/'));
    EXPECT_FALSE(os::is_path_separator('a'));
    EXPECT_FALSE(os::is_path_separator(':'));
#ifdef _WIN32
    EXPECT_EQ(os::PATH_SEPARATOR, '\\');
    EXPECT_TRUE(os::is_path_separator('\\'));
#else
    EXPECT_EQ(os::PATH_SEPARATOR, '/');
    EXPECT_FALSE(os::is_path_separator('\\'));
#endif
}

}  // namespace
