// The log writers on a real file system: folders, file names, line layout, rotation and
// concurrent writers.
#include "util/log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>

#include "tests/util/link_test_util.h"
#include "tests/util/nt_recorder.h"
#include "tests/util/win_test_util.h"
#include "util/aside_tick.h"
#include "util/file_basics.h"
#include "util/log_line.h"

// In place of util/aside_tick.cpp: a fixed count when a case sets one.
DWORD g_fixedAsideTick = 0;
DWORD WINAPI AsideTick() { return g_fixedAsideTick != 0 ? g_fixedAsideTick : GetTickCount(); }

namespace {

std::string Hex(unsigned long v, bool prefix) {
  char b[32];
  snprintf(b, sizeof b, prefix ? "[0x%lx] " : "[%lx] ", v);
  return b;
}

LogTime Today() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond};
}

// The same weekday one week earlier (the date only matters for the file name).
LogTime WeekBefore(LogTime t) {
  SYSTEMTIME st = {};
  st.wYear = t.year;
  st.wMonth = t.month;
  st.wDay = t.day;
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  u.QuadPart -= 7ull * 24 * 3600 * 10000000ull;
  ft.dwLowDateTime = u.LowPart;
  ft.dwHighDateTime = u.HighPart;
  FileTimeToSystemTime(&ft, &st);
  return {st.wYear, st.wMonth, st.wDay, t.weekday, 0, 0, 0};
}

std::string PathFor(const std::string& base, const LogTime& t, const std::string& folder = "") {
  char p[MAX_PATH];
  LogFilePath(p, sizeof p, (folder.empty() ? LogFolder() : folder).c_str(), base.c_str(), t);
  return p;
}

bool Exists(const std::string& p) {
  return GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLogFolder();
    g_nLogDetail = 0;
  }
  void TearDown() override { g_nLogDetail = 0; }
};

TEST_F(LogTest, SetupLogLineLayout) {
  SetupLog("Begin UnpackAndSetup");
  auto lines = ReadLogLines("setup");
  ASSERT_EQ(lines.size(), 1u);
  std::regex re(
      R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )" + std::string("\\") +
      Hex(GetCurrentThreadId(), false).substr(0, Hex(GetCurrentThreadId(), false).size() - 2) +
      R"(\] Begin UnpackAndSetup$)");
  EXPECT_TRUE(std::regex_match(lines[0], re)) << lines[0];
  // CR LF after every line, nothing else.
  std::string raw = ReadFileBytes(TodayLogPath("setup"));
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
  EXPECT_EQ(raw.size(), lines[0].size() + 2);
}

TEST_F(LogTest, ThreadFieldOfEachWriter) {
  std::string plain = Hex(GetCurrentThreadId(), false), with0x = Hex(GetCurrentThreadId(), true);
  SetupLog("a");
  ModuleLog("UtlFile", "b", 0);
  FixedFolderLog("IsCurUserAdmin", "c");
  EXPECT_EQ(ReadLogLines("setup").at(0).substr(22), plain + "a");
  EXPECT_EQ(ReadLogLines("stp_UtlFile").at(0).substr(22), with0x + "b");
  EXPECT_EQ(ReadLogLines("IsCurUserAdmin", "c:\\OlvanLog").at(0).substr(22), plain + "c");
}

TEST_F(LogTest, DetailLinesAreDroppedWhileTheSwitchIsOff) {
  ReleaseLogFoldersForTest();
  RemoveDirectoryA(LogFolder().c_str());
  ASSERT_FALSE(DirectoryExists(LogFolder().c_str()));
  ModuleLog("UtlFile", "detail", 1);
  // Not even the folder is made.
  EXPECT_FALSE(DirectoryExists(LogFolder().c_str()));
  g_nLogDetail = 1;
  ModuleLog("UtlFile", "detail", 1);
  auto lines = ReadLogLines("stp_UtlFile");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(22), "[DTL] " + Hex(GetCurrentThreadId(), true) + "detail");
}

