// The command runner against real child processes under Windows.
#include "package/cmd_runner.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <string>
#include <thread>

#include "package/proc_check.h"
#include "tests/support/start_recorder.h"
#include "tests/util/win_test_util.h"
#include "util/text_buf.h"

std::string NumberedText(size_t n);  // shared with cmd_child.cpp

namespace {

std::string Child() { return SiblingPath("cmd_child.exe"); }

struct CmdResult {
  int result;
  std::string output;
};

CmdResult RunCmd(const std::string& cmd, const char* initial = "") {
  TextBuf out;
  out.Assign(initial);
  int r = GetCmd(cmd.c_str(), &out, "Setup");
  // Every byte the buffer holds, a NUL and what follows it included.
  return {r, std::string(out.CStr(), out.Length())};
}

TEST(GetCmd, MissingProgramFailsAndLogsErrorCode) {
  ClearLogFolder();
  CmdResult r = RunCmd("C:\\no\\such\\program.exe x", "kept");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.output, "kept");
  auto lines = ReadLogMessages("stp_Setup");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "GetCmd: Create CMD Process Failed with ErrCode:2");
}

// A pipe the system cannot make (here a stand-in: CreatePipe swapped in this program's
// import table fails as it does when the system runs out of resources): no child, the
// output untouched, and the log gives the error.
using CreatePipeFn = BOOL(WINAPI*)(PHANDLE, PHANDLE, LPSECURITY_ATTRIBUTES, DWORD);
extern "C" CreatePipeFn g_createPipeImport asm(OLVAN_IMPORT_SLOT(CreatePipe, 16));
BOOL WINAPI PipeRefused(PHANDLE, PHANDLE, LPSECURITY_ATTRIBUTES, DWORD) {
  SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return FALSE;
}

TEST(GetCmd, PipeThatCannotBeMadeFailsAndLogsErrorCode) {
  ClearLogFolder();
  CmdResult r;
  {
    ImportSwap<CreatePipeFn> swap(&g_createPipeImport, PipeRefused);
    r = RunCmd(Child() + " print 10", "kept");
  }
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.output, "kept");
  EXPECT_EQ(ReadLogMessages("stp_Setup"),
            std::vector<std::string>{"GetCmd: Create Pipe Failed with ErrCode:1450"});
}

TEST(GetCmd, CollectsOutputLongerThanOneReadWholeAndInOrder) {
  for (size_t n : {4095u, 4096u, 4097u, 100000u}) {
    CmdResult r = RunCmd(Child() + " print " + std::to_string(n));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.output, NumberedText(n)) << n;
  }
}

TEST(GetCmd, SilentChildLeavesOutputUnchanged) {
  CmdResult r = RunCmd(Child() + " silent", "before");
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.output, "before");
}

TEST(GetCmd, ChildThatEndsAtOnceIsStillReadCompletely) {
  for (int i = 0; i < 5; ++i) {
    CmdResult r = RunCmd(Child() + " ok");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.output, "\r\nEverything is Ok\r\n");
  }
}

TEST(GetCmd, CollectsStandardErrorAndDropsTextAfterNul) {
  EXPECT_EQ(RunCmd(Child() + " stderr").output, "trouble\r\n");
  EXPECT_EQ(RunCmd(Child() + " nul").output, "ab");
}

TEST(GetCmd, WaitsForChildThatRunsLongerThanTheFirstWait) {
  DWORD start = GetTickCount();
  CmdResult r = RunCmd(Child() + " sleep 700", "x");
  EXPECT_EQ(r.result, 1);
  EXPECT_GE(GetTickCount() - start, 600u);
}

TEST(GetCmd, ChildGetsNoStandardInput) { EXPECT_EQ(RunCmd(Child() + " stdin").output, "none"); }

// The pipe's read end (the server end) is not inheritable while the child runs: no other
// program the setup starts could take it along.
TEST(GetCmd, ReadEndIsNotInheritable) {
  CmdResult r{};
  std::thread run([&] { r = RunCmd(Child() + " sleep 1500"); });
  HANDLE readEnd = nullptr;
  DWORD inherit = 1;
  for (DWORD start = GetTickCount(); readEnd == nullptr && GetTickCount() - start < 20000;) {
    for (ULONG_PTR v = 4; v < 0x4000 && readEnd == nullptr; v += 4) {
      DWORD flags = 0;
      HANDLE h = reinterpret_cast<HANDLE>(v);
      if (GetNamedPipeInfo(h, &flags, nullptr, nullptr, nullptr) && (flags & PIPE_SERVER_END) &&
          GetHandleInformation(h, &inherit))
        readEnd = h;
    }
  }
  // Read again while the child still sleeps: the first look may fall between the pipe's
  // making and the change of its flag.
  Sleep(300);
  if (readEnd != nullptr) GetHandleInformation(readEnd, &inherit);
  run.join();
  ASSERT_NE(readEnd, nullptr);
  EXPECT_EQ(inherit & HANDLE_FLAG_INHERIT, 0u);
  EXPECT_EQ(r.result, 1);
}

