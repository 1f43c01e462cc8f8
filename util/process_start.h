// Every process the setup starts (7-Zip, the agent, the installer) is started through this
// one function, alone in its unit: unit tests link a recorder of their own in its place
// (tests/support/start_recorder.cpp) to see the start-up block, the flags and the handles
// that reach Windows, which Wine does not check. The program links this unit, which only
// forwards, so the seam costs it nothing.
#pragma once
#include <windows.h>

// CreateProcessA without process or thread security, with the setup's environment and
// current folder. startup is a STARTUPINFOA, or the STARTUPINFOEXA that holds it when flags
// has EXTENDED_STARTUPINFO_PRESENT.
BOOL StartProcess(const char* application, char* commandLine, BOOL inheritHandles, DWORD flags,
                  STARTUPINFOA* startup, PROCESS_INFORMATION* process);
