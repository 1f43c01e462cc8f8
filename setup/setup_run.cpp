#include "setup/setup_run.h"

#include "gate/gate_decision.h"
#include "gate/pwd_dialog.h"
#include "package/digest_slot.h"
#include "package/install_errors.h"
#include "package/proc_check.h"
#include "setup/app_state.h"
#include "setup/exit_code.h"
#include "setup/install_sequence.h"
#include "setup/messages.h"
#include "setup/preflight.h"
#include "setup/refusal.h"
#include "setup/version_record.h"
#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/log.h"
#include "util/reason_text.h"
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

// The first line of a run: the version that the program's version resource holds (read
// without version.dll), the program's path, and whether a package digest is bound into it.
void LogStart() {
  char version[24] = "";
  HRSRC res = FindResourceA(nullptr, MAKEINTRESOURCEA(VS_VERSION_INFO),
                            MAKEINTRESOURCEA(16) /* RT_VERSION */);
  HGLOBAL data = res != nullptr ? LoadResource(nullptr, res) : nullptr;
  const void* record = data != nullptr ? LockResource(data) : nullptr;
  if (record != nullptr)
    VersionFromRecord(version, sizeof version, record, SizeofResource(nullptr, res));
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  char shown[6 * MAX_PATH];
  ReasonNameW(shown, sizeof shown, reinterpret_cast<const uint16_t*>(path), n < MAX_PATH ? n : 0);
  unsigned char digest[kSha256Len];
  SetupLogF("Setup: %s started from %s; the package is %s", version[0] ? version : "unknown",
            shown, ReadBoundDigest(digest) ? "bound" : "not bound");
}

// Shows the password dialog topmost in the middle of the desktop and runs the thread's
// message loop until the dialog ends. kInstalled stands for the right password typed. A
// dialog that cannot be made counts as a refusal: nobody may upgrade a protected client
// unasked.
RunEnd AskForPassword(HINSTANCE instance, const char* storedPwd) {
  PwdDialogParams params = {storedPwd, false, false};
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
  if (g_bExit != FALSE) return RunEnd::kInstalled;
  SetupLog(params.attemptsUsedUp ? "Setup: password dialog: third wrong password"
                                 : "Setup: password dialog cancelled or closed");
  return RunEnd::kPasswordRefused;
}

bool UpdaterRuns() {
  return chkProcExist("waitSetup", kUpdaterExe) == 0 ||
         chkProcExist("waitSetup", kUpdaterExeCut) == 0;
}

// The first refused check, if any, ends the run: the line that says so (in the setup log,
// or, for a second copy that nobody can see, in a log of its own), then the warning.
// *code receives the exit code. After a refusal the end of the process releases the event.
bool Refused(const PreflightResults& checks, int* code) {
  Refusal r = FirstRefusal(checks);
  if (r == Refusal::kNone) return false;
  SetupMessage m = RefusalMessage(r);
  *code = static_cast<int>(RefusalExitCode(r));
  char text[256];
  ReasonName(text, MessageTextEn(m));
  bool toSetupLog = RefusalGoesToSetupLog(r);
  if (toSetupLog) SetupLogF(SETUP_REFUSED_LINE, text, static_cast<unsigned>(*code));
  if (!ShowSetupWarning(m) && !toSetupLog) ModuleLog("Refused", text, 0);
  return true;
}

// The last lines of a run that reached the end of the checks.
int EndRun(RunEnd end, DWORD err, DWORD installerExit) {
  uint32_t code = SetupExitCode(end, err, installerExit);
  SetupLogF("Setup: ended with exit code %u (%s)", static_cast<unsigned>(code),
            RunEndMeaning(end, code));
  SetupLog("Exit main");
  return static_cast<int>(code);
}

}  // namespace

int RunSetup(HINSTANCE instance) {
  PreflightResults checks;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, SETUP_INSTANCE_EVENT);
  // A null event: the name is taken by an object of another type (or one this process may
  // not open); no guard against a second copy can be had, so the setup stops as for a
  // running one.
  checks.eventMade = event != nullptr;
  checks.eventExisted = event != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  g_hInstanceEvent = event;
  if (checks.eventExisted) ReleaseInstanceEvent();
  int code;
  if (Refused(checks, &code)) return code;
  LogStart();

  checks.admin = IsCurUserAdmin();
  if (Refused(checks, &code)) return code;

  char drive[261];
  if (GetSystemDrive("setup", drive, sizeof drive))
    StrAppend(drive, ":");
  else
    StrCopy(drive, "C:");
  checks.freeBytes = GetDiskFreeBytes(drive);
  LogFreeSpace(drive, checks.freeBytes);
  if (Refused(checks, &code)) return code;

  checks.updaterRuns = UpdaterRuns();
  if (Refused(checks, &code)) return code;

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
      return EndRun(asked, 0, 0);
    }
    SetupLog("Begin UnpackAndSetup");
  }

  DWORD err = 0;
  InstallerEnd installer;
  RunEnd end = RunEnd::kInstalled;
  if (!UnpackAndSetup(&err, &installer)) {
    SetupLogF("install failed with Err %lu.", err);
    SetupLogF("Setup: error %lu: %s", err, InstallErrorText(err));
    end = RunEnd::kInstallFailed;
  } else if (!installer.started) {
    end = RunEnd::kInstallerNotStarted;
  }
  ReleaseInstanceEvent();
  return EndRun(end, err, installer.exitCode);
}
