// The working folder under <system drive>:\tmp: its path, the replacing of whatever stood
// there, the owner and protected DACL it is given, and the check that it was not swapped.
#include "package/work_folder.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>

#include "package/carrier_hold.h"
#include "package/unpack.h"
#include "tests/package/package_craft.h"
#include "tests/util/link_test_util.h"
#include "tests/util/nt_recorder.h"
#include "tests/util/win_test_util.h"
#include "util/folders.h"
#include "util/handles.h"
#include "util/win_values.h"

namespace {

const char kWork[] = "C:\\tmp\\OlvanSetup0";

bool Exists(const std::string& p) {
  return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct Security {
  bool read = false;
  bool isProtected = false;
  std::string owner;              // SID string
  std::vector<std::string> sids;  // one per ACE
  std::vector<DWORD> masks;
  std::vector<BYTE> types, flags;
};

Security ReadSecurity(const std::string& path) {
  Security s;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &sd) != ERROR_SUCCESS)
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
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("O:WDD:(A;OICI;FA;;;WD)",
                                                                   SDDL_REVISION_1, &sd, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  PSID owner = nullptr;
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  EXPECT_EQ(
      SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
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
  std::string p = NewTempFolder("dacl");
  if (!folder) {
    p += "\\probe.txt";
    WriteFileBytes(p, "p");
  }
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)", SDDL_REVISION_1, &sd,
                                                            nullptr))
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

// Names in C:\tmp of folders moved aside from the working folder's name.
std::vector<std::string> Asides() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA("C:\\tmp\\*", &fd));
  if (find.Valid()) {
    do {
      if (strncmp(fd.cFileName, "OlvanSetup0.", 12) == 0) names.push_back(fd.cFileName);
    } while (FindNextFileA(find.Get(), &fd));
  }
  return names;
}

class WorkFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(utl_RemoveFolderTree(kWork)); }
  void TearDown() override {
    utl_ReleaseWorkFolder();
    utl_RemoveFolderTree(kWork);
  }
};

TEST_F(WorkFolderTest, MadeUnderTheSystemDrivesTmpAndLockedDown) {
  char out[260] = "unchanged";
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  EXPECT_STREQ(out, kWork);
  EXPECT_TRUE(Exists(kWork));
  if (!DaclPersists(true)) GTEST_SKIP() << "this system does not keep folder DACLs";
  ExpectLockedDown(kWork);
}

