// HeldFolder itself: what it holds, lists, opens and names, on real folders under Wine; and
// folders it made: the path check and the case-sensitivity flag.
#include "util/held_folder.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/util/nt_recorder.h"
#include "tests/util/win_test_util.h"
#include "util/win_values.h"

namespace {

class HeldFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = NewTempFolder("olvheld");
    ASSERT_TRUE(Hold(dir_, &held_));
  }
  void TearDown() override {
    held_.Close();
    RemoveTree(dir_);
  }
  // Holds the folder at path ("C:\a\b"), one component after the other from the drive.
  static bool Hold(const std::string& path, HeldFolder* out) {
    std::vector<std::string> parts;
    for (size_t b = 3, e; b < path.size(); b = e + 1) {
      e = path.find('\\', b);
      if (e == std::string::npos) e = path.size();
      if (e > b) parts.push_back(path.substr(b, e - b));
    }
    HeldFolder a, b;
    HeldFolder *cur = &a, *next = &b;
    if (parts.empty() || !a.OpenDriveRoot(path[0])) return false;
    for (size_t i = 0; i < parts.size(); ++i) {
      HeldFolder* dst = i + 1 == parts.size() ? out : next;
      if (dst->Open(*cur, parts[i].c_str(), false) != HoldResult::kHeld) return false;
      std::swap(cur, next);
    }
    return true;
  }
  HeldEntry Listed(const char* name) {
    HeldEntry e{};
    EXPECT_TRUE(held_.Find(name, &e)) << name;
    return e;
  }

  std::string dir_;
  HeldFolder held_;
};

TEST_F(HeldFolderTest, MakeNewRefusesAFolderThatExists) {
  ASSERT_TRUE(CreateDirectoryA((dir_ + "\\there").c_str(), nullptr));
  HeldFolder f;
  EXPECT_EQ(f.MakeNew(held_, "there", nullptr), HoldResult::kFailed);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(f.Valid());
  EXPECT_EQ(f.MakeNew(held_, "new", nullptr), HoldResult::kHeld);
}

TEST_F(HeldFolderTest, ListingShowsANameOf255Characters) {
  const std::string name(255, 'n');
  UniqueHandle h(held_.OpenEntry(name.c_str(), GENERIC_WRITE, 0, FILE_CREATE,
                                 FILE_NON_DIRECTORY_FILE));
  ASSERT_TRUE(h.Valid()) << GetLastError();
  EXPECT_EQ(Listed(name.c_str()).nameChars, 255u);
}

// The listing leaves out "." and ".." only: a name of one or two characters that starts with
// a dot is an entry like any other, and a folder holding one is not empty.
TEST_F(HeldFolderTest, ListingShowsShortNamesThatStartWithADot) {
  EXPECT_TRUE(held_.IsEmpty());
  WriteFileBytes(dir_ + "\\.a", "a");
  EXPECT_FALSE(held_.IsEmpty());
  CreateDirectoryA((dir_ + "\\.b").c_str(), nullptr);
  std::vector<std::wstring> names;
  held_.List([&](const HeldEntry& e) {
    names.emplace_back(e.name, e.nameChars);
    return true;
  });
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L".a", L".b"}));
}

// The name the system gives an open entry must end in the listed name as a whole name:
// "b" is the end of "ab" but not its name.
TEST_F(HeldFolderTest, NamesEntryTakesTheWholeLastName) {
  ASSERT_TRUE(CreateDirectoryA((dir_ + "\\ab").c_str(), nullptr));
  HeldEntry e = Listed("ab");
  UniqueHandle h(held_.OpenListed(e, FILE_READ_ATTRIBUTES, FILE_DIRECTORY_FILE));
  ASSERT_TRUE(h.Valid());
  EXPECT_TRUE(held_.NamesEntry(h.Get(), e));
  HeldEntry tail = e;
  tail.name[0] = L'b';
  tail.nameChars = 1;
  EXPECT_FALSE(held_.NamesEntry(h.Get(), tail));
  HeldEntry other = e;
  other.name[1] = L'c';
  EXPECT_FALSE(held_.NamesEntry(h.Get(), other));
}

