#include "setup/install_sequence.h"

#include <string.h>
#include <wchar.h>

#include "package/carrier_hold.h"
#include "package/cmd_runner.h"
#include "package/proc_check.h"
#include "package/file_size.h"
#include "package/install_errors.h"
#include "package/package_format.h"
#include "package/unpack.h"
#include "package/work_folder.h"
#include "setup/app_state.h"
#include "setup/installer_wait.h"
#include "setup/msi_route.h"
#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/folders.h"
#include "util/handles.h"
#include "util/links.h"
#include "util/log.h"
#include "util/registry.h"
#include "util/system_info.h"
#include "util/text_buf.h"
#include "util/wide_path.h"

namespace {

// The working folder, C:\tmp\OlvanSetup0 on a system on drive C; no trailing backslash.
char g_szWorkPath[MAX_PATH];

const char kOlvanKey[] = "SOFTWARE\\Olvan";
const char kAgentExe[] = "wexApxSvr.exe";
const char kExtractOk[] = "Everything is Ok";

// Waits, in milliseconds, and poll limits.
const DWORD kAfterUninstallMarkMs = 1000;
const DWORD kAfterAgentMs = 300;
const DWORD kAgentPollMs = 500;
const int kAgentPolls = 600;

// Path of a name in the working folder; false when it does not fit.
bool InWork(char (&dst)[MAX_PATH], const char* name) {
  return StrJoinPath(dst, g_szWorkPath, name);
}

bool InstallByMsi() {
  DWORD mode = 0;
  if (!utl_ReadRegDword(HKEY_LOCAL_MACHINE, kOlvanKey, "InstallByMsi", &mode)) return false;
  return mode != 0;
}

// A package that the program does not vouch for.
bool Refused(DWORD err) { return err == kUnpackErrDigest || err == kUnpackErrInSignature; }

// Whether the working folder is still the one the setup made; every program is started
// from it by path. When it is not, the line says before which step that was noticed.
bool WorkIntact(const char* step, const char* what = "") {
  if (utl_IsWorkFolderIntact(g_szWorkPath)) return true;
  SetupLogF("%s no longer leads to the folder the setup made; stopped before %s%s.", g_szWorkPath,
            step, what);
  return false;
}

// Extracts the archive named name of the working folder into the working folder with the
// package's own 7za.exe. True when 7-Zip ran and reported success. The working folder
// must have been found intact.
bool Extract(const char* name) {
  char cmd[4 * MAX_PATH];
  if (!StrFormat(cmd, sizeof cmd, "%s\\7za.exe x \"%s\\%s\" -o\"%s\" -y", g_szWorkPath,
                 g_szWorkPath, name, g_szWorkPath))
    return false;
  SetupLog(cmd);
  TextBuf output;
  int ran = GetCmd(cmd, &output, "Setup");
  if (ran) SetupLog(output.CStr());
  return ran && strstr(output.CStr(), kExtractOk) != nullptr;
}

// Logs the archive's path and extracts it when it is there. False when the working folder
// was swapped: 7-Zip is then not started.
bool ExtractIfPresent(const char* name) {
  char path[MAX_PATH];
  if (!InWork(path, name)) return true;
  SetupLog(path);
  if (!FileExists(path)) return true;
  if (!WorkIntact("extracting ", name)) return false;
  Extract(name);
  return true;
}

// Copies the customization files into the "Data" folders. False only when the working
// folder cannot be listed.
bool PlaceCustomization() {
  char data[MAX_PATH];
  if (!InWork(data, "Data")) return true;
  if (!DirectoryExists(data) && !CreateDirectoryA(data, nullptr)) return true;

  static const char* const kPlain[] = {"locations.xml", "conn_cfg.ini"};
  for (const char* name : kPlain) {
    char from[MAX_PATH], to[MAX_PATH];
    if (InWork(from, name) && FileExists(from) &&
        StrFormat(to, sizeof to, "%s\\DATA\\%s", g_szWorkPath, name))
      CopyFileA(from, to, FALSE);
  }

  char pattern[MAX_PATH];
  if (!StrFormat(pattern, sizeof pattern, "%s\\*", g_szWorkPath)) return false;
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA(pattern, &fd));
  if (!find.Valid()) return false;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (strstr(fd.cFileName, "cfg.xml") == nullptr) continue;
    // "<prefix>-<name>" goes to data\<prefix>\<name>; a name without "-" names no
    // folder and stays where it is.
    const char* dash = strchr(fd.cFileName, '-');
    if (dash == nullptr) continue;
    char prefix[MAX_PATH];
    size_t prefixLen = static_cast<size_t>(dash - fd.cFileName);
    memcpy(prefix, fd.cFileName, prefixLen);
    prefix[prefixLen] = '\0';
    char folder[MAX_PATH], from[MAX_PATH], to[MAX_PATH];
    if (!StrFormat(folder, sizeof folder, "%s\\data\\%s", g_szWorkPath, prefix)) continue;
    if (!DirectoryExists(folder)) CreateDirectoryA(folder, nullptr);
    if (InWork(from, fd.cFileName) && StrJoinPath(to, folder, dash + 1)) CopyFileA(from, to, FALSE);
  } while (FindNextFileA(find.Get(), &fd));
  return true;
}