TEST_F(LogTest, EmptyMessageAndMultiLineMessage) {
  SetupLog("");
  SetupLog("first\r\nsecond");
  auto lines = ReadLogLines("setup");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(22), Hex(GetCurrentThreadId(), false));
  EXPECT_EQ(lines[2], "second");
}

TEST_F(LogTest, FirstLineOfTheDayRemovesLastWeeksFileOfTheSameWeekday) {
  LogTime today = Today(), lastWeek = WeekBefore(today);
  LogTime otherDay = lastWeek;
  otherDay.weekday = (today.weekday + 1) % 7;
  std::string old = PathFor("setup", lastWeek), older = PathFor("setup", WeekBefore(lastWeek));
  std::string other = PathFor("setup", otherDay), module = PathFor("stp_setup", lastWeek);
  for (const std::string& p : {old, older, other, module}) WriteFileBytes(p, "old line\r\n");
  SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_READONLY);

  {
    // Read-only alone, as Windows keeps such a file.
    ReadOnlyAsWindowsKeepsIt readOnly({old});
    SetupLog("new day");
    EXPECT_EQ(readOnly.StillReadOnly(), 0u);
  }
  EXPECT_FALSE(Exists(old));
  EXPECT_FALSE(Exists(older));
  EXPECT_TRUE(Exists(other));
  EXPECT_TRUE(Exists(module));
  EXPECT_EQ(ReadLogMessages("setup"), std::vector<std::string>{"new day"});

  // Later lines of the day append and delete nothing.
  WriteFileBytes(old, "planted\r\n");
  SetupLog("second");
  EXPECT_TRUE(Exists(old));
  EXPECT_EQ(ReadLogMessages("setup"), (std::vector<std::string>{"new day", "second"}));
  SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A plain file where the log folder should be is moved aside, kept as it was, and the
// first line of the new folder names it.
TEST_F(LogTest, FileAtTheLogFolderIsMovedAsideAndNamed) {
  std::string folder = LogFolder();
  ClearLogFolder();
  ReleaseLogFoldersForTest();
  ASSERT_TRUE(RemoveDirectoryA(folder.c_str()));
  WriteFileBytes(folder, "not a folder");
  SetupLog("kept");
  ModuleLog("UtlFile", "kept too", 0);
  auto lines = ReadLogLines("setup");
  ASSERT_EQ(lines.size(), 2u);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[0], m,
                                std::regex(R"(\] Something that is not a folder stood at (.:\\OlvanLog); )"
                                           R"(moved aside to (.:\\OlvanLog\.\d+-0)\.$)")))
      << lines[0];
  EXPECT_EQ(m[1].str(), folder);
  EXPECT_EQ(ReadFileBytes(m[2].str()), "not a folder");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 6), "] kept");
  EXPECT_EQ(ReadLogLines("stp_UtlFile").size(), 1u);
  DeleteFileA(m[2].str().c_str());
}

// A name taken among the asides is passed over, never replaced, and the search goes on.
TEST_F(LogTest, AsideNameThatIsTakenIsPassedOver) {
  std::string folder = LogFolder();
  ClearLogFolder();
  ReleaseLogFoldersForTest();
  ASSERT_TRUE(RemoveDirectoryA(folder.c_str()));
  WriteFileBytes(folder, "not a folder");
  WriteFileBytes(folder + ".7-0", "taken");
  g_fixedAsideTick = 7;
  SetupLog("kept");
  g_fixedAsideTick = 0;
  auto lines = ReadLogMessages("setup");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Something that is not a folder stood at " + folder + "; moved aside to " +
                          folder + ".7-1.");
  EXPECT_EQ(ReadFileBytes(folder + ".7-0"), "taken");
  EXPECT_EQ(ReadFileBytes(folder + ".7-1"), "not a folder");
  DeleteFileA((folder + ".7-0").c_str());
  DeleteFileA((folder + ".7-1").c_str());
}

