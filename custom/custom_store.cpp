#include "custom/custom_store.h"

#include <windows.h>
#include <shlobj.h>

#include "custom/verify_files.h"
#include "util/file_basics.h"
#include "util/fixed_str.h"
#include "util/folders.h"
#include "util/handles.h"
#include "util/log.h"
#include "util/system_info.h"
#include "xml/custom_xml_parse.h"

namespace {

char g_szCommonProgramFiles[261];

const char kIniPrefix[] = "utl_LoadCusIniFile:";
const char kXmlPrefix[] = "utl_LoadCusXmlFile:";

// The files an older client kept in its maker's folder, moved in this order.
const char* const kMigratedFiles[] = {CUS_INI_FILE, CUS_INI_VRF_FILE, UNINSTALL_INI_FILE,
                                      UNINSTALL_INI_VRF_FILE};

typedef BOOL(WINAPI* MakeSureDirectoryPathExistsFn)(PCSTR);

// Creates every missing level of a folder path (which ends with a backslash). The debug-help
// library is loaded by its full System32 path, never from the program's own folder.
bool MakeSureDirectoryPathExists(const char* pathWithSlash) {
  char dll[MAX_PATH];
  if (!GetSystemFolder(dll, sizeof dll) || !StrAppend(dll, "\\dbghelp.dll")) return false;
  UniqueLibrary lib(LoadLibraryExA(dll, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!lib.Valid()) return false;
  MakeSureDirectoryPathExistsFn make = reinterpret_cast<MakeSureDirectoryPathExistsFn>(
      GetProcAddress(lib.Get(), "MakeSureDirectoryPathExists"));
  if (make == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  if (make(pathWithSlash)) return true;
  DWORD err = GetLastError();
  lib.Reset();
  SetLastError(err);
  return false;
}

// Finds or makes the reginfo folder; false (logged under prefix) when that fails.
bool EnsureReginfoFolder(const char* logName, const char* prefix, char (&reginfo)[MAX_PATH]) {
  if (utl_GetCommonProgramFiles() == nullptr) {
    ModuleLogF(logName, "%s utl_GetCommonProgramFiles failed!", prefix);
    return false;
  }
  if (!StoreFolder(REGINFO_SUBFOLDER, reginfo, sizeof reginfo)) return false;
  if (DirectoryExists(reginfo)) return true;
  char withSlash[MAX_PATH];
  if (!StrFormat(withSlash, sizeof withSlash, "%s\\", reginfo)) return false;
  if (!MakeSureDirectoryPathExists(withSlash)) {
    ModuleLogLastError(logName, "%sCreate directory \"reginfo\" failed with ErrNo: %lu.", prefix);
    return false;
  }
  return true;
}

}  // namespace

const char* utl_GetCommonProgramFiles() {
  if (g_szCommonProgramFiles[0] != '\0') return g_szCommonProgramFiles;
  // The buffer holds MAX_PATH characters, as the call requires.
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT,
                                 g_szCommonProgramFiles)) &&
      g_szCommonProgramFiles[0] != '\0')
    return g_szCommonProgramFiles;
  // The shell cannot tell: fall back to the system drive's usual place.
  g_szCommonProgramFiles[0] = '\0';
  char drive = SystemDriveLetter();
  if (drive == '\0') return nullptr;
  g_szCommonProgramFiles[0] = drive;
  g_szCommonProgramFiles[1] = '\0';
  StrAppend(g_szCommonProgramFiles, ":\\Program Files\\Common Files");
  return g_szCommonProgramFiles;
}

bool GetBackupFolder(char (&out)[MAX_PATH]) {
  char windows[MAX_PATH];
  return GetWindowsFolder(windows, sizeof windows) &&
         StrFormat(out, sizeof out, "%s\\system32\\", windows);
}

bool StoreFolder(const char* sub, char* out, unsigned size) {
  const char* common = utl_GetCommonProgramFiles();
  return common != nullptr && StrJoinPath(out, size, common, sub);
}

int utl_LoadCusIniFile(const char* logName) {
  char reginfo[MAX_PATH];
  if (!EnsureReginfoFolder(logName, kIniPrefix, reginfo)) return 0;
  if (CusIniVerify(reginfo)) return 1;

  ModuleLogF(logName, "%sCusIniVerify new failed,try for old.", kIniPrefix);
  char oldReginfo[MAX_PATH];
  if (!StoreFolder(OLD_REGINFO_SUBFOLDER, oldReginfo, sizeof oldReginfo) ||
      !CusIniVerify(oldReginfo)) {
    ModuleLogF(logName, "%sCusIniVerify old failed,return false.", kIniPrefix);
    return 0;
  }
  ModuleLogF(logName, "%sCusIniVerify old true,so copy files.", kIniPrefix);

  for (const char* name : kMigratedFiles) {
    char from[MAX_PATH], to[MAX_PATH];
    if (!StrJoinPath(from, oldReginfo, name) || !StrJoinPath(to, reginfo, name) ||
        !CopyFileA(from, to, FALSE)) {
      ModuleLogF(logName, "%sCopyFile %s return false!", kIniPrefix, name);
      return 0;
    }
  }
  char oldMaker[MAX_PATH];
  if (StoreFolder(OLD_MAKER_SUBFOLDER, oldMaker, sizeof oldMaker)) utl_RemoveFolderTree(oldMaker);
  return 1;
}

int utl_LoadCusXmlFile(const char* logName) {
  char reginfo[MAX_PATH];
  if (!EnsureReginfoFolder(logName, kXmlPrefix, reginfo)) return 0;
  return CusXmlVerifyWithLogo(reginfo);
}

int CusXmlVerifyWithLogo(const char* reginfo) {
  if (CusXmlVerify(reginfo, 0, "")) return 1;
  char xml[MAX_PATH];
  LogoOptions logo;
  if (StrJoinPath(xml, reginfo, CUS_XML_FILE)) {
    CCustomXmlParse parser;
    parser.ReadLogoOptions(xml, logo);
  }
  return CusXmlVerify(reginfo, 1, logo.CusIconName.CStr());
}
