// The working folder under <system drive>:\tmp: its path, the clearing of an existing one,
// and the owner and protected DACL it is given.
#include "package/work_folder.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "tests/util/link_test_util.h"
#include "tests/util/win_test_util.h"
#include "util/folders.h"

namespace {

const char kWork[] = "C:\\tmp\\OlvanSetup0";

bool Exists(const std::string& p) { return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Security {
  bool read = false;
  bool isProtected = false;
  std::string owner;               // SID string
  std::vector<std::string> sids;   // one per ACE
  std::vector<DWORD> masks;
  std::vector<BYTE> types, flags;
};

Security ReadSecurity(const std::string& path) {
  Security s;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
    return s;
  s.read = true;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD rev = 0;
  GetSecurityDescriptorControl(sd, &control, &rev);
  s.isProtected = (control & SE_DACL_PROTECTED) != 0;
  char* text = nullptr;
  if (owner && ConvertSidToStringSidA(owner, &text)) {
    s.owner = text;
    LocalFree(text);
  }
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    s.types.push_back(ace->Header.AceType);
    s.flags.push_back(ace->Header.AceFlags);
    s.masks.push_back(ace->Mask);
    if (ConvertSidToStringSidA(&ace->SidStart, &text)) {
      s.sids.push_back(text);
      LocalFree(text);
    }
  }
  LocalFree(sd);
  return s;
}

void ExpectLockedDown(const std::string& path) {
  Security s = ReadSecurity(path);
  ASSERT_TRUE(s.read) << path;
  EXPECT_TRUE(s.isProtected) << path;
  EXPECT_EQ(s.owner, "S-1-5-32-544") << path;
  EXPECT_EQ(s.sids, (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544"})) << path;
  for (size_t i = 0; i < s.masks.size(); ++i) {
    EXPECT_EQ(s.types[i], ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(s.masks[i], static_cast<DWORD>(FILE_ALL_ACCESS)) << path;
    EXPECT_EQ(s.flags[i] & INHERITED_ACE, 0) << path;
  }
}

// Everyone may do everything, as in a folder an ordinary user made.
void OpenToEveryone(const std::string& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "O:WDD:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  PSID owner = nullptr;
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  EXPECT_EQ(SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION |
                                      OWNER_SECURITY_INFORMATION,
                                  owner, nullptr, dacl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(sd);
  Security s = ReadSecurity(path);
  EXPECT_FALSE(s.isProtected);
  EXPECT_EQ(s.owner, "S-1-1-0");
}

// Whether this system keeps a protected DACL set on a folder or a plain file. Wine 8
// accepts the calls but reads back its default descriptor.
bool DaclPersists(bool folder) {
  std::string p = TempFolder("dacl");
  if (!folder) {
    p += "\\probe.txt";
    WriteFileBytes(p, "p");
  }
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)", SDDL_REVISION_1,
                                                             &sd, nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  SetNamedSecurityInfoA(const_cast<char*>(p.c_str()), SE_FILE_OBJECT,
                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, dacl, nullptr);
  LocalFree(sd);
  return ReadSecurity(p).sids == std::vector<std::string>{"S-1-5-18"};
}

class WorkFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(utl_RemoveFolderTree(kWork)); }
  void TearDown() override { utl_RemoveFolderTree(kWork); }
};

TEST_F(WorkFolderTest, MadeUnderTheSystemDrivesTmpAndLockedDown) {
  char out[260] = "unchanged";
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  EXPECT_STREQ(out, kWork);
  EXPECT_TRUE(Exists(kWork));
  if (!DaclPersists(true)) GTEST_SKIP() << "this system does not keep folder DACLs";
  ExpectLockedDown(kWork);
}

TEST_F(WorkFolderTest, ExistingFolderLosesItsFilesKeepsItsSubFoldersAndIsLockedDown) {
  CreateDirectoryA("C:\\tmp", nullptr);
  CreateDirectoryA(kWork, nullptr);
  std::string w = kWork;
  CreateDirectoryA((w + "\\Qt").c_str(), nullptr);
  WriteFileBytes(w + "\\old.txt", "1");
  WriteFileBytes(w + "\\ro.txt", "2");
  SetFileAttributesA((w + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFileBytes(w + "\\Qt\\kept.dll", "3");
  bool dacls = DaclPersists(true);
  if (dacls) {
    OpenToEveryone(w);
    OpenToEveryone(w + "\\Qt");
  }

  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  EXPECT_STREQ(out, kWork);
  EXPECT_FALSE(Exists(w + "\\old.txt"));
  EXPECT_FALSE(Exists(w + "\\ro.txt"));
  EXPECT_EQ(ReadFileBytes(w + "\\Qt\\kept.dll"), "3");
  if (!dacls) GTEST_SKIP() << "this system does not keep DACLs: only the clearing was checked";
  ExpectLockedDown(w);
  ExpectLockedDown(w + "\\Qt");
  if (DaclPersists(false)) ExpectLockedDown(w + "\\Qt\\kept.dll");
}

TEST_F(WorkFolderTest, WithoutClearingFilesStay) {
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, FALSE), 1);
  WriteFileBytes(std::string(kWork) + "\\stay.txt", "s");
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, FALSE), 1);
  EXPECT_EQ(ReadFileBytes(std::string(kWork) + "\\stay.txt"), "s");
}

TEST_F(WorkFolderTest, TooSmallBufferFailsAndLeavesItUnchanged) {
  char out[18] = "unchanged";
  EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 0);
  EXPECT_STREQ(out, "unchanged");
  char fits[19];
  EXPECT_EQ(utl_GetTempWorkPath(fits, sizeof fits, "OlvanSetup", FALSE, TRUE), 1);
}

TEST_F(WorkFolderTest, TickSuffixGivesADecimalCount) {
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanTick", TRUE, TRUE), 1);
  std::string p = out;
  ASSERT_EQ(p.rfind("C:\\tmp\\OlvanTick", 0), 0u) << p;
  std::string digits = p.substr(strlen("C:\\tmp\\OlvanTick"));
  EXPECT_FALSE(digits.empty());
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << p;
  utl_RemoveFolderTree(out);
}

TEST_F(WorkFolderTest, LinkAtTheWorkingFolderIsNotFollowed) {
  std::string target = TempFolder("elsewhere");
  WriteFileBytes(target + "\\precious.txt", "p");
  CreateDirectoryA("C:\\tmp", nullptr);
  if (!MakeFolderLink(kWork, target))
    GTEST_SKIP() << "this system makes no folder links (the end-to-end tests plant one)";
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  DWORD a = GetFileAttributesA(kWork);
  EXPECT_EQ(a & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(ReadFileBytes(target + "\\precious.txt"), "p");
  if (DaclPersists(true)) ExpectLockedDown(kWork);
}

}  // namespace