// A listed name that the ANSI code page cannot spell (an emoji is in none of them) has no
// ANSI name: a stand-in such as "?" could name another entry. Nor has one that it spells
// only by a look-alike (best fit: the fullwidth "\uFF4C" would become "l"), which could name
// another entry too, such as a log of last week.
TEST_F(HeldFolderTest, ListedNameTheCodePageCannotSpellHasNoAnsiName) {
  for (const std::wstring& name :
       {std::wstring(L"a\xD83D\xDE00"), std::wstring(L"\xFF4Cog.txt")}) {
    std::wstring path(dir_.begin(), dir_.end());
    UniqueHandle h(CreateFileW((path + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(h.Valid()) << GetLastError();
    HeldEntry e{};
    held_.List([&](const HeldEntry& l) {
      e = l;
      return false;
    });
    ASSERT_EQ(std::wstring(e.name, e.nameChars), name);
    char n[16] = "";
    EXPECT_FALSE(e.AnsiName(n, sizeof n)) << n;
    h.Reset();
    ASSERT_TRUE(DeleteFileW((path + L"\\" + name).c_str()));
  }
}

// C:\olvtest-held\link: a Linux symbolic link to the folder Dup beside it (the
// held_folder_made fixture), which Wine lists as a reparse point.
TEST_F(HeldFolderTest, OpenListedRefusesAnEntryListedAsALink) {
  HeldFolder parent;
  HeldEntry e{};
  if (!Hold("C:\\olvtest-held", &parent) || !parent.Find("link", &e))
    GTEST_SKIP() << "C:\\olvtest-held\\link not made";
  ASSERT_TRUE(e.IsLink());
  EXPECT_EQ(parent.OpenListed(e, FILE_READ_ATTRIBUTES, FILE_DIRECTORY_FILE), INVALID_HANDLE_VALUE);
  HeldFolder f;
  EXPECT_EQ(f.Open(parent, "link", false), HoldResult::kRefused);
}

// C:\olvtest-held\to-held: a Linux symbolic link to the folder held beside it (the
// held_folder_made fixture). Wine opens such a link, even without following it, as its target,
// with the target's identity: only the link seen at the path tells the two apart. A path
// through a link may be turned elsewhere at any time, so it is never the held folder.
TEST_F(HeldFolderTest, PathThroughALinkToTheHeldFolderIsNotIt) {
  HeldFolder parent, held;
  if (!Hold("C:\\olvtest-held", &parent) || held.Open(parent, "held", false) != HoldResult::kHeld ||
      !IsLink("C:\\olvtest-held\\to-held"))
    GTEST_SKIP() << "C:\\olvtest-held\\held and its link not made";
  EXPECT_TRUE(held.IsAt("C:\\olvtest-held\\held"));
  EXPECT_FALSE(held.IsAt("C:\\olvtest-held\\to-held"));
}

// On Windows the owner of a file can make it a reparse point in place (its file ID stays)
// between the listing and the open; Wine has no such call, and reports what every open
// handle leads to. A stand-in for that here: GetFileInformationByHandleEx, swapped in this
// program's import table, changes the attributes of every open handle's basic information
// (adds the reparse attribute, here).
using GetInfoFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
extern "C" GetInfoFn g_getInfoImport asm(OLVAN_IMPORT_SLOT(GetFileInformationByHandleEx, 16));
GetInfoFn g_realGetInfo;
DWORD g_addAttributes, g_dropAttributes;

BOOL WINAPI GetInfoChanged(HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID out, DWORD size) {
  BOOL ok = g_realGetInfo(h, c, out, size);
  if (ok && c == FileBasicInfo) {
    DWORD& a = static_cast<FILE_BASIC_INFO*>(out)->FileAttributes;
    a = (a | g_addAttributes) & ~g_dropAttributes;
  }
  return ok;
}

class BasicInfoSwap {
 public:
  BasicInfoSwap(DWORD add, DWORD drop) : swap_(&g_getInfoImport, GetInfoChanged) {
    g_realGetInfo = swap_.Real();
    g_addAttributes = add;
    g_dropAttributes = drop;
  }

 private:
  ImportSwap<GetInfoFn> swap_;
};

// An entry listed as a plain file whose open handle is a reparse point is not opened.
TEST_F(HeldFolderTest, OpenListedRefusesAnEntryThatOpensAsALink) {
  WriteFileBytes(dir_ + "\\plain.txt", "x");
  HeldEntry e = Listed("plain.txt");
  ASSERT_FALSE(e.IsLink());
  BasicInfoSwap swap(FILE_ATTRIBUTE_REPARSE_POINT, 0);
  UniqueHandle h(held_.OpenListed(e, FILE_READ_ATTRIBUTES, FILE_NON_DIRECTORY_FILE));
  EXPECT_FALSE(h.Valid());
}

// A folder is held only when the handle itself is a folder, whatever the listing shows at
// the name: the stand-in has every open handle read as a plain file while the listing shows
// a real folder with the handle's file ID. Found or made alike, nothing is held.
TEST_F(HeldFolderTest, HandleThatIsNoFolderIsNotHeld) {
  ASSERT_TRUE(CreateDirectoryA((dir_ + "\\there").c_str(), nullptr));
  {
    BasicInfoSwap swap(FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_DIRECTORY);
    HeldFolder found, made;
    EXPECT_EQ(found.Open(held_, "there", false), HoldResult::kRefused);
    EXPECT_FALSE(found.Valid());
    EXPECT_EQ(made.MakeNew(held_, "new", nullptr), HoldResult::kRefused);
    EXPECT_FALSE(made.Valid());
  }
  HeldFolder found;
  EXPECT_EQ(found.Open(held_, "there", false), HoldResult::kHeld);
}

// Two folders whose names differ only in case, made on the Linux side (tests/util's
// held_folder_made fixture): Wine opens the exact name, while the case-insensitive listing
// finds the other first. The handle then holds a folder that the listing does not show
// under that name.
TEST_F(HeldFolderTest, OpenRefusesAFolderWhoseListedIdIsAnother) {
  HeldFolder parent;
  if (!Hold("C:\\olvtest-held", &parent)) GTEST_SKIP() << "C:\\olvtest-held not made";
  std::string first;
  parent.List([&](const HeldEntry& e) {
    char n[8];
    if (e.AnsiName(n, sizeof n) && (std::string(n) == "Dup" || std::string(n) == "dup")) {
      first = n;
      return false;
    }
    return true;
  });
  if (first.empty()) GTEST_SKIP() << "no Dup and dup";
  HeldFolder f;
  EXPECT_EQ(f.Open(parent, first == "Dup" ? "dup" : "Dup", false), HoldResult::kRefused);
  EXPECT_EQ(f.Open(parent, first.c_str(), false), HoldResult::kHeld);
}

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

// A folder at the path that differs from the held one in a single part of its identity is
// another folder. NTFS keeps a record's sequence number in the high part of the file index:
// a folder removed and made again in the same record differs in that part alone. Wine's
// indexes come from inode numbers, so a stand-in here: GetFileInformationByHandle, swapped
// in this program's import table after the hold was taken, reports one part one up. And
// a path whose open shows a link (one swapped in after the path's own check; a Linux link's
// handle shows its target under Wine) is not the held folder either, whatever its identity.
using GetByHandleFn = BOOL(WINAPI*)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
extern "C" GetByHandleFn g_getByHandleImport asm(OLVAN_IMPORT_SLOT(GetFileInformationByHandle, 8));
GetByHandleFn g_realGetByHandle;
DWORD BY_HANDLE_FILE_INFORMATION::*g_bumped;
DWORD g_bump;

BOOL WINAPI GetByHandleBumped(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
  BOOL ok = g_realGetByHandle(h, info);
  if (ok) info->*g_bumped += g_bump;
  return ok;
}

TEST_F(HeldFolderMadeTest, PathToAFolderOfAnotherVolumeOrIndexIsNotTheHeldFolder) {
  const std::tuple<const char*, DWORD BY_HANDLE_FILE_INFORMATION::*, DWORD> parts[] = {
      {"volume", &BY_HANDLE_FILE_INFORMATION::dwVolumeSerialNumber, 1},
      {"index high", &BY_HANDLE_FILE_INFORMATION::nFileIndexHigh, 1},
      {"index low", &BY_HANDLE_FILE_INFORMATION::nFileIndexLow, 1},
      {"link", &BY_HANDLE_FILE_INFORMATION::dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT}};
  for (const auto& part : parts) {
    g_bumped = std::get<1>(part);
    g_bump = std::get<2>(part);
    ImportSwap<GetByHandleFn> swap(&g_getByHandleImport, GetByHandleBumped);
    g_realGetByHandle = swap.Real();
    EXPECT_FALSE(made_.IsAt(path_.c_str())) << std::get<0>(part);
  }
  EXPECT_TRUE(made_.IsAt(path_.c_str()));
}

// The proofs by path (that a path leads to the held folder, that an open entry's name still
// leads to it) open what stands there to read its attributes only, sharing everything so as
// to disturb no other program, and never through a link: compared whole, as Wine checks
// neither the access against the queries that follow nor the flags.
struct ProofOpen {
  std::wstring path;
  DWORD access, share, disposition, flags;
  bool operator==(const ProofOpen& o) const {
    return path == o.path && access == o.access && share == o.share &&
           disposition == o.disposition && flags == o.flags;
  }
};
std::vector<ProofOpen> g_proofOpens;
using CreateFileAFn = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                      HANDLE);
using CreateFileWFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                      HANDLE);
extern "C" CreateFileAFn g_createFileAImport asm(OLVAN_IMPORT_SLOT(CreateFileA, 28));
extern "C" CreateFileWFn g_createFileWImport asm(OLVAN_IMPORT_SLOT(CreateFileW, 28));
CreateFileAFn g_realCreateFileA;
CreateFileWFn g_realCreateFileW;
HANDLE WINAPI RecordCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                DWORD disposition, DWORD flags, HANDLE tmpl) {
  std::string narrow(path);
  g_proofOpens.push_back({std::wstring(narrow.begin(), narrow.end()), access, share, disposition,
                          flags});
  return g_realCreateFileA(path, access, share, sa, disposition, flags, tmpl);
}
HANDLE WINAPI RecordCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                DWORD disposition, DWORD flags, HANDLE tmpl) {
  g_proofOpens.push_back({path, access, share, disposition, flags});
  return g_realCreateFileW(path, access, share, sa, disposition, flags, tmpl);
}

