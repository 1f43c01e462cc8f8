// The wait for the installer with real processes under Wine: which processes of the
// installer's name it follows. A process ID taken over by an older process cannot be
// arranged here, so the list of processes is a stand-in: Process32First and Process32Next,
// swapped in this program's import table, show the real processes the test names.
#include "setup/installer_wait.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/util/win_test_util.h"

namespace {

using Process32Fn = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32);
extern "C" Process32Fn g_process32FirstImport asm(OLVAN_IMPORT_SLOT(Process32First, 8));
extern "C" Process32Fn g_process32NextImport asm(OLVAN_IMPORT_SLOT(Process32Next, 8));

// cmd.exe ending with code; started suspended when asked.
PROCESS_INFORMATION StartCmd(int code, bool suspended) {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  std::string line = std::string("\"") + dir + "\\cmd.exe\" /c exit " + std::to_string(code);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, suspended ? CREATE_SUSPENDED : 0,
                      nullptr, nullptr, &si, &pi))
    ADD_FAILURE() << "cmd.exe cannot be started, error " << GetLastError();
  return pi;
}

// The lists the stand-in shows: the started installer and an older process (made before
// it) that names it as its parent, as a process whose ID was reused would; then, once the
// installer has ended, no process of its name. The older one is let run only then, so that
// it ends after the installer.
struct Listing {
  PROCESS_INFORMATION installer, older;
  const char* olderName = kInstallerExe;  // the name the second process is listed under
  bool installerSuspended = false;        // resumed once the lists have shown both
  bool secondMadeByTheFollow = false;     // the second process is made as the first follow lists
  DWORD thirdPid = 0;  // when set, also listed: a process of the installer's name, the second's child
  int lists = 0;
  std::vector<PROCESSENTRY32> shown;
  size_t next = 0;
} g_listing;

PROCESSENTRY32 Entry(DWORD pid, DWORD parent, const char* name) {
  PROCESSENTRY32 pe = {};
  pe.dwSize = sizeof pe;
  pe.th32ProcessID = pid;
  pe.th32ParentProcessID = parent;
  lstrcpynA(pe.szExeFile, name, MAX_PATH);
  return pe;
}

