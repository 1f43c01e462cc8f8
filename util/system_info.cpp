#include "util/system_info.h"

#include <string.h>

#include "util/fixed_str.h"
#include "util/win_values.h"

bool IsSystemLanguageChinesePrc() { return GetSystemDefaultLangID() == win::kLangChinesePrc; }

bool GetSystemFolder(char* out, unsigned size) {
  UINT n = GetSystemDirectoryA(out, size);
  return n != 0 && n < size;
}

bool GetWindowsFolder(char* out, unsigned size) {
  UINT n = GetSystemWindowsDirectoryA(out, size);
  return n != 0 && n < size;
}

char SystemDriveLetter() {
  char sys[MAX_PATH + 1];
  return GetSystemFolder(sys, sizeof sys) ? sys[0] : '\0';
}

UniqueSid CreateAdministratorsSid() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &sid))
    return UniqueSid();
  return UniqueSid(sid);
}

bool GetOwnFilePath(wchar_t (&out)[MAX_PATH]) {
  DWORD n = GetModuleFileNameW(nullptr, out, MAX_PATH);
  return n != 0 && n < MAX_PATH;
}

bool GetOwnFolder(wchar_t (&out)[MAX_PATH]) {
  if (!GetOwnFilePath(out)) return false;
  wchar_t* slash = wcsrchr(out, L'\\');
  if (slash != nullptr)
    *slash = L'\0';
  else
    out[0] = L'.', out[1] = L'\0';
  return true;
}