// The managed configuration: a fresh UrlCmdCustomCfg folder for the archive's content, or
// none when the package brings no archive. False when the working folder was swapped.
bool PlaceManagedConfig() {
  char archive[MAX_PATH], folder[MAX_PATH];
  if (!InWork(archive, "UrlCmdCustomCfg.7z") || !InWork(folder, "UrlCmdCustomCfg")) return true;
  if (!FileExists(archive)) {
    utl_RemoveFolderTree(folder);
    return true;
  }
  if (IsLink(folder)) {
    // A link is replaced by a real folder; what it pointed to is not touched.
    RemoveDirectoryA(folder);
  }
  if (DirectoryExists(folder)) {
    DeleteMatchingFiles(folder, "*.*");
    utl_RemoveSubFolders(folder);
  } else {
    CreateDirectoryA(folder, nullptr);
  }
  if (!DirectoryExists(folder)) return true;
  SetupLog(archive);
  if (!FileExists(archive)) return true;
  if (!WorkIntact("extracting ", "UrlCmdCustomCfg.7z")) return false;
  if (!Extract("UrlCmdCustomCfg.7z")) SetupLog("unpack managecfg fail!");
  return true;
}

bool ProcessRuns(const char* logName, const char* exe) { return chkProcExist(logName, exe) == 0; }

// Starts the program at path (a full path) by that path, with option as its argument when
// given, in the setup's own current folder. The program is named as the application, never
// looked up in the file classes, which the user's own HKCU\Software\Classes may redirect
// for an elevated process too. No handle is inherited. Returns the process handle, or an
// invalid one when the start failed (logged with its path and error); the waits by name
// then find no process.
// False, with nothing started, when the working folder was swapped.
bool RunAgent(const char* path, const char* option, DWORD pauseMs, bool wait) {
  if (!WorkIntact("starting wexApxSvr.exe ", option)) return false;
  StartProgram(path, option, SW_HIDE);
  Sleep(pauseMs);
  if (!wait) return true;
  // Any agent counts, the one just started or one of the installed client.
  for (int polls = 0; ProcessRuns("waitCpd", kAgentExe) && polls < kAgentPolls; ++polls)
    Sleep(kAgentPollMs);
  return true;
}