TEST_F(HeldFolderMadeTest, ProofsByPathOpenToReadAttributesOnlyAndNeverFollowALink) {
  WriteFileBytes(path_ + "\\f.txt", "f");
  HeldEntry e{};
  ASSERT_TRUE(made_.Find("f.txt", &e));
  UniqueHandle file(made_.OpenListed(e, FILE_READ_ATTRIBUTES, FILE_NON_DIRECTORY_FILE));
  ASSERT_TRUE(file.Valid());
  g_proofOpens.clear();
  bool at, names;
  {
    ImportSwap<CreateFileAFn> swapA(&g_createFileAImport, RecordCreateFileA);
    ImportSwap<CreateFileWFn> swapW(&g_createFileWImport, RecordCreateFileW);
    g_realCreateFileA = swapA.Real();
    g_realCreateFileW = swapW.Real();
    at = made_.IsAt(path_.c_str());
    names = made_.NamesEntry(file.Get(), e);
  }
  EXPECT_TRUE(at);
  EXPECT_TRUE(names);
  ASSERT_EQ(g_proofOpens.size(), 2u);
  const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  EXPECT_EQ(g_proofOpens[0], (ProofOpen{std::wstring(path_.begin(), path_.end()),
                                        FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, flags}));
  // The second names the file by the final path the system gave its handle.
  const std::wstring& named = g_proofOpens[1].path;
  std::wstring tail = L"\\" + std::wstring(name_.begin(), name_.end()) + L"\\f.txt";
  EXPECT_TRUE(named.size() > tail.size() &&
              lstrcmpiW(named.c_str() + named.size() - tail.size(), tail.c_str()) == 0)
      << std::string(named.begin(), named.end());
  EXPECT_EQ(g_proofOpens[1],
            (ProofOpen{named, FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING, flags}));
}

