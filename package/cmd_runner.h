// Runs console programs hidden and collects what they print.
#pragma once
#include "util/fixed_str.h"
#include "util/handles.h"
#include "util/log.h"
#include "util/process_start.h"

class TextBuf;

// Runs cmdLine (first token: the program) as a hidden child with standard output and
// standard error on a pipe, and waits until every writer of the pipe has ended. The child
// gets no standard input and inherits the pipe's write end only.
// Returns 1 when the child ran and its output was collected, 0 when the pipe, the process
// or the first wait failed (logged under logName). output is replaced only when the child
// wrote at least one byte; text after a NUL byte within one read is dropped.
int GetCmd(const char* cmdLine, TextBuf* output, const char* logName);

// Starts the program path with option (or none) as its arguments and the show state show,
// inheriting no handle. The process's handle, or none when it could not be started (logged
// in the setup log with the error). Inline: its callers compile it with the values they
// pass.
static inline UniqueHandle StartProgram(const char* path, const char* option, WORD show) {
  char cmd[MAX_PATH + 64];
  bool formed = option != nullptr ? StrFormat(cmd, sizeof cmd, "\"%s\" %s", path, option)
                                  : StrFormat(cmd, sizeof cmd, "\"%s\"", path);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = show;
  PROCESS_INFORMATION pi;
  if (!formed) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  if (!formed || !StartProcess(path, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    SetupLogLastError("%s could not be started, error %lu.", path);
    return UniqueHandle();
  }
  CloseHandle(pi.hThread);
  return UniqueHandle(pi.hProcess);
}
