// The MSI route on real folders under Wine: a stand-in program file in a folder of its own
// (held as the program's own file), a real carrier as the installed product's source, and
// the copy found beside the program or made from the source. Where Wine does not enforce
// what the route asks of Windows, the calls are recorded, or Windows stood in for, through
// this program's import table.
#include "setup/msi_route.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "package/carrier_hold.h"
#include "package/digest_slot.h"
#include "package/package_format.h"
#include "package/sha256.h"
#include "tests/package/package_craft.h"
#include "tests/util/nt_recorder.h"
#include "tests/util/win_test_util.h"

namespace {

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A package as the release tool appends it to the MSI, at the route's offset.
std::string Genuine() {
  return std::string(kMsiCarrierOffset, 'M') + Marker() + Entry("OlvanSetup.exe", "installer") +
         EndEntry();
}

// The bytes of a file that the route may hold open for writing and deletion (the copy it
// made), read with every sharing; empty when it cannot be opened.
std::string ReadShared(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  std::string out;
  char buf[65536];
  DWORD got;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got != 0) out.append(buf, got);
  CloseHandle(h);
  return out;
}

// Each case: a folder of its own with the program file, held as the program's own file,
// and a source holding the genuine package, named by the route's registry value.
class MsiRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLogFolder();
    dir_ = NewTempFolder("olvmsi");
    copy_ = dir_ + "\\OlvanSetup.msi";
    WriteFileBytes(dir_ + "\\Setup.exe", "MZ stand-in of the program");
    // The hold of an earlier case is let go first.
    utl_ReleaseLastHold();
    ASSERT_TRUE(utl_HoldCarrier(Wide(dir_ + "\\Setup.exe").c_str()));
    src_ = NewTempFolder("olvmsisrc") + "\\Client.msi";
    WriteFileBytes(src_, Genuine());
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Olvan", 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "MsiSourceName", 0, REG_SZ, reinterpret_cast<const BYTE*>(src_.c_str()),
                   static_cast<DWORD>(src_.size() + 1));
    RegCloseKey(key);
  }
  // The route keeps its copy open to the end of the process: what a case leaves in its
  // folder stays in the temporary folder until then.
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir_ + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
      if (fd.cFileName[0] != '.') out.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
  }
  bool CopyIsGenuine() { return ReadShared(copy_) == Genuine(); }

  std::string dir_, copy_, src_;
};

// The program's folder, in which the copy is found, made and renamed, is held against a
// rename to the end of the run: the names the route works with cannot be moved elsewhere
// meanwhile.
TEST_F(MsiRouteTest, ProgramsFolderCannotBeRenamedWhileTheRouteRuns) {
  DWORD err = 0;
  ASSERT_TRUE(MsiPrepareCopy(&err));
  EXPECT_FALSE(MoveFileA(dir_.c_str(), (dir_ + "-moved").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(Names(), (std::vector<std::string>{"OlvanSetup.msi", "Setup.exe"}));
}

// The folder is held only when its listing shows the program's own name as the program's
// file: a link there (the program started through a link in the folder) is refused, and
// nothing is found, made or copied. Wine makes no such link; the listing (the native call
// in HeldFolder's table) reports the program's entry as Windows reports a link.
TEST_F(MsiRouteTest, ProgramListedAsALinkIsNotHeldAndNothingIsCopied) {
  WriteFileBytes(copy_, Genuine());
  DWORD err = 0;
  {
    ListingShowsLinks listing([](const FILE_ID_BOTH_DIR_INFO& e) {
      return e.FileNameLength == 18 && memcmp(e.FileName, L"Setup.exe", 18) == 0;
    });
    EXPECT_FALSE(MsiPrepareCopy(&err));
  }
  std::vector<std::string> log = ReadLogMessages("setup");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].rfind("msi: the program's folder cannot be held, error ", 0), 0u) << log[1];
  EXPECT_EQ(log[2], "Cannot use setup copy msi file, accessible error.");
  EXPECT_EQ(Names(), (std::vector<std::string>{"OlvanSetup.msi", "Setup.exe"}));
}