// Wine's file systems carry no case-sensitivity flag: its answer lets the folder be used.
TEST_F(HeldFolderMadeTest, FolderWithoutTheCaseFlagIsAccepted) {
  EXPECT_TRUE(made_.ClearCaseSensitive());
}

// What reaches Windows, recorded (tests/util/nt_recorder.h). Wine answers the case-flag
// class and the one before it alike, refuses both, and takes the POSIX flag without acting
// on it: only the recorded values show a wrong class, length or flag here.
bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ULONG AsUlong(const std::vector<BYTE>& b) {
  ULONG v = 0;
  if (b.size() >= sizeof v) memcpy(&v, b.data(), sizeof v);
  return v;
}

TEST_F(HeldFolderMadeTest, CaseFlagIsQueriedAndClearedWithTheFlagsItHad) {
  NtRecorder rec;
  ULONG answer = 0x5;  // the case-sensitive bit and one the setup does not know
  NTSTATUS change = 0;
  rec.answerQuery = [&](ULONG cls, void* buf, ULONG len, NTSTATUS* st) {
    if (cls != win::kFileCaseSensitiveInformation || len != sizeof(ULONG)) return false;
    memcpy(buf, &answer, sizeof answer);
    *st = 0;
    return true;
  };
  rec.answerSet = [&](ULONG cls, void*, ULONG, NTSTATUS* st) {
    if (cls != win::kFileCaseSensitiveInformation) return false;
    *st = change;
    return true;
  };
  EXPECT_TRUE(made_.ClearCaseSensitive());
  ASSERT_EQ(rec.queries.size(), 1u);
  EXPECT_EQ(rec.queries[0].handle, made_.Get());
  EXPECT_EQ(rec.queries[0].infoClass, 71u);
  EXPECT_EQ(rec.queries[0].length, 4u);
  ASSERT_EQ(rec.sets.size(), 1u);
  EXPECT_EQ(rec.sets[0].handle, made_.Get());
  EXPECT_EQ(rec.sets[0].infoClass, 71u);
  EXPECT_EQ(rec.sets[0].length, 4u);
  EXPECT_EQ(AsUlong(rec.sets[0].bytes), 0x4u);

  // Not set: nothing is changed. A change the system refuses is the answer.
  answer = 0x4;
  rec.sets.clear();
  EXPECT_TRUE(made_.ClearCaseSensitive());
  EXPECT_TRUE(rec.sets.empty());
  answer = 0x1;
  change = static_cast<NTSTATUS>(0xC0000022L);  // STATUS_ACCESS_DENIED
  EXPECT_FALSE(made_.ClearCaseSensitive());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(HeldFolderMadeTest, DeletionIsPosixFirstThenClassic) {
  for (bool posixRefused : {false, true}) {
    WriteFileBytes(path_ + "\\gone.txt", "x");
    NtRecorder rec;
    rec.answerSet = [&](ULONG cls, void*, ULONG, NTSTATUS* st) {
      if (!posixRefused || cls != win::kFileDispositionInformationEx) return false;
      *st = static_cast<NTSTATUS>(win::kStatusInvalidInfoClass);
      return true;
    };
    {
      UniqueHandle h(made_.OpenEntry("gone.txt", DELETE, FILE_SHARE_READ, FILE_OPEN,
                                     FILE_NON_DIRECTORY_FILE));
      ASSERT_TRUE(h.Valid());
      EXPECT_TRUE(DeleteWhenClosed(h.Get()));
      ASSERT_FALSE(rec.sets.empty());
      EXPECT_EQ(rec.sets[0].handle, h.Get());
      EXPECT_EQ(rec.sets[0].infoClass, 64u);
      EXPECT_EQ(rec.sets[0].length, 4u);
      EXPECT_EQ(AsUlong(rec.sets[0].bytes), 0x3u);  // delete, POSIX semantics
      // The classic deletion follows only a refusal (Wine's own, or the recorder's).
      bool refused = rec.sets[0].status < 0;
      EXPECT_TRUE(refused || !posixRefused);
      ASSERT_EQ(rec.sets.size(), refused ? 2u : 1u) << std::hex << rec.sets[0].status;
      if (refused) {
        EXPECT_EQ(rec.sets[1].handle, h.Get());
        EXPECT_EQ(rec.sets[1].infoClass, 13u);  // FileDispositionInformation
        EXPECT_EQ(rec.sets[1].length, 1u);
        EXPECT_EQ(rec.sets[1].bytes, std::vector<BYTE>{1});
      }
    }
    EXPECT_FALSE(Exists(path_ + "\\gone.txt")) << posixRefused;
  }
}

// A sub-folder is held as a folder that can be listed and walked through, opened relative to
// its parent, never through a link at its name, and shared for reading and writing but not
// deletion: nobody renames it while it is held. Wine checks no traverse right, so only the
// recorded call shows a hold that could not be walked through on Windows.
TEST_F(HeldFolderMadeTest, SubFolderIsHeldForListingAndWalkingThrough) {
  ASSERT_TRUE(CreateDirectoryA((path_ + "\\sub").c_str(), nullptr));
  NtRecorder rec;
  HeldFolder sub;
  ASSERT_EQ(sub.Open(made_, "sub", false), HoldResult::kHeld);
  ASSERT_FALSE(rec.creates.empty());
  const NtCreateCall& c = rec.creates[0];
  EXPECT_EQ(c.root, made_.Get());
  EXPECT_EQ(c.name, L"sub");
  const ACCESS_MASK access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  EXPECT_EQ(c.access & access, access);
  EXPECT_EQ(c.share, static_cast<ULONG>(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(c.disposition, static_cast<ULONG>(FILE_OPEN));
  const ULONG options = FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;
  EXPECT_EQ(c.options & options, options);
}

// An entry opened from the listing stays under its name while the setup works on it: the
// open, relative to the held folder and never through a link, shares reading and writing but
// not deletion, so nobody renames or deletes it meanwhile.
TEST_F(HeldFolderMadeTest, ListedEntryIsOpenedWithoutSharingDeletion) {
  WriteFileBytes(path_ + "\\kept.txt", "x");
  HeldEntry e{};
  ASSERT_TRUE(made_.Find("kept.txt", &e));
  NtRecorder rec;
  UniqueHandle h(made_.OpenListed(e, FILE_READ_DATA, FILE_NON_DIRECTORY_FILE));
  ASSERT_TRUE(h.Valid());
  ASSERT_EQ(rec.creates.size(), 1u);
  const NtCreateCall& c = rec.creates[0];
  EXPECT_EQ(c.root, made_.Get());
  EXPECT_EQ(c.name, L"kept.txt");
  EXPECT_EQ(c.share, static_cast<ULONG>(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(c.disposition, static_cast<ULONG>(FILE_OPEN));
  const ACCESS_MASK access = FILE_READ_DATA | FILE_READ_ATTRIBUTES;
  EXPECT_EQ(c.access & access, access);
  const ULONG options = FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT |
                        FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT;
  EXPECT_EQ(c.options & options, options);
  // Wine enforces this sharing between two opens: an open for deletion is refused.
  HANDLE del = CreateFileA((path_ + "\\kept.txt").c_str(), DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(del, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (del != INVALID_HANDLE_VALUE) CloseHandle(del);
}

TEST_F(HeldFolderMadeTest, RenameNamesTheNewNameRelativeToTheHeldFolder) {
  WriteFileBytes(path_ + "\\old.txt", "x");
  NtRecorder rec;
  {
    UniqueHandle h(made_.OpenEntry("old.txt", DELETE | SYNCHRONIZE, FILE_SHARE_READ, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE));
    ASSERT_TRUE(h.Valid());
    ASSERT_TRUE(made_.MoveHere(h.Get(), "new.txt"));
    auto renames = rec.SetsOf(10);
    ASSERT_EQ(renames.size(), 1u);
    EXPECT_EQ(renames[0].handle, h.Get());
    // Read through the system header's own layout of FILE_RENAME_INFORMATION.
    const auto& b = renames[0].bytes;
    ASSERT_GE(b.size(), offsetof(FILE_RENAME_INFORMATION, FileName) + 14);
    FILE_RENAME_INFORMATION info;
    memcpy(&info, b.data(), offsetof(FILE_RENAME_INFORMATION, FileName));
    EXPECT_EQ(info.ReplaceIfExists, FALSE);
    EXPECT_EQ(info.RootDirectory, made_.Get());
    EXPECT_EQ(info.FileNameLength, 14u);
    const BYTE* name8 = b.data() + offsetof(FILE_RENAME_INFORMATION, FileName);
    std::wstring name(reinterpret_cast<const wchar_t*>(name8), 7);
    EXPECT_EQ(name, L"new.txt");
    EXPECT_GE(renames[0].length, offsetof(FILE_RENAME_INFORMATION, FileName) + info.FileNameLength);
  }
  EXPECT_TRUE(Exists(path_ + "\\new.txt"));
  EXPECT_FALSE(Exists(path_ + "\\old.txt"));
}

}  // namespace
