#include "setup/exit_code.h"

#include "util/win_values.h"

namespace {
bool IsOwnInstallError(uint32_t n) { return (n >= 150 && n <= 168) || (n >= 351 && n <= 358); }
}  // namespace

uint32_t SetupExitCode(RunEnd end, uint32_t installErr, uint32_t installerExit) {
  switch (end) {
    case RunEnd::kInstalled:
      return installerExit == kExitRebootRequired || installerExit == kExitRebootInitiated
                 ? installerExit
                 : kExitSuccess;
    case RunEnd::kInstallFailed:
      return IsOwnInstallError(installErr) ? installErr : kExitInstallFailure;
    case RunEnd::kPasswordRefused: return kExitUserExit;
    case RunEnd::kBusy: return kExitAlreadyRunning;
    case RunEnd::kNotAdmin: return kExitElevationRequired;
    case RunEnd::kDiskSpace: return kExitDiskFull;
    case RunEnd::kInstallerNotStarted:
    case RunEnd::kNoPasswordDialog:
    default: return kExitInstallFailure;
  }
}

bool WindowStationVisible(bool flagsRead, uint32_t flags) {
  return !flagsRead || (flags & win::kWsfVisible) != 0;
}
