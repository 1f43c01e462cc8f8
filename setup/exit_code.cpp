#include "setup/exit_code.h"

#include "package/install_errors.h"
#include "util/win_values.h"

namespace {
bool IsOwnInstallError(uint32_t n) { return (n >= 150 && n <= 168) || (n >= 351 && n <= 358); }
}  // namespace

uint32_t SetupExitCode(RunEnd end, uint32_t installErr, uint32_t installerExit) {
  switch (end) {
    case RunEnd::kInstalled: return installerExit;
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
  static const uint16_t kCodes[] = {kExitSuccess,       kExitRebootRequired,    kExitRebootInitiated,
                                    kExitInstallFailure, kExitUserExit,         kExitAlreadyRunning,
                                    kExitElevationRequired, kExitDiskFull};
  static const char kMeanings[] =
      "success\0success, restart needed\0success, restart started\0install failed\0"
      "password not given\0another setup or the updater runs\0not an administrator\0"
      "too little disk space\0the installer's own code";
  if (IsOwnInstallError(code)) return InstallErrorText(code);
  return TextOfNumber(code, kCodes, sizeof kCodes / sizeof kCodes[0], kMeanings);
}

const char* RunEndMeaning(RunEnd end, uint32_t code) {
  // An installer's failure may carry one of the setup's own numbers (160, say): it is named
  // as the installer's, not read as the setup's.
  if (end == RunEnd::kInstalled && code != kExitSuccess && code != kExitRebootRequired &&
      code != kExitRebootInitiated)
    code = UINT32_MAX;  // no code of the setup's: the meanings' last text
  return ExitCodeMeaning(code);
}

bool WindowStationVisible(bool flagsRead, uint32_t flags) {
  return !flagsRead || (flags & win::kWsfVisible) != 0;
}

bool SessionCanAnswer(bool sessionRead, uint32_t sessionId) { return !sessionRead || sessionId != 0; }
