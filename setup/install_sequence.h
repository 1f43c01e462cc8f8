// The install sequence: unpack, extract, place, run the agent and the installer.
#pragma once
#include <windows.h>

// True when the installer was started and has ended; false when the sequence stopped
// early, with the reason in *pdwErr (the caller sets it to 0 beforehand). Releases the
// single-instance event on every path.
BOOL UnpackAndSetup(DWORD* pdwErr);
