// The file basics on a real file system: the system drive, wildcard tests, pattern deletion.
#include "util/file_basics.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/util/win_test_util.h"

namespace {

TEST(SystemDrive, BufferSizeIsChecked) {
  ClearLogFolder();
  char buf[261];
  EXPECT_FALSE(GetSystemDrive("probe", buf, 259));
  EXPECT_EQ(ReadLogMessages("stp_probe"), std::vector<std::string>{"the len in is too small"});
  ASSERT_TRUE(GetSystemDrive("probe", buf, 260));
  EXPECT_STREQ(buf, "C");
  ASSERT_TRUE(GetSystemDrive("probe", buf, 261));
  EXPECT_STREQ(buf, "C");
}

TEST(FileTests, WildcardsFilesAndFolders) {
  std::string dir = NewTempFolder("exists");
  WriteFileBytes(dir + "\\a.log", "x");
  CreateDirectoryA((dir + "\\sub.dir").c_str(), nullptr);
  EXPECT_TRUE(FileExists((dir + "\\*.log").c_str()));
  EXPECT_TRUE(FileExists((dir + "\\a.lo?").c_str()));
  EXPECT_FALSE(FileExists((dir + "\\sub.dir").c_str()));
  EXPECT_TRUE(DirectoryExists((dir + "\\sub.*").c_str()));
  EXPECT_FALSE(DirectoryExists((dir + "\\a.log").c_str()));
  EXPECT_FALSE(FileExists((dir + "\\missing").c_str()));
  DeleteMatchingFiles(dir.c_str(), "*.*");
  EXPECT_FALSE(FileExists((dir + "\\*").c_str()));
  EXPECT_TRUE(DirectoryExists((dir + "\\sub.dir").c_str()));
}

}  // namespace
