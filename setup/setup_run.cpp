#include "setup/setup_run.h"

#include "gate/gate_decision.h"
#include "gate/pwd_dialog.h"
#include "package/proc_check.h"
#include "setup/app_state.h"
#include "setup/exit_code.h"
#include "setup/install_sequence.h"
#include "setup/messages.h"
#include "setup/preflight.h"
#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/log.h"
#include "util/wipe.h"

namespace {

// The customization updater of the installed client; the second name is the first cut to
// the 15 characters that some process lists keep.
const char kUpdaterExe[] = "Plexiworkanda.exe";
const char kUpdaterExeCut[] = "Plexiworkanda.e";

void LogFreeSpace(const char* drive, long long freeBytes) {
  long long mb = FreeBytesToMb(freeBytes == -1 ? 0 : freeBytes);
  SetupLogF("The %s free space is %dM.", drive, static_cast<int>(mb));
}

// Shows the password dialog topmost in the middle of the desktop and runs the thread's
// message loop until the dialog ends. kInstalled stands for the right password typed. A
// dialog that cannot be made counts as a refusal: nobody may upgrade a protected client
// unasked.
RunEnd AskForPassword(HINSTANCE instance, const char* storedPwd) {
  PwdDialogParams params = {storedPwd, false};
  HWND dlg = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_CHKPWD_DLG), nullptr, ChkPwdDlgProc,
                                reinterpret_cast<LPARAM>(&params));
  if (dlg == nullptr) {
    SetupLogLastError("CreateDialogParam failed with err %lu.");
    return RunEnd::kNoPasswordDialog;
  }
  RECT desk, rc;
  GetWindowRect(GetDesktopWindow(), &desk);
  GetWindowRect(dlg, &rc);
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  SetWindowPos(dlg, HWND_TOPMOST, (desk.right - desk.left - w) / 2,
               (desk.bottom - desk.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_HIDEWINDOW);
  ShowWindow(dlg, SW_SHOW);
  UpdateWindow(dlg);

  MSG msg;
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) {
      SetupLog(" handle the error and possibly exit");
      continue;
    }
    if (!IsDialogMessageA(dlg, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  DestroyWindow(dlg);
  return g_bExit != FALSE ? RunEnd::kInstalled : RunEnd::kPasswordRefused;
}

bool UpdaterRuns() {
  return chkProcExist("waitSetup", kUpdaterExe) == 0 ||
         chkProcExist("waitSetup", kUpdaterExeCut) == 0;
}

// The exit code of a refusal before the install sequence.
int Refused(RunEnd end) { return static_cast<int>(SetupExitCode(end, 0, 0)); }

}  // namespace

int RunSetup(HINSTANCE instance) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, SETUP_INSTANCE_EVENT);
  if (event == nullptr) {
    // The name is taken by an object of another type (or one this process may not open):
    // no guard against a second copy can be had, so the setup stops as for a running one.
    ShowSetupWarning(kMsgRunningCopy);
    return Refused(RunEnd::kBusy);
  }
  g_hInstanceEvent = event;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    ReleaseInstanceEvent();
    ShowSetupWarning(kMsgRunningCopy);
    return Refused(RunEnd::kBusy);
  }

  // After a refusal the end of the process releases the event.
  if (!IsCurUserAdmin()) {
    ShowSetupWarning(kMsgNoAdmin);
    return Refused(RunEnd::kNotAdmin);
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
    return Refused(RunEnd::kDiskSpace);
  }

  if (UpdaterRuns()) {
    ShowSetupWarning(kMsgCustomUpdate);
    return Refused(RunEnd::kBusy);
  }

  if (IsUninstallPrompt("setup", g_szStoredPwd)) {
    // Where nobody can see the dialog, it would wait for ever: a protected client is then
    // not upgraded.
    RunEnd asked = RunEnd::kNoPasswordDialog;
    if (CanShowWindows())
      asked = AskForPassword(instance, g_szStoredPwd);
    else
      SetupLog("no user can answer the password dialog");
    // The stored password is not needed any more.
    WipeBytes(g_szStoredPwd, sizeof g_szStoredPwd);
    if (asked != RunEnd::kInstalled) {
      ReleaseInstanceEvent();
      SetupLog("Exit main");
      return Refused(asked);
    }
    SetupLog("Begin UnpackAndSetup");
  }

  DWORD err = 0;
  InstallerEnd installer;
  RunEnd end = RunEnd::kInstalled;
  if (!UnpackAndSetup(&err, &installer)) {
    SetupLogF("install failed with Err %lu.", err);
    end = RunEnd::kInstallFailed;
  } else if (!installer.started) {
    end = RunEnd::kInstallerNotStarted;
  }
  ReleaseInstanceEvent();
  SetupLog("Exit main");
  return static_cast<int>(SetupExitCode(end, err, installer.exitCode));
}
