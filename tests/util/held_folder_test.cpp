// Folders the held-folder type made: the path check and the case-sensitivity flag.
#include "util/held_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/util/win_test_util.h"

namespace {

// A folder made new in C:\tmp and held, removed at the end.
class HeldFolderMadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "held-made-" + std::to_string(GetCurrentProcessId());
    path_ = "C:\\tmp\\" + name_;
    ASSERT_TRUE(root_.OpenDriveRoot('C'));
    ASSERT_EQ(tmp_.Open(root_, "tmp", true), HoldResult::kHeld);
    ASSERT_EQ(made_.MakeNew(tmp_, name_.c_str(), nullptr, FILE_WRITE_ATTRIBUTES), HoldResult::kHeld);
  }
  void TearDown() override {
    made_.Close();
    RemoveTree(path_);
  }
  std::string name_, path_;
  HeldFolder root_, tmp_, made_;
};

TEST_F(HeldFolderMadeTest, PathLeadsToTheHeldFolderOnly) {
  EXPECT_TRUE(made_.IsAt(path_.c_str()));
  EXPECT_FALSE(made_.IsAt("C:\\tmp"));
  WriteFileBytes(path_ + "\\f.txt", "f");
  EXPECT_FALSE(made_.IsAt((path_ + "\\f.txt").c_str()));
  EXPECT_FALSE(HeldFolder().IsAt(path_.c_str()));
}

// Wine's file systems carry no case-sensitivity flag: its answer lets the folder be used.
TEST_F(HeldFolderMadeTest, FolderWithoutTheCaseFlagIsAccepted) {
  EXPECT_TRUE(made_.ClearCaseSensitive());
}

}  // namespace