// A link at the copy's name is not taken for the copy: the copy is made anew from the source
// and replaces the link as a name. The listing reports the entry as Windows reports a link.
TEST_F(MsiRouteTest, LinkAtTheCopysNameIsNotTheCopy) {
  WriteFileBytes(copy_, "where the link leads");
  DWORD err = 0;
  {
    ListingShowsLinks listing([](const FILE_ID_BOTH_DIR_INFO& e) {
      return e.FileNameLength == 28 && memcmp(e.FileName, L"OlvanSetup.msi", 28) == 0;
    });
    EXPECT_TRUE(MsiPrepareCopy(&err));
  }
  std::vector<std::string> log = ReadLogMessages("setup");
  EXPECT_EQ(std::count(log.begin(), log.end(), "InstallScript has copy msi file."), 0);
  EXPECT_TRUE(CopyIsGenuine());
}

// A source whose last name is a link is refused before a byte is copied. The open asks for
// the link itself; Wine opens a Linux link's target, so a stand-in reports the source as
// Windows reports the link opened (the reparse-point attribute).
TEST_F(MsiRouteTest, SourceThatIsALinkIsRefusedBeforeAByteIsCopied) {
  DWORD err = 0;
  bool prepared;
  {
    InfoShowsALink link(src_, IO_REPARSE_TAG_SYMLINK);
    prepared = MsiPrepareCopy(&err);
  }
  EXPECT_FALSE(prepared);
  std::vector<std::string> log = ReadLogMessages("setup");
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "msi: the source " + src_ + " cannot be used, error 222."),
            1);
  EXPECT_EQ(Names(), std::vector<std::string>{"Setup.exe"});
}

// The copy found beside the program is held against writers to the end of the run: the
// bytes the unpack reads are the bytes that were there when it was found.
TEST_F(MsiRouteTest, FoundCopyIsHeldAgainstWriters) {
  WriteFileBytes(copy_, Genuine());
  DWORD err = 0;
  ASSERT_TRUE(MsiPrepareCopy(&err));
  HANDLE w = CreateFileA(copy_.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(w, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (w != INVALID_HANDLE_VALUE) CloseHandle(w);
  EXPECT_TRUE(CopyIsGenuine());
}

// A copy another program is writing cannot be opened for reading without write sharing: it
// is found all the same (the unpack then treats it as one it does not vouch for), and the
// log gives the system's error.
TEST_F(MsiRouteTest, CopyHeldByAWriterIsFoundAndTheLogSaysWhyItCannotBeOpened) {
  WriteFileBytes(copy_, Genuine());
  HANDLE w = CreateFileA(copy_.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  DWORD err = 0;
  EXPECT_TRUE(MsiPrepareCopy(&err));
  CloseHandle(w);
  std::vector<std::string> log = ReadLogMessages("setup");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
            (std::vector<std::string>{"msi: the copy cannot be opened, error 32.",
                                      "InstallScript has copy msi file."}));
  EXPECT_TRUE(CopyIsGenuine());
}

// The source is opened once, as whatever stands at its last name: a link there is opened as
// the link (and refused), never followed to a file the setup would then copy. A link to a
// file is an ordinary file to Win32 under Wine, which cannot show this: what the open hands
// to Windows is recorded, CreateFileW swapped in the import table.
struct CreateCall {
  std::wstring path;
  DWORD access, share, disposition, flags;
};
std::vector<CreateCall> g_creates;
using CreateFileWFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                      HANDLE);
extern "C" CreateFileWFn g_createFileWImport asm(OLVAN_IMPORT_SLOT(CreateFileW, 28));
CreateFileWFn g_realCreateFileW;

HANDLE WINAPI RecordCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                DWORD disposition, DWORD flags, HANDLE tmpl) {
  g_creates.push_back({path, access, share, disposition, flags});
  return g_realCreateFileW(path, access, share, sa, disposition, flags, tmpl);
}

