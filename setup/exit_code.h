// The exit code of Setup.exe, chosen from the way the run ended, in the conventions that
// deployment tools already read (those of Windows Installer). No operating system needed.
#pragma once
#include <stdint.h>

#include "util/win_values.h"

enum class RunEnd {
  kInstalled,            // the installer was started and has ended
  kInstallFailed,        // the sequence stopped early, with its install error number
  kInstallerNotStarted,  // the sequence went on, but the installer could not be started
  kPasswordRefused,      // the password dialog ended without the right password
  kNoPasswordDialog,     // the password dialog could not be made, or nobody can answer it
  kBusy,                 // another copy runs, the instance name is taken, the updater runs
  kNotAdmin,
  kDiskSpace,
};

// Windows Installer's codes that the setup gives.
const uint32_t kExitSuccess = win::kErrorSuccess;
const uint32_t kExitInstallFailure = win::kErrorInstallFailure;
const uint32_t kExitUserExit = win::kErrorInstallUserExit;
const uint32_t kExitAlreadyRunning = win::kErrorInstallAlreadyRunning;
const uint32_t kExitElevationRequired = win::kErrorElevationRequired;
const uint32_t kExitDiskFull = win::kErrorDiskFull;
const uint32_t kExitRebootRequired = win::kErrorSuccessRebootRequired;
const uint32_t kExitRebootInitiated = win::kErrorSuccessRebootInitiated;

// installErr is the install error number (kInstallFailed only): the setup's own numbers
// 150-168 and 351-358 are passed on as they are, any other (0 included) gives 1603.
// installerExit is the installer's outcome (kInstalled only), passed on as it is: 0, a
// restart it asks for (3010, 1641), or the failure it reports, a crash's status included.
// It may coincide with one of the setup's own numbers; the setup log tells which it is.
uint32_t SetupExitCode(RunEnd end, uint32_t installErr, uint32_t installerExit);

// What an exit code of the setup means, in a few words for the log: the install error's
// text for the setup's own numbers.
const char* ExitCodeMeaning(uint32_t code);
// The words of the end line: ExitCodeMeaning, but a failure the installer reported is named
// as the installer's own code whatever its number.
const char* RunEndMeaning(RunEnd end, uint32_t code);

// Whether anybody can answer a window of the setup: false only when the flags of the
// process's window station could be read and lack WSF_VISIBLE (session 0, a service).
bool WindowStationVisible(bool flagsRead, uint32_t flags);
// Whether a user can answer a window in the process's session: false only when the session
// could be read and is 0, where services run and no user logs on, whatever its window
// station's flags say.
bool SessionCanAnswer(bool sessionRead, uint32_t sessionId);
