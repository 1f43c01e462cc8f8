#include "util/process_start.h"

BOOL StartProcess(const char* application, char* commandLine, BOOL inheritHandles, DWORD flags,
                  STARTUPINFOA* startup, PROCESS_INFORMATION* process) {
  return CreateProcessA(application, commandLine, nullptr, nullptr, inheritHandles, flags, nullptr,
                        nullptr, startup, process);
}
