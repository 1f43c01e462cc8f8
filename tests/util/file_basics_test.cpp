// The file basics on a real file system: the system drive, wildcard tests, pattern deletion.
#include "util/file_basics.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/util/win_test_util.h"
#include "util/system_info.h"
#include "util/wide_path.h"

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

// The drive of the system folder, not whatever the environment's SystemDrive says (a user sets
// it in HKCU\Environment for an elevated process too).
TEST(SystemDrive, LetterIsTheSystemFoldersNotTheEnvironments) {
  char sys[MAX_PATH];
  ASSERT_TRUE(GetSystemFolder(sys, sizeof sys));
  ASSERT_NE(sys[0], 'Q');
  ASSERT_TRUE(SetEnvironmentVariableA("SystemDrive", "Q:"));
  EXPECT_EQ(SystemDriveLetter(), sys[0]);
  SetEnvironmentVariableA("SystemDrive", "C:");
}

// A joined path of MAX_PATH characters has no room for its terminator: refused, and nothing
// is written; one character less fits.
TEST(WidePath, JoinOfMaxPathCharactersIsRefused) {
  struct {
    wchar_t dst[MAX_PATH];
    wchar_t guard[2];
  } out;
  wmemset(out.dst, L'x', MAX_PATH);
  out.guard[0] = out.guard[1] = L'G';
  std::wstring a = L"C:\\" + std::wstring(200, L'a');
  std::wstring b(MAX_PATH - a.size() - 1, L'b');
  EXPECT_FALSE(WideJoinPath(out.dst, a.c_str(), b.c_str()));
  EXPECT_EQ(out.dst[0], L'x');
  EXPECT_EQ(out.guard[0], L'G');
  b.pop_back();
  ASSERT_TRUE(WideJoinPath(out.dst, a.c_str(), b.c_str()));
  EXPECT_EQ(std::wstring(out.dst), a + L"\\" + b);
}

// Paths convert through the ANSI code page: an MSI beside Setup.exe in a folder named
// "Caf\xe9" (code page 1252) is the same folder in both forms.
TEST(WidePath, ConvertsThroughTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
  wchar_t wide[16];
  ASSERT_TRUE(AnsiToWide(wide, 16, "C:\\Caf\xe9"));
  EXPECT_EQ(std::wstring(wide), L"C:\\Caf\u00e9");
  char ansi[16];
  ASSERT_TRUE(WideToAnsi(ansi, sizeof ansi, L"C:\\Caf\u00e9"));
  EXPECT_EQ(std::string(ansi), "C:\\Caf\xe9");
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
