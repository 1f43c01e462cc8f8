// Where the installed client keeps its customization files, and the two loaders that prove
// them there.
#pragma once
#include <windows.h>

#define REGINFO_SUBFOLDER "Olvan\\Secure Client\\reginfo"
#define OLD_REGINFO_SUBFOLDER "Talvorn\\Secure Client\\reginfo"
#define OLD_MAKER_SUBFOLDER "Talvorn"

// The common program files folder (at most 260 characters), found once per process: the
// shell's folder for a 32-bit process (C:\Program Files (x86)\Common Files on a 64-bit
// system), else <system drive>:\Program Files\Common Files. Null when the system directory
// cannot be read either. No environment variable is read: the user sets those for an
// elevated process too.
const char* utl_GetCommonProgramFiles();

// The backup folder, <Windows folder>\system32\ with its trailing backslash (the 32-bit
// system folder as a 32-bit process sees it). False when it cannot be formed.
bool GetBackupFolder(char (&out)[MAX_PATH]);

// <common program files>\<sub>, in a buffer of 260 bytes; false when it cannot be formed.
bool StoreFolder(const char* sub, char* out, unsigned size);

// 1 when "OlvanCustom.ini" in the reginfo folder is proven, or when a proven set from the
// old reginfo folder has been copied in (the old maker folder is then removed); else 0.
// Creates the reginfo folder when it is missing. Logs under logName.
int utl_LoadCusIniFile(const char* logName);
// 1 when "OlvanCustom.xml" in the reginfo folder is proven, with the default icon
// fingerprint or with its own custom icon; else 0. Creates the reginfo folder when missing.
int utl_LoadCusXmlFile(const char* logName);
// 1 when "OlvanCustom.xml" in the folder reginfo is proven with the default icon
// fingerprint or, failing that, with the custom icon that its logo options name; else 0.
int CusXmlVerifyWithLogo(const char* reginfo);
