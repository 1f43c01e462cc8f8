#include <windows.h>

#include <tlhelp32.h>

#include "package/proc_check.h"
#include "util/handles.h"
#include "util/log.h"

int chkProcExist(const char* logName, const char* exeName) {
  UniqueHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap.Valid()) {
    ModuleLogLastError(logName, "chkProcExist: createToolSnap failed with err: %d");
    return 2;
  }
  PROCESSENTRY32 pe;
  pe.dwSize = sizeof pe;
  if (!Process32First(snap.Get(), &pe)) {
    ModuleLogLastError(logName, "chkProcExist: process32First failed with err: %d");
    return 2;
  }
  do {
    if (lstrcmpiA(pe.szExeFile, exeName) == 0) return 0;
  } while (Process32Next(snap.Get(), &pe));
  return 1;
}