// The handle list passes the pipe's write end and nothing else the setup could inherit
// (Wine 8 honours the list too: without it the child holds the event).
TEST(GetCmd, ChildInheritsNoOtherHandleOfTheSetup) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE event = CreateEventA(&sa, TRUE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  CmdResult r = RunCmd(Child() + " has " + std::to_string(reinterpret_cast<ULONG_PTR>(event)));
  CloseHandle(event);
  EXPECT_EQ(r.output, "none");
}

// What the start hands to Windows, recorded (tests/support/start_recorder.h): Wine starts
// the child whatever cb says and takes no notice of a table of inherited files; Windows
// refuses the start or ignores the list when cb is not the extended block's.
TEST(GetCmd, StartBlockIsExtendedWithThePipesWriteEndAsItsOnlyHandle) {
  RecordedStarts().clear();
  CmdResult r = RunCmd(Child() + " ok");
  EXPECT_EQ(r.result, 1);
  ASSERT_EQ(RecordedStarts().size(), 1u);
  const RecordedStart& s = RecordedStarts()[0];
  EXPECT_FALSE(s.hasApplication);
  EXPECT_EQ(s.commandLine, Child() + " ok");
  EXPECT_TRUE(s.defaults);
  EXPECT_EQ(s.flags, static_cast<DWORD>(EXTENDED_STARTUPINFO_PRESENT));
  EXPECT_EQ(s.startup.cb, sizeof(STARTUPINFOEXA));
  EXPECT_EQ(s.inheritHandles, TRUE);
  EXPECT_EQ(s.startup.dwFlags, static_cast<DWORD>(STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW));
  EXPECT_EQ(s.startup.wShowWindow, SW_HIDE);
  // Built from zero: nothing of the setup's own start-up information goes along.
  EXPECT_EQ(s.startup.lpReserved2, nullptr);
  EXPECT_EQ(s.startup.cbReserved2, 0);
  EXPECT_EQ(s.startup.lpReserved, nullptr);
  EXPECT_EQ(s.startup.lpDesktop, nullptr);
  EXPECT_EQ(s.startup.lpTitle, nullptr);
  EXPECT_EQ(s.startup.hStdInput, nullptr);
  EXPECT_EQ(s.startup.hStdError, s.startup.hStdOutput);
  EXPECT_TRUE(s.stdOutputIsPipe);
  EXPECT_EQ(s.stdOutputPipeFlags & PIPE_SERVER_END, 0u);  // the write (client) end
  ASSERT_TRUE(s.listRead);
  ASSERT_EQ(s.listCount, 1u);
  ASSERT_EQ(s.attributes.size(), 1u);
  EXPECT_EQ(s.attributes[0].attribute, static_cast<DWORD_PTR>(PROC_THREAD_ATTRIBUTE_HANDLE_LIST));
  EXPECT_EQ(s.attributes[0].size, sizeof(HANDLE));
  EXPECT_EQ(s.attributes[0].handles, std::vector<HANDLE>{s.startup.hStdOutput});
}

TEST(StartProgram, PlainBlockShownAsAskedInheritingNothing) {
  RecordedStarts().clear();
  ClearLogFolder();
  UniqueHandle p = StartProgram(Child().c_str(), "silent", SW_SHOW);
  ASSERT_TRUE(p.Valid());
  EXPECT_EQ(WaitForSingleObject(p.Get(), 20000), WAIT_OBJECT_0);
  ASSERT_EQ(RecordedStarts().size(), 1u);
  const RecordedStart& s = RecordedStarts()[0];
  EXPECT_TRUE(s.hasApplication);
  EXPECT_EQ(s.application, Child());
  EXPECT_TRUE(s.defaults);
  EXPECT_EQ(s.commandLine, "\"" + Child() + "\" silent");
  EXPECT_EQ(s.flags, 0u);
  EXPECT_EQ(s.startup.cb, sizeof(STARTUPINFOA));
  EXPECT_EQ(s.inheritHandles, FALSE);
  EXPECT_EQ(s.startup.dwFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(s.startup.wShowWindow, SW_SHOW);
  EXPECT_EQ(s.startup.lpReserved2, nullptr);
  EXPECT_EQ(s.startup.cbReserved2, 0);
  EXPECT_EQ(s.startup.hStdOutput, nullptr);

  // Without arguments the command line is the quoted path alone; a program that cannot be
  // started is logged with the system's error.
  RecordedStarts().clear();
  std::string missing = NewTempFolder("start") + "\\none.exe";
  EXPECT_FALSE(StartProgram(missing.c_str(), nullptr, SW_HIDE).Valid());
  ASSERT_EQ(RecordedStarts().size(), 1u);
  EXPECT_EQ(RecordedStarts()[0].commandLine, "\"" + missing + "\"");
  EXPECT_EQ(RecordedStarts()[0].startup.wShowWindow, SW_HIDE);
  auto lines = ReadLogMessages("setup");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), missing + " could not be started, error 2.");
}

