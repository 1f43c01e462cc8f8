// util/process_start.cpp itself (the other tests of this folder link a recorder in its
// place): a child it starts gets what CreateProcessA would have given it.
#include "util/process_start.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/util/win_test_util.h"
#include "util/handles.h"

namespace {

// What cmd_child reports of a start through start, with an inheritable, signalled event it
// may or may not take along.
template <typename Start>
std::string ChildReport(Start start, BOOL inheritHandles, DWORD flags, const char* tag) {
  const std::string file = NewTempFolder("start") + "\\report-" + tag;
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  UniqueHandle event(CreateEventA(&sa, TRUE, TRUE, nullptr));
  std::string cmd = "\"" + SiblingPath("cmd_child.exe") + "\" report " + file + " " +
                    std::to_string(reinterpret_cast<ULONG_PTR>(event.Get()));
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEPOSITION | STARTF_USESIZE;
  si.wShowWindow = SW_SHOWMINNOACTIVE;
  si.dwX = 11;
  si.dwY = 22;
  si.dwXSize = 333;
  si.dwYSize = 444;
  si.lpTitle = const_cast<char*>("olvan child");
  PROCESS_INFORMATION pi = {};
  if (!start(nullptr, &cmd[0], nullptr, nullptr, inheritHandles, flags, nullptr, nullptr, &si, &pi))
    return "not started: " + std::to_string(GetLastError());
  WaitForSingleObject(pi.hProcess, 20000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ReadFileBytes(file);
}

// Handles, flags and the start-up block reach the child as given, with handles kept and
// with them left behind.
TEST(StartProcess, ChildGetsWhatCreateProcessWouldGiveIt) {
  for (BOOL inherit : {FALSE, TRUE}) {
    for (DWORD flags : {DWORD{0}, DWORD{DETACHED_PROCESS}}) {
      EXPECT_EQ(ChildReport(StartProcess, inherit, flags, "seam"),
                ChildReport(CreateProcessA, inherit, flags, "direct"))
          << "inherit " << inherit << " flags " << flags;
    }
  }
}

}  // namespace