// The executable route: the package appended to the program's own file.
bool UnpackOwnFile(DWORD* pdwErr) {
  wchar_t carrier[MAX_PATH];
  if (!GetOwnFilePath(carrier)) carrier[0] = L'\0';
  wchar_t folder[MAX_PATH] = L".";
  const wchar_t* file = carrier;
  if (wchar_t* slash = wcsrchr(carrier, L'\\')) {
    size_t len = static_cast<size_t>(slash - carrier);
    wmemcpy(folder, carrier, len);
    folder[len] = L'\0';
    file = slash + 1;
  }
  DWORD high = 0, low = 0;
  int sized;
  if (FileExistsW(carrier)) {
    sized = utl_GetFileSizeW(carrier, &high, &low);
  } else {
    char logged[4 * MAX_PATH];
    if (WideToAnsi(logged, sizeof logged, carrier)) SetupLog(logged);
    sized = utl_GetFileSizeW(file, &high, &low);
    folder[0] = L'.', folder[1] = L'\0';
  }
  if (!sized || high != 0 || low <= kExeCarrierOffset) {
    *pdwErr = kSeqErrCarrierSize;
    return false;
  }
  if (!WorkIntact("the unpack")) {
    *pdwErr = kSeqErrWorkFolderSwapped;
    return false;
  }
  if (utl_FileUnpackW(folder, file, g_szWorkPath, pdwErr, kExeCarrierOffset)) return true;
  // Nothing of a refused package stays.
  if (Refused(*pdwErr)) utl_EmptyWorkFolder();
  return false;
}

BOOL Sequence(DWORD* pdwErr, InstallerEnd* installer) {
  // A program that had the program's file open for writing when it was held may have let
  // it go.
  utl_HoldCarrierAgain();
  const bool msi = InstallByMsi();
  if (msi && !MsiPrepareCopy(pdwErr)) return FALSE;

  // 358 when a folder with content was swapped in as the working folder was made.
  DWORD workErr = kSeqErrWorkFolder;
  if (!utl_GetTempWorkPath(g_szWorkPath, sizeof g_szWorkPath, "OlvanSetup", FALSE, TRUE,
                           &workErr)) {
    SetupLog(utl_WorkFolderFailure());
    *pdwErr = workErr;
    return FALSE;
  }
  char vyx[MAX_PATH];
  if (InWork(vyx, "Vyx")) utl_ClearAndRemoveFolder(vyx);

  if (msi) {
    if (!MsiUnpack(g_szWorkPath, pdwErr, [](const char* step) { return WorkIntact(step); }))
      return FALSE;
  } else if (!UnpackOwnFile(pdwErr)) {
    return FALSE;
  }

  char qt[MAX_PATH];
  if (!InWork(qt, "Qt")) return FALSE;
  if (!DirectoryExists(qt) && !CreateDirectoryA(qt, nullptr)) return FALSE;
  if (!ExtractIfPresent("Qt.7z") || !ExtractIfPresent("tool.7z")) {
    *pdwErr = kSeqErrWorkFolderSwapped;
    return FALSE;
  }

  if (!PlaceCustomization()) {
    *pdwErr = kSeqErrListWorkFolder;
    return FALSE;
  }
  if (!PlaceManagedConfig()) {
    *pdwErr = kSeqErrWorkFolderSwapped;
    return FALSE;
  }

  char agent[MAX_PATH];
  if (!InWork(agent, kAgentExe) || !FileExists(agent)) {
    *pdwErr = kSeqErrNoAgent;
    return FALSE;
  }
  if (!RunAgent(agent, "-uninstallwmark", kAfterUninstallMarkMs, false) ||
      !RunAgent(agent, "-setUpdInfo", kAfterAgentMs, true) ||
      !RunAgent(agent, "-exitwexclient", kAfterAgentMs, true)) {
    *pdwErr = kSeqErrWorkFolderSwapped;
    return FALSE;
  }

  char installerPath[MAX_PATH];
  if (!InWork(installerPath, kInstallerExe) || !FileExists(installerPath)) {
    *pdwErr = kSeqErrNoInstaller;
    return FALSE;
  }
  if (!WorkIntact("starting ", kInstallerExe)) {
    *pdwErr = kSeqErrWorkFolderSwapped;
    return FALSE;
  }
  UniqueHandle process = StartProgram(installerPath, nullptr, SW_SHOW);
  installer->started = process.Valid();
  WaitForInstaller(process.Get(), installer);
  return TRUE;
}

}  // namespace

BOOL UnpackAndSetup(DWORD* pdwErr, InstallerEnd* installer) {
  DWORD ignored = 0;
  InstallerEnd unused;
  BOOL ok = Sequence(pdwErr != nullptr ? pdwErr : &ignored, installer != nullptr ? installer : &unused);
  utl_ReleaseWorkFolder();
  ReleaseInstanceEvent();
  return ok;
}
