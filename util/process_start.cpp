#include "util/process_start.h"

BOOL WINAPI StartProcess(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                         LPSECURITY_ATTRIBUTES thread, BOOL inheritHandles, DWORD flags,
                         LPVOID environment, LPCSTR folder, LPSTARTUPINFOA startup,
                         LPPROCESS_INFORMATION info) {
  return CreateProcessA(application, commandLine, process, thread, inheritHandles, flags,
                        environment, folder, startup, info);
}