// A junction planted at the log folder's name is moved aside, never followed or deleted (an
// administrator's junction to a log volume survives under the new name); the setup logs
// into a real folder made in its place.
TEST_F(LogTest, LinkAtTheLogFolderIsMovedAsideAndNamed) {
  std::string folder = LogFolder();
  std::string target = folder + "-target";
  ClearLogFolder();
  ReleaseLogFoldersForTest();
  ASSERT_TRUE(RemoveDirectoryA(folder.c_str()));
  CreateDirectoryA(target.c_str(), nullptr);
  WriteFileBytes(target + "\\notes.txt", "notes");
  if (!MakeFolderLink(folder, target)) {
    RemoveDirectoryA(folder.c_str());
    GTEST_SKIP() << "this system makes no folder links through Win32";
  }
  SetupLog("kept");
  auto lines = ReadLogLines("setup");
  ASSERT_EQ(lines.size(), 2u);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[0], m, std::regex(R"(\] A link stood at .:\\OlvanLog; )"
                                                        R"(moved aside to (.:\\OlvanLog\.\d+-0)\.$)")))
      << lines[0];
  EXPECT_NE(GetFileAttributesA(m[1].str().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(ReadFileBytes(target + "\\notes.txt"), "notes");
  EXPECT_FALSE(Exists(target + "\\" + TodayLogPath("setup").substr(folder.size() + 1)));
  RemoveDirectoryA(m[1].str().c_str());
}

// A directory symbolic link or a junction at the log folder's name is moved aside and named
// as a link too. Wine makes neither; the folder there is a real one, which the listing (the
// native call in HeldFolder's table) and the tag query (GetFileInformationByHandleEx,
// swapped in the import table) report as Windows reports such a link: reparse point, tag
// IO_REPARSE_TAG_SYMLINK or IO_REPARSE_TAG_MOUNT_POINT.
TEST_F(LogTest, SymbolicLinkOrJunctionAtTheLogFolderIsMovedAsideAndNamed) {
  for (DWORD linkTag : {IO_REPARSE_TAG_SYMLINK, IO_REPARSE_TAG_MOUNT_POINT}) {
    SCOPED_TRACE(linkTag);
    std::string folder = LogFolder();
    ClearLogFolder();
    ReleaseLogFoldersForTest();
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteFileBytes(folder + "\\notes.txt", "notes");
    g_fixedAsideTick = 9;
    {
      InfoShowsALink link(folder, linkTag);
      const LARGE_INTEGER id = link.Id();
      ListingShowsLinks listing(
          [id](const FILE_ID_BOTH_DIR_INFO& e) { return e.FileId.QuadPart == id.QuadPart; });
      NtRecorder rec;
      SetupLog("kept");
      // The link is opened to be renamed: with DELETE, which Windows requires, Wine not.
      int opens = 0;
      for (const NtCreateCall& c : rec.creates) {
        if (c.name != L"OlvanLog" || c.disposition != FILE_OPEN) continue;
        ++opens;
        EXPECT_EQ(c.access & DELETE, static_cast<ACCESS_MASK>(DELETE)) << std::hex << c.access;
      }
      EXPECT_EQ(opens, 1);
    }
    g_fixedAsideTick = 0;
    EXPECT_EQ(ReadLogMessages("setup"),
              (std::vector<std::string>{
                  "A link stood at " + folder + "; moved aside to " + folder + ".9-0.", "kept"}));
    EXPECT_EQ(ReadFileBytes(folder + ".9-0\\notes.txt"), "notes");
    DeleteFileA((folder + ".9-0\\notes.txt").c_str());
    RemoveDirectoryA((folder + ".9-0").c_str());
  }
}

DWORD WINAPI CloseSoon(void* h) {
  Sleep(30);
  CloseHandle(h);
  return 0;
}

// A reader that holds today's log for a moment without write sharing delays the line; it
// is not lost.
TEST_F(LogTest, ReaderHoldingTodaysLogDelaysTheLine) {
  SetupLog("first");
  HANDLE reader = CreateFileA(TodayLogPath("setup").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE closer = CreateThread(nullptr, 0, CloseSoon, reader, 0, nullptr);
  SetupLog("second");
  WaitForSingleObject(closer, INFINITE);
  CloseHandle(closer);
  EXPECT_EQ(ReadLogMessages("setup"), (std::vector<std::string>{"first", "second"}));
}

// Messages of a spare log, which takes the lines today's log cannot: "<today's name without
// .log>-<process id>-<weekday>.log".
std::string SparePath(const std::string& base) {
  std::string today = TodayLogPath(base);
  return today.substr(0, today.size() - 4) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         today.substr(today.size() - 6);
}
std::vector<std::string> Messages(const std::string& path) {
  std::vector<std::string> out;
  std::string all = ReadFileBytes(path);
  static const std::regex kLine(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[[0-9a-f]+\] ([^\r]*)\r\n)");
  for (std::sregex_iterator i(all.begin(), all.end(), kLine), end; i != end; ++i)
    out.push_back((*i)[1]);
  return out;
}

// A reader that holds the byte the writers lock to take turns, even with a shared lock,
// delays the run once, by about 100 ms: the writers' lock is exclusive. They then append
// without it (each line waited about 2 s for it before).
TEST_F(LogTest, ReaderHoldingTheTurnByteDelaysTheRunOnce) {
  SetupLog("first");
  HANDLE reader = CreateFileA(TodayLogPath("setup").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  OVERLAPPED turn = {};
  turn.Offset = 0xFFFFFFFE;
  turn.OffsetHigh = 0x7FFFFFFF;
  ASSERT_TRUE(LockFileEx(reader, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn));
  DWORD t0 = GetTickCount();
  SetupLog("held");
  EXPECT_GE(GetTickCount() - t0, 80u);
  for (int i = 1; i < 30; ++i) SetupLog("held");
  EXPECT_LT(GetTickCount() - t0, 2500u);  // 100 ms for each line would be 3 s
  CloseHandle(reader);
  std::vector<std::string> all(31, "held");
  all[0] = "first";
  EXPECT_EQ(ReadLogMessages("setup"), all);
}

// A reader that holds today's log without write sharing for good: the lines go, in their
// order, to one spare file of the day, made new (a file planted at its name is neither
// opened nor written: the lines are then dropped), and the later lines of the run too.
TEST_F(LogTest, ReaderKeepingTodaysLogSendsTheLinesToOneSpareFile) {
  SetupLog("first");
  HANDLE reader = CreateFileA(TodayLogPath("setup").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::string spare = SparePath("setup");
  WriteFileBytes(spare, "planted");
  SetupLog("dropped");
  EXPECT_EQ(ReadFileBytes(spare), "planted");
  DeleteFileA(spare.c_str());
  SetupLog("second");
  SetupLog("third");
  CloseHandle(reader);
  SetupLog("fourth");
  EXPECT_EQ(ReadLogMessages("setup"), std::vector<std::string>{"first"});
  EXPECT_EQ(Messages(spare), (std::vector<std::string>{"second", "third", "fourth"}));
  // The weekly clean-up of the log takes it too.
  EXPECT_TRUE(LogCleanupMatches(spare.substr(spare.rfind('\\') + 1).c_str(), "setup",
                                Today().weekday));
  ReleaseLogFoldersForTest();
}

// What the writer hands to Windows for each file, which Wine does not check: today's log
// opened and made for appending with read access (the turn lock needs it) and write
// sharing, the spare made new without write sharing, last week's log opened for deletion
// through the listing, each without following a link.
TEST_F(LogTest, EachLogFileIsOpenedWithTheAccessAndSharingWindowsNeeds) {
  ReleaseLogFoldersForTest();
  CreateDirectoryA(LogFolder().c_str(), nullptr);
  std::string old = PathFor("setup", WeekBefore(Today()));
  WriteFileBytes(old, "last week");
  std::vector<NtCreateCall> creates;
  {
    NtRecorder rec;
    SetupLog("first");
    HANDLE reader = CreateFileA(TodayLogPath("setup").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    SetupLog("second");
    CloseHandle(reader);
    creates = rec.creates;
  }
  ReleaseLogFoldersForTest();
  EXPECT_FALSE(Exists(old));
  auto name = [](const std::string& path) {
    std::string n = path.substr(path.rfind('\\') + 1);
    return std::wstring(n.begin(), n.end());
  };
  const std::wstring today = name(TodayLogPath("setup")), spare = name(SparePath("setup")),
                     lastWeek = name(old), folder = name(LogFolder());
  // What each create of a kind handed over, once each: {who, access, share, disposition, options}.
  using Seen = std::tuple<std::string, ULONG, ULONG, ULONG, ULONG>;
  std::set<Seen> seen;
  for (const NtCreateCall& c : creates) {
    // Names are looked up without regard to case, as Win32 looks them up.
    EXPECT_EQ(c.objectAttributes, static_cast<ULONG>(OBJ_CASE_INSENSITIVE));
    std::string who = c.name.empty()                   ? "listing"
                      : c.name.rfind(L"\\??\\", 0) == 0 ? "drive root"
                      : c.name == folder               ? "log folder"
                      : c.name == today                ? "today's log"
                      : c.name == spare                ? "spare log"
                      : c.name == lastWeek             ? "last week's log"
                                                       : "other";
    seen.insert(Seen(who, c.access, c.share, c.disposition, c.options));
  }
  const ULONG folderAccess = kHeldFolderAccess, folderOptions = kFolderOptions;
  const ULONG logAccess = FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const ULONG fileOptions = kFileOptions, all = kShareAll, readWrite = kShareNoDelete;
  EXPECT_EQ(seen, (std::set<Seen>{
                      {"drive root", folderAccess, all, FILE_OPEN, folderOptions},
                      {"log folder", folderAccess, readWrite, FILE_OPEN_IF, folderOptions},
                      {"listing", FILE_LIST_DIRECTORY | SYNCHRONIZE, all, FILE_OPEN, folderOptions},
                      {"last week's log", DELETE | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       readWrite, FILE_OPEN, fileOptions | FILE_OPEN_FOR_BACKUP_INTENT},
                      {"today's log", logAccess, readWrite, FILE_OPEN, fileOptions},
                      {"today's log", logAccess, readWrite, FILE_CREATE, fileOptions},
                      {"spare log", logAccess, FILE_SHARE_READ, FILE_CREATE, fileOptions},
                  }));
}

// Another writer creates today's log between this writer's look for it and its clean-up:
// the clean-up spares that file, the create that then collides opens it, and both writers'
// lines are kept.
TEST_F(LogTest, TodaysLogMadeByAnotherWriterDuringTheCleanupIsKept) {
  SetLogCleanupHookForTest([] { WriteFileBytes(TodayLogPath("setup"), "other writer\r\n"); });
  SetupLog("mine");
  SetLogCleanupHookForTest(nullptr);
  EXPECT_EQ(ReadLogMessages("setup"), (std::vector<std::string>{"other writer", "mine"}));
}

// A second name of someone else's file planted as today's log: appending would write into
// that file, so the line is dropped.
TEST_F(LogTest, HardLinkPlantedAsTodaysLogIsNotWrittenThrough) {
  std::string victim = NewTempFolder("victim") + "\\precious.txt";
  WriteFileBytes(victim, "precious");
  CreateDirectoryA(LogFolder().c_str(), nullptr);
  ASSERT_TRUE(CreateHardLinkA(TodayLogPath("setup").c_str(), victim.c_str(), nullptr));
  SetupLog("through the link");
  EXPECT_EQ(ReadFileBytes(victim), "precious");
}

// Someone holding today's log with delete access, about to move it aside, keeps the writer
// out until it lets go: the line goes to the log at today's name, not into the moved file.
struct MoveAside {
  HANDLE held;
  std::string from, to;
};
DWORD WINAPI MoveAsideSoon(void* p) {
  MoveAside* m = static_cast<MoveAside*>(p);
  Sleep(30);
  MoveFileA(m->from.c_str(), m->to.c_str());
  CloseHandle(m->held);
  return 0;
}
TEST_F(LogTest, HolderThatMayMoveTodaysLogKeepsTheWriterOut) {
  SetupLog("first");
  MoveAside m{nullptr, TodayLogPath("setup"), TodayLogPath("setup") + ".aside"};
  m.held = CreateFileA(m.from.c_str(), DELETE | GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(m.held, INVALID_HANDLE_VALUE);
  HANDLE mover = CreateThread(nullptr, 0, MoveAsideSoon, &m, 0, nullptr);
  SetupLog("second");
  WaitForSingleObject(mover, INFINITE);
  CloseHandle(mover);
  EXPECT_EQ(ReadFileBytes(m.to).find("second"), std::string::npos);
  EXPECT_EQ(ReadLogMessages("setup"), std::vector<std::string>{"second"});
  DeleteFileA(m.to.c_str());
}

// A second name of someone else's file planted as today's log while the writer clears last
// week's: the create that follows does not open it.
std::string g_victim;
TEST_F(LogTest, HardLinkPlantedAsTodaysLogDuringTheCleanupIsNotWrittenThrough) {
  g_victim = NewTempFolder("victim") + "\\precious.txt";
  WriteFileBytes(g_victim, "precious");
  SetLogCleanupHookForTest(
      [] { CreateHardLinkA(TodayLogPath("setup").c_str(), g_victim.c_str(), nullptr); });
  SetupLog("through the link");
  SetLogCleanupHookForTest(nullptr);
  ASSERT_TRUE(Exists(TodayLogPath("setup")));
  EXPECT_EQ(ReadFileBytes(g_victim), "precious");
}

// A second name of someone else's read-only file planted as last week's log: the clean-up
// neither deletes through it nor clears the file's read-only attribute.
TEST_F(LogTest, HardLinkPlantedAsLastWeeksLogIsLeftAlone) {
  std::string victim = NewTempFolder("victim") + "\\precious.txt";
  WriteFileBytes(victim, "precious");
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA(LogFolder().c_str(), nullptr);
  std::string planted = PathFor("setup", WeekBefore(Today()));
  ASSERT_TRUE(CreateHardLinkA(planted.c_str(), victim.c_str(), nullptr));
  SetupLog("new day");
  EXPECT_EQ(GetFileAttributesA(victim.c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(Exists(planted));
  SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(planted.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(planted.c_str());
}

// Two processes write the same log at once: every line whole, none lost, each writer's
// lines in its own order.
TEST_F(LogTest, ConcurrentWritersNeverMixOrLoseLines) {
  const int kLines = 400;
  std::string writer = SiblingPath("log_writer.exe");
  PROCESS_INFORMATION pi[2];
  for (int i = 0; i < 2; ++i) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string cmd = "\"" + writer + "\" " + (i ? "B" : "A") + " " + std::to_string(kLines);
    ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                               &pi[i]));
  }
  for (auto& p : pi) {
    WaitForSingleObject(p.hProcess, 120000);
    CloseHandle(p.hProcess);
    CloseHandle(p.hThread);
  }
  std::regex line(
      R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[[0-9a-f]+\] ([AB]) (\d{5}) the quick brown fox jumps over the lazy dog$)");
  std::map<std::string, int> next;
  int whole = 0;
  for (const std::string& l : ReadLogLines("setup")) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << "broken line: " << l;
    EXPECT_EQ(std::stoi(m[2]), next[m[1]]++) << l;
    ++whole;
  }
  EXPECT_EQ(whole, 2 * kLines);
  EXPECT_EQ(next["A"], kLines);
  EXPECT_EQ(next["B"], kLines);
}

}  // namespace
