// Every process the setup starts (7-Zip, the agent, the installer) is started through this
// one function, alone in its unit: unit tests link a recorder of their own in its place
// (tests/support/start_recorder.cpp) to see the start-up block, the flags and the handles
// that reach Windows, which Wine does not check. In the program it is CreateProcessA itself:
// the same parameters, so the unit is one jump and the seam costs nothing.
#pragma once
#include <windows.h>

BOOL WINAPI StartProcess(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                         LPSECURITY_ATTRIBUTES thread, BOOL inheritHandles, DWORD flags,
                         LPVOID environment, LPCSTR folder, LPSTARTUPINFOA startup,
                         LPPROCESS_INFORMATION info);
