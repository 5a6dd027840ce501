#include <gtest/gtest.h>

#include <vector>

#include "process_watch.hpp"

namespace {

using audio::find_tree_root;
using Rows = std::vector<os::ProcessEntry>;

TEST(TreeRoot, ClimbsSameNamedAncestorsAndStopsAtAnotherName) {
    const Rows rows = {
        {"explorer.exe", 1, 0},
        {"Discord.exe", 10, 1},
        {"Discord.exe", 20, 10},
        {"Discord.exe", 30, 20},
    };
    EXPECT_EQ(find_tree_root(rows, 30), 10u);
    EXPECT_EQ(find_tree_root(rows, 10), 10u) << "parent runs another executable";
}

TEST(TreeRoot, FoldsOnlyAsciiLetterCase) {
    EXPECT_EQ(find_tree_root(Rows{{"DISCORD.EXE", 5, 0}, {"discord.exe", 6, 5}}, 6), 5u);
    // "É" and "é" differ outside ASCII and are different names.
    EXPECT_EQ(find_tree_root(Rows{{"\xC3\x89" "cran.exe", 5, 0}, {"\xC3\xA9" "cran.exe", 6, 5}}, 6), 6u);
    EXPECT_EQ(find_tree_root(Rows{{"a.exe", 5, 0}, {"a.exe ", 6, 5}}, 6), 6u) << "lengths differ";
}

TEST(TreeRoot, StopsAfterSixtyFourSteps) {
    Rows rows;
    // pid 100 is the top of 71 same-named processes; 170 is the bottom.
    for (std::uint32_t pid = 100; pid <= 170; ++pid) {
        rows.push_back({"app.exe", pid, pid - 1});
    }
    EXPECT_EQ(find_tree_root(rows, 170), 170u - 64);
    EXPECT_EQ(find_tree_root(rows, 164), 100u) << "exactly 64 steps reach the top";
}

TEST(TreeRoot, SelfParentMissingParentAndMissingPid) {
    EXPECT_EQ(find_tree_root(Rows{{"idle", 0, 0}, {"idle", 4, 0}}, 0), 0u);
    EXPECT_EQ(find_tree_root(Rows{{"idle", 0, 0}, {"idle", 4, 0}}, 4), 0u);
    EXPECT_EQ(find_tree_root(Rows{{"a.exe", 7, 99}}, 7), 7u);
    EXPECT_EQ(find_tree_root(Rows{{"a.exe", 7, 6}, {"a.exe", 6, 5}}, 12345), 12345u);
    EXPECT_EQ(find_tree_root(Rows{}, 12345), 12345u);
}

TEST(TreeRoot, ParentIsTheFirstRowWithItsPid) {
    // A reused pid: the first row decides, whatever its creation time.
    const Rows rows = {{"other.exe", 5, 0}, {"app.exe", 5, 0}, {"app.exe", 9, 5}};
    EXPECT_EQ(find_tree_root(rows, 9), 9u);
}

}  // namespace
