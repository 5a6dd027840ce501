#include <gtest/gtest.h>

#include <string>

#include "data_folder.hpp"
#include "os/fs.hpp"
#include "support/scoped_env.hpp"
#include "support/temp_dir.hpp"

namespace {

class DataFolder : public ::testing::Test {
protected:
    test_support::TempDir base;
    test_support::ScopedEnv appdata{"APPDATA", base.path()};
    std::string new_folder = os::join_path(base.path(), "Brenquosta");
    std::string old_folder = os::join_path(base.path(), "discord-quorvel");
};

TEST_F(DataFolder, NewFolderWhenTheOldOneIsAbsentAndNothingIsCreated) {
    EXPECT_EQ(common::resolve_data_folder(), new_folder);
    EXPECT_FALSE(os::path_exists(new_folder));
}

TEST_F(DataFolder, OldFolderWhileItExistsWithoutTheMarker) {
    ASSERT_TRUE(os::create_directories(old_folder).has_value());
    EXPECT_EQ(common::resolve_data_folder(), old_folder);
    ASSERT_TRUE(os::create_directories(new_folder).has_value());
    EXPECT_EQ(common::resolve_data_folder(), old_folder) << "a new folder alone does not migrate";
}

TEST_F(DataFolder, MarkerOfAnyKindSelectsTheNewFolder) {
    ASSERT_TRUE(os::create_directories(old_folder).has_value());
    ASSERT_TRUE(os::create_directories(os::join_path(new_folder, ".migrated")).has_value());
    EXPECT_EQ(common::resolve_data_folder(), new_folder);
}

TEST_F(DataFolder, OldNameAsAPlainFileIsIgnored) {
    ASSERT_TRUE(os::write_private_file(old_folder, "").has_value());
    EXPECT_EQ(common::resolve_data_folder(), new_folder);
}

TEST(DataFolderWithoutBase, EmptyAppdataGivesRelativeFolders) {
    test_support::ScopedEnv appdata{"APPDATA", std::string()};
    EXPECT_EQ(common::resolve_data_folder(), "Brenquosta");
}

}  // namespace
