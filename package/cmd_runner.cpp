#include "package/cmd_runner.h"

#include <windows.h>

#include <string.h>

#include "util/handles.h"
#include "util/log.h"
#include "util/process_start.h"
#include "util/text_buf.h"

namespace {
const DWORD kReadChunk = 4096;
const DWORD kFirstWaitMs = 20;
}  // namespace

int GetCmd(const char* cmdLine, TextBuf* output, const char* logName) {
  // The child gets the pipe's write end and nothing else of the setup: the read end stays
  // the setup's own, there is no standard input, and the handle list names the write end as
  // the one handle to inherit (else every inheritable handle of the setup would go along).
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  if (!CreatePipe(readEnd.Receive(), writeEnd.Receive(), &sa, 0) ||
      !SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0)) {
    ModuleLogLastError(logName, "GetCmd: Create Pipe Failed with ErrCode:%lu");
    return 0;
  }

  // Built from zero, not from the setup's own start-up information: whoever started the
  // setup may have put the C runtime's table of inherited files there (lpReserved2), and
  // it must not reach the child.
  STARTUPINFOEXA six;
  memset(&six, 0, sizeof six);
  STARTUPINFOA& si = six.StartupInfo;
  si.cb = sizeof six;
  si.hStdOutput = writeEnd.Get();
  si.hStdError = writeEnd.Get();
  si.wShowWindow = SW_HIDE;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  // The list points at inherit, which must outlive CreateProcessA.
  HANDLE inherit = writeEnd.Get();
  ProcAttributeList attributes(1);
  six.lpAttributeList = attributes.Get();

  // CreateProcessA may write into the command line, so it gets its own copy.
  TextBuf cmd;
  if (!cmd.Append(cmdLine)) return 0;
  PROCESS_INFORMATION pi;
  memset(&pi, 0, sizeof pi);
  if (six.lpAttributeList == nullptr ||
      !UpdateProcThreadAttribute(six.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                 &inherit, sizeof inherit, nullptr, nullptr) ||
      !StartProcess(nullptr, const_cast<char*>(cmd.CStr()), nullptr, nullptr, TRUE,
                    EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &si, &pi)) {
    ModuleLogLastError(logName, "GetCmd: Create CMD Process Failed with ErrCode:%lu");
    return 0;
  }
  UniqueHandle process(pi.hProcess), thread(pi.hThread);

  if (WaitForSingleObject(process.Get(), kFirstWaitMs) == WAIT_FAILED) {
    ModuleLog(logName, "GetCmd: WAIT_FAILED!", 0);
    return 0;
  }
  // Only the child's copies of the write end remain: the reads end when it has exited.
  writeEnd.Reset();
  process.Reset();
  thread.Reset();

  TextBuf collected;
  DWORD total = 0;
  char chunk[kReadChunk + 1];
  DWORD got = 0;
  memset(chunk, 0, sizeof chunk);
  BOOL ok = ReadFile(readEnd.Get(), chunk, kReadChunk, &got, nullptr);
  while (ok && got > 0) {
    collected.Append(chunk, strlen(chunk));
    total += got;
    memset(chunk, 0, sizeof chunk);
    ok = ReadFile(readEnd.Get(), chunk, kReadChunk, &got, nullptr);
  }
  if (total != 0 && output != nullptr) output->Swap(collected);
  return 1;
}