// The other opens of the route are compared whole: the program's folder held for listing
// without delete sharing, the copy made new (by a create relative to the held folder) for
// reading, writing and deletion without write sharing, the copy opened for reading only.
TEST_F(MsiRouteTest, SourceIsOpenedAsWhatStandsAtItsNameWithReadSharingOnly) {
  g_creates.clear();
  DWORD err = 0;
  std::vector<NtCreateCall> nt;
  {
    ImportSwap<CreateFileWFn> swap(&g_createFileWImport, RecordCreateFileW);
    g_realCreateFileW = swap.Real();
    NtRecorder rec;
    ASSERT_TRUE(MsiPrepareCopy(&err));
    nt = rec.creates;
  }
  std::vector<CreateCall> opens, folder;
  for (const CreateCall& c : g_creates) {
    if (lstrcmpiW(c.path.c_str(), Wide(src_).c_str()) == 0) opens.push_back(c);
    if (lstrcmpiW(c.path.c_str(), (L"\\\\?\\" + Wide(dir_)).c_str()) == 0 ||
        lstrcmpiW(c.path.c_str(), Wide(dir_).c_str()) == 0)
      folder.push_back(c);
  }
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_NE(opens[0].flags & FILE_FLAG_OPEN_REPARSE_POINT, 0u);
  EXPECT_EQ(opens[0].access, static_cast<DWORD>(GENERIC_READ));
  EXPECT_EQ(opens[0].share, static_cast<DWORD>(FILE_SHARE_READ));
  EXPECT_EQ(opens[0].disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_TRUE(CopyIsGenuine());

  ASSERT_EQ(folder.size(), 1u);
  EXPECT_EQ(folder[0].access, kHeldFolderAccess);
  EXPECT_EQ(folder[0].share, kShareNoDelete);
  EXPECT_EQ(folder[0].disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(folder[0].flags, static_cast<DWORD>(FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  std::vector<std::tuple<ULONG, ULONG, ULONG, ULONG>> made;
  for (const NtCreateCall& c : nt)
    if (c.name.rfind(L"OlvanSetup.msi.", 0) == 0)
      made.emplace_back(c.access, c.share, c.disposition, c.options);
  EXPECT_EQ(made, (std::vector<std::tuple<ULONG, ULONG, ULONG, ULONG>>{
                      {GENERIC_READ | GENERIC_WRITE | DELETE | SYNCHRONIZE, FILE_SHARE_READ,
                       FILE_CREATE, kFileOptions}}));

  // A second route finds the copy and opens it for reading, sharing reading only.
  nt.clear();
  {
    NtRecorder rec;
    ASSERT_TRUE(MsiPrepareCopy(&err));
    nt = rec.creates;
  }
  std::vector<std::tuple<ULONG, ULONG, ULONG, ULONG>> found;
  for (const NtCreateCall& c : nt)
    if (c.name == L"OlvanSetup.msi") found.emplace_back(c.access, c.share, c.disposition, c.options);
  EXPECT_EQ(found, (std::vector<std::tuple<ULONG, ULONG, ULONG, ULONG>>{
                       {GENERIC_READ | SYNCHRONIZE, FILE_SHARE_READ, FILE_OPEN, kFileOptions}}));
}

// Without a source named under the product's own key, the installed product's uninstall key
// (read through the program's own view, the 32-bit one for the shipped program) names it:
// one retry finds it there.
TEST_F(MsiRouteTest, SourceNamedOnlyByTheUninstallKeyIsFoundAtTheFirstRetry) {
  const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                            "{5E21C0A4-7D3B-4F19-9A62-1C8B3E04D7F2}";
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Olvan", 0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  RegDeleteValueA(key, "MsiSourceName");
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstall, 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "MsiSourceName", 0, REG_SZ, reinterpret_cast<const BYTE*>(src_.c_str()),
                 static_cast<DWORD>(src_.size() + 1));
  RegCloseKey(key);
  DWORD err = 0;
  bool prepared = MsiPrepareCopy(&err);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstall);
  EXPECT_TRUE(prepared);
  std::vector<std::string> log = ReadLogMessages("setup");
  EXPECT_EQ(std::count(log.begin(), log.end(), "can't get source path."), 1);
  EXPECT_TRUE(CopyIsGenuine());
}

// The new copy is written into a file this run made: a file someone planted at the
// temporary name (the tick is known to anyone who can read the clock; here it is fixed by
// GetTickCount swapped in the import table) is neither opened nor written, the next name is
// taken instead.
using GetTickCountFn = DWORD(WINAPI*)();
extern "C" GetTickCountFn g_getTickCountImport asm(OLVAN_IMPORT_SLOT(GetTickCount, 0));

DWORD WINAPI FixedTick() { return 4242; }

TEST_F(MsiRouteTest, FilePlantedAtTheTemporaryNameKeepsItsBytes) {
  const std::string planted = dir_ + "\\OlvanSetup.msi.4242-0";
  WriteFileBytes(planted, "planted");
  DWORD err = 0;
  {
    ImportSwap<GetTickCountFn> swap(&g_getTickCountImport, FixedTick);
    ASSERT_TRUE(MsiPrepareCopy(&err));
  }
  EXPECT_EQ(ReadShared(planted), "planted");
  EXPECT_TRUE(CopyIsGenuine());
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"OlvanSetup.msi", "OlvanSetup.msi.4242-0", "Setup.exe"}));
}

