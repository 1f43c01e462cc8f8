// The install sequence: unpack, extract, place, run the agent and the installer.
#pragma once
#include <windows.h>

// What became of the installer: whether it could be started and, once it has ended, its
// exit code.
struct InstallerEnd {
  bool started = false;
  DWORD exitCode = 0;
};

// True when the installer was started and has ended; false when the sequence stopped
// early, with the reason in *pdwErr (the caller sets it to 0 beforehand). A sequence that
// went on to its end although the installer could not be started also returns true;
// installer (may be null) tells the two apart. Releases the single-instance event on every
// path.
BOOL UnpackAndSetup(DWORD* pdwErr, InstallerEnd* installer = nullptr);