// The descriptor the create hands to Windows, recorded at the call (Wine keeps no DACL, so
// only this shows it here): a protected DACL of SYSTEM and Administrators with full
// control, inherited below, and no owner (set afterwards: naming one in the create fails
// for a token that may not assign it).
TEST_F(WorkFolderTest, CreateGivesTheWorkingFolderItsProtectedDacl) {
  NtRecorder rec;
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  std::vector<NtCreateCall> made;
  for (const auto& c : rec.creates)
    if (c.name == L"OlvanSetup0" && c.disposition == FILE_CREATE) made.push_back(c);
  ASSERT_EQ(made.size(), 1u);
  const NtCreateCall& c = made[0];
  EXPECT_EQ(c.options & FILE_DIRECTORY_FILE, static_cast<ULONG>(FILE_DIRECTORY_FILE));
  EXPECT_EQ(c.options & FILE_OPEN_REPARSE_POINT, static_cast<ULONG>(FILE_OPEN_REPARSE_POINT));
  EXPECT_EQ(c.share, static_cast<ULONG>(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(c.access & (WRITE_OWNER | FILE_WRITE_ATTRIBUTES),
            static_cast<ACCESS_MASK>(WRITE_OWNER | FILE_WRITE_ATTRIBUTES));
  ASSERT_TRUE(c.hasDescriptor);
  EXPECT_TRUE(c.control & SE_DACL_PROTECTED);
  EXPECT_TRUE(c.daclPresent);
  EXPECT_FALSE(c.hasOwner);
  EXPECT_FALSE(c.hasGroup);
  ASSERT_EQ(c.aces.size(), 2u);
  const char* sids[] = {"S-1-5-18", "S-1-5-32-544"};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(c.aces[i].sid, sids[i]);
    EXPECT_EQ(c.aces[i].type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(c.aces[i].mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(c.aces[i].flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  }
}

// The rights each open of the removal asks of Windows, recorded at the call: a read-only
// entry must be opened with FILE_WRITE_ATTRIBUTES to be cleared, and with DELETE to be
// deleted, a folder also with FILE_LIST_DIRECTORY to be emptied. Wine grants the clear and
// the deletion whatever the handle may do; Windows refuses them (error 5).
void ExpectRemovalOpensAskWhatTheyUse(const NtRecorder& rec) {
  const ACCESS_MASK file = DELETE | FILE_WRITE_ATTRIBUTES;
  const ACCESS_MASK folder = file | FILE_LIST_DIRECTORY;
  std::vector<std::wstring> opened;
  for (const auto& c : rec.creates) {
    if (c.disposition != FILE_OPEN || (c.access & DELETE) == 0) continue;
    opened.push_back(c.name);
    std::string name(c.name.begin(), c.name.end());
    if (c.options & FILE_NON_DIRECTORY_FILE) {
      EXPECT_EQ(c.access & file, file) << name;
    } else if (c.options & FILE_DIRECTORY_FILE) {
      EXPECT_EQ(c.access & folder, folder) << name;
    }
  }
  for (const wchar_t* name : {L"old.txt", L"ro.txt", L"x.dll", L"Qt", L"plugins"})
    EXPECT_NE(std::find(opened.begin(), opened.end(), name), opened.end())
        << std::string(name, name + wcslen(name)) << " not opened for deletion";
}

// Every open of a run that replaces an old working folder, by kind, and the information
// classes it sets and queries: what reaches Windows, which Wine does not check. The entries
// of the old folder are opened without following links and with the intent that lets an
// administrator open another account's locked entry; the folders held take part in sharing
// without delete sharing.
void ExpectWhatEachKindOfOpenAsks(const NtRecorder& rec) {
  using Seen = std::tuple<std::string, ULONG, ULONG, ULONG, ULONG>;
  std::set<Seen> seen;
  for (const NtCreateCall& c : rec.creates) {
    std::string who = c.name.empty()                        ? "listing"
                      : c.name.rfind(L"\\??\\", 0) == 0 ? "drive root"
                      : c.name == L"tmp"                    ? "tmp"
                      : c.name.rfind(L"OlvanSetup0", 0) == 0 ? "working folder"
                      : c.options & FILE_DIRECTORY_FILE     ? "sub-folder"
                                                            : "file";
    if (who == "working folder" && c.disposition == FILE_CREATE) who = "new working folder";
    seen.insert(Seen(who, c.access, c.share, c.disposition, c.options));
  }
  const ULONG hold = kHeldFolderAccess, folder = kFolderOptions, file = kFileOptions;
  const ULONG removal = DELETE | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const ULONG all = kShareAll, noDelete = kShareNoDelete;
  EXPECT_EQ(seen, (std::set<Seen>{
      {"drive root", hold, all, FILE_OPEN, folder},
      {"tmp", hold, noDelete, FILE_OPEN_IF, folder},
      {"listing", FILE_LIST_DIRECTORY | SYNCHRONIZE, all, FILE_OPEN, folder},
      {"working folder", removal | FILE_LIST_DIRECTORY, noDelete, FILE_OPEN,
       folder | FILE_OPEN_FOR_BACKUP_INTENT},
      {"sub-folder", removal | FILE_LIST_DIRECTORY, noDelete, FILE_OPEN,
       folder | FILE_OPEN_FOR_BACKUP_INTENT},
      {"file", removal, noDelete, FILE_OPEN, file | FILE_OPEN_FOR_BACKUP_INTENT},
      {"new working folder", hold | WRITE_OWNER | FILE_WRITE_ATTRIBUTES, noDelete, FILE_CREATE,
       folder},
  }));
  std::set<ULONG> setClasses, queryClasses;
  for (const NtInfoCall& c : rec.sets) setClasses.insert(c.infoClass);
  for (const NtInfoCall& c : rec.queries) queryClasses.insert(c.infoClass);
  EXPECT_EQ(setClasses, (std::set<ULONG>{win::kFileDispositionInformation, win::kFileRenameInformation,
                                          win::kFileDispositionInformationEx}));
  EXPECT_EQ(queryClasses, (std::set<ULONG>{win::kFileInternalInformation,
                                            win::kFileCaseSensitiveInformation}));
}

// Nothing found at the path is adopted: planted files at the top and in sub-folders, a
// read-only file and a plain file of that name all go, and a new folder is made.
TEST_F(WorkFolderTest, WhateverStandsThereIsReplacedByANewLockedDownFolder) {
  CreateDirectoryA("C:\\tmp", nullptr);
  CreateDirectoryA(kWork, nullptr);
  std::string w = kWork;
  CreateDirectoryA((w + "\\Qt").c_str(), nullptr);
  CreateDirectoryA((w + "\\Qt\\plugins").c_str(), nullptr);
  WriteFileBytes(w + "\\old.txt", "1");
  WriteFileBytes(w + "\\ro.txt", "2");
  SetFileAttributesA((w + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteFileBytes(w + "\\Qt\\plugins\\x.dll", "3");
  SetFileAttributesA((w + "\\Qt").c_str(), FILE_ATTRIBUTE_READONLY);
  if (DaclPersists(true)) OpenToEveryone(w);

  char out[260];
  {
    // On Windows the file is read-only alone and the folder keeps its read-only too: both
    // must be cleared before they can go.
    ReadOnlyAsWindowsKeepsIt readOnly({w + "\\ro.txt", w + "\\Qt"});
    NtRecorder rec;
    ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
    ExpectRemovalOpensAskWhatTheyUse(rec);
    ExpectWhatEachKindOfOpenAsks(rec);
    EXPECT_EQ(readOnly.StillReadOnly(), 0u);
    EXPECT_EQ(readOnly.refusedDeletions, 0);
  }
  EXPECT_STREQ(out, kWork);
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA((w + "\\*").c_str(), &fd);
  std::vector<std::string> left;
  if (find != INVALID_HANDLE_VALUE) {
    do left.push_back(fd.cFileName);
    while (FindNextFileA(find, &fd));
    FindClose(find);
  }
  EXPECT_EQ(left, (std::vector<std::string>{".", ".."}));
  // What was moved aside could be removed whole.
  EXPECT_EQ(Asides(), std::vector<std::string>{});

  utl_ReleaseWorkFolder();
  ASSERT_TRUE(RemoveDirectoryA(kWork));
  WriteFileBytes(kWork, "a plain file");
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, FALSE), 1);
  EXPECT_NE(GetFileAttributesA(kWork) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  if (DaclPersists(true)) ExpectLockedDown(w);
}

// The holds take part in sharing: another program's rename of C:\tmp or of the working
// folder is refused until they are released. The identity check answers for the folder
// held (a rename that bypasses share modes is the end-to-end tests' part).
TEST_F(WorkFolderTest, HoldsRefuseRenamesUntilReleased) {
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  EXPECT_TRUE(utl_IsWorkFolderIntact(kWork));
  EXPECT_FALSE(MoveFileA(kWork, "C:\\tmp\\renamed"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileA("C:\\tmp", "C:\\tmp-renamed"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  utl_ReleaseWorkFolder();
  EXPECT_FALSE(utl_IsWorkFolderIntact(kWork));
  ASSERT_TRUE(MoveFileA("C:\\tmp", "C:\\tmp-renamed"));
  EXPECT_TRUE(MoveFileA("C:\\tmp-renamed", "C:\\tmp"));
}

// Whether the process token has the named privilege enabled.
bool PrivilegeEnabled(const char* name) {
  UniqueHandle token;
  LUID luid;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()) ||
      !LookupPrivilegeValueA(nullptr, name, &luid))
    return false;
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buf(size);
  if (!GetTokenInformation(token.Get(), TokenPrivileges, buf.data(), size, &size)) return false;
  const TOKEN_PRIVILEGES* tp = reinterpret_cast<const TOKEN_PRIVILEGES*>(buf.data());
  for (DWORD i = 0; i < tp->PrivilegeCount; ++i)
    if (tp->Privileges[i].Luid.LowPart == luid.LowPart &&
        tp->Privileges[i].Luid.HighPart == luid.HighPart)
      return (tp->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  return false;
}

// The privileges the token shows while the remover works on a folder (read when it has
// counted the folder's entries).
bool g_backupOn, g_restoreOn, g_securityOn;
void NotePrivileges() {
  g_backupOn = PrivilegeEnabled("SeBackupPrivilege");
  g_restoreOn = PrivilegeEnabled("SeRestorePrivilege");
  g_securityOn = PrivilegeEnabled("SeSecurityPrivilege");
}

// The privileges that let the remover reach locked entries, backup (list and read) and
// restore (delete and rename), are on while it works and only then; no other is turned on.
TEST_F(WorkFolderTest, RemovalPrivilegesAreOnOnlyWhileItWorks) {
  ASSERT_FALSE(PrivilegeEnabled("SeBackupPrivilege"));
  ASSERT_FALSE(PrivilegeEnabled("SeRestorePrivilege"));
  ASSERT_FALSE(PrivilegeEnabled("SeSecurityPrivilege"));
  CreateDirectoryA("C:\\tmp", nullptr);
  CreateDirectoryA(kWork, nullptr);
  g_backupOn = g_restoreOn = g_securityOn = false;
  utl_SetPassMarginForTest(64, NotePrivileges);
  char out[260];
  int made = utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
  utl_SetPassMarginForTest(64, nullptr);
  ASSERT_EQ(made, 1);
  EXPECT_TRUE(g_backupOn);
  EXPECT_TRUE(g_restoreOn);
  EXPECT_FALSE(g_securityOn);
  EXPECT_FALSE(PrivilegeEnabled("SeBackupPrivilege"));
  EXPECT_FALSE(PrivilegeEnabled("SeRestorePrivilege"));
}

DWORD WINAPI FixedTick() { return 7; }

// An old folder that another program holds open (sharing delete) is emptied and moved
// aside: deleted in place, its name would stay until that program closes it.
TEST_F(WorkFolderTest, OldFolderHeldOpenElsewhereIsMovedAside) {
  CreateDirectoryA("C:\\tmp", nullptr);
  CreateDirectoryA(kWork, nullptr);
  WriteFileBytes(std::string(kWork) + "\\old.txt", "old");
  UniqueHandle other(CreateFileA(kWork, FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(other.Valid());
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  EXPECT_FALSE(Exists(std::string(kWork) + "\\old.txt"));
  other.Reset();
}

// Whether a deletion with POSIX semantics takes a file's name at once while another handle
// keeps it open (Windows 10 1709 and later on NTFS).
bool PosixDeletionWorks() {
  const char probe[] = "C:\\posix_probe.txt";
  WriteFileBytes(probe, "x");
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueHandle other(CreateFileA(probe, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
  UniqueHandle h(CreateFileA(probe, DELETE, share, nullptr, OPEN_EXISTING, 0, nullptr));
  typedef LONG(NTAPI * SetInfo)(HANDLE, void*, void*, ULONG, ULONG);
  SetInfo set = reinterpret_cast<SetInfo>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile"));
  ULONG flags = 0x3;  // delete, POSIX semantics
  ULONG_PTR io[2];
  bool gone = set != nullptr && h.Valid() && set(h.Get(), io, &flags, sizeof flags, 64) >= 0 &&
              !Exists(probe);
  h.Reset();
  other.Reset();
  DeleteFileA(probe);
  return gone;
}

DWORD WINAPI LetGoAfterASecond(void* handle) {
  Sleep(1000);
  return CloseHandle(handle);
}
DWORD WINAPI LetGoSoon(void* handle) {
  Sleep(300);
  return CloseHandle(handle);
}

// Makes the working folder while another program holds h, which letGo closes after a
// while: the run waits for it and leaves nothing aside.
void ExpectMadeOnceLetGo(HANDLE h, LPTHREAD_START_ROUTINE letGo) {
  HANDLE t = CreateThread(nullptr, 0, letGo, h, 0, nullptr);
  char out[260];
  EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  EXPECT_TRUE(Asides().empty());
}

// Removes the working folder's leftovers of an earlier case: the folders moved aside too.
void ClearTmp() {
  CreateDirectoryA("C:\\tmp", nullptr);
  for (const std::string& a : Asides()) utl_RemoveFolderTree(("C:\\tmp\\" + a).c_str());
}

// A file of the old folder that another program holds without delete sharing (a scanner)
// is waited for: let go after a second, the run goes on and nothing stays aside; never let
// go, the call gives up within about five seconds and says which entry and why.
TEST_F(WorkFolderTest, EntryHeldForAMomentIsWaitedForAndOneHeldForeverIsNamed) {
  CreateDirectoryA("C:\\tmp", nullptr);
  for (const std::string& a : Asides()) utl_RemoveFolderTree(("C:\\tmp\\" + a).c_str());
  CreateDirectoryA(kWork, nullptr);
  const std::string held = std::string(kWork) + "\\scanned.dll";
  WriteFileBytes(held, "x");
  HANDLE h = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HANDLE letGo = CreateThread(nullptr, 0, LetGoSoon, h, 0, nullptr);
  char out[260];
  // Tried again in short pauses: done soon after the let-go, not a long pause later.
  DWORD start = GetTickCount();
  EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  EXPECT_LT(GetTickCount() - start, 900u);
  WaitForSingleObject(letGo, INFINITE);
  CloseHandle(letGo);
  EXPECT_FALSE(Exists(held));
  EXPECT_TRUE(Asides().empty());
  utl_ReleaseWorkFolder();

  WriteFileBytes(held, "x");
  UniqueHandle forever(CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  DWORD t0 = GetTickCount();
  EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 0);
  EXPECT_LT(GetTickCount() - t0, 7000u);
  EXPECT_STREQ(utl_WorkFolderFailure(),
               "utl_GetTempWorkPath: scanned.dll below C:\\tmp could not be removed or moved "
               "aside, error 32 (another program holds it).");
  EXPECT_TRUE(Exists(held));
}

// A sub-folder held for a moment without delete sharing is waited for like a file: on
// Windows the old folder could not be moved aside while it is held (351 at once), so it must
// not count as something that stays.
TEST_F(WorkFolderTest, SubFolderHeldForAMomentIsWaitedFor) {
  ClearTmp();
  CreateDirectoryA(kWork, nullptr);
  const std::string sub = std::string(kWork) + "\\Qt";
  CreateDirectoryA(sub.c_str(), nullptr);
  WriteFileBytes(sub + "\\q.dll", "q");
  HANDLE h = CreateFileA(sub.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ExpectMadeOnceLetGo(h, LetGoAfterASecond);
  EXPECT_FALSE(Exists(sub));
}

// An entry held for a moment is waited for even when an entry listed after it stays for
// good (a read-only file with a second name elsewhere): the held one goes once let go, and
// only the one that stays is moved aside with the old folder. On Windows the folder could
// not be moved aside while the held entry is open beneath it.
TEST_F(WorkFolderTest, EntryHeldForAMomentIsWaitedForThoughALaterOneStays) {
  ClearTmp();
  CreateDirectoryA(kWork, nullptr);
  const std::string w = kWork;
  for (const char* n : {"a.dll", "b.dll"}) WriteFileBytes(w + "\\" + n, "x");
  std::vector<std::string> order;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA((w + "\\*").c_str(), &fd));
  ASSERT_TRUE(find.Valid());
  do {
    if (fd.cFileName[0] != '.') order.push_back(fd.cFileName);
  } while (FindNextFileA(find.Get(), &fd));
  find.Reset();
  ASSERT_EQ(order.size(), 2u);
  // The second listed becomes a second name of someone else's read-only file.
  const std::string victim = NewTempFolder("victim") + "\\precious.txt";
  WriteFileBytes(victim, "precious");
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(DeleteFileA((w + "\\" + order[1]).c_str()));
  ASSERT_TRUE(CreateHardLinkA((w + "\\" + order[1]).c_str(), victim.c_str(), nullptr));
  HANDLE h = CreateFileA((w + "\\" + order[0]).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HANDLE letGo = CreateThread(nullptr, 0, LetGoSoon, h, 0, nullptr);
  utl_SetAsideTickForTest(FixedTick);
  char out[260];
  int made = utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
  utl_SetAsideTickForTest(nullptr);
  WaitForSingleObject(letGo, INFINITE);
  CloseHandle(letGo);
  EXPECT_EQ(made, 1) << utl_WorkFolderFailure();
  EXPECT_EQ(Asides(), std::vector<std::string>{"OlvanSetup0.7-0"});
  EXPECT_FALSE(Exists("C:\\tmp\\OlvanSetup0.7-0\\" + order[0]));
  EXPECT_TRUE(Exists("C:\\tmp\\OlvanSetup0.7-0\\" + order[1]));
  EXPECT_EQ(ReadFileBytes(victim), "precious");
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
  utl_RemoveFolderTree("C:\\tmp\\OlvanSetup0.7-0");
}

// Of several entries that cannot be removed, the reason names the first the listing shows.
TEST_F(WorkFolderTest, ReasonNamesTheFirstEntryThatFailed) {
  ClearTmp();
  CreateDirectoryA(kWork, nullptr);
  std::vector<UniqueHandle> held;
  for (const char* n : {"a1.dll", "b2.dll", "c3.dll"}) {
    std::string p = std::string(kWork) + "\\" + n;
    WriteFileBytes(p, "x");
    held.emplace_back(CreateFileA(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr));
    ASSERT_TRUE(held.back().Valid());
  }
  std::string first;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA((std::string(kWork) + "\\*").c_str(), &fd));
  ASSERT_TRUE(find.Valid());
  do {
    if (fd.cFileName[0] != '.') first = fd.cFileName;
  } while (first.empty() && FindNextFileA(find.Get(), &fd));
  find.Reset();
  char out[260];
  EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 0);
  EXPECT_EQ(std::string(utl_WorkFolderFailure()),
            "utl_GetTempWorkPath: " + first +
                " below C:\\tmp could not be removed or moved aside, error 32 (another program "
                "holds it).");
}

// Where a deleted file keeps its name while another program has it open (no POSIX-semantics
// deletion; Wine), a file held for a moment with delete sharing is marked, stays listed
// until that program lets go, and is waited for like any held entry: the folder is then
// removed, not moved aside.
TEST_F(WorkFolderTest, FileMarkedButStillOpenElsewhereIsWaitedFor) {
  if (PosixDeletionWorks()) GTEST_SKIP() << "a deleted file's name goes at once here";
  ClearTmp();
  CreateDirectoryA(kWork, nullptr);
  const std::string held = std::string(kWork) + "\\indexed.txt";
  WriteFileBytes(held, "x");
  HANDLE h = CreateFileA(held.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ExpectMadeOnceLetGo(h, LetGoSoon);
  EXPECT_FALSE(Exists(held));
}

// A file another program holds open with delete sharing leaves the old folder at once (its
// name goes on deletion, not when that program closes it), so the folder is removed, not
// left aside.
TEST_F(WorkFolderTest, FileHeldOpenWithDeleteSharingLeavesTheFolderAtOnce) {
  if (!PosixDeletionWorks())
    GTEST_SKIP() << "the system keeps a deleted file's name while it is open (no POSIX-semantics "
                    "deletion): the old folder is waited for, then 351";
  CreateDirectoryA("C:\\tmp", nullptr);
  for (const std::string& a : Asides()) utl_RemoveFolderTree(("C:\\tmp\\" + a).c_str());
  CreateDirectoryA(kWork, nullptr);
  const std::string held = std::string(kWork) + "\\indexed.txt";
  WriteFileBytes(held, "x");
  UniqueHandle indexer(CreateFileA(held.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(indexer.Valid());
  char out[260];
  DWORD t0 = GetTickCount();
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  EXPECT_LT(GetTickCount() - t0, 2000u);
  EXPECT_FALSE(Exists(held));
  EXPECT_TRUE(Asides().empty());
}

// A tree deeper than the remover descends is moved aside whole, under a name nobody
// planted (a planted one is skipped, never replaced), and the run goes on.
TEST_F(WorkFolderTest, TreeDeeperThanTheLimitIsMovedAsideUnderAFreeName) {
  CreateDirectoryA("C:\\tmp", nullptr);
  std::string p = kWork;
  CreateDirectoryA(p.c_str(), nullptr);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(CreateDirectoryA((p += "\\d").c_str(), nullptr));
  WriteFileBytes(p + "\\deep.txt", "deep");
  CreateDirectoryA("C:\\tmp\\OlvanSetup0.7-0", nullptr);
  WriteFileBytes("C:\\tmp\\OlvanSetup0.7-0\\planted.txt", "planted");
  utl_SetAsideTickForTest(FixedTick);
  char out[260];
  int made;
  {
    // Each open of the old folder may delete or rename it (Wine renames through any handle).
    NtRecorder rec;
    made = utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
    int opens = 0;
    for (const NtCreateCall& c : rec.creates) {
      if (c.name != L"OlvanSetup0" || c.disposition != FILE_OPEN) continue;
      ++opens;
      EXPECT_EQ(c.access & DELETE, static_cast<ACCESS_MASK>(DELETE)) << std::hex << c.access;
    }
    EXPECT_GE(opens, 2);  // to empty it, then to move it aside
  }
  utl_SetAsideTickForTest(nullptr);
  ASSERT_EQ(made, 1);
  EXPECT_FALSE(Exists(std::string(kWork) + "\\d"));
  // The planted folder could be removed like any folder moved aside; the deep one stays.
  ASSERT_EQ(Asides(), std::vector<std::string>{"OlvanSetup0.7-1"});
  std::string aside = "C:\\tmp\\OlvanSetup0.7-1";
  EXPECT_EQ(ReadFileBytes(aside + p.substr(strlen(kWork)) + "\\deep.txt"), "deep");
  utl_RemoveFolderTree(aside.c_str());
}

// 16 levels, the working folder and 15 nested folders with a file in the last, are removed
// whole; a tree one level deeper stays aside.
TEST_F(WorkFolderTest, TreeOf16LevelsIsRemovedAndOneMoreStaysAside) {
  CreateDirectoryA("C:\\tmp", nullptr);
  char out[260];
  for (int levels : {16, 17}) {
    std::string p = kWork;
    ASSERT_TRUE(CreateDirectoryA(p.c_str(), nullptr));
    for (int i = 1; i < levels; ++i) ASSERT_TRUE(CreateDirectoryA((p += "\\d").c_str(), nullptr));
    WriteFileBytes(p + "\\deep.txt", "deep");
    utl_SetAsideTickForTest(FixedTick);
    int made = utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
    utl_SetAsideTickForTest(nullptr);
    ASSERT_EQ(made, 1);
    utl_ReleaseWorkFolder();
    ASSERT_TRUE(RemoveDirectoryA(kWork));
    EXPECT_EQ(Asides(), levels == 16 ? std::vector<std::string>{}
                                     : std::vector<std::string>{"OlvanSetup0.7-0"})
        << levels << " levels";
  }
  utl_RemoveFolderTree("C:\\tmp\\OlvanSetup0.7-0");
}

// Only names that a move aside gives are removed as such: "OlvanSetup0.7-1.keep",
// "OlvanSetup0_7-1" (no dot after the name) and names without digits on one side of the
// dash stay.
TEST_F(WorkFolderTest, NameWithTextAfterTheAsideFormStays) {
  CreateDirectoryA("C:\\tmp", nullptr);
  // Digits on both sides of the dash, nothing after them: only "OlvanSetup0.7-2" is an aside.
  const std::vector<std::string> kept = {"OlvanSetup0.-1", "OlvanSetup0.7-", "OlvanSetup0.7-1.keep"};
  for (const std::string& n : kept) {
    CreateDirectoryA(("C:\\tmp\\" + n).c_str(), nullptr);
    WriteFileBytes("C:\\tmp\\" + n + "\\f.txt", "f");
  }
  for (const char* n : {"C:\\tmp\\OlvanSetup0.7-2", "C:\\tmp\\OlvanSetup0_7-1"}) {
    CreateDirectoryA(n, nullptr);
    WriteFileBytes(std::string(n) + "\\f.txt", "f");
  }
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  std::vector<std::string> asides = Asides();
  std::sort(asides.begin(), asides.end());
  EXPECT_EQ(asides, kept);
  EXPECT_TRUE(Exists("C:\\tmp\\OlvanSetup0_7-1\\f.txt"));
  for (const std::string& n : kept) utl_RemoveFolderTree(("C:\\tmp\\" + n).c_str());
  utl_RemoveFolderTree("C:\\tmp\\OlvanSetup0_7-1");
}

// Someone else's read-only file (victim), with a second name planted in the old folder; the
// working folder is then made (tick 7).
int MakeOverHardLinkedReadOnlyFile(const std::string& victim) {
  CreateDirectoryA("C:\\tmp", nullptr);
  CreateDirectoryA(kWork, nullptr);
  WriteFileBytes(victim, "precious");
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_READONLY);
  if (!CreateHardLinkA((std::string(kWork) + "\\planted.txt").c_str(), victim.c_str(), nullptr))
    return -1;
  utl_SetAsideTickForTest(FixedTick);
  char out[260];
  int made = utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
  utl_SetAsideTickForTest(nullptr);
  return made;
}

// Someone else's read-only file with a second name in the old folder keeps its attribute.
TEST_F(WorkFolderTest, HardLinkedReadOnlyFileOfSomeoneElseKeepsItsAttribute) {
  std::string victim = NewTempFolder("victim") + "\\precious.txt";
  EXPECT_EQ(MakeOverHardLinkedReadOnlyFile(victim), 1);
  EXPECT_EQ(GetFileAttributesA(victim.c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ReadFileBytes(victim), "precious");
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
  utl_RemoveFolderTree("C:\\tmp\\OlvanSetup0.7-0");
}

// Nor is its planted name asked to be deleted: it is left as it is, the folder set aside.
TEST_F(WorkFolderTest, HardLinkedReadOnlyFileOfSomeoneElseIsNotAskedToGo) {
  std::string victim = NewTempFolder("victim") + "\\precious.txt";
  NtRecorder rec;
  ASSERT_EQ(MakeOverHardLinkedReadOnlyFile(victim), 1);
  EXPECT_EQ(rec.SetsOf(win::kFileDispositionInformationEx).size() +
                rec.SetsOf(win::kFileDispositionInformation).size(),
            0u);
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
  utl_RemoveFolderTree("C:\\tmp\\OlvanSetup0.7-0");
}

// Takes every name under which the old working folder could be moved aside (tick 7).
struct AsideNamesTaken {
  AsideNamesTaken() {
    for (int n = 0; n < 100; ++n) CreateDirectoryA(Name(n).c_str(), nullptr);
    utl_SetAsideTickForTest(FixedTick);
  }
  ~AsideNamesTaken() {
    utl_SetAsideTickForTest(nullptr);
    for (int n = 0; n < 100; ++n) RemoveDirectoryA(Name(n).c_str());
  }
  static std::string Name(int n) { return "C:\\tmp\\OlvanSetup0.7-" + std::to_string(n); }
};

// An entry whose deletion fails, in a folder that cannot be moved aside either, is named
// with the error of its own deletion: a file another program maps, and a read-only file
// with a second name elsewhere (someone else's, left untouched).
TEST_F(WorkFolderTest, EntryThatCannotBeDeletedIsNamedWithItsOwnError) {
  CreateDirectoryA("C:\\tmp", nullptr);
  for (const std::string& a : Asides()) utl_RemoveFolderTree(("C:\\tmp\\" + a).c_str());
  CreateDirectoryA(kWork, nullptr);
  const std::string mapped = std::string(kWork) + "\\mapped.dll";
  WriteFileBytes(mapped, "mapped");
  UniqueHandle file(CreateFileA(mapped.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  UniqueHandle mapping(CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  ASSERT_TRUE(mapping.Valid());
  char out[260];
  {
    AsideNamesTaken taken;
    EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 0);
  }
  EXPECT_STREQ(utl_WorkFolderFailure(),
               "utl_GetTempWorkPath: mapped.dll below C:\\tmp could not be removed or moved "
               "aside, error 5.");
  mapping.Reset();
  file.Reset();

  std::string victim = NewTempFolder("victim") + "\\precious.txt";
  WriteFileBytes(victim, "precious");
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(CreateHardLinkA((std::string(kWork) + "\\planted.txt").c_str(), victim.c_str(),
                              nullptr));
  {
    AsideNamesTaken taken;
    EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 0);
  }
  EXPECT_STREQ(utl_WorkFolderFailure(),
               "utl_GetTempWorkPath: planted.txt below C:\\tmp could not be removed or moved "
               "aside, error 5.");
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
}

int g_added;
// Adds one entry to C:\\tmp\\OlvanSetup0\\grows after each count, as a program that keeps
// adding names to its folder would.
void AddOne() {
  WriteFileBytes("C:\\tmp\\OlvanSetup0\\grows\\n" + std::to_string(++g_added), "n");
}

// Each pass visits at most the entries a folder held when it counted them, and the margin:
// with no margin, a folder one entry above its count stops every pass, and the call gives
// up within the 5 s between passes; a folder that does not grow is removed whole.
TEST_F(WorkFolderTest, PassStopsAtTheEntriesItCountedAndTheMargin) {
  CreateDirectoryA("C:\\tmp", nullptr);
  for (const std::string& a : Asides()) utl_RemoveFolderTree(("C:\\tmp\\" + a).c_str());
  CreateDirectoryA(kWork, nullptr);
  CreateDirectoryA("C:\\tmp\\OlvanSetup0\\grows", nullptr);
  for (int i = 0; i < 3; ++i) WriteFileBytes("C:\\tmp\\OlvanSetup0\\grows\\f" + std::to_string(i), "f");
  char out[260];
  g_added = 0;
  utl_SetPassMarginForTest(0, AddOne);
  DWORD t0 = GetTickCount();
  int made;
  {
    AsideNamesTaken taken;
    made = utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
  }
  utl_SetPassMarginForTest(64, nullptr);
  EXPECT_EQ(made, 0);
  EXPECT_LT(GetTickCount() - t0, 7000u);
  EXPECT_GT(g_added, 2);
  EXPECT_STREQ(utl_WorkFolderFailure(),
               "utl_GetTempWorkPath: grows below C:\\tmp could not be removed or moved aside, "
               "error 145.");

  utl_SetPassMarginForTest(0, nullptr);
  made = utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
  utl_SetPassMarginForTest(64, nullptr);
  EXPECT_EQ(made, 1);
  EXPECT_FALSE(Exists("C:\\tmp\\OlvanSetup0\\grows"));

  // The margin counts: one entry of margin takes a folder that grows by one entry after each
  // count, in one pass.
  CreateDirectoryA("C:\\tmp\\OlvanSetup0\\grows", nullptr);
  for (int i = 0; i < 3; ++i) WriteFileBytes("C:\\tmp\\OlvanSetup0\\grows\\f" + std::to_string(i), "f");
  g_added = 0;
  utl_SetPassMarginForTest(1, AddOne);
  made = utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
  utl_SetPassMarginForTest(64, nullptr);
  EXPECT_EQ(made, 1) << utl_WorkFolderFailure();
  EXPECT_FALSE(Exists("C:\\tmp\\OlvanSetup0\\grows"));
  EXPECT_TRUE(Asides().empty());
}

// An entry that another account made, owns and shut Administrators out of is removed
// through the backup and restore privileges, its security untouched.
TEST_F(WorkFolderTest, LockedEntryOfAnotherAccountIsRemoved) {
  if (!DaclPersists(true))
    GTEST_SKIP() << "this system neither keeps nor enforces DACLs (Wine): the take-over of a "
                    "locked entry cannot be reached";
  CreateDirectoryA("C:\\tmp", nullptr);
  CreateDirectoryA(kWork, nullptr);
  std::string locked = std::string(kWork) + "\\locked";
  CreateDirectoryA(locked.c_str(), nullptr);
  WriteFileBytes(locked + "\\x.dll", "x");
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "O:WDD:P(A;OICI;FA;;;WD)(D;OICI;FA;;;BA)", SDDL_REVISION_1, &sd, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  SetNamedSecurityInfoA(
      const_cast<char*>(locked.c_str()), SE_FILE_OBJECT,
      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
      owner, nullptr, dacl, nullptr);
  LocalFree(sd);
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  EXPECT_FALSE(Exists(locked));
}

// Under Wine the create makes the folder and then opens whatever stands at its name: a
// folder with content moved in between is what the handle gets. That moment is made
// deterministic here: when the create returns, the folder it made is moved off and a folder
// put in its place; the handle is swapped for one on the new folder, which holds a file, or
// kept on the one moved off, which the name no longer leads to (on Windows the create makes
// and opens in one step). Either way the run stops with 358 and adopts nothing.
TEST_F(WorkFolderTest, FolderSwappedAtTheCreateIs358) {
  const char made[] = "C:\\tmp\\OlvanSetup0.made";
  const std::string planted = std::string(kWork) + "\\planted.dll";
  for (bool handleOnTheNewFolder : {true, false}) {
    SCOPED_TRACE(handleOnTheNewFolder ? "with content" : "name leads elsewhere");
    ClearTmp();
    NtRecorder rec;
    rec.afterCreate = [&](const NtCreateCall& c, HANDLE* h) {
      if (c.name != L"OlvanSetup0" || c.disposition != FILE_CREATE) return;
      CloseHandle(*h);
      ASSERT_TRUE(MoveFileA(kWork, made));
      ASSERT_TRUE(CreateDirectoryA(kWork, nullptr));
      if (handleOnTheNewFolder) WriteFileBytes(planted, "planted");
      *h = CreateFileA(handleOnTheNewFolder ? kWork : made, c.access, c.share, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
    };
    char out[260] = "unchanged";
    DWORD err = 0;
    EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE, &err), 0);
    EXPECT_EQ(err, 358u);
    EXPECT_STREQ(utl_WorkFolderFailure(),
                 handleOnTheNewFolder
                     ? "utl_GetTempWorkPath: the working folder is not empty right after it is made."
                     : "utl_GetTempWorkPath: the working folder's name does not lead to the folder "
                       "made.");
    EXPECT_STREQ(out, "unchanged");
    if (handleOnTheNewFolder) {
      EXPECT_EQ(ReadFileBytes(planted), "planted");
    }
    utl_ReleaseWorkFolder();
    utl_RemoveFolderTree(kWork);
    EXPECT_TRUE(RemoveDirectoryA(made));
  }
}

// A folder link in the old working folder is opened for its deletion as a link, without
// following it, and with the intent that lets an administrator open an entry another
// account locked (Wine ignores that option; Windows would refuse the open without it);
// what it leads to keeps its files. The link comes from the Linux side, where Wine cannot
// make one; under Wine the handle shows the target, so the link itself stays.
TEST_F(WorkFolderTest, LinkInTheOldFolderIsOpenedForDeletionAsALink) {
  // Moved in whole: Wine's rename of a Linux link moves what it leads to.
  const std::string planted = "C:\\olvtest-wf\\OlvanSetup0";
  DWORD a = GetFileAttributesA((planted + "\\link").c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_REPARSE_POINT))
    GTEST_SKIP() << "the link in " << planted << " not made";
  ClearTmp();
  ASSERT_TRUE(MoveFileA(planted.c_str(), kWork));
  char out[260];
  std::vector<NtCreateCall> creates;
  {
    NtRecorder rec;
    utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE);
    creates = rec.creates;
  }
  bool opened = false;
  for (const NtCreateCall& c : creates) {
    if (c.name != L"link" || (c.access & DELETE) == 0) continue;
    opened = true;
    EXPECT_EQ(c.disposition, static_cast<ULONG>(FILE_OPEN));
    EXPECT_EQ(c.options & (FILE_OPEN_FOR_BACKUP_INTENT | FILE_OPEN_REPARSE_POINT),
              static_cast<ULONG>(FILE_OPEN_FOR_BACKUP_INTENT | FILE_OPEN_REPARSE_POINT));
  }
  EXPECT_TRUE(opened);
  EXPECT_EQ(ReadFileBytes("C:\\olvtest-wf\\target\\keep.txt"), "k\n");
  utl_ReleaseWorkFolder();
  ClearTmp();
}

// A working folder whose case-sensitivity flag is set and cannot be cleared (a system that
// knows the flag and refuses the change, answered through the NT recorder) is not used:
// names that differ only in case would then be different files in it.
TEST_F(WorkFolderTest, CaseFlagThatCannotBeClearedStopsTheRun) {
  ClearTmp();
  NtRecorder rec;
  rec.answerQuery = [](ULONG cls, void* buf, ULONG len, NTSTATUS* st) {
    if (cls != win::kFileCaseSensitiveInformation || len != sizeof(ULONG)) return false;
    const ULONG flags = win::kFileCsFlagCaseSensitiveDir;
    memcpy(buf, &flags, sizeof flags);
    *st = 0;
    return true;
  };
  rec.answerSet = [](ULONG cls, void*, ULONG, NTSTATUS* st) {
    if (cls != win::kFileCaseSensitiveInformation) return false;
    *st = static_cast<NTSTATUS>(0xC0000022L);  // STATUS_ACCESS_DENIED
    return true;
  };
  char out[260] = "unchanged";
  EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 0);
  EXPECT_STREQ(utl_WorkFolderFailure(),
               "utl_GetTempWorkPath: the case-sensitivity flag is set and cannot be cleared, "
               "error 5.");
  EXPECT_STREQ(out, "unchanged");
}

TEST_F(WorkFolderTest, TooSmallBufferFailsAndLeavesItUnchanged) {
  char out[18] = "unchanged";
  EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 0);
  EXPECT_STREQ(out, "unchanged");
  EXPECT_STREQ(utl_WorkFolderFailure(),
               "utl_GetTempWorkPath: the working folder's path does not fit.");
  char fits[19];
  EXPECT_EQ(utl_GetTempWorkPath(fits, sizeof fits, "OlvanSetup", FALSE, TRUE), 1);
}

// C:\tmp that another program keeps to itself cannot be held: the run stops and says so,
// with the system's error.
TEST_F(WorkFolderTest, TmpHeldWithoutSharingStopsTheRunWithItsError) {
  CreateDirectoryA("C:\\tmp", nullptr);
  UniqueHandle tmp(CreateFileA("C:\\tmp", FILE_LIST_DIRECTORY, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(tmp.Valid());
  char out[260] = "unchanged";
  EXPECT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 0);
  EXPECT_STREQ(utl_WorkFolderFailure(),
               "utl_GetTempWorkPath: C:\\tmp cannot be opened or made, error 32.");
  EXPECT_STREQ(out, "unchanged");
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
  std::string target = NewTempFolder("elsewhere");
  WriteFileBytes(target + "\\precious.txt", "p");
  CreateDirectoryA("C:\\tmp", nullptr);
  if (!MakeFolderLink(kWork, target))
    GTEST_SKIP() << "this system makes no folder links (the end-to-end tests plant one)";
  char out[260];
  ASSERT_EQ(utl_GetTempWorkPath(out, sizeof out, "OlvanSetup", FALSE, TRUE), 1);
  utl_ReleaseWorkFolder();
  DWORD a = GetFileAttributesA(kWork);
  EXPECT_EQ(a & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(ReadFileBytes(target + "\\precious.txt"), "p");
  if (DaclPersists(true)) ExpectLockedDown(kWork);
}

// The unpack reads only the carrier held since it was chosen: a file of the same content
// that the carrier's name might lead to later is refused (156). Holds last for the life of
// the process, so no other case of this program unpacks.
TEST(CarrierHoldTest, OnlyTheHeldCarrierIsUnpacked) {
  std::string dir = NewTempFolder("carrier"), out = dir + "\\out";
  CreateDirectoryA(out.c_str(), nullptr);
  std::string bytes = std::string(100, 'S') + Marker() + Entry("a.txt", "a") + EndEntry();
  WriteFileBytes(dir + "\\held.bin", bytes);
  WriteFileBytes(dir + "\\other.bin", bytes);
  std::string held = dir + "\\held.bin";  // the test's folders are ASCII
  ASSERT_TRUE(utl_HoldCarrier(std::wstring(held.begin(), held.end()).c_str()));
  DWORD err = 0;
  EXPECT_EQ(utl_FileUnpack(dir.c_str(), "other.bin", out.c_str(), &err, 100), 0);
  EXPECT_EQ(err, 156u);
  EXPECT_FALSE(Exists(out + "\\a.txt"));
  EXPECT_EQ(utl_FileUnpack(dir.c_str(), "held.bin", out.c_str(), &err, 100), 1);
  EXPECT_EQ(ReadFileBytes(out + "\\a.txt"), "a");
}

}  // namespace
