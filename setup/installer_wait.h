// The wait for the installer, and its outcome.
#pragma once
#include <windows.h>

#include "setup/install_sequence.h"

// The installer executable in the package, "OlvanSetup.exe".
extern const char kInstallerExe[];

// Waits until the installer started as process has shown up (at most about 30 s) and until
// no process of its name runs any more, following meanwhile the copies of itself that it
// starts, and their copies; logs both waits and the outcome. installer->exitCode receives
// the exit code of the process that decides the outcome (DecidingProcess).
void WaitForInstaller(HANDLE process, InstallerEnd* installer);
