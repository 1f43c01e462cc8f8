#include "setup/exit_code.h"

#include "package/install_errors.h"

namespace {
// WSF_VISIBLE of USEROBJECTFLAGS.dwFlags.
const uint32_t kWsfVisible = 0x0001;

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

const char* ExitCodeMeaning(uint32_t code) {
  if (IsOwnInstallError(code)) return InstallErrorText(code);
  switch (code) {
    case kExitSuccess: return "success";
    case kExitRebootRequired: return "success, a restart is needed";
    case kExitRebootInitiated: return "success, the installer restarts the machine";
    case kExitInstallFailure: return "the installation failed";
    case kExitUserExit: return "the uninstall password was not given";
    case kExitAlreadyRunning: return "another setup or the customization updater runs";
    case kExitElevationRequired: return "administrative rights are needed";
    case kExitDiskFull: return "too little free space on the system disk";
    default: return "the installer's own exit code";
  }
}

bool WindowStationVisible(bool flagsRead, uint32_t flags) {
  return !flagsRead || (flags & kWsfVisible) != 0;
}
