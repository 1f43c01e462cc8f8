#include "setup/setup_run.h"

#include "gate/gate_decision.h"
#include "package/cmd_runner.h"
#include "setup/app_state.h"
#include "setup/install_sequence.h"
#include "setup/messages.h"
#include "setup/preflight.h"
#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/log.h"

namespace {

// The customization updater of the installed client; the second name is the first cut to
// the 15 characters that some process lists keep.
const char kUpdaterExe[] = "Plexiworkanda.exe";
const char kUpdaterExeCut[] = "Plexiworkanda.e";

void LogFreeSpace(const char* drive, long long freeBytes) {
  long long mb = FreeBytesToMb(freeBytes == -1 ? 0 : freeBytes);
  SetupLogF("The %s free space is %dM.", drive, static_cast<int>(mb));
}

bool UpdaterRuns() {
  return chkProcExist("waitSetup", kUpdaterExe) == 0 ||
         chkProcExist("waitSetup", kUpdaterExeCut) == 0;
}

}  // namespace

int RunSetup(HINSTANCE instance) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, SETUP_INSTANCE_EVENT);
  if (event == nullptr) return 0;
  g_hInstanceEvent = event;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    ReleaseInstanceEvent();
    ShowSetupWarning(kMsgRunningCopy);
    return 0;
  }

  // After a refusal the end of the process releases the event.
  if (!IsCurUserAdmin()) {
    ShowSetupWarning(kMsgNoAdmin);
    return 0;
  }

  char drive[261];
  if (GetSystemDrive("setup", drive, sizeof drive))
    StrAppend(drive, ":");
  else
    StrCopy(drive, "C:");
  long long freeBytes = GetDiskFreeBytes(drive);
  LogFreeSpace(drive, freeBytes);
  if (!DiskSpaceAllows(freeBytes)) {
    ShowSetupWarning(kMsgDiskSpace);
    return 0;
  }

  if (UpdaterRuns()) {
    ShowSetupWarning(kMsgCustomUpdate);
    return 0;
  }

  if (IsUninstallPrompt("setup", g_szStoredPwd)) {
    // The password dialog arrives with the gate; without it nobody may upgrade a
    // protected client.
    ReleaseInstanceEvent();
    SetupLog("Exit main");
    return 0;
  }

  DWORD err = 0;
  if (!UnpackAndSetup(&err)) SetupLogF("install failed with Err %lu.", err);
  ReleaseInstanceEvent();
  SetupLog("Exit main");
  return 0;
}