BOOL WINAPI ListedNext(HANDLE, LPPROCESSENTRY32 pe) {
  if (g_listing.next >= g_listing.shown.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *pe = g_listing.shown[g_listing.next++];
  return TRUE;
}

BOOL WINAPI ListedFirst(HANDLE snap, LPPROCESSENTRY32 pe) {
  Listing& l = g_listing;
  l.shown.clear();
  l.next = 0;
  if (++l.lists <= 3) {
    // The first list is the wait's look for the installer, the second the first follow's.
    if (l.lists == 2 && l.secondMadeByTheFollow) {
      Sleep(20);
      l.older = StartCmd(5, true);
    }
    l.shown.push_back(Entry(l.installer.dwProcessId, GetCurrentProcessId(), kInstallerExe));
    l.shown.push_back(Entry(l.older.dwProcessId, l.installer.dwProcessId, l.olderName));
    if (l.thirdPid != 0) l.shown.push_back(Entry(l.thirdPid, l.older.dwProcessId, kInstallerExe));
  } else {
    if (l.installerSuspended) ResumeThread(l.installer.hThread);
    WaitForSingleObject(l.installer.hProcess, 60000);
    ResumeThread(l.older.hThread);
    l.shown.push_back(Entry(GetCurrentProcessId(), 0, "other.exe"));
  }
  return ListedNext(snap, pe);
}

// What each open of a process to follow asks: to wait for it and to read its times and
// exit code, nothing more, and no inheritance (Wine grants a process of the same account
// whatever is asked).
using OpenProcessFn = HANDLE(WINAPI*)(DWORD, BOOL, DWORD);
extern "C" OpenProcessFn g_openProcessImport asm(OLVAN_IMPORT_SLOT(OpenProcess, 12));
OpenProcessFn g_realOpenProcess;
std::vector<std::pair<DWORD, BOOL>> g_opens;
HANDLE WINAPI RecordOpenProcess(DWORD access, BOOL inherit, DWORD pid) {
  g_opens.emplace_back(access, inherit);
  return g_realOpenProcess(access, inherit, pid);
}

// Waits for the listing's installer with the stand-in lists, then lets the second process
// end and closes both. Every process opened to be followed was opened as it must be.
InstallerEnd WaitWithTheListing() {
  InstallerEnd end;
  g_opens.clear();
  {
    ImportSwap<Process32Fn> first(&g_process32FirstImport, ListedFirst);
    ImportSwap<Process32Fn> next(&g_process32NextImport, ListedNext);
    ImportSwap<OpenProcessFn> open(&g_openProcessImport, RecordOpenProcess);
    g_realOpenProcess = open.Real();
    WaitForInstaller(g_listing.installer.hProcess, &end);
  }
  EXPECT_FALSE(g_opens.empty());
  for (const auto& o : g_opens)
    EXPECT_EQ(o, std::make_pair(static_cast<DWORD>(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION), FALSE));
  ResumeThread(g_listing.older.hThread);
  WaitForSingleObject(g_listing.older.hProcess, 60000);
  for (PROCESS_INFORMATION* pi : {&g_listing.installer, &g_listing.older}) {
    CloseHandle(pi->hThread);
    CloseHandle(pi->hProcess);
  }
  return end;
}

// A process of the installer's name that names the installer as its parent but was made
// before it is not the installer's: its ID was reused. It is named as not followed, and its
// exit code (ending after the installer) never becomes the outcome. Nor is a process listed
// as its child looked at: no handle proves whose child that is.
TEST(InstallerWait, ProcessMadeBeforeItsParentIsNotFollowed) {
  ClearLogFolder();
  g_listing = Listing();
  g_listing.thirdPid = 0x7FFFFFFC;  // no process has it: an open of it would fail and be named
  g_listing.older = StartCmd(7, true);
  Sleep(100);
  g_listing.installer = StartCmd(0, false);
  InstallerEnd end = WaitWithTheListing();
  EXPECT_EQ(end.exitCode, 0u);
  const std::string notFollowed = std::string(kInstallerExe) + " process " +
                                  std::to_string(g_listing.older.dwProcessId) +
                                  ": its outcome is not known, error ";
  std::vector<std::string> log = ReadLogMessages("setup");
  size_t named = 0;
  const std::string third = " process " + std::to_string(0x7FFFFFFC) + ":";
  size_t thirdNamed = 0;
  for (const std::string& line : log) {
    named += line.rfind(notFollowed, 0) == 0;
    thirdNamed += line.find(third) != std::string::npos;
  }
  EXPECT_EQ(named, 1u);
  EXPECT_EQ(thirdNamed, 0u);
  EXPECT_EQ(log.back(),
            std::string(kInstallerExe) + " ended with exit code 0 (0x00000000) in process " +
                std::to_string(g_listing.installer.dwProcessId) + ", the one the setup started.");
}

// Process names are compared without regard to case, as Windows names files: a copy the
// installer started under its name written in capitals is followed, and, ending after the
// installer with a failure, decides the outcome.
TEST(InstallerWait, CopyListedInCapitalsIsFollowed) {
  ClearLogFolder();
  std::string capitals = kInstallerExe;
  CharUpperA(&capitals[0]);
  g_listing = Listing();
  g_listing.olderName = capitals.c_str();
  g_listing.installerSuspended = true;
  g_listing.installer = StartCmd(0, true);
  Sleep(100);
  g_listing.older = StartCmd(5, true);
  InstallerEnd end = WaitWithTheListing();
  EXPECT_EQ(end.exitCode, 5u);
}

// A process listed as the installer's child but made after the list was taken is not the
// one the list showed: its ID was reused meanwhile. It is not followed, and its exit code
// (ending after the installer with a failure) never becomes the outcome.
TEST(InstallerWait, ProcessMadeAfterTheListIsNotFollowed) {
  ClearLogFolder();
  g_listing = Listing();
  g_listing.installerSuspended = true;
  g_listing.secondMadeByTheFollow = true;
  g_listing.installer = StartCmd(0, true);
  InstallerEnd end = WaitWithTheListing();
  EXPECT_EQ(end.exitCode, 0u);
}

}  // namespace