// A write of the copy that the system reports as done but shorter than asked (a full disk)
// fails the copy with its own line, and the file made is removed. No file system here
// writes short and says so: a stand-in, WriteFile swapped in the import table, writes half
// of what is asked into the setup's new copy.
using WriteFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern "C" WriteFn g_writeFileImport asm(OLVAN_IMPORT_SLOT(WriteFile, 20));
WriteFn g_realWriteFile;

BOOL WINAPI WriteHalfToNewCopy(HANDLE h, LPCVOID data, DWORD count, LPDWORD written,
                               LPOVERLAPPED overlapped) {
  char path[MAX_PATH];
  DWORD n = GetFinalPathNameByHandleA(h, path, MAX_PATH, FILE_NAME_NORMALIZED);
  bool isCopy = n != 0 && n < MAX_PATH && strstr(path, "\\OlvanSetup.msi.") != nullptr;
  return g_realWriteFile(h, data, isCopy ? count / 2 : count, written, overlapped);
}

TEST_F(MsiRouteTest, ShortWriteOfTheNewCopyFailsIt) {
  DWORD err = 0;
  {
    ImportSwap<WriteFn> swap(&g_writeFileImport, WriteHalfToNewCopy);
    g_realWriteFile = swap.Real();
    EXPECT_FALSE(MsiPrepareCopy(&err));
  }
  EXPECT_EQ(err, 0u);
  std::vector<std::string> log = ReadLogMessages("setup");
  ASSERT_GE(log.size(), 2u);
  // The short write is named as a full disk (112), not with an error left by an earlier call.
  EXPECT_EQ(log[log.size() - 2], "msi: the copy cannot be written, error 112.");
  EXPECT_EQ(log.back(), "Cannot use setup copy msi file, accessible error.");
  EXPECT_EQ(Names(), std::vector<std::string>{"Setup.exe"});
}

// Binds this test program to a digest for the life of the object, as the release tool
// binds Setup.exe to its package's: the slot of its own image is written.
class BoundTo {
 public:
  explicit BoundTo(const std::string& package) {
    unsigned char digest[kSha256Len];
    Sha256Digest(package.data(), package.size(), digest);
    Put(digest);
  }
  ~BoundTo() {
    unsigned char none[kSha256Len] = {};
    Put(none);
  }

 private:
  static void Put(const unsigned char digest[kSha256Len]) {
    BYTE* slot = const_cast<BYTE*>(g_packageDigestSlot);
    DWORD was;
    VirtualProtect(slot, kDigestSlotLen, PAGE_READWRITE, &was);
    memcpy(slot + kDigestSlotMarkerLen, digest, kSha256Len);
    VirtualProtect(slot, kDigestSlotLen, was, &was);
  }
};

bool Intact(const char*) { return true; }

// A bound program refreshes a copy found beside it that its check refuses, once, from the
// source: here a copy whose package lies inside the certificate table its PE header names
// (168), as in a copy of the MSI signed after the package was appended.
TEST_F(MsiRouteTest, FoundCopyWithItsPackageInTheSignatureIsRefreshed) {
  const std::string package = Marker() + Entry("OlvanSetup.exe", "installer") + EndEntry();
  BoundTo bound(package);
  WriteFileBytes(copy_, PeStub(kMsiCarrierOffset, kMsiCarrierOffset - 8,
                               static_cast<uint32_t>(package.size()) + 72) +
                            package + std::string(64, 'T'));
  TempFolder work("olvmsiwork");
  DWORD err = 0;
  ASSERT_TRUE(MsiPrepareCopy(&err));
  EXPECT_TRUE(MsiUnpack(work.Path().c_str(), &err, Intact)) << err;
  std::vector<std::string> log = ReadLogMessages("setup");
  EXPECT_EQ(
      std::count(log.begin(), log.end(), "msi: the copy is refused, copying the source again."), 1);
  EXPECT_EQ(ReadFileBytes(work.File("OlvanSetup.exe")), "installer");
  EXPECT_TRUE(CopyIsGenuine());
}

}  // namespace