// Starts a copy of the child under another image name and keeps it running.
class RunningProcess {
 public:
  explicit RunningProcess(const std::string& imageName) {
    path_ = NewTempFolder("proc") + "\\" + imageName;
    CopyFileA(Child().c_str(), path_.c_str(), FALSE);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string cmd = "\"" + path_ + "\" sleep 60000";
    ok_ = CreateProcessA(path_.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                         &pi_);
  }
  ~RunningProcess() {
    if (ok_) {
      TerminateProcess(pi_.hProcess, 0);
      WaitForSingleObject(pi_.hProcess, 5000);
      CloseHandle(pi_.hProcess);
      CloseHandle(pi_.hThread);
    }
    DeleteFileA(path_.c_str());
  }
  bool ok() const { return ok_; }

 private:
  std::string path_;
  PROCESS_INFORMATION pi_ = {};
  bool ok_ = false;
};

TEST(ChkProcExist, MatchesWholeImageNameInAnyCase) {
  RunningProcess p("Plexiworkanda.exe");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(chkProcExist("waitSetup", "Plexiworkanda.exe"), 0);
  EXPECT_EQ(chkProcExist("waitSetup", "PLEXIWORKANDA.EXE"), 0);
  EXPECT_EQ(chkProcExist("waitSetup", "Plexiworkanda"), 1);
  EXPECT_EQ(chkProcExist("waitSetup", "Plexiworkanda.e"), 1);
  EXPECT_EQ(chkProcExist("waitSetup", "workanda.exe"), 1);
}

TEST(ChkProcExist, FindsProcessListedUnderTheCutName) {
  RunningProcess p("Plexiworkanda.e");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(chkProcExist("waitSetup", "Plexiworkanda.e"), 0);
  EXPECT_EQ(chkProcExist("waitSetup", "Plexiworkanda.exe"), 1);
}

// A walk of the process list that the system refuses at its first entry tells nothing about
// what runs: the answer is "unknown" (2), never "not running", and the log says why. Wine's
// snapshot always has a first entry; a stand-in, Process32First swapped in this program's
// import table, fails as Windows may (a snapshot the caller may not read).
using FirstFn = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32);
extern "C" FirstFn g_process32FirstImport asm(OLVAN_IMPORT_SLOT(Process32First, 8));

BOOL WINAPI FirstRefused(HANDLE, LPPROCESSENTRY32) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
// And a snapshot the system cannot take at all.
using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
extern "C" SnapshotFn g_snapshotImport asm(OLVAN_IMPORT_SLOT(CreateToolhelp32Snapshot, 8));
HANDLE WINAPI SnapshotRefused(DWORD, DWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return INVALID_HANDLE_VALUE;
}

TEST(ChkProcExist, ListThatCannotBeReadIsUnknown) {
  RunningProcess p("Plexiworkanda.exe");
  ASSERT_TRUE(p.ok());
  ClearLogFolder();
  {
    ImportSwap<FirstFn> swap(&g_process32FirstImport, FirstRefused);
    EXPECT_EQ(chkProcExist("waitSetup", "Plexiworkanda.exe"), 2);
    EXPECT_EQ(chkProcExist("waitSetup", "NotRunning.exe"), 2);
  }
  {
    ImportSwap<SnapshotFn> swap(&g_snapshotImport, SnapshotRefused);
    EXPECT_EQ(chkProcExist("waitSetup", "Plexiworkanda.exe"), 2);
  }
  EXPECT_EQ(ReadLogMessages("stp_waitSetup"),
            (std::vector<std::string>{"chkProcExist: process32First failed with err: 5",
                                      "chkProcExist: process32First failed with err: 5",
                                      "chkProcExist: createToolSnap failed with err: 8"}));
  EXPECT_EQ(chkProcExist("waitSetup", "Plexiworkanda.exe"), 0);
}

}  // namespace
