#include "gate/gate_decision.h"

#include <windows.h>

#include <string.h>

#include "custom/custom_store.h"
#include "custom/verify_files.h"
#include "gate/cipher/pwd_cipher.h"
#include "util/fixed_str.h"
#include "util/log.h"
#include "util/registry.h"
#include "util/text_buf.h"
#include "xml/custom_xml_parse.h"

namespace {

const char kPrefix[] = "IsUninstallPrompt:";
const char kOlvanKey[] = "SOFTWARE\\Olvan";
const char kOldOlvanKey[] = "SOFTWARE\\Talvorn\\Olvan";
const char kNewProductKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3D9F7B60-2E48-41C5-B07A-"
    "95E1C4F8D26B}";
const char kOldProductKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A7C41D02-B95E-4E6A-8C13-"
    "6F0D2B9E4A31}";

enum PwdSource { kSrcRegistry = 0, kSrcCusXml, kSrcUninstallXml, kSrcCusIni, kSrcUninstallIni };

struct Gate {
  const char* logName;
  char reginfo[MAX_PATH];
  char backup[MAX_PATH];  // the backup folder, with its trailing backslash; may be empty
  TextBuf gathered;       // the messages of one verification block

  void Log(const char* msg) { ModuleLogF(logName, "%s%s", kPrefix, msg); }
  void Gather(const char* msg) { gathered.Append(msg); }
  void FlushGathered() {
    if (gathered.Length() != 0) Log(gathered.CStr());
    gathered.Clear();
  }
  // Copies a file of the store from the backup folder over the damaged one.
  bool Restore(const char* name) {
    if (backup[0] == '\0') return false;
    char from[MAX_PATH], to[MAX_PATH];
    return StrFormat(from, sizeof from, "%s%s", backup, name) && StrJoinPath(to, reginfo, name) &&
           CopyFileA(from, to, FALSE);
  }
};

// One source of the store: checked, repaired from the backup folder when damaged, and
// checked again.
struct RepairBlock {
  const char* failedMsg;
  const char* file;
  const char* vrf;
  const char* copyFileMsg;
  const char* copyVrfMsg;
  const char* againMsg;
};

int FirstCheckCusXml(Gate& g) { return utl_LoadCusXmlFile(g.logName); }
int FirstCheckUninstallXml(Gate& g) { return UninstallXmlVerify(g.reginfo); }
int FirstCheckCusIni(Gate& g) { return utl_LoadCusIniFile(g.logName); }
int FirstCheckUninstallIni(Gate& g) { return UninstallIniVerify(g.reginfo); }

int SecondCheckCusXml(Gate& g) { return CusXmlVerifyWithLogo(g.reginfo); }
int SecondCheckCusIni(Gate& g) { return CusIniVerify(g.reginfo); }

bool RunBlock(Gate& g, const RepairBlock& b, int (*first)(Gate&), int (*second)(Gate&)) {
  bool proven = first(g) != 0;
  if (!proven) {
    g.Gather(b.failedMsg);
    g.Gather(" ,So copy bak files!");
    if (!g.Restore(b.file)) {
      g.Gather(b.copyFileMsg);
    } else if (!g.Restore(b.vrf)) {
      g.Gather(b.copyVrfMsg);
    } else if (second(g)) {
      proven = true;
    } else {
      g.Gather(b.againMsg);
    }
  }
  g.FlushGathered();
  return proven;
}

PwdSource ChooseSource(Gate& g) {
  static const RepairBlock kCusXml = {"verifying OlvanCustom xml info FAILED with Err ",
                                      CUS_XML_FILE,
                                      CUS_XML_VRF_FILE,
                                      "CopyFile OlvanCustom.xml return false!",
                                      "CopyFile OlvanCustomxml.vrf return false!",
                                      "verifying OlvanCustom xml info FAILED again!"};
  static const RepairBlock kUninstallXml = {"verifying uninstall info FAILED with Err ",
                                            UNINSTALL_XML_FILE,
                                            UNINSTALL_XML_VRF_FILE,
                                            "CopyFile OlvanUninstallInfo.xml return false!",
                                            "CopyFile OlvanUninstallInfoxml.vrf return false!",
                                            "verifying Uninstall xml info FAILED again!"};
  static const RepairBlock kCusIni = {"verifying OlvanCustom ini info FAILED with Err ",
                                      CUS_INI_FILE,
                                      CUS_INI_VRF_FILE,
                                      "CopyFile OlvanCustom.ini return false!",
                                      "CopyFile OlvanCustom.vrf return false!",
                                      "verifying OlvanCustom ini info FAILED again!"};
  static const RepairBlock kUninstallIni = {"verifying uninstall ini info FAILED with Err ",
                                            UNINSTALL_INI_FILE,
                                            UNINSTALL_INI_VRF_FILE,
                                            "CopyFile OlvanUninstallInfo.ini return false!",
                                            "CopyFile OlvanUninstallInfo.vrf return false!",
                                            "verifying Uninstall ini info FAILED again!"};

  if (utl_GetCommonProgramFiles() == nullptr ||
      !StoreFolder(REGINFO_SUBFOLDER, g.reginfo, sizeof g.reginfo)) {
    g.Log(" utl_GetCommonProgramFiles failed!");
    return kSrcRegistry;
  }
  if (RunBlock(g, kCusXml, FirstCheckCusXml, SecondCheckCusXml)) return kSrcCusXml;
  if (RunBlock(g, kUninstallXml, FirstCheckUninstallXml, FirstCheckUninstallXml))
    return kSrcUninstallXml;
  if (RunBlock(g, kCusIni, FirstCheckCusIni, SecondCheckCusIni)) return kSrcCusIni;
  if (RunBlock(g, kUninstallIni, FirstCheckUninstallIni, FirstCheckUninstallIni))
    return kSrcUninstallIni;
  return kSrcRegistry;
}

// Copies at most 128 characters; the caller's zero fill ends the text.
void PutStoredPwd(char* storedPwd, const char* text) {
  size_t n = strlen(text);
  if (n > kStoredPwdTextSize) n = kStoredPwdTextSize;
  memcpy(storedPwd, text, n);
}

DWORD ReadFromCusXml(Gate& g, char* storedPwd) {
  char xml[MAX_PATH];
  if (!StrJoinPath(xml, g.reginfo, CUS_XML_FILE)) return 0;
  FunctionOptions f;
  CCustomXmlParse parser;
  parser.ReadFunctions(xml, f);
  if (f.uninstall == 1 && f.uninstallPassword.Length() != 0) {
    char work[kStoredPwdTextSize + 1];
    memset(work, 0, sizeof work);
    DesBase64Encrypt(work, kStoredPwdTextSize,
                     reinterpret_cast<const unsigned char*>(f.uninstallPassword.CStr()),
                     static_cast<unsigned>(f.uninstallPassword.Length()));
    PutStoredPwd(storedPwd, work);
    g.Log("Get UninstallPwd from lvanCustom.xml succ.");
  }
  // The decrypted password has served its purpose.
  f.uninstallPassword.Wipe();
  return f.uninstall;
}

DWORD ReadFromUninstallXml(Gate& g, char* storedPwd) {
  char xml[MAX_PATH];
  if (!StrJoinPath(xml, g.reginfo, UNINSTALL_XML_FILE)) return 0;
  UninstallInfo u;
  CCustomXmlParse parser;
  parser.ReadUninstallInfo(xml, u);
  if (u.uninstall == 1 && u.uninstallPass.Length() != 0) {
    PutStoredPwd(storedPwd, u.uninstallPass.CStr());
    g.Log("Get UninstallPwd from OlvanUninstallInfo.xml succ.");
  }
  return u.uninstall;
}

DWORD ReadFromIni(Gate& g, char* storedPwd, const char* name, const char* succ) {
  char ini[MAX_PATH];
  if (!StrJoinPath(ini, g.reginfo, name)) return 0;
  DWORD flag = GetPrivateProfileIntA("Functions", "Uninstall", 0, ini);
  if (GetPrivateProfileStringA("Functions", "Install", "", storedPwd, kStoredPwdTextSize, ini) != 0)
    g.Log(succ);
  return flag;
}

DWORD ReadFromRegistry(Gate& g, char* storedPwd) {
  DWORD flag = 0;
  const char* pwdKey = kOlvanKey;
  if (utl_ReadRegDword(HKEY_LOCAL_MACHINE, kOlvanKey, "Uninstall", &flag)) {
    g.Log("Get Uninstall from reg succ");
  } else {
    g.Log("Get Uninstall from reg failed");
    flag = 0;
    if (utl_ReadRegDword(HKEY_LOCAL_MACHINE, kOldOlvanKey, "Uninstall", &flag)) {
      pwdKey = kOldOlvanKey;
    } else {
      flag = 0;
      g.Log("Get Uninstall from old reg failed");
    }
  }
  if (utl_ReadRegString(HKEY_LOCAL_MACHINE, pwdKey, "UninstallPwd", storedPwd, kStoredPwdTextSize))
    g.Log("Get UninstallPwd from reg Succ.");
  else
    g.Log("Get UninstallPwd from reg fail,Return true.");
  return flag;
}

// Whether the protected client is really installed: its entry in the list of installed
// programs, current product first.
bool ClientInstalled(Gate& g) {
  char version[261];
  memset(version, 0, sizeof version);
  if (utl_ReadRegString(HKEY_LOCAL_MACHINE, kNewProductKey, "DisplayVersion", version, 260)) {
    ModuleLogF(g.logName, "%sGet Version from reg succ. %s", kPrefix, version);
    g.Log("Need prompt uninstall password Dlg");
    return true;
  }
  g.Log("Get Version from new reg failed, try old.");
  if (utl_ReadRegString(HKEY_LOCAL_MACHINE, kOldProductKey, "DisplayVersion", version, 260)) {
    g.Log("Get Version from old reg succ, return true.");
    return true;
  }
  g.Log("Get Version from old reg failed, return false.");
  return false;
}

}  // namespace

bool IsUninstallPrompt(const char* logName, char* storedPwd) {
  Gate g;
  g.logName = logName;
  g.reginfo[0] = '\0';
  g.backup[0] = '\0';
  if (storedPwd == nullptr) {
    g.Log("parameter err.");
    return false;
  }
  if (!GetBackupFolder(g.backup)) g.backup[0] = '\0';

  DWORD flag = 0;
  switch (ChooseSource(g)) {
    case kSrcCusXml: flag = ReadFromCusXml(g, storedPwd); break;
    case kSrcUninstallXml: flag = ReadFromUninstallXml(g, storedPwd); break;
    case kSrcCusIni:
      flag = ReadFromIni(g, storedPwd, CUS_INI_FILE, "Get UninstallPwd from OlvanCustom.ini succ.");
      break;
    case kSrcUninstallIni:
      flag = ReadFromIni(g, storedPwd, UNINSTALL_INI_FILE,
                         "Get UninstallPwd from OlvanUninstallInfo.ini succ.");
      break;
    case kSrcRegistry: flag = ReadFromRegistry(g, storedPwd); break;
  }

  if (flag == 0) {
    g.Log("!dwResult, return false.");
    return false;
  }
  return ClientInstalled(g);
}
